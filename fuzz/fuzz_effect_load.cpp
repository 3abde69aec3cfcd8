// Loads arbitrary bytes as an effect source file against the sample effect module: inputs alternate
// between a plain ("Fx00a") and a compressed ("Fx00c") file name. The module is found through
// EMBERVISE_SAMPLE_MODULE, else beside the fuzz program.
#include "EffectFileLoader.h"
#include "fuzz_source_file.h"

namespace
{
CEffectModule s_Module;
CFuzzSourceFile s_File("fuzz_effect_load");
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** pArgv)
{
    const std::string module = FuzzSampleModulePath((*pArgv)[0]);
    if (!s_Module.Load(module.c_str()))
    {
        std::fprintf(stderr, "fuzz_effect_load: cannot load the sample module %s\n", module.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (const char* pszPath = s_File.Write(pData, nSize))
    {
        CEffectCollection collection;
        std::string sError;
        LoadEffectFile(pszPath, collection, s_Module, sError);
    }
    s_File.Remove();
    return 0;
}
