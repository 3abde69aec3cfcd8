// Win32 implementation of the routines of zqfiles.h.
#include "zqfiles.h"

#include <windows.h>

#include <aclapi.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <string>

namespace
{
constexpr long long FILETIME_UNIX_EPOCH = 116444736000000000LL;

std::string RandomHex16()
{
    std::random_device device;
    const unsigned long long n =
        (static_cast<unsigned long long>(device()) << 32) ^ static_cast<unsigned long long>(device());
    char szText[17];
    std::snprintf(szText, sizeof(szText), "%016llx", n);
    return szText;
}

// Whether the folder's owner is this user (or the Administrators group, which owns what an elevated
// member creates). An owner that cannot be read is taken as this user's: some file systems keep none.
bool OwnedByThisUser(const char* pszPath)
{
    PSID pOwner = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    if (GetNamedSecurityInfoA(pszPath, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr,
                              nullptr, &pDescriptor) != ERROR_SUCCESS)
        return true;
    bool bOwned = true;
    HANDLE hToken = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
    {
        union
        {
            TOKEN_USER user;
            BYTE aBytes[256];
        } token;
        DWORD nSize = 0;
        if (GetTokenInformation(hToken, TokenUser, &token, sizeof(token), &nSize))
        {
            BYTE aAdmins[SECURITY_MAX_SID_SIZE];
            DWORD nAdmins = sizeof(aAdmins);
            const bool bAdmins =
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, aAdmins, &nAdmins) &&
                EqualSid(pOwner, aAdmins);
            bOwned = EqualSid(pOwner, token.user.User.Sid) || bAdmins;
        }
        CloseHandle(hToken);
    }
    LocalFree(pDescriptor);
    return bOwned;
}
} // namespace

PlatformFolderState PlatformEnsurePrivateFolder(const char* pszPath)
{
    std::string sPath = pszPath;
    while (sPath.size() > 3 && (sPath.back() == '\\' || sPath.back() == '/'))
        sPath.pop_back();
    DWORD nAttributes = GetFileAttributesA(sPath.c_str());
    if (nAttributes == INVALID_FILE_ATTRIBUTES)
    {
        for (size_t nCut = sPath.find_first_of("\\/", 3); nCut != std::string::npos;
             nCut = sPath.find_first_of("\\/", nCut + 1))
            CreateDirectoryA(sPath.substr(0, nCut).c_str(), nullptr);
        // The user's profile folders inherit an ACL that grants only the user, SYSTEM and admins.
        if (!CreateDirectoryA(sPath.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return FOLDER_NOT_CREATED;
        nAttributes = GetFileAttributesA(sPath.c_str());
        if (nAttributes == INVALID_FILE_ATTRIBUTES)
            return FOLDER_NOT_CREATED;
    }
    if (!(nAttributes & FILE_ATTRIBUTE_DIRECTORY) || (nAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return FOLDER_NOT_A_FOLDER;
    return OwnedByThisUser(sPath.c_str()) ? FOLDER_PRIVATE : FOLDER_FOREIGN_OWNER;
}

bool PlatformWriteNewFile(const char* pszFolder, const char* pszPrefix, const void* pData, size_t nSize,
                          char* pszOut, size_t nOutSize)
{
    for (int nTry = 0; nTry < 16; ++nTry)
    {
        const std::string sPath = std::string(pszFolder) + "\\" + pszPrefix + RandomHex16();
        if (sPath.size() >= nOutSize)
            return false;
        // CREATE_NEW fails on any existing name, a link included.
        HANDLE hFile = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (hFile == INVALID_HANDLE_VALUE)
        {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return false;
        }
        const char* p = static_cast<const char*>(pData);
        size_t nLeft = nSize;
        bool bOk = true;
        while (bOk && nLeft > 0)
        {
            const DWORD nChunk = nLeft > 0x40000000u ? 0x40000000u : static_cast<DWORD>(nLeft);
            DWORD nWritten = 0;
            bOk = WriteFile(hFile, p, nChunk, &nWritten, nullptr) && nWritten > 0;
            p += nWritten;
            nLeft -= nWritten;
        }
        if (!CloseHandle(hFile))
            bOk = false;
        if (!bOk)
        {
            DeleteFileA(sPath.c_str());
            return false;
        }
        std::memcpy(pszOut, sPath.c_str(), sPath.size() + 1);
        return true;
    }
    return false;
}

std::FILE* PlatformOpenRegularFile(const char* pszPath, bool bFollowLinks, unsigned long long* pnSize,
                                   PlatformOpenFailure* peFailure)
{
    HANDLE hFile = CreateFileA(
        pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | (bFollowLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        const DWORD nError = GetLastError();
        *peFailure = nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND ? OPEN_MISSING
                     : nError == ERROR_ACCESS_DENIED                                  ? OPEN_NOT_REGULAR
                                                                                      : OPEN_FAILED;
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(hFile) != FILE_TYPE_DISK || !GetFileInformationByHandle(hFile, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    {
        *peFailure = OPEN_NOT_REGULAR;
        CloseHandle(hFile);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_RDONLY | _O_BINARY);
    if (fd < 0)
    {
        *peFailure = OPEN_FAILED;
        CloseHandle(hFile);
        return nullptr;
    }
    std::FILE* pFile = _fdopen(fd, "rb");
    if (!pFile)
    {
        *peFailure = OPEN_FAILED;
        _close(fd);
        return nullptr;
    }
    *pnSize = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    *peFailure = OPEN_OK;
    return pFile;
}

long long PlatformFileClockNs()
{
    // The system time at its tick, as NTFS stamps changes.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const long long nTicks = static_cast<long long>(
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (nTicks - FILETIME_UNIX_EPOCH) * 100;
}

bool PlatformGetUserCacheFolder(char* pszOut, size_t nSize)
{
    const DWORD nLength = GetEnvironmentVariableA("LOCALAPPDATA", pszOut, static_cast<DWORD>(nSize));
    return nLength > 0 && nLength < nSize;
}

bool PlatformRemoveFile(const char* pszPath)
{
    if (DeleteFileA(pszPath))
        return true;
    errno = GetLastError() == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
    return false;
}

bool PlatformMakeWritableByOwner(const char* pszPath)
{
    const DWORD nAttributes = GetFileAttributesA(pszPath);
    if (nAttributes != INVALID_FILE_ATTRIBUTES &&
        SetFileAttributesA(pszPath, nAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        return true;
    errno = GetLastError() == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
    return false;
}

bool PlatformListFolder(const char* pszPath, PlatformEntryFn pfnEntry, void* pContext)
{
    const std::string sPattern = std::string(pszPath) + "\\*";
    WIN32_FIND_DATAA data;
    const HANDLE hFind = FindFirstFileA(sPattern.c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        const DWORD nError = GetLastError();
        errno = nError == ERROR_PATH_NOT_FOUND || nError == ERROR_FILE_NOT_FOUND ? ENOENT
                : nError == ERROR_DIRECTORY                                      ? ENOTDIR
                                                                                 : EACCES;
        return false;
    }
    do
    {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0)
            continue;
        const DWORD nAttributes = data.dwFileAttributes;
        const PlatformEntryKind eKind = (nAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ENTRY_LINK
                                        : (nAttributes & FILE_ATTRIBUTE_DIRECTORY)   ? ENTRY_FOLDER
                                        : (nAttributes & FILE_ATTRIBUTE_DEVICE)      ? ENTRY_OTHER
                                                                                     : ENTRY_FILE;
        pfnEntry(pContext, data.cFileName, eKind);
    } while (FindNextFileA(hFind, &data));
    const DWORD nError = GetLastError();
    FindClose(hFind);
    if (nError != ERROR_NO_MORE_FILES)
    {
        errno = EIO;
        return false;
    }
    return true;
}

bool PlatformTouchFile(const char* pszPath)
{
    const HANDLE hFile =
        CreateFileA(pszPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        errno = GetLastError() == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES;
        return false;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const bool bDone = SetFileTime(hFile, nullptr, nullptr, &now) != 0;
    CloseHandle(hFile);
    if (!bDone)
        errno = EACCES;
    return bDone;
}
