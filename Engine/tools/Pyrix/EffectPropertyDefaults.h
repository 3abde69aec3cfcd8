// The default properties of a document: for each property description met, one property holding
// the description's default keys, normalised, which every set that does not give the property
// itself shares instead of a copy of its own.
#pragma once

#include "EffectProperty.h"
#include "pyrixmodule.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class CEffectPropertyDefaults
{
public:
    CEffectPropertyDefaults() = default;
    // Destroys every shared property: the sets that share them go first.
    ~CEffectPropertyDefaults() { Clear(); }
    CEffectPropertyDefaults(const CEffectPropertyDefaults&) = delete;
    CEffectPropertyDefaults& operator=(const CEffectPropertyDefaults&) = delete;

    // The shared default property of the type's nIndex-th description, made at the first request.
    // Null when no memory can be had, or when the property must stay a copy per set: a function
    // curve that would not equal a copy of itself (a NaN value) or whose values the packed file's
    // curve comparison does not look at, since the writer tells such curves apart by identity.
    CEffectProperty* Get(const EffectTypeDesc* pTypeDesc, uint32_t nIndex);
    // Whether the nIndex-th description of the type has a shared default at all.
    static bool IsShareable(const EffectPropDesc& desc);

    void Clear();

private:
    // One slot per property description of the type; null until requested.
    std::unordered_map<const EffectTypeDesc*, std::vector<CEffectProperty*>> m_Sets;
    const EffectTypeDesc* m_pLastType = nullptr;
    std::vector<CEffectProperty*>* m_pLastSet = nullptr;
};
