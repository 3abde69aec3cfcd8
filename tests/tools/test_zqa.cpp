// zqa run for real: outputs never silently replaced, reasons on failure, binary files refused,
// folders and lists checked.
#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
// "abc" eight times and its compressed bytes (header, literals a b c, a copy of 17 from position 1,
// literals c a b c, end token).
std::string Abc8()
{
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += "abc";
    return s;
}
const std::string kAbc8Compressed("\0\0\0\0\x0D\x1B\x35\x06\x80\xDF\xB8\x61\xA3\xC6\0\0", 16);

// A packed file begins with its magic and the format version 2 as a little-endian word.
const std::string kPacked("ZQFX\x02\0\0\0\x10\0\0\0", 12);

class ZqaTest : public ::testing::Test
{
protected:
    void SetUp() override { fs::current_path(TempDir()); }
    static RunResult Run(const std::vector<std::string>& args) { return RunProgram("zqa", args); }

    // The names in the folder, sorted: no temporary file may be left behind.
    static Texts Listing(const std::string& sFolder = ".")
    {
        Texts names;
        for (const fs::directory_entry& entry : fs::directory_iterator(sFolder))
            if (entry.path().filename() != "run.out" && entry.path().filename() != "run.err")
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};
} // namespace

TEST_F(ZqaTest, ConvertReplacesAnExistingOutputOnlyWhenForced)
{
    WriteFile("fire.Fx00a", Abc8());
    WriteFile("fire.Fx00c", "keep me");
    RunResult run = Run({"compress", "fire.Fx00a"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("zqa: fire.Fx00c: already exists; use -f to replace it\n", run.sErr);
    EXPECT_EQ("keep me", ReadFile("fire.Fx00c"));

    run = Run({"compress", "-f", "fire.Fx00a"});
    EXPECT_EQ(0, run.nExit) << run.sErr;
    EXPECT_EQ(kAbc8Compressed, ReadFile("fire.Fx00c"));

    // An edited text is not lost to decompress; standard output is always allowed.
    WriteFile("fire.Fx00a", "edited");
    run = Run({"decompress", "fire.Fx00c"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("zqa: fire.Fx00a: already exists; use -f to replace it\n", run.sErr);
    EXPECT_EQ("edited", ReadFile("fire.Fx00a"));
    run = Run({"decompress", "fire.Fx00c", "-o", "-"});
    EXPECT_EQ(0, run.nExit);
    EXPECT_EQ(Abc8(), run.sOut);
    run = Run({"decompress", "--force", "fire.Fx00c"});
    EXPECT_EQ(0, run.nExit) << run.sErr;
    EXPECT_EQ(Abc8(), ReadFile("fire.Fx00a"));

    // A folder in the way cannot be replaced, forced or not, and the reason is named.
    WriteFile("folder.Fx00c/inside", "x");
    run = Run({"compress", "-f", "fire.Fx00a", "-o", "folder.Fx00c"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_TRUE(std::regex_match(run.sErr, std::regex("zqa: folder\\.Fx00c: cannot be replaced: [^\n]+\n")))
        << run.sErr;
    EXPECT_EQ("x", ReadFile("folder.Fx00c/inside"));
    EXPECT_EQ((Texts{"fire.Fx00a", "fire.Fx00c", "folder.Fx00c"}), Listing());
}

#if !defined(_WIN32)
// A write that fails (here: beyond the file size limit) names the system's reason; the old output
// stays and no temporary file is left.
TEST_F(ZqaTest, FailedWriteNamesTheReasonAndKeepsTheOldOutput)
{
    std::string text;
    std::mt19937 random(8);
    for (int i = 0; i < 20000; ++i)
        text += static_cast<char>('a' + random() % 26);
    WriteFile("big.Fx00a", text);
    WriteFile("big.Fx00c", "old");
    const std::string sScript =
        "trap '' XFSZ; ulimit -f 4; exec '" + BinProgram("zqa") + "' compress -f big.Fx00a";
    const char* apszArgs[] = {"-c", sScript.c_str()};
    PlatformProcess hProcess = PlatformStartProcess("/bin/sh", apszArgs, 2, "out.txt", "err.txt");
    ASSERT_NE(hProcess, nullptr);
    int nExit = -1;
    EXPECT_EQ(0, PlatformWaitAnyProcess(&hProcess, 1, &nExit));
    EXPECT_EQ(1, nExit);
    EXPECT_EQ("zqa: big.Fx00c: write failed: " + std::string(std::strerror(EFBIG)) + "\n",
              ReadFile("err.txt"));
    EXPECT_EQ("old", ReadFile("big.Fx00c"));
    EXPECT_EQ((Texts{"big.Fx00a", "big.Fx00c", "err.txt", "out.txt"}), Listing());
}
#endif

TEST_F(ZqaTest, CheckAndTreeNameBinaryFilesAndSearchFoldersAndLists)
{
    WriteFile("proj/a.Fx00a", "(header (version 1))");
    WriteFile("proj/sub/b.FX00C", std::string("\0\0\0\0\x0D\x1B\x35\x06\0", 9)); // "abc"
    WriteFile("proj/sub/notes.txt", "not ZQA (");
    WriteFile("proj/sub/b.Fx00p", kPacked);
    WriteFile("@odd.Fx00a", "x)");
    WriteFile("list.txt", "# sources\n\n  proj/sub/b.FX00C  \nproj/sub/b.Fx00p\n");

    RunResult run = Run({"check", "proj"});
    EXPECT_EQ(0, run.nExit) << run.sErr;
    EXPECT_EQ("proj/a.Fx00a: ok (1 top-level items, 7 tokens)\n"
              "proj/sub/b.FX00C: ok (1 top-level items, 1 tokens)\n",
              TextLines(std::regex_replace(run.sOut, std::regex("\\\\"), "/")));

    const std::string sNotText =
        "proj/sub/b.Fx00p: error: not ZQA text (binary data: a NUL byte at offset 5); "
        "packed effect files are read with fxdump\n";
    run = Run({"check", "-q", "@list.txt", "--", "@odd.Fx00a"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ(sNotText + "@odd.Fx00a: error: 1 unmatched ')' (ignored when loaded)\n", run.sOut);

    run = Run({"tree", "proj/sub/b.Fx00p"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("", run.sOut);
    EXPECT_EQ(
        "zqa: proj/sub/b.Fx00p: not ZQA text (binary data: a NUL byte at offset 5); packed effect files "
        "are read with fxdump\n",
        run.sErr);
}
