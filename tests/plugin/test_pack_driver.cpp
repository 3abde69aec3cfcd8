#include "EffectPacker.h"
#include "plugin_test_support.h"

#include <gtest/gtest.h>

namespace
{
const char* const kEffectSource =
    "(header (version 1))\n"
    "(effect-tree (container (name Fire) (children\n"
    "  (effect (name Puff) (length 2000) (key-list\n"
    "    (key (type Sprite) (id 1) (track 0) (start-time 0) (end-time 2000) (properties\n"
    "      (property (name Size) (type Float) (value-list (value (time 0) (data 0.5)) (value (time 1) "
    "(data 2))))))))))))\n";

// A project whose locator names the sample module, with one effect source in it.
struct SampleProject
{
    SampleProject(const char* pszSource = kEffectSource)
    {
        tree.Write("game/game.proj00", std::string("[Project Binaries]\nSparkrig=") + EMBERVISE_BIN_DIR +
                                           "/sparkrig_sample.so\n");
        source = tree.Write("game/fx/smoke.Fx00a", pszSource);
        dest = tree.Path("game/fx/smoke.Fx00p");
    }
    std::vector<std::string> Expected(std::vector<std::string> tail) const
    {
        std::vector<std::string> calls = {"task:Packing Fx", "subtask:Packing Fx", "2:Processing Fx '" + source + "'"};
        calls.insert(calls.end(), tail.begin(), tail.end());
        return calls;
    }
    CTempTree tree;
    std::string source, dest;
    const std::string module = std::string(EMBERVISE_BIN_DIR) + "/sparkrig_sample.so";
};
} // namespace

TEST(PackDriver, SuccessfulRunReportsEveryStage)
{
    SampleProject project;
    CRecordingSink sink;
    EXPECT_TRUE(GetEffectPacker().PackFile(project.source.c_str(), 0, &sink));
    EXPECT_EQ(sink.m_Calls, project.Expected({"2:Loading Sparkrig module: " + project.module,
                                              "2:Loading Effect file: " + project.source,
                                              "writable:" + project.dest, "2:Packing Effect file: " + project.dest}));
    EXPECT_EQ(ReadFile(project.dest).substr(0, 4), "ZQFX");

    // A relative name gives a relative destination beside the source; any letter case maps to Fx00p.
    fs::current_path(project.tree.m_Root / "game");
    project.tree.Write("game/fx/FIRE.FX00A", kEffectSource);
    CRecordingSink second;
    EXPECT_TRUE(GetEffectPacker().PackFile("fx/FIRE.FX00A", 7, &second));
    EXPECT_EQ(second.m_Calls.at(5), "writable:fx/FIRE.Fx00p");
    EXPECT_TRUE(fs::exists(project.tree.Path("game/fx/FIRE.Fx00p")));
}

TEST(PackDriver, EachFailingStageGivesOneErrorLine)
{
    CTempTree lonely;
    bool bLocatorAbove = false;
    for (fs::path dir = lonely.m_Root.parent_path(); dir != dir.parent_path(); dir = dir.parent_path())
        for (const auto& entry : fs::directory_iterator(dir))
            bLocatorAbove = bLocatorAbove || entry.path().extension() == ".proj00";
    if (!bLocatorAbove)
    {
        const std::string source = lonely.Write("fx/smoke.Fx00a", kEffectSource);
        CRecordingSink sink;
        EXPECT_FALSE(GetEffectPacker().PackFile(source.c_str(), 0, &sink));
        EXPECT_EQ(sink.m_Calls.back(), "0:Error: Unable to locate project locator file for '" + source + "'");
        EXPECT_EQ(sink.m_Calls.size(), 4u);
    }

    SampleProject project("(header (version 2))\n(effect-tree)\n");
    CRecordingSink badFile;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &badFile));
    EXPECT_EQ(badFile.m_Calls, project.Expected({"2:Loading Sparkrig module: " + project.module,
                                                 "2:Loading Effect file: " + project.source,
                                                 "0:Error: Error loading Effect file '" + project.source +
                                                     "': Invalid file version"}));

    project.tree.Write("game/game.proj00", "[General]\nGame=NoModule\n");
    const std::string projectDir = project.tree.Path("game") + SEP;
    CRecordingSink noModule;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &noModule));
    EXPECT_EQ(noModule.m_Calls, project.Expected({"2:Loading Sparkrig module: " + projectDir,
                                                  "0:Error: Unable to load in Sparkrig file '" + projectDir + "'"}));
}

TEST(PackDriver, RefusedOrFailedDestinationKeepsTheOldFile)
{
    SampleProject project;
    project.tree.Write("game/fx/smoke.Fx00p", "old");
    CRecordingSink refusing;
    refusing.m_bWritable = false;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &refusing));
    EXPECT_EQ(refusing.m_Calls.back(), "0:Error: Unable to open file " + project.dest + " for writing");
    EXPECT_EQ(refusing.m_Calls.at(refusing.m_Calls.size() - 2), "writable:" + project.dest);
    EXPECT_EQ(ReadFile(project.dest), "old");

    // Without a sink the destination cannot be made writable.
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, nullptr));
    EXPECT_EQ(ReadFile(project.dest), "old");

    // A folder in the destination's place makes the writer fail.
    fs::remove(project.dest);
    fs::create_directory(project.dest);
    CRecordingSink blocked;
    EXPECT_FALSE(GetEffectPacker().PackFile(project.source.c_str(), 0, &blocked));
    EXPECT_EQ(blocked.m_Calls.back(),
              "0:Error: Error packing file '" + project.source + "' to destination file '" + project.dest + "'");
    EXPECT_TRUE(fs::is_directory(project.dest));
}
