// The only door to the operating system. Engine code calls these routines instead of the Windows
// functions named beside each one; the Win32 build forwards to those functions and the POSIX build
// behaves as they do for every input the engine gives them. Every routine that takes a path the
// engine built accepts both '/' and '\\' as path separators (PlatformReplaceFile takes file names
// as the file system spells them).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The separator the engine appends when it builds a path: '\\' on Windows, '/' elsewhere.
#if defined(_WIN32)
constexpr char PLATFORM_PATH_SEP = '\\';
#else
constexpr char PLATFORM_PATH_SEP = '/';
#endif

constexpr size_t PLATFORM_MAX_PATH = 260;

typedef void* PlatformLibrary;

// LoadLibraryA. A name ending in ".dll" stands for the platform's shared library of the same base
// name ("TripwireDLL.dll" loads "TripwireDLL.so" on POSIX). A name without a directory is looked
// for beside the module that contains this code first, then where the system looks. Null on failure.
PlatformLibrary PlatformLoadLibrary(const char* pszName);

// PlatformLoadLibrary that also tells why it failed: the system's reason (dlerror() on POSIX, the
// FormatMessage text of GetLastError() on Windows) goes to pszReason, cut to nReasonSize - 1
// characters; it is empty after a success. pszReason may be null.
PlatformLibrary PlatformLoadLibraryWithReason(const char* pszName, char* pszReason, size_t nReasonSize);

// The file name that PlatformLoadLibrary opens for a name with a directory: on POSIX ".dll" stands
// for the shared library suffix; on Windows the name as given. False when it does not fit.
bool PlatformLibraryFileName(const char* pszName, char* pszOut, size_t nSize);

// True when a file name ends in this platform's shared library suffix: ".so" on POSIX, ".dll" in
// any case on Windows.
bool PlatformIsLibraryFileName(const char* pszName);

// GetModuleFileNameA: the path of the file a loaded library was loaded from. False when it is not
// known or does not fit in nSize bytes.
bool PlatformGetLibraryPath(PlatformLibrary hLibrary, char* pszOut, size_t nSize);

// GetProcAddress: the address of an exported symbol, or null.
void* PlatformGetProcAddress(PlatformLibrary hLibrary, const char* pszSymbol);

// FreeLibrary. Null is allowed and does nothing.
void PlatformFreeLibrary(PlatformLibrary hLibrary);

// GetModuleHandleA: whether a library of that name (mapped as for PlatformLoadLibrary) is loaded
// in this process now.
bool PlatformIsLibraryLoaded(const char* pszName);

// GetPrivateProfileStringA: the value of key pszKey in section pszSection of the profile file
// pszFile, or pszDefault when the file, the section or the key is missing. Section and key names
// match ignoring case; the first matching section and key win; white space around names and values
// is trimmed and one pair of matching quotes around a value is removed; lines starting with ';'
// are comments. The value is cut to nSize - 1 characters. Answers the characters copied. Section
// and key are never null (the Windows function would list names instead).
uint32_t PlatformGetProfileString(const char* pszSection, const char* pszKey, const char* pszDefault,
                                  char* pszOut, uint32_t nSize, const char* pszFile);

// One key of PlatformGetProfileStrings and where its value goes.
struct PlatformProfileQuery
{
    const char* pszSection;
    const char* pszKey;
    const char* pszDefault;
    char* pszOut;
    uint32_t nSize;
};

// PlatformGetProfileString for each of the nCount queries, all answered from one reading of pszFile
// where the system allows (Windows asks once per key).
void PlatformGetProfileStrings(const PlatformProfileQuery* aQueries, size_t nCount, const char* pszFile);

// PathCanonicalizeA: removes "." and ".." segments; ".." never climbs above the root ("\\", "/" or a
// drive "c:\\"). A relative path keeps a leading ".." and a final "."; a ".." that backs up to its
// start makes the rest rooted ("a\\..\\b" gives "\\b"). The result uses PLATFORM_PATH_SEP. pszOut
// holds PLATFORM_MAX_PATH bytes. False when the path does not fit in PLATFORM_MAX_PATH bytes.
bool PlatformPathCanonicalize(char* pszOut, const char* pszPath);

// _findfirst/_findnext/_findclose: the name (without directory) of the first directory entry that
// is not a folder and matches pszPattern, a directory followed by a file pattern with '*' and '?'
// matched ignoring case. Dots and spaces that end the pattern are dropped, and a final ".*" also
// matches a name without a dot. False when nothing matches. Of several matches, the first in the
// order of an NTFS listing (names compared after folding to upper case) is the answer on every
// platform. Folders ("." and ".." among them) never match: the callers look for files.
bool PlatformFindFirstFile(const char* pszPattern, char* pszName, size_t nNameSize);

// _getcwd. False when the directory does not fit.
bool PlatformGetCurrentDirectory(char* pszOut, size_t nSize);

// _tempnam: a file name in a writable temporary directory that names no existing file, beginning
// with pszPrefix. pszDirectory is used when it exists and is writable; otherwise the platform's
// temporary directory. The file is not created.
bool PlatformTempName(const char* pszDirectory, const char* pszPrefix, char* pszOut, size_t nSize);

// MoveFileExA with MOVEFILE_REPLACE_EXISTING: renames pszFrom to pszTo, replacing an existing pszTo
// in one step. False when it cannot be done; pszTo is then unchanged. The names are the file
// system's own: on POSIX a backslash is a character of a name, not a separator.
bool PlatformReplaceFile(const char* pszFrom, const char* pszTo);

// _stricmp: compares after folding ASCII letters to lower case.
int PlatformStrICmp(const char* pszStr1, const char* pszStr2);

// _vsnprintf: writes at most nSize characters; answers the count written, or a negative value when
// the output did not fit. The output is NUL-terminated only when it is shorter than nSize.
int PlatformVSNPrintF(char* pszOut, size_t nSize, const char* pszFormat, va_list args);

// Breaks into the debugger (a breakpoint trap).
void PlatformDebugBreak();

// The separator of a list of paths in an environment variable (PATH): ':' on POSIX, ';' on Windows.
#if defined(_WIN32)
constexpr char PLATFORM_PATH_LIST_SEP = ';';
#else
constexpr char PLATFORM_PATH_LIST_SEP = ':';
#endif

// Who owns a file and who else may write the folder that holds it: the facts of the rule that
// decides whether a file's settings or code may be used.
struct PlatformOwnership
{
    bool bKnown;            // false where the system offers no such facts (then nothing below is set)
    bool bOwnedByUser;      // the running process's user owns it
    bool bOwnedBySystem;    // the system's own account owns it (root)
    unsigned long nOwnerId; // the owner's user id
    char szOwnerName[64];   // the account name of an owner other than the user and the system
                            // (only a refusal shows it); empty for those two and for none
    bool bWritableByAll;    // every user may write it (the mode's write bit for others)
    bool bSticky;           // a folder in which only an entry's owner may remove or rename it
};

// The ownership facts of the file or folder pszPath, links followed. False when it does not exist
// or cannot be examined. Windows answers true with bKnown false: ownership is not checked there.
bool PlatformGetOwnership(const char* pszPath, PlatformOwnership* pOwnership);

// realpath / GetFullPathNameA: the absolute path of an existing file or folder with every link
// resolved (on Windows: made absolute). False when it does not exist or does not fit.
bool PlatformRealPath(const char* pszPath, char* pszOut, size_t nSize);

// setenv / _putenv_s: sets a variable of this process's environment, inherited by the processes
// it starts. False when it cannot be set.
bool PlatformSetEnvironmentVariable(const char* pszName, const char* pszValue);

// getenv: the value of a variable of this process's environment, or null when it is not set. Valid
// until the environment is changed.
const char* PlatformGetEnvironmentVariable(const char* pszName);

// ---------------------------------------------------------------------------------------------------
// For build tools that name a library without loading it.

// The file that PlatformLoadLibrary(pszName) would load, when the name alone decides it and the file
// exists: a name with a folder, or a bare name found beside the module that contains this code. False
// when the system's own search would decide, or nothing is there.
bool PlatformFindLibraryFile(const char* pszName, char* pszOut, size_t nSize);
