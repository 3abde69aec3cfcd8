// Files that a build tool keeps for itself: its private folder, files created exclusively under
// unpredictable names, regular files opened without following a planted link or blocking on a
// device, and the clock that change times are taken from. For the host program only.
#pragma once

#include <cstddef>
#include <cstdio>

// What PlatformEnsurePrivateFolder found.
enum PlatformFolderState
{
    FOLDER_PRIVATE = 0,           // exists (or was created, mode 0700), is ours and only ours to write
    FOLDER_NOT_CREATED = 1,       // missing and cannot be created
    FOLDER_NOT_A_FOLDER = 2,      // a file, a link or something else stands there
    FOLDER_FOREIGN_OWNER = 3,     // owned by another user
    FOLDER_WRITABLE_BY_OTHERS = 4 // group or others may write in it
};

// Creates pszPath (its parents as usual, the folder itself private) when it is missing, then says
// whether it may hold files that this user trusts. A link is never followed for the folder itself.
PlatformFolderState PlatformEnsurePrivateFolder(const char* pszPath);

// Creates a new file in pszFolder named pszPrefix followed by 16 random hex digits, exclusively
// (never through an existing name or link), readable and writable by the owner only, writes the
// nSize bytes and closes it. Its path goes to pszOut. False, with nothing left behind, on failure.
bool PlatformWriteNewFile(const char* pszFolder, const char* pszPrefix, const void* pData, size_t nSize,
                          char* pszOut, size_t nOutSize);

// Why PlatformOpenRegularFile gave no file.
enum PlatformOpenFailure
{
    OPEN_OK = 0,
    OPEN_MISSING = 1,
    OPEN_NOT_REGULAR = 2, // a folder, a device, a FIFO, or (when links are not followed) a link
    OPEN_FAILED = 3
};

// Opens the regular file pszPath for reading in binary mode; never blocks on a FIFO or device.
// With bFollowLinks false a link in the last component is refused. *pnSize receives the size.
std::FILE* PlatformOpenRegularFile(const char* pszPath, bool bFollowLinks, unsigned long long* pnSize,
                                   PlatformOpenFailure* peFailure);

// The time, in nanoseconds since 1970, that a change made after this call is stamped with at the
// earliest: the file system's own coarse clock. A change time not earlier than it may be later.
long long PlatformFileClockNs();

// The user's folder for caches: $XDG_CACHE_HOME (when absolute) or ~/.cache on POSIX,
// %LOCALAPPDATA% on Windows. False when there is none or it does not fit in nSize bytes.
bool PlatformGetUserCacheFolder(char* pszOut, size_t nSize);

// remove / DeleteFileA: removes the file pszPath (a link itself, never what it points to). False,
// with errno set, when it cannot be removed.
bool PlatformRemoveFile(const char* pszPath);

// Lets the owner write the file pszPath (chmod u+w; clears FILE_ATTRIBUTE_READONLY on Windows),
// never through a link. False, with errno set, when it cannot be done.
bool PlatformMakeWritableByOwner(const char* pszPath);

// What an entry of a folder is; a link is never followed to tell.
enum PlatformEntryKind
{
    ENTRY_FILE = 0,
    ENTRY_FOLDER = 1,
    ENTRY_LINK = 2, // a symbolic link (a reparse point on Windows)
    ENTRY_OTHER = 3 // a device, a FIFO, a socket
};

// Receives one entry of a folder: its name (no folder part) and its kind.
typedef void (*PlatformEntryFn)(void* pContext, const char* pszName, PlatformEntryKind eKind);

// opendir / FindFirstFileA: calls pfnEntry for every entry of the folder pszPath but "." and "..",
// in the order the system gives. False, with errno set, when the folder cannot be read (then
// pfnEntry may have been called for some entries).
bool PlatformListFolder(const char* pszPath, PlatformEntryFn pfnEntry, void* pContext);

// utimensat / SetFileTime: moves the write time of the file pszPath to now, without following a
// link and without changing what the folder holding it records. False, with errno set, on failure.
bool PlatformTouchFile(const char* pszPath);
