// The pack driver: one call of CEffectPacker::PackFile converts one effect source file into its
// packed form beside it.
#include "EffectDocument.h"
#include "EffectFileLoader.h"
#include "EffectModule.h"
#include "EffectPacker.h"
#include "FileExtension.h"
#include "MessageLog.h"
#include "PackedEffectWriter.h"
#include "ProjectLocator.h"

#include <string>

#define ZQ_THIS_FILE "packer_plugin/PackDriver"

bool CEffectPacker::PackFile(const char* pszFileName, uint32_t, IPackerMessageSink* pSink)
{
    // Nothing may unwind into the host: a stage that throws (memory exhausted) fails the run, after
    // the run's objects have been destroyed in reverse order of creation.
    try
    {
        return RunPack(pszFileName, pSink);
    }
    catch (...)
    {
    }
    ReportError("Unable to pack '%s'", pszFileName ? pszFileName : "");
    return false;
}

// The run's objects are locals declared in order of creation, so every early return frees them in
// reverse order; on success the module is released explicitly before the document is destroyed.
bool CEffectPacker::RunPack(const char* pszFileName, IPackerMessageSink* pSink)
{
    const char* pszSource = pszFileName ? pszFileName : "";

    SetMessageSink(pSink);
    SetTaskName("Packing Fx");
    ReportProgress("Processing Fx '%s'", pszSource);

    CProjectInfo projectInfo;
    if (!LocateProject(pszFileName, projectInfo))
    {
        ReportError("Unable to locate project locator file for '%s'", pszSource);
        return false;
    }

    const char* pszModulePath = projectInfo.m_sSparkrig.c_str();
    ReportProgress("Loading Sparkrig module: %s", pszModulePath);

    CEffectModule module;
    if (!module.Load(pszModulePath))
    {
        ReportError("Unable to load in Sparkrig file '%s'", pszModulePath);
        return false;
    }

    CEffectCollection collection;
    ReportProgress("Loading Effect file: %s", pszSource);
    std::string sError;
    if (!LoadEffectFile(pszSource, collection, module, sError))
    {
        ReportError("Error loading Effect file '%s': %s", pszSource, sError.c_str());
        return false;
    }

    std::string sDestination = pszSource;
    SetExtension(sDestination, "Fx00p");
    if (!EnsureWritable(sDestination.c_str()))
    {
        ReportError("Unable to open file %s for writing", sDestination.c_str());
        return false;
    }

    ReportProgress("Packing Effect file: %s", sDestination.c_str());
    if (!WritePackedEffectFile(sDestination.c_str(), collection, module))
    {
        ReportError("Error packing file '%s' to destination file '%s'", pszSource, sDestination.c_str());
        return false;
    }

    module.Unload();
    return true;
}
