#include "plugin_test_support.h"

namespace
{
// n characters that repeat only every 26, so a cut in the wrong place shows.
std::string Letters(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}
} // namespace

TEST(MessageLog, ForwardsToTheStoredSinkOnly)
{
    EXPECT_FALSE(EnsureWritable("a.Fx00p")); // none stored at load
    CRecordingSink sink;
    SetMessageSink(&sink);
    SetTaskName("Packing Fx");
    ReportError("Unable to open file %s for writing", "D:\\fx\\smoke.Fx00p");
    ReportProgress("Packing Effect file: %s", "D:\\fx\\smoke.Fx00p");
    EXPECT_TRUE(EnsureWritable("D:\\fx\\smoke.Fx00p"));
    sink.m_bWritable = false;
    EXPECT_FALSE(EnsureWritable("out.Fx00p"));
    EXPECT_EQ(sink.m_Calls, (Texts{"task:Packing Fx", "subtask:Packing Fx",
                                   "0:Error: Unable to open file D:\\fx\\smoke.Fx00p for writing",
                                   "2:Packing Effect file: D:\\fx\\smoke.Fx00p",
                                   "writable:D:\\fx\\smoke.Fx00p", "writable:out.Fx00p"}));

    sink.m_Calls.clear();
    SetMessageSink(nullptr);
    SetTaskName("Packing Fx");
    ReportError("Unable to open file %s for writing", "a");
    ReportProgress("%s", "b");
    EXPECT_FALSE(EnsureWritable("a.Fx00p"));
    EXPECT_TRUE(sink.m_Calls.empty());
}

TEST(MessageLog, CutsLongLines)
{
    CRecordingTripwire tripwire;
    CRecordingSink sink;
    SetMessageSink(&sink);
    ReportProgress("%s", Letters(600).c_str()); // cut in the expansion: no report
    ReportError("%s", Letters(504).c_str());    // 7 + 504 characters fill the line exactly
    EXPECT_TRUE(tripwire.Take().empty());
    ReportError("%s", Letters(505).c_str());
    EXPECT_EQ(sink.m_Calls,
              (Texts{"2:" + Letters(511), "0:Error: " + Letters(504), "0:Error: " + Letters(504)}));
    EXPECT_EQ(tripwire.Take(),
              Texts{"catLen >= ZQStrLen(pSrc)|ZQStrCat|ZQStrCat : Copy source is truncated"});
}
