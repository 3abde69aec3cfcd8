#include "test_support.h"
#include "zqplatform.h"
#include "zqstrutils.h"

#include <csignal>
#include <cstring>
#include <thread>

namespace
{
const char* const kThisFile = "Engine/sdk/src/zqstrutils";
const std::string kCpyTruncated =
    "nBufferChars > ZQStrLen(pSrc)|ZQStrCpy|ZQStrCpy : Copy source is truncated";
const std::string kCatTruncated = "catLen >= ZQStrLen(pSrc)|ZQStrCat|ZQStrCat : Copy source is truncated";

std::string Invalid(const std::string& sFunction, const char* pszWhat)
{
    return ZQ_FORCED_ASSERT_TEXT "|" + sFunction + "|" + sFunction + ": Invalid " + pszWhat + " provided";
}

// The reports since the last call; each must come from the string routines' own file.
Texts Reports(CRecordingTripwire& tripwire)
{
    for (const Report& report : tripwire.m_Reports)
        EXPECT_EQ(report.sFile, kThisFile);
    return tripwire.Take();
}

// Goes through the variable argument list without the format check, so that a null format compiles.
int CallVSNPrintF(char* pDest, size_t nSize, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const int nCount = ZQVSNPrintF(pDest, nSize, pszFormat, args);
    va_end(args);
    return nCount;
}
} // namespace

TEST(StrCpy, CopiesCutsAndReportsTruncationOncePerCall)
{
    CRecordingTripwire tripwire;
    char szBuf[10];
    ZQStrCpy(szBuf, "abcdefghijkl", sizeof(szBuf));
    EXPECT_STREQ("abcdefghi", szBuf);
    EXPECT_EQ(Reports(tripwire), Texts{kCpyTruncated});
    ZQStrCpy(szBuf, "abcdefghijkl", sizeof(szBuf));
    EXPECT_EQ(Reports(tripwire), Texts{kCpyTruncated});

    ZQStrCpy(szBuf, "123456789", 10);
    EXPECT_STREQ("123456789", szBuf);
    EXPECT_TRUE(Reports(tripwire).empty());
    ZQStrCpy(szBuf, "123456789", 9);
    EXPECT_STREQ("12345678", szBuf);
    EXPECT_EQ(Reports(tripwire), Texts{kCpyTruncated});

    // The rest of the buffer is filled with NUL bytes.
    ZQStrCpy(szBuf, "ab", sizeof(szBuf));
    EXPECT_EQ(0, std::memcmp(szBuf, "ab\0\0\0\0\0\0\0\0", sizeof(szBuf)));

    ZQStrCpy(nullptr, "ab", 4);
    ZQStrCpy(szBuf, "xy", 0);
    EXPECT_STREQ("ab", szBuf);
    ZQStrCpy(szBuf, nullptr, sizeof(szBuf));
    EXPECT_STREQ("", szBuf);
    EXPECT_EQ(Reports(tripwire),
              (Texts{Invalid("ZQStrCpy", "destination buffer"), Invalid("ZQStrCpy", "destination buffer"),
                     Invalid("ZQStrCpy", "source string")}));
}

TEST(StrCat, AppendsWithinTheBuffer)
{
    CRecordingTripwire tripwire;
    char szBuf[8] = "abc";
    ZQStrCat(szBuf, "def", 6);
    EXPECT_STREQ("abcde", szBuf);
    EXPECT_EQ(Reports(tripwire), Texts{kCatTruncated});
    std::strcpy(szBuf, "abc");
    ZQStrCat(szBuf, "def", 7);
    EXPECT_STREQ("abcdef", szBuf);
    EXPECT_TRUE(Reports(tripwire).empty());

    ZQStrCat(nullptr, "def", 7);
    ZQStrCat(szBuf, nullptr, 7);
    EXPECT_STREQ("abcdef", szBuf);
    EXPECT_EQ(Reports(tripwire),
              (Texts{Invalid("ZQStrCat", "destination buffer"), Invalid("ZQStrCat", "source string")}));
}

TEST(StrCmp, OrdersTextsAndNulls)
{
    CRecordingTripwire tripwire;
    EXPECT_EQ(0, ZQStrICmp("Game.PROJ00", "gAME.proj00"));
    EXPECT_TRUE(ZQStrIEquals("Fx00a", "FX00A"));
    EXPECT_LT(ZQStrICmp("abc", "ABD"), 0);
    EXPECT_TRUE(Reports(tripwire).empty());
    EXPECT_EQ(-1, ZQStrICmp(nullptr, "a"));
    EXPECT_EQ(Reports(tripwire), Texts{"pszStr1 && pszStr2|ZQStrICmp|Error: Invalid input to ZQStrICmp"});
    EXPECT_EQ(1, ZQStrICmp("a", nullptr));
    EXPECT_EQ(0, ZQStrICmp(nullptr, nullptr));
    EXPECT_FALSE(ZQStrIEquals(nullptr, ""));
    tripwire.Take();

    EXPECT_EQ(-1, ZQStrCmp("a", "\xE9")); // unsigned bytes
    EXPECT_EQ(1, ZQStrCmp("abcd", "abc"));
    EXPECT_EQ(-1, ZQStrCmp("ABC", "abc"));
    EXPECT_EQ(1, ZQStrCmp("zz", "za"));
    EXPECT_EQ(0, ZQStrCmp("abc", "abc"));
    EXPECT_TRUE(Reports(tripwire).empty());
    EXPECT_EQ(1, ZQStrCmp("a", nullptr));
    EXPECT_EQ(Reports(tripwire), Texts{"pszStr1 && pszStr2|ZQStrCmp|Error: Invalid input to ZQStrCmp"});
    EXPECT_EQ(-1, ZQStrCmp(nullptr, "a"));
    EXPECT_EQ(0, ZQStrCmp(nullptr, nullptr));
}

TEST(VSNPrintF, CutsWithoutReportAndAnswersThePlatformCount)
{
    CRecordingTripwire tripwire;
    char szBuf[8];
    EXPECT_EQ(3, ZQSNPrintF(szBuf, 5, "%d", 123));
    EXPECT_STREQ("123", szBuf);
    EXPECT_EQ(5, ZQSNPrintF(szBuf, 5, "%s", "abcde")); // fits only without its terminator
    EXPECT_STREQ("abcd", szBuf);
    EXPECT_LT(ZQSNPrintF(szBuf, 5, "%s-%d", "abc", 42), 0);
    EXPECT_STREQ("abc-", szBuf);
    EXPECT_TRUE(Reports(tripwire).empty());

    EXPECT_EQ(-1, CallVSNPrintF(nullptr, 5, "x"));
    EXPECT_EQ(-1, CallVSNPrintF(szBuf, 0, "x"));
    EXPECT_EQ(0, CallVSNPrintF(szBuf, sizeof(szBuf), nullptr));
    EXPECT_STREQ("", szBuf);
    EXPECT_EQ(Reports(tripwire),
              (Texts{Invalid("ZQVSNPrintF", "destination buffer"),
                     Invalid("ZQVSNPrintF", "destination buffer"), Invalid("ZQVSNPrintF", "source string")}));
}

TEST(AssertReporting, IgnoreAlwaysSilencesOnlyThatSite)
{
    CRecordingTripwire tripwire(ZQASSERT_IGNORE_ALWAYS);
    char szBuf[4];
    ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
    EXPECT_EQ(Reports(tripwire), Texts{kCpyTruncated});
    ZQStrCpy(szBuf, "ghijkl", sizeof(szBuf));
    EXPECT_STREQ("ghi", szBuf); // the fallback still applies
    EXPECT_TRUE(Reports(tripwire).empty());

    std::strcpy(szBuf, "ab");
    ZQStrCat(szBuf, "cdef", sizeof(szBuf));
    EXPECT_STREQ("abc", szBuf);
    ZQStrCpy(szBuf, nullptr, sizeof(szBuf));
    EXPECT_EQ(Reports(tripwire), (Texts{kCatTruncated, Invalid("ZQStrCpy", "source string")}));
}

TEST(AssertReporting, HeldReportsAreCountedPerThreadAndSilenceNothing)
{
    CRecordingTripwire tripwire(ZQASSERT_IGNORE_ALWAYS);
    char szBuf[4];
    {
        CZQReportHold outer;
        ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
        {
            CZQReportHold inner;
            ZQStrCat(szBuf, "xyz", sizeof(szBuf));
            EXPECT_EQ(inner.GetHeld(), 1u);
        }
        EXPECT_STREQ("abc", szBuf);
        // Another thread's reports go on to the manager.
        std::thread([&] { ZQStrCpy(szBuf, "ghijkl", sizeof(szBuf)); }).join();
        EXPECT_EQ(outer.GetHeld(), 2u);
    }
    EXPECT_EQ(Reports(tripwire), Texts{kCpyTruncated});
    // The site the other thread silenced stays silent; the one only held reports.
    ZQStrCpy(szBuf, "mnopqr", sizeof(szBuf));
    std::strcpy(szBuf, "ab");
    ZQStrCat(szBuf, "cdef", sizeof(szBuf));
    EXPECT_EQ(Reports(tripwire), Texts{kCatTruncated});
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
    SetEnv("TRIPWIRE_ANSWER", "continue");
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
    SetEnv("TRIPWIRE_ANSWER", "abort"); // read once: changes nothing now
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
            SetEnv("TRIPWIRE_ANSWER", "abort");
            ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
        },
        "assertion failed in ZQStrCpy");
#if !defined(_WIN32)
    EXPECT_EXIT(
        {
            CRecordingTripwire tripwire(ZQASSERT_BREAK);
            ZQStrCpy(szBuf, "abcdef", sizeof(szBuf));
        },
        testing::KilledBySignal(SIGTRAP), "");
#endif
}
