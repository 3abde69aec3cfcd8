// POSIX implementation of the platform layer: behaves as the Windows functions named in zqplatform.h
// do for the inputs the engine gives them.
#include "zqplatform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <link.h>
#endif

namespace
{
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char FoldLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char FoldUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(const std::string& s1, const std::string& s2)
{
    return s1.size() == s2.size() && std::equal(s1.begin(), s1.end(), s2.begin(),
                                                [](char a, char b) { return FoldLower(a) == FoldLower(b); });
}

std::string Trim(const char* pBegin, const char* pEnd)
{
    while (pBegin < pEnd && IsBlank(*pBegin))
        ++pBegin;
    while (pEnd > pBegin && IsBlank(pEnd[-1]))
        --pEnd;
    return std::string(pBegin, pEnd);
}

std::string Trim(const std::string& s)
{
    return Trim(s.data(), s.data() + s.size());
}

// The engine writes either separator; the file system knows only '/'.
std::string ToPosixPath(const char* pszPath)
{
    std::string sPath(pszPath);
    std::replace(sPath.begin(), sPath.end(), '\\', '/');
    return sPath;
}

// Copies at most nSize - 1 characters and terminates; answers the characters copied.
uint32_t CopyCut(char* pszOut, uint32_t nSize, const std::string& sValue)
{
    const size_t nCopy = std::min<size_t>(sValue.size(), nSize - 1);
    std::memcpy(pszOut, sValue.data(), nCopy);
    pszOut[nCopy] = '\0';
    return static_cast<uint32_t>(nCopy);
}

//----------------------------------------------------------------------------------------------------------
// Libraries

// LoadLibraryA's naming: ".dll" (any case) stands for the shared library suffix, a name without an
// extension gets it, and a trailing '.' means "no extension".
std::string MapLibraryName(const char* pszName)
{
    std::string sName = ToPosixPath(pszName);
    const size_t nSlash = sName.rfind('/');
    const size_t nStart = nSlash == std::string::npos ? 0 : nSlash + 1;
    const size_t nDot = sName.rfind('.');
    if (nDot == std::string::npos || nDot < nStart)
        return sName + ".so";
    if (nDot == sName.size() - 1)
        return sName.substr(0, nDot);
    if (EqualsIgnoringCase(sName.substr(nDot), ".dll"))
        return sName.substr(0, nDot) + ".so";
    return sName;
}

// The folder (with a trailing '/') of the module that holds this code: the program or the shared
// library that links the platform layer. Empty when it cannot be told.
std::string ThisModuleFolder()
{
    std::string sPath;
#if defined(__GLIBC__)
    Dl_info info;
    link_map* pMap = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&ThisModuleFolder), &info, reinterpret_cast<void**>(&pMap),
                RTLD_DL_LINKMAP) &&
        pMap && pMap->l_name && pMap->l_name[0])
        sPath = pMap->l_name;
    else
    {
        // The main program has no name in the link map.
        char szExe[4096];
        const ssize_t nLen = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
        if (nLen > 0)
            sPath.assign(szExe, static_cast<size_t>(nLen));
    }
#else
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ThisModuleFolder), &info) && info.dli_fname)
        sPath = info.dli_fname;
#endif
    const size_t nSlash = sPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : sPath.substr(0, nSlash + 1);
}

// The names to try, in order: beside this module first for a bare name, then as given.
std::vector<std::string> LibraryCandidates(const char* pszName)
{
    std::vector<std::string> candidates;
    const std::string sMapped = MapLibraryName(pszName);
    if (sMapped.find('/') == std::string::npos)
    {
        const std::string sFolder = ThisModuleFolder();
        if (!sFolder.empty())
            candidates.push_back(sFolder + sMapped);
    }
    candidates.push_back(sMapped);
    return candidates;
}

//----------------------------------------------------------------------------------------------------------
// Profile files

bool ReadWholeFile(const std::string& sPath, std::string& sText)
{
    FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile)
        return false;
    char buffer[4096];
    size_t nRead;
    while ((nRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        sText.append(buffer, nRead);
    const bool bOk = !std::ferror(pFile);
    std::fclose(pFile);
    return bOk;
}

// The text of a profile file. Like the Windows profile API, which keeps the file it read last, the
// last file read is kept (module-wide) and read again only when its identity, size or times
// changed: a pack reads fourteen keys of one locator file, and a worker packs many files of one
// project. Checked on every call, so an edited file is always seen; a file changed in the last two
// seconds is never trusted (an edit within one tick of the file system's clock keeps its times).
bool ReadProfileText(const std::string& sPath, std::string& sText)
{
    struct Cached
    {
        std::string sPath;
        struct stat info;
        std::string sText;
        bool bSettled = false;
    };
    static std::mutex s_mutex;
    static Cached s_cached;

    struct stat info;
    if (stat(sPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return ReadWholeFile(sPath, sText);
    std::lock_guard<std::mutex> lock(s_mutex);
    const struct stat& old = s_cached.info;
    if (s_cached.bSettled && s_cached.sPath == sPath && old.st_dev == info.st_dev &&
        old.st_ino == info.st_ino && old.st_size == info.st_size &&
        old.st_mtim.tv_sec == info.st_mtim.tv_sec && old.st_mtim.tv_nsec == info.st_mtim.tv_nsec &&
        old.st_ctim.tv_sec == info.st_ctim.tv_sec && old.st_ctim.tv_nsec == info.st_ctim.tv_nsec)
    {
        sText = s_cached.sText;
        return true;
    }
    if (!ReadWholeFile(sPath, sText))
        return false;
    s_cached.sPath = sPath;
    s_cached.info = info;
    s_cached.sText = sText;
    s_cached.bSettled = std::time(nullptr) - std::max(info.st_mtim.tv_sec, info.st_ctim.tv_sec) > 2;
    return true;
}

// The value of the first matching key in the first matching section, as written (trimmed).
bool FindProfileValue(const std::string& sText, const std::string& sSection, const std::string& sKey,
                      std::string& sValue)
{
    size_t nPos = 0;
    if (sText.compare(0, 3, "\xEF\xBB\xBF") == 0)
        nPos = 3;
    // Lines before the first section header belong to the section without a name.
    bool bInSection = sSection.empty();
    bool bSectionSeen = bInSection;
    while (nPos < sText.size())
    {
        size_t nEnd = sText.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = sText.size();
        const std::string sLine = Trim(sText.data() + nPos, sText.data() + nEnd);
        nPos = nEnd + 1;
        if (sLine.empty() || sLine[0] == ';')
            continue;
        if (sLine[0] == '[')
        {
            const size_t nClose = sLine.rfind(']');
            if (nClose != std::string::npos)
            {
                // Only the first section of a name counts.
                if (bSectionSeen)
                    return false;
                bInSection = EqualsIgnoringCase(Trim(sLine.substr(1, nClose - 1)), sSection);
                bSectionSeen = bInSection;
                continue;
            }
        }
        if (!bInSection)
            continue;
        const size_t nEquals = sLine.find('=');
        if (nEquals == std::string::npos)
            continue;
        if (EqualsIgnoringCase(Trim(sLine.substr(0, nEquals)), sKey))
        {
            sValue = Trim(sLine.substr(nEquals + 1));
            return true;
        }
    }
    return false;
}

//----------------------------------------------------------------------------------------------------------
// Canonicalization

// PathIsUNCServerShareA: "\\\\server\\share" with nothing after the share.
bool IsUncServerShare(const char* pszPath)
{
    if (pszPath[0] != '\\' || pszPath[1] != '\\')
        return false;
    bool bSeenSeparator = false;
    for (const char* p = pszPath + 2; *p; ++p)
    {
        if (*p != '\\')
            continue;
        if (bSeenSeparator)
            return false;
        bSeenSeparator = true;
    }
    return bSeenSeparator;
}

//----------------------------------------------------------------------------------------------------------
// Pattern search

bool MatchesPattern(const char* pszPattern, const char* pszName)
{
    // Greedy '*' with one backtrack point: linear in practice, never exponential.
    const char* pStar = nullptr;
    const char* pStarName = nullptr;
    while (*pszName)
    {
        if (*pszPattern == '*')
        {
            pStar = pszPattern++;
            pStarName = pszName;
        }
        else if (*pszPattern == '?' || (*pszPattern && FoldLower(*pszPattern) == FoldLower(*pszName)))
        {
            ++pszPattern;
            ++pszName;
        }
        else if (pStar)
        {
            pszPattern = pStar + 1;
            pszName = ++pStarName;
        }
        else
            return false;
    }
    while (*pszPattern == '*')
        ++pszPattern;
    return *pszPattern == '\0';
}

// Windows drops the dots and spaces that end the last component of a path, the pattern's too
// ("*.txt." is "*.txt"); a pattern of dots alone stays.
std::string WindowsFilePattern(std::string sPattern)
{
    const size_t nLast = sPattern.find_last_not_of(". ");
    if (nLast != std::string::npos && sPattern.find_first_not_of('.') != std::string::npos)
        sPattern.erase(nLast + 1);
    return sPattern;
}

// A pattern ending in ".*" also matches a name without an extension ("readme.*" finds "readme").
bool MatchesFilePattern(const std::string& sPattern, const char* pszName)
{
    if (MatchesPattern(sPattern.c_str(), pszName))
        return true;
    const size_t nSize = sPattern.size();
    return nSize >= 2 && sPattern.compare(nSize - 2, 2, ".*") == 0 && std::strchr(pszName, '.') == nullptr &&
           MatchesPattern(sPattern.substr(0, nSize - 2).c_str(), pszName);
}

// The order of an NTFS directory listing: names compared after folding to upper case.
bool ListsBefore(const std::string& s1, const std::string& s2)
{
    const size_t nCommon = std::min(s1.size(), s2.size());
    for (size_t i = 0; i < nCommon; ++i)
    {
        const unsigned char c1 = static_cast<unsigned char>(FoldUpper(s1[i]));
        const unsigned char c2 = static_cast<unsigned char>(FoldUpper(s2[i]));
        if (c1 != c2)
            return c1 < c2;
    }
    if (s1.size() != s2.size())
        return s1.size() < s2.size();
    return s1 < s2;
}

// A folder entry, or a link to one.
bool IsFolder(const std::string& sFolder, const dirent& entry)
{
#if defined(_DIRENT_HAVE_D_TYPE)
    if (entry.d_type == DT_DIR)
        return true;
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK)
        return false;
#endif
    struct stat st;
    return stat((sFolder + "/" + entry.d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

//----------------------------------------------------------------------------------------------------------
// Temporary names

bool IsWritableFolder(const std::string& sPath)
{
    struct stat st;
    return !sPath.empty() && stat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(sPath.c_str(), W_OK | X_OK) == 0;
}

uint64_t MixBits(uint64_t n)
{
    n += 0x9E3779B97F4A7C15ull;
    n = (n ^ (n >> 30)) * 0xBF58476D1CE4E5B9ull;
    n = (n ^ (n >> 27)) * 0x94D049BB133111EBull;
    return n ^ (n >> 31);
}
} // namespace

//----------------------------------------------------------------------------------------------------------

PlatformLibrary PlatformLoadLibrary(const char* pszName)
{
    return PlatformLoadLibraryWithReason(pszName, nullptr, 0);
}

PlatformLibrary PlatformLoadLibraryWithReason(const char* pszName, char* pszReason, size_t nReasonSize)
{
    const bool bReason = pszReason && nReasonSize > 0;
    if (bReason)
        pszReason[0] = '\0';
    if (!pszName || !*pszName)
    {
        if (bReason)
            CopyCut(pszReason, static_cast<uint32_t>(std::min<size_t>(nReasonSize, UINT32_MAX)),
                    "no library named");
        return nullptr;
    }
    // The reason told is that of the first candidate that exists, else of the last one tried.
    std::string sReason;
    bool bReasonOfExisting = false;
    for (const std::string& sCandidate : LibraryCandidates(pszName))
    {
        if (void* hLibrary = dlopen(sCandidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            return hLibrary;
        const char* pszError = dlerror();
        if (!bReasonOfExisting)
        {
            sReason = pszError ? pszError : "unknown error";
            bReasonOfExisting = access(sCandidate.c_str(), F_OK) == 0;
        }
    }
    if (bReason)
        CopyCut(pszReason, static_cast<uint32_t>(std::min<size_t>(nReasonSize, UINT32_MAX)), sReason);
    return nullptr;
}

bool PlatformLibraryFileName(const char* pszName, char* pszOut, size_t nSize)
{
    if (!pszName || !pszOut || nSize == 0)
        return false;
    const std::string sFile = MapLibraryName(pszName);
    if (sFile.size() >= nSize)
        return false;
    std::memcpy(pszOut, sFile.c_str(), sFile.size() + 1);
    return true;
}

bool PlatformIsLibraryFileName(const char* pszName)
{
    const size_t nLength = pszName ? std::strlen(pszName) : 0;
    return nLength > 3 && std::strcmp(pszName + nLength - 3, ".so") == 0;
}

void* PlatformGetProcAddress(PlatformLibrary hLibrary, const char* pszSymbol)
{
    if (!hLibrary || !pszSymbol)
        return nullptr;
    return dlsym(hLibrary, pszSymbol);
}

void PlatformFreeLibrary(PlatformLibrary hLibrary)
{
    if (hLibrary)
        dlclose(hLibrary);
}

bool PlatformIsLibraryLoaded(const char* pszName)
{
    if (!pszName || !*pszName)
        return false;
    for (const std::string& sCandidate : LibraryCandidates(pszName))
    {
        // RTLD_NOLOAD only looks; the reference it takes is given back at once.
        if (void* hLibrary = dlopen(sCandidate.c_str(), RTLD_NOW | RTLD_NOLOAD))
        {
            dlclose(hLibrary);
            return true;
        }
    }
    return false;
}

namespace
{
// A profile value from the file's text (bRead false: the file could not be read).
uint32_t ProfileValue(const char* pszSection, const char* pszKey, const char* pszDefault, char* pszOut,
                      uint32_t nSize, bool bRead, const std::string& sText)
{
    if (!pszOut || nSize == 0)
        return 0;
    std::string sValue;
    if (pszSection && pszKey && bRead &&
        FindProfileValue(sText, Trim(std::string(pszSection)), Trim(std::string(pszKey)), sValue))
    {
        // One pair of matching quotes goes; what they enclose stays as written. As on Windows, the
        // value after the opening quote is cut to the buffer first, and the last character copied
        // is dropped only when the buffer holds at least as many characters as that value.
        if (sValue.size() >= 2 && (sValue[0] == '"' || sValue[0] == '\'') && sValue.back() == sValue[0])
        {
            const std::string sRest = sValue.substr(1);
            std::string sCopy = sRest.substr(0, nSize - 1);
            if (nSize >= sRest.size() && !sCopy.empty())
                sCopy.pop_back();
            return CopyCut(pszOut, nSize, sCopy);
        }
        return CopyCut(pszOut, nSize, sValue);
    }
    // Trailing blanks of the default are dropped.
    std::string sDefault = pszDefault ? pszDefault : "";
    while (!sDefault.empty() && sDefault.back() == ' ')
        sDefault.pop_back();
    return CopyCut(pszOut, nSize, sDefault);
}
} // namespace

uint32_t PlatformGetProfileString(const char* pszSection, const char* pszKey, const char* pszDefault,
                                  char* pszOut, uint32_t nSize, const char* pszFile)
{
    if (!pszOut || nSize == 0)
        return 0;
    std::string sText;
    const bool bRead = pszSection && pszKey && pszFile && ReadProfileText(ToPosixPath(pszFile), sText);
    return ProfileValue(pszSection, pszKey, pszDefault, pszOut, nSize, bRead, sText);
}

void PlatformGetProfileStrings(const PlatformProfileQuery* aQueries, size_t nCount, const char* pszFile)
{
    std::string sText;
    const bool bRead = pszFile && nCount > 0 && ReadProfileText(ToPosixPath(pszFile), sText);
    for (size_t i = 0; i < nCount; ++i)
    {
        const PlatformProfileQuery& query = aQueries[i];
        ProfileValue(query.pszSection, query.pszKey, query.pszDefault, query.pszOut, query.nSize, bRead,
                     sText);
    }
}

bool PlatformPathCanonicalize(char* pszOut, const char* pszPath)
{
    if (!pszOut)
        return false;
    pszOut[0] = '\0';
    if (!pszPath || std::strlen(pszPath) >= PLATFORM_MAX_PATH)
        return false;

    // Windows works character by character on backslashes: so does this.
    char szPath[PLATFORM_MAX_PATH];
    std::strcpy(szPath, pszPath);
    std::replace(szPath, szPath + std::strlen(szPath), '/', '\\');
    // The result is never longer than the path, apart from the root added to "" or "c:".
    char szOut[PLATFORM_MAX_PATH + 4];
    const char* pSrc = szPath;
    char* pDst = szOut;

    if (*pSrc == '\0')
        *pDst++ = '\\';
    // The root: one backslash, or a drive with its backslash.
    if (*pSrc == '\\')
    {
        *pDst++ = *pSrc++;
    }
    else if (*pSrc && pSrc[1] == ':')
    {
        *pDst++ = *pSrc++;
        *pDst++ = *pSrc++;
        if (*pSrc == '\\')
            *pDst++ = *pSrc++;
    }

    while (*pSrc)
    {
        if (*pSrc != '.')
        {
            *pDst++ = *pSrc++;
        }
        else if (pSrc[1] == '\\' && (pSrc == szPath || pSrc[-1] == '\\' || pSrc[-1] == ':'))
        {
            pSrc += 2; // ".\" goes
        }
        else if (pSrc[1] == '.' && pDst != szOut && pDst[-1] == '\\')
        {
            // ".." after a separator backs up one folder. It climbs over a drive's root only when
            // a ':' lies deeper in the path, and never removes the server of a network path.
            *pDst = '\0';
            if (pDst > szOut + 1 && (pDst[-2] != '\\' || pDst > szOut + 2))
            {
                if (pDst[-2] == ':' && (pDst > szOut + 3 || (pDst > szOut + 2 && pDst[-3] == ':')))
                {
                    pDst -= 2;
                    while (pDst > szOut && *pDst != '\\')
                        --pDst;
                    if (*pDst == '\\')
                        ++pDst;
                    else
                        pDst = szOut;
                }
                else if (pDst[-2] != ':' && !IsUncServerShare(szOut))
                {
                    pDst -= 2;
                }
            }
            while (pDst > szOut && *pDst != '\\')
                --pDst;
            if (pDst == szOut)
            {
                // Backed up to the start: the path goes on from a new root, and the character after
                // ".." goes with it (Windows reads past the end there; this stops at the end).
                *pDst++ = '\\';
                if (pSrc[2] != '\0')
                    ++pSrc;
            }
            pSrc += 2;
        }
        else
        {
            *pDst++ = *pSrc++;
        }
    }
    // A bare drive names its root.
    if (pDst - szOut == 2 && pDst[-1] == ':')
        *pDst++ = '\\';
    *pDst = '\0';

    const size_t nLength = static_cast<size_t>(pDst - szOut);
    if (nLength >= PLATFORM_MAX_PATH)
        return false;
    for (size_t i = 0; i <= nLength; ++i)
        pszOut[i] = szOut[i] == '\\' ? PLATFORM_PATH_SEP : szOut[i];
    return true;
}

bool PlatformFindFirstFile(const char* pszPattern, char* pszName, size_t nNameSize)
{
    if (!pszName || nNameSize == 0)
        return false;
    pszName[0] = '\0';
    if (!pszPattern)
        return false;

    const std::string sPattern = ToPosixPath(pszPattern);
    const size_t nSlash = sPattern.rfind('/');
    std::string sFolder = ".";
    if (nSlash != std::string::npos)
        sFolder = nSlash == 0 ? "/" : sPattern.substr(0, nSlash);
    const std::string sFilePattern =
        WindowsFilePattern(nSlash == std::string::npos ? sPattern : sPattern.substr(nSlash + 1));

    DIR* pDir = opendir(sFolder.c_str());
    if (!pDir)
        return false;
    std::string sBest;
    bool bFound = false;
    while (const dirent* pEntry = readdir(pDir))
    {
        if (MatchesFilePattern(sFilePattern, pEntry->d_name) &&
            (!bFound || ListsBefore(pEntry->d_name, sBest)) && !IsFolder(sFolder, *pEntry))
        {
            sBest = pEntry->d_name;
            bFound = true;
        }
    }
    closedir(pDir);
    if (!bFound || sBest.size() >= nNameSize)
        return false;
    std::memcpy(pszName, sBest.c_str(), sBest.size() + 1);
    return true;
}

bool PlatformGetCurrentDirectory(char* pszOut, size_t nSize)
{
    if (!pszOut || nSize == 0)
        return false;
    return getcwd(pszOut, nSize) != nullptr;
}

bool PlatformTempName(const char* pszDirectory, const char* pszPrefix, char* pszOut, size_t nSize)
{
    if (!pszOut || nSize == 0)
        return false;
    pszOut[0] = '\0';

    std::string sFolder = pszDirectory ? ToPosixPath(pszDirectory) : std::string();
    if (!IsWritableFolder(sFolder))
    {
        const char* pszTmp = std::getenv("TMPDIR");
        sFolder = pszTmp ? pszTmp : "";
        if (!IsWritableFolder(sFolder))
            sFolder = "/tmp";
    }
    if (sFolder.back() != '/')
        sFolder += '/';
    sFolder += pszPrefix ? pszPrefix : "";

    // Process, call count and clock make the name unique; it is checked against the folder too.
    static std::atomic<uint32_t> s_nCalls{0};
    for (int nTry = 0; nTry < 100; ++nTry)
    {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const uint64_t nNoise =
            MixBits((static_cast<uint64_t>(now.tv_sec) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
                    (static_cast<uint64_t>(s_nCalls.fetch_add(1)) << 40));
        char szTail[64];
        std::snprintf(szTail, sizeof(szTail), "%ld_%08x", static_cast<long>(getpid()),
                      static_cast<unsigned>(nNoise & 0xFFFFFFFFu));
        const std::string sName = sFolder + szTail;
        struct stat st;
        if (lstat(sName.c_str(), &st) == 0 || errno != ENOENT)
            continue;
        if (sName.size() >= nSize)
            return false;
        std::memcpy(pszOut, sName.c_str(), sName.size() + 1);
        return true;
    }
    return false;
}

bool PlatformReplaceFile(const char* pszFrom, const char* pszTo)
{
    if (!pszFrom || !pszTo)
        return false;
    // Both names come from the file system's own spelling (a file written, a name given to the
    // program), where a backslash is an ordinary character: they are taken as they are.
    return std::rename(pszFrom, pszTo) == 0;
}

int PlatformStrICmp(const char* pszStr1, const char* pszStr2)
{
    for (;; ++pszStr1, ++pszStr2)
    {
        const int c1 = static_cast<unsigned char>(FoldLower(*pszStr1));
        const int c2 = static_cast<unsigned char>(FoldLower(*pszStr2));
        if (c1 != c2 || c1 == 0)
            return c1 - c2;
    }
}

int PlatformVSNPrintF(char* pszOut, size_t nSize, const char* pszFormat, va_list args)
{
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int nCount = std::vsnprintf(pszOut, nSize, pszFormat, args);
    int nResult = nCount < 0 ? -1 : nCount;
    if (nCount >= 0 && static_cast<size_t>(nCount) >= nSize)
    {
        // _vsnprintf fills the whole buffer, without a terminator, when the output does not fit;
        // vsnprintf gave the last byte to the terminator, so format the first nSize characters again.
        char szLocal[1024];
        char* pszFirst = nSize < sizeof(szLocal) ? szLocal : static_cast<char*>(std::malloc(nSize + 1));
        if (nSize > 0 && pszFirst)
        {
            std::vsnprintf(pszFirst, nSize + 1, pszFormat, argsCopy);
            std::memcpy(pszOut, pszFirst, nSize);
        }
        if (pszFirst != szLocal)
            std::free(pszFirst);
        nResult = static_cast<size_t>(nCount) == nSize ? nCount : -1;
    }
    va_end(argsCopy);
    return nResult;
}

void PlatformDebugBreak()
{
    std::raise(SIGTRAP);
}

bool PlatformGetLibraryPath(PlatformLibrary hLibrary, char* pszOut, size_t nSize)
{
    if (!hLibrary || !pszOut || nSize == 0)
        return false;
#if defined(__GLIBC__)
    link_map* pMap = nullptr;
    if (dlinfo(hLibrary, RTLD_DI_LINKMAP, &pMap) != 0 || !pMap || !pMap->l_name || !pMap->l_name[0])
        return false;
    const size_t nLength = std::strlen(pMap->l_name);
    if (nLength >= nSize)
        return false;
    std::memcpy(pszOut, pMap->l_name, nLength + 1);
    return true;
#else
    return false;
#endif
}

bool PlatformGetOwnership(const char* pszPath, PlatformOwnership* pOwnership)
{
    if (!pszPath || !pOwnership)
        return false;
    *pOwnership = PlatformOwnership();
    struct stat info;
    if (stat(ToPosixPath(pszPath).c_str(), &info) != 0)
        return false;
    pOwnership->bKnown = true;
    pOwnership->nOwnerId = static_cast<unsigned long>(info.st_uid);
    pOwnership->bOwnedByUser = info.st_uid == geteuid();
    pOwnership->bOwnedBySystem = info.st_uid == 0;
    pOwnership->bWritableByAll = (info.st_mode & S_IWOTH) != 0;
    pOwnership->bSticky = (info.st_mode & S_ISVTX) != 0;
    if (pOwnership->bOwnedByUser || pOwnership->bOwnedBySystem)
        return true;
    struct passwd entry;
    struct passwd* pEntry = nullptr;
    char buffer[4096];
    if (getpwuid_r(info.st_uid, &entry, buffer, sizeof(buffer), &pEntry) == 0 && pEntry && pEntry->pw_name)
        CopyCut(pOwnership->szOwnerName, sizeof(pOwnership->szOwnerName), pEntry->pw_name);
    return true;
}

bool PlatformRealPath(const char* pszPath, char* pszOut, size_t nSize)
{
    if (!pszPath || !pszOut || nSize == 0)
        return false;
    char* pszReal = realpath(ToPosixPath(pszPath).c_str(), nullptr);
    if (!pszReal)
        return false;
    const size_t nLength = std::strlen(pszReal);
    const bool bFits = nLength < nSize;
    if (bFits)
        std::memcpy(pszOut, pszReal, nLength + 1);
    std::free(pszReal);
    return bFits;
}

bool PlatformSetEnvironmentVariable(const char* pszName, const char* pszValue)
{
    return pszName && pszValue && setenv(pszName, pszValue, 1) == 0;
}

const char* PlatformGetEnvironmentVariable(const char* pszName)
{
    return pszName ? std::getenv(pszName) : nullptr;
}

//----------------------------------------------------------------------------------------------------------
// Library files named without loading them

bool PlatformFindLibraryFile(const char* pszName, char* pszOut, size_t nSize)
{
    if (!pszName || !*pszName)
        return false;
    const std::vector<std::string> candidates = LibraryCandidates(pszName);
    const std::string& sFirst = candidates.front();
    struct stat info;
    // A bare name not beside this module is the system's to find.
    if (sFirst.find('/') == std::string::npos || stat(sFirst.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        sFirst.size() >= nSize)
        return false;
    std::memcpy(pszOut, sFirst.c_str(), sFirst.size() + 1);
    return true;
}
