// The values of one property of one key or prefab: time-stamped property keys, normalised against
// the property's description before anything is written.
#pragma once

#include "pyrixmodule.h"

#include <cstdint>
#include <string>
#include <vector>

// One value of a property. For a function curve fTime is the position along the key's normalised
// lifetime; for a plain property it is 0.0. A new key is all zero before it is filled.
struct EffectPropertyKey
{
    float fTime;
    EffectPropValue Value;
};

class CEffectProperty
{
public:
    explicit CEffectProperty(const EffectPropDesc* pDesc);

    CEffectProperty(const CEffectProperty&) = delete;
    CEffectProperty& operator=(const CEffectProperty&) = delete;

    const EffectPropDesc* GetDesc() const { return m_pDesc; }
    uint32_t GetNumKeys() const { return static_cast<uint32_t>(m_Keys.size()); }
    // Null when nIndex is not below the count.
    EffectPropertyKey* GetKey(uint32_t nIndex);
    const EffectPropertyKey* GetKey(uint32_t nIndex) const;

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

    // NormalizeKeys, then ClampToRange, then ValidateEnum.
    void Normalize();
    // Plain property: exactly one key, at 0.0. Function curve: the first key at 0.0 and, where the
    // description asks for an end key, the last at 1.0. A property without keys gets the default.
    void NormalizeKeys();
    // Int, Float and Vector values clamped to the description's range.
    void ClampToRange();
    // Enum values that are none of the choices become the description's default value.
    void ValidateEnum();

private:
    void SortRunsInPlace();
    // Calls fn(begin, end) for every run of two or more keys between NaN times.
    template <class Fn>
    void ForEachRun(Fn fn) const;

    const EffectPropDesc* m_pDesc;
    std::vector<EffectPropertyKey> m_Keys;
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
