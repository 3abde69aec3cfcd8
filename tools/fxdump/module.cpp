#include "fxdump.h"

#include "EffectModule.h"
#include "FileTrust.h"
#include "ProjectLocator.h"
#include "trustoption.h"
#include "zqstrutils.h"

namespace fxdump
{
CModuleView::CModuleView() : m_pModule(new CEffectModule) {}
CModuleView::~CModuleView() = default;

bool CModuleView::Load(const std::string& sPath, std::string& sError)
{
    m_sPath = sPath;
    if (m_pModule->Load(sPath.c_str()))
        return true;
    sError = "cannot load the effect module '" + sPath + "': " + m_pModule->GetLoadError();
    return false;
}

bool CModuleView::IsLoaded() const
{
    return m_pModule->IsLoaded();
}

uint32_t CModuleView::GetModuleVersion() const
{
    return m_pModule->GetModuleVersion();
}

uint32_t CModuleView::GetNumTypes() const
{
    return m_pModule->GetNumTypes();
}

const EffectTypeDesc* CModuleView::GetType(uint32_t nTypeID) const
{
    for (uint32_t i = 0; i < m_pModule->GetNumTypes(); ++i)
    {
        const EffectTypeDesc* pType = m_pModule->GetTypeDesc(i);
        if (pType && pType->nTypeID == nTypeID)
            return pType;
    }
    return nullptr;
}

std::string CModuleView::GetTypeName(uint32_t nTypeID) const
{
    const EffectTypeDesc* pType = GetType(nTypeID);
    return pType ? std::string(pType->szName, strnlen(pType->szName, sizeof(pType->szName))) : std::string();
}

const EffectTypeDesc* CModuleView::FindType(const std::string& sName) const
{
    return m_pModule->IsLoaded() ? m_pModule->FindTypeDesc(sName.c_str()) : nullptr;
}

bool CModuleView::Lookup(uint32_t nTypeID, const char* pszPropName,
                         CPackedEffectReader::ValueInfo& info) const
{
    for (uint32_t i = 0; i < m_pModule->GetNumTypes(); ++i)
    {
        const EffectTypeDesc* pType = m_pModule->GetTypeDesc(i);
        if (!pType || pType->nTypeID != nTypeID)
            continue;
        // The writer stores the description's own name, so the match is exact.
        for (uint32_t p = 0; p < pType->nNumProps; ++p)
        {
            const EffectPropDesc& desc = pType->pProps[p];
            if (strncmp(desc.szName, pszPropName, sizeof(desc.szName)) != 0)
                continue;
            info.eType = desc.eType;
            info.bFunctionCurve = desc.m_bFunctionCurve != 0;
            info.sParams.assign(desc.szParams, strnlen(desc.szParams, sizeof(desc.szParams)));
            return true;
        }
    }
    return false;
}

bool CModuleView::HasNoValueCurves() const
{
    for (uint32_t i = 0; i < m_pModule->GetNumTypes(); ++i)
    {
        const EffectTypeDesc* pType = m_pModule->GetTypeDesc(i);
        for (uint32_t p = 0; pType && p < pType->nNumProps; ++p)
            if (pType->pProps[p].m_bFunctionCurve && PackedValueSize(pType->pProps[p].eType) == 0)
                return true;
    }
    return false;
}

std::string FindModuleForFile(const std::string& sFile, std::string& sWhy)
{
    CProjectInfo info;
    CLocatorTrace trace;
    if (!LocateProject(sFile.c_str(), info, &trace))
    {
        if (trace.sRefusedFile.empty())
            sWhy = "no project locator file (*.proj00) in its folder or above";
        else
            sWhy = "the project locator file '" + trace.sRefusedFile + "' is not used: " + trace.sRefusal +
                   "; " + TrustHint(trace.sRefusedFile);
        return std::string();
    }
    // The module's code runs as it loads: it must pass the trust rule as the locator did.
    std::string sLibrary, sRefusal;
    if (!IsLibraryTrusted(info.m_sSparkrig.c_str(), sLibrary, sRefusal))
    {
        sWhy = "the effect module '" + info.m_sSparkrig + "' named by '" + trace.sLocatorFile +
               "' is not used: " + sRefusal + "; " + TrustHint(sLibrary);
        return std::string();
    }
    return info.m_sSparkrig;
}
} // namespace fxdump
