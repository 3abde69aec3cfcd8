#include "commandline.h"
#include "fxdump.h"

#include "trustoption.h"

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
    std::vector<std::string> trusted;
    bool bProject = false;
    bool bNoModule = false;
    bool bJson = false;
    bool bVerify = false;
    bool bQuiet = false;
    bool bZqa = false;
    bool bHtml = false;
    bool bDiff = false;
    bool bCsv = false;
    fxdump::EffectFilter filter;
};

void Error(const std::string& sFile, const std::string& sText)
{
    std::fprintf(stderr, "fxdump: %s: %s\n", Printable(sFile).c_str(), Printable(sText).c_str());
}

// The module each file is decoded with: none unless asked for. With --project each file's
// locator names it; a folder of packed files usually shares one project, so it loads once.
class CModuleCache
{
public:
    explicit CModuleCache(const Options& options) : m_Options(options) {}

    // Null when a module was asked for and cannot be had (the error is printed).
    const fxdump::CModuleView* ForFile(const std::string& sFile)
    {
        std::string sPath = m_Options.sModule;
        if (m_Options.bProject)
        {
            std::string sWhy;
            sPath = fxdump::FindModuleForFile(sFile, sWhy);
            if (sPath.empty())
            {
                Error(sFile, "no effect module: " + sWhy);
                return nullptr;
            }
        }
        return ForPath(sPath, sFile);
    }

    // The module at sPath (none when it is empty) for sFile; null when it cannot be loaded.
    const fxdump::CModuleView* ForPath(const std::string& sPath, const std::string& sFile)
    {
        static const fxdump::CModuleView s_none;
        if (sPath.empty())
            return &s_none;
        auto it = m_modules.find(sPath);
        if (it == m_modules.end())
        {
            it = m_modules.emplace(sPath, std::make_unique<fxdump::CModuleView>()).first;
            std::string sError;
            if (!it->second->Load(sPath, sError))
            {
                if (m_Options.bProject)
                    Error(sFile, sError);
                else
                    std::fprintf(stderr, "fxdump: %s\n", Printable(sError).c_str());
            }
        }
        return it->second->IsLoaded() ? it->second.get() : nullptr;
    }

private:
    const Options& m_Options;
    std::map<std::string, std::unique_ptr<fxdump::CModuleView>> m_modules;
};

// Reads a file and checks it with its module; false (the error printed) when it cannot be read.
bool Open(CModuleCache& modules, const std::string& sPath, fxdump::PackedFile& file,
          const fxdump::CModuleView*& pModule)
{
    std::string sError;
    if (!fxdump::LoadPackedFile(sPath, file, sError))
    {
        Error(sPath, sError);
        return false;
    }
    pModule = modules.ForFile(sPath);
    return pModule != nullptr;
}

// Reads, checks and prints one file; false when it is unreadable or, with --verify, broken.
bool ProcessFile(const Options& options, CModuleCache& modules, const std::string& sPath, bool& bCsvHeader)
{
    fxdump::PackedFile file;
    const fxdump::CModuleView* pModule = nullptr;
    if (!Open(modules, sPath, file, pModule))
        return false;
    if (options.bVerify)
        fxdump::CheckWithModule(file, *pModule);
    const auto& problems = file.reader.GetProblems();
    if (options.bVerify && !options.bJson)
    {
        for (const auto& problem : problems)
        {
            char szOffset[32];
            std::snprintf(szOffset, sizeof(szOffset), "offset 0x%X: ", problem.nOffset);
            Error(sPath, szOffset + problem.sText);
        }
        if (file.reader.GetMoreProblems())
            Error(sPath, std::to_string(file.reader.GetMoreProblems()) + " more problems");
        if (problems.empty() && !options.bQuiet)
            std::printf("%s: ok\n", Printable(sPath).c_str());
        return problems.empty();
    }
    if (options.bJson)
        fxdump::WriteJson(file, *pModule, options.filter, stdout);
    else if (options.bCsv)
    {
        // Once, above the first file that is read.
        if (!bCsvHeader)
            fxdump::WriteCsvHeader(stdout);
        bCsvHeader = true;
        fxdump::WriteCsv(file, *pModule, options.filter, stdout);
    }
    else
        fxdump::WriteText(file, *pModule, options.filter, stdout);
    return options.bVerify ? problems.empty() : file.bWalked;
}

int RunZqa(const Options& options, CModuleCache& modules)
{
    const std::string& sPath = options.files[0];
    fxdump::PackedFile file;
    const fxdump::CModuleView* pModule = nullptr;
    if (!Open(modules, sPath, file, pModule))
        return 1;
    fxdump::CheckWithModule(file, *pModule);
    if (!file.reader.GetProblems().empty())
    {
        Error(sPath, "the file is damaged (fxdump --verify says where); it cannot be turned back into text");
        return 1;
    }
    std::string sError;
    if (!fxdump::WriteZqa(file, *pModule, stdout, sError))
    {
        Error(sPath, sError);
        return 1;
    }
    return 0;
}

int RunDiff(const Options& options, CModuleCache& modules)
{
    fxdump::PackedFile files[2];
    for (int i = 0; i < 2; ++i)
    {
        std::string sError;
        if (!fxdump::LoadPackedFile(options.files[i], files[i], sError))
        {
            Error(options.files[i], sError);
            return 2;
        }
        if (!files[i].bWalked)
        {
            Error(options.files[i],
                  "the file is too damaged to compare: " + files[i].reader.GetProblems()[0].sText);
            return 2;
        }
    }
    // Both sides are decoded with one module: with --project the new file's, or the old one's
    // where only that has a locator above it (a copy compared with its original, say).
    std::string sModule = options.sModule, sFor = options.files[1];
    if (options.bProject)
    {
        std::string sWhy[2];
        for (int i = 1; i >= 0 && sModule.empty(); --i)
        {
            sModule = fxdump::FindModuleForFile(options.files[i], sWhy[i]);
            sFor = options.files[i];
        }
        if (sModule.empty())
        {
            Error(options.files[1], "no effect module: " + sWhy[1]);
            Error(options.files[0], "no effect module: " + sWhy[0]);
            return 2;
        }
    }
    const fxdump::CModuleView* pModule = modules.ForPath(sModule, sFor);
    if (!pModule)
        return 2;
    return fxdump::WriteDiff(files[0], files[1], *pModule, options.bJson, stdout) ? 0 : 1;
}

int RunHtml(const Options& options, CModuleCache& modules)
{
    std::vector<std::unique_ptr<fxdump::PackedFile>> files;
    std::vector<fxdump::PackedFile*> pointers;
    const fxdump::CModuleView* pShown = nullptr;
    bool bAllOk = true;
    for (const std::string& sPath : options.files)
    {
        auto pFile = std::make_unique<fxdump::PackedFile>();
        const fxdump::CModuleView* pModule = nullptr;
        if (!Open(modules, sPath, *pFile, pModule))
        {
            bAllOk = false;
            continue;
        }
        if (!pShown || pModule->IsLoaded())
            pShown = pModule;
        pointers.push_back(pFile.get());
        files.push_back(std::move(pFile));
    }
    if (pointers.empty())
        return 1; // no page for nothing but errors
    static const fxdump::CModuleView s_none;
    fxdump::WriteHtml(pointers, pShown ? *pShown : s_none, options.filter, stdout);
    return bAllOk ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App app{
        "Print, verify, compare and convert packed effect files (.Fx00p).\n"
        "Values are decoded by their types only with the effect module, named with --module or found "
        "through the project locator file above each file with --project; without it values are shown "
        "as raw words. No module is loaded unless asked for."};
    app.name("fxdump");
    app.set_version_flag("-V,--version", "fxdump " EMBERVISE_VERSION);
    app.add_option("FILE", options.files, "packed effect files")->required();
    CLI::Option* pModule =
        app.add_option("-m,--module", options.sModule, "effect module library to decode with");
    CLI::Option* pProject =
        app.add_flag("--project", options.bProject,
                     "use the module named by the project locator file (*.proj00) in each "
                     "file's folder or above, as the packer does");
    pProject->excludes(pModule);
    app.add_option("--trust", options.trusted,
                   "with --project, use the locator files and modules in DIR and below even where another "
                   "user owns them or could replace them (repeatable; adds to $EMBERVISE_TRUSTED_DIRS, "
                   "where '*' trusts every folder)")
        ->allow_extra_args(false);
    app.add_flag("--no-module", options.bNoModule, "decode without a module (the default)")
        ->excludes(pModule)
        ->excludes(pProject);
    CLI::Option* pJson =
        app.add_flag("--json", options.bJson, "print one JSON object per file, one per line");
    CLI::Option* pVerify = app.add_flag(
        "--verify", options.bVerify,
        "check every structural invariant (and, with a module, every value); exit 1 and name the "
        "offset of each violation");
    app.add_flag("-q,--quiet", options.bQuiet, "with --verify, print only violations");
    CLI::Option* pZqa =
        app.add_flag("--zqa", options.bZqa,
                     "write effect source text (ZQA) that packs to the same bytes; needs the module");
    CLI::Option* pHtml =
        app.add_flag("--html", options.bHtml, "write one self-contained HTML page for all files");
    CLI::Option* pDiff =
        app.add_flag("--diff", options.bDiff,
                     "compare two files (OLD NEW) by effect, key and property; exit 0 when they hold "
                     "the same effects, 1 when they differ, 2 when one cannot be read");
    CLI::Option* pCsv =
        app.add_flag("--csv", options.bCsv, "print the curve points of the shown effects as CSV");
    CLI::Option* pEffect =
        app.add_option("--effect", options.filter.names, "show only the effect with this name (repeatable)")
            ->allow_extra_args(false);
    pEffect->excludes(pZqa)->excludes(pDiff)->excludes(pVerify);
    pZqa->excludes(pHtml)->excludes(pDiff)->excludes(pCsv)->excludes(pJson)->excludes(pVerify);
    pHtml->excludes(pDiff)->excludes(pCsv)->excludes(pJson)->excludes(pVerify);
    pDiff->excludes(pCsv)->excludes(pVerify);
    pCsv->excludes(pJson)->excludes(pVerify);
    try
    {
        app.parse(argc, argv);
        if (options.bDiff && options.files.size() != 2)
            throw CLI::ValidationError("--diff", "needs two files, OLD and NEW");
        if (options.bZqa && options.files.size() != 1)
            throw CLI::ValidationError("--zqa", "converts one file");
    }
    catch (const CLI::ParseError& e)
    {
        return CommandLineError("fxdump", app, e);
    }
    // Types, and so curves and the source text, are known only from the module.
    for (const auto& needs : {std::make_pair(options.bZqa, "--zqa"), std::make_pair(options.bCsv, "--csv")})
        if (needs.first && options.sModule.empty() && !options.bProject)
            return PrintUsageError("fxdump", std::string(needs.second) +
                                                 " needs the effect module: --module PATH or --project");

    if (!TrustFolders(options.trusted))
    {
        std::fprintf(stderr, "fxdump: cannot set EMBERVISE_TRUSTED_DIRS for --trust\n");
        return 2;
    }
    static char s_OutBuffer[1 << 16];
    std::setvbuf(stdout, s_OutBuffer, _IOFBF, sizeof(s_OutBuffer));
    CModuleCache modules(options);
    if (!options.sModule.empty() && !modules.ForFile(options.sModule))
        return options.bDiff ? 2 : 1;
    int nExit = 0;
    if (options.bZqa)
        nExit = RunZqa(options, modules);
    else if (options.bDiff)
        nExit = RunDiff(options, modules);
    else if (options.bHtml)
        nExit = RunHtml(options, modules);
    else
    {
        bool bAllOk = true, bCsvHeader = false;
        for (const std::string& sPath : options.files)
            bAllOk = ProcessFile(options, modules, sPath, bCsvHeader) && bAllOk;
        nExit = bAllOk ? 0 : 1;
    }
    for (const std::string& sMiss : options.filter.Misses())
    {
        std::fprintf(stderr, "fxdump: %s\n", sMiss.c_str());
        nExit = nExit ? nExit : 1;
    }
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : nExit;
}
