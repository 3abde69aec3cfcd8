#include "check.h"

#include "filecheck.h"
#include "printable.h"
#include "projects.h"
#include "sourcetext.h"
#include "zqfiles.h"

#include <cstdio>

namespace
{
Diagnostic AtFileStart(const std::string& sPath, DiagCode eCode, std::string sMessage)
{
    Diagnostic diag;
    diag.sFile = sPath;
    diag.eCode = eCode;
    diag.nOffset = 0;
    diag.nLength = 0;
    diag.sMessage = std::move(sMessage);
    return diag;
}
} // namespace

std::vector<Diagnostic> CheckDocument(const std::string& sPath, std::string_view bytes, CProjects& projects,
                                      std::string* pText)
{
    std::vector<Diagnostic> diags;
    const ProjectModule project = sPath.empty() ? ProjectModule() : projects.Find(sPath);
    CSourceText text;
    if (project.eState == ProjectModule::State::Ready)
        CheckBuffer(sPath, bytes, project.sModulePath, *project.pCache, text, diags);
    else
    {
        // The text alone: what the reader finds, and why nothing more was checked.
        text.LoadView(sPath, bytes, diags);
        if (project.eState == ProjectModule::State::NoLocator)
            diags.insert(
                diags.begin(),
                AtFileStart(sPath, DiagCode::NoProject,
                            "no project locator file (*.proj00) governs this file: none in its folder "
                            "or above it, so only the text's structure is checked"));
        else if (project.eState == ProjectModule::State::Refused)
            diags.insert(diags.begin(), AtFileStart(sPath, DiagCode::NoProject, project.sWhy));
        else
            diags.insert(diags.begin(), AtFileStart(sPath, DiagCode::ModuleLoadFailed, project.sWhy));
        text.Locate(diags, 0);
    }
    for (Diagnostic& diag : diags)
        diag.sFile = sPath;
    if (pText)
        *pText = text.Text();
    return diags;
}

bool ReadFileBytes(const std::string& sPath, std::string& sBytes, std::string& sWhy)
{
    sBytes.clear();
    unsigned long long nSize = 0;
    PlatformOpenFailure eFailure = OPEN_OK;
    std::FILE* pFile = PlatformOpenRegularFile(sPath.c_str(), true, &nSize, &eFailure);
    if (!pFile)
    {
        sWhy = eFailure == OPEN_MISSING       ? "the file does not exist"
               : eFailure == OPEN_NOT_REGULAR ? "it is not a regular file"
                                              : "the file cannot be opened for reading";
        return false;
    }
    char buffer[65536];
    size_t nRead = 0;
    while ((nRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        sBytes.append(buffer, nRead);
    const bool bFailed = std::ferror(pFile) != 0;
    std::fclose(pFile);
    if (bFailed)
    {
        sWhy = "the file cannot be read";
        sBytes.clear();
    }
    return !bFailed;
}
