#include "ProjectLocator.h"

#include "FileTrust.h"
#include "zqplatform.h"
#include "zqstrutils.h"

#include <cstring>
#include <string>

#define ZQ_THIS_FILE "packer_plugin/ProjectLocator"

namespace
{
constexpr size_t kPathSize = PLATFORM_MAX_PATH;
constexpr char kSeparator[2] = {PLATFORM_PATH_SEP, '\0'};
const char* const kProjectDirPlaceholder = "%PROJDIR%";
const char* const kLocatorPattern = "*.proj00";

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool EndsInSeparator(const char* psz)
{
    const size_t nLen = std::strlen(psz);
    return nLen > 0 && IsSeparator(psz[nLen - 1]);
}

// Rooted ("\x", "/x") or holding a drive or device colon before the first separator ("D:\x", "D:").
bool IsAbsolutePath(const char* pszPath)
{
    if (IsSeparator(pszPath[0]))
        return true;
    for (const char* p = pszPath; *p && !IsSeparator(*p); ++p)
    {
        if (*p == ':')
            return true;
    }
    return false;
}

// Cuts the path at its last separator; a path without one becomes empty.
void CutAtLastSeparator(char* pszPath)
{
    char* pCut = pszPath;
    for (char* p = pszPath; *p; ++p)
    {
        if (IsSeparator(*p))
            pCut = p;
    }
    *pCut = '\0';
}

void CutAtLastSeparator(std::string& sPath)
{
    size_t nCut = 0;
    for (size_t i = 0; i < sPath.size(); ++i)
    {
        if (IsSeparator(sPath[i]))
            nCut = i;
    }
    sPath.resize(nCut);
}

enum class ESearch
{
    FOUND,
    NONE,
    TOO_LONG, // the pattern or the locator's path does not fit the path buffers
};

// Looks for the first "*.proj00" file in pszDirectory. A cut pattern is never searched: it could
// match another entry than a locator file.
ESearch SearchDirectory(const char* pszDirectory, char* pszOut, size_t nOutSize)
{
    const size_t nDirectory = std::strlen(pszDirectory);
    if (nDirectory + 1 + std::strlen(kLocatorPattern) >= kPathSize)
        return ESearch::TOO_LONG;
    char szPattern[kPathSize];
    ZQStrCpy(szPattern, pszDirectory, sizeof(szPattern));
    ZQStrCat(szPattern, kSeparator, sizeof(szPattern));
    ZQStrCat(szPattern, kLocatorPattern, sizeof(szPattern));

    char szName[kPathSize];
    if (!PlatformFindFirstFile(szPattern, szName, sizeof(szName)))
        return ESearch::NONE;
    if (nDirectory + 1 + std::strlen(szName) >= nOutSize)
        return ESearch::TOO_LONG;
    ZQStrCpy(pszOut, pszDirectory, nOutSize);
    ZQStrCat(pszOut, kSeparator, nOutSize);
    ZQStrCat(pszOut, szName, nOutSize);
    return ESearch::FOUND;
}

void ReportPathTooLong()
{
    ZQ_FORCED_ASSERT("LocateProject", "Error: Path too long to search for the project locator file");
}

// Canonicalizes pszPath into pszOut (kPathSize bytes); a path that does not canonicalize within
// the limit is kept as it is.
void Canonicalize(char* pszOut, const char* pszPath)
{
    if (!PlatformPathCanonicalize(pszOut, pszPath))
        ZQStrCpy(pszOut, pszPath, kPathSize);
}

struct ProjectKey
{
    const char* pszSection;
    const char* pszKey;
    std::string CProjectInfo::*pField;
    enum
    {
        AS_READ,
        RESOLVED,
        RESOLVED_DIRECTORY,
    } eStore;
};

// Read in this order.
const ProjectKey kProjectKeys[] = {
    {"General", "Game", &CProjectInfo::m_sGame, ProjectKey::AS_READ},
    {"Project Directories", "ResourceRoot", &CProjectInfo::m_sResourceRoot, ProjectKey::RESOLVED_DIRECTORY},
    {"Project Directories", "ToolsRoot", &CProjectInfo::m_sToolsRoot, ProjectKey::RESOLVED_DIRECTORY},
    {"Project Directories", "PC", &CProjectInfo::m_sPCDir, ProjectKey::RESOLVED_DIRECTORY},
    {"Project Directories", "Xenon", &CProjectInfo::m_sXenonDir, ProjectKey::RESOLVED_DIRECTORY},
    {"Project Binaries", "Sparkrig", &CProjectInfo::m_sSparkrig, ProjectKey::RESOLVED},
    {"Project Binaries", "GameServer", &CProjectInfo::m_sGameServer, ProjectKey::RESOLVED},
    {"Project Binaries", "GameDatabase", &CProjectInfo::m_sGameDatabase, ProjectKey::RESOLVED},
    {"Tools Launch", "PCBinary", &CProjectInfo::m_sPCBinary, ProjectKey::RESOLVED},
    {"Tools Launch", "PCWorking", &CProjectInfo::m_sPCWorking, ProjectKey::RESOLVED},
    {"Tools Launch", "XenonBinary", &CProjectInfo::m_sXenonBinary, ProjectKey::RESOLVED},
    {"Tools Launch", "XenonWorking", &CProjectInfo::m_sXenonWorking, ProjectKey::RESOLVED},
    {"Source Control", "Provider", &CProjectInfo::m_sSourceControlProvider, ProjectKey::AS_READ},
    {"Source Control", "Database", &CProjectInfo::m_sSourceControlDatabase, ProjectKey::AS_READ},
};
} // namespace

bool CProjectInfo::Load(const char* pszPath)
{
    char szDirectory[kPathSize];
    ZQStrCpy(szDirectory, pszPath, sizeof(szDirectory));
    CutAtLastSeparator(szDirectory);
    if (szDirectory[0] == '\0' || !EndsInSeparator(szDirectory))
        ZQStrCat(szDirectory, kSeparator, sizeof(szDirectory));
    m_sProjectDir = szDirectory;

    // Every key from one reading of the file.
    constexpr size_t nKeys = sizeof(kProjectKeys) / sizeof(kProjectKeys[0]);
    char aszValues[nKeys][kPathSize];
    PlatformProfileQuery aQueries[nKeys];
    for (size_t i = 0; i < nKeys; ++i)
        aQueries[i] = {kProjectKeys[i].pszSection, kProjectKeys[i].pszKey, "", aszValues[i],
                       static_cast<uint32_t>(kPathSize)};
    PlatformGetProfileStrings(aQueries, nKeys, pszPath);

    for (size_t i = 0; i < nKeys; ++i)
    {
        const ProjectKey& key = kProjectKeys[i];
        const char* szValue = aszValues[i];
        std::string& sField = this->*key.pField;
        if (key.eStore == ProjectKey::AS_READ)
            sField = szValue;
        else
            ResolveProjectPath(m_sProjectDir.c_str(), szValue, key.eStore == ProjectKey::RESOLVED_DIRECTORY,
                               sField);
    }

    const size_t nPlaceholder = m_sSourceControlDatabase.find(kProjectDirPlaceholder);
    if (nPlaceholder != std::string::npos)
        m_sSourceControlDatabase.replace(nPlaceholder, std::strlen(kProjectDirPlaceholder), m_sProjectDir);
    return true;
}

bool LocateProject(const char* pszSourceFile, CProjectInfo& info, CLocatorTrace* pTrace)
{
    if (!pszSourceFile)
        return false;

    // Absolute names are taken whole, so that cutting off a folder always gives a real folder.
    std::string sDirectory;
    if (IsAbsolutePath(pszSourceFile))
    {
        sDirectory = pszSourceFile;
    }
    else
    {
        char szCombined[kPathSize];
        if (!PlatformGetCurrentDirectory(szCombined, sizeof(szCombined)))
            return false;
        if (!EndsInSeparator(szCombined))
            ZQStrCat(szCombined, kSeparator, sizeof(szCombined));
        if (std::strlen(szCombined) + std::strlen(pszSourceFile) >= kPathSize)
        {
            ReportPathTooLong();
            return false;
        }
        ZQStrCat(szCombined, pszSourceFile, sizeof(szCombined));
        char szAbsolute[kPathSize];
        Canonicalize(szAbsolute, szCombined);
        sDirectory = szAbsolute;
    }

    // The first cut drops the file name, so the search starts in the file's own directory.
    for (;;)
    {
        CutAtLastSeparator(sDirectory);
        if (sDirectory.empty())
            return false;
        char szProjectFile[kPathSize];
        switch (SearchDirectory(sDirectory.c_str(), szProjectFile, sizeof(szProjectFile)))
        {
        case ESearch::FOUND:
        {
            std::string sWhy;
            if (!IsFileTrusted(szProjectFile, sWhy))
            {
                if (pTrace)
                {
                    pTrace->sRefusedFile = szProjectFile;
                    pTrace->sRefusal = sWhy;
                }
                return false;
            }
            if (pTrace)
                pTrace->sLocatorFile = szProjectFile;
            return info.Load(szProjectFile);
        }
        case ESearch::TOO_LONG:
            // This directory may hold the locator that governs the file: a locator further up
            // would be the wrong one.
            ReportPathTooLong();
            return false;
        case ESearch::NONE:
            if (pTrace)
                pTrace->emptyDirectories.push_back(sDirectory);
            break;
        }
    }
}

bool FindProjectFile(const char* pszDirectory, char* pszOut, size_t nOutSize)
{
    return pszDirectory && SearchDirectory(pszDirectory, pszOut, nOutSize) == ESearch::FOUND;
}

void ResolveProjectPath(const char* pszBase, const char* pszPath, bool bTrailingSeparator, std::string& sOut)
{
    if (!pszPath)
        pszPath = "";
    if (IsAbsolutePath(pszPath))
    {
        sOut = pszPath;
    }
    else
    {
        char szCombined[kPathSize];
        ZQStrCpy(szCombined, pszBase, sizeof(szCombined));
        if (szCombined[0] == '\0' || !EndsInSeparator(szCombined))
            ZQStrCat(szCombined, kSeparator, sizeof(szCombined));
        ZQStrCat(szCombined, pszPath, sizeof(szCombined));
        char szCanonical[kPathSize];
        Canonicalize(szCanonical, szCombined);
        sOut = szCanonical;
    }

    if (bTrailingSeparator && (sOut.empty() || !IsSeparator(sOut.back())))
        sOut += PLATFORM_PATH_SEP;
}
