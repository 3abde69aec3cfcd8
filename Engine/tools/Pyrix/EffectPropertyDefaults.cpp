#include "EffectPropertyDefaults.h"

#include <cmath>
#include <new>

bool CEffectPropertyDefaults::IsShareable(const EffectPropDesc& desc)
{
    if (!desc.m_bFunctionCurve)
        return true;
    switch (desc.eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Int:
    case ePT_Color:
    case ePT_Animation:
    case ePT_SparkrigRef:
        return true;
    case ePT_Float:
        return !std::isnan(desc.DefaultValue.fValue);
    case ePT_Vector:
        return !std::isnan(desc.DefaultValue.vValue[0]) && !std::isnan(desc.DefaultValue.vValue[1]) &&
               !std::isnan(desc.DefaultValue.vValue[2]);
    default:
        return false;
    }
}

CEffectProperty* CEffectPropertyDefaults::Get(const EffectTypeDesc* pTypeDesc, uint32_t nIndex)
{
    if (!pTypeDesc || !pTypeDesc->pProps || nIndex >= pTypeDesc->nNumProps)
        return nullptr;
    const EffectPropDesc& desc = pTypeDesc->pProps[nIndex];
    if (!IsShareable(desc))
        return nullptr;
    try
    {
        if (pTypeDesc != m_pLastType)
        {
            std::vector<CEffectProperty*>& set = m_Sets[pTypeDesc];
            if (set.size() != pTypeDesc->nNumProps)
                set.assign(pTypeDesc->nNumProps, nullptr);
            m_pLastType = pTypeDesc;
            m_pLastSet = &set;
        }
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
    CEffectProperty*& pShared = (*m_pLastSet)[nIndex];
    if (!pShared)
    {
        pShared = new (std::nothrow) CEffectProperty(&desc);
        // Normalised once here, as a property of its own would be after being filled in; a
        // second pass changes nothing for the default keys.
        if (pShared)
            pShared->Normalize();
    }
    return pShared;
}

void CEffectPropertyDefaults::Clear()
{
    for (auto& entry : m_Sets)
    {
        for (CEffectProperty* pProp : entry.second)
            delete pProp;
    }
    m_Sets.clear();
    m_pLastType = nullptr;
    m_pLastSet = nullptr;
}
