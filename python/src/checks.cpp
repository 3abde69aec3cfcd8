// Source checks and the packed-file views that print text: the same code as fxcheck and fxdump.
#include "bindings.h"

#include "FileExtension.h"
#include "filecheck.h"
#include "fxdump.h"
#include "pathgather.h"
#include "report.h"

#include <algorithm>
#include <cstdio>

namespace embervise
{
namespace
{
Diagnostic FileFinding(const std::string& sPath, const std::string& sMessage)
{
    Diagnostic diag;
    diag.sFile = sPath;
    diag.eCode = DiagCode::FileUnreadable;
    diag.sMessage = sMessage;
    return diag;
}

// Collects what a view writes to a FILE, through a temporary file of the C library.
class CCapture
{
public:
    CCapture() : m_pFile(std::tmpfile()) {}
    ~CCapture()
    {
        if (m_pFile)
            std::fclose(m_pFile);
    }
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;

    std::FILE* Get() const { return m_pFile; }
    // Everything written; false when the temporary file failed.
    bool Take(std::string& sText)
    {
        if (!m_pFile || std::fflush(m_pFile) != 0 || std::ferror(m_pFile))
            return false;
        std::rewind(m_pFile);
        sText.clear();
        char buffer[1 << 14];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), m_pFile)) > 0;)
            sText.append(buffer, n);
        return !std::ferror(m_pFile);
    }

private:
    std::FILE* m_pFile;
};

// A packed file and the module to view it with; sModule empty: the one the locator names.
Outcome OpenPacked(const std::string& sPath, const std::string& sModule, fxdump::PackedFile& file,
                   fxdump::CModuleView& module)
{
    std::string sModulePath = sModule;
    if (sModulePath.empty())
    {
        std::string sWhy;
        sModulePath = fxdump::FindModuleForFile(sPath, sWhy);
        if (sModulePath.empty())
            return {Failure::Module, sPath, "no effect module: " + sWhy};
    }
    std::string sError;
    if (!module.Load(sModulePath, sError))
        return {Failure::Module, sModulePath, sError};
    if (!fxdump::LoadPackedFile(sPath, file, sError))
        return {Failure::Format, sPath, sError};
    if (!file.bWalked)
        return {Failure::Format, sPath,
                "the file is too damaged to read: " + file.reader.GetProblems().at(0).sText};
    return {};
}
} // namespace

Outcome CheckSource(const std::string& sPath, const std::string& sModule, std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> guard(EngineLock());
    std::vector<GatheredPath> paths = GatherPaths({{sPath, true}}, IsEffectSourcePath);
    paths.erase(
        std::remove_if(paths.begin(), paths.end(), [](const GatheredPath& path) { return path.bDuplicate; }),
        paths.end());
    CModuleCache modules;
    for (const GatheredPath& path : paths)
    {
        std::vector<Diagnostic> diags;
        CSourceText text;
        if (!path.sError.empty())
            diags.push_back(FileFinding(path.sPath, path.sError));
        else if (!IsEffectSourcePath(path.sPath))
            diags.push_back(
                FileFinding(path.sPath, "not an effect source: the name does not end in .Fx00a or .Fx00c"));
        else
            CheckFile(path.sPath, sModule, modules, text, diags);
        for (const Diagnostic& diag : diags)
            lines.push_back(ToJsonLine(diag));
    }
    return {};
}

#ifdef EMBERVISE_HAVE_CHECK_TEXT
Outcome CheckSourceText(const std::string& sName, const std::string& sBytes, const std::string& sModule,
                        std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> guard(EngineLock());
    CModuleCache modules;
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckText(sName, sBytes, sModule, modules, text, diags);
    for (const Diagnostic& diag : diags)
        lines.push_back(ToJsonLine(diag));
    return {};
}
#endif

Outcome Decompile(const std::string& sPath, const std::string& sModule, std::string& sText)
{
    std::lock_guard<std::mutex> guard(EngineLock());
    fxdump::PackedFile file;
    fxdump::CModuleView module;
    Outcome outcome = OpenPacked(sPath, sModule, file, module);
    if (!outcome.Ok())
        return outcome;
    fxdump::CheckWithModule(file, module);
    if (!file.reader.GetProblems().empty())
        return {Failure::Format, sPath,
                "the file is damaged (fxdump --verify says where); it cannot be turned back into text"};
    CCapture capture;
    std::string sError;
    if (!capture.Get())
        return {Failure::Format, sPath, "cannot make a temporary file"};
    if (!fxdump::WriteZqa(file, module, capture.Get(), sError))
        return {Failure::Format, sPath, sError};
    if (!capture.Take(sText))
        return {Failure::Format, sPath, "cannot read back the temporary file"};
    return {};
}

Outcome Diff(const std::string& sOld, const std::string& sNew, const std::string& sModule, bool bJson,
             bool& bSame, std::string& sText)
{
    std::lock_guard<std::mutex> guard(EngineLock());
    fxdump::PackedFile files[2];
    fxdump::CModuleView module;
    std::string sError;
    if (!sModule.empty() && !module.Load(sModule, sError))
        return {Failure::Module, sModule, sError};
    const std::string* paths[2] = {&sOld, &sNew};
    for (int i = 0; i < 2; ++i)
    {
        if (!fxdump::LoadPackedFile(*paths[i], files[i], sError))
            return {Failure::Format, *paths[i], sError};
        if (!files[i].bWalked)
            return {Failure::Format, *paths[i],
                    "the file is too damaged to compare: " + files[i].reader.GetProblems().at(0).sText};
    }
    CCapture capture;
    if (!capture.Get())
        return {Failure::Format, sNew, "cannot make a temporary file"};
    bSame = fxdump::WriteDiff(files[0], files[1], module, bJson, capture.Get());
    if (!capture.Take(sText))
        return {Failure::Format, sNew, "cannot read back the temporary file"};
    return {};
}
} // namespace embervise
