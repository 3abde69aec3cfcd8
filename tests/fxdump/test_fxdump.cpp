// The packed effect reader on files built byte by byte, and fxdump and zqpack run for real.
#include "PackedEffectReader.h"
#include "pyrixmodule.h"
#include "zqprocess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
using Bytes = std::vector<uint8_t>;
using Reader = CPackedEffectReader;

const std::string BIN_DIR = EMBERVISE_BIN_DIR;
#if defined(_WIN32)
const std::string LIBRARY = ".dll";
const std::string PROGRAM = ".exe";
#else
const std::string LIBRARY = ".so";
const std::string PROGRAM = "";
#endif
const std::string MODULE = BIN_DIR + "/sparkrig_sample" + LIBRARY;

void PutU32(Bytes& bytes, uint32_t nOffset, uint32_t nValue)
{
    for (int i = 0; i < 4; ++i)
        bytes[nOffset + i] = static_cast<uint8_t>(nValue >> (8 * i));
}

Bytes Words(const std::vector<uint32_t>& words)
{
    Bytes bytes(4 * words.size());
    for (size_t i = 0; i < words.size(); ++i)
        PutU32(bytes, static_cast<uint32_t>(4 * i), words[i]);
    return bytes;
}

const uint32_t MAGIC = 0x5846515A; // the bytes 5A 51 46 58, "ZQFX"

// An empty collection packed with a module of two types, version 0x10000.
Bytes EmptyFile()
{
    return Words({MAGIC, 2, 0x10000, 0, 0, 0, 0, 2, 48, 48, 0, 0});
}

// One effect "Glow" (1000 ms) with one key of type 1 (id 7, 0 s to 1 s) holding Size = 2.5,
// Count = -3, Label = "hi" and Fade, a float curve from 1 to 0. String table at 0x30 (44 bytes),
// curve section at 0x5C (20 bytes), effect at 0x70, key at 0x7C, properties at 0x94, 0xA0, 0xAC and
// 0xB8, index at 0xC4; 200 bytes.
Bytes GlowFile()
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
    return bytes;
}

bool GlowLookup(uint32_t nTypeID, const char* pszName, Reader::ValueInfo& info)
{
    static const struct
    {
        const char* pszName;
        uint32_t eType;
        bool bCurve;
    } PROPS[] = {{"Size", ePT_Float, false},
                 {"Count", ePT_Int, false},
                 {"Label", ePT_String, false},
                 {"Fade", ePT_Float, true}};
    for (const auto& prop : PROPS)
        if (nTypeID == 1 && std::strcmp(pszName, prop.pszName) == 0)
        {
            info.eType = prop.eType;
            info.bFunctionCurve = prop.bCurve;
            return true;
        }
    return false;
}

// The file offsets of the problems found, structure first, then values when a lookup is given.
std::vector<uint32_t> ProblemOffsets(const Bytes& bytes, const Reader::ValueLookup& lookup = nullptr)
{
    Reader reader;
    if (reader.Read(bytes.data(), bytes.size()) && lookup)
        reader.CheckValues(lookup, false);
    std::vector<uint32_t> offsets;
    for (const Reader::Problem& problem : reader.GetProblems())
        offsets.push_back(problem.nOffset);
    return offsets;
}

bool Has(const std::vector<uint32_t>& offsets, uint32_t nOffset)
{
    return std::find(offsets.begin(), offsets.end(), nOffset) != offsets.end();
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Program output as lines, whatever line ends the platform's text streams write ("\r\n" on Windows).
std::string TextLines(const std::string& sText)
{
    std::string sLines;
    for (size_t i = 0; i < sText.size(); ++i)
    {
        if (!(sText[i] == '\r' && i + 1 < sText.size() && sText[i + 1] == '\n'))
            sLines += sText[i];
    }
    return sLines;
}

struct RunResult
{
    int nExit = -1;
    std::string sOut;
    std::string sErr;
};

class FxdumpProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("fxdump_test_" + std::to_string(PlatformGetProcessId()));
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }

    void TearDown() override { fs::remove_all(m_root); }

    RunResult Run(const std::string& sProgram, const std::vector<std::string>& args)
    {
        std::vector<const char*> argv;
        for (const std::string& sArg : args)
            argv.push_back(sArg.c_str());
        const std::string sOut = (m_root / "run.out").string();
        const std::string sErr = (m_root / "run.err").string();
        const std::string sPath = BIN_DIR + "/" + sProgram + PROGRAM;
        PlatformProcess hProcess =
            PlatformStartProcess(sPath.c_str(), argv.data(), argv.size(), sOut.c_str(), sErr.c_str());
        RunResult result;
        if (!hProcess)
            return result;
        EXPECT_EQ(0, PlatformWaitAnyProcess(&hProcess, 1, &result.nExit));
        result.sOut = TextLines(ReadFile(sOut));
        result.sErr = TextLines(ReadFile(sErr));
        return result;
    }

    fs::path m_root;
};

std::vector<nlohmann::json> JsonLines(const std::string& sOut)
{
    std::vector<nlohmann::json> lines;
    std::istringstream in(sOut);
    for (std::string sLine; std::getline(in, sLine);)
        lines.push_back(nlohmann::json::parse(sLine));
    return lines;
}
} // namespace

TEST(PackedEffectReader, EmptyCollectionWithTwoTypesReadsClean)
{
    const Bytes bytes = EmptyFile();
    ASSERT_EQ(48u, bytes.size());
    EXPECT_EQ(0, std::memcmp(bytes.data(), "ZQFX", 4));
    Reader reader;
    ASSERT_TRUE(reader.Read(bytes.data(), bytes.size()));
    reader.CheckValues(GlowLookup, false);
    EXPECT_TRUE(reader.GetProblems().empty());
    EXPECT_EQ(0x10000u, reader.GetHeader().nModuleVersion);
    EXPECT_EQ((std::vector<uint32_t>{0, 0}), reader.GetKeyCounts());
    EXPECT_TRUE(reader.GetEffects().empty());
    EXPECT_TRUE(reader.GetIndex().empty());
    EXPECT_TRUE(reader.GetStringStarts().empty());
}

TEST(PackedEffectReader, OneEffectReadsCleanAndDecodes)
{
    const Bytes bytes = GlowFile();
    ASSERT_EQ(200u, bytes.size());
    Reader reader;
    ASSERT_TRUE(reader.Read(bytes.data(), bytes.size()));
    reader.CheckValues(GlowLookup, false);
    EXPECT_TRUE(reader.GetProblems().empty()) << reader.GetProblems()[0].sText;

    EXPECT_EQ((std::vector<uint32_t>{0, 8, 16, 24, 32, 36}), reader.GetStringStarts());
    EXPECT_STREQ("hi", reader.GetString(32));
    EXPECT_EQ(nullptr, reader.GetString(33));
    ASSERT_EQ(1u, reader.GetEffects().size());
    const Reader::Effect& effect = reader.GetEffects()[0];
    EXPECT_EQ(0x70u, effect.nOffset);
    EXPECT_STREQ("Glow", reader.GetString(effect.nNameOffset));
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
    EXPECT_EQ((std::vector<uint32_t>{0}), reader.GetIndex());
}

TEST(PackedEffectReader, EachCorruptionNamesItsOffset)
{
    Bytes bytes = GlowFile();
    bytes[0] = 'X';
    EXPECT_EQ((std::vector<uint32_t>{0}), ProblemOffsets(bytes));

    bytes = GlowFile(); // the table moved 4 bytes past the key counts
    PutU32(bytes, 32, 52);
    EXPECT_EQ(32u, ProblemOffsets(bytes).at(0));

    bytes = GlowFile(); // Size's skip offset lands inside Count's record
    PutU32(bytes, 0x98, 164);
    EXPECT_EQ(0x98u, ProblemOffsets(bytes).at(0));

    bytes = GlowFile(); // Label's value points at the "i" of "hi"
    PutU32(bytes, 0xB4, 33);
    EXPECT_TRUE(ProblemOffsets(bytes).empty()); // a string offset is only known as such with the module
    EXPECT_EQ((std::vector<uint32_t>{0xB4}), ProblemOffsets(bytes, GlowLookup));

    bytes = GlowFile(); // the index names "Size" instead of "Glow"
    PutU32(bytes, 196, 8);
    EXPECT_EQ((std::vector<uint32_t>{196}), ProblemOffsets(bytes));

    bytes = GlowFile(); // the key counted as type 0
    PutU32(bytes, 40, 1);
    PutU32(bytes, 44, 0);
    EXPECT_EQ((std::vector<uint32_t>{40, 44}), ProblemOffsets(bytes));

    bytes = GlowFile(); // Fade refers into the middle of its curve record
    PutU32(bytes, 0xC0, 4);
    EXPECT_TRUE(Has(ProblemOffsets(bytes, GlowLookup), 0xC0));

    bytes = GlowFile(); // the index cut off
    bytes.resize(196);
    EXPECT_EQ((std::vector<uint32_t>{36}), ProblemOffsets(bytes));
    bytes.resize(39);
    EXPECT_EQ((std::vector<uint32_t>{0}), ProblemOffsets(bytes));
}

TEST(PackedEffectReader, EnumIndexMustNameAChoice)
{
    // "a,b," has two choices; index 0 also stands for a default that is none of them.
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
    Bytes bytes = GlowFile();
    PutU32(bytes, 0xA8, 1);
    EXPECT_TRUE(ProblemOffsets(bytes, enumLookup).empty());
    PutU32(bytes, 0xA8, 2);
    EXPECT_EQ((std::vector<uint32_t>{0xA8}), ProblemOffsets(bytes, enumLookup));
}

TEST_F(FxdumpProgram, VerifyAndJson)
{
    const std::string sGood = (m_root / "glow.Fx00p").string();
    const std::string sEmpty = (m_root / "empty.Fx00p").string();
    const std::string sBad = (m_root / "bad.Fx00p").string();
    WriteFile(sGood, GlowFile());
    WriteFile(sEmpty, EmptyFile());
    Bytes bad = GlowFile();
    PutU32(bad, 196, 8);
    WriteFile(sBad, bad);

    RunResult result = Run("fxdump", {"--verify", "--no-module", sGood, sEmpty});
    EXPECT_EQ(0, result.nExit) << result.sErr;
    EXPECT_EQ(sGood + ": ok\n" + sEmpty + ": ok\n", result.sOut);

    result = Run("fxdump", {"--verify", "--no-module", sBad, sGood});
    EXPECT_EQ(1, result.nExit);
    EXPECT_EQ(sGood + ": ok\n", result.sOut);
    EXPECT_EQ(0u, result.sErr.find("fxdump: " + sBad + ": offset 0xC4: ")) << result.sErr;

    result = Run("fxdump", {"--json", "--no-module", sGood, sEmpty});
    EXPECT_EQ(0, result.nExit) << result.sErr;
    const std::vector<nlohmann::json> lines = JsonLines(result.sOut);
    ASSERT_EQ(2u, lines.size());
    ASSERT_EQ(1u, lines[0]["effects"].size());
    EXPECT_EQ("Glow", lines[0]["effects"][0]["name"]);
    EXPECT_EQ(4u, lines[0]["effects"][0]["keys"][0]["properties"].size());
    EXPECT_EQ(200, lines[0]["size"]);
    EXPECT_TRUE(lines[1]["effects"].empty());
    EXPECT_EQ(48, lines[1]["header"]["effectIndexOffset"]);

    // Text listing: values stay raw words without a module.
    result = Run("fxdump", {"--no-module", sGood});
    EXPECT_EQ(0, result.nExit);
    EXPECT_NE(std::string::npos, result.sOut.find("  effect \"Glow\", 1000 ms, 1 keys\n")) << result.sOut;
    EXPECT_NE(std::string::npos, result.sOut.find("      Size = (0x40200000)\n")) << result.sOut;
}

TEST_F(FxdumpProgram, UsageErrorsAndHelp)
{
    EXPECT_EQ(2, Run("fxdump", {}).nExit);
    EXPECT_EQ(2, Run("fxdump", {"--no-such-option", "x.Fx00p"}).nExit);
    EXPECT_EQ(2, Run("fxdump", {"--module", MODULE, "--no-module", "x.Fx00p"}).nExit);
    const RunResult help = Run("fxdump", {"--help"});
    EXPECT_EQ(0, help.nExit);
    EXPECT_NE(std::string::npos, help.sOut.find("Usage: fxdump")) << help.sOut;
    EXPECT_EQ(1, Run("fxdump", {(m_root / "missing.Fx00p").string()}).nExit);
}

TEST_F(FxdumpProgram, DemoPacksAndVerifies)
{
    const fs::path demo = m_root / "demo";
    fs::copy(fs::path(EMBERVISE_SOURCE_DIR) / "demo", demo, fs::copy_options::recursive);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(demo))
        if (entry.path().extension() == ".Fx00p")
            fs::remove(entry.path()); // left over from a "make demo" in the checkout
    std::ofstream(demo / "demo.proj00", std::ios::trunc)
        << "[General]\nGame=Demo\n[Project Binaries]\nSparkrig=" << MODULE << "\n";

    const RunResult pack = Run("zqpack", {"--plugin", BIN_DIR + "/Embervise" + LIBRARY, demo.string()});
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
    const RunResult verify = Run("fxdump", args);
    EXPECT_EQ(0, verify.nExit) << verify.sErr;
    EXPECT_EQ("", verify.sErr);

    // Without --module the locator file above each packed file names the module.
    args = {"--json"};
    args.insert(args.end(), packed.begin(), packed.end());
    const RunResult listing = Run("fxdump", args);
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
