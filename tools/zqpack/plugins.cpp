#include "zqpack.h"

#include "zqfiles.h"
#include "zqplatform.h"
#include "zqprocess.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

#ifndef EMBERVISE_PLUGIN_FOLDER
#define EMBERVISE_PLUGIN_FOLDER "../lib/embervise"
#endif

namespace zqpack
{
CPluginSet::~CPluginSet()
{
    while (!m_plugins.empty())
    {
        PlatformFreeLibrary(m_plugins.back().hLibrary);
        m_plugins.pop_back();
    }
}

bool CPluginSet::Add(const std::string& sPath, bool bReportFailure)
{
    // Its digest before it is loaded: a change from then on is seen when a pack is recorded.
    const long long nLoadedAfter = PlatformFileClockNs();
    const FileDigest digest = DigestFile(sPath);
    PlatformLibrary hLibrary = PlatformLoadLibrary(sPath.c_str());
    if (!hLibrary)
    {
        if (bReportFailure)
            PrintError(sPath + ": cannot load the plug-in");
        return false;
    }
    void* pSymbol = PlatformGetProcAddress(hLibrary, PACKER_ASSOCIATE_EXPORT);
    if (!pSymbol)
    {
        PlatformFreeLibrary(hLibrary);
        if (bReportFailure)
            PrintError(sPath + ": not a packer plug-in (no " PACKER_ASSOCIATE_EXPORT " export)");
        return false;
    }
    Plugin plugin;
    plugin.sPath = sPath;
    plugin.hLibrary = hLibrary;
    plugin.pfnAssociate = reinterpret_cast<PFN_AssociatePacker>(pSymbol);
    plugin.digest = digest;
    plugin.nLoadedAfterNs = nLoadedAfter;
    m_plugins.push_back(plugin);
    return true;
}

bool CPluginSet::LoadNamed(const std::vector<std::string>& paths)
{
    for (const std::string& sPath : paths)
    {
        if (!Add(sPath, true))
            return false;
    }
    return true;
}

bool CPluginSet::Discover(const std::string& sDirectory)
{
    // A build keeps the plug-ins beside the programs; an installed tree keeps them in the library
    // folder beside bin (EMBERVISE_PLUGIN_FOLDER, relative to the program's folder).
    const std::string sInstalled =
        (fs::path(sDirectory) / EMBERVISE_PLUGIN_FOLDER).lexically_normal().string();
    for (const std::string& sFolder : {sDirectory, sInstalled})
    {
        std::vector<std::string> names;
        PlatformListFolder(
            sFolder.c_str(),
            [](void* pContext, const char* pszName, PlatformEntryKind eKind)
            {
                if ((eKind == ENTRY_FILE || eKind == ENTRY_LINK) && PlatformIsLibraryFileName(pszName))
                    static_cast<std::vector<std::string>*>(pContext)->push_back(pszName);
            },
            &names);
        std::vector<std::string> candidates;
        PlatformFileStamp stamp;
        for (const std::string& sName : names)
        {
            // A link counts when it leads to a regular file.
            const std::string sPath = (fs::path(sFolder) / sName).string();
            if (PlatformGetFileStamp(sPath.c_str(), &stamp))
                candidates.push_back(sPath);
        }
        std::sort(candidates.begin(), candidates.end());
        for (const std::string& sPath : candidates)
            Add(sPath, false);
        if (!m_plugins.empty())
            return true;
    }
    PrintError("no packer plug-in found in " + sDirectory + " or " + sInstalled);
    return false;
}

IPacker* CPluginSet::Associate(const std::string& sFile, size_t* pnPlugin) const
{
    for (size_t i = 0; i < m_plugins.size(); ++i)
    {
        if (IPacker* pPacker = m_plugins[i].pfnAssociate(sFile.c_str()))
        {
            if (pnPlugin)
                *pnPlugin = i;
            return pPacker;
        }
    }
    return nullptr;
}

std::string PackerName(IPacker* pPacker)
{
    char szName[256] = {};
    if (!pPacker->GetName(szName, sizeof(szName)))
        return std::string();
    szName[sizeof(szName) - 1] = '\0';
    return szName;
}
} // namespace zqpack
