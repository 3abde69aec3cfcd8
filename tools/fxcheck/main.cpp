// fxcheck: line-numbered diagnostics for effect sources, checked against their effect module the way
// the packer reads them. Never writes a file.
#include "FileExtension.h"
#include "commandline.h"
#include "diagnostic.h"
#include "filecheck.h"
#include "pathgather.h"
#include "printable.h"
#include "report.h"
#include "sourcetext.h"
#include "trustoption.h"
#include "zqprocess.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
struct Options
{
    std::vector<PathArg> inputs;
    std::string sModule;
    std::vector<std::string> trusted;
    std::string sFormat = "text";
    bool bColor = false;
    bool bNoColor = false;
    bool bShowSource = false;
    bool bNoShowSource = false;
    bool bQuiet = false;
    bool bSummary = false;
    bool bStrict = false;
    uint64_t nMaxFindings = kDefaultFindingLimit;
};

// Splits the arguments at "--": what follows is PATHs only, never options or @LISTs.
int Parse(int argc, char** argv, Options& options)
{
    CLI::App app{"Checks effect sources (.Fx00a, .Fx00c) against their effect module and reports, with file, "
                 "line and column, every place where the packer fails or changes or drops what was written.",
                 "fxcheck"};
    app.footer("PATH: an effect source, a folder (searched recursively for .Fx00a and .Fx00c files) or @LIST "
               "(a file with one path per line). Arguments after -- are paths only.\n"
               "Exit status: 0 no error, 1 an error (or a warning with --strict), 2 wrong usage.");
    std::vector<std::string> paths;
    app.add_option("PATH", paths, "effect sources, folders or @LIST files");
    app.add_option("--module", options.sModule,
                   "effect module to check against, instead of the one named by the project locator");
    app.add_option("--trust", options.trusted,
                   "use the project locator files and modules in DIR and below even where another user "
                   "owns them or could replace them (repeatable; adds to $EMBERVISE_TRUSTED_DIRS, where "
                   "'*' trusts every folder)")
        ->allow_extra_args(false);
    app.add_option("--format", options.sFormat, "output: text (default), json (one object per line) or sarif")
        ->check(CLI::IsMember({"text", "json", "sarif"}));
    app.add_flag("--color", options.bColor, "colour the text output even when it does not go to a terminal");
    app.add_flag("--no-color", options.bNoColor, "never colour the text output");
    app.add_flag("--show-source", options.bShowSource,
                 "show the source line and a caret under each finding even when not on a terminal");
    app.add_flag("--no-show-source", options.bNoShowSource, "never show source lines");
    app.add_flag("-q,--quiet", options.bQuiet, "report errors only");
    app.add_flag("--summary", options.bSummary,
                 "print the number of errors, warnings and notes to standard error");
    app.add_flag("--strict", options.bStrict, "exit 1 when any warning was reported");
    app.add_option("--max-findings", options.nMaxFindings,
                   "report at most N findings of each code per file and count the rest (default " +
                       std::to_string(kDefaultFindingLimit) + "; 0: no limit)")
        ->type_name("N");
    app.set_version_flag("-V,--version", std::string("fxcheck ") + EMBERVISE_VERSION);

    const int nArgs = ArgumentsBeforePaths(argc, argv);
    try
    {
        app.parse(nArgs, argv);
    }
    catch (const CLI::ParseError& e)
    {
        return CommandLineError("fxcheck", app, e);
    }
    for (const std::string& sPath : paths)
        options.inputs.push_back({sPath, false});
    for (int i = nArgs + 1; i < argc; ++i)
        options.inputs.push_back({argv[i], true});
    if (!TrustFolders(options.trusted))
    {
        std::cerr << "fxcheck: cannot set EMBERVISE_TRUSTED_DIRS for --trust\n";
        return 2;
    }
    if (options.inputs.empty())
    {
        return PrintUsageError("fxcheck", "no PATH given");
    }
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int nParsed = Parse(argc, argv, options);
    if (nParsed >= 0)
        return nParsed;

    std::vector<GatheredPath> paths = GatherPaths(options.inputs, IsEffectSourcePath);
    // A file reached twice is checked once.
    paths.erase(
        std::remove_if(paths.begin(), paths.end(), [](const GatheredPath& path) { return path.bDuplicate; }),
        paths.end());

    TextStyle style;
    const bool bTerminal = PlatformIsTerminal(stdout);
    style.bColor = !options.bNoColor && (options.bColor || bTerminal);
    style.bShowSource = !options.bNoShowSource && (options.bShowSource || bTerminal);

    CModuleCache modules;
    CFindingBudget budget(options.nMaxFindings);
    std::vector<Diagnostic> all; // kept for SARIF only
    std::map<std::string, std::unique_ptr<CSourceText>> texts;
    size_t anCounts[3] = {0, 0, 0};
    size_t nFiles = 0;
    for (const GatheredPath& path : paths)
    {
        std::vector<Diagnostic> diags;
        std::unique_ptr<CSourceText> pText(new CSourceText());
        if (!path.sError.empty())
        {
            Diagnostic diag;
            diag.sFile = path.sPath;
            diag.eCode = DiagCode::FileUnreadable;
            diag.sMessage = path.sError;
            diags.push_back(diag);
        }
        else if (!IsEffectSourceName(path.sPath.c_str()))
        {
            Diagnostic diag;
            diag.sFile = path.sPath;
            diag.eCode = DiagCode::FileUnreadable;
            diag.sMessage = "not an effect source: the name does not end in .Fx00a or .Fx00c";
            diags.push_back(diag);
        }
        else
        {
            ++nFiles;
            CheckFile(path.sPath, options.sModule, modules, *pText, diags, &budget);
        }
        const SourceLineFn lineOf = [&](const Diagnostic&, uint32_t nLine) { return pText->LineText(nLine); };
        for (const Diagnostic& diag : diags)
        {
            const Severity eSeverity = diag.GetSeverity();
            ++anCounts[static_cast<int>(eSeverity)];
            if (options.bQuiet && eSeverity != Severity::Error)
                continue;
            if (options.sFormat == "text")
                PrintText(std::cout, diag, style, lineOf);
            else if (options.sFormat == "json")
                std::cout << ToJsonLine(diag) << "\n";
            else
                all.push_back(diag);
        }
        std::cout.flush();
        for (size_t nCode = 0; nCode < DiagKinds().size(); ++nCode)
        {
            const DiagCode eCode = static_cast<DiagCode>(nCode);
            const uint64_t nOmitted = budget.Omitted(eCode);
            anCounts[static_cast<int>(DiagKind(eCode).eSeverity)] += nOmitted;
            if (nOmitted && (!options.bQuiet || DiagKind(eCode).eSeverity == Severity::Error))
                std::cerr << OmittedLine(Printable(path.sPath), eCode, nOmitted) << "\n";
        }
        budget.StartFile();
    }
    if (options.sFormat == "sarif")
        std::cout << ToSarif(all, EMBERVISE_VERSION, modules.LoadedPaths()) << "\n";
    const size_t nNotes = anCounts[static_cast<int>(Severity::Note)];
    const size_t nWarnings = anCounts[static_cast<int>(Severity::Warning)];
    const size_t nErrors = anCounts[static_cast<int>(Severity::Error)];
    if (options.bSummary)
    {
        std::vector<std::string> shown;
        for (const std::string& sModule : modules.LoadedPaths())
            shown.push_back(Printable(sModule));
        std::cerr << SummaryLine(nErrors, nWarnings, nNotes, nFiles, shown) << "\n";
    }
    return nErrors || (options.bStrict && nWarnings) ? 1 : 0;
}
