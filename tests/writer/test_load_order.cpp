// The loader loads effects while the text is still being read when the file's order allows it.
// Whatever the order, the outcome must be the one of loading the finished tree.
#include "EffectFileLoader.h"
#include "PackedEffectWriter.h"
#include "effect_test_support.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"

#include <random>
#include <string>
#include <vector>

namespace
{
const char* const kModule = "type|Flare\n"
                            "prop|Size|5||0;|1\n"
                            "prop|Tint|6|||0xFFFFFFFF\n"
                            "type|Puff\n"
                            "prop|Size|5||;|4\n";

struct Outcome
{
    bool bResult = false;
    std::string sError;
    uint32_t nEffects = 0, nPrefabs = 0;
    Bytes packed;
    Texts reports; // of the assertion library, in order
};

// The file loaded as the packer loads it or, with bFinishedTree, from the tree read whole first.
Outcome Load(CTableModule& module, const std::string& text, bool bFinishedTree = false)
{
    Outcome outcome;
    CRecordingTripwire tripwire;
    CEffectCollection collection;
    const std::string sPath = WriteTemp("order.Fx00a", text);
    if (!bFinishedTree)
        outcome.bResult = LoadEffectFile(sPath.c_str(), collection, module.m_Module, outcome.sError);
    else
    {
        CZQALoadOnlyAlloc allocator(0x10000);
        CZQANode root;
        if (CZQANodeReader::LoadEntireFile(sPath.c_str(), false, &root, &allocator))
            outcome.bResult = LoadEffectTree(&root, collection, module.m_Module, outcome.sError);
        else
            outcome.sError = "Failed to load the file from disk into memory";
        root.Free(&allocator);
    }
    outcome.reports = tripwire.Take(&Report::Full);
    outcome.nEffects = collection.m_Effects.GetCount();
    outcome.nPrefabs = static_cast<uint32_t>(collection.m_Prefabs.size());
    if (outcome.bResult)
    {
        const std::string sDest = TempPath("order.Fx00p");
        EXPECT_TRUE(WritePackedEffectFile(sDest.c_str(), collection, module.m_Module));
        outcome.packed = ReadBytes(sDest);
    }
    return outcome;
}

class CSourceMaker
{
public:
    explicit CSourceMaker(uint32_t nSeed) : m_Random(nSeed) {}

    // Top-level lists in a random order.
    std::vector<std::string> Tops()
    {
        std::vector<std::string> tops;
        const auto add = [&](const std::string& s) { tops.push_back(s); };
        for (uint32_t n = Pick(4) == 0 ? 2 : 1; n > 0; --n)
            add(Pick(6) == 0 ? "(header (version 2))" : "(header (version 1))");
        for (uint32_t n = Pick(3); n > 0; --n)
            add(PrefabTree());
        for (uint32_t n = Pick(5) == 0 ? 2 : 1; n > 0; --n)
            add(EffectTree());
        if (Pick(3) == 0)
            add(Pick(2) ? "(tool \"x\")" : "word");
        // Mostly the usual order (header, prefabs, effects), else shuffled.
        if (Pick(3) == 0)
            std::shuffle(tops.begin(), tops.end(), m_Random);
        return tops;
    }

    uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(m_Random() % n); }

private:
    std::string PrefabTree()
    {
        std::string s = "(prefab-tree";
        for (uint32_t n = Pick(3); n > 0; --n)
        {
            const std::string sName = "P" + std::to_string(Pick(3));
            const uint32_t nKind = Pick(8);
            if (nKind == 0)
                s += " (prefab (name " + sName + ") (type Nope))";
            else if (nKind == 1)
                s += " (prefab (type Flare))";
            else
                s += " (prefab (name " + sName +
                     ") (type Flare) (properties (property (name Size) (type Float) "
                     "(value-list (value (time 0) (data " +
                     std::to_string(Pick(9)) + "))))))";
        }
        return s + ")";
    }

    std::string Effect()
    {
        const uint32_t nKind = Pick(10);
        if (nKind == 0)
            return "(effect (name Bad))";
        // A name past the stored length is cut, with a report.
        const std::string sName =
            "E" + std::to_string(m_nEffect++) + (Pick(12) == 0 ? std::string(130, 'x') : "");
        std::string s = "(effect (name " + sName + ") (length 100) (key-list";
        for (uint32_t n = Pick(3); n > 0; --n)
        {
            s += " (key (type " + std::string(Pick(5) ? "Flare" : "Puff") + ") (id " +
                 std::to_string(Pick(4)) + ") (track " + std::to_string(Pick(2)) + ") (start-time " +
                 std::to_string(Pick(50)) + ") (end-time 90)";
            if (Pick(3) == 0)
                s += " (parent P" + std::to_string(Pick(3)) + ")";
            s += " (properties (property (name Tint) (type Color) (value-list (value (time 0) (data " +
                 std::to_string(Pick(256)) + " 2 3 4))))))";
        }
        return s + "))";
    }

    std::string EffectTree()
    {
        std::string s = "(effect-tree";
        for (uint32_t n = Pick(5); n > 0; --n)
        {
            const uint32_t nKind = Pick(8);
            if (nKind == 0)
                s += " (container (name C) (children " + Effect() + " (container (name D) (children " +
                     Effect() + "))))";
            else if (nKind == 1)
                s += Pick(2) ? " loose" : " (note x)";
            else
                s += " " + Effect();
        }
        return s + ")";
    }

    std::mt19937 m_Random;
    uint32_t m_nEffect = 0;
};
} // namespace

TEST(LoadOrder, LoadingWhileReadingEqualsLoadingTheFinishedTree)
{
    CTableModule module(kModule);
    uint32_t nLoaded = 0, nFailed = 0, nUnreadable = 0, nReported = 0;
    for (uint32_t nSeed = 1; nSeed <= 250; ++nSeed)
    {
        CSourceMaker maker(nSeed);
        std::string sText;
        for (const std::string& sTop : maker.Tops())
            sText += sTop + "\n";
        // Lists nested past the reader's depth limit, open at the end: the file cannot be read.
        if (maker.Pick(8) == 0)
            sText += std::string(1100, '(');

        const Outcome read = Load(module, sText);
        const Outcome whole = Load(module, sText, true);
        SCOPED_TRACE("seed " + std::to_string(nSeed) + "\n" + sText.substr(0, 2000));
        EXPECT_EQ(read.bResult, whole.bResult);
        EXPECT_EQ(read.sError, whole.sError);
        EXPECT_EQ(read.nEffects, whole.nEffects);
        EXPECT_EQ(read.nPrefabs, whole.nPrefabs);
        EXPECT_TRUE(read.packed == whole.packed);
        EXPECT_EQ(read.reports, whole.reports);
        nReported += !read.reports.empty();
        nLoaded += read.bResult;
        nUnreadable += read.sError == "Failed to load the file from disk into memory";
        nFailed += !read.bResult;
    }
    // The seeds reach every outcome: loaded, failed while loading, not readable, and reports made.
    EXPECT_GT(nLoaded, 50u);
    EXPECT_GT(nFailed - nUnreadable, 30u);
    EXPECT_GT(nUnreadable, 10u);
    EXPECT_GT(nReported, 10u);
}

TEST(LoadOrder, AnUnreadableEndUndoesWhatWasLoaded)
{
    CTableModule module(kModule);
    const std::string sEffects =
        "(header (version 1))\n(effect-tree (effect (name A) (length 5) (key-list)))\n";
    const Outcome good = Load(module, sEffects);
    EXPECT_TRUE(good.bResult) << good.sError;
    EXPECT_EQ(good.nEffects, 1u);
    const Outcome cut = Load(module, sEffects + std::string(1100, '('));
    EXPECT_FALSE(cut.bResult);
    EXPECT_EQ(cut.sError, "Failed to load the file from disk into memory");
    EXPECT_EQ(cut.nEffects, 0u);
    // A name cut while loading is reported only by a load that stands.
    const std::string sLongName(200, 'n');
    const std::string sCutName =
        "(header (version 1))\n(effect-tree (effect (name " + sLongName + ") (length 5) (key-list)))\n";
    EXPECT_EQ(Load(module, sCutName).reports.size(), 1u);
    EXPECT_EQ(Load(module, sCutName + std::string(1100, '(')).reports, Texts());
}

TEST(LoadOrder, APrefabTreeAfterTheEffectsStillServesThem)
{
    CTableModule module(kModule);
    const Outcome outcome = Load(module, "(header (version 1))\n"
                                         "(effect-tree (effect (name A" +
                                             std::string(200, 'a') +
                                             ") (length 5) (key-list (key (type Flare) (id 1) (track 0) "
                                             "(start-time 0) (end-time 5) (parent Glow)))))\n"
                                             "(prefab-tree (prefab (name Glow) (type Flare)))\n");
    EXPECT_TRUE(outcome.bResult) << outcome.sError;
    EXPECT_EQ(outcome.nEffects, 1u);
    EXPECT_EQ(outcome.nPrefabs, 1u);
    // The cut name is reported once, though the effect was loaded before the prefabs were seen.
    EXPECT_EQ(outcome.reports.size(), 1u);
}

TEST(LoadOrder, LargeEffectsGiveBackTheirTextAsTheyLoad)
{
    // Many allocator blocks: effects, a container's children and keys are given back while loading.
    CTableModule module(kModule);
    std::string sText = "(header (version 1))\n(prefab-tree (prefab (name Glow) (type Flare)))\n"
                        "(effect-tree (container (name C) (children";
    for (int nEffect = 0; nEffect < 3; ++nEffect)
    {
        sText += " (effect (name E" + std::to_string(nEffect) + ") (length 9000) (key-list";
        for (int nKey = 0; nKey < 3000; ++nKey)
            sText += " (key (type Flare) (id " + std::to_string(nKey % 7) + ") (track " +
                     std::to_string(nKey % 3) + ") (start-time " + std::to_string(nKey % 50) +
                     ") (end-time 90)" + (nKey % 5 == 0 ? " (parent glow)" : "") +
                     " (properties (property (name Size) (type Float) (value-list (value (time 0) (data " +
                     std::to_string(nKey) + "))))))";
        sText += "))";
    }
    sText += ")))\n";
    const Outcome read = Load(module, sText);
    const Outcome whole = Load(module, sText, true);
    ASSERT_TRUE(read.bResult) << read.sError;
    EXPECT_EQ(read.nEffects, 3u);
    EXPECT_TRUE(read.packed == whole.packed);
}
