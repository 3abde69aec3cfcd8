#include "EffectPacker.h"
#include "plugin_test_support.h"

namespace
{
const char* const kEffect =
    "(header (version 1))\n(effect-tree (container (name Fire) (children\n"
    " (effect (name Puff) (length 2000) (key-list (key (type Sprite) (id 1) (track 0)\n"
    "  (start-time 0) (end-time 2000) (properties (property (name Size) (type Float)\n"
    "   (value-list (value (time 0) (data 0.5)) (value (time 1) (data 2))))))))))))\n";
const std::string kModule = BinLibrary("sparkrig_sample");

// A project whose locator names the sample module, with one effect source in it.
struct CSampleProject
{
    explicit CSampleProject(const char* pszEffect = kEffect)
        : source(WriteTemp("game/fx/smoke.Fx00a", pszEffect)), dest(TempPath("game/fx/smoke.Fx00p"))
    {
        WriteTemp("game/game.proj00", "[Project Binaries]\nSparkrig=" + kModule + "\n");
    }
    // The calls of a run that gets past the locator and the module, then the given tail.
    Texts Calls(Texts tail) const
    {
        Texts calls = {"task:Packing Fx", "subtask:Packing Fx", "2:Processing Fx '" + source + "'",
                       "2:Loading Sparkrig module: " + kModule, "2:Loading Effect file: " + source};
        calls.insert(calls.end(), tail.begin(), tail.end());
        return calls;
    }
    std::string source, dest;
};
} // namespace

TEST(PackDriver, SuccessfulRunReportsEveryStage)
{
    CSampleProject project;
    CRecordingSink sink;
    EXPECT_TRUE(GetEffectPacker().PackFile(project.source.c_str(), 0, &sink));
    EXPECT_EQ(sink.m_Calls,
              project.Calls({"writable:" + project.dest, "2:Packing Effect file: " + project.dest}));
    EXPECT_EQ(ReadFile(project.dest).substr(0, 4), "ZQFX");

    // A relative name gives a relative destination beside the source, always spelt Fx00p.
    fs::current_path(TempDir() / "game");
    CRecordingSink second;
    WriteTemp("game/fx/FIRE.FX00A", kEffect);
    EXPECT_TRUE(GetEffectPacker().PackFile("fx/FIRE.FX00A", 7, &second));
    EXPECT_EQ(second.m_Calls.at(second.m_Calls.size() - 2), "writable:fx/FIRE.Fx00p");
    EXPECT_TRUE(fs::exists(TempPath("game/fx/FIRE.Fx00p")));
}

TEST(PackDriver, EachFailingStageGivesOneErrorLine)
{
    if (!LocatorAbove())
    {
        const std::string source = WriteTemp("lonely/smoke.Fx00a", kEffect);
        CRecordingSink sink;
        EXPECT_FALSE(GetEffectPacker().PackFile(source.c_str(), 0, &sink));
        EXPECT_EQ(sink.m_Calls,
                  (Texts{"task:Packing Fx", "subtask:Packing Fx", "2:Processing Fx '" + source + "'",
                         "0:Error: Unable to locate project locator file for '" + source + "'"}));
    }

    CSampleProject project("(header (version 2))\n(effect-tree)\n");
    CRecordingSink badFile;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &badFile));
    EXPECT_EQ(badFile.m_Calls, project.Calls({"0:Error: Error loading Effect file '" + project.source +
                                              "': Invalid file version"}));

    // Without a Sparkrig key the module path is the project folder itself.
    WriteTemp("game/game.proj00", "[General]\nGame=NoModule\n");
    const std::string folder = TempPath("game") + SEP;
    CRecordingSink noModule;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &noModule));
    EXPECT_EQ(noModule.m_Calls,
              (Texts{"task:Packing Fx", "subtask:Packing Fx", "2:Processing Fx '" + project.source + "'",
                     "2:Loading Sparkrig module: " + folder,
                     "0:Error: Unable to load in Sparkrig file '" + folder + "'"}));
}

TEST(PackDriver, RefusedOrFailedDestinationKeepsTheOldFile)
{
    CSampleProject project;
    WriteTemp("game/fx/smoke.Fx00p", "old");
    CRecordingSink refusing;
    refusing.m_bWritable = false;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &refusing));
    EXPECT_EQ(refusing.m_Calls,
              project.Calls({"writable:" + project.dest,
                             "0:Error: Unable to open file " + project.dest + " for writing"}));
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, nullptr)); // no sink: not writable
    EXPECT_EQ(ReadFile(project.dest), "old");

    // A folder in the destination's place makes the writer fail.
    fs::remove(project.dest);
    fs::create_directory(project.dest);
    CRecordingSink blocked;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &blocked));
    EXPECT_EQ(blocked.m_Calls.back(), "0:Error: Error packing file '" + project.source +
                                          "' to destination file '" + project.dest + "'");
    EXPECT_TRUE(fs::is_directory(project.dest));
}

namespace
{
// A host sink of the extension: records the inputs and outputs beside the messages.
class CExtensionSink : public IPackerHostSink
{
public:
    explicit CExtensionSink(bool bPlanOnly) : m_bPlanOnly(bPlanOnly) {}
    ~CExtensionSink() { SetMessageSink(nullptr); }
    bool SetTask(const char* psz) override { return m_base.SetTask(psz); }
    bool SetSubTask(const char* psz) override { return m_base.SetSubTask(psz); }
    bool SetProgress(uint32_t n, uint32_t m) override { return m_base.SetProgress(n, m); }
    bool ClearMessages() override { return m_base.ClearMessages(); }
    bool MakeFileWritable(const char* psz) override { return m_base.MakeFileWritable(psz); }
    bool LogMessage(int32_t nLevel, const char* psz) override { return m_base.LogMessage(nLevel, psz); }
    bool IsPlanOnly() override { return m_bPlanOnly; }
    bool ReportInput(uint32_t nKind, const char* psz) override
    {
        m_Reports.push_back("input" + std::to_string(nKind) + ":" + psz);
        return true;
    }
    bool ReportOutput(const char* psz) override
    {
        m_Reports.push_back(std::string("output:") + psz);
        return true;
    }
    CRecordingSink m_base;
    Texts m_Reports;

private:
    bool m_bPlanOnly;
};
} // namespace

TEST(PackDriver, HostExtensionLearnsInputsAndLeavesMessagesAlone)
{
    CSampleProject project;
    CRecordingSink plain;
    ASSERT_TRUE(GetEffectPacker().PackFile(project.source.c_str(), 0, &plain));
    const std::string sPacked = ReadFile(project.dest);

    // The same messages and bytes; the inputs and the output besides.
    CExtensionSink sink(false);
    ASSERT_TRUE(GetEffectPacker().PackFile(project.source.c_str(), PackerHostExtensionArg(1), &sink));
    EXPECT_EQ(plain.m_Calls, sink.m_base.m_Calls);
    EXPECT_EQ(sPacked, ReadFile(project.dest));
    // The module as the system loaded it (Windows names it its own way).
    ASSERT_EQ(5u, sink.m_Reports.size());
    EXPECT_EQ(0u, sink.m_Reports[2].rfind("input2:", 0));
    EXPECT_TRUE(fs::equivalent(sink.m_Reports[2].substr(7), kModule)) << sink.m_Reports[2];
    sink.m_Reports.erase(sink.m_Reports.begin() + 2);
    EXPECT_EQ(sink.m_Reports, (Texts{"input4:" + TempPath("game/fx") + SEP + "*.proj00",
                                     "input1:" + TempPath("game") + SEP + "game.proj00",
                                     "input0:" + project.source, "output:" + project.dest}));

    // Planning names the destination and does nothing else, even for a file that does not exist.
    CExtensionSink plan(true);
    EXPECT_TRUE(GetEffectPacker().PackFile("nowhere/x.fx00c", PackerHostExtensionArg(1), &plan));
    EXPECT_EQ(plan.m_Reports, Texts{"output:nowhere/x.Fx00p"});
    EXPECT_TRUE(plan.m_base.m_Calls.empty());

    // A second argument without the tag, or of another version, offers nothing.
    EXPECT_EQ(0u, PackerHostExtensionVersion(7));
    EXPECT_EQ(0u, PackerHostExtensionVersion(0x5A510001u));
    EXPECT_EQ(1u, PackerHostExtensionVersion(PackerHostExtensionArg(1)));
    EXPECT_EQ(2u, PackerHostExtensionVersion(PackerHostExtensionArg()));
}
