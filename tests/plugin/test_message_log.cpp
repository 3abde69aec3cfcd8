#include "MessageLog.h"
#include "plugin_test_support.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

namespace
{
// A text of n characters that never repeats within 26, so a cut at the wrong place shows.
std::string Letters(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}
} // namespace

TEST(MessageLog, ForwardsToTheStoredSink)
{
    CRecordingSink sink;
    SetMessageSink(&sink);
    SetTaskName("Packing Fx");
    ReportError("Unable to open file %s for writing", "D:\\fx\\smoke.Fx00p");
    ReportProgress("Packing Effect file: %s", "D:\\fx\\smoke.Fx00p");
    EXPECT_TRUE(EnsureWritable("D:\\fx\\smoke.Fx00p"));
    sink.m_bWritable = false;
    EXPECT_FALSE(EnsureWritable("out.Fx00p"));
    EXPECT_EQ(sink.m_Calls, (std::vector<std::string>{
                                "task:Packing Fx",
                                "subtask:Packing Fx",
                                "0:Error: Unable to open file D:\\fx\\smoke.Fx00p for writing",
                                "2:Packing Effect file: D:\\fx\\smoke.Fx00p",
                                "writable:D:\\fx\\smoke.Fx00p",
                                "writable:out.Fx00p",
                            }));
}

TEST(MessageLog, CutsLongLines)
{
    CRecordingTripwire tripwire;
    ZQSetAssertManagerForTesting(&tripwire);
    CRecordingSink sink;
    SetMessageSink(&sink);

    // The expansion itself is cut silently.
    const std::string s600 = Letters(600);
    ReportProgress("%s", s600.c_str());
    ASSERT_EQ(sink.m_Calls.size(), 1u);
    EXPECT_EQ(sink.m_Calls[0], "2:" + s600.substr(0, 511));
    EXPECT_TRUE(tripwire.m_Reports.empty());

    // 7 + 504 characters fill the line exactly; one more overflows beside the prefix.
    ReportError("%s", Letters(504).c_str());
    EXPECT_EQ(sink.m_Calls[1], "0:Error: " + Letters(504));
    EXPECT_TRUE(tripwire.m_Reports.empty());
    ReportError("%s", Letters(505).c_str());
    EXPECT_EQ(sink.m_Calls[2], "0:Error: " + Letters(504));
    ASSERT_EQ(tripwire.m_Reports.size(), 1u);
    EXPECT_EQ(tripwire.m_Reports[0].sExpression, "catLen >= ZQStrLen(pSrc)");
    EXPECT_EQ(tripwire.m_Reports[0].sFunction, "ZQStrCat");
    ZQSetAssertManagerForTesting(nullptr);
}

TEST(MessageLog, WithoutSinkNothingIsCalled)
{
    CRecordingSink sink;
    EXPECT_FALSE(EnsureWritable("a.Fx00p"));
    SetMessageSink(&sink);
    SetMessageSink(nullptr);
    SetTaskName("Packing Fx");
    ReportError("Unable to open file %s for writing", "a");
    ReportProgress("%s", "b");
    EXPECT_FALSE(EnsureWritable("a.Fx00p"));
    EXPECT_TRUE(sink.m_Calls.empty());
}
