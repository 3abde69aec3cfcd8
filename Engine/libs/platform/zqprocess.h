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

// The full path of the running program's executable file. False when it does not fit or cannot be
// found.
bool PlatformGetProgramPath(char* pszOut, size_t nSize);

// Whether the stream is connected to a terminal (a console on Windows).
bool PlatformIsTerminal(std::FILE* pStream);

// The identifier of the running process.
unsigned long PlatformGetProcessId();
