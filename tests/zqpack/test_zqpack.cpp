// zqpack run for real on a temporary project whose locator names the sample effect module.
#include "test_support.h"

namespace
{
const std::string MODULE = BinLibrary("sparkrig_sample");
const std::string PLUGIN = BinLibrary("Embervise");

const char* const FLASH =
    "(header (version 1))\n"
    "(effect-tree (effect (name Flash) (length 1000) (key-list\n"
    "  (key (type Light) (id 1) (track 0) (start-time 0) (end-time 500) (properties\n"
    "    (property (name Intensity) (type Float)\n"
    "      (value-list (value (time 0) (data 2.0)) (value (time 1) (data 0.5)))))))))\n";
const char* const SMOKE =
    "(header (version 1))\n"
    "(effect-tree (container (name Smoke) (children (effect (name Puff) (length 2000)\n"
    "  (key-list (key (type ParticleEmitter) (id 1) (track 0) (start-time 0) (end-time 2000)))))))\n";

// The summary line without its time, which varies.
std::string Summary(const std::string& sErr)
{
    static const std::regex summary(
        "zqpack: (\\d+ packed, \\d+ up to date, \\d+ failed, \\d+ skipped) in \\d+\\.\\d\\d s\n$");
    std::smatch match;
    return std::regex_search(sErr, match, summary) ? match[1].str() : "(no summary)";
}

std::string WithoutSummary(const std::string& sErr)
{
    return sErr.substr(0, sErr.rfind("zqpack: ", sErr.size() - 2));
}

// A project whose locator names the sample module, with two effects and a stray file; the test
// runs in its folder.
class ZqpackTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteTemp("game.proj00", "[General]\nGame=Test\n[Project Binaries]\nSparkrig=" + MODULE + "\n");
        WriteTemp("fx/flash.Fx00a", FLASH);
        WriteTemp("fx/sub/smoke.Fx00a", SMOKE);
        WriteTemp("fx/readme.txt", "not an effect\n");
        fs::current_path(TempDir());
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
    }
    static RunResult Run(const std::vector<std::string>& args) { return RunProgram("zqpack", args); }
};

TEST_F(ZqpackTest, PacksTheSameBytesWhateverJobsAndArgumentOrder)
{
    const RunResult first = Run({"--plugin", PLUGIN, "-j", "1", "fx"});
    EXPECT_EQ(0, first.nExit) << first.sErr;
    EXPECT_EQ("", first.sOut);
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Summary(first.sErr)) << first.sErr;
    EXPECT_EQ("", WithoutSummary(first.sErr)); // the unclaimed readme.txt inside a folder is no error
    const std::string sFlash = ReadFile("fx/flash.Fx00p");
    const std::string sSmoke = ReadFile("fx/sub/smoke.Fx00p");
    ASSERT_GE(sFlash.size(), 8u);
    EXPECT_EQ(std::string("ZQFX\x02\0\0\0", 8), sFlash.substr(0, 8)); // magic, format version 2
    EXPECT_FALSE(fs::exists("fx/readme.Fx00p"));

    // Plug-ins found beside the program, two workers, the arguments reversed.
    fs::remove("fx/flash.Fx00p");
    fs::remove("fx/sub/smoke.Fx00p");
    const RunResult second = Run({"-j", "2", "fx/sub/smoke.Fx00a", "fx/flash.Fx00a"});
    EXPECT_EQ(0, second.nExit) << second.sErr;
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Summary(second.sErr));
    EXPECT_EQ(sFlash, ReadFile("fx/flash.Fx00p"));
    EXPECT_EQ(sSmoke, ReadFile("fx/sub/smoke.Fx00p"));
}

TEST_F(ZqpackTest, JsonLinesInInputOrderAlikeInProcessAndInWorkers)
{
    WriteFile("fx/bad.Fx00a", "(header (version 2)) (effect-tree)\n");
    const std::string sLoading = "{\"level\":2,\"text\":\"Loading Sparkrig module: " + MODULE + "\"}";
    const std::string sExpected =
        "{\"source\":\"fx/flash.Fx00a\",\"destination\":\"fx/flash.Fx00p\",\"result\":\"packed\","
        "\"packer\":\"Embervise\",\"messages\":[{\"level\":2,\"text\":\"Processing Fx 'fx/flash.Fx00a'\"}," +
        sLoading +
        ",{\"level\":2,\"text\":\"Loading Effect file: fx/flash.Fx00a\"},"
        "{\"level\":2,\"text\":\"Packing Effect file: fx/flash.Fx00p\"}],\"module\":M}\n"
        "{\"source\":\"fx/readme.txt\",\"destination\":null,\"result\":\"unclaimed\",\"packer\":null,"
        "\"messages\":[{\"level\":0,\"text\":\"no packer claims this file\"}]}\n"
        "{\"source\":\"missing.Fx00a\",\"destination\":null,\"result\":\"failed\",\"packer\":null,"
        "\"messages\":[{\"level\":0,\"text\":\"no such file or directory\"}]}\n"
        "{\"source\":\"fx/bad.Fx00a\",\"destination\":null,\"result\":\"failed\",\"packer\":\"Embervise\","
        "\"messages\":[{\"level\":2,\"text\":\"Processing Fx 'fx/bad.Fx00a'\"}," +
        sLoading +
        ",{\"level\":2,\"text\":\"Loading Effect file: fx/bad.Fx00a\"},"
        "{\"level\":0,\"text\":\"Error: Error loading Effect file 'fx/bad.Fx00a': Invalid file "
        "version\"}],\"module\":M}\n";
    const std::string sErrors = "zqpack: fx/readme.txt: no packer claims this file\n"
                                "zqpack: missing.Fx00a: no such file or directory\n"
                                "zqpack: fx/bad.Fx00a: Error: Error loading Effect file 'fx/bad.Fx00a': "
                                "Invalid file version\n"
                                // The checker's error on it, after the packer's lines.
                                "fx/bad.Fx00a:1:18: note: file version '2' is not supported; it must be 1 "
                                "[bad-version]\n";

    for (const char* pszMode : {"--no-workers", "-j1", "-j2"})
    {
        SCOPED_TRACE(pszMode);
        const RunResult run = Run({"--json", "--force", pszMode, "fx/flash.Fx00a", "fx/readme.txt",
                                   "missing.Fx00a", "fx/bad.Fx00a"});
        EXPECT_EQ(1, run.nExit);
        // The module as the system loaded it (Windows spells paths its own way).
        std::smatch module;
        const std::regex modulePattern("\"module\":\"([^\"]*)\"");
        ASSERT_TRUE(std::regex_search(run.sOut, module, modulePattern)) << run.sOut;
#if !defined(_WIN32) // under Wine the loader's spelling of the path is not one the test can resolve
        EXPECT_TRUE(
            fs::equivalent(std::regex_replace(module[1].str(), std::regex("\\\\\\\\"), "\\"), MODULE));
#endif
        EXPECT_EQ(sExpected, std::regex_replace(run.sOut, modulePattern, "\"module\":M"));
        EXPECT_EQ(sErrors, WithoutSummary(run.sErr));
        EXPECT_EQ("1 packed, 0 up to date, 3 failed, 0 skipped", Summary(run.sErr));
    }
}

TEST_F(ZqpackTest, ReadOnlyDestinationIsKeptOnlyWhenAsked)
{
    WriteFile("fx/flash.Fx00p", "old");
    const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions("fx/flash.Fx00p", readOnly);

    for (const char* pszJobs : {"1", "2"})
    {
        const RunResult refused =
            Run({"-j", pszJobs, "--force", "--no-overwrite-readonly", "fx/flash.Fx00a", "fx/sub"});
        EXPECT_EQ(1, refused.nExit);
        // The packer's own words, then the host's reason.
        EXPECT_EQ("zqpack: fx/flash.Fx00a: Error: Unable to open file fx/flash.Fx00p for writing (it is "
                  "read-only and --no-overwrite-readonly was given)\n",
                  WithoutSummary(refused.sErr));
        EXPECT_EQ("1 packed, 0 up to date, 1 failed, 0 skipped", Summary(refused.sErr));
        EXPECT_EQ("old", ReadFile("fx/flash.Fx00p"));
        EXPECT_EQ(fs::perms::none, fs::status("fx/flash.Fx00p").permissions() & fs::perms::owner_write);
    }

    const RunResult allowed = Run({"-q", "fx/flash.Fx00a"});
    EXPECT_EQ(0, allowed.nExit);
    EXPECT_EQ("", allowed.sErr); // -q: no summary
    EXPECT_EQ("ZQFX", ReadFile("fx/flash.Fx00p").substr(0, 4));
    EXPECT_NE(fs::perms::none, fs::status("fx/flash.Fx00p").permissions() & fs::perms::owner_write);
}

TEST_F(ZqpackTest, ListFilesAndDoubleDash)
{
    WriteFile("paths.lst", "# effects\n\n  fx/sub/smoke.Fx00a \r\nfx\n");
    const RunResult listed = Run({"@paths.lst"});
    EXPECT_EQ(0, listed.nExit) << listed.sErr;
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 1 skipped", Summary(listed.sErr)); // smoke is reached twice

    // After "--" a leading '-' or '@' is part of a file name.
    WriteFile("-odd.Fx00a", FLASH);
    EXPECT_EQ(2, Run({"-odd.Fx00a"}).nExit);
    const RunResult literal = Run({"-v", "--", "-odd.Fx00a", "@paths.lst"});
    EXPECT_EQ(1, literal.nExit);
    EXPECT_EQ("zqpack: @paths.lst: no such file or directory\n", WithoutSummary(literal.sErr));
    EXPECT_TRUE(fs::exists("-odd.Fx00p"));
    EXPECT_NE(std::string::npos, literal.sOut.find("-odd.Fx00a: Packing Effect file: -odd.Fx00p\n"))
        << literal.sOut;
}

TEST_F(ZqpackTest, PluginReportsKeepTheirPlaceAndAWorkerCrashFailsOnlyItsFile)
{
    // An effect name longer than 127 characters makes the plug-in report a truncation on stderr.
    WriteFile("fx/long.Fx00a", "(header (version 1)) (effect-tree (effect (name " + std::string(140, 'L') +
                                   ") (length 1000)))\n");
    const RunResult inProcess = Run({"--no-workers", "fx"});
    const RunResult workers = Run({"-j", "2", "--force", "fx"});
    EXPECT_EQ(0, inProcess.nExit);
    EXPECT_EQ(0, workers.nExit);
    EXPECT_NE(std::string::npos, inProcess.sErr.find("Copy source is truncated")) << inProcess.sErr;
    EXPECT_EQ(WithoutSummary(inProcess.sErr), WithoutSummary(workers.sErr));

    // Answering the report with "abort" ends the worker; the other files are still packed.
    fs::remove("fx/flash.Fx00p");
    SetEnv("TRIPWIRE_ANSWER", "abort");
#if defined(_WIN32)
    const std::string sHow = "exit status 3";
#else
    const std::string sHow = "killed by signal 6 (SIGABRT)";
#endif
    const RunResult aborted = Run({"-j", "2", "--force", "fx"});
    EXPECT_EQ(1, aborted.nExit);
    EXPECT_NE(std::string::npos,
              aborted.sErr.find("zqpack: fx" + std::string(1, fs::path::preferred_separator) +
                                "long.Fx00a: the worker process ended without a result (" + sHow + ")\n"))
        << aborted.sErr;
    EXPECT_EQ("2 packed, 0 up to date, 1 failed, 0 skipped", Summary(aborted.sErr));
    EXPECT_TRUE(fs::exists("fx/flash.Fx00p"));
}

TEST_F(ZqpackTest, UsageErrorsExitWithTwoAndPackNothing)
{
    for (const Texts& args : {Texts{}, Texts{"--bogus", "fx"}, Texts{"-j", "-1", "fx"},
                              Texts{"-j", "two", "fx"}, Texts{"-v", "-q", "fx"}, Texts{"-v", "--json", "fx"}})
    {
        const RunResult run = Run(args);
        EXPECT_EQ(2, run.nExit) << run.sErr;
        EXPECT_EQ(0u, run.sErr.rfind("zqpack: ", 0)) << run.sErr;
    }
    EXPECT_FALSE(fs::exists("fx/flash.Fx00p"));

    const RunResult version = Run({"--version"});
    EXPECT_EQ(0, version.nExit);
    EXPECT_EQ(0u, version.sOut.rfind("zqpack ", 0));
    const RunResult help = Run({"-h"});
    EXPECT_EQ(0, help.nExit);
    EXPECT_NE(std::string::npos, help.sOut.find("--no-overwrite-readonly"));
}
} // namespace
