// Checks arbitrary bytes as an effect source against the sample effect module, plain and compressed
// in turn, prints every finding in every format, and holds the checker to its promise: it reports
// an error exactly when the packer's loader fails, except for a ')' that closes a list early, which
// loses what follows while the loader packs the rest. The module is found through
// EMBERVISE_SAMPLE_MODULE, else beside the fuzz program.
#include "EffectFileLoader.h"
#include "filecheck.h"
#include "fuzz_source_file.h"
#include "report.h"

#include <sstream>

namespace
{
std::string s_sModule;
CModuleCache* s_pModules = nullptr;
CFuzzSourceFile s_File("fuzz_fxcheck");
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** pArgv)
{
    s_sModule = FuzzSampleModulePath((*pArgv)[0]);
    s_pModules = new CModuleCache();
    if (!s_pModules->Get(s_sModule))
    {
        std::fprintf(stderr, "fuzz_fxcheck: cannot load the sample module %s\n", s_sModule.c_str());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (const char* pszPath = s_File.Write(pData, nSize))
    {
        CSourceText text;
        std::vector<Diagnostic> diags;
        CheckFile(pszPath, s_sModule, *s_pModules, text, diags);
        bool bError = false;
        std::ostringstream out;
        TextStyle style;
        style.bColor = style.bShowSource = true;
        for (const Diagnostic& diag : diags)
        {
            bError =
                bError || (diag.GetSeverity() == Severity::Error && diag.eCode != DiagCode::SurplusParen);
            if (diag.eCode == DiagCode::LoadFailed)
                std::abort(); // the loader failed where the checker saw no error
            PrintText(out, diag, style,
                      [&](const Diagnostic&, uint32_t nLine) { return text.LineText(nLine); });
            out << ToJsonLine(diag);
        }
        out << ToSarif(diags, "fuzz");
        CEffectCollection collection;
        std::string sError;
        if (bError && LoadEffectFile(pszPath, collection, *s_pModules->Get(s_sModule), sError))
            std::abort(); // the checker reported an error for a file that loads
    }
    s_File.Remove();
    return 0;
}
