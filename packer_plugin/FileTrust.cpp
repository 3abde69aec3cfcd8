#include "FileTrust.h"

#include "IPacker.h"
#include "zqplatform.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr size_t kLongPath = 4096;

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The folder that holds a path: "." for a bare name, the root for a file in it.
std::string FolderOf(const std::string& sPath)
{
    const size_t nCut = sPath.find_last_of("\\/");
    if (nCut == std::string::npos)
        return ".";
    return nCut == 0 ? sPath.substr(0, 1) : sPath.substr(0, nCut);
}

std::string RealPath(const std::string& sPath)
{
    char szReal[kLongPath];
    return PlatformRealPath(sPath.c_str(), szReal, sizeof(szReal)) ? std::string(szReal) : std::string();
}

// Whether sPath is sFolder or lies below it; both are real paths.
bool IsWithin(const std::string& sPath, const std::string& sFolder)
{
    if (sFolder.empty() || sPath.compare(0, sFolder.size(), sFolder) != 0)
        return false;
    return sPath.size() == sFolder.size() || IsSeparator(sFolder.back()) ||
           IsSeparator(sPath[sFolder.size()]);
}

// Whether a folder named in PACKER_TRUSTED_DIRS_VARIABLE holds the file (any of its names).
bool InTrustedFolder(const std::vector<std::string>& names)
{
    const char* pszList = std::getenv(PACKER_TRUSTED_DIRS_VARIABLE);
    if (!pszList)
        return false;
    const std::string sList = pszList;
    size_t nStart = 0;
    while (nStart <= sList.size())
    {
        size_t nEnd = sList.find(PLATFORM_PATH_LIST_SEP, nStart);
        if (nEnd == std::string::npos)
            nEnd = sList.size();
        const std::string sEntry = sList.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (sEntry == "*")
            return true;
        const std::string sFolder = sEntry.empty() ? std::string() : RealPath(sEntry);
        for (const std::string& sName : names)
            if (IsWithin(sName, sFolder))
                return true;
    }
    return false;
}

std::string OwnerText(const PlatformOwnership& owner)
{
    const std::string sId = "uid " + std::to_string(owner.nOwnerId);
    return owner.szOwnerName[0] ? "user " + std::string(owner.szOwnerName) + " (" + sId + ")" : sId;
}

// The rule itself, without the trusted folders.
bool PassesRule(const std::string& sPath, const std::vector<std::string>& names, std::string& sWhy)
{
    PlatformOwnership file;
    if (!PlatformGetOwnership(sPath.c_str(), &file) || !file.bKnown)
        return true;
    if (!file.bOwnedByUser && !file.bOwnedBySystem)
    {
        sWhy = "it is owned by " + OwnerText(file) + ", not by you";
        return false;
    }
    // The folder as named and the folder of the file the links lead to: another user who can
    // replace an entry in either can replace what is read.
    std::string sChecked;
    for (const std::string& sName : names)
    {
        const std::string sFolder = FolderOf(sName);
        if (sFolder == sChecked)
            continue;
        sChecked = sFolder;
        PlatformOwnership folder;
        if (PlatformGetOwnership(sFolder.c_str(), &folder) && folder.bKnown && folder.bWritableByAll &&
            !folder.bSticky)
        {
            sWhy = "its folder " + sFolder + " can be written by every user";
            return false;
        }
    }
    return true;
}
} // namespace

bool IsFileTrusted(const char* pszPath, std::string& sWhy)
{
    sWhy.clear();
    if (!pszPath || !*pszPath)
        return true;
    const std::string sPath = pszPath;
    std::vector<std::string> names = {sPath};
    const std::string sReal = RealPath(sPath);
    if (!sReal.empty() && sReal != sPath)
        names.push_back(sReal);
    if (PassesRule(sPath, names, sWhy) || InTrustedFolder(names))
    {
        sWhy.clear();
        return true;
    }
    return false;
}

bool IsLibraryTrusted(const char* pszName, std::string& sFile, std::string& sWhy)
{
    char szFile[kLongPath];
    sFile = PlatformLibraryFileName(pszName, szFile, sizeof(szFile)) ? szFile : (pszName ? pszName : "");
    return IsFileTrusted(sFile.c_str(), sWhy);
}
