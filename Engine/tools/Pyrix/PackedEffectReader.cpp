#include "PackedEffectReader.h"

#include "pyrixmodule.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace
{
constexpr uint32_t kMagic = 0x5846515Au; // "ZQFX" as it lies in the file, read little-endian
constexpr uint32_t kVersion = 2;
constexpr uint32_t kEffectRecordSize = 12; // name, length, key count
constexpr uint32_t kKeyRecordSize = 24;    // type, start, end, id, link id, property count
constexpr uint32_t kPropertyHeadSize = 8;  // name, skip offset

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

uint32_t CPackedEffectReader::ReadU32(uint32_t nFileOffset) const
{
    if (!Fits(nFileOffset, 4))
        return 0;
    const uint8_t* p = m_pData + nFileOffset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float CPackedEffectReader::ReadF32(uint32_t nFileOffset) const
{
    const uint32_t nBits = ReadU32(nFileOffset);
    float f;
    std::memcpy(&f, &nBits, sizeof(f));
    return f;
}

void CPackedEffectReader::AddProblem(uint64_t nOffset, std::string sText)
{
    m_Problems.push_back({static_cast<uint32_t>(nOffset), std::move(sText)});
}

bool CPackedEffectReader::Read(const uint8_t* pData, size_t nSize)
{
    *this = CPackedEffectReader();
    m_pData = pData;
    m_nSize = nSize;
    if (nSize < HEADER_SIZE)
    {
        AddProblem(0, "the file is " + std::to_string(nSize) + " bytes, shorter than the 40-byte header");
        return false;
    }
    if (nSize > 0xFFFFFFFFu)
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
    if (!ReadSections())
        return false;
    ReadStringTable();
    const bool bWalked = ReadEffects();
    ReadIndex();
    if (bWalked)
        CheckCounts();
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
    m_KeyCounts.resize(h.nNumEffectTypes);
    for (uint32_t i = 0; i < h.nNumEffectTypes; ++i)
        m_KeyCounts[i] = ReadU32(HEADER_SIZE + 4 * i);

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
    const uint8_t* pTable = m_pData + nBase;
    uint32_t nPos = 0;
    while (nPos < nSize)
    {
        const void* pNul = std::memchr(pTable + nPos, 0, nSize - nPos);
        if (!pNul)
        {
            AddProblem(nBase + nPos, "the last string of the table has no terminator");
            return;
        }
        m_StringStarts.push_back(nPos);
        const uint32_t nEnd = static_cast<uint32_t>(static_cast<const uint8_t*>(pNul) - pTable) + 1;
        const uint32_t nNext = std::min<uint32_t>((nEnd + 3) & ~3u, nSize);
        for (uint32_t i = nEnd; i < nNext; ++i)
            if (pTable[i] != 0)
            {
                AddProblem(nBase + i, "a padding byte of the string table is not zero");
                break;
            }
        nPos = nNext;
    }
}

const char* CPackedEffectReader::GetString(uint32_t nTableOffset) const
{
    if (!std::binary_search(m_StringStarts.begin(), m_StringStarts.end(), nTableOffset))
        return nullptr;
    return reinterpret_cast<const char*>(m_pData + m_Header.nStringTableOffset + nTableOffset);
}

void CPackedEffectReader::CheckStringOffset(uint32_t nFileOffset, uint32_t nTableOffset, const char* pszWhat)
{
    if (!GetString(nTableOffset))
        AddProblem(nFileOffset, std::string(pszWhat) + " " + Hex(nTableOffset) +
                                    " does not point at the start of a string in the table");
}

bool CPackedEffectReader::ReadEffects()
{
    const uint32_t nEnd = m_Header.nEffectIndexOffset;
    uint32_t nPos = GetCurveSectionOffset() + m_Header.nCurveDataSize;
    while (nPos < nEnd)
    {
        if (nEnd - nPos < kEffectRecordSize)
        {
            AddProblem(nPos, "an effect record is cut short by the effect index");
            return false;
        }
        Effect effect;
        effect.nOffset = nPos;
        effect.nNameOffset = ReadU32(nPos);
        effect.nLength = ReadU32(nPos + 4);
        const uint32_t nNumKeys = ReadU32(nPos + 8);
        CheckStringOffset(nPos, effect.nNameOffset, "the effect name offset");
        nPos += kEffectRecordSize;
        if (uint64_t(nNumKeys) * kKeyRecordSize > nEnd - nPos)
        {
            AddProblem(nPos - 4, std::to_string(nNumKeys) + " keys cannot fit before the effect index");
            return false;
        }
        effect.keys.resize(nNumKeys);
        for (Key& key : effect.keys)
            if (!ReadKey(nPos, nEnd, key))
                return false;
        m_Effects.push_back(std::move(effect));
    }
    return true;
}

bool CPackedEffectReader::ReadKey(uint32_t& nPos, uint32_t nEnd, Key& key)
{
    if (nEnd - nPos < kKeyRecordSize)
    {
        AddProblem(nPos, "a key record is cut short by the effect index");
        return false;
    }
    key.nOffset = nPos;
    key.nTypeID = ReadU32(nPos);
    key.fStartTime = ReadF32(nPos + 4);
    key.fEndTime = ReadF32(nPos + 8);
    key.nID = ReadU32(nPos + 12);
    key.nMotionLinkID = ReadU32(nPos + 16);
    const uint32_t nNumProps = ReadU32(nPos + 20);
    if (key.nTypeID >= m_Header.nNumEffectTypes)
        AddProblem(nPos, "type id " + std::to_string(key.nTypeID) + " is not below the type count " +
                             std::to_string(m_Header.nNumEffectTypes));
    nPos += kKeyRecordSize;
    if (uint64_t(nNumProps) * (kPropertyHeadSize + 4) > nEnd - nPos)
    {
        AddProblem(nPos - 4, std::to_string(nNumProps) + " properties cannot fit before the effect index");
        return false;
    }
    key.props.resize(nNumProps);
    for (Property& prop : key.props)
    {
        if (nEnd - nPos < kPropertyHeadSize)
        {
            AddProblem(nPos, "a property record is cut short by the effect index");
            return false;
        }
        prop.nOffset = nPos;
        prop.nNameOffset = ReadU32(nPos);
        prop.nSkipOffset = ReadU32(nPos + 4);
        prop.nValueOffset = nPos + kPropertyHeadSize;
        CheckStringOffset(nPos, prop.nNameOffset, "the property name offset");
        if (prop.nSkipOffset <= prop.nValueOffset || prop.nSkipOffset > nEnd || prop.nSkipOffset % 4 != 0)
        {
            AddProblem(nPos + 4, "the skip offset " + Hex(prop.nSkipOffset) +
                                     " does not lead to the next record (it must be 4-byte aligned, after " +
                                     Hex(prop.nValueOffset) + " and not past the effect index at " +
                                     Hex(nEnd) + ")");
            return false;
        }
        prop.nValueSize = prop.nSkipOffset - prop.nValueOffset;
        if (prop.nValueSize != 4 && prop.nValueSize != 12 && prop.nValueSize != 16)
            AddProblem(nPos + 4, "the skip offset leaves " + std::to_string(prop.nValueSize) +
                                     " value bytes; values take 4, 12 or 16");
        nPos = prop.nSkipOffset;
    }
    return true;
}

void CPackedEffectReader::ReadIndex()
{
    const uint32_t nBase = m_Header.nEffectIndexOffset;
    if (!Fits(nBase, 4ull * m_Header.nNumEffects))
        return;
    m_Index.resize(m_Header.nNumEffects);
    for (uint32_t i = 0; i < m_Header.nNumEffects; ++i)
    {
        m_Index[i] = ReadU32(nBase + 4 * i);
        CheckStringOffset(nBase + 4 * i, m_Index[i], "the index entry");
        if (i < m_Effects.size() && m_Index[i] != m_Effects[i].nNameOffset)
            AddProblem(nBase + 4 * i, "index entry " + std::to_string(i) + " is " + Hex(m_Index[i]) +
                                          " but effect " + std::to_string(i) + " is named at " +
                                          Hex(m_Effects[i].nNameOffset));
    }
}

void CPackedEffectReader::CheckCounts()
{
    if (m_Effects.size() != m_Header.nNumEffects)
        AddProblem(24, "the header counts " + std::to_string(m_Header.nNumEffects) +
                           " effects; the records hold " + std::to_string(m_Effects.size()));
    std::vector<uint64_t> counted(m_Header.nNumEffectTypes, 0);
    uint64_t nKeys = 0;
    for (const Effect& effect : m_Effects)
        for (const Key& key : effect.keys)
        {
            ++nKeys;
            if (key.nTypeID < counted.size())
                ++counted[key.nTypeID];
        }
    if (nKeys != m_Header.nNumKeys)
        AddProblem(20, "the header counts " + std::to_string(m_Header.nNumKeys) + " keys; the records hold " +
                           std::to_string(nKeys));
    for (uint32_t i = 0; i < m_KeyCounts.size(); ++i)
        if (m_KeyCounts[i] != counted[i])
            AddProblem(HEADER_SIZE + 4 * i, "type " + std::to_string(i) + " is counted " +
                                                std::to_string(m_KeyCounts[i]) + " times; the records hold " +
                                                std::to_string(counted[i]) + " keys of it");
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

void CPackedEffectReader::CheckValues(const ValueLookup& lookup, bool bHasNoValueCurves)
{
    std::vector<CurveRef> curveRefs;
    for (const Effect& effect : m_Effects)
        for (const Key& key : effect.keys)
            for (const Property& prop : key.props)
            {
                const char* pszName = GetString(prop.nNameOffset);
                ValueInfo info;
                if (!pszName || !lookup(key.nTypeID, pszName, info))
                {
                    AddProblem(prop.nOffset, std::string("the module has no property \"") +
                                                 (pszName ? pszName : "?") + "\" for type " +
                                                 std::to_string(key.nTypeID));
                    continue;
                }
                const uint32_t nExpected = info.bFunctionCurve ? 4 : PackedValueSize(info.eType);
                if (nExpected == 0)
                {
                    AddProblem(prop.nOffset,
                               std::string("property \"") + pszName + "\" has a type that writes no value");
                    continue;
                }
                if (prop.nValueSize != nExpected)
                {
                    AddProblem(prop.nOffset + 4, std::string("property \"") + pszName + "\" holds " +
                                                     std::to_string(prop.nValueSize) +
                                                     " value bytes; its type takes " +
                                                     std::to_string(nExpected));
                    continue;
                }
                if (info.bFunctionCurve)
                    curveRefs.push_back({ReadU32(prop.nValueOffset), prop.nValueOffset, pszName, info});
                else
                    CheckValue(prop.nValueOffset, info, pszName);
            }

    FindCurves(curveRefs, bHasNoValueCurves);
    for (const CurveRef& ref : curveRefs)
        if (!IsCurveStart(ref.nCurveOffset))
            AddProblem(ref.nFileOffset, "property \"" + ref.sName + "\" refers to curve offset " +
                                            Hex(ref.nCurveOffset) + ", where no curve record starts");
}

void CPackedEffectReader::FindCurves(const std::vector<CurveRef>& references, bool bHasNoValueCurves)
{
    // The section does not record each curve's value type: the properties that refer to a curve
    // tell it, and the writer never shares a record between two types. A record nobody refers to
    // can only be a curve of a type that writes no value.
    std::map<uint32_t, const CurveRef*> refAt;
    for (const CurveRef& ref : references)
    {
        const auto inserted = refAt.emplace(ref.nCurveOffset, &ref);
        const CurveRef& first = *inserted.first->second;
        if (!inserted.second && first.info.eType != ref.info.eType)
            AddProblem(ref.nFileOffset, "property \"" + ref.sName + "\" refers to the curve at " +
                                            Hex(ref.nCurveOffset) + " as type " +
                                            std::to_string(ref.info.eType) + "; property \"" + first.sName +
                                            "\" at " + Hex(first.nFileOffset) + " refers to it as type " +
                                            std::to_string(first.info.eType));
    }

    const uint32_t nBase = GetCurveSectionOffset();
    const uint32_t nSize = m_Header.nCurveDataSize;
    uint32_t nPos = 0;
    while (nPos < nSize)
    {
        Curve curve;
        curve.nOffset = nPos;
        const auto it = refAt.find(nPos);
        curve.bReferenced = it != refAt.end();
        curve.eType = curve.bReferenced ? it->second->info.eType : uint32_t(ePT_NoValue);
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
        if (curve.bReferenced && curve.nValueSize != 0)
            for (uint32_t k = 0; k < curve.nNumKeys; ++k)
                CheckValue(nBase + nPos + 8 + k * (4 + curve.nValueSize), it->second->info,
                           it->second->sName.c_str());
        m_Curves.push_back(curve);
        nPos += static_cast<uint32_t>(nRecord);
    }
}
