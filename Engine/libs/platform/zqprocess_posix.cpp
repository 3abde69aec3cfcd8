#include "zqprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

int PlatformWaitAnyProcess(PlatformProcess* aProcesses, size_t nCount, int* pnExitStatus)
{
    if (!aProcesses || nCount == 0 || nCount > PLATFORM_MAX_WAIT_PROCESSES)
        return -1;
    bool bAny = false;
    for (size_t i = 0; i < nCount; ++i)
        bAny = bAny || aProcesses[i];
    if (!bAny)
        return -1;
    for (;;)
    {
        int nStatus = 0;
        const pid_t nPid = waitpid(-1, &nStatus, 0);
        if (nPid < 0)
        {
            if (errno == EINTR)
                continue;
            return -1;
        }
        for (size_t i = 0; i < nCount; ++i)
        {
            if (!aProcesses[i] || aProcesses[i]->nPid != nPid)
                continue;
            int nExit = 0;
            if (WIFEXITED(nStatus))
                nExit = WEXITSTATUS(nStatus);
            else if (WIFSIGNALED(nStatus))
                nExit = 128 + WTERMSIG(nStatus);
            if (pnExitStatus)
                *pnExitStatus = nExit;
            delete aProcesses[i];
            aProcesses[i] = nullptr;
            return static_cast<int>(i);
        }
        // A child that is not among ours: already reaped, nothing more to do for it.
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

unsigned long PlatformGetProcessId()
{
    return static_cast<unsigned long>(getpid());
}
