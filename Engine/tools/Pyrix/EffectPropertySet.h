// The properties of one thing of an effect type (a prefab, or a key of an effect): one slot per
// property description of the type; empty slots fall through to the parent set.
#pragma once

#include "EffectProperty.h"
#include "pyrixmodule.h"

#include <cstdint>
#include <string>
#include <vector>

class CEffectPropertySet
{
public:
    explicit CEffectPropertySet(const EffectTypeDesc* pTypeDesc);
    // Destroys every property in the slots; the parent is left alone.
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
    // Takes pProp into the slot of its description (found by identity), destroying what was there.
    // False for null or a description that is not among the type's; the caller then keeps pProp.
    bool SetProperty(CEffectProperty* pProp);

    CEffectPropertySet* GetParent() const { return m_pParent; }
    // Null clears the parent. A set of another type description is refused, and so is a set that
    // would make this set its own ancestor; the parent then stays as it was.
    bool SetParent(CEffectPropertySet* pParent);

    // Gives every empty slot of the chain's root a property holding the default keys.
    void FillMissingProperties();
    // Normalizes the effective property of every slot, where it is owned.
    void NormalizeProperties();

    std::string m_sName;

private:
    CEffectPropertySet* m_pParent;

public:
    const EffectTypeDesc* const m_pTypeDesc;

private:
    std::vector<CEffectProperty*> m_Props;
};
