// Shared by the effect and writer tests: the table-driven test module loaded through the real holder.
#pragma once

#include "EffectModule.h"
#include "test_support.h"

// testmodule_table loaded with the given description lines (see tests/effect/modules/README.md).
class CTableModule
{
public:
    explicit CTableModule(const char* pszLines)
    {
        SetEnv("PYRIX_TEST_MODULE_DESC", WriteTemp("module.desc", pszLines).c_str());
        EXPECT_TRUE(m_Module.Load(BinLibrary("testmodule_table").c_str()));
    }
    const EffectTypeDesc* Type(const char* pszName) const { return m_Module.FindTypeDesc(pszName); }
    const EffectPropDesc* Prop(const char* pszType, uint32_t nIndex) const
    {
        const EffectTypeDesc* pType = Type(pszType);
        return pType && nIndex < pType->nNumProps ? &pType->pProps[nIndex] : nullptr;
    }

    CEffectModule m_Module;
};
