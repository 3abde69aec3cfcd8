#include "zqprocess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <new>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

extern char** environ;

struct PlatformProcessData
{
    pid_t nPid;
};

namespace
{
// Adds an open of pszFile onto nFd to the spawn actions, when a file is named.
bool AddRedirection(posix_spawn_file_actions_t* pActions, int nFd, const char* pszFile)
{
    if (!pszFile)
        return true;
    return posix_spawn_file_actions_addopen(pActions, nFd, pszFile, O_WRONLY | O_CREAT | O_TRUNC, 0644) == 0;
}
} // namespace

PlatformProcess PlatformStartProcess(const char* pszProgram, const char* const* apszArgs, size_t nArgs,
                                     const char* pszStdoutFile, const char* pszStderrFile)
{
    if (!pszProgram || (nArgs && !apszArgs))
        return nullptr;

    std::vector<char*> argv;
    argv.reserve(nArgs + 2);
    argv.push_back(const_cast<char*>(pszProgram));
    for (size_t i = 0; i < nArgs; ++i)
        argv.push_back(const_cast<char*>(apszArgs[i]));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return nullptr;
    pid_t nPid = 0;
    const bool bStarted = AddRedirection(&actions, STDOUT_FILENO, pszStdoutFile) &&
                          AddRedirection(&actions, STDERR_FILENO, pszStderrFile) &&
                          posix_spawn(&nPid, pszProgram, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!bStarted)
        return nullptr;

    PlatformProcess hProcess = new (std::nothrow) PlatformProcessData{nPid};
    if (!hProcess)
    {
        // Nobody could wait for it later: reap it now rather than leave a zombie.
        int nStatus = 0;
        while (waitpid(nPid, &nStatus, 0) < 0 && errno == EINTR)
        {
        }
    }
    return hProcess;
}

namespace
{
// The first interrupt caught; a signal handler can only leave a flag. Process-wide by nature.
volatile sig_atomic_t s_nCaughtSignal = 0;

// Records the first interrupt; a second one of the same kind ends the process as usual (for a
// pack that does not return, as in the in-process mode).
extern "C" void OnInterrupt(int nSignal)
{
    if (s_nCaughtSignal == 0)
        s_nCaughtSignal = nSignal;
    signal(nSignal, SIG_DFL);
}

// Sleeps up to nMs milliseconds; a caught signal ends the sleep early.
void SleepMs(long nMs)
{
    timespec delay = {nMs / 1000, (nMs % 1000) * 1000000L};
    nanosleep(&delay, nullptr);
}
} // namespace

int PlatformWaitAnyProcessFor(PlatformProcess* aProcesses, size_t nCount, PlatformExit* pExit, int nTimeoutMs)
{
    if (!aProcesses || nCount == 0 || nCount > PLATFORM_MAX_WAIT_PROCESSES)
        return -1;
    bool bAny = false;
    for (size_t i = 0; i < nCount; ++i)
        bAny = bAny || aProcesses[i];
    if (!bAny)
        return -1;
    // Polls each child without blocking: only our own children are reaped, and a caught signal or
    // the time limit ends the wait within a few milliseconds.
    long nWaited = 0;
    long nSleep = 1;
    for (;;)
    {
        for (size_t i = 0; i < nCount; ++i)
        {
            if (!aProcesses[i])
                continue;
            int nStatus = 0;
            const pid_t nPid = waitpid(aProcesses[i]->nPid, &nStatus, WNOHANG);
            if (nPid == 0 || (nPid < 0 && errno == EINTR))
                continue;
            PlatformExit end;
            if (nPid > 0 && WIFSIGNALED(nStatus))
            {
                end.bSignaled = true;
                end.nCode = WTERMSIG(nStatus);
            }
            else if (nPid > 0 && WIFEXITED(nStatus))
                end.nCode = WEXITSTATUS(nStatus);
            else if (nPid > 0)
                continue; // stopped or continued: not an end
            else
                end.nCode = 1; // lost: it can never be waited for again
            if (pExit)
                *pExit = end;
            delete aProcesses[i];
            aProcesses[i] = nullptr;
            return static_cast<int>(i);
        }
        if (s_nCaughtSignal != 0 || (nTimeoutMs >= 0 && nWaited >= nTimeoutMs))
            return -2;
        SleepMs(nSleep);
        nWaited += nSleep;
        nSleep = nSleep < 4 ? nSleep * 2 : 4;
    }
}

void PlatformKillProcess(PlatformProcess hProcess)
{
    if (hProcess)
        kill(hProcess->nPid, SIGKILL);
}

bool PlatformInterruptProcess(PlatformProcess hProcess)
{
    return hProcess && kill(hProcess->nPid, SIGINT) == 0;
}

void PlatformInterruptSelf(bool bTerminate)
{
    raise(bTerminate ? SIGTERM : SIGINT);
}

bool PlatformProcessExists(unsigned long nProcessId)
{
    return kill(static_cast<pid_t>(nProcessId), 0) == 0 || errno == EPERM;
}

void PlatformEndWithParent(unsigned long nParentId)
{
#if defined(__linux__)
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    if (static_cast<unsigned long>(getppid()) != nParentId)
        _exit(128 + SIGKILL);
}

void PlatformCatchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking call returns so the program can look
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int PlatformCaughtInterrupt()
{
    const int nSignal = s_nCaughtSignal;
    return nSignal == 0 ? 0 : 128 + nSignal;
}

const char* PlatformSignalName(int nCode)
{
    switch (nCode)
    {
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGINT:
        return "SIGINT";
    case SIGKILL:
        return "SIGKILL";
    case SIGSEGV:
        return "SIGSEGV";
    case SIGTERM:
        return "SIGTERM";
    case SIGTRAP:
        return "SIGTRAP";
    case SIGPIPE:
        return "SIGPIPE";
    default:
        return nullptr;
    }
}

bool PlatformGetProgramPath(char* pszOut, size_t nSize)
{
    if (!pszOut || nSize == 0)
        return false;
#if defined(__APPLE__)
    uint32_t nBufferSize = static_cast<uint32_t>(nSize);
    return _NSGetExecutablePath(pszOut, &nBufferSize) == 0;
#else
    const ssize_t nLength = readlink("/proc/self/exe", pszOut, nSize);
    if (nLength <= 0 || static_cast<size_t>(nLength) >= nSize)
        return false;
    pszOut[nLength] = '\0';
    return true;
#endif
}

bool PlatformIsTerminal(std::FILE* pStream)
{
    return pStream && isatty(fileno(pStream)) == 1;
}

bool PlatformSetBinaryMode(std::FILE* pStream)
{
    return pStream != nullptr;
}

bool PlatformSeekFile(std::FILE* pStream, long long nOffset, int nWhence)
{
    return fseeko(pStream, static_cast<off_t>(nOffset), nWhence) == 0;
}

long long PlatformTellFile(std::FILE* pStream)
{
    return static_cast<long long>(ftello(pStream));
}

unsigned long PlatformGetProcessId()
{
    return static_cast<unsigned long>(getpid());
}

void PlatformReturnLargeBlocks(unsigned long nBytes)
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(nBytes));
#else
    (void)nBytes;
#endif
}

void PlatformReleaseFreeMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void PlatformKeepFreedMemory(size_t nBytes)
{
#if defined(__GLIBC__)
    const int nLimit = static_cast<int>(std::min<size_t>(nBytes, 1u << 30));
    mallopt(M_TRIM_THRESHOLD, nLimit);
    // Blocks below the limit come from the heap, so they are reused too; larger ones stay mapped
    // apart and go back when freed.
    mallopt(M_MMAP_THRESHOLD, std::min(nLimit, 16 << 20));
#else
    (void)nBytes;
#endif
}

bool PlatformGetFileStamp(const char* pszPath, PlatformFileStamp* pStamp)
{
    struct stat info;
    if (stat(pszPath, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    pStamp->nSize = static_cast<unsigned long long>(info.st_size);
#if defined(__APPLE__)
    pStamp->nWriteTimeNs =
        static_cast<long long>(info.st_mtimespec.tv_sec) * 1000000000LL + info.st_mtimespec.tv_nsec;
#else
    pStamp->nWriteTimeNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
#endif
#if defined(__APPLE__)
    pStamp->nChangeTimeNs =
        static_cast<long long>(info.st_ctimespec.tv_sec) * 1000000000LL + info.st_ctimespec.tv_nsec;
#else
    pStamp->nChangeTimeNs = static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL + info.st_ctim.tv_nsec;
#endif
    pStamp->nDevice = static_cast<unsigned long long>(info.st_dev);
    pStamp->nFileId = static_cast<unsigned long long>(info.st_ino);
    return true;
}

long long PlatformNowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
