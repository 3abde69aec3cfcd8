#include "itripwiremgr.h"
#include "zqplatform.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char* const kThisFile = "Engine/sdk/src/zqstrutils";
const char* const kCpyTruncated = "ZQStrCpy : Copy source is truncated";
const char* const kCatTruncated = "ZQStrCat : Copy source is truncated";

struct Report
{
    std::string sExpression;
    std::string sFunction;
    std::string sMessage;
};

// Records every report and answers each with one code.
class CRecordingMgr final : public ITripwireMgr
{
public:
    explicit CRecordingMgr(int nAnswer) : m_nAnswer(nAnswer) { ZQSetAssertManagerForTesting(this); }
    ~CRecordingMgr() { ZQSetAssertManagerForTesting(nullptr); }

    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int nResult) override { m_nAnswer = nResult; }
    int GetDefaultAnswer() override { return m_nAnswer; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return static_cast<unsigned>(m_reports.size()); }
    void ResetReportCount() override { m_reports.clear(); }
    int HandleAssert(const char* pszExpression, const char* pszFile, int, const char* pszFunction,
                     const char* pszMessage, va_list*) override
    {
        EXPECT_STREQ(kThisFile, pszFile);
        m_reports.push_back({pszExpression, pszFunction, pszMessage});
        return m_nAnswer;
    }

    // Expects exactly one report since the last call, with these texts.
    void ExpectOne(const char* pszExpression, const char* pszFunction, const char* pszMessage)
    {
        ASSERT_EQ(1u, m_reports.size()) << pszMessage;
        EXPECT_EQ(pszExpression, m_reports[0].sExpression);
        EXPECT_EQ(pszFunction, m_reports[0].sFunction);
        EXPECT_EQ(pszMessage, m_reports[0].sMessage);
        m_reports.clear();
    }

    std::vector<Report> m_reports;

private:
    int m_nAnswer;
};

// Goes through the variable argument list without the format check, so that a null format compiles.
int CallVSNPrintF(char* pDest, size_t nSize, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const int nCount = ZQVSNPrintF(pDest, nSize, pszFormat, args);
    va_end(args);
    return nCount;
}

void SetEnvironment(const char* pszName, const char* pszValue)
{
#if defined(_WIN32)
    _putenv_s(pszName, pszValue);
#else
    setenv(pszName, pszValue, 1);
#endif
}
} // namespace

TEST(StrCpy, CopiesCutsAndReportsTruncationOncePerCall)
{
    CRecordingMgr mgr(0);
    char szBuf[10];
    ZQStrCpy(szBuf, "abcdefghijkl", sizeof(szBuf));
    EXPECT_STREQ("abcdefghi", szBuf);
    mgr.ExpectOne("nBufferChars > ZQStrLen(pSrc)", "ZQStrCpy", kCpyTruncated);
    ZQStrCpy(szBuf, "abcdefghijkl", sizeof(szBuf));
    mgr.ExpectOne("nBufferChars > ZQStrLen(pSrc)", "ZQStrCpy", kCpyTruncated);

    ZQStrCpy(szBuf, "123456789", 10);
    EXPECT_STREQ("123456789", szBuf);
    EXPECT_TRUE(mgr.m_reports.empty());
    ZQStrCpy(szBuf, "123456789", 9);
    EXPECT_STREQ("12345678", szBuf);
    mgr.ExpectOne("nBufferChars > ZQStrLen(pSrc)", "ZQStrCpy", kCpyTruncated);

    // The rest of the buffer is filled with NUL bytes.
    ZQStrCpy(szBuf, "ab", sizeof(szBuf));
    EXPECT_EQ(0, std::memcmp(szBuf, "ab\0\0\0\0\0\0\0\0", sizeof(szBuf)));

    ZQStrCpy(nullptr, "ab", 4);
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQStrCpy", "ZQStrCpy: Invalid destination buffer provided");
    ZQStrCpy(szBuf, "xy", 0);
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQStrCpy", "ZQStrCpy: Invalid destination buffer provided");
    EXPECT_STREQ("ab", szBuf);
    ZQStrCpy(szBuf, nullptr, sizeof(szBuf));
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQStrCpy", "ZQStrCpy: Invalid source string provided");
    EXPECT_STREQ("", szBuf);
}

TEST(StrCat, AppendsWithinTheBuffer)
{
    CRecordingMgr mgr(0);
    char szBuf[8] = "abc";
    ZQStrCat(szBuf, "def", 6);
    EXPECT_STREQ("abcde", szBuf);
    mgr.ExpectOne("catLen >= ZQStrLen(pSrc)", "ZQStrCat", kCatTruncated);
    std::strcpy(szBuf, "abc");
    ZQStrCat(szBuf, "def", 7);
    EXPECT_STREQ("abcdef", szBuf);
    EXPECT_TRUE(mgr.m_reports.empty());

    ZQStrCat(nullptr, "def", 7);
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQStrCat", "ZQStrCat: Invalid destination buffer provided");
    ZQStrCat(szBuf, nullptr, 7);
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQStrCat", "ZQStrCat: Invalid source string provided");
    EXPECT_STREQ("abcdef", szBuf);
}

TEST(StrCmp, OrdersTextsAndNulls)
{
    CRecordingMgr mgr(0);
    EXPECT_EQ(0, ZQStrICmp("Game.PROJ00", "gAME.proj00"));
    EXPECT_TRUE(ZQStrIEquals("Fx00a", "FX00A"));
    EXPECT_LT(ZQStrICmp("abc", "ABD"), 0);
    EXPECT_TRUE(mgr.m_reports.empty());
    EXPECT_EQ(-1, ZQStrICmp(nullptr, "a"));
    mgr.ExpectOne("pszStr1 && pszStr2", "ZQStrICmp", "Error: Invalid input to ZQStrICmp");
    EXPECT_EQ(1, ZQStrICmp("a", nullptr));
    EXPECT_EQ(0, ZQStrICmp(nullptr, nullptr));
    EXPECT_FALSE(ZQStrIEquals(nullptr, ""));
    mgr.m_reports.clear();

    EXPECT_EQ(-1, ZQStrCmp("a", "\xE9")); // unsigned bytes
    EXPECT_EQ(1, ZQStrCmp("abcd", "abc"));
    EXPECT_EQ(-1, ZQStrCmp("ABC", "abc"));
    EXPECT_EQ(1, ZQStrCmp("zz", "za"));
    EXPECT_EQ(0, ZQStrCmp("abc", "abc"));
    EXPECT_TRUE(mgr.m_reports.empty());
    EXPECT_EQ(1, ZQStrCmp("a", nullptr));
    mgr.ExpectOne("pszStr1 && pszStr2", "ZQStrCmp", "Error: Invalid input to ZQStrCmp");
    EXPECT_EQ(-1, ZQStrCmp(nullptr, "a"));
    EXPECT_EQ(0, ZQStrCmp(nullptr, nullptr));
}

TEST(VSNPrintF, CutsWithoutReportAndAnswersThePlatformCount)
{
    CRecordingMgr mgr(0);
    char szBuf[8];
    EXPECT_EQ(3, ZQSNPrintF(szBuf, 5, "%d", 123));
    EXPECT_STREQ("123", szBuf);
    EXPECT_EQ(5, ZQSNPrintF(szBuf, 5, "%s", "abcde")); // fits only without its terminator
    EXPECT_STREQ("abcd", szBuf);
    EXPECT_LT(ZQSNPrintF(szBuf, 5, "%s-%d", "abc", 42), 0);
    EXPECT_STREQ("abc-", szBuf);
    EXPECT_TRUE(mgr.m_reports.empty());

    EXPECT_EQ(-1, CallVSNPrintF(nullptr, 5, "x"));
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQVSNPrintF", "ZQVSNPrintF: Invalid destination buffer provided");
    EXPECT_EQ(-1, CallVSNPrintF(szBuf, 0, "x"));
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQVSNPrintF", "ZQVSNPrintF: Invalid destination buffer provided");
    EXPECT_EQ(0, CallVSNPrintF(szBuf, sizeof(szBuf), nullptr));
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQVSNPrintF", "ZQVSNPrintF: Invalid source string provided");
    EXPECT_STREQ("", szBuf);
}

TEST(AssertReporting, IgnoreAlwaysSilencesOnlyThatSite)
{
    CRecordingMgr mgr(ZQASSERT_IGNORE_ALWAYS);
    char szBuf[4];
    ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
    mgr.ExpectOne("nBufferChars > ZQStrLen(pSrc)", "ZQStrCpy", kCpyTruncated);
    ZQStrCpy(szBuf, "ghijkl", sizeof(szBuf));
    EXPECT_STREQ("ghi", szBuf); // the fallback still applies
    EXPECT_TRUE(mgr.m_reports.empty());

    std::strcpy(szBuf, "ab");
    ZQStrCat(szBuf, "cdef", sizeof(szBuf));
    EXPECT_STREQ("abc", szBuf);
    mgr.ExpectOne("catLen >= ZQStrLen(pSrc)", "ZQStrCat", kCatTruncated);
    ZQStrCpy(szBuf, nullptr, sizeof(szBuf));
    mgr.ExpectOne(ZQ_FORCED_ASSERT_TEXT, "ZQStrCpy", "ZQStrCpy: Invalid source string provided");
}

TEST(AssertReporting, WithoutTheLibraryEveryReportAnswers1103)
{
    ZQSetAssertLibraryForTesting("NoSuchTripwire.dll");
    EXPECT_EQ(nullptr, GetAssertManager());
    EXPECT_EQ(ZQASSERT_NO_MANAGER, ReportAssertion("x", "f", 1, "F", "m"));
    EXPECT_EQ(ZQASSERT_NO_MANAGER, ReportAssertion("x", "f", 2, "F", "m"));
    char szBuf[4];
    ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
    EXPECT_STREQ("abc", szBuf);
    EXPECT_EQ(-1, ZQStrICmp(nullptr, "a"));
    EXPECT_FALSE(PlatformIsLibraryLoaded("TripwireDLL.dll"));
}

TEST(AssertReporting, RealLibraryAnswersFromTheEnvironmentAndLoadsOnce)
{
    SetEnvironment("TRIPWIRE_ANSWER", "continue");
    ZQSetAssertLibraryForTesting(nullptr);
    EXPECT_FALSE(PlatformIsLibraryLoaded("TripwireDLL.dll"));
    testing::internal::CaptureStderr();
    // "continue" answers 0 and leaves a site reporting; the arguments after the message format it.
    EXPECT_EQ(0, ReportAssertion("a > b", kThisFile, 7, "Func", "value %d of %s", 5, "x"));
    EXPECT_EQ(0, ReportAssertion("a > b", kThisFile, 7, "Func", "value %d of %s", 6, "y"));
    EXPECT_EQ("Engine/sdk/src/zqstrutils(7): assertion failed in Func: a > b: value 5 of x\n"
              "Engine/sdk/src/zqstrutils(7): assertion failed in Func: a > b: value 6 of y\n",
              testing::internal::GetCapturedStderr());

    ITripwireMgr* pMgr = GetAssertManager();
    ASSERT_NE(nullptr, pMgr);
    EXPECT_EQ(pMgr, GetAssertManager());
    EXPECT_EQ(2u, pMgr->GetReportCount());
    SetEnvironment("TRIPWIRE_ANSWER", "abort"); // read once: changes nothing now
    pMgr->SetQuiet(true);
    EXPECT_EQ(0, ReportAssertion("x", kThisFile, 1, "F", "m"));

    // The library was loaded once: giving back one more reference than ours unloads it, and the
    // reporter neither uses the stale manager nor loads the library again.
    PlatformLibrary hLibrary = PlatformLoadLibrary("TripwireDLL.dll");
    ASSERT_NE(nullptr, hLibrary);
    PlatformFreeLibrary(hLibrary);
    PlatformFreeLibrary(hLibrary);
    ASSERT_FALSE(PlatformIsLibraryLoaded("TripwireDLL.dll"));
    EXPECT_EQ(nullptr, GetAssertManager());
    EXPECT_EQ(ZQASSERT_NO_MANAGER, ReportAssertion("x", kThisFile, 1, "F", "m"));
    EXPECT_FALSE(PlatformIsLibraryLoaded("TripwireDLL.dll"));
}

TEST(AssertReportingDeathTest, AbortAndBreakAnswersActAtTheSite)
{
    char szBuf[4];
    EXPECT_DEATH(
        {
            SetEnvironment("TRIPWIRE_ANSWER", "abort");
            ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
        },
        "assertion failed in ZQStrCpy");
#if !defined(_WIN32)
    EXPECT_EXIT(
        {
            CRecordingMgr mgr(ZQASSERT_BREAK);
            ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
        },
        testing::KilledBySignal(SIGTRAP), "");
#endif
}
