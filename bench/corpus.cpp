#include "corpus.h"

#include "EffectDocument.h"
#include "EffectModule.h"
#include "zqstrutils.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace
{
// splitmix64: a fixed seed gives the same text on every platform.
class CRandom
{
public:
    explicit CRandom(uint64_t nSeed) : m_nState(nSeed) {}
    uint64_t Next()
    {
        uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    template <size_t N>
    const char* Pick(const char* const (&a)[N])
    {
        return a[Below(N)];
    }

private:
    uint64_t m_nState;
};

const char* const kContainers[] = {"Fire", "Smoke", "Water", "Magic", "Impact", "Ambient", "Weather", "UI"};
const char* const kEffectStems[] = {"Burst", "Trail", "Glow", "Spark", "Explosion", "Puff", "Ring", "Flash"};
const char* const kTypes[] = {"Sprite",      "Emitter", "Light", "Sound",
                              "CameraShake", "Decal",   "Trail", "Model"};
const char* const kTextures[] = {"textures/fx/fire_03.dds", "textures/fx/smoke_soft.dds",
                                 "textures/fx/spark.dds", "textures/fx/ring_glow.dds",
                                 "textures/fx/water_drop.dds"};
const char* const kSounds[] = {"sounds/fx/whoosh.wav", "sounds/fx/crackle_loop.wav",
                               "sounds/fx/impact_heavy.wav"};
const char* const kBlend[] = {"Additive", "AlphaBlend", "Modulate"};

class CWriter
{
public:
    CWriter(std::string& sOut, CRandom& rng, bool bVaried) : m_sOut(sOut), m_Rng(rng), m_bVaried(bVaried) {}

    void Line(int nDepth, const std::string& sText)
    {
        m_sOut.append(static_cast<size_t>(nDepth), '\t');
        m_sOut += sText;
        m_sOut += '\n';
    }
    std::string Num(int64_t n) { return std::to_string(n); }
    std::string Float()
    {
        char sz[32];
        if (m_bVaried)
            std::snprintf(sz, sizeof(sz), "%.6f", static_cast<double>(m_Rng.Below(1000000000)) / 1000000.0);
        else
            std::snprintf(sz, sizeof(sz), "%.3f", static_cast<double>(m_Rng.Below(100000)) / 1000.0);
        return sz;
    }

    void ValueList(int nDepth, const std::string& sType, uint32_t nLength)
    {
        Line(nDepth, "(value-list");
        const uint32_t nValues = 1 + (m_bVaried || m_Rng.Below(4) == 0 ? m_Rng.Below(6) : 0);
        for (uint32_t v = 0; v < nValues; ++v)
        {
            const std::string sTime =
                m_bVaried ? Float()
                          : Num(nValues == 1 ? 0 : static_cast<int64_t>(nLength) * v / (nValues - 1));
            std::string sData;
            if (sType == "Color")
                sData = Num(m_Rng.Below(256)) + " " + Num(m_Rng.Below(256)) + " " + Num(m_Rng.Below(256)) +
                        " " + Num(!m_bVaried && m_Rng.Below(2) ? 255 : m_Rng.Below(256));
            else if (sType == "Vector")
                sData = Float() + " " + Float() + " " + Float();
            else if (sType == "Float")
                sData = Float();
            else if (sType == "Int")
                sData = Num(m_Rng.Below(64));
            else if (sType == "Filename")
                sData =
                    std::string("\"") + (m_Rng.Below(3) ? m_Rng.Pick(kTextures) : m_Rng.Pick(kSounds)) + "\"";
            else
                sData = m_Rng.Pick(kBlend);
            Line(nDepth + 1, "(value (time " + sTime + ") (data " + sData + "))");
        }
        Line(nDepth, ")");
    }

    void Property(int nDepth, const char* pszName, const std::string& sType, uint32_t nLength)
    {
        Line(nDepth, std::string("(property (name ") + pszName + ") (type " + sType + ")");
        ValueList(nDepth + 1, sType, nLength);
        Line(nDepth, ")");
    }

    void Key(int nDepth, uint32_t nId, uint32_t nTrack, uint32_t nLength)
    {
        const uint32_t nStart = m_Rng.Below(nLength / 2 + 1);
        const uint32_t nEnd = nStart + 1 + m_Rng.Below(nLength - nStart);
        const char* pszType = m_Rng.Pick(kTypes);
        Line(nDepth, std::string("(key (type ") + pszType + ") (id " + Num(nId) + ") (track " + Num(nTrack) +
                         ") (start-time " + Num(nStart) + ") (end-time " + Num(nEnd) + ")");
        if (m_Rng.Below(4) == 0)
            Line(nDepth + 1, "(prefab \"" + std::string(m_Rng.Pick(kEffectStems)) + "Default\")");
        Line(nDepth + 1, "(properties");
        Property(nDepth + 2, "Color", "Color", nEnd - nStart);
        Property(nDepth + 2, "Scale", "Float", nEnd - nStart);
        if (m_Rng.Below(2))
            Property(nDepth + 2, "Offset", "Vector", nEnd - nStart);
        if (m_Rng.Below(2))
            Property(nDepth + 2, "Texture", "Filename", nEnd - nStart);
        if (m_Rng.Below(3) == 0)
            Property(nDepth + 2, "BlendMode", "Enum", nEnd - nStart);
        if (m_Rng.Below(3) == 0)
            Property(nDepth + 2, "Count", "Int", nEnd - nStart);
        Line(nDepth + 1, ")");
        Line(nDepth, ")");
    }

    void Effect(int nDepth, uint32_t nSerial)
    {
        char szName[64];
        std::snprintf(szName, sizeof(szName), "%s%02u", m_Rng.Pick(kEffectStems), nSerial % 100);
        const uint32_t nLength = 250 * (1 + m_Rng.Below(16));
        Line(nDepth, std::string("(effect (name ") + szName + ") (length " + Num(nLength) + ")");
        Line(nDepth + 1, "(key-list");
        const uint32_t nKeys = 1 + m_Rng.Below(6);
        for (uint32_t k = 0; k < nKeys; ++k)
            Key(nDepth + 2, k, m_Rng.Below(3), nLength);
        Line(nDepth + 1, ")");
        Line(nDepth, ")");
    }

private:
    std::string& m_sOut;
    CRandom& m_Rng;
    bool m_bVaried; // measured values: more digits, more of them
};
class CLcgRandom
{
public:
    uint32_t Below(uint32_t n)
    {
        m_nState = m_nState * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(m_nState >> 33) % n;
    }
    std::string Num(uint32_t n) { return std::to_string(Below(n)); }
    std::string Frac() { return std::to_string(Below(1000) / 100.0).substr(0, 4); }

private:
    uint64_t m_nState = 0x2545F4914F6CDD1Dull;
};

// Keys of the sample module's types with the properties an artist typically sets: constants,
// curves of two to five values, file names and enums.
void AppendKey(std::string& s, CLcgRandom& rng, uint32_t nId, uint32_t nTrack)
{
    const uint32_t nStart = rng.Below(2000);
    s += "      (key (name K" + std::to_string(nId) + ") (id " + std::to_string(nId) + ") (track " +
         std::to_string(nTrack) + ") (start-time " + std::to_string(nStart) + ") (end-time " +
         std::to_string(nStart + 100 + rng.Below(3000)) + ")";
    auto curve = [&](const char* pszName, const char* pszType, bool bColor)
    {
        s += "\n          (property (name " + std::string(pszName) + ") (type " + pszType + ") (value-list";
        const uint32_t nValues = 2 + rng.Below(4);
        for (uint32_t v = 0; v < nValues; ++v)
            s += " (value (time " + std::to_string(v / double(nValues - 1)).substr(0, 4) + ") (data " +
                 (bColor ? rng.Num(256) + " " + rng.Num(256) + " " + rng.Num(256) + " 255" : rng.Frac()) +
                 "))";
        s += "))";
    };
    auto value = [&](const char* pszName, const char* pszType, const std::string& sData)
    {
        s += "\n          (property (name " + std::string(pszName) + ") (type " + pszType +
             ") (value-list (value (time 0) (data " + sData + "))))";
    };
    switch (rng.Below(4))
    {
    case 0:
        s += " (type Sprite)\n        (properties";
        value("Texture", "Filename", "\"textures/fx_" + rng.Num(40) + ".Texture00a\"");
        curve("Color", "Color", true);
        curve("Size", "Float", false);
        value("BlendMode", "Enum", rng.Below(2) ? "Additive" : "AlphaBlend");
        break;
    case 1:
        s += " (type Light)\n        (properties";
        curve("Color", "Color", true);
        curve("Intensity", "Float", false);
        value("Radius", "Float", rng.Frac());
        break;
    case 2:
        s += " (type ParticleEmitter)\n        (properties";
        value("Texture", "Filename", "\"textures/smoke_" + rng.Num(20) + ".dds\"");
        curve("EmitRate", "Float", false);
        value("Gravity", "Vector", "0 -" + rng.Frac() + " 0");
        curve("ParticleColor", "Color", true);
        break;
    default:
        s += " (type Sound)\n        (properties";
        value("SoundFile", "Filename", "\"sounds/fx_" + rng.Num(30) + ".wav\"");
        curve("Volume", "Float", false);
        value("Priority", "Int", rng.Num(100));
        break;
    }
    s += "))\n";
}

} // namespace

std::string MakeSampleEffectFile(size_t nMinBytes, uint32_t nSeedEffects)
{
    CLcgRandom rng;
    for (uint32_t i = 0; i < nSeedEffects; ++i)
        rng.Below(7);
    std::string s = "(header (version 1))\n(effect-tree\n";
    for (uint32_t nEffect = 0; s.size() < nMinBytes; ++nEffect)
    {
        s += "  (effect (name \"Effect_" + std::to_string(nEffect) + "\") (length 4000)\n    (key-list\n";
        const uint32_t nKeys = 4 + rng.Below(12);
        for (uint32_t k = 0; k < nKeys; ++k)
            AppendKey(s, rng, k + 1, k % 4);
        s += "))\n";
    }
    return s + ")\n";
}

namespace
{
std::string WriteEffectCorpus(size_t nBytes, bool bVaried)
{
    std::string sOut;
    sOut.reserve(nBytes + 4096);
    CRandom rng(0x5EEDF00Dull);
    CWriter w(sOut, rng, bVaried);
    w.Line(0, "(header (version 1) (tool \"Embervise corpus\"))");
    w.Line(0, "(effect-tree");
    uint32_t nSerial = 0;
    while (sOut.size() < nBytes)
    {
        w.Line(1, std::string("(container (name \"") + rng.Pick(kContainers) + "\")");
        w.Line(2, "(children");
        const uint32_t nEffects = 1 + rng.Below(8);
        for (uint32_t e = 0; e < nEffects && sOut.size() < nBytes; ++e)
            w.Effect(3, nSerial++);
        w.Line(2, ")");
        w.Line(1, ")");
    }
    w.Line(0, ")");
    return sOut;
}
} // namespace

std::string MakeEffectCorpus(size_t nBytes)
{
    return WriteEffectCorpus(nBytes, false);
}

std::string MakeVariedEffectCorpus(size_t nBytes)
{
    return WriteEffectCorpus(nBytes, true);
}

std::string MakeKeysInReverseOrder(int64_t nKeys)
{
    std::string text = "(header (version 1))\n(prefab-tree (prefab (name Tick) (type Marker)))\n"
                       "(effect-tree (effect (name Long) (length 100000000) (key-list\n";
    for (int64_t i = 0; i < nKeys; ++i)
    {
        const int64_t nStart = (nKeys - i) * 10;
        text += "(key (type Marker) (parent Tick) (id " + std::to_string(i) + ") (track 0) (start-time " +
                std::to_string(nStart) + ") (end-time " + std::to_string(nStart + 5) + "))\n";
    }
    return text + ")))\n";
}

std::string MakeValuesInReverseOrder(int64_t nValues)
{
    std::string text = "(header (version 1))\n(effect-tree (effect (name Curve) (length 1000) (key-list "
                       "(key (type Sprite) (id 0) (track 0) (start-time 0) (end-time 1000) (properties "
                       "(property (name Rotation) (type Float) (value-list\n";
    for (int64_t i = 0; i < nValues; ++i)
    {
        const double fTime = static_cast<double>(nValues - i) / static_cast<double>(nValues);
        text += "(value (time " + std::to_string(fTime) + ") (data " + std::to_string(i % 360) + "))\n";
    }
    return text + ")))))))\n";
}

std::string MakeTopLevelAtoms(uint32_t nAtoms)
{
    std::string text;
    text.reserve(size_t(nAtoms) * 2);
    for (uint32_t i = 0; i < nAtoms; ++i)
        text += "a\n";
    return text;
}

std::string MakePrefabFile(uint32_t nPrefabs)
{
    std::string text = "(header (version 1))\n(prefab-tree\n";
    for (uint32_t i = 0; i < nPrefabs; ++i)
        text += "(prefab (name Prefab_" + std::to_string(i) + ") (type Marker))\n";
    text += ")\n(effect-tree (effect (name Users) (length 100000000) (key-list\n";
    for (uint32_t i = 0; i < nPrefabs; ++i)
    {
        // Keys name the prefabs in a scattered order, in the other letter case.
        const uint32_t nPrefab = static_cast<uint32_t>((uint64_t(i) * 7919u) % nPrefabs);
        text += "(key (type Marker) (parent PREFAB_" + std::to_string(nPrefab) + ") (id " +
                std::to_string(i) + ") (track 0) (start-time " + std::to_string(i * 10) + ") (end-time " +
                std::to_string(i * 10 + 5) + "))\n";
    }
    return text + ")))\n";
}

std::string ZqaToJson(const std::string& sText)
{
    std::string sJson = "[";
    sJson.reserve(sText.size() * 3 / 2);
    bool bFirst = true; // no item yet in the innermost array
    auto Separate = [&]()
    {
        if (!bFirst)
            sJson += ',';
        bFirst = false;
    };
    auto AppendString = [&](size_t nBegin, size_t nEnd)
    {
        sJson += '"';
        for (size_t i = nBegin; i < nEnd; ++i)
        {
            const unsigned char c = static_cast<unsigned char>(sText[i]);
            if (c == '\\')
                sJson += "\\\\";
            else if (c < 0x20)
            {
                char sz[8];
                std::snprintf(sz, sizeof(sz), "\\u%04x", c);
                sJson += sz;
            }
            else
                sJson += static_cast<char>(c);
        }
        sJson += '"';
    };
    for (size_t i = 0; i < sText.size();)
    {
        const char c = sText[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            ++i;
        else if (c == '(')
        {
            Separate();
            sJson += '[';
            bFirst = true;
            ++i;
        }
        else if (c == ')')
        {
            sJson += ']';
            bFirst = false;
            ++i;
        }
        else if (c == '"')
        {
            const size_t nEnd = sText.find('"', i + 1);
            const size_t nStop = nEnd == std::string::npos ? sText.size() : nEnd;
            Separate();
            AppendString(i + 1, nStop);
            i = nEnd == std::string::npos ? nStop : nStop + 1;
        }
        else
        {
            const size_t nEnd = sText.find_first_of(" \t\n\r()\"", i);
            const size_t nStop = nEnd == std::string::npos ? sText.size() : nEnd;
            Separate();
            AppendString(i, nStop);
            i = nStop;
        }
    }
    return sJson + "]";
}

bool BuildDistinctCurves(CEffectModule& module, CEffectCollection& collection, uint32_t nCurves)
{
    const EffectTypeDesc* pType = module.FindTypeDesc("Sprite");
    const EffectPropDesc* pCurve = nullptr;
    for (uint32_t i = 0; pType && i < pType->nNumProps; ++i)
    {
        if (std::strcmp(pType->pProps[i].szName, "Rotation") == 0)
            pCurve = &pType->pProps[i];
    }
    CEffectDef* pEffect = collection.NewEffect();
    CEffectTrack* pTrack = pEffect ? pEffect->NewTrack() : nullptr;
    if (!pCurve || !pCurve->m_bFunctionCurve || !pTrack)
        return false;
    ZQStrCpy(pEffect->szName, "Curves", sizeof(pEffect->szName));
    for (uint32_t i = 0; i < nCurves; ++i)
    {
        auto pKey = std::make_unique<CEffectKey>(pType);
        pKey->m_nID = static_cast<int32_t>(i);
        pKey->m_nStartTime = static_cast<int32_t>(i) * 10;
        pKey->m_nEndTime = pKey->m_nStartTime + 10;
        auto pProp = std::make_unique<CEffectProperty>(pCurve);
        // Distinct (first, second) value pairs, inside the property's range.
        EffectPropertyKey key{};
        key.Value.fValue = static_cast<float>(i % 700) - 350.0f;
        pProp->AddKey(key);
        key.fTime = 1.0f;
        key.Value.fValue = static_cast<float>(i / 700) * 0.5f;
        pProp->AddKey(key);
        if (!pKey->SetProperty(pProp.get()))
            return false;
        pProp.release();
        pKey->FillMissingProperties();
        pKey->NormalizeProperties();
        if (!pTrack->AddTail(pKey.get()))
            return false;
        pKey.release();
    }
    return true;
}
