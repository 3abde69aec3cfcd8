// The platform's process routines, with zqpack as the child program.
#include "test_support.h"

#include <cstdio>

namespace
{
const std::string PROGRAM = BinProgram("zqpack");

std::string ReadLines(const std::string& sPath)
{
    return TextLines(ReadFile(sPath));
}

TEST(PlatformProcess, RedirectsPassesArgumentsAndReportsEachExitStatus)
{
    const std::string sOut[2] = {TempPath("0.out"), TempPath("1.out")};
    const std::string sErr[2] = {TempPath("0.err"), TempPath("1.err")};

    // Blanks, quotes and backslashes must reach the child as they are.
    const char* apszJson[] = {"--json", "-q", "--", "odd \"name\"\\ \\\\.Fx00a"};
    const char* apszBogus[] = {"--bogus"};
    PlatformProcess aProcesses[2] = {
        PlatformStartProcess(PROGRAM.c_str(), apszJson, 4, sOut[0].c_str(), sErr[0].c_str()),
        PlatformStartProcess(PROGRAM.c_str(), apszBogus, 1, sOut[1].c_str(), sErr[1].c_str())};
    ASSERT_NE(nullptr, aProcesses[0]);
    ASSERT_NE(nullptr, aProcesses[1]);

    int anStatus[2] = {-1, -1};
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        int nStatus = -1;
        const int nIndex = PlatformWaitAnyProcess(aProcesses, 2, &nStatus);
        ASSERT_TRUE(nIndex == 0 || nIndex == 1);
        EXPECT_EQ(nullptr, aProcesses[nIndex]); // released
        anStatus[nIndex] = nStatus;
    }
    EXPECT_EQ(-1, PlatformWaitAnyProcess(aProcesses, 2, nullptr)); // nothing left

    EXPECT_EQ(1, anStatus[0]);
    EXPECT_EQ(
        "{\"source\":\"odd \\\"name\\\"\\\\ \\\\\\\\.Fx00a\",\"destination\":null,\"result\":\"failed\","
        "\"packer\":null,\"messages\":[{\"level\":0,\"text\":\"no such file or directory\"}]}\n",
        ReadLines(sOut[0]));
    EXPECT_EQ(2, anStatus[1]);
    EXPECT_EQ("", ReadLines(sOut[1]));
    EXPECT_EQ(0u, ReadLines(sErr[1]).rfind(
                      "zqpack: error: unexpected argument '--bogus' (see zqpack --help)\n", 0));

    EXPECT_EQ(nullptr,
              PlatformStartProcess(TempPath("no-such-program").c_str(), nullptr, 0, nullptr, nullptr));
}

TEST(PlatformProcess, ProgramPathAndTerminal)
{
    char szPath[4096];
    ASSERT_TRUE(PlatformGetProgramPath(szPath, sizeof(szPath)));
    EXPECT_EQ("test_zqpack", fs::path(szPath).stem().string());
    EXPECT_TRUE(fs::is_regular_file(szPath));
    EXPECT_FALSE(PlatformGetProgramPath(szPath, 4));

    std::FILE* pFile = std::tmpfile();
    ASSERT_NE(nullptr, pFile);
    EXPECT_FALSE(PlatformIsTerminal(pFile));
    std::fclose(pFile);
}
} // namespace
