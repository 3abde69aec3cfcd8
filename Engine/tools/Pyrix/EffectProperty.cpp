#include "EffectProperty.h"

#include "ZQNumbers.h"
#include "zqstrutils.h"

#include <algorithm>
#include <climits>
#include <cmath>
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

} // namespace

CEffectProperty::CEffectProperty(const EffectPropDesc* pDesc) : m_pDesc(pDesc)
{
    ZQCheckSite(pDesc != nullptr, "pDesc", ZQ_THIS_FILE, 22, "CEffectProperty::CEffectProperty",
                "Error: Null property description used", s_bIgnoreNullDesc);
    switch (pDesc ? pDesc->eType : static_cast<uint32_t>(ePT_None))
    {
    case ePT_Int:
    case ePT_Float:
    case ePT_Color:
        m_eKind = ValueKind::Word;
        m_nValueSize = 4;
        break;
    case ePT_Vector:
        m_eKind = ValueKind::Vector;
        m_nValueSize = 12;
        break;
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Animation:
    case ePT_SparkrigRef:
        m_eKind = ValueKind::Text;
        m_nValueSize = 4;
        break;
    default:
        m_eKind = ValueKind::Record;
        m_nValueSize = sizeof(EffectPropValue);
        break;
    }
    m_nCapacity = INLINE_BYTES / RecordSize();
}

CEffectProperty::~CEffectProperty()
{
    if (!m_bInline)
        delete[] m_pHeap;
}

uint32_t CEffectProperty::ValueBytesFor(const EffectPropValue& value) const
{
    if (m_eKind != ValueKind::Text)
        return m_nValueSize;
    // The text and its terminator, in whole words.
    const uint32_t nBytes = static_cast<uint32_t>(strnlen(value.szValue, kValueSize)) + 1;
    return (nBytes + 3) & ~3u;
}

bool CEffectProperty::Relayout(uint32_t nCapacity, uint32_t nValueSize)
{
    const uint32_t nOldRecord = RecordSize();
    const uint32_t nNewRecord = 4 + nValueSize;
    const size_t nBytes = static_cast<size_t>(nCapacity) * nNewRecord;
    const bool bInline = nBytes <= INLINE_BYTES;
    uint8_t aMoved[INLINE_BYTES];
    uint8_t* pNew = aMoved;
    if (!bInline)
    {
        pNew = new (std::nothrow) uint8_t[nBytes];
        if (!pNew)
            return false;
    }
    const uint8_t* pOld = Records();
    for (uint32_t i = 0; i < m_nNumKeys; ++i)
    {
        uint8_t* pTo = pNew + static_cast<size_t>(i) * nNewRecord;
        std::memcpy(pTo, pOld + static_cast<size_t>(i) * nOldRecord, nOldRecord);
        std::memset(pTo + nOldRecord, 0, nNewRecord - nOldRecord);
    }
    if (!m_bInline)
        delete[] m_pHeap;
    if (bInline)
        std::memcpy(m_aInline, aMoved, sizeof(aMoved));
    else
        m_pHeap = pNew;
    m_bInline = bInline;
    m_nCapacity = bInline ? static_cast<uint32_t>(INLINE_BYTES / nNewRecord) : nCapacity;
    m_nValueSize = static_cast<uint16_t>(nValueSize);
    return true;
}

bool CEffectProperty::MakeRoomFor(const EffectPropValue& value)
{
    const uint32_t nNeeded = ValueBytesFor(value);
    const uint32_t nValueSize = nNeeded > m_nValueSize ? nNeeded : m_nValueSize;
    uint32_t nCapacity = m_nCapacity;
    if (m_nNumKeys == nCapacity)
        nCapacity = nCapacity < 2 ? 2 : (nCapacity > UINT32_MAX / 2 ? UINT32_MAX : nCapacity * 2);
    if (nCapacity == m_nCapacity && nValueSize == m_nValueSize)
        return true;
    return Relayout(nCapacity, nValueSize);
}

void CEffectProperty::StoreTime(uint32_t nIndex, float fTime)
{
    std::memcpy(Record(nIndex), &fTime, sizeof(fTime));
}

void CEffectProperty::StoreValue(uint32_t nIndex, const EffectPropValue& value)
{
    uint8_t* pValue = Record(nIndex) + 4;
    if (m_eKind == ValueKind::Text)
    {
        const size_t nLength = strnlen(value.szValue, kValueSize);
        std::memcpy(pValue, value.szValue, nLength);
        std::memset(pValue + nLength, 0, m_nValueSize - nLength);
    }
    else
    {
        std::memcpy(pValue, &value, m_nValueSize);
    }
}

void CEffectProperty::Store(uint32_t nIndex, const EffectPropertyKey& key)
{
    StoreTime(nIndex, key.fTime);
    StoreValue(nIndex, key.Value);
}

std::optional<EffectPropertyKey> CEffectProperty::GetKey(uint32_t nIndex) const
{
    if (nIndex >= m_nNumKeys)
        return std::nullopt;
    EffectPropertyKey key;
    std::memset(&key, 0, sizeof(key));
    key.fTime = GetKeyTime(nIndex);
    const uint8_t* pValue = Record(nIndex) + 4;
    const size_t nBytes = m_eKind == ValueKind::Text
                              ? strnlen(reinterpret_cast<const char*>(pValue), m_nValueSize)
                              : m_nValueSize;
    std::memcpy(&key.Value, pValue, nBytes);
    return key;
}

bool CEffectProperty::SetKey(uint32_t nIndex, const EffectPropertyKey& key)
{
    if (nIndex >= m_nNumKeys)
        return false;
    const uint32_t nNeeded = ValueBytesFor(key.Value);
    if (nNeeded > m_nValueSize && !Relayout(m_nCapacity, nNeeded))
        return false;
    Store(nIndex, key);
    m_bNormalized = false;
    return true;
}

float CEffectProperty::GetKeyTime(uint32_t nIndex) const
{
    float fTime;
    std::memcpy(&fTime, Record(nIndex), sizeof(fTime));
    return fTime;
}

const char* CEffectProperty::GetKeyText(uint32_t nIndex) const
{
    return reinterpret_cast<const char*>(Record(nIndex) + 4);
}

uint32_t CEffectProperty::GetKeyWord(uint32_t nIndex) const
{
    uint32_t nWord;
    std::memcpy(&nWord, Record(nIndex) + 4, sizeof(nWord));
    return nWord;
}

float CEffectProperty::GetKeyFloat(uint32_t nIndex) const
{
    float f;
    std::memcpy(&f, Record(nIndex) + 4, sizeof(f));
    return f;
}

void CEffectProperty::GetKeyVector(uint32_t nIndex, float (&afValue)[3]) const
{
    afValue[0] = afValue[1] = afValue[2] = 0.0f;
    std::memcpy(afValue, Record(nIndex) + 4, m_nValueSize < sizeof(afValue) ? m_nValueSize : sizeof(afValue));
}

size_t CEffectProperty::GetHeapBytes() const
{
    return m_bInline ? 0 : static_cast<size_t>(m_nCapacity) * RecordSize();
}

bool CEffectProperty::AppendKey(const EffectPropertyKey& key)
{
    if (m_nNumKeys >= UINT32_MAX || !MakeRoomFor(key.Value))
        return false;
    Store(m_nNumKeys, key);
    ++m_nNumKeys;
    m_bNormalized = false;
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
    if (nIndex >= m_nNumKeys)
        return;
    const size_t nRecord = RecordSize();
    std::memmove(Record(nIndex), Record(nIndex) + nRecord, (m_nNumKeys - nIndex - 1) * nRecord);
    --m_nNumKeys;
    m_bNormalized = false;
}

bool CEffectProperty::ReserveKeys(uint32_t nCount)
{
    return nCount <= m_nCapacity || Relayout(nCount, m_nValueSize);
}

void CEffectProperty::SortKeys()
{
    // The insertion sort moves a key only past a neighbour with a greater time. A NaN time compares
    // false both ways, so it stays where it is and splits the keys into runs that are sorted
    // independently; inside a run the order is the stable one. Sorting each run with a stable sort
    // gives that order in n log n, and keys already in order (no neighbour greater than the key
    // after it) cost one pass.
    const uint32_t nCount = m_nNumKeys;
    uint32_t nFirstUnordered = 1;
    while (nFirstUnordered < nCount && !(GetKeyTime(nFirstUnordered) < GetKeyTime(nFirstUnordered - 1)))
        ++nFirstUnordered;
    if (nFirstUnordered >= nCount)
        return;
    m_bNormalized = false;

    // Sort the positions, then move each key once.
    const size_t nRecord = RecordSize();
    std::vector<uint32_t> order;
    std::vector<uint8_t> sorted;
    try
    {
        order.resize(nCount);
        sorted.resize(nCount * nRecord);
    }
    catch (const std::exception&)
    {
        SortRunsInPlace();
        return;
    }
    for (uint32_t i = 0; i < nCount; ++i)
        order[i] = i;
    const auto lessByTime = [this](uint32_t a, uint32_t b) { return GetKeyTime(a) < GetKeyTime(b); };
    ForEachRun([&](size_t nBegin, size_t nEnd)
               { std::stable_sort(order.begin() + nBegin, order.begin() + nEnd, lessByTime); });
    for (uint32_t i = 0; i < nCount; ++i)
        std::memcpy(&sorted[i * nRecord], Record(order[i]), nRecord);
    std::memcpy(Records(), sorted.data(), sorted.size());
}

void CEffectProperty::SortRunsInPlace()
{
    // The insertion sort itself, run by run: no memory beyond one record.
    const size_t nRecord = RecordSize();
    uint8_t aHeld[4 + kValueSize + 4];
    ForEachRun(
        [&](size_t nBegin, size_t nEnd)
        {
            for (size_t i = nBegin + 1; i < nEnd; ++i)
            {
                const float fTime = GetKeyTime(static_cast<uint32_t>(i));
                size_t j = i;
                while (j > nBegin && fTime < GetKeyTime(static_cast<uint32_t>(j - 1)))
                    --j;
                if (j == i)
                    continue;
                std::memcpy(aHeld, Record(static_cast<uint32_t>(i)), nRecord);
                std::memmove(Record(static_cast<uint32_t>(j)) + nRecord, Record(static_cast<uint32_t>(j)),
                             (i - j) * nRecord);
                std::memcpy(Record(static_cast<uint32_t>(j)), aHeld, nRecord);
            }
        });
}

template <class Fn>
void CEffectProperty::ForEachRun(Fn fn) const
{
    const uint32_t nCount = m_nNumKeys;
    size_t nRunStart = 0;
    for (uint32_t i = 0; i <= nCount; ++i)
    {
        if (i == nCount || std::isnan(GetKeyTime(i)))
        {
            if (i - nRunStart > 1)
                fn(nRunStart, static_cast<size_t>(i));
            nRunStart = static_cast<size_t>(i) + 1;
        }
    }
}

bool CEffectProperty::IsWritable() const
{
    return m_pDesc && m_pDesc->eType != ePT_None && m_pDesc->eType != ePT_NoValue;
}

void CEffectProperty::Normalize()
{
    if (m_bNormalized)
        return;
    NormalizeKeys();
    ClampToRange();
    ValidateEnum();
    // Clamping and validating a second time change nothing; NormalizeKeys may (curve times outside
    // 0..1), unless the keys are already in the form it leaves.
    m_bNormalized = KeysInNormalForm();
}

bool CEffectProperty::KeysInNormalForm() const
{
    if (!m_pDesc || m_pDesc->eType == ePT_NoValue)
        return true;
    const uint32_t nCount = m_nNumKeys;
    if (nCount == 0)
        return false;
    for (uint32_t i = 1; i < nCount; ++i)
    {
        if (GetKeyTime(i) < GetKeyTime(i - 1))
            return false;
    }
    // Compared as bits: -0.0 would still be set to 0.0.
    const auto isExactly = [this](uint32_t nIndex, float f)
    { return std::memcmp(Record(nIndex), &f, sizeof(f)) == 0; };
    if (!isExactly(0, 0.0f))
        return false;
    if (m_pDesc->m_bFunctionCurve)
        return !m_pDesc->m_bCurveEndKey || (nCount > 1 && isExactly(nCount - 1, 1.0f));
    return nCount == 1;
}

void CEffectProperty::NormalizeKeys()
{
    if (!m_pDesc || m_pDesc->eType == ePT_NoValue)
        return;
    SortKeys();
    if (m_nNumKeys == 0)
    {
        if (m_pDesc->m_bFunctionCurve && m_pDesc->m_bCurveEndKey)
            ReserveKeys(2); // the end key follows: one array instead of a regrown one
        AddDefaultKey(0.0f);
    }
    if (m_pDesc->m_bFunctionCurve)
    {
        if (m_nNumKeys > 0)
            StoreTime(0, 0.0f);
        if (m_pDesc->m_bCurveEndKey)
        {
            if (m_nNumKeys > 1)
                StoreTime(m_nNumKeys - 1, 1.0f);
            else if (m_nNumKeys == 1)
                AddDefaultKey(1.0f);
        }
    }
    else if (m_nNumKeys > 0)
    {
        // Removing the key at index 1 until one is left keeps just the earliest key.
        m_nNumKeys = 1;
        StoreTime(0, 0.0f);
    }
    m_bNormalized = false;
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

    const uint32_t nComponents = eType == ePT_Vector ? 3 : 1;
    for (uint32_t k = 0; k < m_nNumKeys; ++k)
    {
        uint8_t* pValue = Record(k) + 4;
        for (uint32_t c = 0; c < nComponents; ++c, pValue += 4)
        {
            if (eType == ePT_Int)
            {
                int32_t nValue;
                std::memcpy(&nValue, pValue, sizeof(nValue));
                ClampValue(nValue, bHasMin, nMin, bHasMax, nMax);
                std::memcpy(pValue, &nValue, sizeof(nValue));
            }
            else
            {
                float fValue;
                std::memcpy(&fValue, pValue, sizeof(fValue));
                ClampValue(fValue, bHasMin, fMin, bHasMax, fMax);
                std::memcpy(pValue, &fValue, sizeof(fValue));
            }
        }
    }
}

void CEffectProperty::ValidateEnum()
{
    if (!m_pDesc || m_pDesc->eType != ePT_Enum)
        return;
    char szParams[kParamsSize + 1];
    CopyField<kParamsSize>(szParams, m_pDesc->szParams);
    for (uint32_t k = 0; k < m_nNumKeys; ++k)
    {
        if (FindEnumIndex(szParams, GetKeyText(k)) != -1)
            continue;
        const uint32_t nNeeded = ValueBytesFor(m_pDesc->DefaultValue);
        if (nNeeded <= m_nValueSize || Relayout(m_nCapacity, nNeeded))
            StoreValue(k, m_pDesc->DefaultValue);
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
