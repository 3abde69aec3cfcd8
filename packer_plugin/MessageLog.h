// The message log: the one channel from a pack run to the host's message sink. Every routine does
// nothing (or answers false) while no sink is stored.
#pragma once

#include <cstdarg>

class IPackerMessageSink;

// Stores the sink of the current pack run (may be null); it stays stored until replaced.
void SetMessageSink(IPackerMessageSink* pSink);

// Shows the task name: the sink's SetTask, then SetSubTask with the same text.
void SetTaskName(const char* pszTask);

// Asks the host to make pszPath writable; false without a sink.
bool EnsureWritable(const char* pszPath);

// Expands the format into one line of at most 511 characters, prefix first, and logs it at nLevel.
void ReportMessage(const char* pszFormat, int nLevel, const char* pszPrefix, va_list args);

// Level 0 with the prefix "Error: ".
void ReportError(const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Level 2 without prefix.
void ReportProgress(const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
