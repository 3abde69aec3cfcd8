#include "zqpack.h"

#include "commandline.h"
#include "trustoption.h"
#include "zqfiles.h"
#include "zqprocess.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#ifndef EMBERVISE_VERSION
#define EMBERVISE_VERSION "0.0.0"
#endif

namespace
{
int UsageError(const std::string& sMessage)
{
    return PrintUsageError("zqpack", sMessage);
}

// Parses the command line into *pOptions. Answers -1 to go on, else the exit status.
int ParseCommandLine(int argc, char** argv, zqpack::Options* pOptions)
{
    CLI::App app{
        "Pack resource files with the packer plug-ins found beside zqpack.\n"
        "Every file that a packer claims is packed; a folder is searched recursively, and @FILE reads\n"
        "further paths from FILE, one per line ('#' starts a comment line); after '--' every argument is\n"
        "a path. A file whose packed form is up to date (same source, locator file, module and plug-in as\n"
        "when it was last packed, and the packed file unchanged) is not packed again; records of past packs\n"
        "are kept in $ZQPACK_CACHE_DIR, else in the user's cache folder.\n"
        "Exit status: 0 when every claimed file was packed or up to date, 1 when any failed, 2 for wrong\n"
        "usage, 130/143 when interrupted."};
    app.name("zqpack");
    app.set_version_flag("-V,--version", "zqpack " EMBERVISE_VERSION);

    std::vector<std::string> paths;
    bool bVerbose = false;
    bool bQuiet = false;
    int nJobs = 1;
    app.add_option("PATH", paths, "files, folders and @lists to pack");
    app.add_option("--plugin", pOptions->plugins,
                   "load this packer plug-in (repeatable; default: every plug-in beside zqpack)")
        ->allow_extra_args(false);
    app.add_option("--trust", pOptions->trusted,
                   "use the project locator files and modules in DIR and below even where another user "
                   "owns them or could replace them (repeatable; adds to $" PACKER_TRUSTED_DIRS_VARIABLE
                   ", where '*' trusts every folder)")
        ->allow_extra_args(false);
    app.add_option("-j,--jobs", nJobs, "pack N files at once in worker processes (0: one per core)")
        ->check(CLI::Range(0, 1024));
    CLI::Option* pVerbose = app.add_flag("-v,--verbose", bVerbose, "print the packers' progress messages");
    app.add_flag("-q,--quiet", bQuiet, "print errors only")->excludes(pVerbose);
    app.add_flag("--json", pOptions->bJson, "print one JSON object per file on standard output")
        ->excludes(pVerbose);
    app.add_flag("--no-overwrite-readonly", pOptions->bNoOverwriteReadOnly,
                 "fail instead of making a read-only destination writable");
    app.add_flag("--list-packers", pOptions->bListPackers,
                 "list the plug-ins, and the packers that claim the given PATHs with their options");
    app.add_flag("-f,--force", pOptions->bForce, "pack files even when their packed form is up to date");
    app.add_flag("--depfiles", pOptions->bDepfiles,
                 "write DESTINATION.d beside each packed file: its inputs in Make syntax");
    app.add_option("--depfile", pOptions->sDepfile,
                   "with one PATH naming a file: write its depfile to FILE, its folder created private "
                   "when missing (build.ninja keeps them out of the source tree)");
    app.add_flag("--emit-ninja", pOptions->bEmitNinja,
                 "print a build.ninja that packs the given PATHs, one edge per file, instead of packing");
    app.add_option(
        "-o,--output", pOptions->sNinjaOutput,
        "with --emit-ninja: write build.ninja to FILE (only when it changes) instead of printing it");
    app.add_flag("--touch", pOptions->bTouch,
                 "move a packed file's write time to now even when its bytes stay the same (for Make, which\n"
                 "has no restat; embervise_pack_effects passes it under CMake's Makefile generators)");
    bool bNoExplain = false;
    app.add_flag("--no-explain", bNoExplain,
                 "after a failed pack, do not run fxcheck's checks on the source to show its errors as\n"
                 "PATH:LINE:COL: note: lines");
    app.add_flag("--no-workers", pOptions->bNoWorkers,
                 "pack in this process, one file at a time (for debugging: a crash ends the run)");
    app.add_option("--timeout", pOptions->fTimeout,
                   "fail a file whose pack takes longer than SECONDS (default 600; workers only)")
        ->check(CLI::PositiveNumber);
    // Internal: build.ninja's scan of a folder.
    app.add_option("--watch", pOptions->sWatchFolder)->group("");
    app.add_option("--listing", pOptions->sListing)->group("");
    app.add_option("--match", pOptions->watchPatterns)->group("")->allow_extra_args(false);
    app.add_flag("--walked", pOptions->bWalked)->group("");
    // Internal: one process of a worker run.
    app.add_option("--worker", pOptions->sWorkerResult)->group("");
    app.add_option("--worker-parent", pOptions->nParentId)->group("");

    // Everything after the first "--" is a path taken literally, even one starting with '-' or '@'.
    int nOptionArgs = argc;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--") == 0)
        {
            nOptionArgs = i;
            break;
        }
    }
    try
    {
        app.parse(nOptionArgs, argv);
    }
    catch (const CLI::ParseError& e)
    {
        return CommandLineError("zqpack", app, e);
    }

    for (const std::string& sPath : paths)
        pOptions->inputs.push_back({sPath, false});
    for (int i = nOptionArgs + 1; i < argc; ++i)
        pOptions->inputs.push_back({argv[i], true});
    pOptions->nJobs = static_cast<unsigned>(nJobs);
    pOptions->bExplain = !bNoExplain;
    pOptions->eVerbosity = bVerbose ? zqpack::Verbosity::Verbose
                           : bQuiet ? zqpack::Verbosity::Quiet
                                    : zqpack::Verbosity::Normal;

    if (!TrustFolders(pOptions->trusted))
        return UsageError("cannot pass --trust on to the packers");
    const bool bWorker = !pOptions->sWorkerResult.empty();
    if (bWorker && pOptions->plugins.empty())
        return UsageError("--worker needs --plugin");
    if (pOptions->sWatchFolder.empty() != pOptions->sListing.empty())
        return UsageError("--watch goes with --listing");
    if (pOptions->inputs.empty() && !pOptions->bListPackers && pOptions->sWatchFolder.empty())
        return UsageError("no PATH given");
    if (!pOptions->sDepfile.empty() && pOptions->inputs.size() != 1)
        return UsageError("--depfile goes with one PATH");
    if (!pOptions->sNinjaOutput.empty() && !pOptions->bEmitNinja)
        return UsageError("--output goes with --emit-ninja");
    return -1;
}

struct FinishContext
{
    const zqpack::Options& options;
    zqpack::CRecordStore& records;
    zqpack::CReporter& reporter;
};

// Keeps the record of each pack and writes its depfile, before the outcome is shown.
void Finish(void* pContext, zqpack::WorkItem& item)
{
    FinishContext& context = *static_cast<FinishContext*>(pContext);
    zqpack::FileOutcome& outcome = item.outcome;
    if (item.destinations.size() != 1 || item.sPlugin.empty())
        return;
    const std::string& sDestination = item.destinations.front();
    if (outcome.eResult == zqpack::Result::PACKED)
    {
        context.records.Record(item.sPath, sDestination, item.sPlugin, outcome);
    }
    else if (outcome.eResult == zqpack::Result::FAILED)
    {
        context.records.Forget(sDestination);
    }
    if (context.options.bTouch &&
        (outcome.eResult == zqpack::Result::PACKED || outcome.eResult == zqpack::Result::UP_TO_DATE))
    {
        // Make compares write times only: an output that stayed must still look newer than its inputs.
        PlatformTouchFile(sDestination.c_str());
    }
    if ((context.options.bDepfiles || !context.options.sDepfile.empty()) &&
        (outcome.eResult == zqpack::Result::PACKED || outcome.eResult == zqpack::Result::UP_TO_DATE) &&
        !outcome.inputs.empty())
    {
        const std::string sError =
            zqpack::WriteDepfile(sDestination, outcome.inputs, context.options.sDepfile);
        if (!sError.empty())
            context.reporter.HostError(sError);
    }
}

// The end of a run that an interrupt stopped before any pack began.
int Interrupted()
{
    zqpack::PrintError("interrupted");
    return PlatformCaughtInterrupt();
}

std::string ProgramPath()
{
    char szPath[4096];
    return PlatformGetProgramPath(szPath, sizeof(szPath)) ? std::string(szPath) : std::string();
}

int Run(zqpack::Options options)
{
    if (!options.sWorkerResult.empty())
        return zqpack::RunWorker(options);
    PlatformCatchInterrupts();

    const auto start = std::chrono::steady_clock::now();
    const std::string sProgramPath = ProgramPath();
    zqpack::CPluginSet plugins;
    if (!options.plugins.empty())
    {
        if (!plugins.LoadNamed(options.plugins))
            return 1;
    }
    else
    {
        if (sProgramPath.empty())
        {
            zqpack::PrintError(
                "cannot find the program's own folder to look for plug-ins; name them with --plugin");
            return 1;
        }
        if (!plugins.Discover(std::filesystem::path(sProgramPath).parent_path().string()))
            return 1;
    }

    if (options.bListPackers)
        return zqpack::ListPackers(options, plugins);
    if (options.bEmitNinja)
        return zqpack::EmitNinja(options, plugins, sProgramPath);

    if (!options.sWatchFolder.empty())
        options.inputs = zqpack::ScanInputs(options, plugins);
    std::vector<std::string> temporaries;
    std::vector<zqpack::WorkItem> work = zqpack::GatherWork(options.inputs, plugins, &temporaries);
    if (PlatformCaughtInterrupt())
        return Interrupted();
    zqpack::CRecordStore records(zqpack::CRecordStore::DefaultFolder());
    const std::string sRecordWarning = records.Open();
    if (!sRecordWarning.empty())
        zqpack::PrintError(Printable(sRecordWarning));
    zqpack::PlanWork(options, plugins, work, records, temporaries);
    if (PlatformCaughtInterrupt())
        return Interrupted();
    size_t nToPack = 0;
    for (const zqpack::WorkItem& item : work)
        nToPack += item.bToPack ? 1 : 0;

    zqpack::CReporter reporter(options, nToPack);
    FinishContext context{options, records, reporter};
    const bool bFinished = zqpack::RunWork(options, plugins, work, sProgramPath, reporter, Finish, &context);
    // The records of what was packed are kept even after an interrupt.
    const std::string sRecordError = records.Flush();
    if (!sRecordError.empty())
        reporter.Warning(sRecordError);
    if (!bFinished || PlatformCaughtInterrupt())
    {
        reporter.HostError("interrupted");
        return PlatformCaughtInterrupt() ? PlatformCaughtInterrupt() : 1;
    }
    if (!options.sWatchFolder.empty())
        return zqpack::FinishScan(options, plugins, work);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    reporter.Summary(elapsed.count());
    return reporter.ExitStatus();
}
} // namespace

int main(int argc, char** argv)
{
    try
    {
        zqpack::Options options;
        const int nExit = ParseCommandLine(argc, argv, &options);
        if (nExit >= 0)
            return nExit;
        return Run(std::move(options));
    }
    catch (const std::exception& e)
    {
        zqpack::PrintError(std::string("internal error: ") + e.what());
        return 1;
    }
}
