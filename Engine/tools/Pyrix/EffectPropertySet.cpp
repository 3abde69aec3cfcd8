#include "EffectPropertySet.h"

#include "EffectPropertyDefaults.h"
#include "zqstrutils.h"

#include <new>

#define ZQ_THIS_FILE "Engine/tools/Pyrix/EffectPropertySet"

namespace
{
bool s_bIgnoreNullTypeDesc = false;
bool s_bIgnoreNoTypeDesc = false;
bool s_bIgnoreBadIndex = false;
} // namespace

CEffectPropertySet::CEffectPropertySet(const EffectTypeDesc* pTypeDesc)
    : m_pParent(nullptr), m_pTypeDesc(pTypeDesc)
{
    if (!ZQCheckSite(m_pTypeDesc != nullptr, "m_pTypeDesc", ZQ_THIS_FILE, 9,
                     "CEffectPropertySet::CEffectPropertySet",
                     "Error: Invalid type description used to create a property set", s_bIgnoreNullTypeDesc))
        return;
    try
    {
        m_Props.assign(m_pTypeDesc->nNumProps, 0);
    }
    catch (const std::bad_alloc&)
    {
        // Without slots every lookup gives null and SetProperty refuses.
    }
}

CEffectPropertySet::~CEffectPropertySet()
{
    for (uintptr_t nSlot : m_Props)
    {
        if (!(nSlot & SHARED_BIT))
            delete SlotProperty(nSlot);
    }
}

uint32_t CEffectPropertySet::GetNumProps() const
{
    if (!ZQCheckSite(m_pTypeDesc != nullptr, "m_pTypeDesc", ZQ_THIS_FILE, 37,
                     "CEffectPropertySet::GetNumProps",
                     "Error: No associated type description for this property set", s_bIgnoreNoTypeDesc))
        return 0;
    return m_pTypeDesc->nNumProps;
}

CEffectProperty* CEffectPropertySet::GetPropertyDirect(uint32_t nIndex) const
{
    if (!ZQCheckSite(nIndex < GetNumProps(), "nIndex < GetNumProps()", ZQ_THIS_FILE, 132,
                     "CEffectPropertySet::GetPropertyDirect",
                     "Error: Invalid index specified to GetPropertyDirect", s_bIgnoreBadIndex))
        return nullptr;
    return nIndex < m_Props.size() ? SlotProperty(m_Props[nIndex]) : nullptr;
}

bool CEffectPropertySet::IsShared(uint32_t nIndex) const
{
    return nIndex < m_Props.size() && (m_Props[nIndex] & SHARED_BIT) != 0;
}

CEffectProperty* CEffectPropertySet::GetProperty(uint32_t nIndex) const
{
    for (const CEffectPropertySet* pSet = this; pSet; pSet = pSet->m_pParent)
    {
        if (CEffectProperty* pProp = pSet->GetPropertyDirect(nIndex))
            return pProp;
    }
    return nullptr;
}

bool CEffectPropertySet::SetProperty(CEffectProperty* pProp)
{
    if (!pProp || !pProp->GetDesc() || !m_pTypeDesc || !m_pTypeDesc->pProps)
        return false;
    // The slot is the position of the description in the type's array; compared as addresses so
    // that a description from elsewhere is simply not found.
    const uintptr_t nFirst = reinterpret_cast<uintptr_t>(m_pTypeDesc->pProps);
    const uintptr_t nDesc = reinterpret_cast<uintptr_t>(pProp->GetDesc());
    if (nDesc < nFirst || (nDesc - nFirst) % sizeof(EffectPropDesc) != 0)
        return false;
    const uintptr_t nSlot = (nDesc - nFirst) / sizeof(EffectPropDesc);
    if (nSlot >= m_Props.size())
        return false;
    const uintptr_t nOld = m_Props[nSlot];
    if (SlotProperty(nOld) == pProp)
        return true;
    if (!(nOld & SHARED_BIT))
        delete SlotProperty(nOld);
    m_Props[nSlot] = reinterpret_cast<uintptr_t>(pProp);
    return true;
}

bool CEffectPropertySet::SetParent(CEffectPropertySet* pParent)
{
    if (!pParent)
    {
        m_pParent = nullptr;
        return true;
    }
    if (pParent->m_pTypeDesc != m_pTypeDesc)
        return false;
    for (const CEffectPropertySet* pSet = pParent; pSet; pSet = pSet->m_pParent)
    {
        if (pSet == this)
            return false;
    }
    m_pParent = pParent;
    return true;
}

void CEffectPropertySet::FillMissingProperties(CEffectPropertyDefaults* pDefaults)
{
    if (!m_pTypeDesc)
        return;
    CEffectPropertySet* pRoot = this;
    while (pRoot->m_pParent)
        pRoot = pRoot->m_pParent;
    for (size_t i = 0; i < pRoot->m_Props.size(); ++i)
    {
        if (pRoot->m_Props[i])
            continue;
        if (CEffectProperty* pShared =
                pDefaults ? pDefaults->Get(pRoot->m_pTypeDesc, static_cast<uint32_t>(i)) : nullptr)
        {
            pRoot->m_Props[i] = reinterpret_cast<uintptr_t>(pShared) | SHARED_BIT;
            continue;
        }
        CEffectProperty* pProp = new (std::nothrow) CEffectProperty(&pRoot->m_pTypeDesc->pProps[i]);
        if (!pProp)
            continue;
        pProp->NormalizeKeys();
        pRoot->m_Props[i] = reinterpret_cast<uintptr_t>(pProp);
    }
}

void CEffectPropertySet::NormalizeProperties()
{
    const uint32_t nCount = GetNumProps();
    for (uint32_t i = 0; i < nCount; ++i)
    {
        if (CEffectProperty* pProp = GetProperty(i))
            pProp->Normalize();
    }
}
