// Win32 implementation of the platform layer: the Windows functions themselves.
#include "zqplatform.h"

#include <windows.h>

#include <shlwapi.h>

#include <direct.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cstring>
#include <string>

PlatformLibrary PlatformLoadLibrary(const char* pszName)
{
    return pszName ? reinterpret_cast<PlatformLibrary>(LoadLibraryA(pszName)) : nullptr;
}

PlatformLibrary PlatformLoadLibraryWithReason(const char* pszName, char* pszReason, size_t nReasonSize)
{
    const bool bReason = pszReason && nReasonSize > 0 && nReasonSize <= MAXDWORD;
    if (bReason)
        pszReason[0] = '\0';
    if (!pszName)
        return nullptr;
    HMODULE hModule = LoadLibraryA(pszName);
    if (hModule || !bReason)
        return reinterpret_cast<PlatformLibrary>(hModule);
    const DWORD nError = GetLastError();
    DWORD nLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   nError, 0, pszReason, static_cast<DWORD>(nReasonSize), nullptr);
    if (nLength == 0)
        nLength = static_cast<DWORD>(
            snprintf(pszReason, nReasonSize, "error %lu", static_cast<unsigned long>(nError)));
    // The system's text ends in a line break and often a full stop.
    while (nLength > 0 && (pszReason[nLength - 1] == '\n' || pszReason[nLength - 1] == '\r' ||
                           pszReason[nLength - 1] == ' ' || pszReason[nLength - 1] == '.'))
        pszReason[--nLength] = '\0';
    return nullptr;
}

bool PlatformLibraryFileName(const char* pszName, char* pszOut, size_t nSize)
{
    if (!pszName || !pszOut || strlen(pszName) >= nSize)
        return false;
    strcpy(pszOut, pszName);
    return true;
}

bool PlatformIsLibraryFileName(const char* pszName)
{
    const size_t nLength = pszName ? strlen(pszName) : 0;
    return nLength > 4 && _stricmp(pszName + nLength - 4, ".dll") == 0;
}

void* PlatformGetProcAddress(PlatformLibrary hLibrary, const char* pszSymbol)
{
    if (!hLibrary || !pszSymbol)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(hLibrary), pszSymbol));
}

void PlatformFreeLibrary(PlatformLibrary hLibrary)
{
    if (hLibrary)
        FreeLibrary(static_cast<HMODULE>(hLibrary));
}

bool PlatformIsLibraryLoaded(const char* pszName)
{
    return pszName && GetModuleHandleA(pszName) != nullptr;
}

uint32_t PlatformGetProfileString(const char* pszSection, const char* pszKey, const char* pszDefault,
                                  char* pszOut, uint32_t nSize, const char* pszFile)
{
    // A relative name would be looked for in the Windows folder.
    char szFullPath[MAX_PATH];
    const DWORD nLen = pszFile ? GetFullPathNameA(pszFile, MAX_PATH, szFullPath, nullptr) : 0;
    const char* pszPath = (nLen > 0 && nLen < MAX_PATH) ? szFullPath : pszFile;
    return static_cast<uint32_t>(
        GetPrivateProfileStringA(pszSection, pszKey, pszDefault, pszOut, nSize, pszPath));
}

void PlatformGetProfileStrings(const PlatformProfileQuery* aQueries, size_t nCount, const char* pszFile)
{
    for (size_t i = 0; i < nCount; ++i)
        PlatformGetProfileString(aQueries[i].pszSection, aQueries[i].pszKey, aQueries[i].pszDefault,
                                 aQueries[i].pszOut, aQueries[i].nSize, pszFile);
}

bool PlatformPathCanonicalize(char* pszOut, const char* pszPath)
{
    if (!pszOut)
        return false;
    pszOut[0] = '\0';
    // PathCanonicalizeA knows only backslashes.
    char szPath[MAX_PATH];
    if (!pszPath || strlen(pszPath) >= MAX_PATH)
        return false;
    strcpy(szPath, pszPath);
    for (char* p = szPath; *p; ++p)
    {
        if (*p == '/')
            *p = '\\';
    }
    return PathCanonicalizeA(pszOut, szPath) != FALSE;
}

bool PlatformFindFirstFile(const char* pszPattern, char* pszName, size_t nNameSize)
{
    if (!pszName || nNameSize == 0)
        return false;
    pszName[0] = '\0';
    if (!pszPattern)
        return false;
    _finddata_t data;
    const intptr_t hFind = _findfirst(pszPattern, &data);
    if (hFind == -1)
        return false;
    bool bFound = true;
    while (bFound && (data.attrib & _A_SUBDIR))
        bFound = _findnext(hFind, &data) == 0;
    _findclose(hFind);
    if (!bFound)
        return false;
    if (strlen(data.name) >= nNameSize)
        return false;
    strcpy(pszName, data.name);
    return true;
}

bool PlatformGetCurrentDirectory(char* pszOut, size_t nSize)
{
    return pszOut && nSize > 0 && nSize <= 0x7FFFFFFF && _getcwd(pszOut, static_cast<int>(nSize)) != nullptr;
}

bool PlatformTempName(const char* pszDirectory, const char* pszPrefix, char* pszOut, size_t nSize)
{
    if (!pszOut || nSize == 0)
        return false;
    pszOut[0] = '\0';
    char* pszName = _tempnam(pszDirectory, pszPrefix);
    if (!pszName)
        return false;
    const bool bFits = strlen(pszName) < nSize;
    if (bFits)
        strcpy(pszOut, pszName);
    free(pszName);
    return bFits;
}

bool PlatformReplaceFile(const char* pszFrom, const char* pszTo)
{
    return pszFrom && pszTo && MoveFileExA(pszFrom, pszTo, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

int PlatformStrICmp(const char* pszStr1, const char* pszStr2)
{
    return _stricmp(pszStr1, pszStr2);
}

int PlatformVSNPrintF(char* pszOut, size_t nSize, const char* pszFormat, va_list args)
{
    return _vsnprintf(pszOut, nSize, pszFormat, args);
}

void PlatformDebugBreak()
{
    DebugBreak();
}

bool PlatformGetLibraryPath(PlatformLibrary hLibrary, char* pszOut, size_t nSize)
{
    if (!hLibrary || !pszOut || nSize == 0 || nSize > MAXDWORD)
        return false;
    const DWORD nLength =
        GetModuleFileNameA(static_cast<HMODULE>(hLibrary), pszOut, static_cast<DWORD>(nSize));
    return nLength > 0 && nLength < nSize;
}

bool PlatformGetOwnership(const char* pszPath, PlatformOwnership* pOwnership)
{
    if (!pszPath || !pOwnership)
        return false;
    *pOwnership = PlatformOwnership();
    // Ownership is not checked on Windows: the answer is only whether the file exists.
    return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
}

bool PlatformRealPath(const char* pszPath, char* pszOut, size_t nSize)
{
    if (!pszPath || !pszOut || nSize == 0 || nSize > MAXDWORD ||
        GetFileAttributesA(pszPath) == INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD nLength = GetFullPathNameA(pszPath, static_cast<DWORD>(nSize), pszOut, nullptr);
    return nLength > 0 && nLength < nSize;
}

bool PlatformSetEnvironmentVariable(const char* pszName, const char* pszValue)
{
    return pszName && pszValue && _putenv_s(pszName, pszValue) == 0;
}

const char* PlatformGetEnvironmentVariable(const char* pszName)
{
    return pszName ? getenv(pszName) : nullptr;
}

//----------------------------------------------------------------------------------------------------------
// Library files named without loading them

bool PlatformFindLibraryFile(const char* pszName, char* pszOut, size_t nSize)
{
    if (!pszName || !*pszName)
        return false;
    std::string sName = pszName;
    const size_t nSlash = sName.find_last_of("\\/");
    if (nSlash == std::string::npos)
        return false; // LoadLibraryA's search order decides
    const size_t nDot = sName.rfind('.');
    if (nDot == std::string::npos || nDot < nSlash)
        sName += ".dll";
    else if (nDot == sName.size() - 1)
        sName.pop_back();
    const DWORD nAttributes = GetFileAttributesA(sName.c_str());
    if (nAttributes == INVALID_FILE_ATTRIBUTES || (nAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        sName.size() >= nSize)
        return false;
    std::memcpy(pszOut, sName.c_str(), sName.size() + 1);
    return true;
}
