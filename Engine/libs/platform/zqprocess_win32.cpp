// Win32 implementation of the process routines: the Windows functions themselves.
#include "zqprocess.h"

#include <windows.h>

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
        bStarted = CreateProcessA(pszProgram, &sLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &info);
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

int PlatformWaitAnyProcess(PlatformProcess* aProcesses, size_t nCount, int* pnExitStatus)
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
    const DWORD nWait = WaitForMultipleObjects(nHandles, aHandles, FALSE, INFINITE);
    if (nWait >= WAIT_OBJECT_0 + nHandles)
        return -1;
    const size_t nIndex = aIndex[nWait - WAIT_OBJECT_0];
    DWORD nExit = 0;
    if (!GetExitCodeProcess(aProcesses[nIndex]->hProcess, &nExit))
        nExit = 1;
    if (pnExitStatus)
        *pnExitStatus = static_cast<int>(nExit);
    CloseHandle(aProcesses[nIndex]->hProcess);
    delete aProcesses[nIndex];
    aProcesses[nIndex] = nullptr;
    return static_cast<int>(nIndex);
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

unsigned long PlatformGetProcessId()
{
    return static_cast<unsigned long>(GetCurrentProcessId());
}
