#include "EffectProperty.h"
#include "ZQNumbers.h"
#include "effect_test_support.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>

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
const uint32_t kPlain = 0, kCurve = 1, kCurveNoEnd = 2, kCount = 3, kCap = 4, kFloor = 5, kInverted = 6,
               kUnit = 7, kMove = 8, kMode = 9, kMarker = 10, kNothing = 11;

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

namespace
{
[[maybe_unused]] std::string ToLower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
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
    for (const char* pszTwoSigns : {"--5", "+-5", "--inf", "-+5", " --nan", "+-0x1p3"})
        EXPECT_EQ(Bits(ZQAtoF(pszTwoSigns)), Bits(0.0)) << pszTwoSigns << ": one sign only";

    // Nothing in the process calls setlocale, so strtod runs in the "C" locale here.
    std::istringstream texts(
        "0|-0|1e400|-1e-400|1e-320|2.4703282292062328e-324|.5|5.|.|e5|1e|1e+|1e-5x|0x|"
        "0x.8|0x1p-1080|0X1P+3|0xffffp99999|nan|-nan(12)|nan(abc)|nan(|-inf|infin|1,5|"
        "\v\f\r 9.75|123456789012345678901234567890|0.1|3.4028235677973366e38|"
        "1.17549435e-38|0x1.fffffffffffff8p0|9007199254740993|1e308|1.8e308|NAN(0x7b)|-NAN(12)|NaN(Ab_9)|"
        "1E-400|-1E400|1E+5|0X1P-1080|0X1.8P1|0XFFP-2|INF|-INFINITY|2.5E-3|0XAP0");
    for (std::string text; std::getline(texts, text, '|');)
    {
#if defined(_WIN32)
        // MinGW-w64's strtod reads a NaN payload as hexadecimal and keeps the NaN signalling; ours
        // reads it as glibc does, on every platform.
        const std::string sLower = ToLower(text);
        if (sLower.find("nan(") != std::string::npos && text.back() == ')')
            continue;
#endif
        EXPECT_EQ(Bits(ZQAtoF(text.c_str())), Bits(std::strtod(text.c_str(), nullptr))) << text;
    }
    // Seeded texts of number characters in both letter cases.
    std::mt19937 rng(20261206);
    const std::string sAlphabet = "0123456789.+-eEpPxXaAfFnNiItTyY(_) ";
    for (int i = 0; i < 20000; ++i)
    {
        std::string text;
        for (size_t n = rng() % 12; n > 0; --n)
            text += sAlphabet[rng() % sAlphabet.size()];
#if !defined(_WIN32) // MinGW-w64's strtod is no reference for malformed texts
        EXPECT_EQ(Bits(ZQAtoF(text.c_str())), Bits(std::strtod(text.c_str(), nullptr))) << text;
#endif
    }
}

TEST(PropertyHelpers, RoundParseAndFindEnum)
{
    EXPECT_EQ(RoundToInt(2.5f), 3);
    EXPECT_EQ(RoundToInt(-2.5f), -3);
    EXPECT_EQ(RoundToInt(2.4f), 2);
    EXPECT_EQ(RoundToInt(0.49999997f), 1) << "the sum rounds to 1.0f in float";
    EXPECT_EQ(RoundToInt(-0.4f), 0);
    EXPECT_EQ(RoundToInt(2147483520.0f), 2147483520);
    EXPECT_EQ(RoundToInt(2147483648.0f), INT_MIN);
    EXPECT_EQ(RoundToInt(-3e9f), INT_MIN);
    EXPECT_EQ(RoundToInt(std::numeric_limits<float>::quiet_NaN()), INT_MIN);

    const auto range = [](const char* pszParams)
    {
        bool bHasMin = true, bHasMax = true;
        float fMin = 1, fMax = 1;
        ParseRange(pszParams, bHasMin, fMin, bHasMax, fMax);
        return (bHasMin ? std::to_string(fMin) : "-") + ";" + (bHasMax ? std::to_string(fMax) : "-");
    };
    EXPECT_EQ(range("abc"), "-;-");
    EXPECT_EQ(range(";"), "-;-");
    EXPECT_EQ(range(" 3 ; 4"), "3.000000;4.000000");
    EXPECT_EQ(range("-2.5;"), "-2.500000;-");
    EXPECT_EQ(range("x;0.25"), "0.000000;0.250000");

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
    CTableModule table(kTable);
    CEffectProperty prop(table.Prop("T", kCurveNoEnd));
    // Equal times keep their order.
    for (const auto& key : {FloatKey(0.5f, 1), FloatKey(0.2f, 2), FloatKey(0.5f, 3), FloatKey(0.2f, 4)})
        ASSERT_TRUE(prop.AddKey(key));
    ExpectKeys(prop, {{0.2f, 2}, {0.2f, 4}, {0.5f, 1}, {0.5f, 3}});
    prop.RemoveKey(4);
    prop.RemoveKey(0);
    ExpectKeys(prop, {{0.2f, 4}, {0.5f, 1}, {0.5f, 3}});
    EXPECT_FALSE(prop.GetKey(3).has_value());

    // A NaN time never moves and nothing moves past it; appending all and sorting once agrees.
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    CEffectProperty added(table.Prop("T", kCurveNoEnd)), appended(table.Prop("T", kCurveNoEnd));
    for (const EffectPropertyKey& key :
         {FloatKey(0.7f, 1), FloatKey(fNaN, 2), FloatKey(0.3f, 3), FloatKey(0.1f, 4)})
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
    CTableModule table(kTable);
    const auto normalized = [&](uint32_t nProp, std::initializer_list<EffectPropertyKey> keys)
    {
        auto pProp = std::make_unique<CEffectProperty>(table.Prop("T", nProp));
        for (const EffectPropertyKey& key : keys)
            pProp->AddKey(key);
        pProp->NormalizeKeys();
        return pProp;
    };
    ExpectKeys(*normalized(kPlain, {FloatKey(0.5f, 1), FloatKey(0.2f, 2), FloatKey(0.9f, 3)}), {{0.0f, 2}});
    ExpectKeys(*normalized(kCurve, {FloatKey(0.3f, 9)}), {{0.0f, 9}, {1.0f, 7}});
    ExpectKeys(*normalized(kCurve, {}), {{0.0f, 7}, {1.0f, 7}});
    ExpectKeys(*normalized(kCurveNoEnd, {FloatKey(0.4f, 5)}), {{0.0f, 5}});
    // Times outside 0..1: the steps run literally, so a second pass changes the times again.
    auto pOutside = normalized(kCurve, {FloatKey(-1, 1), FloatKey(2, 2), FloatKey(3, 3)});
    ExpectKeys(*pOutside, {{0, 1}, {1, 3}, {2, 2}});
    pOutside->NormalizeKeys();
    ExpectKeys(*pOutside, {{0, 1}, {1, 3}, {1, 2}});

    auto pMarker = normalized(kMarker, {});
    EXPECT_EQ(pMarker->GetNumKeys(), 0u);
    EXPECT_FALSE(pMarker->IsWritable());
    EXPECT_FALSE(normalized(kNothing, {})->IsWritable());
    EXPECT_TRUE(normalized(kPlain, {})->IsWritable());
}

TEST(Property, ClampAndValidate)
{
    CTableModule table(kTable);
    const auto clamped = [&](uint32_t nProp, EffectPropValue value)
    {
        CEffectProperty prop(table.Prop("T", nProp));
        EffectPropertyKey key = FloatKey(0, 0);
        key.Value = value;
        prop.AddKey(key);
        prop.Normalize();
        return prop.GetKey(0)->Value;
    };
    const auto intValue = [](int32_t n)
    {
        EffectPropValue value = {};
        value.nValue = n;
        return value;
    };
    EXPECT_EQ(clamped(kCount, intValue(9)).nValue, 5);
    EXPECT_EQ(clamped(kCount, intValue(0)).nValue, 1);
    EXPECT_EQ(clamped(kCount, intValue(3)).nValue, 3);
    EXPECT_EQ(clamped(kCap, intValue(7)).nValue, 3) << "a maximum of 2.5 rounds to 3";
    EXPECT_EQ(clamped(kFloor, intValue(-9)).nValue, -3) << "a minimum of -2.5 rounds to -3";
    EXPECT_EQ(clamped(kInverted, intValue(3)).nValue, 1) << "the maximum wins over a greater minimum";
    EffectPropValue value = {};
    value.fValue = 1.5f;
    EXPECT_EQ(clamped(kUnit, value).fValue, 1.0f);
    const float afVector[3] = {2.0f, -3.0f, 0.5f};
    std::memcpy(value.vValue, afVector, sizeof(afVector));
    const EffectPropValue vector = clamped(kMove, value);
    EXPECT_EQ(std::vector<float>(vector.vValue, vector.vValue + 3), (std::vector<float>{1, -1, 0.5f}));

    std::strcpy(value.szValue, " medium");
    EXPECT_STREQ(clamped(kMode, value).szValue, " medium");
    std::strcpy(value.szValue, "Ultra");
    EXPECT_STREQ(clamped(kMode, value).szValue, "Medium");
}

TEST(Property, ValuesAreKeptAsTheDescribedTypeViewsThem)
{
    CTableModule table(kTable);
    const auto roundTrip = [&](uint32_t nProp, const EffectPropValue& value)
    {
        CEffectProperty prop(table.Prop("T", nProp));
        EffectPropertyKey key = FloatKey(0.5f, 0);
        key.Value = value;
        EXPECT_TRUE(prop.AppendKey(key));
        return prop.GetKey(0)->Value;
    };
    // Text read as a Float: the first four bytes, "abcd"; nothing of the rest is kept.
    EffectPropValue text = {};
    std::strcpy(text.szValue, "abcdefgh");
    EffectPropValue asFloat = roundTrip(kUnit, text);
    EXPECT_EQ(asFloat.nValue, 0x64636261);
    EXPECT_EQ(asFloat.aBytes[4], 0);
    // A Vector keeps twelve bytes; a String keeps its text up to the terminator.
    EffectPropValue vector = {};
    const float afVector[3] = {0.25f, -1.0f, 0.5f};
    std::memcpy(vector.vValue, afVector, sizeof(afVector));
    vector.aBytes[12] = 0x55;
    const EffectPropValue keptVector = roundTrip(kMove, vector);
    EXPECT_EQ(std::memcmp(keptVector.vValue, afVector, sizeof(afVector)), 0);
    EXPECT_EQ(keptVector.aBytes[12], 0);
    text.aBytes[200] = 'z';
    const EffectPropValue keptText = roundTrip(kMode, text);
    EXPECT_STREQ(keptText.szValue, "abcdefgh");
    EXPECT_EQ(keptText.aBytes[200], 0);
    // A type without a value view keeps the whole record.
    EXPECT_EQ(roundTrip(kMarker, text).aBytes[200], 'z');

    // Texts of every length up to a record without terminator, in one property; replacing a short
    // text by a longer one keeps the rest.
    CEffectProperty mode(table.Prop("T", kMode));
    EffectPropertyKey key = FloatKey(0, 0);
    for (uint32_t nLength : {0u, 3u, 4u, 255u, 1u})
    {
        std::memset(key.Value.szValue, 0, sizeof(key.Value.szValue));
        std::memset(key.Value.szValue, 'a' + static_cast<int>(nLength % 26), nLength);
        ASSERT_TRUE(mode.AppendKey(key));
    }
    std::memset(key.Value.szValue, 'q', sizeof(key.Value.szValue)); // 256 bytes, no terminator
    ASSERT_TRUE(mode.SetKey(0, key));
    ASSERT_EQ(mode.GetNumKeys(), 5u);
    EXPECT_EQ(std::memcmp(mode.GetKey(0)->Value.szValue, key.Value.szValue, 256), 0);
    EXPECT_EQ(std::string(mode.GetKeyText(0)), std::string(256, 'q'));
    EXPECT_EQ(std::string(mode.GetKeyText(1)), "ddd");
    EXPECT_EQ(std::string(mode.GetKeyText(2)), "eeee");
    EXPECT_EQ(std::string(mode.GetKeyText(3)), std::string(255, 'v'));
    mode.RemoveKey(2);
    EXPECT_EQ(std::string(mode.GetKeyText(2)), std::string(255, 'v'));
    EXPECT_EQ(std::string(mode.GetKeyText(3)), "b");
    EXPECT_FALSE(mode.SetKey(4, key));
}

// Normalize remembers a property it left in normal form and skips it; the steps themselves never
// skip. Both must leave the same keys, pass after pass, whatever the keys were.
TEST(Property, RememberedNormalFormChangesNothing)
{
    CTableModule table(kTable);
    const float fNaN = std::numeric_limits<float>::quiet_NaN();
    const float afTimes[] = {-1.0f, -0.0f, 0.0f, 0.3f, 0.5f, 1.0f, 1.5f, 2.0f, fNaN};
    const char* const apszTexts[] = {"Low", " high", "Ultra", ""};
    std::mt19937 rng(5150);
    const auto randomKey = [&](uint32_t nProp)
    {
        EffectPropertyKey key = FloatKey(afTimes[rng() % 9], 0);
        if (nProp == kMode)
            std::strcpy(key.Value.szValue, apszTexts[rng() % 4]);
        else if (nProp == kCount || nProp == kInverted)
            key.Value.nValue = static_cast<int32_t>(rng() % 11) - 3;
        else
            for (float& f : key.Value.vValue)
                f = static_cast<float>(static_cast<int>(rng() % 9) - 4) * 0.5f;
        return key;
    };
    const auto sameKeys = [](const CEffectProperty& a, const CEffectProperty& b)
    {
        if (a.GetNumKeys() != b.GetNumKeys())
            return false;
        for (uint32_t i = 0; i < a.GetNumKeys(); ++i)
        {
            const EffectPropertyKey ka = *a.GetKey(i), kb = *b.GetKey(i);
            if (std::memcmp(&ka, &kb, sizeof(ka)) != 0)
                return false;
        }
        return true;
    };
    const uint32_t anProps[] = {kPlain, kCurve, kCurveNoEnd, kCount, kInverted, kUnit, kMove, kMode, kMarker};
    for (int nCase = 0; nCase < 3000; ++nCase)
    {
        const uint32_t nProp = anProps[rng() % 9];
        CEffectProperty memo(table.Prop("T", nProp)), steps(table.Prop("T", nProp));
        for (uint32_t n = rng() % 5; n > 0; --n)
        {
            const EffectPropertyKey key = randomKey(nProp);
            memo.AppendKey(key);
            steps.AppendKey(key);
        }
        for (int nPass = 0; nPass < 4; ++nPass)
        {
            if (nPass == 2 && rng() % 2 && steps.GetNumKeys() > 0)
            {
                const EffectPropertyKey key = randomKey(nProp);
                const uint32_t nAt = rng() % steps.GetNumKeys();
                memo.SetKey(nAt, key);
                steps.SetKey(nAt, key);
            }
            memo.Normalize();
            steps.NormalizeKeys();
            steps.ClampToRange();
            steps.ValidateEnum();
            ASSERT_TRUE(sameKeys(memo, steps)) << "case " << nCase << " pass " << nPass;
        }
    }
}

TEST(Property, NullDescriptionIsReported)
{
    CRecordingTripwire tripwire;
    CEffectProperty prop(nullptr);
    EXPECT_EQ(tripwire.Take(&Report::Full),
              Texts{"pDesc|Engine/tools/Pyrix/EffectProperty|22|"
                    "CEffectProperty::CEffectProperty|Error: Null property description used"});
    prop.Normalize();
    EXPECT_EQ(prop.GetNumKeys(), 0u);
    EXPECT_FALSE(prop.IsWritable());
}

TEST(EnumChoices, ListedInTheLoadersOrderWithBlanksTrimmed)
{
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), EnumChoiceList(" A , B\t,\vC,"));
    EXPECT_EQ((std::vector<std::string>{"", ""}), EnumChoiceList(",,"));
    EXPECT_TRUE(EnumChoiceList("").empty());
    // Every listed choice is one FindEnumIndex finds at that position.
    const std::vector<std::string> choices = EnumChoiceList("Opaque, Additive ,\fMultiply");
    for (size_t i = 0; i < choices.size(); ++i)
        EXPECT_EQ(static_cast<int>(i), FindEnumIndex("Opaque, Additive ,\fMultiply", choices[i].c_str()));
}
