#include "ProjectLocator.h"
#include "plugin_test_support.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

namespace
{
const char* const kFullLocator = "[General]\r\n"
                                 "Game = Smoke Test\r\n"
                                 "[Project Directories]\r\n"
                                 "ResourceRoot=..\\res\r\n"
                                 "ToolsRoot=../tools/\r\n"
                                 "PC=pc\r\n"
                                 "[Project Binaries]\r\n"
                                 "Sparkrig=E:\\bin\\fx.dll\r\n"
                                 "GameServer=bin\\server.exe\r\n"
                                 "[Tools Launch]\r\n"
                                 "PCBinary=/opt/game/run\r\n"
                                 "PCWorking=.\\work\\..\\run\r\n"
                                 "[Source Control]\r\n"
                                 "Provider=svn\r\n"
                                 "Database=%PROJDIR%db;%PROJDIR%x\r\n";
} // namespace

TEST(ProjectLocator, ReadsAndResolvesEveryField)
{
    CTempTree tree;
    tree.Write("game/game.proj00", kFullLocator);
    const std::string source = tree.Write("game/fx/fire/smoke.Fx00a", "");
    const std::string root = tree.m_Root.string(), game = root + SEP + "game" + SEP;

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
    EXPECT_EQ(info.m_sXenonBinary, game);
    EXPECT_EQ(info.m_sXenonWorking, game);
    EXPECT_EQ(info.m_sSourceControlProvider, "svn");
    EXPECT_EQ(info.m_sSourceControlDatabase, game + "db;%PROJDIR%x");
}

TEST(ProjectLocator, NearestLocatorWinsAndRelativeNamesUseTheCurrentFolder)
{
    CTempTree tree;
    tree.Write("game/game.proj00", "[Project Binaries]\nSparkrig=bin\\fx.dll\n");
    tree.Write("game/fx/fire/smoke.Fx00a", "");
    const std::string game = tree.Path("game") + SEP;

    fs::current_path(tree.m_Root / "game");
    CProjectInfo info;
    ASSERT_TRUE(LocateProject("fx\\fire\\smoke.Fx00a", info));
    EXPECT_EQ(info.m_sProjectDir, game);
    EXPECT_EQ(info.m_sSparkrig, game + "bin" + SEP + "fx.dll");

    // A locator nearer the source hides the one above it; the search starts in the file's folder.
    tree.Write("game/fx/Sub.PROJ00", "[Project Binaries]\nSparkrig=E:\\sub.dll\n");
    fs::current_path(tree.m_Root / "game" / "fx" / "fire");
    ASSERT_TRUE(LocateProject("..\\fire/./smoke.Fx00a", info));
    EXPECT_EQ(info.m_sProjectDir, tree.Path("game/fx") + SEP);
    EXPECT_EQ(info.m_sSparkrig, "E:\\sub.dll");
    tree.Write("game/fx/fire/here.proj00", "");
    ASSERT_TRUE(LocateProject("smoke.Fx00a", info));
    EXPECT_EQ(info.m_sSparkrig, tree.Path("game/fx/fire") + SEP);

    char szFound[PLATFORM_MAX_PATH];
    ASSERT_TRUE(FindProjectFile(tree.Path("game/fx").c_str(), szFound, sizeof(szFound)));
    EXPECT_EQ(std::string(szFound), tree.Path("game/fx") + SEP + "Sub.PROJ00");
    EXPECT_FALSE(FindProjectFile(tree.Path("game/fx/none").c_str(), szFound, sizeof(szFound)));
}

TEST(ProjectLocator, NoLocatorLeavesTheRecordAlone)
{
    CTempTree tree;
    for (fs::path dir = tree.m_Root; dir != dir.parent_path(); dir = dir.parent_path())
    {
        for (const auto& entry : fs::directory_iterator(dir.parent_path()))
        {
            if (entry.path().extension() == ".proj00")
                GTEST_SKIP() << "a locator file lies above the temporary folder: " << entry.path();
        }
    }
    const std::string source = tree.Write("a/b/smoke.Fx00a", "");
    CProjectInfo info;
    info.m_sGame = "kept";
    EXPECT_FALSE(LocateProject(source.c_str(), info));
    EXPECT_EQ(info.m_sGame, "kept");
    EXPECT_EQ(info.m_sProjectDir, "");

    // Over-long names are cut with one truncation report.
    CRecordingTripwire tripwire;
    ZQSetAssertManagerForTesting(&tripwire);
    EXPECT_FALSE(LocateProject(("/" + std::string(300, 'n')).c_str(), info));
    ASSERT_EQ(tripwire.m_Reports.size(), 1u);
    EXPECT_EQ(tripwire.m_Reports[0].sFunction, "ZQStrCpy");
    ZQSetAssertManagerForTesting(nullptr);
}

TEST(ProjectLocator, ResolveKeepsAbsolutePaths)
{
    std::string out;
    ResolveProjectPath("/base/", "E:\\bin\\fx.dll", false, out);
    EXPECT_EQ(out, "E:\\bin\\fx.dll");
    ResolveProjectPath("/base/", "D:", true, out);
    EXPECT_EQ(out, std::string("D:") + SEP);
    ResolveProjectPath("/base/", "\\share\\x/", true, out);
    EXPECT_EQ(out, "\\share\\x/");
    ResolveProjectPath("/base", "sub\\dir", true, out);
    EXPECT_EQ(out, std::string() + SEP + "base" + SEP + "sub" + SEP + "dir" + SEP);
}
