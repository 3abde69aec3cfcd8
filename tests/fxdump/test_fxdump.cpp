// The packed effect reader on files built byte by byte, and fxdump and zqpack run for real.
#include "PackedEffectReader.h"
#include "pyrixmodule.h"
#include "test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace
{
using Reader = CPackedEffectReader;
using Offsets = std::vector<uint32_t>;

const uint32_t MAGIC = 0x5846515A; // the bytes 5A 51 46 58, "ZQFX"
const std::string MODULE = BinLibrary("sparkrig_sample");

// An empty collection packed with a module of two types, version 0x10000.
const Bytes EMPTY = Words({MAGIC, 2, 0x10000, 0, 0, 0, 0, 2, 48, 48, 0, 0});

// One effect "Glow" (1000 ms) with one key of type 1 (id 7, 0 s to 1 s) holding Size = 2.5,
// Count = -3, Label = "hi" and Fade, a float curve from 1 to 0. String table at 0x30 (44 bytes),
// curve section at 0x5C (20 bytes), effect at 0x70, key at 0x7C, properties at 0x94, 0xA0, 0xAC and
// 0xB8, index at 0xC4; 200 bytes. A word of it may be changed.
Bytes GlowFile(size_t nOffset = 0, uint32_t nWord = MAGIC)
{
    Bytes bytes = Words({MAGIC, 2, 0x10000, 44, 20, 1, 1, 2, 48, 196, 0, 1});
    static const char STRINGS[] = "Glow\0\0\0\0Size\0\0\0\0Count\0\0\0Label\0\0\0hi\0\0Fade\0\0\0\0";
    bytes.insert(bytes.end(), STRINGS, STRINGS + sizeof(STRINGS) - 1);
    const Bytes tail = Words({
        2,  0,    0x3F800000, 0x3F800000, 0,    // curve @0: (0, 1.0) (1.0, 0)
        0,  1000, 1,                            // effect: name @0, 1000 ms, one key
        1,  0,    0x3F800000, 7,          7, 4, // key: type 1, 0.0, 1.0, id 7, link 7, four properties
        8,  160,  0x40200000,                   // Size = 2.5
        16, 172,  0xFFFFFFFD,                   // Count = -3
        24, 184,  32,                           // Label = @32 "hi"
        36, 196,  0,                            // Fade = curve @0
        0,                                      // index: @0
    });
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    PutWord(bytes, nOffset, nWord);
    return bytes;
}

// The module of GlowFile: type 1 has the float Size, the int Count, the string Label and Fade, a
// float curve.
bool GlowLookup(uint32_t nTypeID, const char* pszName, Reader::ValueInfo& info)
{
    const std::string name = pszName;
    if (nTypeID != 1 || (name != "Size" && name != "Count" && name != "Label" && name != "Fade"))
        return false;
    info.eType = name == "Count" ? ePT_Int : name == "Label" ? ePT_String : ePT_Float;
    info.bFunctionCurve = name == "Fade";
    return true;
}

// The file offsets of the problems found, structure first, then values when a lookup is given.
Offsets ProblemOffsets(const Bytes& bytes, const Reader::ValueLookup& lookup = nullptr)
{
    Reader reader;
    if (reader.Read(bytes.data(), bytes.size()) && lookup)
        reader.CheckValues(lookup, false);
    Offsets offsets;
    for (const Reader::Problem& problem : reader.GetProblems())
        offsets.push_back(problem.nOffset);
    return offsets;
}

std::vector<Reader::Effect> Effects(const Reader& reader)
{
    std::vector<Reader::Effect> effects;
    Reader::Effect effect;
    for (uint32_t nPos = reader.GetEffectsStart(); reader.NextEffect(nPos, effect);)
        effects.push_back(effect);
    return effects;
}

Offsets StringStarts(const Reader& reader)
{
    Offsets starts;
    for (uint32_t nPos = 0, nStart = 0; reader.NextString(nPos, nStart);)
        starts.push_back(nStart);
    return starts;
}

std::vector<nlohmann::json> JsonLines(const std::string& sOut)
{
    std::vector<nlohmann::json> lines;
    std::istringstream in(sOut);
    for (std::string sLine; std::getline(in, sLine);)
        lines.push_back(nlohmann::json::parse(sLine));
    return lines;
}
} // namespace

TEST(PackedEffectReader, FormatExampleFilesReadCleanAndDecode)
{
    EXPECT_EQ(0, std::memcmp(EMPTY.data(), "ZQFX", 4));
    Reader empty;
    ASSERT_TRUE(empty.Read(EMPTY.data(), EMPTY.size()));
    empty.CheckValues(GlowLookup, false);
    EXPECT_TRUE(empty.GetProblems().empty());
    EXPECT_EQ(0x10000u, empty.GetHeader().nModuleVersion);
    EXPECT_EQ(0u, empty.GetKeyCount(0) + empty.GetKeyCount(1));
    EXPECT_TRUE(Effects(empty).empty());
    EXPECT_TRUE(StringStarts(empty).empty());

    const Bytes bytes = GlowFile();
    ASSERT_EQ(200u, bytes.size());
    Reader reader;
    ASSERT_TRUE(reader.Read(bytes.data(), bytes.size()));
    reader.CheckValues(GlowLookup, false);
    EXPECT_TRUE(reader.GetProblems().empty()) << reader.GetProblems()[0].sText;
    EXPECT_EQ((Offsets{0, 8, 16, 24, 32, 36}), StringStarts(reader));
    EXPECT_EQ(6u, reader.GetNumStrings());
    std::string sText;
    EXPECT_TRUE(reader.GetString(32, sText));
    EXPECT_EQ("hi", sText);
    EXPECT_FALSE(reader.GetString(33, sText));
    EXPECT_FALSE(reader.GetString(44, sText)); // the end of the table
    const std::vector<Reader::Effect> effects = Effects(reader);
    ASSERT_EQ(1u, effects.size());
    const Reader::Effect& effect = effects[0];
    EXPECT_EQ(0x70u, effect.nOffset);
    EXPECT_TRUE(reader.GetString(effect.nNameOffset, sText));
    EXPECT_EQ("Glow", sText);
    EXPECT_EQ(1000u, effect.nLength);
    ASSERT_EQ(1u, effect.keys.size());
    const Reader::Key& key = effect.keys[0];
    EXPECT_EQ(1u, key.nTypeID);
    EXPECT_EQ(1.0f, key.fEndTime);
    EXPECT_EQ(7u, key.nMotionLinkID);
    ASSERT_EQ(4u, key.props.size());
    EXPECT_EQ(0xACu, key.props[2].nOffset);
    EXPECT_EQ(0xB4u, key.props[2].nValueOffset);
    EXPECT_EQ(2.5f, reader.ReadF32(key.props[0].nValueOffset));
    EXPECT_EQ(uint32_t(-3), reader.ReadU32(key.props[1].nValueOffset));
    ASSERT_EQ(1u, reader.GetCurves().size());
    EXPECT_EQ(0u, reader.GetCurves()[0].nOffset);
    EXPECT_EQ(2u, reader.GetCurves()[0].nNumKeys);
    EXPECT_EQ(uint32_t(ePT_Float), reader.GetCurves()[0].eType);
    EXPECT_TRUE(reader.IsCurveStart(0));
    EXPECT_FALSE(reader.IsCurveStart(4));
}

TEST(PackedEffectReader, EachCorruptionNamesItsOffset)
{
    EXPECT_EQ(ProblemOffsets(GlowFile(0, 0x58465158)), Offsets{0}); // "XQFX"
    EXPECT_EQ(32u, ProblemOffsets(GlowFile(32, 52)).at(0)); // the table moved 4 bytes past the key counts
    EXPECT_EQ(0x98u,
              ProblemOffsets(GlowFile(0x98, 164)).at(0)); // Size's skip offset lands inside Count's record
    // Label's value points at the "i" of "hi": a string offset is only known as such with the module.
    EXPECT_TRUE(ProblemOffsets(GlowFile(0xB4, 33)).empty());
    EXPECT_EQ(ProblemOffsets(GlowFile(0xB4, 33), GlowLookup), Offsets{0xB4});
    EXPECT_EQ(ProblemOffsets(GlowFile(196, 8)), Offsets{196}); // the index names "Size" instead of "Glow"
    Bytes bytes = GlowFile(40, 1);                             // the key counted as type 0
    PutWord(bytes, 44, 0);
    EXPECT_EQ(ProblemOffsets(bytes), (Offsets{40, 44}));
    const Offsets fade = ProblemOffsets(GlowFile(0xC0, 4), GlowLookup); // Fade refers into its curve record
    EXPECT_NE(std::find(fade.begin(), fade.end(), 0xC0), fade.end());
    bytes = GlowFile(); // the index cut off
    bytes.resize(196);
    EXPECT_EQ(ProblemOffsets(bytes), Offsets{36});
    bytes.resize(39);
    EXPECT_EQ(ProblemOffsets(bytes), Offsets{0});

    // An enum index must name a choice: "a,b," has two; index 0 also stands for a default that is
    // none of them.
    const auto enumLookup = [](uint32_t nTypeID, const char* pszName, Reader::ValueInfo& info)
    {
        if (!GlowLookup(nTypeID, pszName, info))
            return false;
        if (std::strcmp(pszName, "Count") == 0)
        {
            info.eType = ePT_Enum;
            info.sParams = "a,b,";
        }
        return true;
    };
    EXPECT_TRUE(ProblemOffsets(GlowFile(0xA8, 1), enumLookup).empty());
    EXPECT_EQ(ProblemOffsets(GlowFile(0xA8, 2), enumLookup), Offsets{0xA8});

    // Every key of a curve is checked, the first included: Fade as an enum curve of two choices
    // holds 0x3F800000 in its first key (value at 0x64) and 0 in its second (at 0x6C).
    const auto enumCurveLookup = [](uint32_t nTypeID, const char* pszName, Reader::ValueInfo& info)
    {
        if (!GlowLookup(nTypeID, pszName, info))
            return false;
        if (std::strcmp(pszName, "Fade") == 0)
        {
            info.eType = ePT_Enum;
            info.sParams = "a,b";
        }
        return true;
    };
    EXPECT_EQ(ProblemOffsets(GlowFile(), enumCurveLookup), Offsets{0x64});
    EXPECT_EQ(ProblemOffsets(GlowFile(0x64, 1), enumCurveLookup), Offsets{});
    EXPECT_EQ(ProblemOffsets(GlowFile(0x6C, 2), enumCurveLookup), (Offsets{0x64, 0x6C}));
}

TEST(FxdumpProgram, VerifyJsonListingAndUsage)
{
    const std::string sGood = WriteFile(TempPath("glow.Fx00p"), GlowFile());
    const std::string sEmpty = WriteFile(TempPath("empty.Fx00p"), EMPTY);
    const std::string sBad = WriteFile(TempPath("bad.Fx00p"), GlowFile(196, 8));

    RunResult result = RunProgram("fxdump", {"--verify", "--no-module", sGood, sEmpty});
    EXPECT_EQ(0, result.nExit) << result.sErr;
    EXPECT_EQ(sGood + ": ok\n" + sEmpty + ": ok\n", result.sOut);

    result = RunProgram("fxdump", {"--verify", "--no-module", sBad, sGood});
    EXPECT_EQ(1, result.nExit);
    EXPECT_EQ(sGood + ": ok\n", result.sOut);
    EXPECT_EQ(0u, result.sErr.find("fxdump: " + sBad + ": offset 0xC4: ")) << result.sErr;

    result = RunProgram("fxdump", {"--json", "--no-module", sGood, sEmpty});
    EXPECT_EQ(0, result.nExit) << result.sErr;
    const std::vector<nlohmann::json> lines = JsonLines(result.sOut);
    ASSERT_EQ(2u, lines.size());
    ASSERT_EQ(1u, lines[0]["effects"].size());
    EXPECT_EQ("Glow", lines[0]["effects"][0]["name"]);
    EXPECT_EQ(4u, lines[0]["effects"][0]["keys"][0]["properties"].size());
    EXPECT_EQ(200, lines[0]["size"]);
    EXPECT_TRUE(lines[1]["effects"].empty());
    EXPECT_EQ(48, lines[1]["header"]["effectIndexOffset"]);

    // The whole text listing, worked out from the layout above: without a module values stay raw words.
    result = RunProgram("fxdump", {sGood});
    EXPECT_EQ(0, result.nExit);
    EXPECT_EQ("", result.sErr);
    const std::string sNoName(20, ' ');
    EXPECT_EQ(sGood +
                  ": packed effect file, 200 bytes\n"
                  "module: none (values shown as raw words; use --module PATH or --project)\n"
                  "header: magic ZQFX, version 2, module version 0x10000\n"
                  "  1 effects, 1 keys, 2 effect types\n"
                  "  string table at 0x30, 44 bytes; curves 20 bytes; effect index at 0xC4\n"
                  "key counts per type:\n"
                  "    0 " +
                  sNoName +
                  " 0\n"
                  "    1 " +
                  sNoName +
                  " 1\n"
                  "strings (6):\n"
                  "  @0      \"Glow\"\n"
                  "  @8      \"Size\"\n"
                  "  @16     \"Count\"\n"
                  "  @24     \"Label\"\n"
                  "  @32     \"hi\"\n"
                  "  @36     \"Fade\"\n"
                  "curves: not decoded without the effect module\n"
                  "effects:\n"
                  "  effect \"Glow\", 1000 ms, 1 keys\n"
                  "    key 7: type 1, 0 s to 1 s, motion link 7, 4 properties\n"
                  "      Size = (0x40200000)\n"
                  "      Count = (0xFFFFFFFD)\n"
                  "      Label = (0x00000020)\n"
                  "      Fade = (0x00000000)\n",
              result.sOut);

    // A file shorter than its header: the header line stands alone, the problem is named.
    Bytes shortFile = GlowFile();
    shortFile.resize(20);
    const std::string sShort = WriteFile(TempPath("short.Fx00p"), shortFile);
    result = RunProgram("fxdump", {sShort});
    EXPECT_EQ(1, result.nExit);
    EXPECT_NE(std::string::npos, result.sOut.find("\nheader: cut short\nstrings (0):\n")) << result.sOut;
    EXPECT_NE(std::string::npos,
              result.sOut.find("problem at 0x0: the file is 20 bytes, shorter than the 40-byte header\n"));

    // A module is loaded only when asked for; one asked for and not loadable is an error.
    result = RunProgram("fxdump", {"--module", TempPath("missing.so"), sGood});
    EXPECT_EQ(1, result.nExit);
    EXPECT_EQ("", result.sOut);
    EXPECT_NE(std::string::npos, result.sErr.find("cannot load the effect module")) << result.sErr;
    result = RunProgram("fxdump", {"--project", sGood});
    EXPECT_EQ(1, result.nExit);
    EXPECT_NE(std::string::npos, result.sErr.find(sGood + ": no effect module: no project locator file"))
        << result.sErr;

    EXPECT_EQ(2, RunProgram("fxdump", {}).nExit);
    EXPECT_EQ(2, RunProgram("fxdump", {"--no-such-option", "x.Fx00p"}).nExit);
    EXPECT_EQ(2, RunProgram("fxdump", {"--module", MODULE, "--no-module", "x.Fx00p"}).nExit);
    EXPECT_EQ(2, RunProgram("fxdump", {"--module", MODULE, "--project", "x.Fx00p"}).nExit);
    EXPECT_EQ(2, RunProgram("fxdump", {"--diff", sGood}).nExit);
    EXPECT_EQ(2, RunProgram("fxdump", {"--zqa", sGood}).nExit); // no module to name the types
    result = RunProgram("fxdump", {"--help"});
    EXPECT_EQ(0, result.nExit);
    EXPECT_NE(std::string::npos, result.sOut.find("Usage: fxdump")) << result.sOut;
    EXPECT_EQ(1, RunProgram("fxdump", {TempPath("missing.Fx00p")}).nExit);
}

TEST(FxdumpProgram, DemoPacksAndVerifies)
{
    const fs::path demo = TempPath("demo");
    fs::copy(fs::path(EMBERVISE_SOURCE_DIR) / "demo", demo, fs::copy_options::recursive);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(demo))
        if (entry.path().extension() == ".Fx00p")
            fs::remove(entry.path()); // left over from a "make demo" in the checkout
    WriteFile((demo / "demo.proj00").string(),
              "[General]\nGame=Demo\n[Project Binaries]\nSparkrig=" + MODULE + "\n");

    const RunResult pack = RunProgram("zqpack", {"--plugin", BinLibrary("Embervise"), demo.string()});
    EXPECT_EQ(0, pack.nExit) << pack.sErr;

    std::vector<std::string> packed;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(demo))
    {
        const std::string sExt = entry.path().extension().string();
        if (sExt != ".Fx00a" && sExt != ".Fx00c")
            continue;
        fs::path out = entry.path();
        out.replace_extension(".Fx00p");
        EXPECT_TRUE(fs::is_regular_file(out)) << out;
        packed.push_back(out.string());
    }
    EXPECT_EQ(12u, packed.size());

    std::vector<std::string> args = {"--verify", "--module", MODULE};
    args.insert(args.end(), packed.begin(), packed.end());
    const RunResult verify = RunProgram("fxdump", args);
    EXPECT_EQ(0, verify.nExit) << verify.sErr;
    EXPECT_EQ("", verify.sErr);
    // Without a module --verify checks the structure, and says nothing about the module.
    args = {"--verify", "-q"};
    args.insert(args.end(), packed.begin(), packed.end());
    const RunResult structure = RunProgram("fxdump", args);
    EXPECT_EQ(0, structure.nExit) << structure.sErr;
    EXPECT_EQ("", structure.sErr + structure.sOut);

    // A locator file above each packed file names the module, but only --project uses it.
    EXPECT_EQ("", RunProgram("fxdump", {"--json", packed[0]}).sOut.find("\"module\"") == std::string::npos
                      ? ""
                      : "a module was loaded without being asked for");
    args = {"--json", "--project"};
    args.insert(args.end(), packed.begin(), packed.end());
    const RunResult listing = RunProgram("fxdump", args);
    EXPECT_EQ(0, listing.nExit) << listing.sErr;
    const std::vector<nlohmann::json> lines = JsonLines(listing.sOut);
    ASSERT_EQ(packed.size(), lines.size());
    for (const nlohmann::json& line : lines)
    {
        EXPECT_EQ(MODULE, line.value("module", "")) << line["file"];
        EXPECT_TRUE(line["problems"].empty()) << line["file"];
        EXPECT_FALSE(line["effects"].empty()) << line["file"];
    }
}

TEST(FxdumpProgram, OnlyPackedFilesAreReadAndEffectNamesAreForgiving)
{
    // A source file is named as one before anything is printed, in every view.
    const std::string sSource =
        WriteFile(TempPath("glow.Fx00a"), "(header (version 1))(effect-tree (effect (name Glow)))\n");
    const std::string sNotSource = WriteFile(TempPath("other.Fx00p"), GlowFile(0, 0x58465158)); // "XQFX"
    const std::string sGood = WriteFile(TempPath("glow.Fx00p"), GlowFile());
    for (const std::vector<std::string>& view :
         {std::vector<std::string>{}, {"--json"}, {"--verify"}, {"--csv", "--module", MODULE}, {"--html"}})
    {
        std::vector<std::string> args = view;
        args.push_back(sSource);
        const RunResult result = RunProgram("fxdump", args);
        EXPECT_EQ(1, result.nExit) << args[0];
        EXPECT_EQ("", result.sOut);
        EXPECT_EQ("fxdump: " + sSource +
                      ": not a packed effect file: it starts with \"(hea\" where a packed file starts with "
                      "\"ZQFX\"; it is an effect source, which zqpack packs and fxcheck checks\n",
                  result.sErr);
    }
    RunResult result = RunProgram("fxdump", {"--diff", sGood, sNotSource});
    EXPECT_EQ(2, result.nExit);
    EXPECT_EQ("", result.sOut);
    EXPECT_EQ(
        "fxdump: " + sNotSource +
            ": not a packed effect file: it starts with \"XQFX\" where a packed file starts with \"ZQFX\"\n",
        result.sErr);
    // A file cut within the magic is still a packed file cut short; two other bytes are not.
    EXPECT_NE(std::string::npos,
              RunProgram("fxdump", {WriteFile(TempPath("cut.Fx00p"), "ZQ")}).sOut.find("header: cut short"));
    EXPECT_EQ(1, RunProgram("fxdump", {WriteFile(TempPath("two.Fx00p"), "(h")}).nExit);

    // Curves are known only from the module.
    result = RunProgram("fxdump", {"--csv", sGood});
    EXPECT_EQ(2, result.nExit);
    EXPECT_EQ("", result.sOut);
    EXPECT_EQ(
        "fxdump: error: --csv needs the effect module: --module PATH or --project (see fxdump --help)\n",
        result.sErr);

    // Effect names in any letter case; a name that matches none gets the nearest one seen.
    result = RunProgram("fxdump", {"--json", "--effect", "gLOW", sGood});
    EXPECT_EQ(0, result.nExit) << result.sErr;
    EXPECT_EQ("Glow", nlohmann::json::parse(result.sOut)["effects"][0]["name"]);
    result = RunProgram("fxdump", {"--effect", "Glwo", "--effect", "glow", "--effect", "Zap", sGood, sGood});
    EXPECT_EQ(1, result.nExit);
    EXPECT_EQ(2u, JsonLines(RunProgram("fxdump", {"--json", "--effect", "GLOW", sGood, sGood}).sOut).size());
    EXPECT_EQ("fxdump: no effect is named 'Glwo'; did you mean 'Glow'?\nfxdump: no effect is named 'Zap'\n",
              result.sErr);
}
