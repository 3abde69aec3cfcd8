// Bounded, null-guarded string routines and the one assertion reporter that every engine
// library uses. Every guard reports through ReportAssertion and then carries on with a defined
// fallback; nothing here allocates or throws.
#pragma once

#include <cstdarg>
#include <cstddef>

class ITripwireMgr;

// Answers of an assertion report.
enum ZQAssertResult
{
    ZQASSERT_BREAK = 1100,         // break into the debugger, then go on
    ZQASSERT_ABORT = 1101,         // end the process at once
    ZQASSERT_IGNORE_ALWAYS = 1102, // silence this check site for the rest of the process
    ZQASSERT_NO_MANAGER = 1103,    // no assertion library: made by ReportAssertion itself
};

// Expression text of a check site that reports without a condition.
#define ZQ_FORCED_ASSERT_TEXT " [Forced Assert]"

size_t ZQStrLen(const char* pszStr);
void ZQStrCpy(char* pDest, const char* pSrc, size_t nBufferChars);
void ZQStrCat(char* pDest, const char* pSrc, size_t nBufferChars);
int ZQStrCmp(const char* pszStr1, const char* pszStr2);
int ZQStrICmp(const char* pszStr1, const char* pszStr2);
bool ZQStrIEquals(const char* pszStr1, const char* pszStr2);
int ZQVSNPrintF(char* pDest, size_t nBufferChars, const char* pszFormat, va_list args);
int ZQSNPrintF(char* pDest, size_t nBufferChars, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Hands one report to the assertion manager; ZQASSERT_NO_MANAGER when there is none. Any
// arguments after the message reach the manager as a variable argument list.
int ReportAssertion(const char* pszExpression, const char* pszFile, int nLine, const char* pszFunction,
                    const char* pszMessage, ...);

// The assertion library's manager, looked for at most once per process; null without it.
ITripwireMgr* GetAssertManager();

// Acts on a report's answer at a check site: break, abort, or set the site's ignore flag.
void ZQHandleAssertResult(int nResult, bool& bIgnoreAlways);

// One check site: reports a failed condition unless the site was silenced, then answers the
// condition so that the caller can take its fallback.
inline bool ZQCheckSite(bool bCondition, const char* pszExpression, const char* pszFile, int nLine,
                        const char* pszFunction, const char* pszMessage, bool& bIgnoreAlways)
{
    if (!bCondition && !bIgnoreAlways)
        ZQHandleAssertResult(ReportAssertion(pszExpression, pszFile, nLine, pszFunction, pszMessage),
                             bIgnoreAlways);
    return bCondition;
}

// Each expansion owns its own module-wide ignore flag (the lambda's static), so silencing one
// site never silences another.
#define ZQ_SITE_FLAG()                                                                                       \
    (                                                                                                        \
        []() -> bool&                                                                                        \
        {                                                                                                    \
            static bool s_bIgnoreAlways = false;                                                             \
            return s_bIgnoreAlways;                                                                          \
        }())

// Checks `expr`, reporting its own text; evaluates to the condition. The file is the including
// source's ZQ_THIS_FILE, e.g. #define ZQ_THIS_FILE "Engine/libs/zqamgr/zqanode".
#define ZQ_CHECK(expr, pszFunction, pszMessage)                                                              \
    ZQCheckSite(static_cast<bool>(expr), #expr, ZQ_THIS_FILE, __LINE__, pszFunction, pszMessage,             \
                ZQ_SITE_FLAG())

// As ZQ_CHECK, with the expression text given separately (where the code spells the condition
// through named constants but the report must show the arithmetic).
#define ZQ_CHECK_TEXT(expr, pszText, pszFunction, pszMessage)                                                \
    ZQCheckSite(static_cast<bool>(expr), pszText, ZQ_THIS_FILE, __LINE__, pszFunction, pszMessage,           \
                ZQ_SITE_FLAG())

// A site that reports without a condition.
#define ZQ_FORCED_ASSERT(pszFunction, pszMessage)                                                            \
    ((void)ZQCheckSite(false, ZQ_FORCED_ASSERT_TEXT, ZQ_THIS_FILE, __LINE__, pszFunction, pszMessage,        \
                       ZQ_SITE_FLAG()))

// Holds back the reports made on this thread while it lives: they are counted instead of handed to
// the manager, and no site is silenced by them. For work that is done again, reports and all, when
// its result is not kept. Holds nest.
class CZQReportHold
{
public:
    CZQReportHold();
    ~CZQReportHold();
    CZQReportHold(const CZQReportHold&) = delete;
    CZQReportHold& operator=(const CZQReportHold&) = delete;
    // The reports held back on this thread since this hold began.
    unsigned GetHeld() const;

private:
    unsigned m_nHeldBefore;
};

// Test support: route reports to a manager of the test's own (null restores the normal lookup),
// and change the library name that the lookup loads.
void ZQSetAssertManagerForTesting(ITripwireMgr* pManager);
void ZQSetAssertLibraryForTesting(const char* pszLibraryName);
