#include "corpus.h"

#include <cstdint>
#include <cstdio>

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
    CWriter(std::string& sOut, CRandom& rng) : m_sOut(sOut), m_Rng(rng) {}

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
        std::snprintf(sz, sizeof(sz), "%.3f", static_cast<double>(m_Rng.Below(100000)) / 1000.0);
        return sz;
    }

    void ValueList(int nDepth, const std::string& sType, uint32_t nLength)
    {
        Line(nDepth, "(value-list");
        const uint32_t nValues = 1 + (m_Rng.Below(4) == 0 ? m_Rng.Below(6) : 0);
        for (uint32_t v = 0; v < nValues; ++v)
        {
            const std::string sTime =
                Num(nValues == 1 ? 0 : static_cast<int64_t>(nLength) * v / (nValues - 1));
            std::string sData;
            if (sType == "Color")
                sData = Num(m_Rng.Below(256)) + " " + Num(m_Rng.Below(256)) + " " + Num(m_Rng.Below(256)) +
                        " " + Num(m_Rng.Below(2) ? 255 : m_Rng.Below(256));
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
};
} // namespace

std::string MakeEffectCorpus(size_t nBytes)
{
    std::string sOut;
    sOut.reserve(nBytes + 4096);
    CRandom rng(0x5EEDF00Dull);
    CWriter w(sOut, rng);
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
