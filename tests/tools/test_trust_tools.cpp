// The programs under the trust rule: a locator planted above a source runs no module code in zqpack,
// fxcheck or fxdump, each says which file it refused and how to allow it, and each names the module
// it loads. zqpack explains a module that cannot be loaded once per run, after the packer's line.
#include "test_support.h"

namespace
{
const char* const kEmptyTree = "(header (version 1))\n(effect-tree)\n";
// Named, so that zqpack does not load every library beside itself (the marker module among them).
const std::string kPlugin = BinLibrary("Embervise");

#if defined(_WIN32)
#define SEP_STR "\\"
#else
#define SEP_STR "/"
#endif

size_t Count(const std::string& sText, const std::string& sPart)
{
    size_t n = 0;
    for (size_t i = sText.find(sPart); i != std::string::npos; i = sText.find(sPart, i + 1))
        ++n;
    return n;
}

class TrustToolsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::current_path(TempDir());
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
        SetEnv("EMBERVISE_TRUSTED_DIRS", "");
        SetEnv("ZQTEST_MARKER", TempPath("marker.txt").c_str());
    }
    void TearDown() override { SetEnv("EMBERVISE_TRUSTED_DIRS", ""); }
    static bool CodeRan() { return fs::exists(TempPath("marker.txt")); }
};
} // namespace

TEST_F(TrustToolsTest, PlantedLocatorRunsNoModuleCode)
{
#if defined(_WIN32)
    GTEST_SKIP() << "file ownership is not checked on Windows";
#endif
    // The locator lies in a shared folder above the source, as in /tmp.
    const std::string sDir = TempPath("tmp");
    const std::string sLocator = WriteTemp(
        "tmp/planted.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_marker") + "\n");
    const std::string sSource = WriteTemp("tmp/work/a.Fx00a", kEmptyTree);
    WriteTemp("tmp/work/b.Fx00a", kEmptyTree);
    const std::string sPacked = TempPath("tmp/work/a.Fx00p");

    // Trusted on purpose: the module loads, and each program names it.
    const RunResult allowed = RunProgram("zqpack", {"--plugin", kPlugin, "-v", "--trust", sDir, "tmp/work"});
    EXPECT_EQ(0, allowed.nExit) << allowed.sErr;
    EXPECT_NE(std::string::npos, TextLines(allowed.sOut).find("tmp/work/a.Fx00a: module: "));
    EXPECT_TRUE(CodeRan());

    struct Planting
    {
        const char* pszName;
        fs::perms folderMode;
        std::string sWhy;
        bool bGiveAway;
    };
    const std::vector<Planting> plantings = {
        {"folder writable by all", fs::perms::all, "its folder " + sDir + " can be written by every user",
         false},
        {"owned by another user", fs::perms::all | fs::perms::sticky_bit, "it is owned by ", true}};
    for (const Planting& planting : plantings)
    {
        SCOPED_TRACE(planting.pszName);
        fs::permissions(sDir, planting.folderMode);
        if (planting.bGiveAway && !GiveToAnotherUser(sLocator))
        {
            std::printf("note: not root; a locator of another user is not planted\n");
            continue;
        }
        fs::remove(TempPath("marker.txt"));
        const std::string sRefusal = "'" + sLocator + "' is not used: " + planting.sWhy;
        const std::string sHint =
            "to use it, trust its folder: --trust " + sDir + " or EMBERVISE_TRUSTED_DIRS=" + sDir;

        const RunResult pack = RunProgram("zqpack", {"--plugin", kPlugin, "-f", "-j", "2", "tmp/work"});
        EXPECT_EQ(1, pack.nExit);
        const std::string sErr = TextLines(pack.sErr);
        EXPECT_NE(std::string::npos,
                  sErr.find("zqpack: tmp/work/a.Fx00a: Error: Unable to locate project locator file for "
                            "'tmp/work/a.Fx00a'\n"))
            << sErr;
        EXPECT_EQ(1u, Count(sErr, "zqpack: note: settings file " + sRefusal)) << sErr;
        EXPECT_EQ(1u, Count(sErr, sHint)) << sErr;

        const RunResult check = RunProgram("fxcheck", {"--format", "sarif", sSource});
        EXPECT_EQ(1, check.nExit);
        EXPECT_NE(std::string::npos, check.sOut.find("the project locator file " + sRefusal)) << check.sOut;
        EXPECT_NE(std::string::npos, check.sOut.find("\"modules\": []")) << check.sOut;

        const RunResult dump = RunProgram("fxdump", {"--project", sPacked});
        EXPECT_EQ(1, dump.nExit);
        EXPECT_NE(std::string::npos, dump.sErr.find("the project locator file " + sRefusal)) << dump.sErr;
        EXPECT_FALSE(CodeRan());

        // The environment variable allows it as --trust does.
        SetEnv("EMBERVISE_TRUSTED_DIRS", sDir.c_str());
        const RunResult summary = RunProgram("fxcheck", {"--summary", sSource});
        EXPECT_EQ(0, summary.nExit) << summary.sOut;
        EXPECT_EQ("0 errors, 0 warnings and 0 notes in 1 file (module " + BinLibrary("testmodule_marker") +
                      ").\n",
                  TextLines(summary.sErr));
        EXPECT_TRUE(CodeRan());
        SetEnv("EMBERVISE_TRUSTED_DIRS", "");
    }
}

TEST_F(TrustToolsTest, ModuleFailureExplainedOncePerRun)
{
    const std::string sLocator = WriteTemp("game/game.proj00", "");
    for (const char* pszName : {"a", "b", "c"})
        WriteTemp(std::string("game/fx/") + pszName + ".Fx00a", kEmptyTree);
    WriteTemp("game/notes.so", "not a library at all, only words\n");
    WriteTemp("game/notes.dll", "not a library at all, only words\n");
    const std::vector<std::string> modules = {TempPath("game/missing.dll"), TempPath("game/notes.dll"),
                                              BinLibrary("Embervise")};
    for (const std::string& sModule : modules)
    {
        SCOPED_TRACE(sModule);
        WriteFile(sLocator, "[Project Binaries]\nSparkrig=" + sModule + "\n");
        for (const char* pszJobs : {"1", "2"})
        {
            const RunResult run = RunProgram("zqpack", {"--plugin", kPlugin, "-j", pszJobs, "game/fx"});
            EXPECT_EQ(1, run.nExit);
            const std::string sErr = TextLines(run.sErr);
            // The packer's own line for every file, unchanged; the reason once, with the locator.
            EXPECT_EQ(3u, Count(sErr, ": Error: Unable to load in Sparkrig file '" + sModule + "'\n"))
                << sErr;
            EXPECT_EQ(1u, Count(sErr, "zqpack: note: module '" + sModule + "' named by '")) << sErr;
            EXPECT_EQ(1u, Count(sErr, SEP_STR "game.proj00'")) << sErr;
            EXPECT_EQ(1u, Count(sErr, "cannot be loaded: ")) << sErr;
        }
        // The JSON report keeps one record per file, each with the reason.
        const RunResult json = RunProgram("zqpack", {"--plugin", kPlugin, "--json", "game/fx"});
        EXPECT_EQ(3u, Count(json.sOut, "\"reason\":\"module '")) << json.sOut;
        EXPECT_EQ(3u, Count(json.sOut, "\n"));
    }
}
