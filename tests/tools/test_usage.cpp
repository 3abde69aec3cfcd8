// Wrong usage reads the same in every program: one line "PROG: error: ... (see PROG --help)" on
// standard error, nothing on standard output, exit status 2; --help still answers 0.
#include "test_support.h"

namespace
{
struct UsageCase
{
    const char* pszProgram;
    Texts args;
    std::string sErr;
};
} // namespace

TEST(Usage, EveryProgramReportsWrongUsageInOneStyle)
{
    const std::string kZqaCommands = "compress, decompress, tree or check";
    const UsageCase cases[] = {
        {"zqa", {}, "zqa: error: a command is required: " + kZqaCommands + " (see zqa --help)\n"},
        {"zqa",
         {"x"},
         "zqa: error: unknown command 'x'; the commands are " + kZqaCommands + " (see zqa --help)\n"},
        {"zqa", {"tree"}, "zqa tree: error: FILE is required (see zqa tree --help)\n"},
        {"zqa",
         {"check", "--bogus", "a"},
         "zqa check: error: unexpected argument '--bogus' (see zqa check --help)\n"},
        {"zqa",
         {"decompress", "a.Fx00c", "b"},
         "zqa decompress: error: unexpected argument 'b' (see zqa decompress --help)\n"},
        {"zqpack", {}, "zqpack: error: no PATH given (see zqpack --help)\n"},
        {"zqpack",
         {"-j", "x", "fx"},
         "zqpack: error: --jobs: 'x' is not a number from 0 to 1024 (see zqpack --help)\n"},
        {"zqpack",
         {"-j", "2000", "fx"},
         "zqpack: error: --jobs: '2000' is not a number from 0 to 1024 (see zqpack --help)\n"},
        {"zqpack",
         {"--timeout", "soon", "fx"},
         "zqpack: error: --timeout: 'soon' is not a number of at least 0 (see zqpack --help)\n"},
        {"zqpack", {"fx", "--plugin"}, "zqpack: error: --plugin needs a value (see zqpack --help)\n"},
        {"zqpack",
         {"--\x1b[2J", "fx"},
         "zqpack: error: unexpected argument '--\\x1B[2J' (see zqpack --help)\n"},
        {"fxcheck", {}, "fxcheck: error: no PATH given (see fxcheck --help)\n"},
        {"fxcheck",
         {"--format", "xml", "fx"},
         "fxcheck: error: --format: 'xml' is not text, json or sarif (see fxcheck --help)\n"},
        {"fxdump", {}, "fxdump: error: FILE is required (see fxdump --help)\n"},
        {"fxdump", {"--bogus"}, "fxdump: error: unexpected argument '--bogus' (see fxdump --help)\n"},
        {"fxdump",
         {"--json", "--html", "x.Fx00p"},
         "fxdump: error: --json excludes --html (see fxdump --help)\n"},
    };
    for (const UsageCase& usage : cases)
    {
        const RunResult run = RunProgram(usage.pszProgram, usage.args);
        EXPECT_EQ(2, run.nExit) << usage.sErr;
        EXPECT_EQ(usage.sErr, run.sErr);
        EXPECT_EQ("", run.sOut) << usage.sErr;
    }
    for (const char* pszProgram : {"zqa", "zqpack", "fxcheck", "fxdump"})
    {
        const RunResult help = RunProgram(pszProgram, {"--help"});
        EXPECT_EQ(0, help.nExit) << pszProgram;
        EXPECT_EQ("", help.sErr) << pszProgram;
        EXPECT_NE(std::string::npos, help.sOut.find("Usage: ")) << pszProgram;
    }
}
