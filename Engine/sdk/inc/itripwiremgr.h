// The manager object of the assertion library "TripwireDLL": the library exports
// `ITripwireMgr* GetTripwireMgr()` with C linkage. Engine code calls only HandleAssert, which must
// stay at virtual slot 7; the other operations serve tools that configure the library. There is
// no virtual destructor, so the slot numbering is the same with every compiler: the library owns
// its manager for the life of the process.
#pragma once

#include <cstdarg>

class ITripwireMgr
{
public:
    virtual int GetVersion() = 0;                   // slot 0
    virtual void SetDefaultAnswer(int nResult) = 0; // slot 1: the answer given to every report
    virtual int GetDefaultAnswer() = 0;             // slot 2
    virtual void SetQuiet(bool bQuiet) = 0;         // slot 3: quiet means no printed report
    virtual bool IsQuiet() = 0;                     // slot 4
    virtual unsigned GetReportCount() = 0;          // slot 5: reports handled so far
    virtual void ResetReportCount() = 0;            // slot 6
    // slot 7: one failed check; pArgs points at the arguments that follow the message.
    virtual int HandleAssert(const char* pszExpression, const char* pszFile, int nLine,
                             const char* pszFunction, const char* pszMessage, va_list* pArgs) = 0;

protected:
    ~ITripwireMgr() = default;
};

extern "C" typedef ITripwireMgr* (*PFN_GetTripwireMgr)();
