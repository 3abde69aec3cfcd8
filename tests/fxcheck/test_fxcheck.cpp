// fxcheck: each kind of finding at its place, in plain and compressed sources; agreement with the
// packer; the output formats and exit status of the program.
#include "EffectModule.h"
#include "FileExtension.h"
#include "filecheck.h"
#include "fxcheck_cases.h"
#include "spelling.h"
#include "test_support.h"
#include "valuetext.h"
#include "zqafile.h"
#include "zqareader.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

using namespace fxcheck_cases;

namespace
{
std::string WriteCompressed(const std::string& sPath, const std::string& sText)
{
    CZQAFile file(sPath.c_str(), false, true, false);
    for (char c : sText)
        file.WriteByte(static_cast<uint8_t>(c));
    EXPECT_TRUE(file.Close());
    return sPath;
}

std::set<Finding> Check(const std::string& sPath, std::vector<Diagnostic>* pAll = nullptr)
{
    CModuleCache modules;
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckFile(sPath, BinLibrary("sparkrig_sample"), modules, text, diags);
    std::set<Finding> found;
    for (const Diagnostic& diag : diags)
    {
        EXPECT_EQ(diag.sFile, sPath);
        found.insert(Finding(diag.nLine, diag.nColumn, diag.GetCode()));
    }
    if (pAll)
        *pAll = diags;
    return found;
}

} // namespace

// Every kind of finding on a small source, at its line and column, from plain and compressed text.
TEST(FxCheck, EveryKindAtItsPlace)
{
    for (const Case& c : Cases())
    {
        const std::string sPlain = WriteTemp("p.Fx00a", c.sText);
        EXPECT_EQ(Check(sPlain), c.expected) << c.pszName;
        const std::string sPacked = WriteCompressed(TempPath("c.Fx00c"), c.sText);
        std::set<Finding> expected = c.expected;
        std::set<Finding> found = Check(sPacked);
        // A compressed source whose data stops inside a word says so as well.
        found.erase(Finding(3, 1, "compressed-truncated"));
        EXPECT_EQ(found, expected) << c.pszName << " (compressed)";
    }
}

// Text given in memory is checked as the same bytes on disk would be, plain and compressed; the
// file on disk under that name plays no part.
TEST(FxCheck, TextInMemoryChecksAsOnDisk)
{
    std::vector<std::string> paths;
    for (const Case& c : Cases())
    {
        paths.push_back(WriteTemp("mem/p" + std::to_string(paths.size()) + ".Fx00a", c.sText));
        paths.push_back(
            WriteCompressed(TempPath("mem/c" + std::to_string(paths.size()) + ".Fx00c"), c.sText));
    }
    CModuleCache modules;
    for (const std::string& sPath : paths)
    {
        std::vector<Diagnostic> onDisk, inMemory;
        CSourceText diskText, memoryText;
        CheckFile(sPath, BinLibrary("sparkrig_sample"), modules, diskText, onDisk);
        const Bytes bytes = ReadBytes(sPath);
        WriteFile(sPath, "(stale text on disk"); // must not be read
        CheckText(sPath, std::string(bytes.begin(), bytes.end()), BinLibrary("sparkrig_sample"), modules,
                  memoryText, inMemory);
        ASSERT_EQ(inMemory.size(), onDisk.size()) << sPath;
        for (size_t i = 0; i < onDisk.size(); ++i)
        {
            EXPECT_EQ(inMemory[i].sMessage, onDisk[i].sMessage) << sPath;
            EXPECT_EQ(inMemory[i].nOffset, onDisk[i].nOffset) << sPath;
            EXPECT_EQ(inMemory[i].nLine, onDisk[i].nLine) << sPath;
        }
        EXPECT_EQ(memoryText.Text(), diskText.Text()) << sPath;
    }
    // Bytes that are no compressed text.
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckText(TempPath("mem/bad.Fx00c"), "\x01\x02", BinLibrary("sparkrig_sample"), modules, text, diags);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(std::string(diags[0].GetCode()), "file-unreadable");
}

TEST(FxCheck, FileLevelFindings)
{
    const std::string sText = kHeader + Effect(Key(""));
    WriteTemp("both/x.Fx00a", sText);
    WriteCompressed(TempPath("both/x.Fx00c"), sText);
    EXPECT_EQ(Check(TempPath("both/x.Fx00a")), std::set<Finding>({{1, 1, "both-forms"}}));
    WriteTemp("bad.Fx00c", "\x01\x02");
    EXPECT_EQ(Check(TempPath("bad.Fx00c")), std::set<Finding>({{0, 0, "file-unreadable"}}));
    // Without --module and without a locator file above it.
    CModuleCache modules;
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckFile(WriteTemp("noproj/y.Fx00a", sText), "", modules, text, diags);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(std::string(diags[0].GetCode()), "no-project");
}

// The tokenizer's token starts, in the text as read: "(a \"b c\" (d))e" plain and compressed.
TEST(FxCheck, TokenStartsInTheText)
{
    const std::string sText = "(a \"b c\" (d))e";
    const std::vector<uint64_t> expected = {0, 1, 3, 9, 10, 11, 12, 13, 14};
    for (const std::string& sPath :
         {WriteTemp("t.Fx00a", sText), WriteCompressed(TempPath("t.Fx00c"), sText)})
    {
        CZQAReader reader;
        ASSERT_TRUE(reader.Open(sPath.c_str(), sPath.back() == 'c'));
        std::vector<uint64_t> starts;
        char szBuffer[1024];
        uint32_t nToken;
        do
        {
            nToken = reader.NextToken(szBuffer, sizeof(szBuffer));
            starts.push_back(reader.GetTokenStart());
        } while (nToken != TOKEN_EOF);
        EXPECT_EQ(starts, expected) << sPath;
    }
}

// Whatever fxcheck calls error-free packs, and whatever it reports an error for fails to pack: over
// the demo, the cases above and sources made by dropping each ')' or each word of a clean one.
TEST(FxCheck, AgreesWithThePacker)
{
    WriteTemp("agree/a.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
    struct Source
    {
        std::string sText;
        bool bCompress; // write the text compressed, as a .Fx00c
    };
    std::vector<Source> sources;
    for (const Case& c : Cases())
    {
        sources.push_back({c.sText, false});
        sources.push_back({c.sText, true});
    }
    const std::string sClean = kHeader + std::string("(prefab-tree (prefab (name P) (type Sprite)))\n") +
                               Effect(Key("(parent P)" + Property("Size", "Float", "2")));
    for (size_t i = sClean.find(')'); i != std::string::npos; i = sClean.find(')', i + 1))
        sources.push_back({sClean.substr(0, i) + sClean.substr(i + 1), false});
    // And by dropping each word: names, values and list names in turn.
    for (size_t i = 1; i < sClean.size(); ++i)
    {
        const bool bWordStart =
            std::strchr("() \n", sClean[i]) == nullptr && std::strchr("( ", sClean[i - 1]);
        if (bWordStart)
            sources.push_back({sClean.substr(0, i) + sClean.substr(sClean.find_first_of(") ", i)), false});
    }
    std::vector<std::string> paths;
    for (size_t i = 0; i < sources.size(); ++i)
    {
        const std::string sBase = TempPath("agree/s" + std::to_string(i));
        paths.push_back(sources[i].bCompress ? WriteCompressed(sBase + ".Fx00c", sources[i].sText)
                                             : WriteFile(sBase + ".Fx00a", sources[i].sText));
    }
    for (const auto& entry : fs::recursive_directory_iterator(EMBERVISE_SOURCE_DIR "/demo"))
    {
        const std::string sDemo = entry.path().string();
        if (IsEffectSourcePath(sDemo))
            paths.push_back(
                WriteFile(TempPath("agree/demo/" + entry.path().filename().string()), ReadFile(sDemo)));
    }
    // One zqpack run packs them all; its JSON lines give each file's result.
    std::vector<std::string> args = {"--force", "-q", "--no-explain", "--json"};
    args.insert(args.end(), paths.begin(), paths.end());
    const RunResult run = RunProgram("zqpack", args);
    std::map<std::string, std::string> results;
    std::istringstream lines(run.sOut);
    for (std::string sLine; std::getline(lines, sLine);)
    {
        const nlohmann::json line = nlohmann::json::parse(sLine);
        results[fs::path(line.at("source").get<std::string>()).lexically_normal().string()] =
            line.at("result").get<std::string>();
    }
    size_t nErrors = 0;
    for (const std::string& sPath : paths)
    {
        std::vector<Diagnostic> diags;
        Check(sPath, &diags);
        bool bError = false;
        for (const Diagnostic& diag : diags)
            bError = bError || diag.GetSeverity() == Severity::Error;
        nErrors += bError;
        const auto it = results.find(fs::path(sPath).lexically_normal().string());
        ASSERT_NE(it, results.end()) << sPath << "\n" << run.sOut;
        EXPECT_EQ(it->second == "failed", bError) << sPath << ": " << it->second << "\n" << run.sErr;
        // The packer's loader never has to speak for the checker.
        for (const Diagnostic& diag : diags)
            EXPECT_NE(std::string(diag.GetCode()), "load-failed") << sPath << "\n" << diag.sMessage;
    }
    EXPECT_GE(nErrors, 20u);
}

TEST(FxCheck, ProgramFormatsAndExitStatus)
{
    const std::string sModule = BinLibrary("sparkrig_sample");
    const std::string sWarn = WriteTemp("w.Fx00a", kHeader + Effect(Key(Property("Sise", "Float", "2"))));
    const std::string sError = WriteTemp("e.Fx00a", kHeader + std::string("(effect-tree (effect (name E)))"));

    RunResult run = RunProgram("fxcheck", {"--module", sModule, "--show-source", sWarn});
    EXPECT_EQ(run.nExit, 0);
    const std::string sLine = "(effect-tree (effect (name E) (length 1000) (key-list " +
                              Key(Property("Sise", "Float", "2")) + ")))";
    EXPECT_EQ(run.sOut, sWarn +
                            ":2:158: warning: 'Sprite' has no property 'Sise'; it is skipped; did you mean "
                            "'Size'? [unknown-property]\n" +
                            sLine + "\n" + std::string(157, ' ') + "^~~~\n");
    EXPECT_EQ(RunProgram("fxcheck", {"--module", sModule, "--strict", sWarn}).nExit, 1);
    run = RunProgram("fxcheck", {"--module", sModule, "-q", "--summary", sWarn, sError});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.sOut, sError + ":2:14: error: effect has no 'length' [missing-value]\n");
    EXPECT_EQ(run.sErr, "1 error, 1 warning and 0 notes in 2 files (module " + sModule + ").\n");
    EXPECT_EQ(RunProgram("fxcheck", {"--format", "xml", sWarn}).nExit, 2);
    EXPECT_EQ(RunProgram("fxcheck", {}).nExit, 2);

    run = RunProgram("fxcheck", {"--module", sModule, "--format", "json", sWarn, sError});
    std::istringstream lines(run.sOut);
    std::vector<nlohmann::json> objects;
    for (std::string s; std::getline(lines, s);)
        objects.push_back(nlohmann::json::parse(s));
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1], nlohmann::json({{"file", sError},
                                          {"line", 2},
                                          {"column", 14},
                                          {"severity", "error"},
                                          {"code", "missing-value"},
                                          {"message", "effect has no 'length'"}}));

    // SARIF: the structure code-review dashboards read.
    run = RunProgram("fxcheck", {"--module", sModule, "--format", "sarif", sWarn, sError});
    const nlohmann::json log = nlohmann::json::parse(run.sOut);
    EXPECT_EQ(log.at("version"), "2.1.0");
    ASSERT_EQ(log.at("runs").size(), 1u);
    const nlohmann::json& driver = log["runs"][0].at("tool").at("driver");
    EXPECT_EQ(driver.at("name"), "fxcheck");
    EXPECT_EQ(log["runs"][0].at("invocations").at(0).at("properties").at("modules"),
              nlohmann::json({sModule}));
    std::vector<std::string> ruleIds;
    for (const nlohmann::json& rule : driver.at("rules"))
    {
        ruleIds.push_back(rule.at("id"));
        EXPECT_TRUE(rule.at("shortDescription").at("text").is_string());
    }
    EXPECT_EQ(std::set<std::string>(ruleIds.begin(), ruleIds.end()).size(), ruleIds.size());
    const nlohmann::json& results = log["runs"][0].at("results");
    ASSERT_EQ(results.size(), 2u);
    for (const nlohmann::json& result : results)
    {
        const size_t nRule = result.at("ruleIndex");
        ASSERT_LT(nRule, ruleIds.size());
        EXPECT_EQ(result.at("ruleId"), ruleIds[nRule]);
        EXPECT_TRUE(std::set<std::string>({"error", "warning", "note"}).count(result.at("level")));
        EXPECT_TRUE(result.at("message").at("text").is_string());
        const nlohmann::json& location = result.at("locations").at(0).at("physicalLocation");
        EXPECT_TRUE(location.at("artifactLocation").at("uri").is_string());
        EXPECT_GE(location.at("region").at("startLine").get<int>(), 1);
        EXPECT_GE(location.at("region").at("startColumn").get<int>(), 1);
    }
    EXPECT_EQ(results[1].at("locations")[0]["physicalLocation"]["region"],
              nlohmann::json({{"startLine", 2}, {"startColumn", 14}}));
}

// PATHs as zqpack takes them: folders searched (effect sources only, sorted), @LIST files, "--",
// each file once; the project locator found above each file when no module is named.
TEST(FxCheck, ProgramGathersPathsAndFindsTheProject)
{
    const std::string sKey = Key(Property("Sise", "Float", "2"));
    WriteTemp("proj/p.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
    const std::string sB = WriteTemp("proj/sub/b.Fx00a", kHeader + Effect(sKey));
    const std::string sA = WriteTemp("proj/a.Fx00a", kHeader + Effect(sKey));
    WriteTemp("proj/notes.txt", "not an effect source");
    const std::string sDash = WriteTemp("proj/-d.Fx00a", kHeader + Effect(sKey));
    const std::string sList = WriteTemp("list.txt", "# sources\n\n" + sB + "\n  " + sA + "  \n");

    auto files = [](const std::string& sOut)
    {
        std::vector<std::string> names;
        std::istringstream lines(sOut);
        for (std::string s; std::getline(lines, s);)
            names.push_back(fs::path(s.substr(0, s.find(".Fx00a:"))).filename().string());
        return names;
    };
    RunResult run = RunProgram("fxcheck", {TempPath("proj"), sA});
    EXPECT_EQ(run.nExit, 0) << run.sErr;
    EXPECT_EQ(files(run.sOut), std::vector<std::string>({"-d", "a", "b"}));
    run = RunProgram("fxcheck", {"@" + sList});
    EXPECT_EQ(files(run.sOut), std::vector<std::string>({"b", "a"}));
    run = RunProgram("fxcheck", {"--", sDash});
    EXPECT_EQ(files(run.sOut), std::vector<std::string>({"-d"}));

    run = RunProgram("fxcheck", {TempPath("proj/notes.txt"), TempPath("missing.Fx00a")});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.sOut, TempPath("proj/notes.txt") +
                            ": error: not an effect source: the name does not end in .Fx00a or .Fx00c "
                            "[file-unreadable]\n" +
                            TempPath("missing.Fx00a") +
                            ": error: no such file or directory [file-unreadable]\n");
}

// Colour only when asked (or on a terminal), control bytes of the source never reach the terminal,
// notes travel with their finding in every format, and CRLF lines count as lines.
TEST(FxCheck, ProgramOutputIsSafeAndComplete)
{
    const std::string sModule = BinLibrary("sparkrig_sample");
    const std::string sPath = WriteTemp(
        "n.Fx00a", std::string(kHeader) + "(effect-tree (effect (name \"a\x01\xff\") (length 1))\r\n"
                                          "(effect (name \"a\x01\xff\") (length 1)))\r\n");
    RunResult run = RunProgram("fxcheck", {"--module", sModule, "--show-source", sPath});
    EXPECT_EQ(run.sOut, sPath + ":3:15: warning: another effect is named 'a\\x01\\xFF' [duplicate-effect]\n" +
                            "(effect (name \"a\\x01\\xFF\") (length 1)))\n" + std::string(14, ' ') + "^" +
                            std::string(10, '~') + "\n" + sPath +
                            ":2:28: note: the first effect of that name is here\n" +
                            "(effect-tree (effect (name \"a\\x01\\xFF\") (length 1))\n" +
                            std::string(27, ' ') + "^\n");
    EXPECT_EQ(run.sOut.find('\x1b'), std::string::npos);
    run = RunProgram("fxcheck", {"--module", sModule, "--color", sPath});
    EXPECT_NE(run.sOut.find("\x1b[1;35mwarning:"), std::string::npos) << run.sOut;

    run = RunProgram("fxcheck", {"--module", sModule, "--format", "json", sPath});
    const nlohmann::json line = nlohmann::json::parse(run.sOut);
    EXPECT_EQ(line.at("notes"), nlohmann::json::parse(R"([{"line":2,"column":28,"message":)"
                                                      R"("the first effect of that name is here"}])"));
    run = RunProgram("fxcheck", {"--module", sModule, "--format", "sarif", sPath});
    const nlohmann::json result = nlohmann::json::parse(run.sOut)["runs"][0]["results"][0];
    EXPECT_EQ(result.at("relatedLocations")[0].at("physicalLocation").at("region"),
              nlohmann::json({{"startLine", 2}, {"startColumn", 28}}));
}

// Findings of one code beyond the limit are counted, not kept: the first ones are reported, the
// rest in one line, and the summary counts them all. Codes below the limit are untouched.
TEST(FxCheck, FindingsBeyondTheLimitAreCounted)
{
    const std::string sModule = BinLibrary("sparkrig_sample");
    std::string sKeys;
    for (int i = 0; i < 1234; ++i)
        sKeys += "(key (type Sprite) (id 1x) (track " + std::to_string(i) + ") (start-time 0) (end-time 1))";
    const std::string sPath = WriteTemp("limit/many.Fx00a", kHeader + Effect(sKeys) + ")))");
    RunResult run = RunProgram(
        "fxcheck", {"--module", sModule, "--format", "json", "--max-findings", "1000", "--summary", sPath});
    size_t nTrailing = 0, nParens = 0;
    std::istringstream lines(run.sOut);
    for (std::string sLine; std::getline(lines, sLine);)
    {
        const std::string sCode = nlohmann::json::parse(sLine)["code"];
        nTrailing += sCode == "trailing-text";
        nParens += sCode == "unmatched-paren";
    }
    EXPECT_EQ(nTrailing, 1000u);
    EXPECT_EQ(nParens, 3u);
    EXPECT_NE(run.sErr.find("fxcheck: 234 more [trailing-text] findings in " + sPath + "\n"),
              std::string::npos)
        << run.sErr;
    EXPECT_NE(run.sErr.find("0 errors, 1237 warnings"), std::string::npos) << run.sErr;

    CFindingBudget budget(2);
    CModuleCache modules;
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckFile(sPath, sModule, modules, text, diags, &budget);
    EXPECT_EQ(diags.size(), 4u);
    EXPECT_EQ(budget.Omitted(DiagCode::TrailingText), 1232u);
    EXPECT_EQ(budget.Omitted(DiagCode::UnmatchedParen), 1u);
    EXPECT_EQ(OmittedLine("f", DiagCode::TrailingText, 1749998),
              "fxcheck: 1,749,998 more [trailing-text] findings in f");

    run = RunProgram("fxcheck", {"--module", sModule, "--format", "json", "--max-findings", "0", sPath});
    EXPECT_EQ(std::count(run.sOut.begin(), run.sOut.end(), '\n'), 1237);
}

// A compressed source whose data lost its tail: the packer reads to where the data stops.
TEST(FxCheck, CompressedSourceCutShort)
{
    const std::string sPath = WriteCompressed(
        TempPath("cut.Fx00c"), kHeader + Effect("") + "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN");
    Bytes bytes = ReadBytes(sPath);
    bytes.resize(bytes.size() - 4); // the end mark and the last letters
    WriteFile(sPath, bytes);
    EXPECT_EQ(Check(sPath), std::set<Finding>({{3, 1, "compressed-truncated"}, {3, 1, "ignored-list"}}));
}

// Data cut inside a key leaves its lists open: the cut, the cause of the rest, is reported first.
TEST(FxCheck, CompressedSourceCutShortLeadsWithTheCut)
{
    const std::string sPath =
        WriteCompressed(TempPath("cutkey.Fx00c"),
                        kHeader + std::string("(effect-tree (effect (name E) (length 1000) (key-list\n"
                                              "(key (name abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN"));
    Bytes bytes = ReadBytes(sPath);
    bytes.resize(bytes.size() - 4);
    WriteFile(sPath, bytes);
    std::vector<Diagnostic> diags;
    Check(sPath, &diags);
    ASSERT_GE(diags.size(), 5u); // the cut, four lists left open, the key's missing values
    EXPECT_EQ(std::string(diags[0].GetCode()), "compressed-truncated");
    EXPECT_EQ(std::make_pair(diags[0].nLine, diags[0].nColumn), std::make_pair(3u, 12u));
    EXPECT_EQ(std::string(diags[1].GetCode()), "unclosed-list");
    EXPECT_EQ(std::make_pair(diags[1].nLine, diags[1].nColumn), std::make_pair(2u, 1u));
}

// Numbers in the checker's own words: the shortest digits that read back as the same float, without
// an exponent unless the number is far from 1.
TEST(FxCheck, NumbersAreShortestAndPlain)
{
    const std::pair<float, const char*> known[] = {
        {5000.0f, "5000"},
        {1000.0f, "1000"},
        {180.0f, "180"},
        {0.1f, "0.1"},
        {-2.5f, "-2.5"},
        {0.0f, "0"},
        {16777216.0f, "16777216"},
        {123456.7f, "123456.7"},
        {0.000001f, "0.000001"},
        {1.5e-7f, "1.5e-7"},
        {1e20f, "100000000000000000000"},
        {1e21f, "1e+21"},
        {3.4028235e38f, "3.4028235e+38"},
        {HUGE_VALF, "inf"},
    };
    for (const auto& entry : known)
        EXPECT_EQ(FormatFloat(entry.first), entry.second);
    // Every finite float reads back as itself; a plain layout where the magnitude allows it.
    std::mt19937 random(17);
    for (int i = 0; i < 20000; ++i)
    {
        const uint32_t nBits = static_cast<uint32_t>(random());
        float f;
        std::memcpy(&f, &nBits, sizeof(f));
        if (!std::isfinite(f))
            continue;
        const std::string s = FormatFloat(f);
        EXPECT_EQ(std::strtof(s.c_str(), nullptr), f) << s;
        if (std::fabs(f) >= 1e-6f && std::fabs(f) < 1e21f)
        {
            EXPECT_EQ(s.find('e'), std::string::npos) << s;
        }
    }
    // As a finding reads.
    std::vector<Diagnostic> diags;
    Check(WriteTemp("radius.Fx00a", kHeader + Effect("(key (type Light) (id 1) (track 0) (start-time 0) "
                                                     "(end-time 1000)" +
                                                     Property("Radius", "Float", "5000") + ")")),
          &diags);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags[0].sMessage, "5000 is outside the range '0;1000' of 'Radius'; it is packed as 1000");
}

TEST(FxCheck, SuggestsOnlyCloseNames)
{
    EXPECT_EQ(EditDistanceNoCase("Intensty", "Intensity"), 1u);
    EXPECT_EQ(EditDistanceNoCase("Ligth", "LIGHT"), 1u); // a swap of neighbours is one edit
    const std::vector<std::string> names = {"Intensity", "Radius", "key-list", "key"};
    EXPECT_EQ(ClosestName("Raidus", names), "Radius");
    EXPECT_EQ(ClosestName("Key", names), "key"); // list names differ in case only
    EXPECT_EQ(ClosestName("Colour", names), "");
    EXPECT_EQ(ClosestName("ke", {"key", "ky"}), "key"); // the first of equally close names
    EXPECT_EQ(ClosestName("Radius", names), "");        // nothing to suggest for a known name
}
