#include "projects.h"

#include "EffectModule.h"
#include "ProjectLocator.h"
#include "filecheck.h"
#include "printable.h"
#include "trustoption.h"

namespace
{
bool SameStamp(bool bHadA, const PlatformFileStamp& a, bool bHasB, const PlatformFileStamp& b)
{
    if (bHadA != bHasB)
        return false;
    return !bHadA || (a.nSize == b.nSize && a.nWriteTimeNs == b.nWriteTimeNs &&
                      a.nChangeTimeNs == b.nChangeTimeNs && a.nDevice == b.nDevice && a.nFileId == b.nFileId);
}
} // namespace

CProjects::CProjects() = default;
CProjects::~CProjects() = default;

ProjectModule CProjects::Find(const std::string& sPath)
{
    ProjectModule result;
    CProjectInfo info;
    CLocatorTrace trace;
    if (!LocateProject(sPath.c_str(), info, &trace))
    {
        if (!trace.sRefusedFile.empty())
        {
            result.eState = ProjectModule::State::Refused;
            result.sLocator = trace.sRefusedFile;
            result.sWhy = "the project locator file '" + Printable(trace.sRefusedFile) +
                          "' is not used: " + Printable(trace.sRefusal) + "; " +
                          Printable(TrustHint(trace.sRefusedFile));
        }
        return result;
    }
    result.sLocator = trace.sLocatorFile;
    result.sModulePath = info.m_sSparkrig;

    PlatformFileStamp locatorStamp{};
    const bool bLocatorStamp = PlatformGetFileStamp(result.sLocator.c_str(), &locatorStamp);
    auto it = m_loaded.find(result.sModulePath);
    if (it != m_loaded.end())
    {
        // Loaded before: still the same files on disk?
        Loaded& loaded = it->second;
        PlatformFileStamp libraryStamp{};
        bool bLibraryStamp = false;
        if (loaded.pModule)
        {
            const std::string sLibrary = loaded.pModule->GetLibraryPath();
            bLibraryStamp = !sLibrary.empty() && PlatformGetFileStamp(sLibrary.c_str(), &libraryStamp);
        }
        // A module that failed to load is tried again: it may have been built since.
        const bool bSame =
            loaded.pModule &&
            SameStamp(loaded.bLocatorStamp, loaded.locatorStamp, bLocatorStamp, locatorStamp) &&
            SameStamp(loaded.bLibraryStamp, loaded.libraryStamp, bLibraryStamp, libraryStamp);
        if (!bSame)
        {
            m_loaded.erase(it);
            it = m_loaded.end();
        }
    }
    if (it == m_loaded.end())
    {
        Loaded loaded;
        loaded.pCache.reset(new CModuleCache());
        loaded.pModule = loaded.pCache->Get(result.sModulePath, loaded.sWhy, true);
        loaded.locatorStamp = locatorStamp;
        loaded.bLocatorStamp = bLocatorStamp;
        if (loaded.pModule)
        {
            const std::string sLibrary = loaded.pModule->GetLibraryPath();
            loaded.bLibraryStamp =
                !sLibrary.empty() && PlatformGetFileStamp(sLibrary.c_str(), &loaded.libraryStamp);
        }
        it = m_loaded.emplace(result.sModulePath, std::move(loaded)).first;
    }
    result.pModule = it->second.pModule;
    result.pCache = it->second.pCache.get();
    if (!result.pModule)
        result.sWhy = "the effect module '" + Printable(result.sModulePath) + "' named by '" +
                      Printable(result.sLocator) + "' " + it->second.sWhy;
    result.eState = result.pModule ? ProjectModule::State::Ready : ProjectModule::State::LoadFailed;
    return result;
}
