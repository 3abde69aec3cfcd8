// Loads arbitrary bytes as an effect source file against the sample effect module: inputs alternate
// between a plain ("Fx00a") and a compressed ("Fx00c") file name. The module is found through
// EMBERVISE_SAMPLE_MODULE, else beside the fuzz program.
#include "EffectFileLoader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define FUZZ_GETPID _getpid
#else
#include <unistd.h>
#define FUZZ_GETPID getpid
#endif

namespace
{
CEffectModule s_Module;
std::string s_sPlainPath;
std::string s_sCompressedPath;
bool s_bCompressedNext = false;

std::string Directory(const char* pszPath)
{
    const std::string path = pszPath ? pszPath : "";
    const size_t nSlash = path.find_last_of("/\\");
    return nSlash == std::string::npos ? std::string(".") : path.substr(0, nSlash);
}

std::string TempDirectory()
{
    for (const char* pszVar : {"TMPDIR", "TEMP", "TMP"})
    {
        if (const char* pszDir = std::getenv(pszVar))
            return pszDir;
    }
    return "/tmp";
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    const char* pszModule = std::getenv("EMBERVISE_SAMPLE_MODULE");
#if defined(_WIN32)
    const std::string besideUs = Directory((*pArgv)[0]) + "/sparkrig_sample.dll";
#else
    const std::string besideUs = Directory((*pArgv)[0]) + "/sparkrig_sample.so";
#endif
    (void)pArgc;
    if (!s_Module.Load(pszModule ? pszModule : besideUs.c_str()))
    {
        std::fprintf(stderr, "fuzz_effect_load: cannot load the sample module %s\n",
                     pszModule ? pszModule : besideUs.c_str());
        std::abort();
    }
    const std::string base = TempDirectory() + "/fuzz_effect_load_" + std::to_string(FUZZ_GETPID());
    s_sPlainPath = base + ".Fx00a";
    s_sCompressedPath = base + ".Fx00c";
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
