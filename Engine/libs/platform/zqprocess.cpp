// Process routines common to every platform, built on the platform's own.
#include "zqprocess.h"

int PlatformWaitAnyProcess(PlatformProcess* aProcesses, size_t nCount, int* pnExitStatus)
{
    for (;;)
    {
        PlatformExit end;
        const int nIndex = PlatformWaitAnyProcessFor(aProcesses, nCount, &end, -1);
        if (nIndex == -2)
            continue; // an interrupt the caller catches: the wait itself has no limit
        if (nIndex >= 0 && pnExitStatus)
            *pnExitStatus = end.bSignaled ? 128 + end.nCode : end.nCode;
        return nIndex;
    }
}
