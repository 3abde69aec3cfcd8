// zqpack's records of past packs as an attacker or an accident may leave them, edits made while a
// run packs, interrupts in every phase, and names that build files cannot hold.
#include "test_support.h"

#include "zqpack.h"
#include "zqprocess.h"

#include <chrono>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
const std::string PLUGIN = BinLibrary("Embervise");

std::string Effect(const std::string& sName)
{
    return "(header (version 1))\n(effect-tree (effect (name " + sName +
           ") (length 1000) (key-list\n  (key (type Light) (id 1) (track 0) (start-time 0) (end-time "
           "500)))))\n";
}

std::string Counts(const RunResult& run)
{
    static const std::regex summary(
        "zqpack: (\\d+ packed, \\d+ up to date, \\d+ failed, \\d+ skipped) in \\d+\\.\\d\\d s\n$");
    std::smatch match;
    return std::regex_search(run.sErr, match, summary) ? match[1].str() : "(no summary) " + run.sErr;
}

[[maybe_unused]] size_t Occurrences(const std::string& sText, const std::string& sPart)
{
    size_t nCount = 0;
    for (size_t nAt = sText.find(sPart); nAt != std::string::npos; nAt = sText.find(sPart, nAt + 1))
        ++nCount;
    return nCount;
}

class ZqpackRecordsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(TempPath("lib"));
        fs::copy_file(BinLibrary("sparkrig_sample"), TempPath(Module()),
                      fs::copy_options::overwrite_existing);
        WriteTemp("game.proj00", "[Project Binaries]\nSparkrig=lib/fxmodule.dll\n");
        WriteTemp("fx/a.Fx00a", Effect("Flash"));
        WriteTemp("fx/sub/b.Fx00a", Effect("Puff"));
        fs::current_path(TempDir());
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
        SetEnv("ZQTEST_MISBEHAVE", "");
    }
    static std::string Module() { return "lib/fxmodule" + std::string(kLibrarySuffix); }
    static RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--plugin", PLUGIN});
        return RunProgram("zqpack", args);
    }
    // The manifest that holds the records of the packed files of a folder.
    static fs::path Manifest(const std::string& sFolder)
    {
        const std::string sAbsolute = zqpack::AbsolutePath(sFolder);
        return fs::path(TempPath("cache")) / "records" /
               (zqpack::DigestHex(zqpack::DigestBytes(sAbsolute.data(), sAbsolute.size())) + ".rec");
    }
    static PlatformProcess Start(std::vector<std::string> args, const std::string& sName)
    {
        args.insert(args.begin(), {"--plugin", PLUGIN});
        std::vector<const char*> argv;
        for (const std::string& sArg : args)
            argv.push_back(sArg.c_str());
        return PlatformStartProcess(BinProgram("zqpack").c_str(), argv.data(), argv.size(),
                                    TempPath(sName + ".out").c_str(), TempPath(sName + ".err").c_str());
    }
    static bool WaitFor(const std::function<bool()>& condition)
    {
        for (int i = 0; i < 1000; ++i)
        {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(ZqpackRecordsTest, DigestsAreXxh3)
{
    // XXH3-128 of "" and of "a" as the library's authors publish them (its sanity check values).
    EXPECT_EQ("99aa06d3014798d86001c324468d497f", zqpack::DigestHex(zqpack::DigestBytes("", 0)));
    const zqpack::Digest128 a = zqpack::DigestBytes("a", 1);
    EXPECT_FALSE(a == zqpack::DigestBytes("b", 1));
    zqpack::FileDigest digest;
    ASSERT_TRUE(zqpack::ParseDigestText("5 " + zqpack::DigestHex(a) + " 1:2:3:4", &digest));
    EXPECT_TRUE(digest.bOk && digest.bStamped && digest.stamp.nChangeTimeNs == 2 &&
                digest.stamp.nFileId == 4);
    EXPECT_EQ("5 " + zqpack::DigestHex(a) + " 1:2:3:4", zqpack::DigestText(digest));
    for (const char* pszBad :
         {"5 00 -", "x 99aa06d3014798d86001c324468d497f -", "5 99aa06d3014798d86001c324468d497f 1:2:3",
          "5 99aa06d3014798d86001c324468d497F -"})
        EXPECT_FALSE(zqpack::ParseDigestText(pszBad, &digest)) << pszBad;
}

// Edits made while a run packs are packed by the next run: the record holds what the pack read.
TEST_F(ZqpackRecordsTest, EditsDuringARunArePackedNextTime)
{
    // One worker packs fx/a, then hangs in fx/bad/b's module until the time limit; its results, and
    // so the records, come only then.
    WriteTemp("fx/bad/bad.proj00",
              "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    WriteTemp("fx/bad/b.Fx00a", Effect("Bad"));
    WriteTemp("fx/c.Fx00a", Effect("Cold"));
    SetEnv("ZQTEST_MISBEHAVE", "hang");
    PlatformProcess hRun = Start({"-j1", "--force", "--timeout", "3", "fx"}, "during");
    ASSERT_TRUE(hRun);
    ASSERT_TRUE(WaitFor([] { return fs::exists("fx/a.Fx00p"); }));
    const std::string sPackedA = ReadFile("fx/a.Fx00p");
    // The source, in place with its write time put back, and the module replaced by a variant.
    const auto written = fs::last_write_time("fx/a.Fx00a");
    std::fstream("fx/a.Fx00a", std::ios::in | std::ios::out | std::ios::binary) << Effect("Flask");
    fs::last_write_time("fx/a.Fx00a", written);
    int nExit = 0;
    ASSERT_EQ(0, PlatformWaitAnyProcess(&hRun, 1, &nExit));
    EXPECT_EQ(1, nExit) << ReadFile(TempPath("during.err"));
    SetEnv("ZQTEST_MISBEHAVE", "");
    fs::remove_all("fx/bad");
    EXPECT_EQ("1 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    EXPECT_NE(sPackedA, ReadFile("fx/a.Fx00p"));
    EXPECT_NE(std::string::npos, ReadFile("fx/a.Fx00p").find("Flask"));
}

// A locator that comes first in name order in the folder where the search stopped governs from then.
TEST_F(ZqpackRecordsTest, AnEarlierLocatorBesideTheFoundOneIsSeen)
{
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    WriteFile("a.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    const RunResult run = Run({"fx"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("0 packed, 0 up to date, 2 failed, 0 skipped", Counts(run));
    fs::remove("a.proj00");
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
}

TEST_F(ZqpackRecordsTest, RecordsThatCannotBeTrustedAreNotUsed)
{
    ASSERT_EQ(0, Run({"fx"}).nExit);
#if !defined(_WIN32)
    // Private folders, private files.
    EXPECT_EQ(fs::perms::owner_all, fs::status(TempPath("cache")).permissions() & fs::perms::all);
    EXPECT_EQ(fs::perms::owner_all, fs::status(TempPath("cache/records")).permissions() & fs::perms::all);
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
              fs::status(Manifest("fx")).permissions() & fs::perms::all);

    // A folder others may write in: said once, nothing is up to date, nothing is written there.
    fs::permissions(TempPath("cache/records"), fs::perms::others_write, fs::perm_options::add);
    const RunResult shared = Run({"fx"});
    EXPECT_EQ(0, shared.nExit);
    EXPECT_EQ(1u, Occurrences(shared.sErr, "zqpack: warning: others may write in ")) << shared.sErr;
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(shared));
    fs::permissions(TempPath("cache/records"), fs::perms::others_write, fs::perm_options::remove);
    if (geteuid() == 0)
    {
        // One that another user owns.
        ASSERT_EQ(0, chown(TempPath("cache").c_str(), 65534, 65534));
        const RunResult foreign = Run({"fx"});
        EXPECT_EQ(1u, Occurrences(foreign.sErr, "belongs to another user")) << foreign.sErr;
        EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(foreign));
        ASSERT_EQ(0, chown(TempPath("cache").c_str(), 0, 0));
    }
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));

    // A record that is a link to an endless device or a FIFO is not read: the run neither hangs nor
    // runs out of memory, and packs the folder's files again.
    fs::remove(Manifest("fx"));
    fs::create_symlink("/dev/zero", Manifest("fx"));
    fs::remove(Manifest("fx/sub"));
    ASSERT_EQ(0, mkfifo(Manifest("fx/sub").c_str(), 0600));
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    EXPECT_TRUE(fs::is_regular_file(Manifest("fx")));
    EXPECT_TRUE(fs::is_regular_file(Manifest("fx/sub")));
#endif

    // A temporary record a killed run left is removed once it is old; a fresh one may be another run's.
    const fs::path old = Manifest("fx").string() + ".tmp-0123456789abcdef";
    const fs::path fresh = Manifest("fx").string() + ".tmp-fedcba9876543210";
    WriteFile(old.string(), "left by a killed run");
    WriteFile(fresh.string(), "being written");
    fs::last_write_time(old, fs::last_write_time(old) - std::chrono::hours(1));
    EXPECT_EQ("0 packed, 2 up to date, 0 failed, 0 skipped", Counts(Run({"fx"})));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(fresh));

    // A manifest that cannot be replaced: a warning, and the exit status follows the packs.
    fs::remove(Manifest("fx"));
    fs::create_directories(Manifest("fx") / "in-the-way");
    const RunResult unwritable = Run({"--force", "fx"});
    EXPECT_EQ(0, unwritable.nExit) << unwritable.sErr;
    EXPECT_NE(std::string::npos,
              unwritable.sErr.find("zqpack: warning: cannot keep the records of packed files in "))
        << unwritable.sErr;
    EXPECT_EQ("2 packed, 0 up to date, 0 failed, 0 skipped", Counts(unwritable));
}

#if !defined(_WIN32)
// The first interrupt ends the run in every phase, with 130.
TEST_F(ZqpackRecordsTest, InterruptsEndTheRunInEveryPhase)
{
    WriteTemp("fx/bad/bad.proj00",
              "[Project Binaries]\nSparkrig=" + BinLibrary("testmodule_misbehave") + "\n");
    WriteTemp("fx/bad/b.Fx00a", Effect("Bad"));
    SetEnv("ZQTEST_MISBEHAVE", "hang");
    // In-process, in a module that never returns: the pack cannot end, so the process does.
    PlatformProcess hRun = Start({"--no-workers", "--force", "fx"}, "hang");
    ASSERT_TRUE(hRun);
    ASSERT_TRUE(WaitFor([] { return fs::exists("fx/a.Fx00p"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(PlatformInterruptProcess(hRun));
    PlatformExit end;
    ASSERT_EQ(0, PlatformWaitAnyProcessFor(&hRun, 1, &end, 5000));
    EXPECT_EQ(130, end.nCode) << ReadFile(TempPath("hang.err"));
    EXPECT_NE(std::string::npos, ReadFile(TempPath("hang.err")).find("zqpack: interrupted\n"));

    // --timeout bounds it too.
    const RunResult timed = Run({"--no-workers", "--force", "--timeout", "1", "fx"});
    EXPECT_EQ(1, timed.nExit);
    EXPECT_NE(std::string::npos, timed.sErr.find("b.Fx00a: the pack ran longer than the time limit of 1 s"))
        << timed.sErr;
    SetEnv("ZQTEST_MISBEHAVE", "");
    fs::remove_all("fx/bad");

    // A source that is a FIFO never blocks the host (its packer may block on it): interrupted, the
    // run ends.
    ASSERT_EQ(0, mkfifo("fx/pipe.Fx00a", 0600));
    hRun = Start({"fx"}, "fifo");
    ASSERT_TRUE(hRun);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(PlatformInterruptProcess(hRun));
    ASSERT_EQ(0, PlatformWaitAnyProcessFor(&hRun, 1, &end, 5000));
    EXPECT_EQ(130, end.nCode) << ReadFile(TempPath("fifo.err"));
    fs::remove("fx/pipe.Fx00a");

    // An interrupt at any moment of a run: it ends with 130 and no summary, or (when it came too late)
    // as if it had not come; never with a summary and an interrupt together.
    for (int nDelayMs = 0; nDelayMs <= 80; nDelayMs += 8)
    {
        hRun = Start({"--force", "--no-workers", "fx"}, "term");
        ASSERT_TRUE(hRun);
        std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
        PlatformInterruptProcess(hRun);
        ASSERT_EQ(0, PlatformWaitAnyProcessFor(&hRun, 1, &end, 5000));
        const std::string sErr = ReadFile(TempPath("term.err"));
        if (end.bSignaled)
            continue; // before zqpack caught signals
        if (end.nCode == 0)
        {
            EXPECT_EQ(std::string::npos, sErr.find("interrupted")) << sErr;
            continue; // after the run
        }
        EXPECT_EQ(130, end.nCode) << sErr;
        EXPECT_NE(std::string::npos, sErr.find("zqpack: interrupted\n")) << sErr;
        EXPECT_EQ(std::string::npos, sErr.find(" packed, ")) << sErr;
    }

    // A termination between the writes of two record files (the test's cue, not a race): 143, no
    // summary, every record written, and the packed files what a forced pack makes.
    for (const char* pszMode : {"--no-workers", "-j2"})
    {
        fs::remove_all(TempPath("cache/records"));
        SetEnv("ZQTEST_TERMINATE_AT", "records");
        const RunResult stopped = Run({"--force", pszMode, "fx"});
        SetEnv("ZQTEST_TERMINATE_AT", "");
        EXPECT_EQ(143, stopped.nExit) << pszMode << stopped.sErr;
        EXPECT_NE(std::string::npos, stopped.sErr.find("zqpack: interrupted\n")) << stopped.sErr;
        EXPECT_EQ(std::string::npos, (stopped.sOut + stopped.sErr).find(" packed, ")) << stopped.sOut;
        EXPECT_TRUE(fs::exists(Manifest("fx")) && fs::exists(Manifest("fx/sub")));
        const std::string sA = ReadFile("fx/a.Fx00p");
        const std::string sB = ReadFile("fx/sub/b.Fx00p");
        const RunResult next = Run({"--json", "fx"});
        EXPECT_EQ(2u, Occurrences(next.sOut, "\"result\":\"up-to-date\"")) << next.sOut;
        ASSERT_EQ(0, Run({"--force", "fx"}).nExit);
        EXPECT_EQ(sA, ReadFile("fx/a.Fx00p"));
        EXPECT_EQ(sB, ReadFile("fx/sub/b.Fx00p"));
    }
}
#endif

// Names with a newline cannot be written in a depfile or in build.ninja: refused, saying why.
TEST_F(ZqpackRecordsTest, NewlinesInNamesAreRefusedByBuildFiles)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows names cannot hold a newline";
#else
    WriteFile("fx/new\nline.Fx00a", Effect("Odd"));
    const RunResult depfiles = Run({"--depfiles", "fx"});
    EXPECT_EQ(1, depfiles.nExit);
    EXPECT_NE(std::string::npos,
              depfiles.sErr.find("zqpack: cannot write fx/new\\x0Aline.Fx00p.d: a path holds a "
                                 "newline, which Make syntax cannot express"))
        << depfiles.sErr;
    EXPECT_TRUE(fs::exists("fx/a.Fx00p.d"));
    EXPECT_FALSE(fs::exists("fx/new\nline.Fx00p.d"));
    const RunResult ninja = Run({"--emit-ninja", "fx"});
    EXPECT_EQ(1, ninja.nExit);
    EXPECT_NE(std::string::npos,
              ninja.sErr.find("zqpack: fx/new\\x0Aline.Fx00a: cannot be named in build.ninja: its "
                              "path holds a newline"))
        << ninja.sErr;
    EXPECT_EQ(std::string::npos, ninja.sOut.find("new\nline"));
#endif
}
} // namespace
