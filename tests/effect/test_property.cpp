#include "EffectProperty.h"
#include "ZQNumbers.h"
#include "effect_test_support.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

using effect_test::TableModule;

namespace
{
const char* const kTable = "type|T\n"
                           "prop|Plain|5||;|0.25\n"
                           "prop|Curve|5|ce||7\n"
                           "prop|CurveNoEnd|5|c||3\n"
                           "prop|Count|4||1;5|2\n"
                           "prop|Cap|4||;2.5\n"
                           "prop|Floor|4||-2.5;\n"
                           "prop|Inverted|4||5;1\n"
                           "prop|Unit|5||0;1\n"
                           "prop|Move|7||-1;1|0 0 0\n"
                           "prop|Mode|3||Low , Medium , High|Medium\n"
                           "prop|Marker|8\n"
                           "prop|Nothing|0\n";
enum
{
    kPlain,
    kCurve,
    kCurveNoEnd,
    kCount,
    kCap,
    kFloor,
    kInverted,
    kUnit,
    kMove,
    kMode,
    kMarker,
    kNothing
};

EffectPropertyKey FloatKey(float fTime, float fValue)
{
    EffectPropertyKey key;
    std::memset(&key, 0, sizeof(key));
    key.fTime = fTime;
    key.Value.fValue = fValue;
    return key;
}

void ExpectKeys(const CEffectProperty& prop, const std::vector<std::pair<float, float>>& expected)
{
    ASSERT_EQ(prop.GetNumKeys(), expected.size());
    for (uint32_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(prop.GetKey(i)->fTime, expected[i].first) << "key " << i;
        EXPECT_EQ(prop.GetKey(i)->Value.fValue, expected[i].second) << "key " << i;
    }
}

uint64_t Bits(double d)
{
    uint64_t n;
    std::memcpy(&n, &d, sizeof(n));
    return n;
}
} // namespace

TEST(Numbers, AtoIWrapsModulo32Bits)
{
    EXPECT_EQ(ZQAtoI("  -12abc"), -12);
    EXPECT_EQ(ZQAtoI("\t\n+7"), 7);
    EXPECT_EQ(ZQAtoI("4294967297"), 1);
    EXPECT_EQ(ZQAtoI("2147483648"), INT_MIN);
    EXPECT_EQ(ZQAtoI("-2147483649"), INT_MAX);
    EXPECT_EQ(ZQAtoI("- 1"), 0);
    EXPECT_EQ(ZQAtoI("x1"), 0);
    EXPECT_EQ(ZQAtoI(""), 0);
    EXPECT_EQ(ZQAtoI(nullptr), 0);
}

TEST(Numbers, AtoFMatchesCLocaleStrtod)
{
    EXPECT_EQ(ZQAtoF("1.5abc"), 1.5);
    EXPECT_EQ(ZQAtoF("  +2.5e1"), 25.0);
    EXPECT_EQ(ZQAtoF("0x1.8p1"), 3.0);
    EXPECT_EQ(ZQAtoF(""), 0.0);
    EXPECT_EQ(Bits(ZQAtoF("-x")), Bits(0.0)) << "no conversion gives an unsigned zero";
    EXPECT_EQ(Bits(ZQAtoF("-0x")), Bits(-0.0)) << "\"-0\" is converted";
    EXPECT_EQ(ZQAtoF("InFiNiTy"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Bits(ZQAtoF("nan(0x7b)")), 0x7FF800000000007Bull);

    // Nothing in the process calls setlocale, so strtod runs in the "C" locale here.
    const char* const apszTexts[] = {
        "0",       "-0",         "1e400",        "-1e-400",     "1e-320",   "2.4703282292062328e-324",
        ".5",      "5.",         ".",            "e5",          "1e",       "1e+",
        "1e-5x",   "0x",         "0x.8",         "0x1p-1080",   "0X1P+3",   "0xffffp99999",
        "nan",     "-nan(12)",   "nan(abc)",     "nan(",        "-inf",     "infin",
        "1,5",     "\v\f\r 9.75", "123456789012345678901234567890", "0.1", "3.4028235677973366e38",
        "1.17549435e-38",      "0x1.fffffffffffff8p0",          "9007199254740993", "1e308", "1.8e308",
    };
    for (const char* pszText : apszTexts)
        EXPECT_EQ(Bits(ZQAtoF(pszText)), Bits(std::strtod(pszText, nullptr))) << pszText;
}

TEST(PropertyHelpers, RoundParseAndFindEnum)
{
    EXPECT_EQ(RoundToInt(2.5f), 3);
    EXPECT_EQ(RoundToInt(-2.5f), -3);
    EXPECT_EQ(RoundToInt(2.4f), 2);
    EXPECT_EQ(RoundToInt(-0.4f), 0);
    EXPECT_EQ(RoundToInt(2147483520.0f), 2147483520);
    EXPECT_EQ(RoundToInt(2147483648.0f), INT_MIN);
    EXPECT_EQ(RoundToInt(-3e9f), INT_MIN);
    EXPECT_EQ(RoundToInt(std::numeric_limits<float>::quiet_NaN()), INT_MIN);

    bool bHasMin = true, bHasMax = true;
    float fMin = 1, fMax = 1;
    ParseRange("abc", bHasMin, fMin, bHasMax, fMax);
    EXPECT_FALSE(bHasMin || bHasMax);
    ParseRange(";", bHasMin, fMin, bHasMax, fMax);
    EXPECT_FALSE(bHasMin || bHasMax);
    ParseRange(" 3 ; 4", bHasMin, fMin, bHasMax, fMax);
    EXPECT_TRUE(bHasMin && bHasMax);
    EXPECT_EQ(fMin, 3.0f);
    EXPECT_EQ(fMax, 4.0f);
    ParseRange("-2.5;", bHasMin, fMin, bHasMax, fMax);
    EXPECT_TRUE(bHasMin && !bHasMax);
    EXPECT_EQ(fMin, -2.5f);
    ParseRange("x;0.1", bHasMin, fMin, bHasMax, fMax);
    EXPECT_TRUE(bHasMin && bHasMax);
    EXPECT_EQ(fMin, 0.0f);
    EXPECT_EQ(fMax, 0.1f);

    EXPECT_EQ(FindEnumIndex("Low , Medium , High", " medium"), 1);
    EXPECT_EQ(FindEnumIndex("Low , Medium , High", "HIGH\t"), 2);
    EXPECT_EQ(FindEnumIndex("Low , Medium , High", "Med"), -1);
    EXPECT_EQ(FindEnumIndex(",a", ""), 0) << "a leading comma makes an empty first choice";
    EXPECT_EQ(FindEnumIndex("a,", " "), -1) << "a trailing comma adds no choice";
    EXPECT_EQ(FindEnumIndex("a, ,b", ""), 1);
    EXPECT_EQ(FindEnumIndex("a,,b", "B"), 2);
    EXPECT_EQ(FindEnumIndex("", ""), -1);
    EXPECT_EQ(FindEnumIndex(nullptr, "a"), -1);
}

TEST(Property, KeyOrderIsTheInsertionSorts)
{
    TableModule table(kTable);
    CEffectProperty prop(table.Prop("T", kCurveNoEnd));
    // Equal times keep their order.
    for (const auto& key : {FloatKey(0.5f, 1), FloatKey(0.2f, 2), FloatKey(0.5f, 3), FloatKey(0.2f, 4)})
        ASSERT_TRUE(prop.AddKey(key));
    ExpectKeys(prop, {{0.2f, 2}, {0.2f, 4}, {0.5f, 1}, {0.5f, 3}});
    prop.RemoveKey(4);
    prop.RemoveKey(0);
    ExpectKeys(prop, {{0.2f, 4}, {0.5f, 1}, {0.5f, 3}});
    EXPECT_EQ(prop.GetKey(3), nullptr);

    // A NaN time never moves and nothing moves past it; appending all and sorting once agrees.
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    const EffectPropertyKey keys[] = {FloatKey(0.7f, 1), FloatKey(fNaN, 2), FloatKey(0.3f, 3), FloatKey(0.1f, 4)};
    CEffectProperty added(table.Prop("T", kCurveNoEnd));
    CEffectProperty appended(table.Prop("T", kCurveNoEnd));
    for (const EffectPropertyKey& key : keys)
    {
        added.AddKey(key);
        appended.AppendKey(key);
    }
    appended.SortKeys();
    for (const CEffectProperty* p : {&added, &appended})
    {
        ASSERT_EQ(p->GetNumKeys(), 4u);
        const float afValues[] = {1, 2, 4, 3};
        for (uint32_t i = 0; i < 4; ++i)
            EXPECT_EQ(p->GetKey(i)->Value.fValue, afValues[i]) << i;
    }
}

TEST(Property, NormalizeKeys)
{
    TableModule table(kTable);
    CEffectProperty plain(table.Prop("T", kPlain));
    plain.AddKey(FloatKey(0.5f, 1));
    plain.AddKey(FloatKey(0.2f, 2));
    plain.AddKey(FloatKey(0.9f, 3));
    plain.NormalizeKeys();
    ExpectKeys(plain, {{0.0f, 2}});

    CEffectProperty single(table.Prop("T", kCurve));
    single.AddKey(FloatKey(0.3f, 9));
    single.NormalizeKeys();
    ExpectKeys(single, {{0.0f, 9}, {1.0f, 7}});

    CEffectProperty empty(table.Prop("T", kCurve));
    empty.NormalizeKeys();
    ExpectKeys(empty, {{0.0f, 7}, {1.0f, 7}});

    CEffectProperty noEnd(table.Prop("T", kCurveNoEnd));
    noEnd.AddKey(FloatKey(0.4f, 5));
    noEnd.NormalizeKeys();
    ExpectKeys(noEnd, {{0.0f, 5}});

    // Times outside 0..1: the steps run literally, so a second pass changes the times again.
    CEffectProperty outside(table.Prop("T", kCurve));
    for (const auto& key : {FloatKey(-1, 1), FloatKey(2, 2), FloatKey(3, 3)})
        outside.AddKey(key);
    outside.NormalizeKeys();
    ExpectKeys(outside, {{0, 1}, {1, 3}, {2, 2}});
    outside.NormalizeKeys();
    ExpectKeys(outside, {{0, 1}, {1, 3}, {1, 2}});

    CEffectProperty marker(table.Prop("T", kMarker));
    marker.NormalizeKeys();
    EXPECT_EQ(marker.GetNumKeys(), 0u);
    EXPECT_FALSE(marker.IsWritable());
    EXPECT_FALSE(CEffectProperty(table.Prop("T", kNothing)).IsWritable());
    EXPECT_TRUE(plain.IsWritable());
}

TEST(Property, ClampAndValidate)
{
    TableModule table(kTable);
    auto clampInt = [&](int nProp, int32_t nValue) {
        CEffectProperty prop(table.Prop("T", nProp));
        EffectPropertyKey key = FloatKey(0, 0);
        key.Value.nValue = nValue;
        prop.AddKey(key);
        prop.Normalize();
        return prop.GetKey(0)->Value.nValue;
    };
    EXPECT_EQ(clampInt(kCount, 9), 5);
    EXPECT_EQ(clampInt(kCount, 0), 1);
    EXPECT_EQ(clampInt(kCount, 3), 3);
    EXPECT_EQ(clampInt(kCap, 7), 3) << "a maximum of 2.5 rounds to 3";
    EXPECT_EQ(clampInt(kFloor, -9), -3) << "a minimum of -2.5 rounds to -3";
    EXPECT_EQ(clampInt(kInverted, 3), 1) << "when the minimum exceeds the maximum, the maximum wins";

    CEffectProperty unit(table.Prop("T", kUnit));
    unit.AddKey(FloatKey(0, 1.5f));
    unit.ClampToRange();
    EXPECT_EQ(unit.GetKey(0)->Value.fValue, 1.0f);

    CEffectProperty move(table.Prop("T", kMove));
    EffectPropertyKey vector = FloatKey(0, 0);
    vector.Value.vValue[0] = 2.0f;
    vector.Value.vValue[1] = -3.0f;
    vector.Value.vValue[2] = 0.5f;
    move.AddKey(vector);
    move.ClampToRange();
    EXPECT_EQ(move.GetKey(0)->Value.vValue[0], 1.0f);
    EXPECT_EQ(move.GetKey(0)->Value.vValue[1], -1.0f);
    EXPECT_EQ(move.GetKey(0)->Value.vValue[2], 0.5f);

    CEffectProperty mode(table.Prop("T", kMode));
    EffectPropertyKey text = FloatKey(0, 0);
    std::strcpy(text.Value.szValue, " medium");
    mode.AddKey(text);
    std::strcpy(text.Value.szValue, "Ultra");
    mode.AddKey(text);
    mode.ValidateEnum();
    EXPECT_STREQ(mode.GetKey(0)->Value.szValue, " medium");
    EXPECT_STREQ(mode.GetKey(1)->Value.szValue, "Medium");
}

TEST(Property, NullDescriptionIsReported)
{
    effect_test::RecordingManager manager;
    CEffectProperty prop(nullptr);
    ASSERT_EQ(manager.m_Reports.size(), 1u);
    effect_test::ExpectReport(manager.m_Reports[0], "pDesc", "Engine/tools/Pyrix/EffectProperty", 22,
                              "CEffectProperty::CEffectProperty", "Error: Null property description used");
    prop.Normalize();
    EXPECT_EQ(prop.GetNumKeys(), 0u);
    EXPECT_FALSE(prop.IsWritable());
}
