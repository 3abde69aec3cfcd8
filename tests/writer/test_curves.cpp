#include "FunctionCurveData.h"
#include "effect_test_support.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace
{
const float kNaN = std::numeric_limits<float>::quiet_NaN();

EffectPropDesc CurveDesc(uint32_t eType)
{
    EffectPropDesc desc;
    std::memset(&desc, 0, sizeof(desc));
    std::strcpy(desc.szName, "Curve");
    desc.eType = eType;
    desc.m_bFunctionCurve = 1;
    return desc;
}

EffectPropertyKey Key(float fTime)
{
    EffectPropertyKey key;
    std::memset(&key, 0, sizeof(key));
    key.fTime = fTime;
    return key;
}

bool ValuesEqual(uint32_t eType, const EffectPropValue& a, const EffectPropValue& b)
{
    switch (eType)
    {
    case ePT_String:
        return std::strcmp(a.szValue, b.szValue) == 0;
    case ePT_Int:
        return a.nValue == b.nValue;
    case ePT_Color:
        return a.nColor == b.nColor;
    case ePT_Float:
        return a.fValue == b.fValue;
    case ePT_Vector:
        return a.vValue[0] == b.vValue[0] && a.vValue[1] == b.vValue[1] && a.vValue[2] == b.vValue[2];
    default:
        return true;
    }
}

// The reference: every entry in order, the first of the same type and key count that is the
// property itself or equal key by key.
int LinearFind(const std::vector<const CEffectProperty*>& entries, const CEffectProperty& prop)
{
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const CEffectProperty& entry = *entries[i];
        if (entry.GetDesc()->eType != prop.GetDesc()->eType || entry.GetNumKeys() != prop.GetNumKeys())
            continue;
        if (&entry == &prop)
            return static_cast<int>(i);
        bool bEqual = true;
        for (uint32_t k = 0; k < prop.GetNumKeys() && bEqual; ++k)
            bEqual = entry.GetKey(k)->fTime == prop.GetKey(k)->fTime &&
                     ValuesEqual(prop.GetDesc()->eType, entry.GetKey(k)->Value, prop.GetKey(k)->Value);
        if (bEqual)
            return static_cast<int>(i);
    }
    return -1;
}

// Random keys from small pools, so that equal curves, signed zeros and NaNs are frequent.
class CurveMaker
{
public:
    float Number()
    {
        const float aPool[] = {0.0f, -0.0f, 0.5f, 1.0f, 0.0f, -0.0f, 1.0f, kNaN};
        return aPool[m_Random() % 8];
    }
    void Fill(uint32_t eType, EffectPropertyKey& key)
    {
        key = Key(Number());
        switch (eType)
        {
        case ePT_String:
        {
            const char* const aTexts[] = {"a", "A", ""};
            std::strcpy(key.Value.szValue, aTexts[m_Random() % 3]);
        }
        break;
        case ePT_Int:
        case ePT_Color:
            key.Value.nColor = m_Random() % 2;
            break;
        case ePT_Float:
            key.Value.fValue = Number();
            break;
        case ePT_Vector:
            for (float& f : key.Value.vValue)
                f = Number();
            break;
        default:
            key.Value.nColor = m_Random(); // other types: the value plays no part
            break;
        }
    }
    void Mutate(CEffectProperty& prop)
    {
        const uint32_t nKeys = prop.GetNumKeys();
        const uint32_t nChoice = m_Random() % 4;
        if (nChoice == 0 || nKeys == 0)
        {
            EffectPropertyKey key;
            Fill(prop.GetDesc()->eType, key);
            prop.AppendKey(key);
        }
        else if (nChoice == 1)
            prop.RemoveKey(m_Random() % nKeys);
        else
            Fill(prop.GetDesc()->eType, *prop.GetKey(m_Random() % nKeys));
    }
    std::mt19937 m_Random{20240611u};
};
} // namespace

TEST(FunctionCurveData, IndexedLookupMatchesLinearScan)
{
    effect_test::RecordingManager reports; // type 8 comparisons report and go on
    const uint32_t aTypes[] = {ePT_Float, ePT_Int, ePT_Color, ePT_Vector, ePT_String, ePT_NoValue};
    std::vector<EffectPropDesc> descs;
    for (uint32_t eType : aTypes)
        descs.push_back(CurveDesc(eType));

    CurveMaker maker;
    std::vector<std::unique_ptr<CEffectProperty>> pool;
    for (int i = 0; i < 3000; ++i)
    {
        const EffectPropDesc& desc = descs[maker.m_Random() % descs.size()];
        pool.push_back(std::make_unique<CEffectProperty>(&desc));
        for (uint32_t k = maker.m_Random() % 4; k > 0; --k)
        {
            EffectPropertyKey key;
            maker.Fill(desc.eType, key);
            pool.back()->AppendKey(key);
        }
    }

    CFunctionCurveData curves;
    std::vector<const CEffectProperty*> entries;
    size_t nShared = 0;
    // Properties are met several times; the later rounds change properties in place first, as
    // normalising does while the file is written.
    for (int nStep = 0; nStep < 12000; ++nStep)
    {
        if (nStep >= 6000)
        {
            CEffectProperty& changed = *pool[maker.m_Random() % pool.size()];
            maker.Mutate(changed);
            curves.UpdateProperty(&changed);
        }
        const CEffectProperty& prop = *pool[maker.m_Random() % pool.size()];
        const int nExpected = LinearFind(entries, prop);
        ASSERT_EQ(curves.FindProperty(&prop), nExpected) << "step " << nStep;
        if (nExpected == -1)
        {
            curves.AddProperty(&prop);
            entries.push_back(&prop);
        }
        else if (entries[nExpected] != &prop)
            ++nShared;
    }
    EXPECT_GT(nShared, 1000u); // the pools make sharing common
    EXPECT_EQ(curves.GetNumEntries(), entries.size());
}

TEST(FunctionCurveData, EqualityRules)
{
    effect_test::RecordingManager reports;
    const EffectPropDesc floatDesc = CurveDesc(ePT_Float), intDesc = CurveDesc(ePT_Int),
                         colorDesc = CurveDesc(ePT_Color), stringDesc = CurveDesc(ePT_String);
    auto make = [](const EffectPropDesc& desc, std::initializer_list<EffectPropertyKey> keys)
    {
        auto p = std::make_unique<CEffectProperty>(&desc);
        for (const EffectPropertyKey& key : keys)
            p->AppendKey(key);
        return p;
    };
    EffectPropertyKey plusZero = Key(0.0f), minusZero = Key(-0.0f), nan = Key(0.0f), one = Key(0.0f),
                      a = Key(1.0f), upperA = Key(1.0f);
    minusZero.Value.fValue = -0.0f;
    nan.Value.fValue = kNaN;
    one.Value.nValue = 1;
    std::strcpy(a.Value.szValue, "a");
    std::strcpy(upperA.Value.szValue, "A");

    auto zero = make(floatDesc, {plusZero}), negZero = make(floatDesc, {minusZero}),
         zeroTwice = make(floatDesc, {plusZero, plusZero});
    auto nan1 = make(floatDesc, {nan}), nan2 = make(floatDesc, {nan});
    auto asInt = make(intDesc, {one}), asColor = make(colorDesc, {one});
    auto lower = make(stringDesc, {a}), upper = make(stringDesc, {upperA});

    CFunctionCurveData curves;
    for (const CEffectProperty* p : {zero.get(), zeroTwice.get(), nan1.get(), asInt.get(), lower.get()})
    {
        ASSERT_EQ(curves.FindProperty(p), -1);
        curves.AddProperty(p);
    }
    EXPECT_EQ(curves.FindProperty(negZero.get()), 0); // -0.0 equals +0.0
    EXPECT_EQ(curves.FindProperty(nan1.get()), 2);    // only identity finds a NaN curve
    EXPECT_EQ(curves.FindProperty(nan2.get()), -1);
    EXPECT_EQ(curves.FindProperty(asColor.get()), -1); // same bits, other type
    EXPECT_EQ(curves.FindProperty(upper.get()), -1);   // strings compare case-sensitively
    EXPECT_TRUE(reports.m_Reports.empty());

    const EffectPropDesc plainDesc = []
    {
        EffectPropDesc d = CurveDesc(ePT_Float);
        d.m_bFunctionCurve = 0;
        return d;
    }();
    CEffectProperty plain(&plainDesc);
    EXPECT_EQ(curves.FindProperty(&plain), -1);
    EXPECT_EQ(curves.FindProperty(nullptr), -1);
    ASSERT_EQ(reports.m_Reports.size(), 2u);
    effect_test::ExpectReport(reports.m_Reports[0], "pProp && pProp->GetDesc()->m_bFunctionCurve",
                              "Engine/tools/Pyrix/PackedEffectWriter", 227,
                              "CFunctionCurveData::FindProperty",
                              "Error: Invalid property passed into the function curve data object");
}

TEST(FunctionCurveData, ValuesOfOtherTypesAreReportedAndCountEqual)
{
    effect_test::RecordingManager reports;
    const EffectPropDesc desc = CurveDesc(ePT_NoValue);
    CEffectProperty first(&desc), second(&desc);
    EffectPropertyKey key = Key(0.5f);
    key.Value.nValue = 1;
    first.AppendKey(key);
    key.Value.nValue = 2;
    second.AppendKey(key);

    CFunctionCurveData curves;
    curves.AddProperty(&first);
    EXPECT_EQ(curves.FindProperty(&second), 0);
    ASSERT_EQ(reports.m_Reports.size(), 1u);
    effect_test::ExpectReport(reports.m_Reports[0], " [Forced Assert]",
                              "Engine/tools/Pyrix/PackedEffectWriter", 298,
                              "CFunctionCurveData::FindProperty", "Error: Unexpected property type");
}
