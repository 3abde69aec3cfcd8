#include "EffectFileLoader.h"
#include "PackedEffectWriter.h"
#include "effect_test_support.h"

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

namespace
{
const uint32_t kMagic = 0x5846515A; // "ZQFX" in file order
const uint32_t kOne = 0x3F800000;

// Each property record's skip offset must be the start of the record that follows it.
void ExpectSkipChain(const Bytes& file, std::initializer_list<uint32_t> recordStarts, uint32_t nEnd)
{
    const std::vector<uint32_t> starts(recordStarts);
    for (size_t i = 0; i < starts.size(); ++i)
        EXPECT_EQ(WordAt(file, starts[i] + 4), i + 1 < starts.size() ? starts[i + 1] : nEnd) << starts[i];
}

// An effect source text loaded against a test module with these descriptions, packed.
Bytes Pack(const char* pszModule, const char* pszSource)
{
    CTableModule module(pszModule);
    CEffectCollection collection;
    std::string sError;
    EXPECT_TRUE(LoadEffectFile(WriteTemp("fx.Fx00a", pszSource).c_str(), collection, module.m_Module, sError))
        << sError;
    const std::string sDest = TempPath("fx.Fx00p");
    EXPECT_TRUE(WritePackedEffectFile(sDest.c_str(), collection, module.m_Module));
    return ReadBytes(sDest);
}

const char* const kSparkModule = "version|0x00010002\n"
                                 "type|Spark\n"
                                 "prop|Tex|2\n"
                                 "prop|Size|5|c||0.25\n"
                                 "prop|Mode|3||Low,High|High\n"
                                 "prop|Note|8\n"
                                 "type|Glow\n";

const char* const kSparkSource =
    "(header (version 1))\n"
    "(effect-tree (effect (name Fx) (length 2000) (key-list\n"
    " (key (type Spark) (id 1) (track 0) (start-time 1000) (end-time 1500) (properties\n"
    "  (property (name Tex) (type Filename) (value-list (value (time 0) (data \"b.Fx00c\"))))\n"
    "  (property (name Size) (type Float) (value-list (value (time 0.7) (data 0.5)))))))))\n";
} // namespace

TEST(PackedEffectFile, EmptyCollectionWithTwoTypes)
{
    EXPECT_EQ(Pack("version|0x00010002\ntype|A\ntype|B\n", "(header (version 1)) (effect-tree)"),
              Words({kMagic, 2, 0x00010002, 0, 0, 0, 0, 2, 48, 48, 0, 0}));
}

TEST(PackedEffectFile, CompleteSmallFile)
{
    const Bytes file = Pack(kSparkModule, kSparkSource);
    EXPECT_EQ(file, Words({// header
                           kMagic, 2, 0x00010002, 40, 12, 1, 1, 2, 48, 172,
                           // key counts: Spark 1, Glow 0
                           1, 0,
                           // 48 strings: "Fx" 0, "Tex" 4, "b.Fx00p" 8, "Size" 16, "Mode" 24, "Note" 32
                           0x00007846, 0x00786554, 0x78462E62, 0x00703030, 0x657A6953, 0, 0x65646F4D, 0,
                           0x65746F4E, 0,
                           // 88 curve section: Size, one key at 0.0 (loaded at 0.7) of 0.5
                           1, 0, 0x3F000000,
                           // 100 effect "Fx", 2000 ms, one key
                           0, 2000, 1,
                           // 112 key: Spark, 1.0 s, 1.5000001 s, id 1, no motion link, 3 properties
                           0, kOne, 0x3FC00001, 1, 1, 3,
                           // 136 Tex: the packed name; 148 Size: curve 0; 160 Mode: default High
                           4, 148, 8, 16, 160, 0, 24, 172, 1,
                           // 172 effect index
                           0}));
}

TEST(PackedEffectFile, TimesColorsEnumsAndFileNames)
{
    const Bytes file =
        Pack("type|Misc\n"
             "prop|Mode|3||Low,High|High\n"
             "prop|Mode2|3||Low,High|Nope\n"
             "prop|Tint|6\n"
             "prop|Snd|2\n",
             "(header (version 1))\n"
             "(effect-tree (effect (name M) (length 5) (key-list\n"
             " (key (type Misc) (id 3) (track 0) (start-time 1000) (end-time -1500) (properties\n"
             "  (property (name Mode) (type Enum) (value-list (value (time 0) (data Bogus))))\n"
             "  (property (name Mode2) (type Enum) (value-list (value (time 0) (data Bogus))))\n"
             "  (property (name Tint) (type Color) (value-list (value (time 0) (data 255 128 0 64))))\n"
             "  (property (name Snd) (type Filename) (value-list (value (time 0) (data \"c.xyz\"))))))\n"
             " (key (type Misc) (id 4) (track 1) (start-time 1500) (end-time 1000) (motion-link (id 3)) "
             "(properties\n"
             "  (property (name Mode) (type Enum) (value-list (value (time 0) (data \" low\"))))))))\n"
             " (effect (name M) (length 5)))\n");
    EXPECT_EQ(file, Words({kMagic, 2, 0, 44, 0, 2, 2, 1, 44, 280,
                           // key counts
                           2,
                           // 44 strings: "M" 0, "Mode" 4, "Mode2" 12, "Tint" 20, "Snd" 28, "c.xyz" 32, "" 40
                           0x0000004D, 0x65646F4D, 0, 0x65646F4D, 0x00000032, 0x746E6954, 0, 0x00646E53,
                           0x79782E63, 0x0000007A, 0,
                           // 88 effect "M": two keys, track 0 first
                           0, 5, 2,
                           // 100 key 3: 1.0 s to -1.5000001 s, its own id as link
                           0, kOne, 0xBFC00001, 3, 3, 4,
                           // 124 Mode: Bogus became the default, index 1; 136 Mode2: default unknown, 0
                           4, 136, 1, 12, 148, 0,
                           // 148 Tint 255 128 0 64
                           20, 172, kOne, 0x3F008081, 0, 0x3E808081,
                           // 172 Snd: an unknown extension stays
                           28, 184, 32,
                           // 184 key 4: 1.5000001 s to 1.0 s, linked to key 3
                           0, 0x3FC00001, kOne, 4, 3, 4,
                           // 208 Mode " low" is index 0; Mode2; Tint black; Snd empty
                           4, 220, 0, 12, 232, 0, 20, 256, 0, 0, 0, 0, 28, 268, 40,
                           // 268 the second effect of the same name, no keys
                           0, 5, 0,
                           // 280 index
                           0, 0}));
}

TEST(PackedEffectFile, SharedAndInheritedCurves)
{
    const Bytes file =
        Pack("type|Beam\n"
             "prop|A|5|c\n"
             "prop|B|5|c\n"
             "prop|Hue|6|c||0x00000001\n"
             "prop|Cnt|4|c||1\n",
             "(header (version 1))\n"
             "(prefab-tree (prefab (name P) (type Beam) (properties\n"
             "  (property (name B) (type Float) (value-list (value (time 0) (data 5)))))))\n"
             "(effect-tree (effect (name E) (length 100) (key-list\n"
             " (key (type Beam) (id 1) (track 0) (start-time 0) (end-time 10) (properties\n"
             "  (property (name A) (type Float) (value-list (value (time 0) (data 2)) (value (time 1) (data "
             "3))))\n"
             "  (property (name B) (type Float) (value-list (value (time 0) (data 2)) (value (time 1) (data "
             "3))))))\n"
             " (key (type Beam) (id 2) (track 1) (start-time 0) (end-time 10) (parent P) (properties\n"
             "  (property (name A) (type Float) (value-list (value (time 0) (data 7)))))))))\n");
    ASSERT_EQ(file.size(), 304u);
    // Strings "E" "A" "B" "Hue" "Cnt" (the prefab's name is not written); curves at 64.
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 40), Words({kMagic, 2, 0, 20, 80, 2, 1, 1, 44, 300}));
    EXPECT_EQ(Bytes(file.begin() + 64, file.begin() + 144),
              Words({2, 0, 0x40000000, kOne, 0x40400000,    // 0: A and B of key 1
                     1, 0, 0,          0,    0x3B808081, 0, // 20: Hue, key 1's and the prefab's
                     1, 0, 1,                               // 44: Cnt, same bits as Hue, other type
                     1, 0, 0x40E00000,                      // 56: A of key 2
                     1, 0, 0x40A00000}));                   // 68: B inherited from the prefab
    // Key 1 at 156, its records from 180; key 2 at 228, its records from 252.
    const uint32_t aExpected[] = {0, 0, 20, 44, 56, 68, 20, 44};
    const uint32_t aRecords[] = {180, 192, 204, 216, 252, 264, 276, 288};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(WordAt(file, aRecords[i] + 8), aExpected[i]) << aRecords[i];
    EXPECT_EQ(WordAt(file, 228 + 20), 4u); // key 2 writes all four, inherited ones included
    ExpectSkipChain(file, {180, 192, 204, 216}, 228);
    ExpectSkipChain(file, {252, 264, 276, 288}, 300);
}

TEST(PackedEffectFile, KeyTimesAreTheExactProductRoundedOnce)
{
    // Beyond 2^24 ms the product with 0x83126F * 2^-33 needs 55 bits: 1400075121 ms is
    // 0x49AAE859 exactly rounded, 0x49AAE85A when the product is first rounded to a double.
    const Bytes file =
        Pack("type|T\n", "(header (version 1))(effect-tree (effect (name E) (length 1) (key-list"
                         " (key (type T) (id 0) (track 0) (start-time 1400075121)"
                         "  (end-time -1400075121))"
                         " (key (type T) (id 1) (track 1) (start-time 2147483647)"
                         "  (end-time -2147483648)))))");
    // The effect at 48, its first key at 60, the second at 84.
    EXPECT_EQ(WordAt(file, 64), 0x49AAE859u);
    EXPECT_EQ(WordAt(file, 68), 0xC9AAE859u);
    EXPECT_EQ(WordAt(file, 88), 0x4A03126Fu);
    EXPECT_EQ(WordAt(file, 92), 0xCA03126Fu);
    EXPECT_EQ(file.size(), 112u);
}

TEST(PackedEffectFile, NoValueCurveIsNamedAndStoredButNotWritten)
{
    const Bytes file = Pack("type|T\nprop|N|8|c\nprop|F|5|c||1\n",
                            "(header (version 1))(effect-tree (effect (name E) (length 1) (key-list"
                            " (key (type T) (id 0) (track 0) (start-time 0) (end-time 0)))))");
    // Strings "E" "N" "F" at 44; curves at 56: N without keys, then F; the effect at 72; the key
    // at 84 with one property record at 108.
    EXPECT_EQ(file, Words({kMagic, 2,    0, 12, 16, 1, 1, 1, 44, 120, 1, 0x45, 0x4E, 0x46, 0, 1,
                           0,      kOne, 0, 1,  1,  0, 0, 0, 0,  0,   1, 8,    120,  4,    0}));
}

TEST(PackedEffectFile, DefaultCurvesHoldingNaNAreStoredOncePerKey)
{
    const Bytes file = Pack("type|T\nprop|W|5|c||nan\n",
                            "(header (version 1))(effect-tree (effect (name E) (length 1) (key-list"
                            " (key (type T) (id 1) (track 0) (start-time 0) (end-time 0))"
                            " (key (type T) (id 2) (track 1) (start-time 0) (end-time 0)))))");
    // A NaN equals nothing, so each key's default curve is a record of its own: strings "E" "W" at
    // 44, two curves of one key at 52, the effect at 76, the keys at 88 and 124 with their
    // property records at 112 and 148 naming curve offsets 0 and 12; the index at 160.
    const uint32_t kNaN = 0x7FC00000;
    EXPECT_EQ(file,
              Words({kMagic, 2, 0, 8, 24, 2, 1, 1, 44,  160, 2, 0x45, 0x57, 1, 0, kNaN, 1, 0,   kNaN, 0, 1,
                     2,      0, 0, 0, 1,  1, 1, 4, 124, 0,   0, 0,    0,    2, 2, 1,    4, 160, 12,   0}));
}

TEST(PackedEffectFile, CurveLookupFollowsTheKeysAsNormalisedAgain)
{
    // Times beyond 1.0 with an end key: normalising again while writing moves the last key to
    // 1.0, after which both curves are equal, so the second record refers to the first curve.
    const Bytes file =
        Pack("type|T\nprop|W|5|ce\n",
             "(header (version 1))(effect-tree (effect (name E) (length 100) (key-list\n"
             " (key (type T) (id 1) (track 0) (start-time 0) (end-time 1) (properties (property "
             "(name W) (type Float)"
             "  (value-list (value (time 0.5) (data 10)) (value (time 1.5) (data 20)) (value "
             "(time 2.5) (data 30))))))\n"
             " (key (type T) (id 2) (track 1) (start-time 0) (end-time 1) (properties (property "
             "(name W) (type Float)"
             "  (value-list (value (time 0.5) (data 10)) (value (time 1.2) (data 20)) (value "
             "(time 2.5) (data 30)))))))))");
    // The curve section holds the keys as they were before writing.
    ASSERT_EQ(file.size(), 196u);
    EXPECT_EQ(Bytes(file.begin() + 52, file.begin() + 108),
              Words({3, 0, 0x41200000, kOne, 0x41F00000, 0x3FC00000, 0x41A00000, 3, 0, 0x41200000, kOne,
                     0x41F00000, 0x3F99999A, 0x41A00000}));
    EXPECT_EQ(WordAt(file, 144 + 8), 0u);
    EXPECT_EQ(WordAt(file, 180 + 8), 0u);
    EXPECT_EQ(WordAt(file, 36), 192u);
}

TEST(PackedEffectFile, FailureLeavesTheDestinationAsItWas)
{
    CTableModule module(kSparkModule);
    CEffectCollection collection;
    const std::string source = WriteTemp("fx.Fx00a", kSparkSource);
    std::string sError;
    ASSERT_TRUE(LoadEffectFile(source.c_str(), collection, module.m_Module, sError)) << sError;

    const fs::path dir = TempPath("out");
    fs::create_directory(dir);
    const std::string dest = (dir / "fx.Fx00p").string();
    EXPECT_FALSE(
        WritePackedEffectFile((dir / "missing" / "fx.Fx00p").string().c_str(), collection, module.m_Module));
    EXPECT_FALSE(WritePackedEffectFile(nullptr, collection, module.m_Module));
    CEffectModule unloaded;
    EXPECT_FALSE(WritePackedEffectFile(dest.c_str(), collection, unloaded));
    EXPECT_FALSE(fs::exists(dest));

#if !defined(_WIN32)
    // A write that fails part way: files may not grow beyond 100 bytes.
    WriteFile(dest, "old");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool bWritten = WritePackedEffectFile(dest.c_str(), collection, module.m_Module);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(bWritten);
    EXPECT_EQ(ReadFile(dest), "old");
#endif

    // Success replaces the file; no temporary file stays behind either way.
    ASSERT_TRUE(WritePackedEffectFile(dest.c_str(), collection, module.m_Module));
    EXPECT_EQ(ReadBytes(dest).size(), 176u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// An output that already holds the packed bytes is not written (its time stays); any other file
// there is replaced: other bytes of the same size, one byte more, or a link to the same bytes.
TEST(PackedEffectFile, OnlyChangedOutputsAreWritten)
{
    CTableModule module(kSparkModule);
    CEffectCollection collection;
    std::string sError;
    ASSERT_TRUE(
        LoadEffectFile(WriteTemp("fx.Fx00a", kSparkSource).c_str(), collection, module.m_Module, sError))
        << sError;
    const fs::path dir = TempPath("same");
    fs::create_directory(dir);
    const std::string dest = (dir / "fx.Fx00p").string();
    ASSERT_TRUE(WritePackedEffectFile(dest.c_str(), collection, module.m_Module));
    const std::string packed = ReadFile(dest);
    ASSERT_EQ(packed.size(), 176u);

    const auto then = fs::last_write_time(dest) - std::chrono::hours(1);
    fs::last_write_time(dest, then);
    ASSERT_TRUE(WritePackedEffectFile(dest.c_str(), collection, module.m_Module));
    EXPECT_EQ(fs::last_write_time(dest), then);
    EXPECT_EQ(ReadFile(dest), packed);

    std::string changedLast = packed;
    changedLast.back() ^= 1;
    for (const std::string& other : {changedLast, packed + '\0', packed.substr(0, 175)})
    {
        WriteFile(dest, other);
        fs::last_write_time(dest, then);
        ASSERT_TRUE(WritePackedEffectFile(dest.c_str(), collection, module.m_Module));
        EXPECT_EQ(ReadFile(dest), packed);
        EXPECT_NE(fs::last_write_time(dest), then) << other.size();
    }

#if !defined(_WIN32)
    const std::string target = (dir / "elsewhere.Fx00p").string();
    WriteFile(target, packed);
    fs::remove(dest);
    fs::create_symlink(target, dest);
    ASSERT_TRUE(WritePackedEffectFile(dest.c_str(), collection, module.m_Module));
    EXPECT_FALSE(fs::is_symlink(dest));
    EXPECT_EQ(ReadFile(dest), packed);
    fs::remove(target);
#endif
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1); // no temporary left
}
