#include "EffectProperty.h"

#include "ZQNumbers.h"
#include "zqstrutils.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>

#define ZQ_THIS_FILE "Engine/tools/Pyrix/EffectProperty"

namespace
{
bool s_bIgnoreNullDesc = false;

const size_t kParamsSize = sizeof(static_cast<EffectPropDesc*>(nullptr)->szParams);
const size_t kValueSize = sizeof(static_cast<EffectPropValue*>(nullptr)->szValue);

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char ToLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// [pBegin, pEnd) without white space at either end.
void Trim(const char*& pBegin, const char*& pEnd)
{
    while (pBegin < pEnd && IsCSpace(*pBegin))
        ++pBegin;
    while (pEnd > pBegin && IsCSpace(pEnd[-1]))
        --pEnd;
}

bool EqualsNoCase(const char* pA, const char* pAEnd, const char* pB, const char* pBEnd)
{
    if (pAEnd - pA != pBEnd - pB)
        return false;
    for (; pA < pAEnd; ++pA, ++pB)
    {
        if (ToLowerAscii(*pA) != ToLowerAscii(*pB))
            return false;
    }
    return true;
}

// A terminated copy of a fixed-size text field, which a module might leave unterminated.
template <size_t N>
void CopyField(char (&szOut)[N + 1], const char* pField)
{
    const size_t nLen = strnlen(pField, N);
    std::memcpy(szOut, pField, nLen);
    szOut[nLen] = '\0';
}

template <class T>
void ClampValue(T& value, bool bHasMin, T min, bool bHasMax, T max)
{
    if (bHasMin && value < min)
        value = min;
    if (bHasMax && value > max)
        value = max;
}

bool LessByTime(const EffectPropertyKey& a, const EffectPropertyKey& b)
{
    return a.fTime < b.fTime;
}
} // namespace

CEffectProperty::CEffectProperty(const EffectPropDesc* pDesc) : m_pDesc(pDesc)
{
    ZQCheckSite(pDesc != nullptr, "pDesc", ZQ_THIS_FILE, 22, "CEffectProperty::CEffectProperty",
                "Error: Null property description used", s_bIgnoreNullDesc);
}

EffectPropertyKey* CEffectProperty::GetKey(uint32_t nIndex)
{
    return nIndex < m_Keys.size() ? &m_Keys[nIndex] : nullptr;
}

const EffectPropertyKey* CEffectProperty::GetKey(uint32_t nIndex) const
{
    return nIndex < m_Keys.size() ? &m_Keys[nIndex] : nullptr;
}

bool CEffectProperty::AppendKey(const EffectPropertyKey& key)
{
    if (m_Keys.size() >= UINT32_MAX)
        return false;
    try
    {
        m_Keys.push_back(key);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return true;
}

bool CEffectProperty::AddKey(const EffectPropertyKey& key)
{
    if (!AppendKey(key))
        return false;
    SortKeys();
    return true;
}

bool CEffectProperty::AddDefaultKey(float fTime)
{
    EffectPropertyKey key;
    std::memset(&key, 0, sizeof(key));
    key.fTime = fTime;
    if (m_pDesc)
        key.Value = m_pDesc->DefaultValue;
    return AddKey(key);
}

void CEffectProperty::RemoveKey(uint32_t nIndex)
{
    if (nIndex < m_Keys.size())
        m_Keys.erase(m_Keys.begin() + nIndex);
}

bool CEffectProperty::ReserveKeys(uint32_t nCount)
{
    try
    {
        m_Keys.reserve(nCount);
    }
    catch (const std::exception&)
    {
        return false;
    }
    return true;
}

void CEffectProperty::SortKeys()
{
    // The insertion sort moves a key only past a neighbour with a greater time. A NaN time compares
    // false both ways, so it stays where it is and splits the keys into runs that are sorted
    // independently; inside a run the order is the stable one. Sorting each run with a stable sort
    // gives that order in n log n, and keys already in order (no neighbour greater than the key
    // after it) cost one pass.
    const size_t nCount = m_Keys.size();
    size_t nFirstUnordered = 1;
    while (nFirstUnordered < nCount && !LessByTime(m_Keys[nFirstUnordered], m_Keys[nFirstUnordered - 1]))
        ++nFirstUnordered;
    if (nFirstUnordered >= nCount)
        return;

    // Keys are large: sort their positions, then move each key once.
    std::vector<uint32_t> order;
    std::vector<EffectPropertyKey> sorted;
    try
    {
        order.resize(nCount);
        sorted.reserve(nCount);
    }
    catch (const std::exception&)
    {
        SortRunsInPlace();
        return;
    }
    for (size_t i = 0; i < nCount; ++i)
        order[i] = static_cast<uint32_t>(i);
    const auto lessByTime = [this](uint32_t a, uint32_t b) { return m_Keys[a].fTime < m_Keys[b].fTime; };
    ForEachRun([&](size_t nBegin, size_t nEnd)
               { std::stable_sort(order.begin() + nBegin, order.begin() + nEnd, lessByTime); });
    for (uint32_t nFrom : order)
        sorted.push_back(m_Keys[nFrom]);
    m_Keys.swap(sorted);
}

void CEffectProperty::SortRunsInPlace()
{
    ForEachRun([this](size_t nBegin, size_t nEnd)
               { std::stable_sort(m_Keys.begin() + nBegin, m_Keys.begin() + nEnd, LessByTime); });
}

template <class Fn>
void CEffectProperty::ForEachRun(Fn fn) const
{
    const size_t nCount = m_Keys.size();
    size_t nRunStart = 0;
    for (size_t i = 0; i <= nCount; ++i)
    {
        if (i == nCount || m_Keys[i].fTime != m_Keys[i].fTime)
        {
            if (i - nRunStart > 1)
                fn(nRunStart, i);
            nRunStart = i + 1;
        }
    }
}

bool CEffectProperty::IsWritable() const
{
    return m_pDesc && m_pDesc->eType != ePT_None && m_pDesc->eType != ePT_NoValue;
}

void CEffectProperty::Normalize()
{
    NormalizeKeys();
    ClampToRange();
    ValidateEnum();
}

void CEffectProperty::NormalizeKeys()
{
    if (!m_pDesc || m_pDesc->eType == ePT_NoValue)
        return;
    SortKeys();
    if (m_Keys.empty())
    {
        if (m_pDesc->m_bFunctionCurve && m_pDesc->m_bCurveEndKey)
            ReserveKeys(2); // the end key follows: one array instead of a regrown one
        AddDefaultKey(0.0f);
    }
    if (m_pDesc->m_bFunctionCurve)
    {
        if (!m_Keys.empty())
            m_Keys.front().fTime = 0.0f;
        if (m_pDesc->m_bCurveEndKey)
        {
            if (m_Keys.size() > 1)
                m_Keys.back().fTime = 1.0f;
            else if (m_Keys.size() == 1)
                AddDefaultKey(1.0f);
        }
    }
    else if (!m_Keys.empty())
    {
        // Removing the key at index 1 until one is left keeps just the earliest key.
        m_Keys.erase(m_Keys.begin() + 1, m_Keys.end());
        m_Keys.front().fTime = 0.0f;
    }
    SortKeys();
}

void CEffectProperty::ClampToRange()
{
    if (!m_pDesc)
        return;
    const uint32_t eType = m_pDesc->eType;
    if (eType != ePT_Int && eType != ePT_Float && eType != ePT_Vector)
        return;

    char szParams[kParamsSize + 1];
    CopyField<kParamsSize>(szParams, m_pDesc->szParams);
    bool bHasMin = false;
    bool bHasMax = false;
    float fMin = 0.0f;
    float fMax = 0.0f;
    ParseRange(szParams, bHasMin, fMin, bHasMax, fMax);
    const int32_t nMin = bHasMin ? RoundToInt(fMin) : 0;
    const int32_t nMax = bHasMax ? RoundToInt(fMax) : 0;

    for (EffectPropertyKey& key : m_Keys)
    {
        if (eType == ePT_Int)
        {
            ClampValue(key.Value.nValue, bHasMin, nMin, bHasMax, nMax);
        }
        else if (eType == ePT_Float)
        {
            ClampValue(key.Value.fValue, bHasMin, fMin, bHasMax, fMax);
        }
        else
        {
            for (float& fComponent : key.Value.vValue)
                ClampValue(fComponent, bHasMin, fMin, bHasMax, fMax);
        }
    }
}

void CEffectProperty::ValidateEnum()
{
    if (!m_pDesc || m_pDesc->eType != ePT_Enum)
        return;
    char szParams[kParamsSize + 1];
    CopyField<kParamsSize>(szParams, m_pDesc->szParams);
    for (EffectPropertyKey& key : m_Keys)
    {
        char szText[kValueSize + 1];
        CopyField<kValueSize>(szText, key.Value.szValue);
        if (FindEnumIndex(szParams, szText) == -1)
            key.Value = m_pDesc->DefaultValue;
    }
}

void ParseRange(const char* szParams, bool& bHasMin, float& fMin, bool& bHasMax, float& fMax)
{
    bHasMin = false;
    bHasMax = false;
    fMin = 0.0f;
    fMax = 0.0f;
    if (!szParams)
        return;
    const char* pSemicolon = std::strchr(szParams, ';');
    if (!pSemicolon)
        return;
    if (pSemicolon > szParams)
    {
        // No number runs across a ';', so reading from the start of the text reads just the minimum.
        bHasMin = true;
        fMin = static_cast<float>(ZQAtoF(szParams));
    }
    if (pSemicolon[1] != '\0')
    {
        bHasMax = true;
        fMax = static_cast<float>(ZQAtoF(pSemicolon + 1));
    }
}

int FindEnumIndex(const char* szChoices, const char* szText)
{
    if (!szChoices || !szText)
        return -1;
    const char* pText = szText;
    const char* pTextEnd = szText + std::strlen(szText);
    Trim(pText, pTextEnd);

    int nIndex = 0;
    const char* p = szChoices;
    while (*p != '\0')
    {
        const char* pComma = std::strchr(p, ',');
        const char* pEnd = pComma ? pComma : p + std::strlen(p);
        const char* pChoice = p;
        Trim(pChoice, pEnd);
        if (EqualsNoCase(pChoice, pEnd, pText, pTextEnd))
            return nIndex;
        if (!pComma)
            break;
        p = pComma + 1;
        ++nIndex;
    }
    return -1;
}

int32_t RoundToInt(float f)
{
    // Stored through a volatile so that x87 builds round the sum to float as every other does.
    volatile float fSum = f >= 0.0f ? f + 0.5f : f - 0.5f;
    const float fRounded = fSum;
    // Every float in [-2^31, 2^31) truncates into the int range; NaN fails both tests.
    if (!(fRounded >= -2147483648.0f && fRounded < 2147483648.0f))
        return INT_MIN;
    return static_cast<int32_t>(fRounded);
}

std::vector<std::string> EnumChoiceList(const std::string& sChoices)
{
    std::vector<std::string> choices;
    size_t nStart = 0;
    while (nStart < sChoices.size())
    {
        size_t nComma = sChoices.find(',', nStart);
        if (nComma == std::string::npos)
            nComma = sChoices.size();
        const std::string sChoice = sChoices.substr(nStart, nComma - nStart);
        const size_t nFirst = sChoice.find_first_not_of(" \t\r\n\v\f");
        const size_t nLast = sChoice.find_last_not_of(" \t\r\n\v\f");
        choices.push_back(nFirst == std::string::npos ? std::string()
                                                      : sChoice.substr(nFirst, nLast - nFirst + 1));
        nStart = nComma + 1;
    }
    return choices;
}
