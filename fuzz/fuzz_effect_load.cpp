// Loads arbitrary bytes as an effect source file against the sample effect module: inputs alternate
// between a plain ("Fx00a") and a compressed ("Fx00c") file name. The module is found through
// EMBERVISE_SAMPLE_MODULE, else beside the fuzz program.
#include "EffectFileLoader.h"
#include "zqprocess.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace
{
CEffectModule s_Module;
std::string s_sPlainPath, s_sCompressedPath;
bool s_bCompressedNext = false;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** pArgv)
{
#if defined(_WIN32)
    const char* const pszSuffix = ".dll";
#else
    const char* const pszSuffix = ".so";
#endif
    const char* pszVariable = std::getenv("EMBERVISE_SAMPLE_MODULE");
    const std::string module = pszVariable ? pszVariable
                                           : (std::filesystem::absolute((*pArgv)[0]).parent_path() /
                                              (std::string("sparkrig_sample") + pszSuffix))
                                                 .string();
    if (!s_Module.Load(module.c_str()))
    {
        std::fprintf(stderr, "fuzz_effect_load: cannot load the sample module %s\n", module.c_str());
        std::abort();
    }
    const std::filesystem::path base = std::filesystem::temp_directory_path() /
                                       ("fuzz_effect_load_" + std::to_string(PlatformGetProcessId()));
    s_sPlainPath = base.string() + ".Fx00a";
    s_sCompressedPath = base.string() + ".Fx00c";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string& path = s_bCompressedNext ? s_sCompressedPath : s_sPlainPath;
    s_bCompressedNext = !s_bCompressedNext;
    FILE* pFile = std::fopen(path.c_str(), "wb");
    if (!pFile)
        return 0;
    const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
    std::fclose(pFile);
    if (bWritten)
    {
        CEffectCollection collection;
        std::string sError;
        LoadEffectFile(path.c_str(), collection, s_Module, sError);
    }
    std::remove(path.c_str());
    return 0;
}
