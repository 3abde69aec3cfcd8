#include "FunctionCurveData.h"
#include "test_support.h"

#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>

namespace
{
const float kNaN = std::numeric_limits<float>::quiet_NaN();

EffectPropDesc CurveDesc(uint32_t eType, bool bCurve = true)
{
    EffectPropDesc desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.eType = eType;
    desc.m_bFunctionCurve = bCurve;
    return desc;
}

bool ValuesEqual(uint32_t eType, const EffectPropValue& a, const EffectPropValue& b)
{
    switch (eType)
    {
    case ePT_String:
        return std::strcmp(a.szValue, b.szValue) == 0;
    case ePT_Int:
    case ePT_Color:
        return a.nValue == b.nValue;
    case ePT_Float:
        return a.fValue == b.fValue;
    case ePT_Vector:
        return a.vValue[0] == b.vValue[0] && a.vValue[1] == b.vValue[1] && a.vValue[2] == b.vValue[2];
    default:
        return true;
    }
}

// The reference: every entry in order, the first of the same type and key count that is the
// property itself or equal key by key. Each pair of equal times of a type without comparable
// values adds a report.
int LinearFind(const std::vector<const CEffectProperty*>& entries, const CEffectProperty& prop,
               size_t& nReports)
{
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const CEffectProperty& entry = *entries[i];
        if (entry.GetDesc()->eType != prop.GetDesc()->eType || entry.GetNumKeys() != prop.GetNumKeys())
            continue;
        bool bEqual = true;
        for (uint32_t k = 0; k < prop.GetNumKeys() && bEqual && &entry != &prop; ++k)
        {
            bEqual = entry.GetKey(k)->fTime == prop.GetKey(k)->fTime;
            nReports += bEqual && prop.GetDesc()->eType == ePT_NoValue;
            bEqual =
                bEqual && ValuesEqual(prop.GetDesc()->eType, entry.GetKey(k)->Value, prop.GetKey(k)->Value);
        }
        if (bEqual)
            return static_cast<int>(i);
    }
    return -1;
}

// Keys from small pools, so that equal curves, signed zeros and NaNs are frequent.
EffectPropertyKey RandomKey(std::mt19937& random, uint32_t eType)
{
    const float aNumbers[] = {0.0f, -0.0f, 0.5f, 1.0f, 0.0f, -0.0f, 1.0f, kNaN};
    const char* const aTexts[] = {"a", "A", ""};
    EffectPropertyKey key;
    std::memset(&key, 0, sizeof(key));
    key.fTime = aNumbers[random() % 8];
    if (eType == ePT_String)
        std::strcpy(key.Value.szValue, aTexts[random() % 3]);
    else if (eType == ePT_Float || eType == ePT_Vector)
        for (float& f : key.Value.vValue)
            f = aNumbers[random() % 8];
    else
        key.Value.nValue = random() % 2; // for other types the value plays no part
    return key;
}
} // namespace

TEST(FunctionCurveData, IndexedLookupMatchesLinearScan)
{
    CRecordingTripwire tripwire;
    const uint32_t aTypes[] = {ePT_Float, ePT_Int, ePT_Color, ePT_Vector, ePT_String, ePT_NoValue};
    std::vector<EffectPropDesc> descs;
    for (uint32_t eType : aTypes)
        descs.push_back(CurveDesc(eType));

    std::mt19937 random(20240611u);
    std::vector<std::unique_ptr<CEffectProperty>> pool;
    for (int i = 0; i < 3000; ++i)
    {
        pool.push_back(std::make_unique<CEffectProperty>(&descs[random() % descs.size()]));
        for (uint32_t k = random() % 4; k > 0; --k)
            pool.back()->AppendKey(RandomKey(random, pool.back()->GetDesc()->eType));
    }

    CFunctionCurveData curves;
    std::vector<const CEffectProperty*> entries;
    size_t nShared = 0, nAllReports = 0;
    // Properties are met several times; in the second half properties change in place first, as
    // normalising does while the file is written.
    for (int nStep = 0; nStep < 12000; ++nStep)
    {
        if (nStep >= 6000)
        {
            CEffectProperty& changed = *pool[random() % pool.size()];
            const uint32_t nKeys = changed.GetNumKeys();
            if (nKeys > 0 && random() % 2)
            {
                const EffectPropertyKey key = RandomKey(random, changed.GetDesc()->eType);
                changed.SetKey(random() % nKeys, key);
            }
            else if (nKeys > 0 && random() % 2)
                changed.RemoveKey(random() % nKeys);
            else
                changed.AppendKey(RandomKey(random, changed.GetDesc()->eType));
            curves.UpdateProperty(&changed);
        }
        const CEffectProperty& prop = *pool[random() % pool.size()];
        size_t nReports = 0;
        const int nExpected = LinearFind(entries, prop, nReports);
        ASSERT_EQ(curves.FindProperty(&prop), nExpected) << "step " << nStep;
        ASSERT_EQ(tripwire.m_Reports.size(), nReports) << "step " << nStep;
        nAllReports += nReports;
        if (nReports > 0)
        {
            ASSERT_EQ(tripwire.Take(&Report::Full)[0],
                      " [Forced Assert]|Engine/tools/Pyrix/PackedEffectWriter|298|"
                      "CFunctionCurveData::FindProperty|Error: Unexpected property type");
        }
        if (nExpected == -1)
        {
            curves.AddProperty(&prop);
            entries.push_back(&prop);
        }
        nShared += nExpected != -1 && entries[nExpected] != &prop;
    }
    EXPECT_GT(nShared, 1000u);
    EXPECT_EQ(curves.GetNumEntries(), entries.size());
    EXPECT_GT(nAllReports, 100u); // type 8 values were compared: reported, and counted as equal
}

TEST(FunctionCurveData, EqualityRules)
{
    CRecordingTripwire tripwire;
    const EffectPropDesc floatDesc = CurveDesc(ePT_Float), intDesc = CurveDesc(ePT_Int),
                         colorDesc = CurveDesc(ePT_Color), plainDesc = CurveDesc(ePT_Float, false);
    CEffectProperty zero(&floatDesc), minusZero(&floatDesc), nan(&floatDesc), nanCopy(&floatDesc),
        asInt(&intDesc), asColor(&colorDesc), plain(&plainDesc);
    EffectPropertyKey key{};
    zero.AppendKey(key);
    key.Value.fValue = -0.0f;
    minusZero.AppendKey(key);
    key.Value.fValue = kNaN;
    nan.AppendKey(key);
    nanCopy.AppendKey(key);
    key.Value.nValue = 1;
    asInt.AppendKey(key);
    asColor.AppendKey(key);

    CFunctionCurveData curves;
    for (const CEffectProperty* p : {&zero, &nan, &asInt})
        curves.AddProperty(p);
    EXPECT_EQ(curves.FindProperty(&minusZero), 0); // -0.0 equals +0.0
    EXPECT_EQ(curves.FindProperty(&nan), 1);       // only identity finds a NaN curve
    EXPECT_EQ(curves.FindProperty(&nanCopy), -1);
    EXPECT_EQ(curves.FindProperty(&asColor), -1); // same bits, other type
    EXPECT_TRUE(tripwire.m_Reports.empty());

    EXPECT_EQ(curves.FindProperty(&plain), -1);
    EXPECT_EQ(tripwire.Take(&Report::Full),
              Texts{"pProp && pProp->GetDesc()->m_bFunctionCurve|Engine/tools/Pyrix/PackedEffectWriter|227|"
                    "CFunctionCurveData::FindProperty|Error: Invalid property passed into the function curve "
                    "data object"});
}

// The flat index behind the curve lookups, against a standard map: inserts, overwrites and
// removals in a small key range, so that runs of probed slots form, wrap around and are broken.
TEST(FlatIndex, AgreesWithAStandardMap)
{
    CFlatIndex index;
    std::map<uint64_t, uint32_t> model;
    std::mt19937 rng(7);
    for (uint32_t nStep = 0; nStep < 40000; ++nStep)
    {
        const uint64_t nKey = rng() % 3000 * 0x10001ull; // spread over the table's home slots
        if (rng() % 3 == 0)
        {
            index.Erase(nKey);
            model.erase(nKey);
        }
        else
        {
            index.Set(nKey, nStep);
            model[nKey] = nStep;
        }
        if (nStep % 4000 == 3999)
        {
            for (uint64_t k = 0; k < 3000; ++k)
            {
                const auto it = model.find(k * 0x10001ull);
                ASSERT_EQ(index.Find(k * 0x10001ull), it == model.end() ? CFlatIndex::NONE : it->second) << k;
            }
        }
    }
}
