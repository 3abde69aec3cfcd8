// Checks arbitrary bytes as an effect source against the sample effect module, plain and compressed
// in turn, prints every finding in every format, and holds the checker to its promise: it reports
// an error exactly when the packer's loader fails. The module is found through
// EMBERVISE_SAMPLE_MODULE, else beside the fuzz program.
#include "EffectFileLoader.h"
#include "FileCheck.h"
#include "Report.h"
#include "zqprocess.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

namespace
{
std::string s_sModule, s_sPlainPath, s_sCompressedPath;
CModuleCache* s_pModules = nullptr;
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
    s_sModule = pszVariable ? pszVariable
                            : (std::filesystem::absolute((*pArgv)[0]).parent_path() /
                               (std::string("sparkrig_sample") + pszSuffix))
                                  .string();
    s_pModules = new CModuleCache();
    if (!s_pModules->Get(s_sModule))
    {
        std::fprintf(stderr, "fuzz_fxcheck: cannot load the sample module %s\n", s_sModule.c_str());
        std::abort();
    }
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("fuzz_fxcheck_" + std::to_string(PlatformGetProcessId()));
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
        CSourceText text;
        std::vector<Diagnostic> diags;
        CheckFile(path, s_sModule, *s_pModules, text, diags);
        bool bError = false;
        std::ostringstream out;
        TextStyle style;
        style.bColor = style.bShowSource = true;
        for (const Diagnostic& diag : diags)
        {
            bError = bError || diag.GetSeverity() == Severity::Error;
            if (diag.eCode == DiagCode::LoadFailed)
                std::abort(); // the loader failed where the checker saw no error
            PrintText(out, diag, style, [&](const Diagnostic&, uint32_t nLine) { return text.LineText(nLine); });
            out << ToJsonLine(diag);
        }
        out << ToSarif(diags, "fuzz");
        CEffectCollection collection;
        std::string sError;
        if (bError && LoadEffectFile(path.c_str(), collection, *s_pModules->Get(s_sModule), sError))
            std::abort(); // the checker reported an error for a file that loads
    }
    std::remove(path.c_str());
    return 0;
}
