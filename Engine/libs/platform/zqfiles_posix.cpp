#include "zqfiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace
{
// mkdir -p for the parents: created as usual, their permissions the umask's.
void CreateParents(const std::string& sPath)
{
    for (size_t nCut = sPath.find('/', 1); nCut != std::string::npos; nCut = sPath.find('/', nCut + 1))
        mkdir(sPath.substr(0, nCut).c_str(), 0777);
}

std::string RandomHex16()
{
    std::random_device device;
    const unsigned long long n =
        (static_cast<unsigned long long>(device()) << 32) ^ static_cast<unsigned long long>(device());
    char szText[17];
    std::snprintf(szText, sizeof(szText), "%016llx", n);
    return szText;
}
} // namespace

PlatformFolderState PlatformEnsurePrivateFolder(const char* pszPath)
{
    std::string sPath = pszPath;
    while (sPath.size() > 1 && sPath.back() == '/')
        sPath.pop_back();
    struct stat info;
    if (lstat(sPath.c_str(), &info) != 0)
    {
        CreateParents(sPath);
        if (mkdir(sPath.c_str(), 0700) != 0 && errno != EEXIST)
            return FOLDER_NOT_CREATED;
        if (lstat(sPath.c_str(), &info) != 0)
            return FOLDER_NOT_CREATED;
    }
    if (!S_ISDIR(info.st_mode))
        return FOLDER_NOT_A_FOLDER;
    if (info.st_uid != geteuid())
        return FOLDER_FOREIGN_OWNER;
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return FOLDER_WRITABLE_BY_OTHERS;
    return FOLDER_PRIVATE;
}

bool PlatformWriteNewFile(const char* pszFolder, const char* pszPrefix, const void* pData, size_t nSize,
                          char* pszOut, size_t nOutSize)
{
    for (int nTry = 0; nTry < 16; ++nTry)
    {
        const std::string sPath = std::string(pszFolder) + "/" + pszPrefix + RandomHex16();
        if (sPath.size() >= nOutSize)
            return false;
        const int fd = open(sPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
        {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const char* p = static_cast<const char*>(pData);
        size_t nLeft = nSize;
        bool bOk = true;
        while (bOk && nLeft > 0)
        {
            const ssize_t nWritten = write(fd, p, nLeft);
            if (nWritten < 0 && errno == EINTR)
                continue;
            bOk = nWritten > 0;
            if (bOk)
            {
                p += nWritten;
                nLeft -= static_cast<size_t>(nWritten);
            }
        }
        if (close(fd) != 0)
            bOk = false;
        if (!bOk)
        {
            const int nError = errno;
            unlink(sPath.c_str());
            errno = nError;
            return false;
        }
        std::memcpy(pszOut, sPath.c_str(), sPath.size() + 1);
        return true;
    }
    errno = EEXIST;
    return false;
}

std::FILE* PlatformOpenRegularFile(const char* pszPath, bool bFollowLinks, unsigned long long* pnSize,
                                   PlatformOpenFailure* peFailure)
{
    const int fd = open(pszPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (bFollowLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
    {
        *peFailure = errno == ENOENT ? OPEN_MISSING : errno == ELOOP ? OPEN_NOT_REGULAR : OPEN_FAILED;
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        *peFailure = OPEN_NOT_REGULAR;
        close(fd);
        return nullptr;
    }
    // Regular files never block; reads go on as usual. O_NONBLOCK is the only status flag that was
    // set, so clearing them all needs no look first.
    fcntl(fd, F_SETFL, 0);
    std::FILE* pFile = fdopen(fd, "rb");
    if (!pFile)
    {
        *peFailure = OPEN_FAILED;
        close(fd);
        return nullptr;
    }
    *pnSize = static_cast<unsigned long long>(info.st_size);
    *peFailure = OPEN_OK;
    return pFile;
}

long long PlatformFileClockNs()
{
    struct timespec now;
#if defined(CLOCK_REALTIME_COARSE)
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
#else
    clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= 1; // without the coarse clock, a margin wider than any file system's tick
#endif
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool PlatformGetUserCacheFolder(char* pszOut, size_t nSize)
{
    std::string sFolder;
    if (const char* pszCache = std::getenv("XDG_CACHE_HOME"); pszCache && pszCache[0] == '/')
        sFolder = pszCache;
    else if (const char* pszHome = std::getenv("HOME"); pszHome && pszHome[0])
        sFolder = std::string(pszHome) + "/.cache";
    if (sFolder.empty() || sFolder.size() >= nSize)
        return false;
    std::memcpy(pszOut, sFolder.c_str(), sFolder.size() + 1);
    return true;
}

bool PlatformRemoveFile(const char* pszPath)
{
    return unlink(pszPath) == 0;
}

bool PlatformMakeWritableByOwner(const char* pszPath)
{
    // chmod has no form that leaves a link alone everywhere: a link is refused before it.
    struct stat info;
    if (lstat(pszPath, &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode))
    {
        errno = ELOOP;
        return false;
    }
    return chmod(pszPath, (info.st_mode & 07777) | S_IWUSR) == 0;
}

bool PlatformListFolder(const char* pszPath, PlatformEntryFn pfnEntry, void* pContext)
{
    DIR* pFolder = opendir(pszPath);
    if (!pFolder)
        return false;
    const std::string sPrefix = std::string(pszPath) + "/";
    errno = 0;
    while (const dirent* pEntry = readdir(pFolder))
    {
        const char* pszName = pEntry->d_name;
        if (std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0)
            continue;
        PlatformEntryKind eKind = ENTRY_OTHER;
        unsigned char nType = pEntry->d_type;
        if (nType == DT_UNKNOWN)
        {
            // Some file systems leave the type to a separate look.
            struct stat info;
            if (lstat((sPrefix + pszName).c_str(), &info) == 0)
                nType = S_ISREG(info.st_mode)   ? DT_REG
                        : S_ISDIR(info.st_mode) ? DT_DIR
                        : S_ISLNK(info.st_mode) ? DT_LNK
                                                : DT_UNKNOWN;
        }
        if (nType == DT_REG)
            eKind = ENTRY_FILE;
        else if (nType == DT_DIR)
            eKind = ENTRY_FOLDER;
        else if (nType == DT_LNK)
            eKind = ENTRY_LINK;
        pfnEntry(pContext, pszName, eKind);
        errno = 0;
    }
    const int nError = errno;
    closedir(pFolder);
    errno = nError;
    return nError == 0;
}

bool PlatformTouchFile(const char* pszPath)
{
    const struct timespec aNow[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    return utimensat(AT_FDCWD, pszPath, aNow, AT_SYMLINK_NOFOLLOW) == 0;
}
