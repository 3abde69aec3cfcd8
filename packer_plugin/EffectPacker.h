// The effect packer: packs effect source files (".Fx00a" text, ".Fx00c" compressed text) into
// packed effect files (".Fx00p") beside them.
#pragma once

#include "IPacker.h"

class CEffectPacker : public IPacker
{
public:
    bool GetName(char* pszBuffer, uint32_t nBufferSize) override;
    bool DeclareOptions(IPackerOptionList* pOptions) override;
    bool CanPack(uint32_t nArg0, uint32_t nArg1, uint32_t nArg2) override;
    bool PackFile(const char* pszFileName, uint32_t nArg, IPackerMessageSink* pSink) override;

private:
    // The stages of one run; exceptions from them end the run but never leave PackFile.
    // pHost is the host's extension sink, or null when the host offers none; nHostVersion its version.
    bool RunPack(const char* pszFileName, IPackerMessageSink* pSink, IPackerHostSink* pHost,
                 uint32_t nHostVersion);
};

// The one packer instance, constructed when the library loads and destroyed when it unloads.
CEffectPacker& GetEffectPacker();

// The packer for an effect source file name, null for every other name (and for null).
IPacker* AssociateEffectPacker(const char* pszFileName);
