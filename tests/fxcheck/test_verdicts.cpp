// fxcheck's verdict against zqpack's, code by code: for every kind of finding a small project whose
// source has that finding only (or, where it cannot stand alone, with the findings it brings), checked
// by the real fxcheck and packed by the real zqpack with the sample module. An error in fxcheck must
// be a failed pack, and no error a packed file.
#include "diagnostic.h"
#include "fxcheck_cases.h"
#include "test_support.h"
#include "zqafile.h"

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <sstream>

using namespace fxcheck_cases;

namespace
{
// How the project around the source is laid out.
enum class Layout
{
    Plain,         // s.Fx00a and a locator naming the sample module
    RawCompressed, // s.Fx00c holding sText as it is (no compressed text)
    CutCompressed, // s.Fx00c: sText compressed, its last four bytes cut off
    BothForms,     // s.Fx00a and s.Fx00c, the same text
    NoLocator,     // s.Fx00a with no locator file above it
    MissingModule, // s.Fx00a; the locator names a module that does not exist
};

struct Walk
{
    DiagCode eCode;
    Layout eLayout;
    std::string sText;
    std::set<std::string> also; // findings the source cannot be without
    // Why the finding cannot stand alone, or why the verdicts differ; null when neither.
    const char* pszWhy = nullptr;
    bool bAgrees = true;
};

std::string Sprite(const std::string& sTimes)
{
    return "(key (type Sprite) (id 1) (track 0) " + sTimes + ")";
}

std::string Repeat(const std::string& s, size_t nTimes)
{
    std::string sAll;
    sAll.reserve(s.size() * nTimes);
    for (size_t i = 0; i < nTimes; ++i)
        sAll += s;
    return sAll;
}

std::vector<Walk> Walks()
{
    const std::string h = kHeader;
    const std::string sClean = h + Effect(Key(""));
    return {
        {DiagCode::FileUnreadable, Layout::RawCompressed, "\x01\x02", {}},
        {DiagCode::NoProject, Layout::NoLocator, sClean, {}},
        {DiagCode::ModuleLoadFailed, Layout::MissingModule, sClean, {}},
        {DiagCode::NestingTooDeep, Layout::Plain, std::string(1024, '('), {}},
        {DiagCode::BadVersion, Layout::Plain, "(header (version 2))\n" + Effect(Key("")), {}},
        {DiagCode::NoEffectTree, Layout::Plain, h, {}},
        {DiagCode::ContainerNoName, Layout::Plain, h + "(effect-tree (container (children)))", {}},
        {DiagCode::MissingValue, Layout::Plain, h + "(effect-tree (effect (name E)))", {}},
        {DiagCode::UnknownType,
         Layout::Plain,
         h + Effect("(key (type Sprit) (id 1) (track 0) (start-time 0) (end-time 10))"),
         {}},
        {DiagCode::UnknownPrefab, Layout::Plain, h + Effect(Key("(parent P)")), {}},
        {DiagCode::TrackTooLarge,
         Layout::Plain,
         h + Effect("(key (type Sprite) (id 1) (track -1) (start-time 0) (end-time 10))"),
         {}},
        {DiagCode::SurplusParen,
         Layout::Plain,
         h + "(effect-tree (effect (name E) (length 1000)))\n(effect (name F) (length 1000)))",
         {"unmatched-paren"},
         "the ')' meant to close the list is left over at the end; the packer packs the file without "
         "effect F, which fxcheck calls an error",
         false},
        {DiagCode::BothForms, Layout::BothForms, sClean, {}},
        // Two million and one words wait for their list to close: more than the tree builder holds.
        {DiagCode::LoadFailed, Layout::Plain, "(x" + Repeat(" a", 2048 * 1024 + 1), {}},
        {DiagCode::UnknownProperty, Layout::Plain, h + Effect(Key(Property("Sise", "Float", "2"))), {}},
        {DiagCode::UnknownPropertyType, Layout::Plain, h + Effect(Key(Property("Size", "Flaot", "2"))), {}},
        {DiagCode::TypeMismatch, Layout::Plain, h + Effect(Key(Property("Size", "Int", "2"))), {}},
        {DiagCode::ValueClamped, Layout::Plain, h + Effect(Key(Property("FrameCount", "Int", "65"))), {}},
        {DiagCode::ColorWrapped, Layout::Plain, h + Effect(Key(Property("Color", "Color", "1 2 256 4"))), {}},
        {DiagCode::IntWrapped,
         Layout::Plain,
         h + Effect("(key (type Sprite) (id 99999999999) (track 0) (start-time 0) (end-time 10))"),
         {}},
        {DiagCode::NotFinite, Layout::Plain, h + Effect(Key(Property("Size", "Float", "1e99"))), {}},
        {DiagCode::NotANumber, Layout::Plain, h + Effect(Key(Property("Size", "Float", "big"))), {}},
        {DiagCode::TrailingText, Layout::Plain, h + Effect(Key(Property("Size", "Float", "2x"))), {}},
        {DiagCode::EnumInvalid, Layout::Plain, h + Effect(Key(Property("BlendMode", "Enum", "Opaq"))), {}},
        {DiagCode::IgnoredList,
         Layout::Plain,
         h + "(effect-tree (effect (name E) (length 1000) (keylist)))",
         {}},
        {DiagCode::ExtraElement, Layout::Plain, h + Effect(Key(Property("Size", "Float", "1 2"))), {}},
        {DiagCode::DuplicateList,
         Layout::Plain,
         h + "(effect-tree (effect (name E) (length 1000) (name F)))",
         {}},
        {DiagCode::ValueSkipped, Layout::Plain, h + Effect(Key(Property("Offset", "Vector", "1 2"))), {}},
        {DiagCode::ValueDropped,
         Layout::Plain,
         h + Effect(Key("(properties (property (name FrameRate) (type Float) (value-list (value (time 0.5) "
                        "(data 1)) (value (time 0.2) (data 2)))))")),
         {}},
        {DiagCode::CurveTimeMoved,
         Layout::Plain,
         h + Effect(Key("(properties (property (name Size) (type Float) (value-list (value (time 0.2) "
                        "(data 1)))))")),
         {}},
        {DiagCode::ValueNotPacked,
         Layout::Plain,
         h + Effect("(key (type Marker) (id 1) (track 0) (start-time 0) (end-time 1000) (properties "
                    "(property (name Comment) (type String) (value-list (value (time 0) (data x))))))"),
         {}},
        // A second key of the prefab's own type uses it: else the prefab is unused as well.
        {DiagCode::PrefabTypeMismatch,
         Layout::Plain,
         h + "(prefab-tree (prefab (name P) (type Light)))\n" +
             Effect(Key("(parent P)") +
                    "(key (type Light) (id 2) (track 1) (start-time 0) (end-time 1000) (parent P))"),
         {}},
        {DiagCode::TimeOrder, Layout::Plain, h + Effect(Sprite("(start-time 700) (end-time 300)")), {}},
        {DiagCode::KeyOutsideEffect,
         Layout::Plain,
         h + Effect(Sprite("(start-time 900) (end-time 1200)")),
         {}},
        {DiagCode::KeyMoved,
         Layout::Plain,
         h + Effect(Sprite("(start-time 0) (end-time 500)") + Sprite("(start-time 200) (end-time 900)")),
         {}},
        {DiagCode::TextTruncated,
         Layout::Plain,
         h + "(effect-tree (effect (name " + std::string(130, 'n') + ") (length 1000)))",
         {}},
        {DiagCode::DuplicateEffect,
         Layout::Plain,
         h + "(effect-tree (effect (name E) (length 1))\n(effect (name E) (length 1)))",
         {}},
        {DiagCode::UnmatchedParen, Layout::Plain, ")" + sClean, {}},
        {DiagCode::UnclosedList, Layout::Plain, h + "(effect-tree (effect (name E) (length 1000))", {}},
        {DiagCode::UnclosedString,
         Layout::Plain,
         sClean + "\"open",
         {"ignored-list"},
         "a string open at the end runs to the end of the text: inside a list it keeps the list open "
         "(unclosed-list), outside any list it is ignored (ignored-list)"},
        // A key's name is not kept: a long one is cut and nothing else.
        {DiagCode::TokenTruncated,
         Layout::Plain,
         h + Effect("(key (name " + std::string(1100, 'w') +
                    ") (type Sprite) (id 1) (track 0) (start-time 0) (end-time 10))"),
         {}},
        {DiagCode::CompressedTruncated,
         Layout::CutCompressed,
         sClean + "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN",
         {"ignored-list"},
         "data cut inside a word leaves the word's lists open (unclosed-list) or the word outside any "
         "list (ignored-list)"},
        {DiagCode::UnusedPrefab,
         Layout::Plain,
         h + "(prefab-tree (prefab (name P) (type Sprite)))\n" + Effect(Key("")),
         {}},
    };
}

void WriteCompressed(const std::string& sPath, const std::string& sText, size_t nCut)
{
    {
        CZQAFile file(sPath.c_str(), false, true, false);
        for (char c : sText)
            file.WriteByte(static_cast<uint8_t>(c));
        ASSERT_TRUE(file.Close());
    }
    Bytes bytes = ReadBytes(sPath);
    bytes.resize(bytes.size() - nCut);
    WriteFile(sPath, bytes);
}

// Lays out the project of one walk in its own folder; answers the folder.
std::string Project(const Walk& walk)
{
    const std::string sDir = TempPath(std::string("walk/") + DiagKind(walk.eCode).pszCode);
    const std::string sModule = walk.eLayout == Layout::MissingModule ? TempPath("walk/missing_module.dll")
                                                                      : BinLibrary("sparkrig_sample");
    if (walk.eLayout != Layout::NoLocator)
        WriteFile(sDir + "/game.proj00", "[Project Binaries]\nSparkrig=" + sModule + "\n");
    switch (walk.eLayout)
    {
    case Layout::RawCompressed:
        WriteFile(sDir + "/s.Fx00c", walk.sText);
        break;
    case Layout::CutCompressed:
        WriteCompressed(sDir + "/s.Fx00c", walk.sText, 4);
        break;
    case Layout::BothForms:
        WriteCompressed(sDir + "/s.Fx00c", walk.sText, 0);
        WriteFile(sDir + "/s.Fx00a", walk.sText);
        break;
    default:
        WriteFile(sDir + "/s.Fx00a", walk.sText);
        break;
    }
    return sDir;
}
} // namespace

// Both programs run once over every project (one folder per code); their per-file verdicts are
// what each would answer for that folder alone: fxcheck's errors, zqpack's per-file result.
TEST(FxCheckVerdicts, EveryCodeAgreesWithZqpack)
{
    const std::vector<Walk> walks = Walks();
    std::vector<std::string> dirs;
    std::map<DiagCode, size_t> walked;
    for (const Walk& walk : walks)
    {
        dirs.push_back(Project(walk));
        ++walked[walk.eCode];
        // A finding that stands alone agrees; anything else says why.
        EXPECT_EQ(walk.also.empty() && walk.bAgrees, walk.pszWhy == nullptr) << DiagKind(walk.eCode).pszCode;
    }
    for (const DiagKindInfo& kind : DiagKinds())
        EXPECT_EQ(walked[kind.eCode], 1u) << kind.pszCode;

    // The project a line is about: the folder named by its code.
    auto code = [](const std::string& sFile) { return fs::path(sFile).parent_path().filename().string(); };
    std::vector<std::string> args = {"--format", "json"};
    args.insert(args.end(), dirs.begin(), dirs.end());
    const RunResult check = RunProgram("fxcheck", args);
    std::map<std::string, std::set<std::string>> found;
    std::map<std::string, bool> errors;
    std::istringstream checked(check.sOut);
    for (std::string sLine; std::getline(checked, sLine);)
    {
        const nlohmann::json line = nlohmann::json::parse(sLine);
        const std::string sCode = code(line.at("file"));
        found[sCode].insert(line.at("code").get<std::string>());
        errors[sCode] = errors[sCode] || line.at("severity") == "error";
    }
    args = {"--force", "-q", "--no-explain", "--json"};
    args.insert(args.end(), dirs.begin(), dirs.end());
    const RunResult pack = RunProgram("zqpack", args);
    std::map<std::string, bool> failed;
    std::istringstream packed(pack.sOut);
    for (std::string sLine; std::getline(packed, sLine);)
    {
        const nlohmann::json line = nlohmann::json::parse(sLine);
        const std::string sCode = code(line.at("source"));
        failed[sCode] = failed[sCode] || line.at("result") != "packed";
    }

    for (const Walk& walk : walks)
    {
        const std::string sCode = DiagKind(walk.eCode).pszCode;
        SCOPED_TRACE(sCode);
        std::set<std::string> expected = walk.also;
        expected.insert(sCode);
        EXPECT_EQ(found[sCode], expected);
        ASSERT_TRUE(failed.count(sCode)) << pack.sOut;
        EXPECT_EQ(errors[sCode] == failed[sCode], walk.bAgrees);
        // The verdict follows the table's severity.
        EXPECT_EQ(errors[sCode], DiagKind(walk.eCode).eSeverity == Severity::Error);
    }
}
