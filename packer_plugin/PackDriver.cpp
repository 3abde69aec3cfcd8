// The pack driver: one call of CEffectPacker::PackFile converts one effect source file into its
// packed form beside it.
#include "EffectDocument.h"
#include "EffectFileLoader.h"
#include "EffectModule.h"
#include "EffectPacker.h"
#include "FileExtension.h"
#include "FileTrust.h"
#include "MessageLog.h"
#include "ModuleCache.h"
#include "PackedEffectWriter.h"
#include "ProjectLocator.h"
#include "zqplatform.h"

#include <string>

#define ZQ_THIS_FILE "packer_plugin/PackDriver"

namespace
{
// The host's extension sink, when PackFile's second argument offers one; null otherwise.
IPackerHostSink* HostExtension(uint32_t nArg, IPackerMessageSink* pSink)
{
    if (!pSink || PackerHostExtensionVersion(nArg) < 1)
        return nullptr;
    return static_cast<IPackerHostSink*>(pSink);
}

// Tells a host of extension version 2 or later why a file the pack needed was not used.
void ReportUnused(IPackerHostSink* pHost, uint32_t nVersion, uint32_t nWhy, uint32_t nKind,
                  const std::string& sPath, const std::string& sNamedBy, const std::string& sResolved,
                  const std::string& sReason)
{
    if (!pHost || nVersion < 2)
        return;
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    static_cast<IPackerHostSink2*>(pHost)->ReportUnusedInput(nWhy, nKind, sPath.c_str(), orNull(sNamedBy),
                                                             sResolved == sPath ? nullptr : orNull(sResolved),
                                                             sReason.c_str());
}

std::string DestinationOf(const char* pszSource)
{
    std::string sDestination = pszSource;
    SetExtension(sDestination, "Fx00p");
    return sDestination;
}
} // namespace

bool CEffectPacker::PackFile(const char* pszFileName, uint32_t nArg, IPackerMessageSink* pSink)
{
    IPackerHostSink* pHost = HostExtension(nArg, pSink);
    if (pHost && pHost->IsPlanOnly())
    {
        // Only where the file would go: no stage runs and the stored sink stays as it was.
        try
        {
            pHost->ReportOutput(DestinationOf(pszFileName ? pszFileName : "").c_str());
            return true;
        }
        catch (...)
        {
            return false;
        }
    }
    // Nothing may unwind into the host: a stage that throws (memory exhausted) fails the run, after
    // the run's objects have been destroyed in reverse order of creation.
    try
    {
        return RunPack(pszFileName, pSink, pHost, pHost ? PackerHostExtensionVersion(nArg) : 0);
    }
    catch (...)
    {
    }
    ReportError("Unable to pack '%s'", pszFileName ? pszFileName : "");
    return false;
}

// The run's objects are locals declared in order of creation, so every early return frees them in
// reverse order; on success the module is released explicitly before the document is destroyed.
bool CEffectPacker::RunPack(const char* pszFileName, IPackerMessageSink* pSink, IPackerHostSink* pHost,
                            uint32_t nHostVersion)
{
    const char* pszSource = pszFileName ? pszFileName : "";

    SetMessageSink(pSink);
    SetTaskName("Packing Fx");
    ReportProgress("Processing Fx '%s'", pszSource);

    CProjectInfo projectInfo;
    CLocatorTrace trace;
    if (!LocateProject(pszFileName, projectInfo, &trace))
    {
        ReportError("Unable to locate project locator file for '%s'", pszSource);
        if (!trace.sRefusedFile.empty())
            ReportUnused(pHost, nHostVersion, PACKER_UNUSED_UNTRUSTED, PACKER_INPUT_CONFIG,
                         trace.sRefusedFile, std::string(), std::string(), trace.sRefusal);
        return false;
    }
    if (pHost)
    {
        // A locator file that appears nearer the source would govern it instead.
        for (const std::string& sDirectory : trace.emptyDirectories)
            pHost->ReportInput(PACKER_INPUT_ABSENT, (sDirectory + PLATFORM_PATH_SEP + "*.proj00").c_str());
        pHost->ReportInput(PACKER_INPUT_CONFIG, trace.sLocatorFile.c_str());
    }

    const char* pszModulePath = projectInfo.m_sSparkrig.c_str();
    ReportProgress("Loading Sparkrig module: %s", pszModulePath);

    // A module that fails the trust rule is never loaded: its code would run at once.
    CEffectModule module;
    std::string sLibraryFile, sRefusal;
    const bool bTrusted = IsLibraryTrusted(pszModulePath, sLibraryFile, sRefusal);
    if (!bTrusted || !module.Load(pszModulePath))
    {
        ReportError("Unable to load in Sparkrig file '%s'", pszModulePath);
        ReportUnused(pHost, nHostVersion, bTrusted ? PACKER_UNUSED_UNLOADABLE : PACKER_UNUSED_UNTRUSTED,
                     PACKER_INPUT_LIBRARY, projectInfo.m_sSparkrig, trace.sLocatorFile, sLibraryFile,
                     bTrusted ? module.GetLoadError() : sRefusal);
        return false;
    }
    if (pHost)
    {
        // A host with the extension packs many files per process (its workers): keeping the module
        // mapped spares a library load per file. Hosts without it see each run load it afresh.
        KeepModuleLoaded(pszModulePath);
        const std::string sLibrary = module.GetLibraryPath();
        pHost->ReportInput(PACKER_INPUT_LIBRARY, sLibrary.empty() ? pszModulePath : sLibrary.c_str());
        pHost->ReportInput(PACKER_INPUT_SOURCE, pszSource);
    }

    CEffectCollection collection;
    ReportProgress("Loading Effect file: %s", pszSource);
    std::string sError;
    if (!LoadEffectFile(pszSource, collection, module, sError))
    {
        ReportError("Error loading Effect file '%s': %s", pszSource, sError.c_str());
        return false;
    }

    const std::string sDestination = DestinationOf(pszSource);
    if (!EnsureWritable(sDestination.c_str()))
    {
        ReportError("Unable to open file %s for writing", sDestination.c_str());
        return false;
    }

    ReportProgress("Packing Effect file: %s", sDestination.c_str());
    if (pHost)
        pHost->ReportOutput(sDestination.c_str());
    if (!WritePackedEffectFile(sDestination.c_str(), collection, module))
    {
        ReportError("Error packing file '%s' to destination file '%s'", pszSource, sDestination.c_str());
        return false;
    }

    module.Unload();
    return true;
}
