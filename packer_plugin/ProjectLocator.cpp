#include "ProjectLocator.h"

#include "zqplatform.h"
#include "zqstrutils.h"

#include <cstring>

#define ZQ_THIS_FILE "packer_plugin/ProjectLocator"

namespace
{
constexpr size_t kPathSize = PLATFORM_MAX_PATH;
constexpr char kSeparator[2] = {PLATFORM_PATH_SEP, '\0'};
const char* const kProjectDirPlaceholder = "%PROJDIR%";

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

    for (const ProjectKey& key : kProjectKeys)
    {
        char szValue[kPathSize];
        PlatformGetProfileString(key.pszSection, key.pszKey, "", szValue, sizeof(szValue), pszPath);
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

    char szAbsolute[kPathSize];
    if (IsAbsolutePath(pszSourceFile))
    {
        ZQStrCpy(szAbsolute, pszSourceFile, sizeof(szAbsolute));
    }
    else
    {
        char szCombined[kPathSize];
        if (!PlatformGetCurrentDirectory(szCombined, sizeof(szCombined)))
            return false;
        if (!EndsInSeparator(szCombined))
            ZQStrCat(szCombined, kSeparator, sizeof(szCombined));
        ZQStrCat(szCombined, pszSourceFile, sizeof(szCombined));
        Canonicalize(szAbsolute, szCombined);
    }

    // The first cut drops the file name, so the search starts in the file's own directory.
    char szDirectory[kPathSize];
    ZQStrCpy(szDirectory, szAbsolute, sizeof(szDirectory));
    for (;;)
    {
        CutAtLastSeparator(szDirectory);
        if (szDirectory[0] == '\0')
            return false;
        char szProjectFile[kPathSize];
        if (FindProjectFile(szDirectory, szProjectFile, sizeof(szProjectFile)))
        {
            if (pTrace)
                pTrace->sLocatorFile = szProjectFile;
            return info.Load(szProjectFile);
        }
        if (pTrace)
            pTrace->emptyDirectories.push_back(szDirectory);
    }
}

bool FindProjectFile(const char* pszDirectory, char* pszOut, size_t nOutSize)
{
    char szPattern[kPathSize];
    ZQStrCpy(szPattern, pszDirectory, sizeof(szPattern));
    ZQStrCat(szPattern, kSeparator, sizeof(szPattern));
    ZQStrCat(szPattern, "*.proj00", sizeof(szPattern));

    char szName[kPathSize];
    if (!PlatformFindFirstFile(szPattern, szName, sizeof(szName)))
        return false;

    ZQStrCpy(pszOut, pszDirectory, nOutSize);
    ZQStrCat(pszOut, kSeparator, nOutSize);
    ZQStrCat(pszOut, szName, nOutSize);
    return true;
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
