// fxfmt: lays effect sources out in the canonical layout (format.h), to standard output, in place,
// as a check for CI or as a diff.
#include "format.h"
#include "fxfmt.h"

#include "FileExtension.h"
#include "commandline.h"

#include "pathgather.h"
#include "printable.h"
#include "zqautil.h"
#include "zqprocess.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#ifndef EMBERVISE_VERSION
#define EMBERVISE_VERSION "0.0.0"
#endif

namespace
{
const char* const kStdinName = "<stdin>";

struct Options
{
    std::vector<PathArg> inputs;
    bool bInPlace = false;
    bool bCheck = false;
    bool bDiff = false;
    bool bForce = false;
};

int UsageError(const std::string& sMessage)
{
    return PrintUsageError("fxfmt", sMessage);
}

void FileError(const std::string& sPath, const std::string& sMessage)
{
    std::fprintf(stderr, "fxfmt: error: %s: %s\n", Printable(sPath).c_str(), sMessage.c_str());
}

bool Write(const std::string& sText)
{
    return std::fwrite(sText.data(), 1, sText.size(), stdout) == sText.size();
}

// -1 to go on, else the exit status.
int Parse(int argc, char** argv, Options& options)
{
    CLI::App app{"Lays effect sources (.Fx00a, .Fx00c) out in the one canonical layout. Only whitespace "
                 "between tokens changes: the formatted file packs to exactly the same bytes.",
                 "fxfmt"};
    app.footer("FILE: an effect source, - for standard input, a folder (searched recursively for .Fx00a "
               "and .Fx00c files) or @LIST (a file with one path per line). Arguments after -- are paths "
               "only. A name ending in 'c' or 'C' is read, and written back, LZSS-compressed; standard "
               "output always gets plain text.\n"
               "Without -i, --check or --diff the formatted text of the one FILE goes to standard output.\n"
               "Exit status: 0 done, 1 a file failed (or would change, with --check), 2 wrong usage.");
    std::vector<std::string> paths;
    app.add_option("FILE", paths, "effect sources, -, folders or @LIST files");
    CLI::Option* pInPlace =
        app.add_flag("-i,--in-place", options.bInPlace, "rewrite each file that changes, in place");
    CLI::Option* pCheck = app.add_flag(
        "--check", options.bCheck, "write nothing; list the files that would change and exit 1 if any would");
    app.add_flag("--diff", options.bDiff, "print what would change as a unified diff")->excludes(pInPlace);
    pCheck->excludes(pInPlace);
    app.add_flag("--force", options.bForce,
                 "format files with structural faults too (unmatched ')', unclosed list or string)");
    app.set_version_flag("-V,--version", std::string("fxfmt ") + EMBERVISE_VERSION);

    const int nArgs = ArgumentsBeforePaths(argc, argv);
    try
    {
        app.parse(nArgs, argv);
    }
    catch (const CLI::ParseError& e)
    {
        return CommandLineError("fxfmt", app, e);
    }
    for (const std::string& sPath : paths)
        options.inputs.push_back({sPath, false});
    for (int i = nArgs + 1; i < argc; ++i)
        options.inputs.push_back({argv[i], true});
    if (options.inputs.empty())
        return UsageError("no FILE given");
    return -1;
}

// Formats one source as the options say; false when it failed. bChanged: it is not in the layout.
bool Process(const Options& options, const std::string& sPath, bool bStdin, bool& bChanged, int& nInterrupt)
{
    bChanged = false;
    const std::string sName = bStdin ? std::string(kStdinName) : sPath;
    const bool bCompressed = !bStdin && CZQAUtil::IsFileCompressed(sPath.c_str());
    std::string sText;
    std::string sError;
    if (!(bStdin ? fxfmt::ReadStandardInput(sText, sError)
                 : fxfmt::ReadSource(sPath, bCompressed, sText, sError)))
    {
        FileError(sName, sError);
        return false;
    }
    if (const fxfmt::Fault fault = fxfmt::CheckStructure(sText))
    {
        uint32_t nLine = 0;
        uint32_t nColumn = 0;
        fxfmt::LineColumn(sText, fault.nOffset, nLine, nColumn);
        std::fprintf(stderr, "%s:%u:%u: %s: %s%s\n", Printable(sName).c_str(), nLine, nColumn,
                     options.bForce ? "warning" : "error", fault.sMessage.c_str(),
                     options.bForce ? "" : " (not formatted; --force formats it anyway)");
        if (!options.bForce)
            return false;
    }
    const std::string sFormatted = fxfmt::FormatText(sText);
    if (!fxfmt::SameTokens(sText, sFormatted))
    {
        FileError(sName, "internal error: the layout would change a token; the file is left as it is");
        return false;
    }
    bChanged = sFormatted != sText;
    const bool bToStdout = !options.bInPlace && !options.bCheck && !options.bDiff;
    if (bToStdout)
        return Write(sFormatted);
    if (options.bCheck && bChanged)
        std::printf("%s\n", Printable(sName).c_str());
    if (options.bDiff && bChanged && !Write(fxfmt::UnifiedDiff(sText, sFormatted, sName)))
        return false;
    if (options.bInPlace && bChanged &&
        !fxfmt::ReplaceSource(sPath, bCompressed, sFormatted, sError, nInterrupt))
    {
        FileError(sName, sError);
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int nParsed = Parse(argc, argv, options);
    if (nParsed >= 0)
        return nParsed;

    // "-" named on the command line is standard input; everything else is gathered.
    std::vector<std::pair<GatheredPath, bool>> files; // a path, and whether it stands for standard input
    size_t nStdin = 0;
    for (const PathArg& arg : options.inputs)
    {
        if (arg.sText == "-" && !arg.bLiteral)
        {
            ++nStdin;
            files.push_back({{"-", true, false, std::string()}, true});
            continue;
        }
        for (GatheredPath& path : GatherPaths({arg}, IsEffectSourcePath))
            files.push_back({std::move(path), false});
    }
    if (nStdin > 1)
        return UsageError("standard input (-) can be named once only");
    if (nStdin && options.bInPlace)
        return UsageError("standard input (-) cannot be formatted in place");
    if (files.size() > 1 && !options.bInPlace && !options.bCheck && !options.bDiff)
        return UsageError("several files to format: give -i, --check or --diff");

    PlatformSetBinaryMode(stdout);
    if (options.bInPlace)
        PlatformCatchInterrupts();
    bool bFailed = false;
    bool bAnyChanged = false;
    for (const auto& [file, bStdin] : files)
    {
        if (const int nCaught = PlatformCaughtInterrupt())
            return nCaught;
        if (file.bDuplicate)
            continue;
        if (!file.sError.empty())
        {
            FileError(file.sPath, file.sError);
            bFailed = true;
            continue;
        }
        bool bChanged = false;
        int nInterrupt = 0;
        if (!Process(options, file.sPath, bStdin, bChanged, nInterrupt))
            bFailed = true;
        if (nInterrupt)
            return nInterrupt;
        bAnyChanged = bAnyChanged || bChanged;
    }
    if (std::fflush(stdout) != 0)
        bFailed = true;
    if (const int nCaught = PlatformCaughtInterrupt())
        return nCaught;
    return bFailed || (options.bCheck && bAnyChanged) ? 1 : 0;
}
