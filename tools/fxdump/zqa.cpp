// Effect source text from a packed file: every effect directly in the effect tree, every key with
// every written property, values in the text forms the loader reads back to the same bits. What
// the packed form cannot give back exactly is said in (note "...") lists, which the loader skips.
#include "fxdump.h"

#include "EffectProperty.h"
#include "ResourceFileTypes.h"
#include "pyrixmodule.h"
#include "zqstrutils.h"

#include <cmath>
#include <cstring>

namespace fxdump
{
namespace
{
using Reader = CPackedEffectReader;

constexpr size_t kMaxName = 127;  // an effect name is copied into 128 bytes
constexpr size_t kMaxValue = 255; // a string value into 256
constexpr uint32_t kMaxTracks = 65536;

std::string DescName(const char* psz, size_t nSize)
{
    return std::string(psz, strnlen(psz, nSize));
}

// Text as one atom: bare when it reads back as one word, quoted otherwise. A text holding the
// quote character has no form; it is then quoted without its quotes and the caller notes it.
std::string Atom(const std::string& s, bool& bExact)
{
    bExact = s.find('"') == std::string::npos;
    bool bBare = !s.empty() && bExact;
    for (char c : s)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '(' || c == ')')
            bBare = false;
    if (bBare)
        return s;
    std::string sOut = "\"";
    for (char c : s)
        if (c != '"')
            sOut += c;
    return sOut + "\"";
}

// The order the model keeps keys in: each key moves toward the front past every neighbour whose
// time is greater than its own.
void InsertionSort(std::vector<float>& times)
{
    for (size_t i = 1; i < times.size(); ++i)
        for (size_t j = i; j > 0 && times[j] < times[j - 1]; --j)
            std::swap(times[j], times[j - 1]);
}

bool SameTimes(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

class CZqaWriter
{
public:
    CZqaWriter(const PackedFile& file, const CModuleView& module, std::FILE* pOut)
        : m_Reader(file.reader), m_Module(module), m_pOut(pOut)
    {
    }

    void Write()
    {
        std::fputs("(header (version 1))\n", m_pOut);
        const Reader::Header& h = m_Reader.GetHeader();
        if (h.nModuleVersion != m_Module.GetModuleVersion() || h.nNumEffectTypes != m_Module.GetNumTypes())
            Note("", "the file was packed with another module (version " + std::to_string(h.nModuleVersion) +
                         ", " + std::to_string(h.nNumEffectTypes) + " types)");
        for (const Reader::Curve& curve : m_Reader.GetCurves())
            if (!curve.bReferenced && curve.nNumKeys != 0)
                Note("", "the curve record at " + std::to_string(curve.nOffset) +
                             " belongs to a property that carries no value; its " +
                             std::to_string(curve.nNumKeys) + " key times are not given back");
        std::fputs("(effect-tree\n", m_pOut);
        Reader::Effect effect;
        for (uint32_t nPos = m_Reader.GetEffectsStart(); m_Reader.NextEffect(nPos, effect);)
            WriteEffect(effect);
        std::fputs(")\n", m_pOut);
    }

private:
    void Note(const std::string& sIndent, const std::string& sText)
    {
        bool bExact;
        m_sOut += sIndent + "(note " + Atom(sText, bExact) + ")\n";
        Flush();
    }

    void Flush()
    {
        std::fputs(m_sOut.c_str(), m_pOut);
        m_sOut.clear();
    }

    void WriteEffect(const Reader::Effect& effect)
    {
        std::string sName;
        m_Reader.GetString(effect.nNameOffset, sName);
        bool bExact;
        m_sOut += "  (effect (name " + Atom(sName, bExact) + ") (length " +
                  std::to_string(static_cast<int32_t>(effect.nLength)) + ")\n";
        if (!bExact || sName.size() > kMaxName)
            Note("    ", "the effect name cannot be written as it is packed");
        m_sOut += "    (key-list\n";
        // Keys go to the lowest track that keeps their order and times: a key joins the current
        // track when it starts no earlier than the track's last key starts and ends.
        uint32_t nTrack = 0;
        const Reader::Key* pLast = nullptr;
        int32_t nLastStart = 0, nLastEnd = 0;
        for (const Reader::Key& key : effect.keys)
        {
            int32_t nStart = 0, nEnd = 0;
            const bool bStart = SecondsToMs(key.fStartTime, nStart);
            const bool bEnd = SecondsToMs(key.fEndTime, nEnd);
            if (!bStart || !bEnd)
            {
                Note("      ", "the " + std::string(!bStart ? "start" : "end") + " time " +
                                   ShortFloat(!bStart ? key.fStartTime : key.fEndTime) + " s of key " +
                                   std::to_string(key.nID) + " is no whole number of milliseconds");
                nStart = bStart ? nStart : static_cast<int32_t>(std::lround(key.fStartTime * 1000.0));
                nEnd = bEnd ? nEnd : static_cast<int32_t>(std::lround(key.fEndTime * 1000.0));
            }
            const bool bNewTrack = pLast && (nStart < nLastStart || nStart < nLastEnd);
            nTrack += bNewTrack ? 1 : 0;
            if ((!pLast || bNewTrack) && nStart < 0)
                Note("      ",
                     "key " + std::to_string(key.nID) +
                         " starts before 0 ms on a track of its own, where the loader moves it to 0");
            if (nTrack >= kMaxTracks)
                Note("      ",
                     "key " + std::to_string(key.nID) + " needs a track beyond the last the loader allows");
            WriteKey(key, nTrack, nStart, nEnd);
            pLast = &key;
            nLastStart = nStart;
            nLastEnd = nEnd;
        }
        m_sOut += "    ))\n";
        Flush();
    }

    void WriteKey(const Reader::Key& key, uint32_t nTrack, int32_t nStart, int32_t nEnd)
    {
        const EffectTypeDesc* pType = m_Module.GetType(key.nTypeID);
        const std::string sType = pType ? DescName(pType->szName, sizeof(pType->szName)) : "";
        if (!pType || m_Module.FindType(sType) != pType)
            Note("      ", "key " + std::to_string(key.nID) + " has type id " + std::to_string(key.nTypeID) +
                               ", which no type name of the module gives");
        bool bExact;
        m_sOut += "      (key (type " + Atom(sType, bExact) + ") (id " + std::to_string(key.nID) +
                  ") (track " + std::to_string(nTrack) + ") (start-time " + std::to_string(nStart) +
                  ") (end-time " + std::to_string(nEnd) + ")";
        if (key.nMotionLinkID != key.nID)
            m_sOut += " (motion-link (id " + std::to_string(key.nMotionLinkID) + "))";
        m_sOut += "\n        (properties\n";
        for (const Reader::Property& prop : key.props)
            if (pType)
                WriteProperty(*pType, key, prop);
        m_sOut += "        ))\n";
    }

    void WriteProperty(const EffectTypeDesc& type, const Reader::Key& key, const Reader::Property& prop)
    {
        std::string sName;
        m_Reader.GetString(prop.nNameOffset, sName);
        const EffectPropDesc* pDesc = nullptr;
        const EffectPropDesc* pFound = nullptr; // what the loader finds by this name
        for (uint32_t i = 0; i < type.nNumProps; ++i)
        {
            const EffectPropDesc& desc = type.pProps[i];
            const std::string sDesc = DescName(desc.szName, sizeof(desc.szName));
            if (!pDesc && sDesc == sName)
                pDesc = &desc;
            if (!pFound && ZQStrIEquals(sDesc.c_str(), sName.c_str()))
                pFound = &desc;
        }
        if (!pDesc)
            return; // a damaged file; CheckValues reported it
        const std::string sIndent = "          ";
        if (pFound != pDesc)
            Note(sIndent, "property " + sName + " of key " + std::to_string(key.nID) +
                              " is found by another property's name when loaded");
        bool bExact;
        std::string sLine = sIndent + "(property (name " + Atom(sName, bExact) + ") (type " +
                            TypeName(pDesc->eType) + ") (value-list";
        if (!pDesc->m_bFunctionCurve)
            sLine += " (value (time 0) (data " + ValueText(*pDesc, prop.nValueOffset, key, sName) + "))";
        else
        {
            const Reader::Curve* pCurve = m_Reader.FindCurve(m_Reader.ReadU32(prop.nValueOffset));
            if (!pCurve)
                return;
            std::vector<float> times;
            uint32_t nPos = m_Reader.GetCurveSectionOffset() + pCurve->nOffset + 4;
            for (uint32_t k = 0; k < pCurve->nNumKeys; ++k, nPos += 4 + pCurve->nValueSize)
            {
                const float fTime = m_Reader.ReadF32(nPos);
                times.push_back(fTime);
                sLine += " (value (time " + ShortFloat(fTime) + ") (data " +
                         ValueText(*pDesc, nPos + 4, key, sName) + "))";
            }
            if (!SameTimes(times, Normalized(times, pDesc->m_bCurveEndKey != 0)))
                Note(sIndent, "the curve of " + sName + " in key " + std::to_string(key.nID) +
                                  " changes when the loader normalises it again");
        }
        m_sOut += sLine + "))\n";
    }

    // The key times of a curve after the loader has read and normalised them.
    static std::vector<float> Normalized(std::vector<float> times, bool bEndKey)
    {
        InsertionSort(times);
        if (times.empty())
            times.push_back(0.0f);
        times.front() = 0.0f;
        if (bEndKey && times.size() > 1)
            times.back() = 1.0f;
        else if (bEndKey)
            times.push_back(1.0f);
        InsertionSort(times);
        return times;
    }

    std::string StringValue(const EffectPropDesc& desc, uint32_t nOffset, const Reader::Key& key,
                            const std::string& sProp)
    {
        std::string s;
        m_Reader.GetString(m_Reader.ReadU32(nOffset), s);
        bool bExact;
        const std::string sAtom = Atom(s, bExact);
        bool bSame = bExact && s.size() <= kMaxValue;
        if (bSame && desc.eType == ePT_Filename)
        {
            char szPacked[260];
            bSame = GetPackedResourceName(s.c_str(), szPacked, sizeof(szPacked)) ? s == szPacked : true;
        }
        if (!bSame)
            Note("          ", "a value of " + sProp + " in key " + std::to_string(key.nID) +
                                   " cannot be written so that it packs the same");
        return sAtom;
    }

    std::string ValueText(const EffectPropDesc& desc, uint32_t nOffset, const Reader::Key& key,
                          const std::string& sProp)
    {
        switch (desc.eType)
        {
        case ePT_String:
        case ePT_Filename:
        case ePT_Animation:
        case ePT_SparkrigRef:
            return StringValue(desc, nOffset, key, sProp);
        case ePT_Enum:
        {
            const std::string sParams = DescName(desc.szParams, sizeof(desc.szParams));
            const uint32_t nIndex = m_Reader.ReadU32(nOffset);
            const std::string sChoice = Choice(sParams, nIndex);
            if (FindEnumIndex(sParams.c_str(), sChoice.c_str()) != static_cast<int>(nIndex))
                Note("          ", "enum index " + std::to_string(nIndex) + " of " + sProp + " in key " +
                                       std::to_string(key.nID) + " is not reached by its choice's name");
            bool bExact;
            return Atom(sChoice, bExact);
        }
        case ePT_Int:
            return std::to_string(static_cast<int32_t>(m_Reader.ReadU32(nOffset)));
        case ePT_Float:
            return ShortFloat(m_Reader.ReadF32(nOffset));
        case ePT_Color:
        {
            std::string s;
            for (uint32_t i = 0; i < 4; ++i)
            {
                const float f = m_Reader.ReadF32(nOffset + 4 * i);
                uint32_t nChannel = 0;
                if (!FloatToChannel(f, nChannel))
                {
                    Note("          ", "a colour channel of " + sProp + " in key " + std::to_string(key.nID) +
                                           " is " + ShortFloat(f) + ", which no 0-255 value gives");
                    nChannel = std::isnan(f) ? 0
                                             : static_cast<uint32_t>(
                                                   std::lround(std::fmin(std::fmax(f, 0.0f), 1.0f) * 255.0f));
                }
                s += (i ? " " : "") + std::to_string(nChannel);
            }
            return s;
        }
        case ePT_Vector:
            return ShortFloat(m_Reader.ReadF32(nOffset)) + " " + ShortFloat(m_Reader.ReadF32(nOffset + 4)) +
                   " " + ShortFloat(m_Reader.ReadF32(nOffset + 8));
        default:
            return "0"; // a type that writes no value
        }
    }

    // The choice at a position, counted and trimmed as the packer counts them.
    static std::string Choice(const std::string& sParams, uint32_t nIndex)
    {
        size_t nPos = 0;
        for (uint32_t i = 0; nPos < sParams.size(); ++i)
        {
            const size_t nComma = sParams.find(',', nPos);
            const size_t nEnd = nComma == std::string::npos ? sParams.size() : nComma;
            if (i == nIndex)
            {
                const std::string s = sParams.substr(nPos, nEnd - nPos);
                const size_t nFirst = s.find_first_not_of(" \t\r\n\f\v");
                return nFirst == std::string::npos
                           ? std::string()
                           : s.substr(nFirst, s.find_last_not_of(" \t\r\n\f\v") - nFirst + 1);
            }
            if (nComma == std::string::npos)
                break;
            nPos = nComma + 1;
        }
        return std::string();
    }

    const Reader& m_Reader;
    const CModuleView& m_Module;
    std::FILE* m_pOut;
    std::string m_sOut;
};
} // namespace

bool WriteZqa(PackedFile& file, const CModuleView& module, std::FILE* pOut, std::string& sError)
{
    if (!file.bWalked)
    {
        sError = "the file is too damaged to read";
        return false;
    }
    CZqaWriter(file, module, pOut).Write();
    return true;
}
} // namespace fxdump
