#include "zqstrutils.h"

#include "itripwiremgr.h"
#include "zqplatform.h"

#include <cstdlib>
#include <cstring>

#define ZQ_THIS_FILE "Engine/sdk/src/zqstrutils"

namespace
{
const char* const kDefaultAssertLibrary = "TripwireDLL.dll";

// The reporter's module-wide state: the manager (null until found), whether loading the library
// was tried, and which library that is.
ITripwireMgr* s_pAssertManager = nullptr;
bool s_bAssertLibraryTried = false;
bool s_bManagerFromTest = false;
char s_szAssertLibrary[PLATFORM_MAX_PATH] = "TripwireDLL.dll";
// Per thread: the holds open (CZQReportHold) and the reports they held back.
thread_local unsigned s_nHolds = 0;
thread_local unsigned s_nHeld = 0;

const char* OrEmpty(const char* psz)
{
    return psz ? psz : "";
}
} // namespace

size_t ZQStrLen(const char* pszStr)
{
    return pszStr ? std::strlen(pszStr) : 0;
}

void ZQStrCpy(char* pDest, const char* pSrc, size_t nBufferChars)
{
    if (!pDest || nBufferChars == 0)
    {
        ZQ_FORCED_ASSERT("ZQStrCpy", "ZQStrCpy: Invalid destination buffer provided");
        return;
    }
    if (!pSrc)
    {
        ZQ_FORCED_ASSERT("ZQStrCpy", "ZQStrCpy: Invalid source string provided");
        pSrc = "";
    }
    ZQ_CHECK(nBufferChars > ZQStrLen(pSrc), "ZQStrCpy", "ZQStrCpy : Copy source is truncated");

    // Like strncpy over size - 1 bytes: the tail is padded with NUL bytes.
    const size_t nLimit = nBufferChars - 1;
    const size_t nCopy = strnlen(pSrc, nLimit);
    std::memcpy(pDest, pSrc, nCopy);
    std::memset(pDest + nCopy, 0, nLimit - nCopy);
    pDest[nLimit] = '\0';
}

void ZQStrCat(char* pDest, const char* pSrc, size_t nBufferChars)
{
    if (!pDest || nBufferChars == 0)
    {
        ZQ_FORCED_ASSERT("ZQStrCat", "ZQStrCat: Invalid destination buffer provided");
        return;
    }
    if (!pSrc)
    {
        ZQ_FORCED_ASSERT("ZQStrCat", "ZQStrCat: Invalid source string provided");
        pSrc = "";
    }
    // The destination holds a terminated text shorter than the buffer (a caller's precondition);
    // strnlen keeps a broken caller from reading past the buffer.
    const size_t nDestLen = strnlen(pDest, nBufferChars - 1);
    const size_t nRoom = nBufferChars - nDestLen - 1;
    const size_t catLen = nRoom;
    ZQ_CHECK(catLen >= ZQStrLen(pSrc), "ZQStrCat", "ZQStrCat : Copy source is truncated");

    const size_t nCopy = strnlen(pSrc, nRoom);
    std::memcpy(pDest + nDestLen, pSrc, nCopy);
    pDest[nDestLen + nCopy] = '\0';
    pDest[nBufferChars - 1] = '\0';
}

namespace
{
// Shared null handling of the two comparisons: true when it decided the answer.
bool CompareNulls(const char* pszStr1, const char* pszStr2, int& nResult)
{
    if (pszStr1 && pszStr2)
        return false;
    nResult = (!pszStr1 && !pszStr2) ? 0 : (!pszStr1 ? -1 : 1);
    return true;
}
} // namespace

int ZQStrICmp(const char* pszStr1, const char* pszStr2)
{
    int nResult = 0;
    if (!ZQ_CHECK(pszStr1 && pszStr2, "ZQStrICmp", "Error: Invalid input to ZQStrICmp"))
    {
        CompareNulls(pszStr1, pszStr2, nResult);
        return nResult;
    }
    return PlatformStrICmp(pszStr1, pszStr2);
}

int ZQStrCmp(const char* pszStr1, const char* pszStr2)
{
    int nResult = 0;
    if (!ZQ_CHECK(pszStr1 && pszStr2, "ZQStrCmp", "Error: Invalid input to ZQStrCmp"))
    {
        CompareNulls(pszStr1, pszStr2, nResult);
        return nResult;
    }
    const unsigned char* p1 = reinterpret_cast<const unsigned char*>(pszStr1);
    const unsigned char* p2 = reinterpret_cast<const unsigned char*>(pszStr2);
    for (;; ++p1, ++p2)
    {
        if (*p1 < *p2)
            return -1;
        if (*p1 > *p2)
            return 1;
        if (*p1 == 0)
            return 0;
    }
}

bool ZQStrIEquals(const char* pszStr1, const char* pszStr2)
{
    return ZQStrICmp(pszStr1, pszStr2) == 0;
}

int ZQVSNPrintF(char* pDest, size_t nBufferChars, const char* pszFormat, va_list args)
{
    if (!pDest || nBufferChars == 0)
    {
        ZQ_FORCED_ASSERT("ZQVSNPrintF", "ZQVSNPrintF: Invalid destination buffer provided");
        return -1;
    }
    if (!pszFormat)
    {
        ZQ_FORCED_ASSERT("ZQVSNPrintF", "ZQVSNPrintF: Invalid source string provided");
        pszFormat = "";
    }
    const int nCount = PlatformVSNPrintF(pDest, nBufferChars, pszFormat, args);
    pDest[nBufferChars - 1] = '\0';
    return nCount;
}

int ZQSNPrintF(char* pDest, size_t nBufferChars, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const int nCount = ZQVSNPrintF(pDest, nBufferChars, pszFormat, args);
    va_end(args);
    return nCount;
}

ITripwireMgr* GetAssertManager()
{
    if (s_pAssertManager)
    {
        if (s_bManagerFromTest || PlatformIsLibraryLoaded(s_szAssertLibrary))
            return s_pAssertManager;
        return nullptr;
    }
    if (s_bAssertLibraryTried)
        return nullptr;

    s_bAssertLibraryTried = true;
    PlatformLibrary hLibrary = PlatformLoadLibrary(s_szAssertLibrary);
    if (!hLibrary)
        return nullptr;

    // The library stays loaded for the life of the process once it has given a manager.
    auto pfnGetMgr = reinterpret_cast<PFN_GetTripwireMgr>(PlatformGetProcAddress(hLibrary, "GetTripwireMgr"));
    if (pfnGetMgr)
    {
        s_pAssertManager = pfnGetMgr();
        if (s_pAssertManager)
            return s_pAssertManager;
    }
    PlatformFreeLibrary(hLibrary);
    return nullptr;
}

int ReportAssertion(const char* pszExpression, const char* pszFile, int nLine, const char* pszFunction,
                    const char* pszMessage, ...)
{
    if (s_nHolds > 0)
    {
        ++s_nHeld;
        return ZQASSERT_NO_MANAGER;
    }
    ITripwireMgr* pManager = GetAssertManager();
    if (!pManager)
        return ZQASSERT_NO_MANAGER;

    va_list args;
    va_start(args, pszMessage);
    const int nResult = pManager->HandleAssert(OrEmpty(pszExpression), OrEmpty(pszFile), nLine,
                                               OrEmpty(pszFunction), OrEmpty(pszMessage), &args);
    va_end(args);
    return nResult;
}

CZQReportHold::CZQReportHold() : m_nHeldBefore(s_nHeld)
{
    ++s_nHolds;
}

CZQReportHold::~CZQReportHold()
{
    --s_nHolds;
}

unsigned CZQReportHold::GetHeld() const
{
    return s_nHeld - m_nHeldBefore;
}

void ZQHandleAssertResult(int nResult, bool& bIgnoreAlways)
{
    switch (nResult)
    {
    case ZQASSERT_BREAK:
        PlatformDebugBreak();
        break;
    case ZQASSERT_ABORT:
        std::abort();
    case ZQASSERT_IGNORE_ALWAYS:
        bIgnoreAlways = true;
        break;
    default:
        break;
    }
}

void ZQSetAssertManagerForTesting(ITripwireMgr* pManager)
{
    s_pAssertManager = pManager;
    s_bManagerFromTest = pManager != nullptr;
    s_bAssertLibraryTried = pManager != nullptr;
}

void ZQSetAssertLibraryForTesting(const char* pszLibraryName)
{
    // Kept as a copy: the caller's text need not outlive the call.
    const char* pszName = pszLibraryName ? pszLibraryName : kDefaultAssertLibrary;
    const size_t nCopy = strnlen(pszName, sizeof(s_szAssertLibrary) - 1);
    std::memcpy(s_szAssertLibrary, pszName, nCopy);
    s_szAssertLibrary[nCopy] = '\0';
    s_pAssertManager = nullptr;
    s_bManagerFromTest = false;
    s_bAssertLibraryTried = false;
}
