#include "ProjectLocator.h"
#include "plugin_test_support.h"

TEST(ProjectLocator, ReadsAndResolvesEveryField)
{
    WriteTemp("game/game.proj00",
              "[General]\r\nGame = Smoke Test\r\n[Project Directories]\r\nResourceRoot=..\\res\r\n"
              "ToolsRoot=../tools/\r\nPC=pc\r\n[Project Binaries]\r\nSparkrig=E:\\bin\\fx.dll\r\n"
              "GameServer=bin\\server.exe\r\n[Tools Launch]\r\nPCBinary=/opt/game/run\r\n"
              "PCWorking=.\\work\\..\\run\r\nXenonBinary=\\\\share\\x\r\n[Source Control]\r\n"
              "Provider=svn\r\nDatabase=%PROJDIR%db;%PROJDIR%x\r\n");
    const std::string source = WriteTemp("game/fx/fire/smoke.Fx00a", "");
    const std::string root = TempDir().string(), game = root + SEP + "game" + SEP;

    CProjectInfo info;
    ASSERT_TRUE(LocateProject(source.c_str(), info));
    EXPECT_EQ(info.m_sProjectDir, game);
    EXPECT_EQ(info.m_sGame, "Smoke Test");
    EXPECT_EQ(info.m_sResourceRoot, root + SEP + "res" + SEP);
    EXPECT_EQ(info.m_sToolsRoot, root + SEP + "tools" + SEP);
    EXPECT_EQ(info.m_sPCDir, game + "pc" + SEP);
    EXPECT_EQ(info.m_sXenonDir, game);
    EXPECT_EQ(info.m_sSparkrig, "E:\\bin\\fx.dll");
    EXPECT_EQ(info.m_sGameServer, game + "bin" + SEP + "server.exe");
    EXPECT_EQ(info.m_sGameDatabase, game);
    EXPECT_EQ(info.m_sPCBinary, "/opt/game/run");
    EXPECT_EQ(info.m_sPCWorking, game + "run");
    EXPECT_EQ(info.m_sXenonBinary, "\\\\share\\x");
    EXPECT_EQ(info.m_sXenonWorking, game);
    EXPECT_EQ(info.m_sSourceControlProvider, "svn");
    EXPECT_EQ(info.m_sSourceControlDatabase, game + "db;%PROJDIR%x");

    std::string out;
    ResolveProjectPath("base", "D:", true, out); // a colon before any separator: absolute
    EXPECT_EQ(out, std::string("D:") + SEP);
    ResolveProjectPath(root.c_str(), "a\\b", true, out);
    EXPECT_EQ(out, root + SEP + "a" + SEP + "b" + SEP);
}

TEST(ProjectLocator, NearestLocatorWinsAndRelativeNamesUseTheCurrentFolder)
{
    WriteTemp("game/game.proj00", "[Project Binaries]\nSparkrig=bin\\fx.dll\n");
    WriteTemp("game/fx/fire/smoke.Fx00a", "");
    const std::string game = TempPath("game") + SEP, fx = TempPath("game/fx") + SEP;

    fs::current_path(TempDir() / "game");
    CProjectInfo info;
    ASSERT_TRUE(LocateProject("fx\\fire\\smoke.Fx00a", info));
    EXPECT_EQ(info.m_sProjectDir, game);
    EXPECT_EQ(info.m_sSparkrig, game + "bin" + SEP + "fx.dll");

    WriteTemp("game/fx/Sub.PROJ00", "[Project Binaries]\nSparkrig=E:\\sub.dll\n");
    fs::current_path(TempDir() / "game" / "fx" / "fire");
    ASSERT_TRUE(LocateProject("..\\fire/./smoke.Fx00a", info));
    EXPECT_EQ(info.m_sProjectDir, fx);
    EXPECT_EQ(info.m_sSparkrig, "E:\\sub.dll");

    // The search starts in the source's own folder; an empty locator resolves to its folder.
    WriteTemp("game/fx/fire/here.proj00", "");
    ASSERT_TRUE(LocateProject("smoke.Fx00a", info));
    EXPECT_EQ(info.m_sSparkrig, TempPath("game/fx/fire") + SEP);
}

TEST(ProjectLocator, NoLocatorLeavesTheRecordAlone)
{
    if (LocatorAbove())
        GTEST_SKIP() << "a locator file lies above the temporary folder";
    const std::string source = WriteTemp("a/b/smoke.Fx00a", "");
    CProjectInfo info;
    info.m_sGame = "kept";
    EXPECT_FALSE(LocateProject(source.c_str(), info));
    EXPECT_EQ(info.m_sGame, "kept");
    EXPECT_EQ(info.m_sProjectDir, "");
}

TEST(ProjectLocator, NeverReadsAFolderOrACutPath)
{
    CRecordingTripwire tripwire;
    WriteTemp("outer.proj00", "[Project Binaries]\nSparkrig=outer.dll\n");
    const std::string root = TempDir().string();

    // A folder named like a locator is no locator: the search goes on above it.
    WriteTemp("fx/sub.proj00/keep", "");
    CProjectInfo info;
    ASSERT_TRUE(LocateProject(WriteTemp("fx/smoke.Fx00a", "").c_str(), info));
    EXPECT_EQ(info.m_sProjectDir, root + SEP);

    // Folders of nLength bytes, each with its own locator. The pattern "<folder>/*.proj00" and the
    // locator's path must fit in 259 characters; otherwise the search stops: a locator further up
    // would be the wrong one.
    const auto folderOf = [&](size_t nLength) { return std::string(nLength - root.size() - 1, 'd'); };
    for (size_t nLength : {251, 256, 257, 259})
    {
        SCOPED_TRACE(nLength);
        WriteTemp(folderOf(nLength) + "/game.proj00", "[Project Binaries]\nSparkrig=inner.dll\n");
        CProjectInfo cut;
        cut.m_sGame = "kept";
        EXPECT_FALSE(LocateProject(WriteTemp(folderOf(nLength) + "/smoke.Fx00a", "").c_str(), cut));
        EXPECT_EQ(cut.m_sGame, "kept");
        EXPECT_EQ(tripwire.Take(),
                  Texts{" [Forced Assert]|LocateProject|Error: Path too long to search for the "
                        "project locator file"});
    }
    // 250 bytes leave room for the pattern, and for a locator's path of up to 259 characters.
    WriteTemp(folderOf(250) + "/a.proj00", "");
    ASSERT_TRUE(LocateProject(WriteTemp(folderOf(250) + "/smoke.Fx00a", "").c_str(), info));
    EXPECT_EQ(info.m_sProjectDir, root + SEP + folderOf(250) + SEP);
    EXPECT_TRUE(tripwire.Take().empty());
    WriteTemp(folderOf(250) + "/0000.proj00", ""); // comes first, and its path is too long
    EXPECT_FALSE(LocateProject(WriteTemp(folderOf(250) + "/smoke.Fx00a", "").c_str(), info));
    EXPECT_EQ(tripwire.Take().size(), 1u);
}
