// zqpack over a content tree: up-to-date decisions, depfiles, collisions, isolation of misbehaving
// modules, interrupts, and plug-ins without the host extension. Run for real in a temporary project.
#include "test_support.h"

#include "zqpack.h"
#include "zqprocess.h"

#include <chrono>
#include <thread>

namespace
{
const std::string PLUGIN = BinLibrary("Embervise");

const char* const FLASH = "(header (version 1))\n"
                          "(effect-tree (effect (name Flash) (length 1000) (key-list\n"
                          "  (key (type Light) (id 1) (track 0) (start-time 0) (end-time 500)))))\n";
const char* const PUFF =
    "(header (version 1))\n"
    "(effect-tree (effect (name Puff) (length 2000) (key-list\n"
    "  (key (type ParticleEmitter) (id 1) (track 0) (start-time 0) (end-time 2000)))))\n";

// "P packed, U up to date, F failed, S skipped" of the summary line.
std::string Counts(const RunResult& run)
{
    static const std::regex summary(
        "zqpack: (\\d+ packed, \\d+ up to date, \\d+ failed, \\d+ skipped) in \\d+\\.\\d\\d s\n$");
    std::smatch match;
    return std::regex_search(run.sErr, match, summary) ? match[1].str() : "(no summary) " + run.sErr;
}

// A project with its own copy of the sample module, so that the test can change the module.
class ZqpackTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(TempPath("lib"));
        fs::copy_file(BinLibrary("sparkrig_sample"), TempPath("lib/fxmodule" + std::string(kLibrarySuffix)),
                      fs::copy_options::overwrite_existing);
        WriteTemp("game.proj00", "[Project Binaries]\nSparkrig=lib/fxmodule.dll\n");
        WriteTemp("fx/flash.Fx00a", FLASH);
        WriteTemp("fx/sub/puff.Fx00a", PUFF);
        fs::current_path(TempDir());
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
        SetEnv("ZQTEST_MISBEHAVE", "");
    }
    static RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--plugin", PLUGIN});
        return RunProgram("zqpack", args);
    }
    static void Age(const std::string& sPath)
    {
        fs::last_write_time(sPath, fs::last_write_time(sPath) - std::chrono::hours(1));
    }
};

TEST_F(ZqpackTreeTest, RepacksExactlyWhatAnInputChangeTouches)
{
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    const std::string sFlash = ReadFile("fx/flash.Fx00p");
    Age("fx/flash.Fx00p");
    const auto packedTime = fs::last_write_time("fx/flash.Fx00p");

    // Timestamps alone decide nothing; the packed file is not even touched.
    fs::last_write_time("fx/flash.Fx00a", fs::file_time_type::clock::now());
    fs::last_write_time("game.proj00", fs::file_time_type::clock::now());
    const RunResult again = Run({"--json", "fx"});
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(again));
    EXPECT_NE(std::string::npos,
              again.sOut.find("\"result\":\"up-to-date\",\"packer\":null,\"messages\":[],\"module\":"))
        << again.sOut;

    // --force packs again; equal bytes leave the file as it was, timestamp included.
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"--force", "fx"})));
    EXPECT_EQ(packedTime, fs::last_write_time("fx/flash.Fx00p"));

    WriteFile("fx/flash.Fx00a", std::string(FLASH) + "; edited\n");
    EXPECT_EQ("1 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    EXPECT_EQ(sFlash, ReadFile("fx/flash.Fx00p")); // a comment changes no packed byte

    WriteFile("fx/sub/puff.Fx00p", "damaged");
    EXPECT_EQ("1 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));

    WriteFile("game.proj00", "; comment\n[Project Binaries]\nSparkrig=lib/fxmodule.dll\n");
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));

    // A changed module (bytes appended to the library still load).
    std::ofstream(TempPath("lib/fxmodule" + std::string(kLibrarySuffix)), std::ios::binary | std::ios::app)
        << "changed";
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));

    // A locator file appearing nearer a source governs it from now on.
    WriteFile("fx/sub/near.proj00", "[Project Binaries]\nSparkrig=../../lib/fxmodule.dll\n");
    EXPECT_EQ("1 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));

    // A copy of the tree has records of its own; the original stays up to date.
    fs::create_directories("copy");
    for (const char* pszPath : {"game.proj00", "lib", "fx"})
        fs::copy(pszPath, fs::path("copy") / pszPath, fs::copy_options::recursive);
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"copy/fx"})));
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
}

// Files old enough for their stamps to be trusted: the content is read only when a stamp changed.
TEST_F(ZqpackTreeTest, TrustedStampsStillSeeEveryEdit)
{
    const std::string sModule = "lib/fxmodule" + std::string(kLibrarySuffix);
    for (const std::string& sPath : {std::string("fx/flash.Fx00a"), std::string("fx/sub/puff.Fx00a"),
                                     std::string("game.proj00"), sModule})
        Age(sPath);
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    Age("fx/flash.Fx00p");
    Age("fx/sub/puff.Fx00p");
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"}))); // the outputs' stamps
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));

    // Same size, same write time, same file (as cp -p onto it leaves it): the change time moved.
    std::string sSwapped = std::string(FLASH).replace(std::string(FLASH).find("Flash"), 5, "Flask");
    const auto flashTime = fs::last_write_time("fx/flash.Fx00a");
    std::fstream("fx/flash.Fx00a", std::ios::in | std::ios::out | std::ios::binary) << sSwapped;
    fs::last_write_time("fx/flash.Fx00a", flashTime);
    EXPECT_EQ("1 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    EXPECT_NE(std::string::npos, ReadFile("fx/flash.Fx00p").find("Flask"));
    // Another file put in its place (a checkout) has another file id, though size and time match.
    sSwapped.replace(sSwapped.find("Flask"), 5, "Flash");
    WriteFile("fx/new.tmp", sSwapped);
    fs::last_write_time("fx/new.tmp", flashTime);
    fs::rename("fx/new.tmp", "fx/flash.Fx00a");
    EXPECT_EQ("1 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    // A module and a locator rewritten in place with their write times put back.
    for (const std::string& sPath : {sModule, std::string("game.proj00")})
    {
        const auto written = fs::last_write_time(sPath);
        const std::string sBytes = ReadFile(sPath);
        std::string sChanged = sBytes;
        sChanged.back() = sChanged.back() == '\n' ? ' ' : '\n'; // the library's last byte is padding
        std::fstream(sPath, std::ios::in | std::ios::out | std::ios::binary) << sChanged;
        fs::last_write_time(sPath, written);
        EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"}))) << sPath;
    }

    // Edits of the same size change the write time.
    WriteFile("fx/sub/puff.Fx00p", std::string(ReadFile("fx/sub/puff.Fx00p").size(), 'x'));
    EXPECT_EQ("1 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    WriteFile("game.proj00", ReadFile("game.proj00"));
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"}))); // the same bytes
}

TEST_F(ZqpackTreeTest, AScanPacksItsFolderQuietlyAndRewritesItsListingOnlyWhenItChanges)
{
    const std::string sListing = TempPath("scan/fx");
    auto scan = [&](const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {"-q",     "--watch", "fx",         "--listing",
                                         sListing, "--match", "fx/*.proj00"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(args);
    };
    // Below a folder to pack: its folders and sources count, its packed files do not; the named source
    // and every other claimed file in it are packed, and their failures are left to the pack edges.
    WriteFile("fx/broken.Fx00a", "(header");
    const RunResult first = scan({"--walked", "--"});
    EXPECT_EQ(0, first.nExit);
    EXPECT_EQ("", first.sOut + first.sErr);
    EXPECT_EQ("folder sub\nsource broken.Fx00a\nsource flash.Fx00a\n", ReadFile(sListing));
    EXPECT_EQ("ZQFX", ReadFile("fx/flash.Fx00p").substr(0, 4));
    EXPECT_FALSE(fs::exists("fx/broken.Fx00p"));
    const std::string sDepfile = ReadFile(sListing + ".d");
    EXPECT_EQ(0u, sDepfile.find(sListing + ": \\\n")) << sDepfile;
    EXPECT_NE(std::string::npos, sDepfile.find("game.proj00")) << sDepfile;
    EXPECT_NE(std::string::npos, sDepfile.find("fxmodule")) << sDepfile;

    // Unchanged: the listing is left as it was. A locator appearing (any case) changes it.
    Age(sListing);
    const auto listed = fs::last_write_time(sListing);
    EXPECT_EQ(0, scan({"--walked", "--"}).nExit);
    EXPECT_EQ(listed, fs::last_write_time(sListing));
    WriteFile("fx/Near.PROJ00", "[Project Binaries]\nSparkrig=../lib/fxmodule.dll\n");
    EXPECT_EQ(0, scan({"--walked", "--"}).nExit);
    EXPECT_EQ("folder sub\nmatch Near.PROJ00\nsource broken.Fx00a\nsource flash.Fx00a\n", ReadFile(sListing));

    // A folder a search only passes: its locators alone, and only the named sources are packed.
    fs::remove("fx/flash.Fx00p");
    EXPECT_EQ(0, scan({"--", "fx/broken.Fx00a"}).nExit);
    EXPECT_EQ("match Near.PROJ00\n", ReadFile(sListing));
    EXPECT_FALSE(fs::exists("fx/flash.Fx00p"));
    EXPECT_EQ(2, Run({"--watch", "fx", "fx"}).nExit);
}

TEST_F(ZqpackTreeTest, DepfilesNameEverythingThePackRead)
{
    const std::string sRoot = fs::current_path().string();
    const std::string sModule =
        (fs::current_path() / "lib" / ("fxmodule" + std::string(kLibrarySuffix))).string();
    ASSERT_EQ(0, Run({"--depfiles", "fx/flash.Fx00a"}).nExit);
    const std::string sExpected = "fx/flash.Fx00p: \\\n  fx/flash.Fx00a \\\n  " + sRoot +
                                  std::string(1, PLATFORM_PATH_SEP) + "game.proj00 \\\n  " + sModule + "\n";
    EXPECT_EQ(sExpected, ReadFile("fx/flash.Fx00p.d"));

    // Up to date, a missing depfile is written again (Ninja removes it after reading it).
    fs::remove("fx/flash.Fx00p.d");
    EXPECT_EQ("0 packed, 1 up to date, 0 failed, 0 skipped", Counts(Run({"--depfiles", "fx/flash.Fx00a"})));
    EXPECT_EQ(sExpected, ReadFile("fx/flash.Fx00p.d"));

    // Spaces, '#' and '$' in names are escaped as GCC does.
    EXPECT_EQ("a\\ b.Fx00p: \\\n  a\\ b.Fx00a \\\n  x\\#$$.proj00\n",
              zqpack::DepfileText("a b.Fx00p", {{PACKER_INPUT_CONFIG, "x#$.proj00", {}},
                                                {PACKER_INPUT_SOURCE, "a b.Fx00a", {}}}));
}

TEST_F(ZqpackTreeTest, TwoSourcesOfOneDestinationFailAlikeInEveryMode)
{
    fs::copy_file("fx/flash.Fx00a", "fx/flash.Fx00c"); // named .Fx00c, read as compressed: never packed
    WriteFile("fx/flash.Fx00p", "old");
    const std::string sSep(1, fs::path::preferred_separator);
    const std::string sA = "fx" + sSep + "flash.Fx00a", sC = "fx" + sSep + "flash.Fx00c";
    const std::string sLine =
        sA + " and " + sC + " would both be packed into fx" + sSep + "flash.Fx00p; neither is packed\n";
    for (const char* pszMode : {"--no-workers", "-j1", "-j2"})
    {
        SCOPED_TRACE(pszMode);
        const RunResult run = Run({pszMode, "--force", "fx"});
        EXPECT_EQ(1, run.nExit);
        EXPECT_EQ("1 packed, 0 up to date, 2 failed, 0 skipped", Counts(run));
        EXPECT_EQ("zqpack: " + sA + ": " + sLine + "zqpack: " + sC + ": " + sLine,
                  run.sErr.substr(0, run.sErr.rfind("zqpack: 1 packed")));
        EXPECT_EQ("old", ReadFile("fx/flash.Fx00p"));
    }
}

TEST_F(ZqpackTreeTest, CrashingAndHangingModulesFailOnlyTheirFiles)
{
    // A second project under fx/bad whose module misbehaves; the rest of the tree packs.
    WriteFile("fx/bad/bad.proj00",
              "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    WriteFile("fx/bad/a.Fx00a", FLASH);
    WriteFile("fx/bad/b.Fx00a", FLASH);
    const std::string sSep(1, fs::path::preferred_separator);
    for (const char* pszMode : {"crash", "hang"})
        for (const char* pszJobs : {"1", "2"})
        {
            SCOPED_TRACE(std::string(pszMode) + " -j" + pszJobs);
            SetEnv("ZQTEST_MISBEHAVE", pszMode);
            const RunResult run = Run({"-j", pszJobs, "--timeout", "2", "--force", "fx"});
            EXPECT_EQ(1, run.nExit);
            EXPECT_EQ("2 packed, 0 up to date, 2 failed, 0 skipped", Counts(run));
            const std::string sWhy =
                std::string(pszMode) == "hang"
                    ? "the pack ran longer than the time limit of 2 s; its worker was stopped"
                    : "the worker process ended without a result (";
            for (const char* pszFile : {"a", "b"})
                EXPECT_NE(std::string::npos,
                          run.sErr.find("zqpack: fx" + sSep + "bad" + sSep + pszFile + ".Fx00a: " + sWhy))
                    << run.sErr;
        }
    SetEnv("ZQTEST_MISBEHAVE", "");
}

TEST_F(ZqpackTreeTest, StaleTemporariesGoAndAnInterruptLeavesNothing)
{
    WriteFile("fx/flash.Fx00p.~0123abcd", "left by a killed run");
    WriteFile("fx/flash.Fx00p.~89abcdef", "a pack under way in another run");
    Age("fx/flash.Fx00p.~0123abcd");
    const fs::path tmp = TempPath("tmp");
    fs::create_directories(tmp / "zqpack-999999999-0"); // a run whose process is gone
    // The temporary folder as the standard library finds it, on every platform.
    const char* const apszTmpVars[] = {"TMPDIR", "TMP", "TEMP"};
    std::vector<std::string> oldTmp;
    for (const char* pszVar : apszTmpVars)
    {
        oldTmp.push_back(std::getenv(pszVar) ? std::getenv(pszVar) : fs::temp_directory_path().string());
        SetEnv(pszVar, tmp.string().c_str());
    }
    EXPECT_EQ(0, Run({"fx"}).nExit);
    EXPECT_FALSE(fs::exists("fx/flash.Fx00p.~0123abcd"));
    EXPECT_TRUE(fs::exists("fx/flash.Fx00p.~89abcdef"));
    EXPECT_TRUE(fs::is_empty(tmp));

    // No usable temporary folder: zqpack's own trouble, said as such; no pack counts as failed.
    WriteFile("not-a-folder", "");
    for (const char* pszVar : apszTmpVars)
        SetEnv(pszVar, TempPath("not-a-folder").c_str());
    const RunResult noTmp = Run({"--force", "fx"});
    EXPECT_EQ(1, noTmp.nExit);
    EXPECT_EQ(0u, noTmp.sErr.find("zqpack: cannot start worker processes: ")) << noTmp.sErr;
    EXPECT_NE(std::string::npos,
              noTmp.sErr.find("zqpack: 0 packed, 0 up to date, 0 failed, 2 unfinished, 0 skipped"))
        << noTmp.sErr;
    // The way out that message names: packing in zqpack's own process needs no temporary folder.
    const RunResult inProcess = Run({"--force", "--no-workers", "fx"});
    EXPECT_EQ(0, inProcess.nExit) << inProcess.sErr;
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(inProcess));
    for (const char* pszVar : apszTmpVars)
        SetEnv(pszVar, tmp.string().c_str());

#if !defined(_WIN32)
    // Workers stuck in a module; Ctrl-C ends the run at once with 130 and nothing left behind.
    WriteFile("fx/bad/bad.proj00",
              "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    WriteFile("fx/bad/a.Fx00a", FLASH);
    WriteFile("fx/bad/b.Fx00a", FLASH);
    SetEnv("ZQTEST_MISBEHAVE", "hang");
    std::vector<const char*> args = {"--plugin", PLUGIN.c_str(), "-j", "2", "--force", "fx"};
    PlatformProcess hRun = PlatformStartProcess(BinProgram("zqpack").c_str(), args.data(), args.size(),
                                                TempPath("int.out").c_str(), TempPath("int.err").c_str());
    ASSERT_TRUE(hRun);
    for (int i = 0; i < 200 && fs::is_empty(tmp); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(PlatformInterruptProcess(hRun));
    PlatformExit end;
    ASSERT_EQ(0, PlatformWaitAnyProcessFor(&hRun, 1, &end, 5000));
    EXPECT_EQ(130, end.nCode) << ReadFile(TempPath("int.err"));
    EXPECT_TRUE(fs::is_empty(tmp));
    SetEnv("ZQTEST_MISBEHAVE", "");
#endif
    for (size_t i = 0; i < oldTmp.size(); ++i)
        SetEnv(apszTmpVars[i], oldTmp[i].c_str());
}

TEST_F(ZqpackTreeTest, PluginWithoutTheExtensionPacksAsBefore)
{
    const std::string sPlain =
        EMBERVISE_BIN_DIR "/testplugins/testplugin_plain" + std::string(kLibrarySuffix);
    WriteFile("data/a.plain", "alpha");
    WriteFile("data/b.plain", "beta");
    for (int nRun = 0; nRun < 2; ++nRun)
    {
        // Nothing is known of its inputs: always packed, never up to date, no depfile.
        const RunResult run = RunProgram("zqpack", {"--plugin", sPlain, "--depfiles", "data"});
        EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(run));
        EXPECT_EQ("beta", ReadFile("data/b.packed"));
        EXPECT_FALSE(fs::exists("data/b.packed.d"));
    }
}

TEST_F(ZqpackTreeTest, LinksDuplicatesAndReasons)
{
#if !defined(_WIN32)
    // A destination that is a link is replaced by the packed file; the file it points to, outside
    // the tree and read-only, is left exactly as it was.
    WriteFile("outside/target.bin", "keep me");
    fs::permissions("outside/target.bin", fs::perms::owner_read);
    fs::create_symlink(fs::absolute("outside/target.bin"), "fx/flash.Fx00p");
    EXPECT_EQ(0, Run({"fx/flash.Fx00a"}).nExit);
    EXPECT_FALSE(fs::is_symlink("fx/flash.Fx00p"));
    EXPECT_EQ("ZQFX", ReadFile("fx/flash.Fx00p").substr(0, 4));
    EXPECT_EQ("keep me", ReadFile("outside/target.bin"));
    EXPECT_EQ(fs::perms::owner_read, fs::status("outside/target.bin").permissions() & fs::perms::all);
#endif

    // A file named twice has a JSON line of its own the second time.
    const RunResult twice = Run({"--json", "--force", "fx/flash.Fx00a", "fx/flash.Fx00a"});
    EXPECT_EQ(0, twice.nExit);
    EXPECT_NE(std::string::npos,
              twice.sOut.find("\n{\"source\":\"fx/flash.Fx00a\",\"destination\":null,\"result\":\"skipped\","
                              "\"packer\":null,\"messages\":[{\"level\":2,\"text\":\"already named in this "
                              "run\"}]}\n"))
        << twice.sOut;
    EXPECT_EQ("1 packed, 0 up to date, 0 failed, 1 skipped", Counts(twice));

    // A destination the host cannot make writable: the packer's message, then the host's reason.
    // Control bytes of the name (where names may hold them) are escaped.
#if defined(_WIN32)
    const std::string sOdd = "fx/odd", sShown = "fx/odd";
#else
    const std::string sOdd = "fx/odd\x1B[31m", sShown = "fx/odd\\x1B[31m";
#endif
    WriteFile(sOdd + ".Fx00a", FLASH);
    fs::create_directories(sOdd + ".Fx00p");
    const RunResult refused = Run({sOdd + ".Fx00a"});
    EXPECT_EQ(1, refused.nExit);
    EXPECT_EQ(0u, refused.sErr.find("zqpack: " + sShown + ".Fx00a: Error: Unable to open file " + sShown +
                                    ".Fx00p for writing (it is a folder)\n"))
        << refused.sErr;
}

TEST(ZqpackWorkerProtocol, ResultLinesOfTheWrongShapeAreRejected)
{
    const std::string sGood = "{\"source\":\"a.Fx00a\",\"destination\":null,\"result\":\"failed\",\"packer\":"
                              "null,\"events\":[{\"kind\":"
                              "\"message\",\"level\":LEVEL,\"text\":\"x\"}],\"inputs\":[{\"kind\":KIND,"
                              "\"path\":\"p\"}],\"reason\":\"\","
                              "\"out\":[0,4],\"err\":[2,2]}";
    auto line = [&](const std::string& sLevel, const std::string& sKind)
    {
        return std::regex_replace(std::regex_replace(sGood, std::regex("LEVEL"), sLevel), std::regex("KIND"),
                                  sKind);
    };
    zqpack::FileOutcome outcome;
    ASSERT_TRUE(zqpack::OutcomeFromJson(line("0", "1"), &outcome));
    EXPECT_EQ(1u, outcome.inputs.at(0).nKind);
    for (const std::string& sBad : {line("\"0\"", "1"), line("0.5", "1"), line("4294967296", "1"),
                                    line("0", "-1"), line("0", "\"1\""), line("[]", "1"), line("null", "1")})
        EXPECT_FALSE(zqpack::OutcomeFromJson(sBad, &outcome)) << sBad;
    EXPECT_FALSE(
        zqpack::OutcomeFromJson(std::regex_replace(sGood, std::regex("\\[2,2\\]"), "[3,2]"), &outcome));
    for (const char* pszKey :
         {"\"source\"", "\"result\"", "\"events\"", "\"inputs\"", "\"reason\"", "\"out\""})
        EXPECT_FALSE(
            zqpack::OutcomeFromJson(std::regex_replace(sGood, std::regex(pszKey), "\"other\""), &outcome));
}

} // namespace

#if !defined(_WIN32)
namespace
{
// Runs a program by its path in the current folder; its output in sOut, its errors in sErr.
RunResult RunTool(const std::string& sProgram, const std::vector<std::string>& args)
{
    std::vector<const char*> argv;
    for (const std::string& sArg : args)
        argv.push_back(sArg.c_str());
    RunResult result;
    PlatformProcess hProcess =
        PlatformStartProcess(sProgram.c_str(), argv.data(), argv.size(), TempPath("tool.out").c_str(),
                             TempPath("tool.err").c_str());
    if (hProcess && PlatformWaitAnyProcess(&hProcess, 1, &result.nExit) == 0)
    {
        result.sOut = ReadFile(TempPath("tool.out"));
        result.sErr = ReadFile(TempPath("tool.err"));
    }
    return result;
}

TEST_F(ZqpackTreeTest, NinjaRepacksOnlyWhatChangedAndSettles)
{
    if (std::string(EMBERVISE_NINJA).empty())
        GTEST_SKIP() << "ninja is not installed";
    const RunResult emitted = Run({"--emit-ninja", "fx"});
    ASSERT_EQ(0, emitted.nExit) << emitted.sErr;
    // build.ninja names a folder of its own in zqpack's cache and includes the edges kept there.
    std::smatch include;
    ASSERT_TRUE(std::regex_search(emitted.sOut, include, std::regex("\ninclude ([^\n]*)\n$")))
        << emitted.sOut;
    EXPECT_EQ(0u, include[1].str().find(TempPath("cache") + "/ninja-")) << include[1];
    const std::string sRoot = fs::current_path().string();
    const std::string sModule = sRoot + "/lib/fxmodule" + kLibrarySuffix;
    const std::string sEdges = ReadFile(include[1].str());
    EXPECT_NE(std::string::npos,
              sEdges.find("build fx/flash.Fx00p: pack fx/flash.Fx00a | " + sRoot + "/game.proj00 " + sModule +
                          " " + BinProgram("zqpack") + " " + PLUGIN + "\n"))
        << sEdges;
    WriteFile("build.ninja", emitted.sOut);

    const std::string sNoWork = "ninja: Entering directory `.'\nninja: no work to do.\n";
    auto ninja = [](const char* pszFolder) { return RunTool(EMBERVISE_NINJA, {"-C", pszFolder}); };
    // From scratch: both packed, nothing written where build.ninja looks, and the next ninja settled.
    EXPECT_NE(std::string::npos, ninja(".").sOut.find("[2/2] PACK"));
    const std::string sPacked = ReadFile("fx/flash.Fx00p");
    EXPECT_FALSE(fs::exists("fx/flash.Fx00p.d"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);
    // Packed by zqpack meanwhile (as make demo does), or a source edited: settled after one ninja.
    fs::remove("fx/sub/puff.Fx00p");
    EXPECT_EQ(0, Run({"fx"}).nExit);
    ninja(".");
    EXPECT_EQ(sNoWork, ninja(".").sOut);
    WriteFile("fx/sub/puff.Fx00a", std::string(PUFF) + "; edited\n");
    EXPECT_NE(std::string::npos, ninja(".").sOut.find("PACK fx/sub/puff.Fx00a"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);

    // A locator appearing nearer a source: the edges are written again and the source packed with it.
    WriteFile("fx/sub/near.proj00",
              "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    const RunResult nearer = ninja(".");
    EXPECT_NE(std::string::npos, nearer.sOut.find("EMIT build.ninja")) << nearer.sOut;
    EXPECT_NE(std::string::npos, nearer.sOut.find("FAILED: fx/sub/puff.Fx00p")) << nearer.sOut;
    // Gone again: the packed file (which the failed pack left alone) is right for the old locator.
    fs::remove("fx/sub/near.proj00");
    EXPECT_EQ(std::string::npos, ninja(".").sOut.find("FAILED"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);
    // One that packs: settled after the ninja that packed with it.
    WriteFile("fx/sub/near.proj00", "[Project Binaries]\nSparkrig=../../lib/fxmodule.dll\n");
    const RunResult packedNearer = ninja(".");
    EXPECT_NE(std::string::npos, packedNearer.sOut.find("PACK fx/sub/puff.Fx00a")) << packedNearer.sOut;
    EXPECT_EQ(sNoWork, ninja(".").sOut);
    fs::remove("fx/sub/near.proj00");
    ninja(".");
    EXPECT_EQ(sNoWork, ninja(".").sOut);

    // A locator before the found one in name order, beside build.ninja, governs both sources.
    WriteFile("a.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    const RunResult earlier = ninja(".");
    EXPECT_NE(std::string::npos, earlier.sOut.find("FAILED: fx/flash.Fx00p")) << earlier.sOut;
    EXPECT_NE(std::string::npos, earlier.sOut.find("FAILED: fx/sub/puff.Fx00p")) << earlier.sOut;
    fs::remove("a.proj00");
    EXPECT_EQ(std::string::npos, ninja(".").sOut.find("FAILED"));
    EXPECT_EQ(sPacked, ReadFile("fx/flash.Fx00p"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);

#if !defined(EMBERVISE_SANITIZED) // every program is several times slower there: the cases above
    // A source appearing in a folder that no locator search passes (its sub-folder has a locator).
    WriteFile("fx/other/deep/z.proj00", "[Project Binaries]\nSparkrig=../../../lib/fxmodule.dll\n");
    WriteFile("fx/other/deep/flash.Fx00a", FLASH);
    EXPECT_NE(std::string::npos, ninja(".").sOut.find("PACK fx/other/deep/flash.Fx00a"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);
    WriteFile("fx/other/flash.Fx00a", FLASH);
    EXPECT_NE(std::string::npos, ninja(".").sOut.find("PACK fx/other/flash.Fx00a"));
    EXPECT_EQ(sPacked, ReadFile("fx/other/flash.Fx00p"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);
#endif
    // The locator is an input of every edge; a comment in it changes no byte, and restat stops there.
    Age("fx/flash.Fx00p");
    const auto packedTime = fs::last_write_time("fx/flash.Fx00p");
    std::ofstream("game.proj00", std::ios::app) << "; comment\n";
    EXPECT_NE(std::string::npos, ninja(".").sOut.find("PACK fx/flash.Fx00a"));
    EXPECT_EQ(packedTime, fs::last_write_time("fx/flash.Fx00p"));
    EXPECT_EQ(sPacked, ReadFile("fx/flash.Fx00p"));
    EXPECT_EQ(sNoWork, ninja(".").sOut);

    // Folders named in a list are watched like folders on the command line, and so is the list.
    WriteFile("paths.txt", "# folders\nfx/sub\n");
    ASSERT_EQ(0, Run({"--emit-ninja", "--output", "list.ninja", "@paths.txt"}).nExit);
    auto listNinja = []() { return RunTool(EMBERVISE_NINJA, {"-f", "list.ninja"}).sOut; };
    listNinja();
    WriteFile("fx/sub/new/flash.Fx00a", FLASH);
    EXPECT_NE(std::string::npos, listNinja().find("PACK fx/sub/new/flash.Fx00a"));
    EXPECT_EQ("ninja: no work to do.\n", listNinja());
    WriteFile("fx/other/flash.Fx00a", FLASH);
    fs::remove("fx/other/flash.Fx00p");
    WriteFile("paths.txt", "fx/sub\nfx/other\n");
    EXPECT_NE(std::string::npos, listNinja().find("PACK fx/other/flash.Fx00a"));
    EXPECT_EQ("ninja: no work to do.\n", listNinja());
}

TEST_F(ZqpackTreeTest, CMakeRepacksOnlyWhatChangedAndSettles)
{
    if (std::string(EMBERVISE_NINJA).empty())
        GTEST_SKIP() << "ninja is not installed";
    auto ninja = [](const char* pszFolder) { return RunTool(EMBERVISE_NINJA, {"-C", pszFolder}); };
    const std::string sRoot = fs::current_path().string();
    ASSERT_EQ(0, Run({"fx"}).nExit);
    const std::string sPacked = ReadFile("fx/flash.Fx00p");
    fs::remove("fx/flash.Fx00p");
    fs::remove("fx/sub/puff.Fx00p");
    // A project of its own that includes cmake/Embervise.cmake.
    WriteFile("CMakeLists.txt", "cmake_minimum_required(VERSION 3.20)\nproject(fxpack NONE)\n"
                                "set(EMBERVISE_ZQPACK \"" +
                                    BinProgram("zqpack") +
                                    "\")\ninclude(\"" EMBERVISE_SOURCE_DIR "/cmake/Embervise.cmake\")\n"
                                    "embervise_pack_effects(effects fx)\n");
    const RunResult configured = RunTool(
        EMBERVISE_CMAKE, {"-S", ".", "-B", "out", "-G", "Ninja", "-DCMAKE_MAKE_PROGRAM=" EMBERVISE_NINJA});
    ASSERT_EQ(0, configured.nExit) << configured.sOut << configured.sErr;
    const RunResult built = RunTool(EMBERVISE_CMAKE, {"--build", "out"});
    EXPECT_EQ(0, built.nExit) << built.sOut << built.sErr;
    EXPECT_EQ(sPacked, ReadFile("fx/flash.Fx00p"));
    EXPECT_TRUE(fs::exists("fx/sub/puff.Fx00p"));
    EXPECT_FALSE(fs::exists("fx/flash.Fx00p.d"));
    // CMake checks its globs every time; nothing else runs once settled (empty: settled, else what ran).
    auto cmakeSettled = [&]()
    {
        const std::string sOut = ninja("out").sOut;
        const bool bSettled = sOut.find("no work to do") != std::string::npos &&
                              sOut.find("Packing") == std::string::npos &&
                              sOut.find("Scanning") == std::string::npos;
        return bSettled ? std::string() : sOut;
    };
    EXPECT_EQ("", cmakeSettled());
    WriteFile("fx/sub/puff.Fx00a", std::string(PUFF) + "; edited\n");
    const RunResult rebuilt = ninja("out");
    EXPECT_NE(std::string::npos, rebuilt.sOut.find("Packing " + sRoot + "/fx/sub/puff.Fx00a"))
        << rebuilt.sOut;
    EXPECT_EQ(std::string::npos, rebuilt.sOut.find("Packing " + sRoot + "/fx/flash.Fx00a")) << rebuilt.sOut;
    EXPECT_EQ("", cmakeSettled());
    // A locator appearing beside the project's, first in name order, outside the packed folder.
    WriteFile("a.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    const RunResult cmakeEarlier = ninja("out");
    EXPECT_NE(std::string::npos, cmakeEarlier.sOut.find("FAILED: " + sRoot + "/fx/flash.Fx00p"))
        << cmakeEarlier.sOut;
    fs::remove("a.proj00");
    EXPECT_EQ(std::string::npos, ninja("out").sOut.find("FAILED"));
    EXPECT_EQ("", cmakeSettled());
    // One nearer a source, packing: the source is packed with it, and the next build settles.
    WriteFile("fx/sub/near.proj00", "[Project Binaries]\nSparkrig=../../lib/fxmodule.dll\n");
    EXPECT_NE(std::string::npos, ninja("out").sOut.find("Packing " + sRoot + "/fx/sub/puff.Fx00a"));
    EXPECT_EQ("", cmakeSettled());
    fs::remove("fx/sub/near.proj00");
    ninja("out");
    EXPECT_EQ("", cmakeSettled());

    // Make has no restat: a locator edit repacks once, and the next make has nothing to do.
    const RunResult makeConfigured =
        RunTool(EMBERVISE_CMAKE, {"-S", ".", "-B", "make", "-G", "Unix Makefiles"});
    if (makeConfigured.nExit != 0)
        return; // no make here
    EXPECT_EQ(0, RunTool(EMBERVISE_CMAKE, {"--build", "make"}).nExit);
    std::ofstream("game.proj00", std::ios::app) << "; another comment\n";
    EXPECT_NE(std::string::npos, RunTool(EMBERVISE_CMAKE, {"--build", "make"}).sOut.find("Packing"));
    const RunResult settled = RunTool(EMBERVISE_CMAKE, {"--build", "make"});
    EXPECT_EQ(std::string::npos, settled.sOut.find("Packing")) << settled.sOut;
}
} // namespace
#endif
