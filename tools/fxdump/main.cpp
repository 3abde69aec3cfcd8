#include "fxdump.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>

#ifndef EMBERVISE_VERSION
#define EMBERVISE_VERSION "0.0.0"
#endif

namespace
{
struct Options
{
    std::vector<std::string> files;
    std::string sModule;
    bool bNoModule = false;
    bool bJson = false;
    bool bVerify = false;
    bool bQuiet = false;
};

void Error(const std::string& sFile, const std::string& sText)
{
    std::fprintf(stderr, "fxdump: %s: %s\n", sFile.c_str(), sText.c_str());
}

// Modules by path: a folder of packed files usually shares one project, so its module loads once.
class CModuleCache
{
public:
    const fxdump::CModuleView& ForFile(const Options& options, const std::string& sFile)
    {
        static const fxdump::CModuleView s_none;
        if (options.bNoModule)
            return s_none;
        std::string sWhy;
        const std::string sPath =
            options.sModule.empty() ? fxdump::FindModuleForFile(sFile, sWhy) : options.sModule;
        if (sPath.empty())
        {
            if (!options.bQuiet)
                Error(sFile, "no effect module (" + sWhy + "); values are not decoded");
            return s_none;
        }
        auto it = m_modules.find(sPath);
        if (it == m_modules.end())
        {
            it = m_modules.emplace(sPath, std::make_unique<fxdump::CModuleView>()).first;
            std::string sError;
            if (!it->second->Load(sPath, sError))
                Error(sFile, sError + "; values are not decoded");
        }
        return *it->second;
    }

private:
    std::map<std::string, std::unique_ptr<fxdump::CModuleView>> m_modules;
};

// Reads, checks and prints one file; false when it is unreadable or, with --verify, broken.
bool ProcessFile(const Options& options, CModuleCache& modules, const std::string& sPath)
{
    fxdump::PackedFile file;
    std::string sError;
    if (!fxdump::LoadPackedFile(sPath, file, sError))
    {
        Error(sPath, sError);
        return false;
    }
    const fxdump::CModuleView& module = modules.ForFile(options, sPath);
    if (file.bWalked && module.IsLoaded())
        file.reader.CheckValues(
            [&module](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
            { return module.Lookup(nTypeID, pszName, info); },
            module.HasNoValueCurves());

    const auto& problems = file.reader.GetProblems();
    if (options.bVerify && !options.bJson)
    {
        for (const auto& problem : problems)
        {
            char szOffset[32];
            std::snprintf(szOffset, sizeof(szOffset), "offset 0x%X: ", problem.nOffset);
            Error(sPath, szOffset + problem.sText);
        }
        if (problems.empty() && !options.bQuiet)
            std::printf("%s: ok\n", sPath.c_str());
        return problems.empty();
    }
    if (options.bJson)
    {
        // Strings of a damaged or non-UTF-8 file must not stop the listing.
        const std::string sLine =
            fxdump::ToJson(file, module).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        std::printf("%s\n", sLine.c_str());
    }
    else
    {
        std::string sOut;
        fxdump::PrintText(file, module, sOut);
        std::fwrite(sOut.data(), 1, sOut.size(), stdout);
    }
    return options.bVerify ? problems.empty() : file.bWalked;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App app{"Print and verify packed effect files (.Fx00p).\nWith the effect module (found through the "
                 "project locator file above each file, or named with --module) every value is decoded by "
                 "its type; without it values are shown as raw words."};
    app.name("fxdump");
    app.set_version_flag("-V,--version", "fxdump " EMBERVISE_VERSION);
    app.add_option("FILE", options.files, "packed effect files")->required();
    CLI::Option* pModule =
        app.add_option("-m,--module", options.sModule, "effect module library to decode with");
    app.add_flag("--no-module", options.bNoModule, "do not look for an effect module")->excludes(pModule);
    app.add_flag("--json", options.bJson, "print one JSON object per file, one per line");
    app.add_flag("--verify", options.bVerify,
                 "check every structural invariant; exit 1 and name the offset of each violation");
    app.add_flag("-q,--quiet", options.bQuiet, "with --verify, print only violations");
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        const int nExit = app.exit(e);
        return nExit == 0 ? 0 : 2;
    }

    CModuleCache modules;
    bool bAllOk = true;
    for (const std::string& sPath : options.files)
        bAllOk = ProcessFile(options, modules, sPath) && bAllOk;
    std::fflush(stdout);
    return bAllOk ? 0 : 1;
}
