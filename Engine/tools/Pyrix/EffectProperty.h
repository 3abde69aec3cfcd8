// The values of one property of one key or prefab: time-stamped property keys, normalised against
// the property's description before anything is written.
#pragma once

#include "pyrixmodule.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One value of a property. For a function curve fTime is the position along the key's normalised
// lifetime; for a plain property it is 0.0. A new key is all zero before it is filled.
struct EffectPropertyKey
{
    float fTime;
    EffectPropValue Value;
};

// Keys are stored by the size their description's type gives a value, not as whole value records:
// 4 bytes for Int, Float and Color, 12 for a Vector, the text and its terminator for the string
// types, the whole 256-byte record only for types without a value view (0, 8 and unknown codes).
// A key put in is kept as the description's type views it; read back as a record, the bytes
// beyond that view are zero.
class CEffectProperty
{
public:
    explicit CEffectProperty(const EffectPropDesc* pDesc);
    ~CEffectProperty();

    CEffectProperty(const CEffectProperty&) = delete;
    CEffectProperty& operator=(const CEffectProperty&) = delete;

    const EffectPropDesc* GetDesc() const { return m_pDesc; }
    uint32_t GetNumKeys() const { return m_nNumKeys; }
    // A copy of key nIndex as a whole record; none when nIndex is not below the count.
    std::optional<EffectPropertyKey> GetKey(uint32_t nIndex) const;
    // Replaces key nIndex (its place is not changed); false when nIndex is not below the count or
    // no memory can be had.
    bool SetKey(uint32_t nIndex, const EffectPropertyKey& key);

    // Direct reads of key nIndex, which must be below the count. The value bytes are those of the
    // storage described above: GetKeyText for the string types (terminated), GetKeyWord for Int,
    // Float and Color (the record's first four bytes), GetKeyVector for a Vector.
    float GetKeyTime(uint32_t nIndex) const;
    const char* GetKeyText(uint32_t nIndex) const;
    uint32_t GetKeyWord(uint32_t nIndex) const;
    float GetKeyFloat(uint32_t nIndex) const;
    void GetKeyVector(uint32_t nIndex, float (&afValue)[3]) const;

    // Appends a copy, then sorts. False when no memory can be had (the keys stay as they were).
    bool AddKey(const EffectPropertyKey& key);
    // AddKey of a key at fTime holding the description's default value.
    bool AddDefaultKey(float fTime);
    // Appends a copy without sorting; the caller sorts with SortKeys once it has appended all.
    // Appending n keys and sorting once leaves the order that n AddKey calls leave.
    bool AppendKey(const EffectPropertyKey& key);
    // Room for nCount keys, so that appending up to that many moves none; false without memory.
    bool ReserveKeys(uint32_t nCount);
    // Nothing when nIndex is out of range.
    void RemoveKey(uint32_t nIndex);
    // The order of the classic insertion sort by fTime: each key in turn moves toward the front
    // past every neighbour whose time is greater than its own. Stable; a NaN time never moves and
    // no key moves past it.
    void SortKeys();

    // A description exists and its type carries a value (neither 0 nor 8).
    bool IsWritable() const;

    // NormalizeKeys, then ClampToRange, then ValidateEnum. A property that a second pass would not
    // change is remembered as such until its keys change, and is not walked again.
    void Normalize();
    // True when Normalize is known to change nothing (the keys have not changed since a pass that
    // left them in normal form).
    bool IsNormalized() const { return m_bNormalized; }
    // Plain property: exactly one key, at 0.0. Function curve: the first key at 0.0 and, where the
    // description asks for an end key, the last at 1.0. A property without keys gets the default.
    void NormalizeKeys();
    // Int, Float and Vector values clamped to the description's range.
    void ClampToRange();
    // Enum values that are none of the choices become the description's default value.
    void ValidateEnum();

    // Bytes held besides the object itself (for memory figures).
    size_t GetHeapBytes() const;

private:
    enum class ValueKind : uint8_t
    {
        Word,   // Int, Float, Color
        Vector, // three floats
        Text,   // string types: the text and its terminator, zero-padded to the stride
        Record, // no value view: the whole record
    };
    static constexpr uint32_t INLINE_BYTES = 16;

    uint8_t* Records() { return m_bInline ? m_aInline : m_pHeap; }
    const uint8_t* Records() const { return m_bInline ? m_aInline : m_pHeap; }
    uint32_t RecordSize() const { return 4 + m_nValueSize; }
    uint8_t* Record(uint32_t nIndex) { return Records() + static_cast<size_t>(nIndex) * RecordSize(); }
    const uint8_t* Record(uint32_t nIndex) const
    {
        return Records() + static_cast<size_t>(nIndex) * RecordSize();
    }
    // Value bytes that v needs under this property's kind.
    uint32_t ValueBytesFor(const EffectPropValue& value) const;
    // Moves the keys into room for nCapacity keys of nValueSize value bytes each.
    bool Relayout(uint32_t nCapacity, uint32_t nValueSize);
    // Room for one more key whose value is `value`.
    bool MakeRoomFor(const EffectPropValue& value);
    void Store(uint32_t nIndex, const EffectPropertyKey& key);
    void StoreValue(uint32_t nIndex, const EffectPropValue& value);
    void StoreTime(uint32_t nIndex, float fTime);
    // True when NormalizeKeys would leave the keys as they are.
    bool KeysInNormalForm() const;
    void SortRunsInPlace();
    // Calls fn(begin, end) for every run of two or more keys between NaN times.
    template <class Fn>
    void ForEachRun(Fn fn) const;

    const EffectPropDesc* m_pDesc;
    union
    {
        uint8_t* m_pHeap;
        uint8_t m_aInline[INLINE_BYTES];
    };
    uint32_t m_nNumKeys = 0;
    uint32_t m_nCapacity;
    uint16_t m_nValueSize;
    ValueKind m_eKind;
    bool m_bInline = true;
    bool m_bNormalized = false; // Normalize would change nothing
};

// "min;max", either side may be empty; each side is read with ZQAtoF and rounded to float. Without
// a ';' there are no bounds.
void ParseRange(const char* szParams, bool& bHasMin, float& fMin, bool& bHasMax, float& fMax);

// The 0-based position of szText (trimmed) among the comma-separated choices (each trimmed),
// ignoring case; -1 when none matches, for an empty list and for null texts.
int FindEnumIndex(const char* szChoices, const char* szText);
// The choices in the order FindEnumIndex walks them, each trimmed; a list ending in ',' has no
// empty last choice.
std::vector<std::string> EnumChoiceList(const std::string& sChoices);

// Halves round away from zero; computed in float. A result outside the int range, or NaN, gives
// INT_MIN.
int32_t RoundToInt(float f);
