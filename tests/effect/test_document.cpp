#include "EffectDocument.h"
#include "effect_test_support.h"

#include <cstring>

namespace
{
const char* const kTable = "type|Spark\n"
                           "prop|Size|5||0;|1\n"
                           "prop|Glow|5||;|2\n"
                           "prop|Speed|5|c||3\n"
                           "type|Smoke\n"
                           "prop|Size|5||0;|4\n";

// The track's placing procedure, written out directly: append, bubble passes until nothing moves, then
// fit the new key between its neighbours.
struct RefKey
{
    int nTag;
    int32_t nStart, nEnd;
};

void ReferenceSortAndFit(std::vector<RefKey>& keys, int nTag)
{
    for (bool bExchanged = true; bExchanged;)
    {
        bExchanged = false;
        for (size_t i = 0; i + 1 < keys.size(); ++i)
        {
            if (keys[i].nStart > keys[i + 1].nStart)
            {
                std::swap(keys[i], keys[i + 1]);
                bExchanged = true;
            }
        }
    }
    for (size_t i = 0; i < keys.size(); ++i)
    {
        if (keys[i].nTag != nTag)
            continue;
        RefKey& key = keys[i];
        if (i == 0 && key.nStart < 0)
            key.nStart = 0;
        else if (i > 0 && key.nStart < keys[i - 1].nEnd)
            key.nStart = keys[i - 1].nEnd;
        if (i + 1 < keys.size() && key.nEnd > keys[i + 1].nStart)
            key.nEnd = keys[i + 1].nStart;
    }
}

CEffectKey* NewKey(const EffectTypeDesc* pType, int nTag, int32_t nStart, int32_t nEnd)
{
    CEffectKey* pKey = new CEffectKey(pType);
    pKey->m_nID = nTag;
    pKey->m_nStartTime = nStart;
    pKey->m_nEndTime = nEnd;
    return pKey;
}

// A key or prefab that notes its destruction with its letter.
template <class TSet>
class CLoggedSet : public TSet
{
public:
    CLoggedSet(const EffectTypeDesc* pType, std::string& sLog, char cLetter)
        : TSet(pType), m_sLog(sLog), m_cLetter(cLetter)
    {
    }
    ~CLoggedSet() override { m_sLog += m_cLetter; }

private:
    std::string& m_sLog;
    char m_cLetter;
};

void ExpectTrack(const CEffectTrack& track, const std::vector<RefKey>& expected)
{
    ASSERT_EQ(track.GetCount(), expected.size());
    for (uint32_t i = 0; i < expected.size(); ++i)
    {
        const CEffectKey* pKey = track.GetAt(i);
        EXPECT_EQ(pKey->m_nID, expected[i].nTag) << "position " << i;
        EXPECT_EQ(pKey->m_nStartTime, expected[i].nStart) << "position " << i;
        EXPECT_EQ(pKey->m_nEndTime, expected[i].nEnd) << "position " << i;
    }
    EXPECT_EQ(track.GetAt(static_cast<uint32_t>(expected.size())), nullptr);
}
} // namespace

TEST(Track, SortAndFitExamplesAndTheBubblePasses)
{
    CTableModule table(kTable);
    const EffectTypeDesc* pType = table.Type("Spark");
    CEffectTrack track;
    track.AddKey(NewKey(pType, 1, 0, 500));
    track.AddKey(NewKey(pType, 2, 200, 900));
    ExpectTrack(track, {{1, 0, 500}, {2, 500, 900}});

    CEffectTrack first;
    first.AddKey(NewKey(pType, 1, -100, 300));
    ExpectTrack(first, {{1, 0, 300}});

    CEffectTrack later;
    later.AddKey(NewKey(pType, 1, 1500, 2000));
    later.AddKey(NewKey(pType, 2, 1000, 2000));
    ExpectTrack(later, {{2, 1000, 1500}, {1, 1500, 2000}});

    // Random tracks placed as the bubble passes place them.
    std::mt19937 random(12345);
    for (int nRound = 0; nRound < 300; ++nRound)
    {
        CEffectTrack track;
        std::vector<RefKey> reference;
        const int nKeys = 1 + static_cast<int>(random() % 40);
        const int32_t nSpan = 1 + static_cast<int32_t>(random() % 60);
        for (int nTag = 0; nTag < nKeys; ++nTag)
        {
            const int32_t nStart = static_cast<int32_t>(random() % (2 * nSpan)) - nSpan / 2;
            const int32_t nEnd = nStart + static_cast<int32_t>(random() % nSpan) - nSpan / 4;
            reference.push_back({nTag, nStart, nEnd});
            CEffectKey* pKey = NewKey(pType, nTag, nStart, nEnd);
            // Some rounds append behind the track's back, which leaves it unsorted for a while.
            if (nRound % 5 == 0 && random() % 4 == 0)
            {
                track.AddTail(pKey);
                continue;
            }
            track.AddKey(pKey);
            ReferenceSortAndFit(reference, nTag);
        }
        SCOPED_TRACE(nRound);
        ExpectTrack(track, reference);
        if (HasFatalFailure() || HasNonfatalFailure())
            return;
    }
}

TEST(PropertySet, InheritanceThroughAPrefab)
{
    CTableModule table(kTable);
    const EffectTypeDesc* pSpark = table.Type("Spark");
    CEffectPropertySet prefab(pSpark);
    prefab.FillMissingProperties();
    CEffectKey key(pSpark);
    ASSERT_TRUE(key.SetParent(&prefab));
    CEffectProperty* pOwn = new CEffectProperty(&pSpark->pProps[1]);
    ASSERT_TRUE(key.SetProperty(pOwn));
    key.FillMissingProperties();
    EXPECT_EQ(key.GetPropertyDirect(0), nullptr) << "the root filled is the prefab";
    EXPECT_EQ(key.GetProperty(0), prefab.GetPropertyDirect(0));
    EXPECT_EQ(key.GetProperty(1), pOwn);
    EXPECT_EQ(key.GetProperty(2), prefab.GetPropertyDirect(2));
    EXPECT_EQ(prefab.GetProperty(2)->GetKey(0)->Value.fValue, 3.0f);

    // A second property for the same slot replaces (and destroys) the first.
    CEffectProperty* pSecond = new CEffectProperty(&pSpark->pProps[1]);
    EXPECT_TRUE(key.SetProperty(pSecond));
    EXPECT_EQ(key.GetProperty(1), pSecond);

    // A description of another type has no slot here; the caller keeps the property.
    CEffectProperty foreign(&table.Type("Smoke")->pProps[0]);
    EXPECT_FALSE(key.SetProperty(&foreign));
    EXPECT_FALSE(key.SetProperty(nullptr));
    EXPECT_FALSE(prefab.SetParent(&key)) << "a set never becomes its own ancestor";

    // A prefab of another type is refused; without a parent the key fills every slot itself.
    CEffectPropertySet smoke(table.Type("Smoke"));
    CEffectKey lone(pSpark);
    EXPECT_FALSE(lone.SetParent(&smoke));
    EXPECT_EQ(lone.GetParent(), nullptr);
    lone.FillMissingProperties();
    ASSERT_NE(lone.GetPropertyDirect(0), nullptr);
    EXPECT_EQ(lone.GetPropertyDirect(0)->GetKey(0)->Value.fValue, 1.0f);
    EXPECT_EQ(lone.GetPropertyDirect(2)->GetNumKeys(), 1u);
    EXPECT_TRUE(lone.SetParent(nullptr));
}

TEST(PropertySet, UnsetPropertiesShareOneDefault)
{
    CTableModule table("type|Spark\n"
                       "prop|Size|5|ce|0.5;|0.25\n"
                       "prop|Tex|2|||a.tga\n"
                       "prop|Wobble|5|c||nan\n"
                       "prop|Odd|11|c\n");
    const EffectTypeDesc* pSpark = table.Type("Spark");
    CEffectPropertyDefaults defaults;
    CEffectKey first(pSpark), second(pSpark), alone(pSpark);
    CEffectProperty* pOwn = new CEffectProperty(&pSpark->pProps[1]);
    ASSERT_TRUE(first.SetProperty(pOwn));
    first.FillMissingProperties(&defaults);
    second.FillMissingProperties(&defaults);
    alone.FillMissingProperties();
    alone.NormalizeProperties();

    EXPECT_EQ(first.GetPropertyDirect(0), second.GetPropertyDirect(0));
    EXPECT_TRUE(first.IsShared(0));
    EXPECT_EQ(first.GetPropertyDirect(1), pOwn);
    EXPECT_FALSE(first.IsShared(1));
    EXPECT_TRUE(second.IsShared(1));
    // A curve holding NaN equals no copy of itself, and the curve comparison does not look at
    // values of an unknown type: each set keeps its own.
    EXPECT_NE(first.GetPropertyDirect(2), second.GetPropertyDirect(2));
    EXPECT_FALSE(second.IsShared(2));
    EXPECT_NE(first.GetPropertyDirect(3), second.GetPropertyDirect(3));
    EXPECT_FALSE(alone.IsShared(0));

    // The shared defaults answer what defaults of a set's own answer: Size's default 0.25 raised to
    // its minimum 0.5, at 0.0 and 1.0.
    for (uint32_t i = 0; i < 4; ++i)
    {
        const CEffectProperty& shared = *second.GetProperty(i);
        const CEffectProperty& own = *alone.GetProperty(i);
        ASSERT_EQ(shared.GetNumKeys(), own.GetNumKeys()) << i;
        for (uint32_t k = 0; k < own.GetNumKeys(); ++k)
        {
            const EffectPropertyKey a = *shared.GetKey(k), b = *own.GetKey(k);
            EXPECT_EQ(std::memcmp(&a, &b, sizeof(a)), 0) << i << " " << k;
        }
    }
    ASSERT_EQ(second.GetProperty(0)->GetNumKeys(), 2u);
    EXPECT_EQ(second.GetProperty(0)->GetKey(1)->fTime, 1.0f);
    EXPECT_EQ(second.GetProperty(0)->GetKey(1)->Value.fValue, 0.5f);

    // Replacing a shared default leaves it to the others.
    CEffectProperty* pSize = new CEffectProperty(&pSpark->pProps[0]);
    ASSERT_TRUE(second.SetProperty(pSize));
    EXPECT_FALSE(second.IsShared(0));
    EXPECT_EQ(first.GetProperty(0)->GetNumKeys(), 2u);
}

TEST(PropertySet, ChecksAreReportedWithTheirLines)
{
    CTableModule table(kTable);
    CRecordingTripwire tripwire;
    CEffectPropertySet orphan(nullptr);
    EXPECT_EQ(orphan.GetNumProps(), 0u);
    CEffectPropertySet spark(table.Type("Spark"));
    EXPECT_EQ(spark.GetPropertyDirect(3), nullptr);
    const std::string sSet = "|Engine/tools/Pyrix/EffectPropertySet|";
    EXPECT_EQ(tripwire.Take(&Report::Full),
              (Texts{"m_pTypeDesc" + sSet +
                         "9|CEffectPropertySet::CEffectPropertySet|Error: Invalid type "
                         "description used to create a property set",
                     "m_pTypeDesc" + sSet +
                         "37|CEffectPropertySet::GetNumProps|Error: No associated type description for this "
                         "property set",
                     "nIndex < GetNumProps()" + sSet +
                         "132|CEffectPropertySet::GetPropertyDirect|Error: Invalid index specified to "
                         "GetPropertyDirect"}));
}

TEST(Collection, EffectsPrefabsAndTheUntitledCounter)
{
    CTableModule table(kTable);
    CEffectDef loose;
    EXPECT_STREQ(loose.szName, "Untitled FX 0");
    EXPECT_EQ(loose.m_nLength, 10000);
    CEffectCollection collection;
    CEffectDef* pEffect = collection.NewEffect();
    EXPECT_STREQ(pEffect->szName, "Untitled FX 1");
    EXPECT_STREQ(collection.NewEffect()->szName, "Untitled FX 2");
    EXPECT_EQ(collection.m_Effects.GetCount(), 2u);
    EXPECT_EQ(collection.m_Effects.GetAt(0), pEffect);
    EXPECT_EQ(collection.m_Effects.GetAt(2), nullptr);

    CEffectPropertySet* pFirst = collection.NewPrefab(table.Type("Spark"));
    pFirst->m_sName = "Burst";
    CEffectPropertySet* pSecond = collection.NewPrefab(table.Type("Smoke"));
    pSecond->m_sName = "BURST";
    EXPECT_EQ(collection.FindPrefab("burst"), pFirst);
    EXPECT_EQ(collection.FindPrefab("BURST"), pFirst);
    EXPECT_EQ(collection.FindPrefab("Bursts"), nullptr);
    pSecond->m_sName = "Glow"; // renamed after a lookup: found under the new name
    EXPECT_EQ(collection.FindPrefab("GLOW"), pSecond);

    // Keys point at prefabs; clearing destroys effects (with their keys) first, whatever the order
    // in which they were made.
    std::string sDestroyed;
    collection.m_Prefabs.push_back(new CLoggedSet<CEffectPropertySet>(table.Type("Spark"), sDestroyed, 'P'));
    CEffectKey* pKey = new CLoggedSet<CEffectKey>(table.Type("Spark"), sDestroyed, 'K');
    pKey->SetParent(collection.m_Prefabs.back());
    ASSERT_NE(pEffect->NewTrack(), nullptr);
    pEffect->m_Tracks.GetAt(0)->AddKey(pKey);
    collection.Clear();
    EXPECT_EQ(sDestroyed, "KP");
    EXPECT_EQ(collection.m_Effects.GetCount(), 0u);
    EXPECT_TRUE(collection.m_Prefabs.empty());
    EXPECT_STREQ(CEffectDef().szName, "Untitled FX 3");
}

// Each lookup compares a constant number of names, whatever the number of prefabs; the first of
// several prefabs whose names differ only in letter case wins.
TEST(Collection, PrefabLookupComparesAConstantNumberOfNames)
{
    CTableModule table(kTable);
    CEffectCollection collection;
    const uint32_t nPrefabs = 10000;
    for (uint32_t i = 0; i < nPrefabs; ++i)
        collection.NewPrefab(table.Type("Spark"))->m_sName =
            "Prefab_" + std::to_string(i / 2) + (i % 2 ? "X" : "x");
    for (uint32_t i = 0; i < nPrefabs; ++i)
        ASSERT_EQ(collection.FindPrefab(("PREFAB_" + std::to_string(i / 2) + "x").c_str()),
                  collection.m_Prefabs[i & ~1u]);
    EXPECT_LE(collection.GetPrefabNameCompares(), 2u * nPrefabs);
}
