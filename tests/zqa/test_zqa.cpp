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

// A compressed file cut short (here: every prefix of the abc8 example) makes decompress fail and
// write nothing, and tree and check warn, naming the text that comes out of it: the literals a b c
// take 9 bits each, the copy 17, the literals c a b c 9 each, and the end token's first 16 bits
// fill the last two bytes. A cut token still yields its byte (missing bits repeat the bit before),
// a copy whose length bits are missing repeats its last position bit (1111: 17 bytes), and fewer
// than 10 bits of the end token cannot be what the writer left.
TEST_F(ZqaTest, CompressedFileCutShortIsReported)
{
    const uint64_t anText[] = {0, 0, 0, 0, 0, 1, 2, 3, 3, 20, 21, 22, 23, 24, 24, 24};
    for (size_t nCut = 0; nCut < kAbc8Compressed.size(); ++nCut)
    {
        WriteFile("cut.Fx00c", kAbc8Compressed.substr(0, nCut));
        const std::string sCut = "zqa: cut.Fx00c: the compressed data ends before its end token, after " +
                                 std::to_string(anText[nCut]) + " bytes of text: the file is cut short";
        RunResult run = Run({"decompress", "cut.Fx00c", "-o", "-"});
        EXPECT_EQ(1, run.nExit) << nCut;
        EXPECT_EQ(sCut + "\n", run.sErr) << nCut;
        ASSERT_EQ(anText[nCut], run.sOut.size()) << nCut;
        if (nCut <= 4 || nCut == 8 || nCut == 9 || nCut >= 14)
        {
            EXPECT_EQ(Abc8().substr(0, anText[nCut]), run.sOut) << nCut;
        }

        run = Run({"decompress", "cut.Fx00c"});
        EXPECT_EQ(1, run.nExit) << nCut;
        EXPECT_EQ(sCut + "; cut.Fx00a is not written (-o - prints the text up to the cut)\n", run.sErr);
        EXPECT_EQ(Texts{"cut.Fx00c"}, Listing()) << nCut;
    }
    WriteFile("cut.Fx00a", "older text");
    RunResult run = Run({"decompress", "-f", "cut.Fx00c"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("older text", ReadFile("cut.Fx00a"));

    run = Run({"tree", "cut.Fx00c"});
    EXPECT_EQ(0, run.nExit);
    EXPECT_EQ(
        "zqa: cut.Fx00c: warning: the compressed data ends before its end token, after 24 bytes of text: "
        "the file is cut short; the tree ends there\n",
        run.sErr);

    // check: the cut first, then what follows from it, all warnings as in fxcheck (the packer packs
    // the file); the same lists open in a file that is not cut stay an error.
    WriteFile("lists.Fx00a", "(header (version 1))");
    ASSERT_EQ(0, Run({"compress", "lists.Fx00a"}).nExit);
    const std::string sWhole = ReadFile("lists.Fx00c");
    WriteFile("lists.Fx00c", sWhole.substr(0, sWhole.size() - 3));
    run = Run({"check", "-q", "lists.Fx00c"});
    EXPECT_EQ(0, run.nExit) << run.sOut;
    EXPECT_TRUE(
        std::regex_match(run.sOut, std::regex("lists\\.Fx00c: warning: the compressed data ends before its "
                                              "end token, after 1[0-9] bytes of text: the file is cut "
                                              "short; the loader takes the end of the data as the end of "
                                              "the text\n"
                                              "lists\\.Fx00c: warning: 2 list\\(s\\) still open where the "
                                              "data is cut \\(closed when loaded\\)\n")))
        << run.sOut;
    WriteFile("open.Fx00a", "(header (version 1");
    run = Run({"check", "-q", "open.Fx00a"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("open.Fx00a: error: 2 list(s) still open at the end of the file (closed when loaded)\n",
              run.sOut);
}

// What the writer writes is never taken for a cut file, whatever bit the end token starts at, and
// losing its last byte always is: random texts of every length class, compressed, read back whole
// and with one byte fewer.
TEST_F(ZqaTest, OnlyFilesCutShortAreReportedAsCut)
{
    std::mt19937 random(17);
    for (int nText = 0; nText < 24; ++nText)
    {
        std::string sText;
        const size_t nLength = random() % (nText < 12 ? 40 : 400);
        for (size_t i = 0; i < nLength; ++i)
            sText += "(ab )\n\"xyz"[random() % 10];
        WriteFile("r.Fx00a", sText);
        ASSERT_EQ(0, Run({"compress", "-f", "r.Fx00a"}).nExit);
        const std::string sCompressed = ReadFile("r.Fx00c");
        RunResult run = Run({"decompress", "r.Fx00c", "-o", "-"});
        EXPECT_EQ(0, run.nExit) << sText << "\n" << run.sErr;
        EXPECT_EQ(sText, run.sOut);
        WriteFile("r.Fx00c", sCompressed.substr(0, sCompressed.size() - 1));
        run = Run({"decompress", "r.Fx00c", "-o", "-"});
        EXPECT_EQ(1, run.nExit) << sText;
    }
}

TEST_F(ZqaTest, CheckCountsLongTokensAndDeepNesting)
{
    // Six tokens; the 1023-byte word and the 1500-byte string fill the token buffer, the 1022-byte
    // word does not.
    WriteFile("long.Fx00a", "(a " + std::string(1022, 'w') + " " + std::string(1023, 'x') + " \"" +
                                std::string(1500, 'y') + "\")");
    WriteFile("deep.Fx00a", std::string(1024, '(') + std::string(1024, ')'));
    WriteFile("fits.Fx00a", std::string(1023, '(') + std::string(1023, ')'));

    RunResult run = Run({"check", "long.Fx00a", "deep.Fx00a", "fits.Fx00a"});
    EXPECT_EQ(1, run.nExit);
    EXPECT_EQ("long.Fx00a: warning: 2 token(s) of 1023 bytes or more; longer ones are cut to 1023 bytes\n"
              "long.Fx00a: ok (1 top-level items, 6 tokens)\n"
              "deep.Fx00a: error: lists nested 1024 deep; at most 1023 can be open at once\n"
              "fits.Fx00a: ok (1 top-level items, 2046 tokens)\n",
              run.sOut);
}
