// Why a pack failed, in the words of the checker: after the packer's own lines, the checker's errors
// on the source, each at its line and column, as compilers print notes.
#include "zqpack.h"

#include "FileExtension.h"
#include "diagnostic.h"
#include "filecheck.h"
#include "sourcetext.h"

namespace zqpack
{
namespace
{
// More errors than this are counted, and fxcheck named for the rest.
constexpr size_t kMaxExplained = 10;

// Errors about the file as a whole (unreadable, no locator, no module, two forms) or the packer's
// own verdict: the packer's lines and the host's notes say them already.
bool AboutTheWholeFile(DiagCode eCode)
{
    return eCode == DiagCode::FileUnreadable || eCode == DiagCode::NoProject ||
           eCode == DiagCode::ModuleLoadFailed || eCode == DiagCode::BothForms ||
           eCode == DiagCode::LoadFailed;
}
} // namespace

struct CExplainer::Modules
{
    CModuleCache cache;
};

CExplainer::CExplainer() = default;
CExplainer::~CExplainer() = default;

std::vector<std::string> CExplainer::Explain(const FileOutcome& outcome)
{
    std::vector<std::string> lines;
    // Only a pack the packer itself failed, of a source the checker reads; a failure the system
    // explains (a folder that cannot be written) or the host decided needs no checker.
    if (outcome.eResult != Result::FAILED || !outcome.sPacker || !outcome.sReason.empty() ||
        !IsEffectSourceName(outcome.sSource.c_str()))
        return lines;
    if (!m_pModules)
        m_pModules.reset(new Modules());
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckFile(outcome.sSource, std::string(), m_pModules->cache, text, diags);
    size_t nErrors = 0;
    for (const Diagnostic& diag : diags)
    {
        if (diag.GetSeverity() != Severity::Error || AboutTheWholeFile(diag.eCode))
            continue;
        if (++nErrors > kMaxExplained)
            continue;
        lines.push_back(Printable(diag.sFile) + ":" + std::to_string(diag.nLine) + ":" +
                        std::to_string(diag.nColumn) + ": note: " + Printable(diag.sMessage) + " [" +
                        diag.GetCode() + "]");
    }
    if (nErrors > kMaxExplained)
        lines.push_back(Printable(outcome.sSource) + ": note: " + std::to_string(nErrors - kMaxExplained) +
                        " more errors; fxcheck lists them all");
    return lines;
}
} // namespace zqpack
