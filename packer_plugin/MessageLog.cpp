#include "MessageLog.h"

#include "IPacker.h"
#include "zqstrutils.h"

#define ZQ_THIS_FILE "packer_plugin/MessageLog"

namespace
{
constexpr size_t kMessageLineSize = 512;

// The sink of the current pack run; module-wide, never owned.
IPackerMessageSink* s_pMessageSink = nullptr;
} // namespace

void SetMessageSink(IPackerMessageSink* pSink)
{
    s_pMessageSink = pSink;
}

void SetTaskName(const char* pszTask)
{
    if (!s_pMessageSink)
        return;
    s_pMessageSink->SetTask(pszTask);
    s_pMessageSink->SetSubTask(pszTask);
}

bool EnsureWritable(const char* pszPath)
{
    if (!s_pMessageSink)
        return false;
    return s_pMessageSink->MakeFileWritable(pszPath);
}

void ReportMessage(const char* pszFormat, int nLevel, const char* pszPrefix, va_list args)
{
    if (!s_pMessageSink)
        return;

    // An over-long expansion is cut here without a report; only the prefix can make the line
    // overflow, and that is reported by ZQStrCat.
    char szMessage[kMessageLineSize];
    szMessage[0] = '\0';
    ZQVSNPrintF(szMessage, sizeof(szMessage), pszFormat, args);

    char szLine[kMessageLineSize];
    szLine[0] = '\0';
    ZQStrCat(szLine, pszPrefix, sizeof(szLine));
    ZQStrCat(szLine, szMessage, sizeof(szLine));

    s_pMessageSink->LogMessage(nLevel, szLine);
}

void ReportError(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ReportMessage(pszFormat, PACKER_MSG_ERROR, "Error: ", args);
    va_end(args);
}

void ReportProgress(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    ReportMessage(pszFormat, PACKER_MSG_PROGRESS, "", args);
    va_end(args);
}
