// fxdump at the edges of its own texts and tables: formatted texts of every length around the first
// buffer's size, and exactly one key count per effect type of the module.
#include "fxdump.h"
#include "test_support.h"

#include <nlohmann/json.hpp>

// Texts just below, at and above the 256 bytes formatted in place, with arguments after the long
// one: the second formatting reads the arguments again from their start.
TEST(FxDumpFormat, EveryLengthWhole)
{
    for (size_t nLength : {0u, 1u, 250u, 254u, 255u, 256u, 257u, 300u, 5000u})
    {
        const std::string sLong(nLength, 'x');
        const std::string sExpected = "<" + sLong + "|42|-7|end>";
        EXPECT_EQ(fxdump::Format("<%s|%d|%d|%s>", sLong.c_str(), 42, -7, "end"), sExpected) << nLength;
        // The arguments in front of the long text as well.
        EXPECT_EQ(fxdump::Format("%u:%s:%.2f", 7u, sLong.c_str(), 0.5), "7:" + sLong + ":0.50") << nLength;
    }
}

// Three Sprite keys (type id 0) and one Light key (type id 2) packed with the sample module of ten
// types: ten counts, 3, 0, 1, 0 ... in type id order, and nothing from the string table after them.
TEST(FxDumpJson, OneKeyCountPerEffectType)
{
    WriteTemp("counts/c.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
    const std::string sKeys = "(key (type Sprite) (id 1) (track 0) (start-time 0) (end-time 100))"
                              "(key (type Sprite) (id 2) (track 1) (start-time 0) (end-time 100))"
                              "(key (type Light) (id 3) (track 2) (start-time 0) (end-time 100))"
                              "(key (type Sprite) (id 4) (track 3) (start-time 0) (end-time 100))";
    const std::string sSource = WriteTemp(
        "counts/a.Fx00a",
        "(header (version 1))\n(effect-tree (effect (name E) (length 100) (key-list " + sKeys + ")))");
    const RunResult pack = RunProgram("zqpack", {"-q", "--plugin", BinLibrary("Embervise"), sSource});
    ASSERT_EQ(pack.nExit, 0) << pack.sErr;
    for (const bool bModule : {false, true})
    {
        std::vector<std::string> args = {"--json", TempPath("counts/a.Fx00p")};
        if (bModule)
            args.insert(args.begin(), {"--module", BinLibrary("sparkrig_sample")});
        const RunResult dump = RunProgram("fxdump", args);
        ASSERT_EQ(dump.nExit, 0) << dump.sErr;
        const nlohmann::json counts = nlohmann::json::parse(dump.sOut).at("keyCounts");
        ASSERT_EQ(counts.size(), 10u) << dump.sOut;
        for (uint32_t i = 0; i < 10; ++i)
        {
            EXPECT_EQ(counts[i].at("typeId"), i);
            EXPECT_EQ(counts[i].at("keys"), i == 0 ? 3 : i == 2 ? 1 : 0) << i;
        }
        if (bModule)
        {
            EXPECT_EQ(counts[0].at("type"), "Sprite");
            EXPECT_EQ(counts[9].at("type"), "Marker");
        }
    }
}
