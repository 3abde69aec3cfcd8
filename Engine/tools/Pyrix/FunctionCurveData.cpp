#include "FunctionCurveData.h"

#include "PackedEffectWriter.h"
#include "izqoutconverter.h"
#include "zqstrutils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#define ZQ_THIS_FILE "Engine/tools/Pyrix/PackedEffectWriter"

namespace
{
const int kInvalidPropertyLine = 227;
const int kUnexpectedTypeLine = 298;

const uint32_t kNoOffset = 0xFFFFFFFFu;
const size_t kValueChars = sizeof(static_cast<EffectPropValue*>(nullptr)->szValue);

bool IsStringType(uint32_t eType)
{
    return eType == ePT_String || eType == ePT_Filename || eType == ePT_Enum || eType == ePT_Animation ||
           eType == ePT_SparkrigRef;
}

// Types whose values the curve comparison looks at; the others are reported and count as equal.
bool HasComparableValues(uint32_t eType)
{
    return IsStringType(eType) || eType == ePT_Int || eType == ePT_Color || eType == ePT_Float ||
           eType == ePT_Vector;
}

// Equality of key k's values of two properties of type eType. An unexpected type is reported and
// counts as equal.
bool KeyValuesEqual(uint32_t eType, const CEffectProperty& a, const CEffectProperty& b, uint32_t k)
{
    if (IsStringType(eType)) // byte for byte, NUL-terminated
        return std::strncmp(a.GetKeyText(k), b.GetKeyText(k), kValueChars) == 0;
    switch (eType)
    {
    case ePT_Int:
    case ePT_Color:
        return a.GetKeyWord(k) == b.GetKeyWord(k);
    case ePT_Float:
        return a.GetKeyFloat(k) == b.GetKeyFloat(k);
    case ePT_Vector:
    {
        float afA[3], afB[3];
        a.GetKeyVector(k, afA);
        b.GetKeyVector(k, afB);
        return afA[0] == afB[0] && afA[1] == afB[1] && afA[2] == afB[2];
    }
    default:
        ZQCheckSite(false, ZQ_FORCED_ASSERT_TEXT, ZQ_THIS_FILE, kUnexpectedTypeLine,
                    "CFunctionCurveData::FindProperty", "Error: Unexpected property type", ZQ_SITE_FLAG());
        return true;
    }
}

// Whether entry property E answers a search for P: same type, same key count, and either E is P
// or every key pair has equal times and values.
bool CurveMatches(const CEffectProperty& prop, const CEffectProperty& entry)
{
    const uint32_t eType = prop.GetDesc()->eType;
    if (!entry.GetDesc() || entry.GetDesc()->eType != eType)
        return false;
    const uint32_t nKeys = prop.GetNumKeys();
    if (entry.GetNumKeys() != nKeys)
        return false;
    if (&entry == &prop)
        return true;
    for (uint32_t k = 0; k < nKeys; ++k)
    {
        if (!(prop.GetKeyTime(k) == entry.GetKeyTime(k)))
            return false;
        if (!KeyValuesEqual(eType, prop, entry, k))
            return false;
    }
    return true;
}

class CCurveHasher
{
public:
    void Add(uint64_t nValue)
    {
        m_nHash ^= nValue;
        m_nHash *= 0x9E3779B97F4A7C15ull;
        m_nHash ^= m_nHash >> 32;
    }
    // False for NaN. Zeros of either sign hash alike, as they compare equal.
    bool AddFloat(float f)
    {
        if (std::isnan(f))
            return false;
        if (f == 0.0f)
            f = 0.0f;
        uint32_t nBits;
        std::memcpy(&nBits, &f, sizeof(nBits));
        Add(nBits);
        return true;
    }
    uint64_t Get() const { return m_nHash; }

private:
    uint64_t m_nHash = 0xCBF29CE484222325ull;
};
} // namespace

uint64_t CFunctionCurveData::IdentityKey(const CEffectProperty* pProp)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pProp));
}

bool CFunctionCurveData::HashCurve(const CEffectProperty& prop, uint64_t& nHash)
{
    const uint32_t eType = prop.GetDesc()->eType;
    const uint32_t nKeys = prop.GetNumKeys();
    CCurveHasher hasher;
    hasher.Add(eType);
    hasher.Add(nKeys);
    if (!HasComparableValues(eType))
    {
        // Comparing an entry of such a type reports as soon as a pair of times matches, whether or
        // not the curves turn out equal, so every entry whose first time matches stays a candidate.
        if (nKeys > 0 && !hasher.AddFloat(prop.GetKeyTime(0)))
            return false;
        nHash = hasher.Get();
        return true;
    }
    for (uint32_t k = 0; k < nKeys; ++k)
    {
        if (!hasher.AddFloat(prop.GetKeyTime(k)))
            return false;
        if (IsStringType(eType))
        {
            const char* pszText = prop.GetKeyText(k);
            const size_t nLength = strnlen(pszText, kValueChars);
            hasher.Add(nLength);
            for (size_t i = 0; i < nLength; ++i)
                hasher.Add(static_cast<unsigned char>(pszText[i]));
            continue;
        }
        switch (eType)
        {
        case ePT_Int:
        case ePT_Color:
            hasher.Add(prop.GetKeyWord(k));
            break;
        case ePT_Float:
            if (!hasher.AddFloat(prop.GetKeyFloat(k)))
                return false;
            break;
        case ePT_Vector:
        {
            float afValue[3];
            prop.GetKeyVector(k, afValue);
            for (float f : afValue)
            {
                if (!hasher.AddFloat(f))
                    return false;
            }
            break;
        }
        default:
            break;
        }
    }
    nHash = hasher.Get();
    return true;
}

// The result is the one of a scan over every entry in insertion order that stops at the first
// entry of the same type and key count which is the property itself or equal key by key.
//
// That first entry is the smallest index among the entries that match, and every matching entry
// is among the candidates looked at here:
// - the property itself is found through the identity index;
// - an equal curve has equal times and values, hence the same hash: float equality makes +0.0 and
//   -0.0 equal, so both hash as +0.0. Each hash list holds the entries filed under it in ascending
//   index order, so its first matching entry is its smallest.
// - for a type without comparable values, the scan reports every pair of equal times it meets
//   until the first unequal pair; so such curves hash by type, key count and first time only, and
//   the candidates are exactly the entries whose comparison the scan would begin (and report).
// - a curve holding a NaN time or float value equals no curve, not even an identical copy, so
//   neither such a property nor such an entry is filed by content; only identity finds them.
// Entries are filed under their current keys (UpdateProperty re-files a property whose keys have
// changed), so the candidates are those of the scan at the time of the call. Every candidate is
// confirmed with the full comparison, so hash collisions change nothing.
int32_t CFunctionCurveData::FindProperty(const CEffectProperty* pProp) const
{
    const bool bValid = pProp && pProp->GetDesc() && pProp->GetDesc()->m_bFunctionCurve;
    ZQCheckSite(bValid, "pProp && pProp->GetDesc()->m_bFunctionCurve", ZQ_THIS_FILE, kInvalidPropertyLine,
                "CFunctionCurveData::FindProperty",
                "Error: Invalid property passed into the function curve data object", ZQ_SITE_FLAG());
    if (!pProp || !pProp->GetDesc())
        return -1;

    int64_t nFound = -1;
    const uint32_t nSelf = m_ByIdentity.Find(IdentityKey(pProp));
    if (nSelf != CFlatIndex::NONE)
        nFound = nSelf;

    uint64_t nHash = 0;
    if (HashCurve(*pProp, nHash))
    {
        for (uint32_t nIndex = m_ByContent.Find(nHash); nIndex != CFlatIndex::NONE;
             nIndex = m_Filing[nIndex].nNextSame)
        {
            if (nFound >= 0 && nIndex >= nFound)
                break;
            if (CurveMatches(*pProp, *m_Entries[nIndex].pProperty))
            {
                nFound = nIndex;
                break;
            }
        }
    }
    return static_cast<int32_t>(nFound);
}

void CFunctionCurveData::AddProperty(const CEffectProperty* pProp)
{
    if (!pProp || !pProp->GetDesc())
        return;
    const uint32_t nIndex = static_cast<uint32_t>(m_Entries.size());
    m_Entries.push_back(SCurveEntry{pProp, kNoOffset});
    m_Filing.push_back(SFiling{false, 0, CFlatIndex::NONE});
    if (m_ByIdentity.Find(IdentityKey(pProp)) == CFlatIndex::NONE) // the first entry of a property stays
        m_ByIdentity.Set(IdentityKey(pProp), nIndex);
    FileEntry(nIndex);
}

void CFunctionCurveData::UpdateProperty(const CEffectProperty* pProp)
{
    const uint32_t nIndex = m_ByIdentity.Find(IdentityKey(pProp));
    if (nIndex == CFlatIndex::NONE)
        return;
    uint64_t nHash = 0;
    const bool bHashed = HashCurve(*pProp, nHash);
    const SFiling& filing = m_Filing[nIndex];
    if (filing.bHashed == bHashed && (!bHashed || filing.nHash == nHash))
        return;
    UnfileEntry(nIndex);
    FileEntry(nIndex);
}

void CFunctionCurveData::FileEntry(uint32_t nIndex)
{
    SFiling& filing = m_Filing[nIndex];
    filing.nNextSame = CFlatIndex::NONE;
    filing.bHashed = HashCurve(*m_Entries[nIndex].pProperty, filing.nHash);
    if (!filing.bHashed)
        return;
    // Into the ascending list of its hash: mostly a new list, or the end of a short one.
    const uint32_t nHead = m_ByContent.Find(filing.nHash);
    if (nHead == CFlatIndex::NONE || nIndex < nHead)
    {
        filing.nNextSame = nHead;
        m_ByContent.Set(filing.nHash, nIndex);
        return;
    }
    uint32_t nPrev = nHead;
    while (m_Filing[nPrev].nNextSame != CFlatIndex::NONE && m_Filing[nPrev].nNextSame < nIndex)
        nPrev = m_Filing[nPrev].nNextSame;
    filing.nNextSame = m_Filing[nPrev].nNextSame;
    m_Filing[nPrev].nNextSame = nIndex;
}

void CFunctionCurveData::UnfileEntry(uint32_t nIndex)
{
    SFiling& filing = m_Filing[nIndex];
    if (!filing.bHashed)
        return;
    const uint32_t nHead = m_ByContent.Find(filing.nHash);
    if (nHead == nIndex)
    {
        if (filing.nNextSame == CFlatIndex::NONE)
            m_ByContent.Erase(filing.nHash);
        else
            m_ByContent.Set(filing.nHash, filing.nNextSame);
    }
    else
    {
        for (uint32_t nPrev = nHead; nPrev != CFlatIndex::NONE; nPrev = m_Filing[nPrev].nNextSame)
        {
            if (m_Filing[nPrev].nNextSame == nIndex)
            {
                m_Filing[nPrev].nNextSame = filing.nNextSame;
                break;
            }
        }
    }
    filing.nNextSame = CFlatIndex::NONE;
    filing.bHashed = false;
}

void CFunctionCurveData::WriteCurves(IZQOutConverter& converter, uint32_t* pnCurveDataSize,
                                     const CPackStringTable& strings)
{
    const uint32_t nStart = static_cast<uint32_t>(converter.Tell());
    for (SCurveEntry& entry : m_Entries)
    {
        entry.nOffset = static_cast<uint32_t>(converter.Tell()) - nStart;
        const CEffectProperty& prop = *entry.pProperty;
        const uint32_t nKeys = prop.GetNumKeys();
        converter.WriteUint32(nKeys);
        for (uint32_t k = 0; k < nKeys; ++k)
        {
            converter.WriteFloat(prop.GetKeyTime(k));
            WritePropertyKeyData(converter, prop, k, strings);
        }
    }
    if (pnCurveDataSize)
        *pnCurveDataSize = static_cast<uint32_t>(converter.Tell()) - nStart;
}
