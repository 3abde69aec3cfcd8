// The properties of one thing of an effect type (a prefab, or a key of an effect): one slot per
// property description of the type; empty slots fall through to the parent set.
#pragma once

#include "EffectProperty.h"
#include "pyrixmodule.h"

class CEffectPropertyDefaults;

#include <cstdint>
#include <string>
#include <vector>

class CEffectPropertySet
{
public:
    explicit CEffectPropertySet(const EffectTypeDesc* pTypeDesc);
    // Destroys every property that the set owns; shared defaults and the parent are left alone.
    virtual ~CEffectPropertySet();

    CEffectPropertySet(const CEffectPropertySet&) = delete;
    CEffectPropertySet& operator=(const CEffectPropertySet&) = delete;

    const EffectTypeDesc* GetTypeDesc() const { return m_pTypeDesc; }
    // The type's property count; 0 without a type description.
    uint32_t GetNumProps() const;
    // Slot nIndex of this set only.
    CEffectProperty* GetPropertyDirect(uint32_t nIndex) const;
    // The effective property: this set's slot, else the nearest ancestor's; null when none has it.
    CEffectProperty* GetProperty(uint32_t nIndex) const;
    // Takes pProp into the slot of its description (found by identity), destroying what the set
    // owned there. False for null or a description that is not among the type's; the caller then
    // keeps pProp.
    bool SetProperty(CEffectProperty* pProp);

    CEffectPropertySet* GetParent() const { return m_pParent; }
    // Null clears the parent. A set of another type description is refused, and so is a set that
    // would make this set its own ancestor; the parent then stays as it was.
    bool SetParent(CEffectPropertySet* pParent);

    // Gives every empty slot of the chain's root a property holding the default keys: with
    // pDefaults, the shared default property where there is one (not owned by the set), else a
    // property of the set's own.
    void FillMissingProperties(CEffectPropertyDefaults* pDefaults = nullptr);
    // Whether slot nIndex holds a shared default rather than a property of this set.
    bool IsShared(uint32_t nIndex) const;
    // Normalizes the effective property of every slot, where it is owned.
    void NormalizeProperties();

    std::string m_sName;

private:
    CEffectPropertySet* m_pParent;

public:
    const EffectTypeDesc* const m_pTypeDesc;

private:
    // Slot contents: the property's address, its lowest bit set for a shared default.
    static constexpr uintptr_t SHARED_BIT = 1;
    static CEffectProperty* SlotProperty(uintptr_t nSlot)
    {
        return reinterpret_cast<CEffectProperty*>(nSlot & ~SHARED_BIT);
    }

    std::vector<uintptr_t> m_Props;
};
