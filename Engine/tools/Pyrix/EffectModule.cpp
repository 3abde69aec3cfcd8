#define ZQ_THIS_FILE "Engine/tools/Pyrix/EffectModule"

#include "EffectModule.h"

#include "zqstrutils.h"

#include <cstring>

namespace
{
// Exports are data pointers from the platform layer; converting them to function pointers goes
// through memcpy so that no compiler complains about the cast.
template <typename TFunc>
TFunc ProcAs(void* pProc)
{
    static_assert(sizeof(TFunc) == sizeof(void*), "function and data pointers differ in size");
    TFunc pfn = nullptr;
    if (pProc)
        std::memcpy(&pfn, &pProc, sizeof(pfn));
    return pfn;
}
} // namespace

CEffectModule::~CEffectModule()
{
    Unload();
}

std::string CEffectModule::GetLibraryPath() const
{
    char szPath[4096];
    if (!m_hModule || !PlatformGetLibraryPath(m_hModule, szPath, sizeof(szPath)))
        return std::string();
    return szPath;
}

bool CEffectModule::Load(const char* pszPath)
{
    Unload();
    m_sLoadError.clear();

    char szReason[512];
    m_hModule = PlatformLoadLibraryWithReason(pszPath, szReason, sizeof(szReason));
    if (!m_hModule)
    {
        m_sLoadError = szReason;
        return false;
    }

    m_pfnGetInfo = ProcAs<PFN_PyrixGetInfo>(PlatformGetProcAddress(m_hModule, "PyrixGetInfo"));
    m_pfnReleaseInfo = ProcAs<PFN_PyrixReleaseInfo>(PlatformGetProcAddress(m_hModule, "PyrixReleaseInfo"));
    if (!m_pfnGetInfo || !m_pfnReleaseInfo)
    {
        m_sLoadError = std::string("the library does not export ") +
                       (m_pfnGetInfo       ? "PyrixReleaseInfo"
                        : m_pfnReleaseInfo ? "PyrixGetInfo"
                                           : "PyrixGetInfo or PyrixReleaseInfo") +
                       ": it is not an effect module";
        if (m_pfnReleaseInfo)
            m_pfnReleaseInfo(nullptr);
        PlatformFreeLibrary(m_hModule);
        Clear();
        return false;
    }

    m_pfnGetInfo(&m_pInfo);
    if (!m_pInfo)
        m_sLoadError = "PyrixGetInfo gave no module information";
    else if (!HasValidTypeIDs())
        m_sLoadError = DescribeInvalidTypes();
    if (!m_sLoadError.empty())
    {
        Unload();
        return false;
    }
    return true;
}

void CEffectModule::Unload()
{
    if (m_pfnReleaseInfo)
        m_pfnReleaseInfo(m_pInfo);
    PlatformFreeLibrary(m_hModule);
    Clear();
}

uint32_t CEffectModule::GetModuleVersion() const
{
    return m_pInfo ? m_pInfo->nModuleVersion : 0;
}

uint32_t CEffectModule::GetNumTypes() const
{
    return m_pInfo ? m_pInfo->nNumTypes : 0;
}

const EffectTypeDesc* CEffectModule::FindTypeDesc(const char* pszName) const
{
    if (!m_pInfo || !pszName)
        return nullptr;
    for (uint32_t i = 0; i < m_pInfo->nNumTypes; ++i)
    {
        if (ZQStrIEquals(m_pInfo->pTypes[i].szName, pszName))
            return &m_pInfo->pTypes[i];
    }
    return nullptr;
}

const EffectTypeDesc* CEffectModule::GetTypeDesc(uint32_t nIndex) const
{
    if (!m_pInfo || nIndex >= m_pInfo->nNumTypes)
        return nullptr;
    return &m_pInfo->pTypes[nIndex];
}

// Type ids index the writer's per-type key counts, so each must be below the type count. A type
// table that is missing while types are announced cannot be checked and counts as invalid.
bool CEffectModule::HasValidTypeIDs() const
{
    if (m_pInfo->nNumTypes > 0 && !m_pInfo->pTypes)
        return false;
    for (uint32_t i = 0; i < m_pInfo->nNumTypes; ++i)
    {
        if (m_pInfo->pTypes[i].nTypeID >= m_pInfo->nNumTypes)
            return false;
    }
    return true;
}

std::string CEffectModule::DescribeInvalidTypes() const
{
    const uint32_t nTypes = m_pInfo->nNumTypes;
    if (nTypes > 0 && !m_pInfo->pTypes)
        return "the module announces " + std::to_string(nTypes) + " types but gives no type table";
    for (uint32_t i = 0; i < nTypes; ++i)
    {
        const EffectTypeDesc& type = m_pInfo->pTypes[i];
        if (type.nTypeID >= nTypes)
            return "type '" + std::string(type.szName, strnlen(type.szName, sizeof(type.szName))) +
                   "' has id " + std::to_string(type.nTypeID) + ", not below the type count " +
                   std::to_string(nTypes);
    }
    return "the type table is invalid";
}

void CEffectModule::Clear()
{
    m_pInfo = nullptr;
    m_pfnGetInfo = nullptr;
    m_pfnReleaseInfo = nullptr;
    m_hModule = nullptr;
}
