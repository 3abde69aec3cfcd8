#include "filecheck.h"
#include "printable.h"
#include "trustoption.h"

#include "EffectDocument.h"
#include "EffectFileLoader.h"
#include "EffectModule.h"
#include "EffectPacker.h"
#include "FileTrust.h"
#include "ProjectLocator.h"
#include "effectchecker.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

CModuleCache::CModuleCache() = default;
CModuleCache::~CModuleCache() = default;

const CEffectModule* CModuleCache::Get(const std::string& sPath, std::string& sWhy, bool bNamedByLocator)
{
    auto it = m_modules.find(sPath);
    if (it == m_modules.end())
    {
        Entry entry;
        std::string sFile, sRefusal;
        if (bNamedByLocator && !IsLibraryTrusted(sPath.c_str(), sFile, sRefusal))
        {
            entry.sWhy = "is not used: " + sRefusal + "; " + TrustHint(sFile);
        }
        else
        {
            entry.pModule.reset(new CEffectModule());
            if (entry.pModule->Load(sPath.c_str()))
                m_loaded.push_back(sPath);
            else
            {
                entry.sWhy = "cannot be loaded: " + entry.pModule->GetLoadError();
                entry.pModule.reset();
            }
        }
        it = m_modules.emplace(sPath, std::move(entry)).first;
    }
    sWhy = it->second.sWhy;
    return it->second.pModule.get();
}

namespace
{
Diagnostic FileLevel(const std::string& sPath, DiagCode eCode, const std::string& sMessage)
{
    Diagnostic diag;
    diag.sFile = sPath;
    diag.eCode = eCode;
    diag.sMessage = sMessage;
    return diag;
}

// The other form of the same source: "x.Fx00a" for "x.Fx00c" and the other way round.
void CheckBothForms(const std::string& sPath, std::vector<Diagnostic>& diags)
{
    const char cLast = sPath.back();
    const bool bCompressed = cLast == 'c' || cLast == 'C';
    for (char cOther : bCompressed ? std::string("aA") : std::string("cC"))
    {
        std::string sOther = sPath;
        sOther.back() = cOther;
        std::error_code ec;
        if (std::filesystem::is_regular_file(sOther, ec))
        {
            diags.push_back(
                FileLevel(sPath, DiagCode::BothForms,
                          "'" + Printable(sOther) +
                              "' is another form of this source; both would be packed into the same "
                              ".Fx00p, so zqpack packs neither"));
            diags.back().nLine = 1;
            return;
        }
    }
}
} // namespace

namespace
{
// Finds the module, checks the loaded text and asks the packer's loader (fnLoad) for its verdict.
template <class PackerLoad>
void CheckLoaded(const std::string& sPath, const std::string& sModule, CModuleCache& modules,
                 CSourceText& text, size_t nFirst, std::vector<Diagnostic>& diags, CFindingBudget& budget,
                 PackerLoad fnLoad)
{
    CheckBothForms(sPath, diags);

    std::string sModulePath = sModule;
    std::string sLocator; // the locator file that named the module
    if (sModulePath.empty())
    {
        CProjectInfo info;
        CLocatorTrace trace;
        if (!LocateProject(sPath.c_str(), info, &trace))
        {
            diags.push_back(FileLevel(
                sPath, DiagCode::NoProject,
                trace.sRefusedFile.empty()
                    ? "no project locator file (*.proj00) in the file's folder or above it; use "
                      "--module to name the effect module"
                    : "the project locator file '" + Printable(trace.sRefusedFile) + "' is not used: " +
                          Printable(trace.sRefusal) + "; " + Printable(TrustHint(trace.sRefusedFile))));
            text.Locate(diags, nFirst);
            return;
        }
        sModulePath = info.m_sSparkrig;
        sLocator = trace.sLocatorFile;
    }
    std::string sWhy;
    const CEffectModule* pModule = modules.Get(sModulePath, sWhy, !sLocator.empty());
    if (!pModule)
    {
        diags.push_back(FileLevel(sPath, DiagCode::ModuleLoadFailed,
                                  "the effect module '" + Printable(sModulePath) + "'" +
                                      (sLocator.empty() ? "" : " named by '" + Printable(sLocator) + "'") +
                                      " " + Printable(sWhy)));
        text.Locate(diags, nFirst);
        return;
    }
    CheckEffectSource(sPath, text, *pModule, diags, &budget);

    // The packer's own loader has the last word on whether the file loads. It runs only where the
    // checker found no error, and not where a text is cut: the loader reports each cut through the
    // assertion library, which would print it a second time.
    const auto begin = diags.begin() + static_cast<std::ptrdiff_t>(nFirst);
    // Both forms of a source are an error of the run, not of the text: the loader still runs.
    const bool bErrorFound =
        std::any_of(begin, diags.end(),
                    [](const Diagnostic& d)
                    { return d.GetSeverity() == Severity::Error && d.eCode != DiagCode::BothForms; });
    const bool bTextCut = std::any_of(begin, diags.end(),
                                      [](const Diagnostic& d) { return d.eCode == DiagCode::TextTruncated; });
    // The checker's tree is done with: the loader builds its own.
    text.ReleaseTree();
    std::string sError;
    bool bLoaded = true;
    if (!bErrorFound && !bTextCut)
    {
        // Only the verdict is wanted: the document goes as soon as it is made.
        CEffectCollection collection;
        bLoaded = fnLoad(collection, *pModule, sError);
    }
    if (!bLoaded)
    {
        std::string sText = sError;
        for (size_t nBreak; (nBreak = sText.find("\r\n")) != std::string::npos;)
            sText.replace(nBreak, 2, "; ");
        diags.push_back(FileLevel(sPath, DiagCode::LoadFailed, "the packer cannot load the file: " + sText));
    }
    // File order within the file; the reader's findings and the checker's interleave by position.
    std::stable_sort(diags.begin() + static_cast<std::ptrdiff_t>(nFirst), diags.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.nOffset < b.nOffset; });
    // The root cause leads: compressed data cut short explains the open lists and missing values
    // that come before it in the text.
    std::stable_partition(diags.begin() + static_cast<std::ptrdiff_t>(nFirst), diags.end(),
                          [](const Diagnostic& d) { return d.eCode == DiagCode::CompressedTruncated; });
    text.Locate(diags, nFirst);
}
} // namespace

void CheckFile(const std::string& sPath, const std::string& sModule, CModuleCache& modules, CSourceText& text,
               std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
{
    CFindingBudget ownBudget;
    CFindingBudget& budget = pBudget ? *pBudget : ownBudget;
    budget.StartFile();
    const size_t nFirst = diags.size();
    if (!text.Load(sPath, diags, &budget))
        return;
    CheckLoaded(sPath, sModule, modules, text, nFirst, diags, budget,
                [&](CEffectCollection& collection, const CEffectModule& module, std::string& sError)
                { return LoadEffectFile(sPath.c_str(), collection, module, sError); });
}

namespace
{
void CheckBytes(const std::string& sPath, std::string_view bytes, bool bInPlace, const std::string& sModule,
                CModuleCache& modules, CSourceText& text, std::vector<Diagnostic>& diags,
                CFindingBudget* pBudget)
{
    CFindingBudget ownBudget;
    CFindingBudget& budget = pBudget ? *pBudget : ownBudget;
    budget.StartFile();
    const size_t nFirst = diags.size();
    const bool bLoaded = bInPlace ? text.LoadView(sPath, bytes, diags, &budget)
                                  : text.LoadBytes(sPath, std::string(bytes), diags, &budget);
    if (!bLoaded)
        return;
    CheckLoaded(sPath, sModule, modules, text, nFirst, diags, budget,
                [&](CEffectCollection& collection, const CEffectModule& module, std::string& sError)
                {
                    return LoadEffectBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                           text.IsCompressed(), collection, module, sError);
                });
}
} // namespace

void CheckText(const std::string& sPath, std::string_view bytes, const std::string& sModule,
               CModuleCache& modules, CSourceText& text, std::vector<Diagnostic>& diags,
               CFindingBudget* pBudget)
{
    CheckBytes(sPath, bytes, false, sModule, modules, text, diags, pBudget);
}

void CheckBuffer(const std::string& sPath, std::string_view bytes, const std::string& sModule,
                 CModuleCache& modules, CSourceText& text, std::vector<Diagnostic>& diags,
                 CFindingBudget* pBudget)
{
    CheckBytes(sPath, bytes, true, sModule, modules, text, diags, pBudget);
}
