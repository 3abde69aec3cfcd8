// Reads a packed effect file from memory for inspection: the header, the key counts, the string
// table, the effect, key and property records and the effect index. Reading never trusts the
// file: every offset and count is checked against the bytes that are there, and whatever does not
// hold is recorded as a problem naming its file offset. Values are decoded only with the help of
// the effect module's descriptions, because the file does not say which type a value has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CPackedEffectReader
{
public:
    static constexpr uint32_t HEADER_SIZE = 40;

    struct Header
    {
        uint32_t nMagic = 0;
        uint32_t nVersion = 0;
        uint32_t nModuleVersion = 0;
        uint32_t nStringTableSize = 0;
        uint32_t nCurveDataSize = 0;
        uint32_t nNumKeys = 0;
        uint32_t nNumEffects = 0;
        uint32_t nNumEffectTypes = 0;
        uint32_t nStringTableOffset = 0;
        uint32_t nEffectIndexOffset = 0;
    };

    struct Problem
    {
        uint32_t nOffset; // file offset the problem is found at
        std::string sText;
    };

    struct Property
    {
        uint32_t nOffset = 0; // file offset of the record
        uint32_t nNameOffset = 0;
        uint32_t nSkipOffset = 0;
        uint32_t nValueOffset = 0; // file offset of the value
        uint32_t nValueSize = 0;
    };

    struct Key
    {
        uint32_t nOffset = 0;
        uint32_t nTypeID = 0;
        float fStartTime = 0.0f;
        float fEndTime = 0.0f;
        uint32_t nID = 0;
        uint32_t nMotionLinkID = 0;
        std::vector<Property> props;
    };

    struct Effect
    {
        uint32_t nOffset = 0;
        uint32_t nNameOffset = 0;
        uint32_t nLength = 0;
        std::vector<Key> keys;
    };

    // What the effect module says about one property of one effect type.
    struct ValueInfo
    {
        uint32_t eType = 0;
        bool bFunctionCurve = false;
        std::string sParams;
    };
    using ValueLookup = std::function<bool(uint32_t nTypeID, const char* pszPropName, ValueInfo& info)>;

    struct Curve
    {
        uint32_t nOffset = 0; // within the curve section
        uint32_t nNumKeys = 0;
        uint32_t nValueSize = 0;
        uint32_t eType = 0;
        bool bReferenced = false;
    };

    // Parses the whole file; false when it is too damaged to walk (problems say why). The bytes
    // must outlive the reader.
    bool Read(const uint8_t* pData, size_t nSize);

    // With the module's descriptions: checks every value's size, string offsets, enum indexes and
    // curve offsets, and finds the curve records. bHasNoValueCurves: the module has function-curve
    // properties of a type that writes no value, whose curve records no property refers to.
    // Needs a successful Read.
    void CheckValues(const ValueLookup& lookup, bool bHasNoValueCurves);

    const Header& GetHeader() const { return m_Header; }
    const std::vector<uint32_t>& GetKeyCounts() const { return m_KeyCounts; }
    const std::vector<Effect>& GetEffects() const { return m_Effects; }
    const std::vector<uint32_t>& GetIndex() const { return m_Index; }
    const std::vector<Problem>& GetProblems() const { return m_Problems; }
    const std::vector<uint32_t>& GetStringStarts() const { return m_StringStarts; }
    const std::vector<Curve>& GetCurves() const { return m_Curves; }
    size_t GetSize() const { return m_nSize; }

    // The string at a string-table offset, or null when no string starts there.
    const char* GetString(uint32_t nTableOffset) const;
    bool IsCurveStart(uint32_t nCurveOffset) const { return FindCurve(nCurveOffset) != nullptr; }
    // The curve record that starts at a curve-section offset, or null (a binary search: the
    // records are found in offset order).
    const Curve* FindCurve(uint32_t nCurveOffset) const;

    uint32_t ReadU32(uint32_t nFileOffset) const;
    float ReadF32(uint32_t nFileOffset) const;
    uint32_t GetCurveSectionOffset() const { return m_Header.nStringTableOffset + m_Header.nStringTableSize; }

private:
    void AddProblem(uint64_t nOffset, std::string sText);
    bool Fits(uint64_t nOffset, uint64_t nBytes) const
    {
        return nOffset <= m_nSize && nBytes <= m_nSize - nOffset;
    }
    bool ReadSections();
    void ReadStringTable();
    bool ReadEffects();
    bool ReadKey(uint32_t& nPos, uint32_t nEnd, Key& key);
    void ReadIndex();
    void CheckCounts();
    // A property value that refers to a curve record.
    struct CurveRef
    {
        uint32_t nCurveOffset; // within the curve section
        uint32_t nFileOffset;  // of the value holding it
        std::string sName;     // of the property
        ValueInfo info;
    };

    void CheckStringOffset(uint32_t nFileOffset, uint32_t nTableOffset, const char* pszWhat);
    void CheckValue(uint32_t nFileOffset, const ValueInfo& info, const char* pszName);
    void FindCurves(const std::vector<CurveRef>& references, bool bHasNoValueCurves);

    const uint8_t* m_pData = nullptr;
    size_t m_nSize = 0;
    Header m_Header;
    std::vector<uint32_t> m_KeyCounts;
    std::vector<uint32_t> m_StringStarts; // sorted
    std::vector<Effect> m_Effects;
    std::vector<uint32_t> m_Index;
    std::vector<Curve> m_Curves;
    std::vector<Problem> m_Problems;
};

// Size in bytes of one value of a type in a packed file; 0 for the types that write nothing.
uint32_t PackedValueSize(uint32_t eType);
