// Win32 implementation of the process routines: the Windows functions themselves.
#include "zqprocess.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <new>
#include <string>

struct PlatformProcessData
{
    HANDLE hProcess;
};

namespace
{
// Appends one argument quoted the way the C runtime's command-line parser splits it again.
void AppendQuoted(std::string& sLine, const char* pszArg)
{
    if (!sLine.empty())
        sLine += ' ';
    const std::string sArg(pszArg);
    if (!sArg.empty() && sArg.find_first_of(" \t\n\v\"") == std::string::npos)
    {
        sLine += sArg;
        return;
    }
    sLine += '"';
    size_t nBackslashes = 0;
    for (const char c : sArg)
    {
        if (c == '\\')
        {
            ++nBackslashes;
            continue;
        }
        // Backslashes double only where a quote follows them.
        sLine.append(c == '"' ? nBackslashes * 2 + 1 : nBackslashes, '\\');
        nBackslashes = 0;
        sLine += c;
    }
    sLine.append(nBackslashes * 2, '\\');
    sLine += '"';
}

// The job that every started process joins: closing its last handle, which happens when this
// process ends however it ends, ends them all. Created at the first start; process-wide by nature.
HANDLE s_hJob = nullptr;

void JoinJob(HANDLE hProcess)
{
    if (!s_hJob)
    {
        s_hJob = CreateJobObjectA(nullptr, nullptr);
        if (!s_hJob)
            return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(s_hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    AssignProcessToJobObject(s_hJob, hProcess);
}

// The first console event caught, as the exit status it asks for.
volatile LONG s_nCaughtExit = 0;

BOOL WINAPI OnConsoleEvent(DWORD nEvent)
{
    const LONG nExit = nEvent == CTRL_C_EVENT ? 130 : 143;
    // The first event is handled by the program; a second one ends the process as usual.
    return InterlockedCompareExchange(&s_nCaughtExit, nExit, 0) == 0 ? TRUE : FALSE;
}

// An inheritable handle writing to pszFile (created or truncated), or the parent's handle.
HANDLE OpenRedirection(const char* pszFile, DWORD nStdHandle, bool* pbOwned)
{
    *pbOwned = false;
    if (!pszFile)
        return GetStdHandle(nStdHandle);
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = TRUE;
    HANDLE hFile = CreateFileA(pszFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return nullptr;
    *pbOwned = true;
    return hFile;
}
} // namespace

PlatformProcess PlatformStartProcess(const char* pszProgram, const char* const* apszArgs, size_t nArgs,
                                     const char* pszStdoutFile, const char* pszStderrFile)
{
    if (!pszProgram || (nArgs && !apszArgs))
        return nullptr;

    std::string sLine;
    AppendQuoted(sLine, pszProgram);
    for (size_t i = 0; i < nArgs; ++i)
        AppendQuoted(sLine, apszArgs[i]);

    bool bOwnsOut = false;
    bool bOwnsErr = false;
    HANDLE hOut = OpenRedirection(pszStdoutFile, STD_OUTPUT_HANDLE, &bOwnsOut);
    HANDLE hErr = OpenRedirection(pszStderrFile, STD_ERROR_HANDLE, &bOwnsErr);

    PROCESS_INFORMATION info = {};
    BOOL bStarted = FALSE;
    if ((hOut || !pszStdoutFile) && (hErr || !pszStderrFile))
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = hOut;
        startup.hStdError = hErr;
        bStarted = CreateProcessA(pszProgram, &sLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                  nullptr, &startup, &info);
        if (bStarted)
        {
            JoinJob(info.hProcess);
            ResumeThread(info.hThread);
        }
    }
    // The child holds its own copies; the parent's must go before the next child inherits them.
    if (bOwnsOut)
        CloseHandle(hOut);
    if (bOwnsErr)
        CloseHandle(hErr);
    if (!bStarted)
        return nullptr;
    CloseHandle(info.hThread);

    PlatformProcess hProcess = new (std::nothrow) PlatformProcessData{info.hProcess};
    if (!hProcess)
    {
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
    }
    return hProcess;
}

int PlatformWaitAnyProcessFor(PlatformProcess* aProcesses, size_t nCount, PlatformExit* pExit, int nTimeoutMs)
{
    if (!aProcesses || nCount == 0 || nCount > PLATFORM_MAX_WAIT_PROCESSES)
        return -1;
    HANDLE aHandles[PLATFORM_MAX_WAIT_PROCESSES];
    size_t aIndex[PLATFORM_MAX_WAIT_PROCESSES];
    DWORD nHandles = 0;
    for (size_t i = 0; i < nCount; ++i)
    {
        if (!aProcesses[i])
            continue;
        aHandles[nHandles] = aProcesses[i]->hProcess;
        aIndex[nHandles] = i;
        ++nHandles;
    }
    if (nHandles == 0)
        return -1;
    // Short slices, so that a caught console event ends the wait promptly.
    DWORD nWaited = 0;
    for (;;)
    {
        if (s_nCaughtExit != 0)
            return -2;
        const DWORD nSlice = 20;
        const DWORD nWait = WaitForMultipleObjects(nHandles, aHandles, FALSE, nSlice);
        if (nWait == WAIT_TIMEOUT)
        {
            nWaited += nSlice;
            if (nTimeoutMs >= 0 && nWaited >= static_cast<DWORD>(nTimeoutMs))
                return -2;
            continue;
        }
        if (nWait >= WAIT_OBJECT_0 + nHandles)
            return -1;
        const size_t nIndex = aIndex[nWait - WAIT_OBJECT_0];
        DWORD nExit = 0;
        if (!GetExitCodeProcess(aProcesses[nIndex]->hProcess, &nExit))
            nExit = 1;
        if (pExit)
        {
            pExit->bSignaled = false;
            pExit->nCode = static_cast<int>(nExit);
        }
        CloseHandle(aProcesses[nIndex]->hProcess);
        delete aProcesses[nIndex];
        aProcesses[nIndex] = nullptr;
        return static_cast<int>(nIndex);
    }
}

void PlatformKillProcess(PlatformProcess hProcess)
{
    if (hProcess)
        TerminateProcess(hProcess->hProcess, 137);
}

void PlatformInterruptSelf(bool bTerminate)
{
    // As the console would: the handler when it is installed and has caught nothing yet.
    const DWORD nEvent = bTerminate ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
    if (!OnConsoleEvent(nEvent))
        ExitProcess(bTerminate ? 143 : 130);
}

bool PlatformInterruptProcess(PlatformProcess)
{
    return false; // console events go to every process of a console or a process group
}

bool PlatformProcessExists(unsigned long nProcessId)
{
    HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(nProcessId));
    if (!hProcess)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool bRunning = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
    CloseHandle(hProcess);
    return bRunning;
}

void PlatformEndWithParent(unsigned long)
{
    // The parent's job object ends this process with it.
}

void PlatformCatchInterrupts()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int PlatformCaughtInterrupt()
{
    return static_cast<int>(s_nCaughtExit);
}

const char* PlatformSignalName(int nCode)
{
    switch (static_cast<DWORD>(nCode))
    {
    case 0xC0000005u:
        return "access violation";
    case 0xC00000FDu:
        return "stack overflow";
    case 0xC0000094u:
        return "integer division by zero";
    case 0xC000001Du:
        return "illegal instruction";
    case 0xC0000409u:
        return "stack buffer overrun";
    case 0x80000003u:
        return "breakpoint";
    default:
        return nullptr;
    }
}

bool PlatformGetProgramPath(char* pszOut, size_t nSize)
{
    if (!pszOut || nSize == 0 || nSize > MAXDWORD)
        return false;
    const DWORD nLength = GetModuleFileNameA(nullptr, pszOut, static_cast<DWORD>(nSize));
    return nLength > 0 && nLength < nSize;
}

bool PlatformIsTerminal(std::FILE* pStream)
{
    return pStream && _isatty(_fileno(pStream)) != 0;
}

bool PlatformSetBinaryMode(std::FILE* pStream)
{
    return pStream && _setmode(_fileno(pStream), _O_BINARY) != -1;
}

bool PlatformSeekFile(std::FILE* pStream, long long nOffset, int nWhence)
{
    return _fseeki64(pStream, nOffset, nWhence) == 0;
}

long long PlatformTellFile(std::FILE* pStream)
{
    return _ftelli64(pStream);
}

unsigned long PlatformGetProcessId()
{
    return static_cast<unsigned long>(GetCurrentProcessId());
}

void PlatformReturnLargeBlocks(unsigned long)
{
    // The Windows heap already serves very large blocks from the system and returns them when freed.
}

void PlatformReleaseFreeMemory()
{
    HeapCompact(GetProcessHeap(), 0);
}

void PlatformKeepFreedMemory(size_t)
{
    // The Windows heap keeps freed blocks for reuse on its own.
}

namespace
{
// 100-nanosecond ticks between 1601 and 1970.
constexpr long long FILETIME_UNIX_EPOCH = 116444736000000000LL;

long long FileTimeToNs(const FILETIME& time)
{
    const long long nTicks = static_cast<long long>(
        (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (nTicks - FILETIME_UNIX_EPOCH) * 100;
}
} // namespace

bool PlatformGetFileStamp(const char* pszPath, PlatformFileStamp* pStamp)
{
    HANDLE hFile =
        CreateFileA(pszPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic = {};
    const bool bOk = GetFileInformationByHandle(hFile, &info) != 0 &&
                     !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     GetFileInformationByHandleEx(hFile, FileBasicInfo, &basic, sizeof(basic)) != 0;
    CloseHandle(hFile);
    if (!bOk)
        return false;
    pStamp->nSize = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    pStamp->nWriteTimeNs = FileTimeToNs(info.ftLastWriteTime);
    pStamp->nChangeTimeNs = (basic.ChangeTime.QuadPart - FILETIME_UNIX_EPOCH) * 100;
    pStamp->nDevice = info.dwVolumeSerialNumber;
    pStamp->nFileId = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

long long PlatformNowNs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeToNs(now);
}
