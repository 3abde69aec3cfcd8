#include "check.h"

#include "filecheck.h"
#include "printable.h"
#include "projects.h"
#include "sourcetext.h"
#include "zqprocess.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

CScratchFolder::CScratchFolder()
{
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec)
        return;
    const fs::path folder = base / ("fxls-" + std::to_string(PlatformGetProcessId()));
    fs::create_directories(folder, ec);
    if (!ec)
        m_sFolder = folder.string();
}

CScratchFolder::~CScratchFolder()
{
    if (m_sFolder.empty())
        return;
    std::error_code ec;
    fs::remove_all(m_sFolder, ec);
}

std::string CScratchFolder::Write(const std::string& sText, const std::string& sLikeName)
{
    if (m_sFolder.empty())
        return std::string();
    const bool bCompressed = !sLikeName.empty() && (sLikeName.back() == 'c' || sLikeName.back() == 'C');
    const std::string sPath = (fs::path(m_sFolder) / (bCompressed ? "text.Fx00c" : "text.Fx00a")).string();
    std::FILE* pFile = std::fopen(sPath.c_str(), "wb");
    if (!pFile)
        return std::string();
    const bool bWritten = std::fwrite(sText.data(), 1, sText.size(), pFile) == sText.size();
    const bool bClosed = std::fclose(pFile) == 0;
    return bWritten && bClosed ? sPath : std::string();
}

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

std::vector<Diagnostic> CheckDocument(const std::string& sPath, const std::string& sText, CProjects& projects,
                                      CScratchFolder& scratch)
{
    std::vector<Diagnostic> diags;
    const std::string sScratch = scratch.Write(sText, sPath);
    if (sScratch.empty())
    {
        diags.push_back(AtFileStart(sPath, DiagCode::FileUnreadable,
                                    "cannot write the text to a temporary file for checking"));
        return diags;
    }
    const ProjectModule project = sPath.empty() ? ProjectModule() : projects.Find(sPath);
    CSourceText text;
    if (project.eState == ProjectModule::State::Ready)
        CheckFile(sScratch, project.sModulePath, *project.pCache, text, diags);
    else
    {
        // The text alone: what the reader finds, and why nothing more was checked.
        text.Load(sScratch, diags);
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
    return diags;
}
