// After a failed pack zqpack shows the checker's errors on the source, after the packer's own lines,
// compiler-style; --no-explain turns that off, -q keeps it, and failures the host decides get none.
#include "test_support.h"

namespace
{
const char* const kFrost =
    "(header (version 1))\n"
    "(effect-tree (effect (name Frost_Nova) (length 1200) (key-list\n"
    "  (key (name Ring) (type Sprit) (id 1) (track 0) (start-time 0) (end-time 800))\n"
    "  (key (name Chill) (type Light) (id 2) (track 1) (start-time 0) (end-time 1200) (properties (property "
    "(name Radius) (type Float) (value-list (value (time 0) (data 5000)))))))))\n";

// The packer's three lines for the file, unchanged.
const char* const kPackerLines =
    "zqpack: fx/frost.Fx00a: Error: Error loading Effect file 'fx/frost.Fx00a': Error loading key for "
    "effect Frost_Nova\n"
    "zqpack: fx/frost.Fx00a: Error loading effect\n"
    "zqpack: fx/frost.Fx00a: Failed loading effect tree\n";

// Only the error: the clamped radius on line 4 is a warning of the checker and not why the pack failed.
const char* const kNote =
    "fx/frost.Fx00a:3:26: note: unknown effect type 'Sprit' for key 'Ring'; did you mean 'Sprite'? "
    "[unknown-type]\n";

class ZqpackExplain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteTemp("game.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
        WriteTemp("fx/frost.Fx00a", kFrost);
        fs::current_path(TempDir());
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
    }
};
} // namespace

TEST_F(ZqpackExplain, CheckerErrorsFollowThePackersLines)
{
    for (const char* pszMode : {"--no-workers", "-j2"})
    {
        SCOPED_TRACE(pszMode);
        RunResult run = RunProgram("zqpack", {"-q", pszMode, "fx/frost.Fx00a"});
        EXPECT_EQ(run.nExit, 1);
        EXPECT_EQ(run.sErr, std::string(kPackerLines) + kNote);
        run = RunProgram("zqpack", {pszMode, "fx/frost.Fx00a"});
        EXPECT_EQ(run.sErr.substr(0, run.sErr.rfind("zqpack: 0 packed")), std::string(kPackerLines) + kNote);
        run = RunProgram("zqpack", {"-q", "--no-explain", pszMode, "fx/frost.Fx00a"});
        EXPECT_EQ(run.nExit, 1);
        EXPECT_EQ(run.sErr, kPackerLines);
    }
}

// Ten errors at most, then a count and where to see them all; exactly ten need no count.
TEST_F(ZqpackExplain, ManyErrorsAreCounted)
{
    for (const int nKeys : {10, 12})
    {
        SCOPED_TRACE(nKeys);
        std::string sKeys;
        for (int i = 0; i < nKeys; ++i)
            sKeys +=
                "(key (type Sprit) (id 1) (track " + std::to_string(i) + ") (start-time 0) (end-time 10))\n";
        WriteTemp("fx/many.Fx00a",
                  "(header (version 1))\n(effect-tree (effect (name Many) (length 10) (key-list\n" + sKeys +
                      "))))\n");
        const RunResult run = RunProgram("zqpack", {"-q", "fx/many.Fx00a"});
        std::string sNotes;
        for (int nLine = 3; nLine <= 12; ++nLine)
            sNotes +=
                "fx/many.Fx00a:" + std::to_string(nLine) +
                ":12: note: unknown effect type 'Sprit' for key; did you mean 'Sprite'? [unknown-type]\n";
        if (nKeys == 12)
            sNotes += "fx/many.Fx00a: note: 2 more errors; fxcheck lists them all\n";
        ASSERT_GE(run.sErr.size(), sNotes.size());
        EXPECT_EQ(run.sErr.substr(run.sErr.size() - sNotes.size()), sNotes);
    }
}

// Failures the checker has nothing to add to: two forms of one source (the host refuses both) and a
// module that cannot be loaded (the host's own note says why).
TEST_F(ZqpackExplain, NothingForFailuresOutsideTheText)
{
    WriteTemp("both/x.Fx00a", kFrost);
    WriteTemp("both/x.Fx00c", "\x01\x02");
    RunResult run = RunProgram("zqpack", {"-q", "both"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.sErr.find(": note: "), std::string::npos) << run.sErr;

    WriteTemp("nomodule/game.proj00",
              "[Project Binaries]\nSparkrig=" + TempPath("nomodule/missing.dll") + "\n");
    WriteTemp("nomodule/fx/frost.Fx00a", kFrost);
    run = RunProgram("zqpack", {"-q", "nomodule/fx/frost.Fx00a"});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_NE(run.sErr.find("zqpack: note: module "), std::string::npos) << run.sErr;
    EXPECT_EQ(run.sErr.find("[module-load-failed]"), std::string::npos) << run.sErr;
    EXPECT_EQ(run.sErr.find("frost.Fx00a:3:"), std::string::npos) << run.sErr;
}
