// Child processes, the program's own path and terminal detection: what a host program needs of the
// operating system beyond zqplatform.h. The Win32 build forwards to CreateProcessA,
// WaitForMultipleObjects, GetModuleFileNameA and _isatty; the POSIX build uses posix_spawn, waitpid,
// /proc/self/exe and isatty.
#pragma once

#include <cstddef>
#include <cstdio>

// A started child process; owned by the caller until PlatformWaitAnyProcess reports its end.
struct PlatformProcessData;
typedef PlatformProcessData* PlatformProcess;

// The most processes that one PlatformWaitAnyProcess call can wait for (WaitForMultipleObjects).
constexpr size_t PLATFORM_MAX_WAIT_PROCESSES = 64;
// The longest command line, in characters, that PlatformStartProcess passes on every platform
// (Windows' limit; POSIX systems allow far more).
constexpr size_t PLATFORM_MAX_COMMAND_LINE = 32767;

// Starts the program pszProgram (a path) with the nArgs arguments apszArgs, which follow the
// program name in the child's argument vector. The child inherits the current directory, the
// environment and standard input; its standard output and standard error go to the files
// pszStdoutFile and pszStderrFile (created or truncated), or to the parent's when null.
// Null when the program cannot be started.
PlatformProcess PlatformStartProcess(const char* pszProgram, const char* const* apszArgs, size_t nArgs,
                                     const char* pszStdoutFile, const char* pszStderrFile);

// Waits until one of the nCount processes ends (nCount at most PLATFORM_MAX_WAIT_PROCESSES) and
// answers its index; that process is released and must not be used again. *pnExitStatus receives
// its exit status; a POSIX process ended by a signal gives 128 plus the signal number.
// -1 when there is nothing to wait for or the wait fails; the processes then stay owned.
int PlatformWaitAnyProcess(PlatformProcess* aProcesses, size_t nCount, int* pnExitStatus);

// How a process ended.
struct PlatformExit
{
    bool bSignaled = false; // POSIX: ended by a signal (nCode holds its number)
    int nCode = 0;          // the exit status, the signal number, or a Windows exception code
};

// Like PlatformWaitAnyProcess, but waits at most nTimeoutMs milliseconds (negative: no limit) and
// returns early, with -2, when an interrupt was caught (PlatformCatchInterrupts). -2 also when the
// time ran out. *pExit receives how the process ended.
int PlatformWaitAnyProcessFor(PlatformProcess* aProcesses, size_t nCount, PlatformExit* pExit,
                              int nTimeoutMs);

// Ends the process at once (SIGKILL, TerminateProcess); it must still be waited for.
void PlatformKillProcess(PlatformProcess hProcess);

// Sends the process the interrupt that Ctrl-C sends (SIGINT). False where that cannot be done for
// one process alone (Windows).
bool PlatformInterruptProcess(PlatformProcess hProcess);

// Delivers to this process the interrupt that PlatformCatchInterrupts catches: SIGTERM (Ctrl-Break
// on Windows) when bTerminate, else SIGINT (Ctrl-C). For tests that need one at an exact moment.
void PlatformInterruptSelf(bool bTerminate);

// Whether a process with this identifier is running (for removing what a dead one left behind).
bool PlatformProcessExists(unsigned long nProcessId);

// Makes the calling process end when its parent ends: the parent-death signal on Linux. Started
// processes also end with their parent on Windows (a job object that closes with the parent) and
// where the parent ends them itself. nParentId is the parent's identifier as the parent saw it:
// when the parent is already gone, the caller ends at once.
void PlatformEndWithParent(unsigned long nParentId);

// Catches SIGINT and SIGTERM (Ctrl-C, Ctrl-Break and closing the console on Windows) from now on:
// instead of ending the process they are recorded for PlatformCaughtInterrupt. A second SIGINT or
// SIGTERM ends the process as usual.
void PlatformCatchInterrupts();

// The exit status the process should end with for the first caught interrupt (130 for SIGINT or
// Ctrl-C, 143 for SIGTERM, Ctrl-Break or closing); 0 when none was caught.
int PlatformCaughtInterrupt();

// The name of a signal ("SIGSEGV") or, on Windows, of an exception code; null when unknown.
const char* PlatformSignalName(int nCode);

// The full path of the running program's executable file. False when it does not fit or cannot be
// found.
bool PlatformGetProgramPath(char* pszOut, size_t nSize);

// Whether the stream is connected to a terminal (a console on Windows).
bool PlatformIsTerminal(std::FILE* pStream);

// Makes the stream pass bytes unchanged (no line-ending translation, no end-of-file byte on
// Windows); nothing to do elsewhere. False when it cannot be done.
bool PlatformSetBinaryMode(std::FILE* pStream);

// fseeko/_fseeki64 with SEEK_SET or SEEK_END, and ftello/_ftelli64: 64-bit positions in a stream on
// every platform. The seek answers false when it fails, the tell -1.
bool PlatformSeekFile(std::FILE* pStream, long long nOffset, int nWhence);
long long PlatformTellFile(std::FILE* pStream);

// The identifier of the running process.
unsigned long PlatformGetProcessId();

// Makes the heap take every block of nBytes or more straight from the operating system and give it
// back when freed, from now on (a fixed mmap threshold with glibc, which otherwise raises it after
// such frees and then keeps large freed blocks; nothing elsewhere): for a long-running program whose
// large jobs should not leave their blocks behind.
void PlatformReturnLargeBlocks(unsigned long nBytes);

// Gives the memory that the heap holds free back to the operating system (malloc_trim with glibc,
// HeapCompact on Windows; nothing elsewhere), for a long-running program after a large job.
void PlatformReleaseFreeMemory();

// Lets the heap keep up to nBytes of the memory it frees for the next allocations instead of giving
// it back to the operating system at once (glibc's trim and mapping thresholds; nothing elsewhere),
// for a process that runs many small jobs one after another: each would otherwise map and fault in
// its memory afresh.
void PlatformKeepFreedMemory(size_t nBytes);

// What identifies a file's state without reading it: its size, its last write time and its change
// time in nanoseconds since 1970, and its file id (device and inode; volume serial and file index on
// Windows). The change time moves with every change of content or metadata and no user can set it
// back, so a file rewritten with its write time restored still gets another stamp.
struct PlatformFileStamp
{
    unsigned long long nSize;
    long long nWriteTimeNs;
    long long nChangeTimeNs;
    unsigned long long nDevice;
    unsigned long long nFileId;
};

// The stamp of the regular file pszPath; false when it cannot be read or is not a regular file.
bool PlatformGetFileStamp(const char* pszPath, PlatformFileStamp* pStamp);

// The current time in nanoseconds since 1970, on the clock that file write times use.
long long PlatformNowNs();
