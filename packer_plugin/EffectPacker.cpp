#include "EffectPacker.h"

#include "FileExtension.h"
#include "zqstrutils.h"

#define ZQ_THIS_FILE "packer_plugin/EffectPacker"

namespace
{
// Module-wide: the packer holds no resources, so construction and destruction have no other effect.
CEffectPacker s_EffectPacker;

const char* const kPackerName = "Embervise";
} // namespace

CEffectPacker& GetEffectPacker()
{
    return s_EffectPacker;
}

IPacker* AssociateEffectPacker(const char* pszFileName)
{
    return IsEffectSourceName(pszFileName) ? &s_EffectPacker : nullptr;
}

bool CEffectPacker::GetName(char* pszBuffer, uint32_t nBufferSize)
{
    ZQStrCpy(pszBuffer, kPackerName, nBufferSize);
    return true;
}

bool CEffectPacker::DeclareOptions(IPackerOptionList* pOptions)
{
    if (!pOptions)
        return true;
    // The host copies what it keeps during AddOption; each entry dies right after its call.
    {
        CPackerDisplayOption settings("Fx Settings", 1, nullptr);
        pOptions->AddOption(&settings, "Common");
    }
    {
        CPackerDisplayOption separator("Separator", 4, nullptr);
        pOptions->AddOption(&separator, "Common");
    }
    return true;
}

bool CEffectPacker::CanPack(uint32_t, uint32_t, uint32_t)
{
    return true;
}
