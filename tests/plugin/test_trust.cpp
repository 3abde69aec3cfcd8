// The trust rule for locator files and modules, and what the packer tells a host of extension
// version 2 when a file it needed was not used: refused by the rule, or a module that cannot load.
#include "EffectPacker.h"
#include "FileTrust.h"
#include "ProjectLocator.h"
#include "plugin_test_support.h"

namespace
{
const char* const kEmptyTree = "(header (version 1))\n(effect-tree)\n";
const std::string kMarkerModule = BinLibrary("testmodule_marker");

#if defined(_WIN32)
#define SKIP_WITHOUT_OWNERS() GTEST_SKIP() << "file ownership is not checked on Windows"
#else
#define SKIP_WITHOUT_OWNERS() (void)0
#endif

std::string Why(const std::string& sPath)
{
    std::string sWhy;
    return IsFileTrusted(sPath.c_str(), sWhy) ? "trusted" : sWhy;
}

void SetMode(const std::string& sPath, fs::perms mode)
{
    fs::permissions(sPath, mode, fs::perm_options::replace);
}

const fs::perms kShared = fs::perms::all;                         // 0777
const fs::perms kSticky = fs::perms::all | fs::perms::sticky_bit; // 1777
const fs::perms kPrivate = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec; // 0755

// A sink of extension version 2: the messages as CRecordingSink has them, and each file not used as
// "unused:WHY:KIND:path|named by|resolved|reason".
class CUnusedSink : public IPackerHostSink2
{
public:
    ~CUnusedSink() { SetMessageSink(nullptr); }
    bool SetTask(const char* psz) override { return m_base.SetTask(psz); }
    bool SetSubTask(const char* psz) override { return m_base.SetSubTask(psz); }
    bool SetProgress(uint32_t n, uint32_t m) override { return m_base.SetProgress(n, m); }
    bool ClearMessages() override { return m_base.ClearMessages(); }
    bool MakeFileWritable(const char* psz) override { return m_base.MakeFileWritable(psz); }
    bool LogMessage(int32_t nLevel, const char* psz) override { return m_base.LogMessage(nLevel, psz); }
    bool IsPlanOnly() override { return false; }
    bool ReportInput(uint32_t, const char*) override { return true; }
    bool ReportOutput(const char*) override { return true; }
    bool ReportUnusedInput(uint32_t nWhy, uint32_t nKind, const char* pszPath, const char* pszNamedBy,
                           const char* pszResolved, const char* pszReason) override
    {
        m_Unused.push_back("unused:" + std::to_string(nWhy) + ":" + std::to_string(nKind) + ":" + pszPath +
                           "|" + (pszNamedBy ? pszNamedBy : "-") + "|" + (pszResolved ? pszResolved : "-") +
                           "|" + pszReason);
        return true;
    }
    CRecordingSink m_base;
    Texts m_Unused;
};

// A host of extension version 1: it has no slot 10, so a packer that called it would crash.
class CVersion1Sink : public IPackerHostSink
{
public:
    bool SetTask(const char* psz) override { return m_base.SetTask(psz); }
    bool SetSubTask(const char* psz) override { return m_base.SetSubTask(psz); }
    bool SetProgress(uint32_t, uint32_t) override { return true; }
    bool ClearMessages() override { return true; }
    bool MakeFileWritable(const char* psz) override { return m_base.MakeFileWritable(psz); }
    bool LogMessage(int32_t nLevel, const char* psz) override { return m_base.LogMessage(nLevel, psz); }
    bool IsPlanOnly() override { return false; }
    bool ReportInput(uint32_t, const char*) override { return true; }
    bool ReportOutput(const char*) override { return true; }
    CRecordingSink m_base;
};

// Packs with a plain sink, a version 1 sink and a version 2 sink: the messages must not differ.
bool PackThreeWays(const std::string& sSource, CUnusedSink& sink)
{
    CRecordingSink plain;
    const bool bPlain = GetEffectPacker().PackFile(sSource.c_str(), 0, &plain);
    CVersion1Sink version1;
    const bool bVersion1 = GetEffectPacker().PackFile(sSource.c_str(), PackerHostExtensionArg(1), &version1);
    const bool bPacked = GetEffectPacker().PackFile(sSource.c_str(), PackerHostExtensionArg(), &sink);
    EXPECT_EQ(bPlain, bPacked);
    EXPECT_EQ(bVersion1, bPacked);
    EXPECT_EQ(plain.m_Calls, sink.m_base.m_Calls);
    EXPECT_EQ(version1.m_base.m_Calls, sink.m_base.m_Calls);
    return bPacked;
}

struct CTrustEnvironment
{
    CTrustEnvironment() { SetEnv("EMBERVISE_TRUSTED_DIRS", ""); }
    ~CTrustEnvironment() { SetEnv("EMBERVISE_TRUSTED_DIRS", ""); }
};
} // namespace

TEST(Trust, FolderWritableByAllWithoutStickyBitIsRefused)
{
    SKIP_WITHOUT_OWNERS();
    CTrustEnvironment environment;
    const std::string sDir = TempPath("shared");
    const std::string sFile = WriteTemp("shared/game.proj00", "");
    SetMode(sDir, kPrivate);
    EXPECT_EQ("trusted", Why(sFile));
    SetMode(sDir, kShared);
    EXPECT_EQ("its folder " + sDir + " can be written by every user", Why(sFile));
    SetMode(sDir, kSticky); // others may add files but not replace this one
    EXPECT_EQ("trusted", Why(sFile));
    EXPECT_EQ("trusted", Why(TempPath("nowhere/none.proj00"))); // nothing there to use

    // A link is judged by the folder it lies in and by the folder of the file it leads to.
    SetMode(sDir, kShared);
    const std::string sSafe = WriteTemp("safe/real.proj00", "");
    fs::create_symlink(sSafe, TempPath("shared/link.proj00"));
    EXPECT_EQ("its folder " + sDir + " can be written by every user", Why(TempPath("shared/link.proj00")));
    fs::create_symlink(sFile, TempPath("safe/link.proj00"));
    EXPECT_EQ("its folder " + sDir + " can be written by every user", Why(TempPath("safe/link.proj00")));
    EXPECT_EQ("trusted", Why(sSafe));
}

TEST(Trust, TrustedFoldersLiftTheRuleForTheirTree)
{
    SKIP_WITHOUT_OWNERS();
    CTrustEnvironment environment;
    const std::string sFile = WriteTemp("proj/shared/game.proj00", "");
    SetMode(TempPath("proj/shared"), kShared);
    const std::string sSep(1, PLATFORM_PATH_LIST_SEP);
    const std::vector<std::pair<std::string, bool>> cases = {
        {TempPath("proj"), true},
        {TempPath("proj/shared"), true},
        {TempPath("proj/shared") + "/", true},
        {TempPath("proj/sha"), false}, // a name that only begins the same
        {TempPath("other"), false},
        {TempPath("other") + sSep + TempPath("proj"), true},
        {"*", true},
        {"", false},
    };
    fs::create_directories(TempPath("other"));
    for (const auto& [sList, bTrusted] : cases)
    {
        SetEnv("EMBERVISE_TRUSTED_DIRS", sList.c_str());
        EXPECT_EQ(bTrusted, Why(sFile) == "trusted") << sList;
    }
}

TEST(Trust, FileOfAnotherUserIsRefused)
{
    SKIP_WITHOUT_OWNERS();
    CTrustEnvironment environment;
    const std::string sFile = WriteTemp("tmp/game.proj00", "");
    SetMode(TempPath("tmp"), kSticky);
    if (!GiveToAnotherUser(sFile))
        GTEST_SKIP() << "giving a file to another user needs root";
    EXPECT_TRUE(
        std::regex_match(Why(sFile), std::regex("it is owned by (user \\S+ \\()?uid 65534\\)?, not by you")))
        << Why(sFile);
    std::string sFileName, sWhy;
    EXPECT_FALSE(IsLibraryTrusted(sFile.c_str(), sFileName, sWhy));
    EXPECT_EQ(sFile, sFileName);
}

TEST(Trust, RefusedLocatorEndsTheSearch)
{
    SKIP_WITHOUT_OWNERS();
    CTrustEnvironment environment;
    WriteTemp("game/game.proj00", "[Project Binaries]\nSparkrig=" + kMarkerModule + "\n");
    const std::string sPlanted = WriteTemp("game/drop/planted.proj00", "[General]\nGame=Planted\n");
    SetMode(TempPath("game/drop"), kShared);
    const std::string sSource = WriteTemp("game/drop/fx/a.Fx00a", kEmptyTree);

    CProjectInfo info;
    info.m_sGame = "unchanged";
    CLocatorTrace trace;
    EXPECT_FALSE(LocateProject(sSource.c_str(), info, &trace));
    EXPECT_EQ("unchanged", info.m_sGame);
    EXPECT_EQ(sPlanted, trace.sRefusedFile);
    EXPECT_EQ("its folder " + TempPath("game/drop") + " can be written by every user", trace.sRefusal);
    EXPECT_EQ("", trace.sLocatorFile);

    SetEnv("EMBERVISE_TRUSTED_DIRS", TempPath("game").c_str());
    CLocatorTrace allowed;
    EXPECT_TRUE(LocateProject(sSource.c_str(), info, &allowed));
    EXPECT_EQ("Planted", info.m_sGame);
    EXPECT_EQ("", allowed.sRefusedFile);
}

TEST(Trust, NoCodeRunsFromAPlantedLocatorOrModule)
{
    SKIP_WITHOUT_OWNERS();
    CTrustEnvironment environment;
    const std::string sMarker = TempPath("marker.txt");
    SetEnv("ZQTEST_MARKER", sMarker.c_str());
    const std::string sLocator =
        WriteTemp("tmp/planted.proj00", "[Project Binaries]\nSparkrig=" + kMarkerModule + "\n");
    SetMode(TempPath("tmp"), kSticky);
    const std::string sSource = WriteTemp("tmp/work/a.Fx00a", kEmptyTree);
    if (!GiveToAnotherUser(sLocator))
        GTEST_SKIP() << "giving a file to another user needs root";

    CUnusedSink refused;
    EXPECT_FALSE(PackThreeWays(sSource, refused));
    EXPECT_EQ(refused.m_base.m_Calls.back(),
              "0:Error: Unable to locate project locator file for '" + sSource + "'");
    ASSERT_EQ(1u, refused.m_Unused.size());
    EXPECT_EQ(0u, refused.m_Unused[0].rfind("unused:1:1:" + sLocator + "|-|-|it is owned by ", 0))
        << refused.m_Unused[0];
    EXPECT_FALSE(fs::exists(sMarker));

    // Trusted on purpose, the same locator packs, and the module's code runs.
    SetEnv("EMBERVISE_TRUSTED_DIRS", TempPath("tmp").c_str());
    CUnusedSink allowed;
    EXPECT_TRUE(PackThreeWays(sSource, allowed));
    EXPECT_TRUE(allowed.m_Unused.empty());
    EXPECT_NE("", ReadFile(sMarker));

    // A module of another user named by the user's own locator.
    SetEnv("EMBERVISE_TRUSTED_DIRS", "");
    fs::remove(sMarker);
    const std::string sModule = TempPath("mine/bin/marker") + kLibrarySuffix;
    fs::create_directories(TempPath("mine/bin"));
    fs::copy_file(kMarkerModule, sModule);
    ASSERT_TRUE(GiveToAnotherUser(sModule));
    const std::string sOwnLocator =
        WriteTemp("mine/game.proj00", "[Project Binaries]\nSparkrig=bin/marker.dll\n");
    const std::string sOwnSource = WriteTemp("mine/fx/a.Fx00a", kEmptyTree);
    CUnusedSink module;
    EXPECT_FALSE(PackThreeWays(sOwnSource, module));
    const std::string sNamed = TempPath("mine/bin/marker.dll");
    EXPECT_EQ(module.m_base.m_Calls.back(), "0:Error: Unable to load in Sparkrig file '" + sNamed + "'");
    ASSERT_EQ(1u, module.m_Unused.size());
    EXPECT_EQ(0u, module.m_Unused[0].rfind(
                      "unused:1:2:" + sNamed + "|" + sOwnLocator + "|" + sModule + "|it is owned by ", 0))
        << module.m_Unused[0];
    EXPECT_FALSE(fs::exists(sMarker));
}

TEST(Trust, ModuleFailuresSayWhy)
{
    CTrustEnvironment environment;
    const std::string sLocator = WriteTemp("game/game.proj00", "");
    const std::string sSource = WriteTemp("game/fx/a.Fx00a", kEmptyTree);
    WriteTemp("game/notes.so", "not a library\n");
    WriteTemp("game/notes.dll", "not a library\n");
    struct Case
    {
        std::string sModule, sResolved, sReason; // sReason: a regular expression
    };
#if defined(_WIN32)
    const char* pszSystemText = ".+";
#else
    const char* pszSystemText = nullptr;
#endif
    const std::vector<Case> cases = {
        {TempPath("game/missing.dll"), TempPath("game/missing") + kLibrarySuffix,
         pszSystemText ? pszSystemText
                       : ".*missing.so: cannot open shared object file: No such file or directory"},
        {TempPath("game/notes.dll"), TempPath("game/notes") + kLibrarySuffix,
         pszSystemText ? pszSystemText : ".*notes.so: (file too short|invalid ELF header)"},
        {BinLibrary("Embervise"), BinLibrary("Embervise"),
         "the library does not export PyrixGetInfo or PyrixReleaseInfo: it is not an effect module"},
        {BinLibrary("testmodule_noget"), BinLibrary("testmodule_noget"),
         "the library does not export PyrixGetInfo: it is not an effect module"},
        {BinLibrary("testmodule_nullinfo"), BinLibrary("testmodule_nullinfo"),
         "PyrixGetInfo gave no module information"},
        {BinLibrary("testmodule_badid"), BinLibrary("testmodule_badid"),
         "type 'Beta' has id 2, not below the type count 2"},
        {BinLibrary("testmodule_notable"), BinLibrary("testmodule_notable"),
         "the module announces 2 types but gives no type table"},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(test.sModule);
        WriteFile(sLocator, "[Project Binaries]\nSparkrig=" + test.sModule + "\n");
        CUnusedSink sink;
        EXPECT_FALSE(PackThreeWays(sSource, sink));
        EXPECT_EQ(sink.m_base.m_Calls.back(),
                  "0:Error: Unable to load in Sparkrig file '" + test.sModule + "'");
        ASSERT_EQ(1u, sink.m_Unused.size());
        const std::string sHead = "unused:2:2:" + test.sModule + "|" + sLocator + "|" +
                                  (test.sResolved == test.sModule ? "-" : test.sResolved) + "|";
        ASSERT_EQ(0u, sink.m_Unused[0].rfind(sHead, 0)) << sink.m_Unused[0];
        EXPECT_TRUE(std::regex_match(sink.m_Unused[0].substr(sHead.size()), std::regex(test.sReason)))
            << sink.m_Unused[0];
    }
}
