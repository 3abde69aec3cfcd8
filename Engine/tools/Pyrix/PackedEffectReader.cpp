#include "PackedEffectReader.h"

#include "pyrixmodule.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace
{
constexpr uint32_t kMagic = 0x5846515Au; // "ZQFX" as it lies in the file, read little-endian
constexpr uint32_t kVersion = 2;
constexpr uint32_t kEffectRecordSize = 12;   // name, length, key count
constexpr uint32_t kKeyRecordSize = 24;      // type, start, end, id, link id, property count
constexpr uint32_t kPropertyHeadSize = 8;    // name, skip offset
constexpr uint32_t kTypesPerPass = 1u << 22; // key counters held at once (16 MB)
constexpr uint32_t kChunk = 4096;            // bytes scanned at once for a string's end

std::string Hex(uint64_t n)
{
    char sz[24];
    std::snprintf(sz, sizeof(sz), "0x%llX", static_cast<unsigned long long>(n));
    return sz;
}
} // namespace

uint32_t PackedValueSize(uint32_t eType)
{
    switch (eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Int:
    case ePT_Float:
    case ePT_Animation:
    case ePT_SparkrigRef:
        return 4;
    case ePT_Color:
        return 16;
    case ePT_Vector:
        return 12;
    default:
        return 0;
    }
}

bool CPackedEffectReader::CMemorySource::ReadAt(uint64_t nOffset, void* p, size_t nBytes)
{
    std::memcpy(p, m_pData + nOffset, nBytes);
    return true;
}

bool CPackedEffectReader::ReadBytes(uint64_t nOffset, void* p, size_t nBytes) const
{
    if (!Fits(nOffset, nBytes) || !m_pSource)
    {
        std::memset(p, 0, nBytes);
        return false;
    }
    if (nBytes && !m_pSource->ReadAt(nOffset, p, nBytes))
    {
        std::memset(p, 0, nBytes);
        m_bReadError = true;
        return false;
    }
    return true;
}

uint32_t CPackedEffectReader::ReadU32(uint64_t nFileOffset) const
{
    uint8_t p[4];
    ReadBytes(nFileOffset, p, 4);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float CPackedEffectReader::ReadF32(uint64_t nFileOffset) const
{
    const uint32_t nBits = ReadU32(nFileOffset);
    float f;
    std::memcpy(&f, &nBits, sizeof(f));
    return f;
}

void CPackedEffectReader::AddProblem(uint64_t nOffset, std::string sText)
{
    if (m_Problems.size() < MAX_PROBLEMS)
        m_Problems.push_back({static_cast<uint32_t>(nOffset), std::move(sText)});
    else
        ++m_nMoreProblems;
}

void CPackedEffectReader::Report(bool bReport, uint64_t nOffset, std::string sText) const
{
    // Only the walks that own the problem list report; NextEffect reads quietly.
    if (bReport)
        const_cast<CPackedEffectReader*>(this)->AddProblem(nOffset, std::move(sText));
}

void CPackedEffectReader::Reset()
{
    m_pSource = nullptr;
    m_nSize = 0;
    m_Header = Header();
    m_nNumStrings = 0;
    m_nStringsEnd = 0;
    m_bReadError = false;
    m_Curves.clear();
    m_Problems.clear();
    m_nMoreProblems = 0;
}

bool CPackedEffectReader::Read(const uint8_t* pData, size_t nSize)
{
    m_Memory.m_pData = pData;
    m_Memory.m_nSize = nSize;
    return Read(m_Memory);
}

bool CPackedEffectReader::Read(IPackedSource& source)
{
    Reset();
    m_pSource = &source;
    m_nSize = source.GetSize();
    if (m_nSize < HEADER_SIZE)
    {
        AddProblem(0, "the file is " + std::to_string(m_nSize) + " bytes, shorter than the 40-byte header");
        return false;
    }
    if (m_nSize > 0xFFFFFFFFu)
    {
        AddProblem(0, "the file is larger than 32-bit offsets can address");
        return false;
    }
    uint32_t* const pWords[] = {&m_Header.nMagic,
                                &m_Header.nVersion,
                                &m_Header.nModuleVersion,
                                &m_Header.nStringTableSize,
                                &m_Header.nCurveDataSize,
                                &m_Header.nNumKeys,
                                &m_Header.nNumEffects,
                                &m_Header.nNumEffectTypes,
                                &m_Header.nStringTableOffset,
                                &m_Header.nEffectIndexOffset};
    static_assert(sizeof(pWords) / sizeof(pWords[0]) == HEADER_SIZE / 4, "ten header words");
    for (uint32_t i = 0; i < HEADER_SIZE / 4; ++i)
        *pWords[i] = ReadU32(4 * i);

    if (m_Header.nMagic != kMagic)
        AddProblem(0, "the magic is " + Hex(m_Header.nMagic) + ", not \"ZQFX\"");
    if (m_Header.nVersion != kVersion)
        AddProblem(4, "version " + std::to_string(m_Header.nVersion) + ", expected 2");
    bool bWalked = ReadSections();
    if (bWalked)
    {
        ReadStringTable();
        bWalked = WalkEffects();
    }
    if (m_bReadError)
    {
        AddProblem(0, "the file could not be read to its end");
        bWalked = false;
    }
    return bWalked;
}

bool CPackedEffectReader::ReadSections()
{
    const Header& h = m_Header;
    const uint64_t nCountsEnd = HEADER_SIZE + 4ull * h.nNumEffectTypes;
    if (!Fits(HEADER_SIZE, 4ull * h.nNumEffectTypes))
    {
        AddProblem(28,
                   std::to_string(h.nNumEffectTypes) + " effect types: their key counts run past the end");
        return false;
    }
    if (h.nStringTableOffset != nCountsEnd)
        AddProblem(32, "the string table is said to start at " + Hex(h.nStringTableOffset) +
                           "; it must follow the key counts at " + Hex(nCountsEnd));
    if (h.nStringTableSize % 4 != 0)
        AddProblem(12,
                   "the string table size " + std::to_string(h.nStringTableSize) + " is not a multiple of 4");
    if (h.nCurveDataSize % 4 != 0)
        AddProblem(16,
                   "the curve section size " + std::to_string(h.nCurveDataSize) + " is not a multiple of 4");
    if (h.nEffectIndexOffset % 4 != 0)
        AddProblem(36, "the effect index offset " + Hex(h.nEffectIndexOffset) + " is not 4-byte aligned");

    const uint64_t nCurveEnd = uint64_t(h.nStringTableOffset) + h.nStringTableSize + h.nCurveDataSize;
    if (h.nStringTableOffset < nCountsEnd || nCurveEnd > m_nSize)
    {
        AddProblem(12, "the string table and curve section (" + Hex(h.nStringTableOffset) + " to " +
                           Hex(nCurveEnd) + ") do not lie inside the file");
        return false;
    }
    if (h.nEffectIndexOffset < nCurveEnd)
    {
        AddProblem(36, "the effect index at " + Hex(h.nEffectIndexOffset) +
                           " does not lie after the curve section (" + Hex(nCurveEnd) + ")");
        return false;
    }
    if (!Fits(h.nEffectIndexOffset, 4ull * h.nNumEffects))
    {
        AddProblem(36, "the effect index at " + Hex(h.nEffectIndexOffset) + " with " +
                           std::to_string(h.nNumEffects) + " entries runs past the end of the file (" +
                           Hex(m_nSize) + ")");
        return false;
    }
    if (uint64_t(h.nEffectIndexOffset) + 4ull * h.nNumEffects != m_nSize)
        AddProblem(h.nEffectIndexOffset, "the effect index ends at " +
                                             Hex(uint64_t(h.nEffectIndexOffset) + 4ull * h.nNumEffects) +
                                             ", not at the end of the file (" + Hex(m_nSize) + ")");
    return true;
}

void CPackedEffectReader::ReadStringTable()
{
    const uint32_t nBase = m_Header.nStringTableOffset;
    const uint32_t nSize = m_Header.nStringTableSize;
    uint8_t chunk[kChunk];
    uint32_t nPos = 0;
    while (nPos < nSize)
    {
        // The terminator of the string at nPos.
        uint32_t nNul = nPos;
        bool bFound = false;
        while (!bFound && nNul < nSize)
        {
            const uint32_t nBytes = std::min(kChunk, nSize - nNul);
            ReadBytes(uint64_t(nBase) + nNul, chunk, nBytes);
            const void* pNul = std::memchr(chunk, 0, nBytes);
            bFound = pNul != nullptr;
            nNul += bFound ? static_cast<uint32_t>(static_cast<const uint8_t*>(pNul) - chunk) : nBytes;
        }
        if (!bFound)
        {
            AddProblem(nBase + nPos, "the last string of the table has no terminator");
            m_nStringsEnd = nPos;
            return;
        }
        ++m_nNumStrings;
        const uint32_t nEnd = nNul + 1;
        const uint32_t nNext = std::min<uint32_t>((nEnd + 3) & ~3u, nSize);
        uint8_t padding[4] = {};
        ReadBytes(uint64_t(nBase) + nEnd, padding, nNext - nEnd);
        for (uint32_t i = 0; i < nNext - nEnd; ++i)
            if (padding[i] != 0)
            {
                AddProblem(nBase + nEnd + i, "a padding byte of the string table is not zero");
                break;
            }
        nPos = nNext;
    }
    m_nStringsEnd = nSize;
}

bool CPackedEffectReader::IsString(uint32_t nTableOffset) const
{
    // Strings start 4-byte aligned, right after the zero bytes that end the one before.
    if (nTableOffset >= m_nStringsEnd || nTableOffset % 4 != 0)
        return false;
    return nTableOffset == 0 || ReadU32(uint64_t(m_Header.nStringTableOffset) + nTableOffset - 4) >> 24 == 0;
}

bool CPackedEffectReader::GetString(uint32_t nTableOffset, std::string& sText) const
{
    sText.clear();
    if (!IsString(nTableOffset))
        return false;
    char chunk[64]; // names are short: most fit in one read
    for (uint32_t nPos = nTableOffset; nPos < m_Header.nStringTableSize;)
    {
        const uint32_t nBytes = std::min<uint32_t>(sizeof(chunk), m_Header.nStringTableSize - nPos);
        ReadBytes(uint64_t(m_Header.nStringTableOffset) + nPos, chunk, nBytes);
        const size_t nLen = strnlen(chunk, nBytes);
        sText.append(chunk, nLen);
        if (nLen < nBytes)
            break;
        nPos += nBytes;
    }
    return true;
}

bool CPackedEffectReader::GetName(uint32_t nTableOffset, std::string& sText) const
{
    sText.clear();
    if (!IsString(nTableOffset))
        return false;
    char chunk[64];
    for (uint32_t nPos = nTableOffset; nPos < m_Header.nStringTableSize;)
    {
        const uint32_t nBytes = std::min<uint32_t>(sizeof(chunk), m_Header.nStringTableSize - nPos);
        ReadBytes(uint64_t(m_Header.nStringTableOffset) + nPos, chunk, nBytes);
        const size_t nLen = strnlen(chunk, nBytes);
        sText.append(chunk, nLen);
        if (nLen < nBytes)
            break;
        if (sText.size() >= MAX_NAME)
        {
            sText.resize(MAX_NAME);
            sText += "...";
            break;
        }
        nPos += nBytes;
    }
    return true;
}

bool CPackedEffectReader::NextString(uint32_t& nPos, uint32_t& nStart) const
{
    if (nPos >= m_nStringsEnd)
        return false;
    nStart = nPos;
    // The next string starts after this one's terminator and padding; where no string starts
    // (its padding is damaged), four bytes on.
    char chunk[256];
    for (bool bEnd = !IsString(nPos); !bEnd && nPos < m_Header.nStringTableSize;)
    {
        const uint32_t nBytes = std::min<uint32_t>(sizeof(chunk), m_Header.nStringTableSize - nPos);
        ReadBytes(uint64_t(m_Header.nStringTableOffset) + nPos, chunk, nBytes);
        const uint32_t nLen = static_cast<uint32_t>(strnlen(chunk, nBytes));
        bEnd = nLen < nBytes;
        nPos += bEnd ? nLen : nBytes;
    }
    nPos = std::min<uint32_t>((nPos + 4) & ~3u, m_Header.nStringTableSize);
    return true;
}

void CPackedEffectReader::CheckStringOffset(uint32_t nFileOffset, uint32_t nTableOffset, const char* pszWhat)
{
    if (!IsString(nTableOffset))
        AddProblem(nFileOffset, std::string(pszWhat) + " " + Hex(nTableOffset) +
                                    " does not point at the start of a string in the table");
}

bool CPackedEffectReader::ParseEffectHead(uint32_t& nPos, Effect& effect, uint32_t& nNumKeys,
                                          bool bReport) const
{
    const uint32_t nEnd = m_Header.nEffectIndexOffset;
    if (nEnd - nPos < kEffectRecordSize)
    {
        Report(bReport, nPos, "an effect record is cut short by the effect index");
        return false;
    }
    effect.nOffset = nPos;
    effect.nNameOffset = ReadU32(nPos);
    effect.nLength = ReadU32(nPos + 4);
    effect.keys.clear();
    nNumKeys = ReadU32(nPos + 8);
    if (bReport && !IsString(effect.nNameOffset))
        Report(true, nPos,
               "the effect name offset " + Hex(effect.nNameOffset) +
                   " does not point at the start of a string in the table");
    nPos += kEffectRecordSize;
    if (uint64_t(nNumKeys) * kKeyRecordSize > nEnd - nPos)
    {
        Report(bReport, nPos - 4, std::to_string(nNumKeys) + " keys cannot fit before the effect index");
        return false;
    }
    return true;
}

bool CPackedEffectReader::ParseEffect(uint32_t& nPos, Effect& effect, bool bReport) const
{
    uint32_t nNumKeys = 0;
    if (!ParseEffectHead(nPos, effect, nNumKeys, bReport))
        return false;
    effect.keys.resize(nNumKeys);
    for (Key& key : effect.keys)
    {
        uint32_t nNumProps = 0;
        if (!ParseKeyHead(nPos, key, nNumProps, bReport))
            return false;
        key.props.resize(nNumProps);
        for (Property& prop : key.props)
            if (!ParseProperty(nPos, prop, bReport))
                return false;
    }
    return true;
}

bool CPackedEffectReader::ParseKeyHead(uint32_t& nPos, Key& key, uint32_t& nNumProps, bool bReport) const
{
    const uint32_t nEnd = m_Header.nEffectIndexOffset;
    if (nEnd - nPos < kKeyRecordSize)
    {
        Report(bReport, nPos, "a key record is cut short by the effect index");
        return false;
    }
    key.nOffset = nPos;
    key.nTypeID = ReadU32(nPos);
    key.fStartTime = ReadF32(nPos + 4);
    key.fEndTime = ReadF32(nPos + 8);
    key.nID = ReadU32(nPos + 12);
    key.nMotionLinkID = ReadU32(nPos + 16);
    key.props.clear();
    nNumProps = ReadU32(nPos + 20);
    if (key.nTypeID >= m_Header.nNumEffectTypes)
        Report(bReport, nPos,
               "type id " + std::to_string(key.nTypeID) + " is not below the type count " +
                   std::to_string(m_Header.nNumEffectTypes));
    nPos += kKeyRecordSize;
    if (uint64_t(nNumProps) * (kPropertyHeadSize + 4) > nEnd - nPos)
    {
        Report(bReport, nPos - 4,
               std::to_string(nNumProps) + " properties cannot fit before the effect index");
        return false;
    }
    return true;
}

bool CPackedEffectReader::ParseProperty(uint32_t& nPos, Property& prop, bool bReport) const
{
    const uint32_t nEnd = m_Header.nEffectIndexOffset;
    if (nEnd - nPos < kPropertyHeadSize)
    {
        Report(bReport, nPos, "a property record is cut short by the effect index");
        return false;
    }
    prop.nOffset = nPos;
    prop.nNameOffset = ReadU32(nPos);
    prop.nSkipOffset = ReadU32(nPos + 4);
    prop.nValueOffset = nPos + kPropertyHeadSize;
    if (bReport && !IsString(prop.nNameOffset))
        Report(true, nPos,
               "the property name offset " + Hex(prop.nNameOffset) +
                   " does not point at the start of a string in the table");
    if (prop.nSkipOffset <= prop.nValueOffset || prop.nSkipOffset > nEnd || prop.nSkipOffset % 4 != 0)
    {
        Report(bReport, nPos + 4,
               "the skip offset " + Hex(prop.nSkipOffset) +
                   " does not lead to the next record (it must be 4-byte aligned, after " +
                   Hex(prop.nValueOffset) + " and not past the effect index at " + Hex(nEnd) + ")");
        return false;
    }
    prop.nValueSize = prop.nSkipOffset - prop.nValueOffset;
    if (prop.nValueSize != 4 && prop.nValueSize != 12 && prop.nValueSize != 16)
        Report(bReport, nPos + 4,
               "the skip offset leaves " + std::to_string(prop.nValueSize) +
                   " value bytes; values take 4, 12 or 16");
    nPos = prop.nSkipOffset;
    return true;
}

bool CPackedEffectReader::WalkEffect(uint32_t& nPos, Effect& effect, bool bReport,
                                     IRecordVisitor& visitor) const
{
    uint32_t nNumKeys = 0;
    if (!ParseEffectHead(nPos, effect, nNumKeys, bReport))
        return false;
    if (!visitor.OnEffect(effect, nNumKeys))
    {
        // Skipped: the records are stepped over without being looked at.
        Key key;
        Property prop;
        for (uint32_t k = 0; k < nNumKeys; ++k)
        {
            uint32_t nNumProps = 0;
            if (!ParseKeyHead(nPos, key, nNumProps, bReport))
                return false;
            for (uint32_t p = 0; p < nNumProps; ++p)
                if (!ParseProperty(nPos, prop, bReport))
                    return false;
        }
        return true;
    }
    Key key;
    Property prop;
    for (uint32_t k = 0; k < nNumKeys; ++k)
    {
        uint32_t nNumProps = 0;
        if (!ParseKeyHead(nPos, key, nNumProps, bReport))
            return false;
        visitor.OnKey(key, nNumProps);
        for (uint32_t p = 0; p < nNumProps; ++p)
        {
            if (!ParseProperty(nPos, prop, bReport))
                return false;
            visitor.OnProperty(key, prop);
        }
        visitor.OnKeyEnd(key);
    }
    visitor.OnEffectEnd(effect);
    return true;
}

bool CPackedEffectReader::NextEffect(uint32_t& nPos, Effect& effect, IRecordVisitor& visitor) const
{
    if (nPos < GetEffectsStart() || nPos >= m_Header.nEffectIndexOffset)
        return false;
    const uint32_t nIndex = nPos == GetEffectsStart() ? 0 : effect.nIndex + 1;
    effect.nIndex = nIndex;
    if (!WalkEffect(nPos, effect, false, visitor))
    {
        nPos = m_Header.nEffectIndexOffset;
        return false;
    }
    return true;
}

bool CPackedEffectReader::NextEffect(uint32_t& nPos, Effect& effect) const
{
    if (nPos < GetEffectsStart() || nPos >= m_Header.nEffectIndexOffset)
        return false;
    const uint32_t nIndex = nPos == GetEffectsStart() ? 0 : effect.nIndex + 1;
    if (!ParseEffect(nPos, effect, false))
    {
        nPos = m_Header.nEffectIndexOffset;
        return false;
    }
    effect.nIndex = nIndex;
    return true;
}

namespace
{
class CPropertyVisitor : public IRecordVisitor
{
public:
    explicit CPropertyVisitor(const std::function<void(const CPackedEffectReader::Key&,
                                                       const CPackedEffectReader::Property&)>& visit)
        : m_Visit(visit)
    {
    }
    bool OnEffect(const CPackedEffectReader::Effect&, uint32_t) override { return true; }
    void OnProperty(const CPackedEffectReader::Key& key, const CPackedEffectReader::Property& prop) override
    {
        m_Visit(key, prop);
    }

private:
    const std::function<void(const CPackedEffectReader::Key&, const CPackedEffectReader::Property&)>& m_Visit;
};

// Counts the keys of each type from nFirst on, for as many types as counts holds.
class CKeyCounter : public IRecordVisitor
{
public:
    CKeyCounter(std::vector<uint32_t>& counts, uint32_t nFirst) : m_Counts(counts), m_nFirst(nFirst) {}
    uint64_t m_nKeys = 0;
    bool OnEffect(const CPackedEffectReader::Effect&, uint32_t nNumKeys) override
    {
        m_nKeys += nNumKeys;
        return true;
    }
    void OnKey(const CPackedEffectReader::Key& key, uint32_t) override
    {
        if (key.nTypeID >= m_nFirst && key.nTypeID - m_nFirst < m_Counts.size())
            ++m_Counts[key.nTypeID - m_nFirst];
    }

private:
    std::vector<uint32_t>& m_Counts;
    uint32_t m_nFirst;
};
} // namespace

bool CPackedEffectReader::WalkEffects()
{
    const Header& h = m_Header;
    const uint32_t nIndexBase = h.nEffectIndexOffset;
    // Key counts of the first types are gathered in this walk, those of any further types in
    // walks of their own, so that a file of millions of types needs no more memory.
    std::vector<uint32_t> counted(std::min(h.nNumEffectTypes, kTypesPerPass), 0);
    CKeyCounter counter(counted, 0);
    uint64_t nEffects = 0;
    Effect effect;
    uint32_t nPos = GetEffectsStart();
    bool bWalked = true;
    while (nPos < h.nEffectIndexOffset)
    {
        if (!WalkEffect(nPos, effect, true, counter))
        {
            bWalked = false;
            break;
        }
        if (nEffects < h.nNumEffects)
        {
            const uint32_t nEntry = ReadU32(nIndexBase + 4 * nEffects);
            CheckStringOffset(static_cast<uint32_t>(nIndexBase + 4 * nEffects), nEntry, "the index entry");
            if (nEntry != effect.nNameOffset)
                AddProblem(nIndexBase + 4 * nEffects,
                           "index entry " + std::to_string(nEffects) + " is " + Hex(nEntry) + " but effect " +
                               std::to_string(nEffects) + " is named at " + Hex(effect.nNameOffset));
        }
        ++nEffects;
    }
    for (uint64_t i = nEffects; i < h.nNumEffects; ++i)
        CheckStringOffset(static_cast<uint32_t>(nIndexBase + 4 * i), ReadU32(nIndexBase + 4 * i),
                          "the index entry");
    if (!bWalked)
        return false;

    if (nEffects != h.nNumEffects)
        AddProblem(24, "the header counts " + std::to_string(h.nNumEffects) + " effects; the records hold " +
                           std::to_string(nEffects));
    if (counter.m_nKeys != h.nNumKeys)
        AddProblem(20, "the header counts " + std::to_string(h.nNumKeys) + " keys; the records hold " +
                           std::to_string(counter.m_nKeys));
    for (uint32_t nFirst = 0; nFirst < h.nNumEffectTypes; nFirst += kTypesPerPass)
    {
        if (nFirst != 0)
        {
            counted.assign(std::min(h.nNumEffectTypes - nFirst, kTypesPerPass), 0);
            CKeyCounter more(counted, nFirst);
            for (uint32_t nAt = GetEffectsStart(); NextEffect(nAt, effect, more);)
            {
            }
        }
        for (uint32_t i = 0; i < counted.size(); ++i)
        {
            const uint32_t nCount = GetKeyCount(nFirst + i);
            if (nCount != counted[i])
                AddProblem(HEADER_SIZE + 4ull * (nFirst + i),
                           "type " + std::to_string(nFirst + i) + " is counted " + std::to_string(nCount) +
                               " times; the records hold " + std::to_string(counted[i]) + " keys of it");
        }
    }
    return true;
}

const CPackedEffectReader::Curve* CPackedEffectReader::FindCurve(uint32_t nCurveOffset) const
{
    const auto it =
        std::lower_bound(m_Curves.begin(), m_Curves.end(), nCurveOffset,
                         [](const Curve& curve, uint32_t nOffset) { return curve.nOffset < nOffset; });
    return it != m_Curves.end() && it->nOffset == nCurveOffset ? &*it : nullptr;
}

void CPackedEffectReader::CheckValue(uint32_t nFileOffset, const ValueInfo& info, const char* pszName)
{
    switch (info.eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Animation:
    case ePT_SparkrigRef:
        CheckStringOffset(nFileOffset, ReadU32(nFileOffset), "the string value offset");
        break;
    case ePT_Enum:
    {
        // Counted as the packer walks the choices: a trailing comma adds no empty choice. Index 0
        // also stands for a value whose default is none of the choices.
        uint32_t nChoices = 0;
        for (size_t nPos = 0; nPos < info.sParams.size(); ++nChoices)
        {
            const size_t nComma = info.sParams.find(',', nPos);
            if (nComma == std::string::npos)
            {
                ++nChoices;
                break;
            }
            nPos = nComma + 1;
        }
        const uint32_t nIndex = ReadU32(nFileOffset);
        if (nIndex != 0 && nIndex >= nChoices)
            AddProblem(nFileOffset, std::string("property \"") + pszName + "\" has enum index " +
                                        std::to_string(nIndex) + " of " + std::to_string(nChoices) +
                                        " choices");
        break;
    }
    default:
        break;
    }
}

void CPackedEffectReader::CheckPropertyValue(uint32_t nTypeID, const Property& prop,
                                             const ValueLookup& lookup)
{
    ValueInfo info;
    const bool bNamed = GetName(prop.nNameOffset, m_sName);
    if (!bNamed || !lookup(nTypeID, m_sName.c_str(), info))
    {
        AddProblem(prop.nOffset, "the module has no property \"" + (bNamed ? m_sName : std::string("?")) +
                                     "\" for type " + std::to_string(nTypeID));
        return;
    }
    const uint32_t nExpected = info.bFunctionCurve ? 4 : PackedValueSize(info.eType);
    if (nExpected == 0)
        AddProblem(prop.nOffset, "property \"" + m_sName + "\" has a type that writes no value");
    else if (prop.nValueSize != nExpected)
        AddProblem(prop.nOffset + 4, "property \"" + m_sName + "\" holds " + std::to_string(prop.nValueSize) +
                                         " value bytes; its type takes " + std::to_string(nExpected));
    else if (!info.bFunctionCurve)
        CheckValue(prop.nValueOffset, info, m_sName.c_str());
}

void CPackedEffectReader::CheckEffectValues(const Effect& effect, const ValueLookup& lookup)
{
    for (const Key& key : effect.keys)
        for (const Property& prop : key.props)
            CheckPropertyValue(key.nTypeID, prop, lookup);
}

void CPackedEffectReader::CheckValues(const ValueLookup& lookup, bool bHasNoValueCurves)
{
    // The first property that refers to each curve record: the section does not record each
    // curve's value type, the properties that refer to a curve tell it, and the writer never
    // shares a record between two types.
    std::unordered_map<uint32_t, CurveRef> refs;
    std::string& sName = m_sName;
    const auto eachProperty = [this](const std::function<void(const Key&, const Property&)>& visit)
    {
        CPropertyVisitor visitor(visit);
        Effect effect;
        for (uint32_t nPos = GetEffectsStart(); NextEffect(nPos, effect, visitor);)
        {
        }
    };
    const auto eachCurveProperty = [&](const std::function<void(const Property&, const ValueInfo&)>& visit)
    {
        eachProperty(
            [&](const Key& key, const Property& prop)
            {
                ValueInfo info;
                if (GetName(prop.nNameOffset, sName) && lookup(key.nTypeID, sName.c_str(), info) &&
                    info.bFunctionCurve && prop.nValueSize == 4)
                    visit(prop, info);
            });
    };
    eachProperty([&](const Key& key, const Property& prop)
                 { CheckPropertyValue(key.nTypeID, prop, lookup); });
    eachCurveProperty(
        [&](const Property& prop, const ValueInfo& info)
        {
            const uint32_t nCurve = ReadU32(prop.nValueOffset);
            const auto inserted = refs.emplace(nCurve, CurveRef{prop.nValueOffset, prop.nNameOffset, info});
            const CurveRef& first = inserted.first->second;
            if (!inserted.second && first.info.eType != info.eType)
            {
                std::string sFirst;
                GetName(first.nNameOffset, sFirst);
                AddProblem(prop.nValueOffset, "property \"" + sName + "\" refers to the curve at " +
                                                  Hex(nCurve) + " as type " + std::to_string(info.eType) +
                                                  "; property \"" + sFirst + "\" at " +
                                                  Hex(first.nFileOffset) + " refers to it as type " +
                                                  std::to_string(first.info.eType));
            }
        });
    FindCurves(
        [&refs](uint32_t nOffset)
        {
            const auto it = refs.find(nOffset);
            return it == refs.end() ? nullptr : &it->second;
        },
        bHasNoValueCurves);
    refs.clear();
    eachCurveProperty(
        [&](const Property& prop, const ValueInfo&)
        {
            const uint32_t nCurve = ReadU32(prop.nValueOffset);
            if (!IsCurveStart(nCurve))
                AddProblem(prop.nValueOffset, "property \"" + sName + "\" refers to curve offset " +
                                                  Hex(nCurve) + ", where no curve record starts");
        });
}

void CPackedEffectReader::FindCurves(const std::function<const CurveRef*(uint32_t)>& refAt,
                                     bool bHasNoValueCurves)
{
    // A record nobody refers to can only be a curve of a type that writes no value.
    const uint32_t nBase = GetCurveSectionOffset();
    const uint32_t nSize = m_Header.nCurveDataSize;
    std::string sName;
    uint32_t nPos = 0;
    while (nPos < nSize)
    {
        Curve curve;
        curve.nOffset = nPos;
        const CurveRef* pRef = refAt(nPos);
        curve.bReferenced = pRef != nullptr;
        curve.eType = pRef ? pRef->info.eType : uint32_t(ePT_NoValue);
        if (!curve.bReferenced && !bHasNoValueCurves)
        {
            AddProblem(nBase + nPos, "no property refers to the curve record at " + Hex(nPos));
            return;
        }
        curve.nValueSize = PackedValueSize(curve.eType);
        if (nSize - nPos < 4)
        {
            AddProblem(nBase + nPos, "a curve record is cut short by the end of the section");
            return;
        }
        curve.nNumKeys = ReadU32(nBase + nPos);
        const uint64_t nRecord = 4 + uint64_t(curve.nNumKeys) * (4 + curve.nValueSize);
        if (nRecord > nSize - nPos)
        {
            AddProblem(nBase + nPos, "the curve record at " + Hex(nPos) + " with " +
                                         std::to_string(curve.nNumKeys) +
                                         " keys runs past the end of the section");
            return;
        }
        if (pRef && curve.nValueSize != 0)
        {
            GetName(pRef->nNameOffset, sName);
            for (uint32_t k = 0; k < curve.nNumKeys; ++k)
                CheckValue(nBase + nPos + 8 + k * (4 + curve.nValueSize), pRef->info, sName.c_str());
        }
        m_Curves.push_back(curve);
        nPos += static_cast<uint32_t>(nRecord);
    }
}
