#include "zqpack.h"

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
// A path in a build statement: '$', ' ' and ':' are escaped with '$'.
std::string EscapeNinjaPath(const std::string& sPath)
{
    std::string sOut;
    for (const char c : sPath)
    {
        if (c == '$' || c == ' ' || c == ':')
            sOut += '$';
        sOut += c;
    }
    return sOut;
}

// A word of the command line, quoted for the shell that Ninja runs commands with.
std::string ShellWord(const std::string& sWord)
{
#if defined(_WIN32)
    return "\"" + sWord + "\"";
#else
    std::string sOut = "'";
    for (const char c : sWord)
    {
        if (c == '\'')
            sOut += "'\\''";
        else
            sOut += c;
    }
    return sOut + "'";
#endif
}
// What planning with the packer says the pack of sPath would read.
std::vector<Input> PlannedInputs(const CPluginSet& plugins, const std::string& sPath)
{
    IPacker* pPacker = plugins.Associate(sPath);
    if (!pPacker)
        return {};
    CHostMessageSink sink(false, true);
    pPacker->PackFile(sPath.c_str(), PackerHostExtensionArg(PACKER_HOST_EXTENSION_PLAN_INPUTS), &sink);
    return sink.m_inputs;
}

// The folder of a pattern ("DIR/*.proj00"), as Ninja can name it.
std::string PatternFolder(const std::string& sPattern)
{
    const size_t nCut = sPattern.find_last_of("/\\");
    return nCut == std::string::npos ? std::string(".") : sPattern.substr(0, nCut);
}

std::string ImplicitInputs(const std::vector<std::string>& paths)
{
    std::string sText;
    for (const std::string& sPath : paths)
        sText += " " + EscapeNinjaPath(sPath);
    return sText;
}

// Writes sText to sPath when it differs from what is there (so that Ninja's restat sees no change);
// an empty string or the reason.
std::string WriteIfChanged(const std::string& sPath, const std::string& sText)
{
    std::string sOld;
    if (ReadRegular(sPath, true, sText.size(), &sOld) && sOld == sText)
        return std::string();
    return WriteFileAtomically(sPath, sText);
}
// Every folder at or below the folders among the inputs (links to folders are not followed, as the
// gathering does not), absolute.
std::set<std::string> WalkedFolders(const std::vector<InputArg>& inputs)
{
    std::set<std::string> folders;
    for (const InputArg& input : inputs)
    {
        std::error_code ec;
        if ((!input.bLiteral && !input.sText.empty() && input.sText[0] == '@') ||
            !fs::is_directory(fs::symlink_status(input.sText, ec)))
            continue;
        folders.insert(AbsolutePath(input.sText));
        for (fs::recursive_directory_iterator it(input.sText, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                folders.insert(AbsolutePath(it->path().string()));
    }
    // A folder whose path holds a newline cannot be named (the sources in it are refused).
    for (auto it = folders.begin(); it != folders.end();)
        it = it->find('\n') == std::string::npos ? std::next(it) : folders.erase(it);
    return folders;
}
} // namespace

int EmitNinja(const Options& options, const CPluginSet& plugins, const std::string& sProgramPath)
{
    if (sProgramPath.empty())
    {
        PrintError("cannot find the program's own path to name it in build.ninja");
        return 1;
    }
    std::vector<WorkItem> work = GatherWork(options.inputs, plugins);
    // The plan fails collisions; --force keeps every file in, as a build file lists them all.
    Options planOptions = options;
    planOptions.bForce = true;
    CRecordStore noRecords{std::string()};
    PlanWork(planOptions, plugins, work, noRecords, {});

    // Every edge also depends on zqpack and the plug-ins; build.ninja itself on the folders that the
    // locator searches passed or stopped in, where a locator appearing changes what governs a file,
    // and on every folder below a folder to pack, where a source may appear.
    const std::string sZqpack = AbsolutePath(sProgramPath);
    std::vector<std::string> tools = {sZqpack};
    for (const Plugin& plugin : plugins.Plugins())
        tools.push_back(AbsolutePath(plugin.sPath));
    std::set<std::string> searched = WalkedFolders(options.inputs);
    // Ninja's log and the depfiles go to a folder of this build.ninja's own in zqpack's folder:
    // written into a watched folder (the depfiles even removed again), they would make the next ninja
    // write build.ninja again.
    const std::string sOutput =
        options.sNinjaOutput.empty() ? std::string("build.ninja") : options.sNinjaOutput;
    const std::string sRecords = CRecordStore::DefaultFolder();
    const std::string sOutputPath = AbsolutePath(sOutput);
    const std::string sBuildFolder =
        sRecords.empty()
            ? std::string()
            : (fs::path(sRecords) /
               ("ninja-" + DigestHex(DigestBytes(sOutputPath.data(), sOutputPath.size())).substr(0, 16)))
                  .string();
    const std::string sDepFolder =
        sBuildFolder.empty() ? std::string() : (fs::path(sBuildFolder) / "deps").string();

    int nExit = 0;
    std::string sEdges;
    for (const WorkItem& item : work)
    {
        if (item.outcome.eResult == Result::SKIPPED)
            continue;
        if (!item.bToPack)
        {
            for (const Event& event : item.outcome.events)
                if (event.nLevel == PACKER_MSG_ERROR)
                    PrintError(Printable(item.sPath + ": " + event.sText));
            nExit = 1;
            continue;
        }
        if (item.sPath.find('\n') != std::string::npos ||
            (item.destinations.size() == 1 && item.destinations.front().find('\n') != std::string::npos))
        {
            PrintError(Printable(item.sPath +
                                 ": cannot be named in build.ninja: its path holds a newline, "
                                 "which Ninja cannot express; rename it or pack it with zqpack"));
            nExit = 1;
            continue;
        }
        if (item.destinations.size() != 1)
        {
            PrintError(
                Printable(item.sPath + ": its packer does not say where it packs it; pack it with zqpack"));
            nExit = 1;
            continue;
        }
        std::vector<std::string> implicit;
        for (const Input& input : PlannedInputs(plugins, item.sPath))
        {
            if (input.sPath.find('\n') != std::string::npos)
                continue;
            if (input.nKind == PACKER_INPUT_ABSENT || input.nKind == PACKER_INPUT_PATTERN)
                searched.insert(PatternFolder(input.sPath));
            else if (input.nKind != PACKER_INPUT_SOURCE)
                implicit.push_back(input.sPath);
        }
        implicit.insert(implicit.end(), tools.begin(), tools.end());
        sEdges += "build " + EscapeNinjaPath(item.destinations.front()) + ": pack " +
                  EscapeNinjaPath(item.sPath) + " |" + ImplicitInputs(implicit) + "\n";
        if (!sDepFolder.empty())
        {
            const std::string sDestination = AbsolutePath(item.destinations.front());
            sEdges +=
                "  dep = " + DigestHex(DigestBytes(sDestination.data(), sDestination.size())).substr(0, 16) +
                "\n";
        }
    }

    std::string sOptions;
    for (const Plugin& plugin : plugins.Plugins())
        sOptions += " --plugin " + ShellWord(AbsolutePath(plugin.sPath));
    if (options.bNoOverwriteReadOnly)
        sOptions += " --no-overwrite-readonly";
    std::string sArgs;
    for (const InputArg& input : options.inputs)
        sArgs += " " + ShellWord(input.sText);
    auto escape = [](const std::string& sCommand)
    {
        std::string sEscaped;
        for (const char c : sCommand)
            sEscaped += c == '$' ? std::string("$$") : std::string(1, c);
        return sEscaped;
    };
    const std::string sDepfile = sDepFolder.empty() ? std::string("$out.d") : escape(sDepFolder) + "/$dep.d";
    const std::string sDepOption = sDepFolder.empty()
                                       ? std::string(" --depfiles")
                                       : " --depfile " + escape(ShellWord(sDepFolder)) + "/$dep.d";
    const std::string sText =
        "# Packs effect sources with zqpack; written by zqpack --emit-ninja. Run ninja to pack what\n"
        "# changed: each packed file depends on its source, locator file, module, plug-in and zqpack; a\n"
        "# locator appearing in a searched folder, or a source appearing, writes this file again.\n"
        "ninja_required_version = 1.7\n" +
        (sBuildFolder.empty() ? std::string() : "builddir = " + escape(sBuildFolder) + "\n") +
        "\n"
        "rule pack\n"
        "  command = " +
        escape(ShellWord(sZqpack) + " -q --no-workers") + sDepOption + escape(sOptions) +
        " -- $in\n"
        "  description = PACK $in\n"
        "  depfile = " +
        sDepfile +
        "\n"
        "  deps = gcc\n"
        "  restat = 1\n\n"
        "rule emit\n"
        "  command = " +
        escape(ShellWord(sZqpack) + " --emit-ninja --output " + ShellWord(sOutput) + sOptions + " --" +
               sArgs) +
        "\n"
        "  description = EMIT $out\n"
        "  generator = 1\n"
        "  restat = 1\n\n"
        "build " +
        EscapeNinjaPath(sOutput) + ": emit |" +
        ImplicitInputs(std::vector<std::string>(searched.begin(), searched.end())) + ImplicitInputs(tools) +
        "\n\n" + sEdges;
    if (options.sNinjaOutput.empty())
    {
        std::fwrite(sText.data(), 1, sText.size(), stdout);
        return nExit;
    }
    const std::string sError = WriteIfChanged(options.sNinjaOutput, sText);
    if (!sError.empty())
    {
        PrintError(Printable("cannot write " + options.sNinjaOutput + ": " + sError));
        return 1;
    }
    return nExit;
}
} // namespace zqpack
