// The holder of the game's effect module: the library, its two exports and the descriptions it
// hands over. Descriptions stay valid from a successful Load until Unload (or destruction).
#pragma once

#include "pyrixmodule.h"
#include "zqplatform.h"

#include <cstdint>
#include <string>

class CEffectModule
{
public:
    CEffectModule() = default;
    ~CEffectModule();

    CEffectModule(const CEffectModule&) = delete;
    CEffectModule& operator=(const CEffectModule&) = delete;

    // Unloads what is held, then loads the library at pszPath and fetches its descriptions.
    // False (and nothing held) when the library, an export or the descriptions are missing, or
    // when a type id is not below the type count.
    bool Load(const char* pszPath);

    // Gives the descriptions back and frees the library; harmless when nothing is held.
    void Unload();

    bool IsLoaded() const { return m_hModule != nullptr; }
    // Why the last Load failed: the system's reason, or which export or description is wrong.
    // Empty after a successful Load.
    const std::string& GetLoadError() const { return m_sLoadError; }
    // The path of the library file that was loaded; empty when nothing is held or it is unknown.
    std::string GetLibraryPath() const;
    uint32_t GetModuleVersion() const;
    uint32_t GetNumTypes() const;

    // The first type whose name equals pszName ignoring case; null when none.
    const EffectTypeDesc* FindTypeDesc(const char* pszName) const;

    // The type at position nIndex of the module's table; null when out of range.
    const EffectTypeDesc* GetTypeDesc(uint32_t nIndex) const;

private:
    bool HasValidTypeIDs() const;
    std::string DescribeInvalidTypes() const;
    void Clear();

    EffectModuleInfo* m_pInfo = nullptr; // owned by the module; null when none
    PFN_PyrixGetInfo m_pfnGetInfo = nullptr;
    PFN_PyrixReleaseInfo m_pfnReleaseInfo = nullptr;
    PlatformLibrary m_hModule = nullptr;
    std::string m_sLoadError;
};
