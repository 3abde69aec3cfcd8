// Reads a packed effect file for inspection: the header, the key counts, the string table, the
// effect, key and property records and the effect index. Reading never trusts the file: every
// offset and count is checked against the bytes that are there, and whatever does not hold is
// recorded as a problem naming its file offset. Values are decoded only with the help of the
// effect module's descriptions, because the file does not say which type a value has.
//
// The bytes come from a source that is read at offsets, so a file need not be held in memory:
// Read walks the file once, keeping only the header and counters, and the effects are then walked
// one at a time with NextEffect. Only the value check of a whole file (CheckValues) keeps one
// entry per distinct curve record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Bytes at offsets: a file or a block of memory.
class IPackedSource
{
public:
    virtual ~IPackedSource() = default;
    virtual uint64_t GetSize() const = 0;
    // Copies nBytes at nOffset (which lie within the size) to p; false on a read error.
    virtual bool ReadAt(uint64_t nOffset, void* p, size_t nBytes) = 0;
};

class IRecordVisitor;

class CPackedEffectReader
{
public:
    static constexpr uint32_t HEADER_SIZE = 40;
    // The first four bytes of every packed file.
    static constexpr char MAGIC[5] = "ZQFX";
    // Problems kept in full; beyond it they are only counted.
    static constexpr size_t MAX_PROBLEMS = 10000;
    // Names longer than this are cut (and end in "...") where they are looked up or quoted.
    static constexpr size_t MAX_NAME = 1024;

    CPackedEffectReader() = default;
    CPackedEffectReader(const CPackedEffectReader&) = delete;
    CPackedEffectReader& operator=(const CPackedEffectReader&) = delete;

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
        uint32_t nIndex = 0; // position among the effects
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

    // Walks the whole file; false when it is too damaged to walk (problems say why). The source
    // (or the bytes) must outlive the reader.
    bool Read(IPackedSource& source);
    bool Read(const uint8_t* pData, size_t nSize);

    // The effects, one at a time: start with nPos = GetEffectsStart() and call until false. Only
    // after a successful Read; the records are not checked again.
    uint32_t GetEffectsStart() const { return GetCurveSectionOffset() + m_Header.nCurveDataSize; }
    bool NextEffect(uint32_t& nPos, Effect& effect) const;
    // The same, record by record: effect.keys stays empty and the visitor sees each key and
    // property as it is read, so that no effect is held whole.
    bool NextEffect(uint32_t& nPos, Effect& effect, IRecordVisitor& visitor) const;

    // With the module's descriptions, for one effect: every value's size, string offsets and enum
    // indexes (curve records are not looked at).
    void CheckEffectValues(const Effect& effect, const ValueLookup& lookup);
    void CheckPropertyValue(uint32_t nTypeID, const Property& prop, const ValueLookup& lookup);
    // The same for every effect, and the curve records: every curve offset must be a record's
    // start, and the records are found. bHasNoValueCurves: the module has function-curve
    // properties of a type that writes no value, whose curve records no property refers to.
    // Needs a successful Read.
    void CheckValues(const ValueLookup& lookup, bool bHasNoValueCurves);

    const Header& GetHeader() const { return m_Header; }
    uint32_t GetKeyCount(uint32_t nTypeID) const { return ReadU32(HEADER_SIZE + 4 * nTypeID); }
    const std::vector<Problem>& GetProblems() const { return m_Problems; }
    // Problems found beyond MAX_PROBLEMS.
    uint64_t GetMoreProblems() const { return m_nMoreProblems; }
    bool HasProblems() const { return !m_Problems.empty(); }
    uint32_t GetNumStrings() const { return m_nNumStrings; }
    // The strings in table order: start with nPos = 0, each call gives the next string's offset.
    bool NextString(uint32_t& nPos, uint32_t& nStart) const;
    // Found by CheckValues, in offset order.
    const std::vector<Curve>& GetCurves() const { return m_Curves; }
    uint64_t GetSize() const { return m_nSize; }

    // The string at a string-table offset; false when no string starts there.
    bool GetString(uint32_t nTableOffset, std::string& sText) const;
    bool IsString(uint32_t nTableOffset) const;
    // The same, cut after MAX_NAME bytes: enough to look a name up or to quote it.
    bool GetName(uint32_t nTableOffset, std::string& sText) const;
    // The curve record that CheckValues found at a curve-section offset, or null.
    const Curve* FindCurve(uint32_t nCurveOffset) const;
    bool IsCurveStart(uint32_t nCurveOffset) const { return FindCurve(nCurveOffset) != nullptr; }

    // Copies nBytes at a file offset; false (and zeros) past the end or on a read error.
    bool ReadBytes(uint64_t nOffset, void* p, size_t nBytes) const;
    uint32_t ReadU32(uint64_t nFileOffset) const;
    float ReadF32(uint64_t nFileOffset) const;
    uint32_t GetCurveSectionOffset() const { return m_Header.nStringTableOffset + m_Header.nStringTableSize; }

private:
    // A block of memory as a source.
    class CMemorySource : public IPackedSource
    {
    public:
        const uint8_t* m_pData = nullptr;
        size_t m_nSize = 0;
        uint64_t GetSize() const override { return m_nSize; }
        bool ReadAt(uint64_t nOffset, void* p, size_t nBytes) override;
    };

    void Reset();
    void AddProblem(uint64_t nOffset, std::string sText);
    bool Fits(uint64_t nOffset, uint64_t nBytes) const
    {
        return nOffset <= m_nSize && nBytes <= m_nSize - nOffset;
    }
    bool ReadSections();
    void ReadStringTable();
    bool WalkEffects();
    // One effect record at nPos: problems are recorded only with bReport.
    bool ParseEffect(uint32_t& nPos, Effect& effect, bool bReport) const;
    bool ParseEffectHead(uint32_t& nPos, Effect& effect, uint32_t& nNumKeys, bool bReport) const;
    bool ParseKeyHead(uint32_t& nPos, Key& key, uint32_t& nNumProps, bool bReport) const;
    bool ParseProperty(uint32_t& nPos, Property& prop, bool bReport) const;
    bool WalkEffect(uint32_t& nPos, Effect& effect, bool bReport, IRecordVisitor& visitor) const;
    void CheckCounts(uint64_t nEffects, uint64_t nKeys);
    void CheckStringOffset(uint32_t nFileOffset, uint32_t nTableOffset, const char* pszWhat);
    void CheckValue(uint32_t nFileOffset, const ValueInfo& info, const char* pszName);
    // Problems of a parse without bReport go nowhere.
    void Report(bool bReport, uint64_t nOffset, std::string sText) const;

    // A property value that refers to a curve record: the first property that refers to it.
    struct CurveRef
    {
        uint32_t nFileOffset; // of the value holding it
        uint32_t nNameOffset; // of the property's name
        ValueInfo info;
    };
    void FindCurves(const std::function<const CurveRef*(uint32_t)>& refAt, bool bHasNoValueCurves);

    CMemorySource m_Memory;
    IPackedSource* m_pSource = nullptr;
    uint64_t m_nSize = 0;
    Header m_Header;
    uint32_t m_nNumStrings = 0;
    uint32_t m_nStringsEnd = 0; // strings start before this table offset
    mutable bool m_bReadError = false;
    std::vector<Curve> m_Curves;
    std::vector<Problem> m_Problems;
    uint64_t m_nMoreProblems = 0;
    std::string m_sName; // the name being checked
};

// Sees the records of one effect in file order.
class IRecordVisitor
{
public:
    virtual ~IRecordVisitor() = default;
    // False: the effect's keys are stepped over unseen.
    virtual bool OnEffect(const CPackedEffectReader::Effect& effect, uint32_t nNumKeys) = 0;
    virtual void OnKey(const CPackedEffectReader::Key&, uint32_t /*nNumProps*/) {}
    virtual void OnProperty(const CPackedEffectReader::Key&, const CPackedEffectReader::Property&) {}
    virtual void OnKeyEnd(const CPackedEffectReader::Key&) {}
    virtual void OnEffectEnd(const CPackedEffectReader::Effect&) {}
};

// Size in bytes of one value of a type in a packed file; 0 for the types that write nothing.
uint32_t PackedValueSize(uint32_t eType);
