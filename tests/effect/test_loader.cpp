#include "EffectFileLoader.h"
#include "effect_test_support.h"
#include "zqafile.h"

#include <algorithm>
#include <cstring>

namespace
{
const char* const kTable = "type|Flare\n"
                           "prop|Size|5||0;|1\n"
                           "prop|Tint|6|||0xFFFFFFFF\n"
                           "prop|Label|1|||none\n"
                           "prop|Offset|7|||1 2 3\n"
                           "prop|Alpha|5|ce||0.5\n"
                           "type|Puff\n"
                           "prop|Size|5||;|4\n";
const uint32_t kSize = 0, kTint = 1, kLabel = 2, kOffset = 3, kAlpha = 4;

const char* const kHeader = "(header (version 1))\n";

// A file of the given effect tree items; `prefabs` go before the tree.
std::string Tree(const std::string& items, const std::string& prefabs = "")
{
    return kHeader + prefabs + "(effect-tree " + items + ")\n";
}

// An effect E with one key of the given fields.
std::string KeyOfE(const std::string& fields)
{
    return Tree("(effect (name E) (length 1) (key-list (key " + fields + ")))");
}

// An effect E with one key of type Flare; `extra` goes inside the key.
std::string OneKey(const std::string& extra, const std::string& prefabs = "")
{
    return Tree("(effect (name E) (length 100) (key-list (key (type Flare) (id 1) (track 0) (start-time 0) "
                "(end-time 100) " +
                    extra + ")))",
                prefabs);
}

struct Loaded
{
    explicit Loaded(const std::string& text, const char* pszSuffix = ".Fx00a")
        : table(kTable), bResult(LoadEffectFile(WriteTemp(std::string("effect") + pszSuffix, text).c_str(),
                                                collection, table.m_Module, sError))
    {
    }
    CEffectDef* Effect(uint32_t i) const { return collection.m_Effects.GetAt(i); }
    CEffectKey* Key(uint32_t nEffect = 0, uint32_t nTrack = 0, uint32_t nKey = 0) const
    {
        return Effect(nEffect)->m_Tracks.GetAt(nTrack)->GetAt(nKey);
    }

    CTableModule table;
    CEffectCollection collection;
    std::string sError;
    bool bResult;
};

EffectPropertyKey FirstKey(const CEffectPropertySet* pSet, uint32_t nProp)
{
    return *pSet->GetProperty(nProp)->GetKey(0);
}

// The text as the ZQA file compresses it.
std::string Compressed(const std::string& text)
{
    const std::string sPath = TempPath("compressed.Fx00c");
    CZQAFile file(sPath.c_str(), false, true, false);
    for (char c : text)
        EXPECT_TRUE(file.WriteByte(static_cast<uint8_t>(c)));
    EXPECT_TRUE(file.Close());
    return ReadFile(sPath);
}
} // namespace

TEST(Loader, SmallExampleFromPlainAndCompressedText)
{
    const std::string text =
        std::string(kHeader) +
        "(prefab-tree (prefab (name Glow) (type Flare) (properties (property (name Tint) "
        "(type Color) (value-list (value (time 0) (data 1 2 3 4)))))))\n"
        "(effect-tree (container (name A) (children (effect (name B) (length 2000) (key-list "
        "(key (type Flare) (id 1) (track 0) (start-time 0) (end-time 2000) (properties "
        "(property (name Size) (type Float) (value-list (value (time 0) (data 0.5))))))"
        "(key (type Flare) (name K2) (parent glow) (id 2) (track 1) (start-time -5) "
        "(end-time 70) (motion-link (id 1))))))))\n";
    // The same text compressed loads into the same document.
    for (const Loaded& loaded : {Loaded(text), Loaded(Compressed(text), ".Fx00c")})
    {
        ASSERT_TRUE(loaded.bResult) << loaded.sError;
        EXPECT_EQ(loaded.sError, "");
        ASSERT_EQ(loaded.collection.m_Effects.GetCount(), 1u);
        EXPECT_STREQ(loaded.Effect(0)->szName, "B");
        EXPECT_EQ(loaded.Effect(0)->m_nLength, 2000);
        ASSERT_EQ(loaded.Effect(0)->m_Tracks.GetCount(), 2u);
        const CEffectKey* pKey = loaded.Key();
        EXPECT_EQ(pKey->m_nID, 1);
        EXPECT_EQ(pKey->m_nStartTime, 0);
        EXPECT_EQ(pKey->m_nEndTime, 2000);
        EXPECT_FALSE(pKey->m_bMotionLink);
        EXPECT_EQ(FirstKey(pKey, kSize).Value.fValue, 0.5f);
        EXPECT_EQ(FirstKey(pKey, kTint).Value.nColor, 0xFFFFFFFFu);
        EXPECT_EQ(pKey->GetProperty(kAlpha)->GetNumKeys(), 2u);

        const CEffectKey* pLinked = loaded.Key(0, 1);
        EXPECT_EQ(pLinked->m_sName, "K2");
        EXPECT_EQ(pLinked->GetParent(), loaded.collection.m_Prefabs[0]);
        EXPECT_EQ(FirstKey(pLinked, kTint).Value.nColor, 0x04010203u);
        EXPECT_EQ(pLinked->m_nStartTime, 0);
        EXPECT_EQ(pLinked->m_nEndTime, 70);
        EXPECT_TRUE(pLinked->m_bMotionLink);
        EXPECT_EQ(pLinked->m_nMotionLinkID, 1);
    }
    // The plain text read as compressed fails at its header.
    Loaded wrong(text, ".fx00C");
    EXPECT_FALSE(wrong.bResult);
    EXPECT_EQ(wrong.sError, "Failed to load the file from disk into memory");
}

TEST(Loader, EveryFailureAndItsChainOfLines)
{
    const std::string tail = "\r\nError loading effect\r\nFailed loading effect tree";
    const std::string keyFailed = "\r\nError loading key for effect E" + tail;
    const std::string prefabFailed = "\r\nError loading prefab\r\nFailed loading prefab tree";
    const std::string name200(200, 'n');
    const struct
    {
        std::string text, error;
    } cases[] = {
        {"(effect-tree)", "Invalid file version"},
        // The version is checked before any prefab is read: a broken prefab says nothing.
        {"(prefab-tree (prefab (name P) (type Flare)) (prefab (name Q))) (header (version 2)) (effect-tree)",
         "Invalid file version"},
        {"(header (version)) (effect-tree)", "Invalid file version"},
        {kHeader, "No effect list found in the file"},
        {Tree("(effect (name E))"), "Error finding name and length of effect" + tail},
        {Tree("(container (children))"), "Unable to find container name\r\nFailed loading effect tree"},
        {Tree("(container (name C) (children (effect (length 1))))"),
         "Error finding name and length of effect\r\nError loading effect\r\nFailed loading children of "
         "container C\r\nFailed loading effect tree"},
        {KeyOfE("(type Flare) (id 1) (start-time 0) (end-time 1)"),
         "Unable to find a required parameter for key" + keyFailed},
        {KeyOfE("(type Nope) (id 1) (track 0) (start-time 0) (end-time 1)"), keyFailed.substr(2)},
        {OneKey("(name K) (parent Q)"), "Failed to find prefab Q for key K" + keyFailed},
        {OneKey("(properties (property (name Size)))"),
         "Error loading name or type for property\r\nError loading property of key " + keyFailed},
        {OneKey("", "(prefab-tree (prefab (name P)))"),
         "Unable to find a required parameter for prefab" + prefabFailed},
        {OneKey("", "(prefab-tree (prefab (name P) (type Nope)))"), prefabFailed.substr(2)},
        {OneKey("", "(prefab-tree (prefab (name P) (type Flare) (properties (property (type Int)))))"),
         "Error loading name or type for property\r\nError loading property of key P" + prefabFailed},
        {KeyOfE("(type Flare) (id 1) (track 65536) (start-time 0) (end-time 1)"),
         "Unable to allocate track for effect E" + tail},
        {Tree("(effect (name " + name200 + ") (length 1) (key-list (key (id 1))))"),
         "Unable to find a required parameter for key\r\nError loading key for effect " +
             name200.substr(0, 127) + tail},
    };
    for (const auto& c : cases)
    {
        Loaded loaded(c.text);
        EXPECT_FALSE(loaded.bResult) << c.text;
        EXPECT_EQ(loaded.sError, c.error) << c.text;
        if (c.error == "Invalid file version")
        {
            EXPECT_TRUE(loaded.collection.m_Prefabs.empty()) << c.text;
        }
    }

    CTableModule table(kTable);
    CEffectCollection collection;
    std::string sError;
    EXPECT_FALSE(LoadEffectFile(TempPath("missing.Fx00a").c_str(), collection, table.m_Module, sError));
    EXPECT_EQ(sError, "Failed to load the file from disk into memory");
    CEffectModule none;
    sError.clear();
    EXPECT_FALSE(LoadEffectFile(WriteTemp("e.Fx00a", OneKey("")).c_str(), collection, none, sError));
    EXPECT_EQ(sError, "No Sparkrig DLL was loaded");
}

// A source much larger than the loader's tree blocks: loading the effect tree gives earlier blocks
// back, so names from before the released part must still be right (ASan sees any stale read).
TEST(Loader, LargeTreeLoadsAndReportsWhileReleasing)
{
    std::string effects;
    for (int e = 0; e < 2400; ++e)
        effects += " (effect (name E" + std::to_string(e) +
                   ") (length 1) (key-list (key (type Flare) (id 1) "
                   "(track 0) (start-time 0) (end-time 1) (properties (property (name Size) (type Float) "
                   "(value-list (value (time 0) (data 2))))))))\n";
    ASSERT_GT(effects.size(), 400000u); // its tree takes several blocks
    Loaded good(Tree("(container (name C) (children" + effects + ")) (effect (name Z) (length 1))",
                     "(prefab-tree (prefab (name P) (type Flare)))"));
    EXPECT_TRUE(good.bResult) << good.sError;
    EXPECT_EQ(good.collection.m_Effects.GetCount(), 2401u);
    EXPECT_EQ(FirstKey(good.Key(2399), kSize).Value.fValue, 2.0f);
    EXPECT_STREQ(good.Effect(2400)->szName, "Z");

    Loaded bad(Tree("(container (name Last) (children" + effects + " (effect (length 1))))"));
    EXPECT_FALSE(bad.bResult);
    EXPECT_EQ(bad.sError, "Error finding name and length of effect\r\nError loading effect\r\nFailed loading "
                          "children of container Last\r\nFailed loading effect tree");
}

TEST(Loader, ValuesAndTolerance)
{
    CRecordingTripwire tripwire;
    const std::string longText(300, 'x');
    Loaded loaded(
        OneKey("(name First) (name Second) (properties "
               "(property (name TINT) (type Color) (value-list (value (time 0) (data 255 128 0 64 9))))"
               "(property (name Label) (type String) (value-list (value (time 0) (data " +
               longText +
               "))))"
               "(property (name Offset) (type Vector) (value-list (value (time 0) (data 5 6))))"
               "(property (name Size) (type Int) (value-list (value (time 0.5) (data 3))))"
               "(property (name Size) (type Bogus) (value-list (value (time 0) (data 8))))"
               "(property (name Unknown) (type Float) (value-list (value (time 0) (data 8))))"
               "(property (name Alpha) (type Float) (value-list (value (time 0.9) (data 0.1)) "
               "(value (data 7)) (value (time 0.2) (data 0.3)) (Value (time 0.5) (data 0.4)))))"));
    ASSERT_TRUE(loaded.bResult) << loaded.sError;
    const CEffectKey* pKey = loaded.Key();
    EXPECT_EQ(pKey->m_sName, "First");
    EXPECT_EQ(FirstKey(pKey, kTint).Value.nColor, 0x40FF8000u);
    EXPECT_EQ(std::string(FirstKey(pKey, kLabel).Value.szValue), longText.substr(0, 255));
    const Texts reports = tripwire.Take();
    EXPECT_NE(std::find(reports.begin(), reports.end(),
                        "nBufferChars > ZQStrLen(pSrc)|ZQStrCpy|ZQStrCpy : Copy source is truncated"),
              reports.end());
    EXPECT_EQ(FirstKey(pKey, kOffset).Value.vValue[0], 1.0f) << "two numbers do not make a Vector";
    // An Int loaded for a Float description is read through the Float view.
    float fExpected;
    const int32_t nThree = 3;
    std::memcpy(&fExpected, &nThree, sizeof(fExpected));
    EXPECT_EQ(FirstKey(pKey, kSize).Value.fValue, fExpected);
    EXPECT_EQ(FirstKey(pKey, kSize).fTime, 0.0f);
    const CEffectProperty* pAlpha = pKey->GetProperty(kAlpha);
    ASSERT_EQ(pAlpha->GetNumKeys(), 2u);
    EXPECT_EQ(pAlpha->GetKey(0)->fTime, 0.0f);
    EXPECT_EQ(pAlpha->GetKey(0)->Value.fValue, 0.3f);
    EXPECT_EQ(pAlpha->GetKey(1)->fTime, 1.0f);
    EXPECT_EQ(pAlpha->GetKey(1)->Value.fValue, 0.1f);
}

TEST(Loader, DocumentShape)
{
    Loaded loaded(
        Tree("(effect (name X) (name W) (length 1)) (prefab (name Ignored) (type Flare))"
             " (container (name C) (children (effect (name Y) (length 2) (key-list (Key (type Flare))))))"
             " (effect (name Z) (length 3) (key-list (key (type Flare) (parent SOFT) (id 1) (track 3)"
             " (start-time 0) (end-time 1))))",
             "(prefab-tree (prefab (name Soft) (type Puff)) (effect (name Ignored) (length 1)))\n"));
    ASSERT_TRUE(loaded.bResult) << loaded.sError;
    ASSERT_EQ(loaded.collection.m_Effects.GetCount(), 3u);
    EXPECT_STREQ(loaded.Effect(0)->szName, "X");
    EXPECT_STREQ(loaded.Effect(1)->szName, "Y");
    EXPECT_STREQ(loaded.Effect(2)->szName, "Z");
    EXPECT_EQ(loaded.Effect(0)->m_Tracks.GetCount(), 0u);
    EXPECT_EQ(loaded.Effect(1)->m_Tracks.GetCount(), 0u) << "a \"Key\" list is not a key";
    EXPECT_EQ(loaded.collection.m_Prefabs.size(), 1u);
    const CEffectDef* pZ = loaded.Effect(2);
    ASSERT_EQ(pZ->m_Tracks.GetCount(), 4u);
    for (uint32_t t = 0; t < 3; ++t)
        EXPECT_EQ(pZ->m_Tracks.GetAt(t)->GetCount(), 0u);
    const CEffectKey* pKey = loaded.Key(2, 3);
    EXPECT_EQ(pKey->GetParent(), nullptr) << "a prefab of another type is not taken";
    EXPECT_EQ(FirstKey(pKey, kSize).Value.fValue, 1.0f);
    EXPECT_EQ(pKey->GetPropertyDirect(kSize), pKey->GetProperty(kSize));

    Loaded empty(Tree(""));
    EXPECT_TRUE(empty.bResult);
    EXPECT_EQ(empty.collection.m_Effects.GetCount(), 0u);
    EXPECT_TRUE(empty.collection.m_Prefabs.empty());
}
