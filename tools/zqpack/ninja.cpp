#include "zqpack.h"

#include "pathgather.h"
#include "zqfiles.h"
#include "zqplatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

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
// an empty string or the reason. *pbWritten tells whether it wrote.
std::string WriteIfChanged(const std::string& sPath, const std::string& sText, bool* pbWritten = nullptr)
{
    if (pbWritten)
        *pbWritten = false;
    std::string sOld;
    if (ReadRegular(sPath, true, sText.size(), &sOld) && sOld == sText)
        return std::string();
    if (pbWritten)
        *pbWritten = true;
    return WriteFileAtomically(sPath, sText);
}

// A folder that build.ninja watches, with what its scan packs and reads.
struct Watched
{
    bool bWalked = false;             // below a folder to pack: folders and sources appearing matter
    std::set<std::string> patterns;   // locator searches that pass or stop here ("DIR/*.proj00")
    std::vector<std::string> sources; // the sources packed into it, as build.ninja names them
    std::set<std::string> inputs;     // what packing them reads besides the sources
};

// Calls fnEntry(name, kind) for every entry of sFolder; false when it cannot be read.
template <typename Fn>
bool ForEachEntry(const std::string& sFolder, Fn fnEntry)
{
    return PlatformListFolder(
        sFolder.c_str(),
        [](void* pContext, const char* pszName, PlatformEntryKind eKind)
        { (*static_cast<Fn*>(pContext))(std::string(pszName), eKind); },
        &fnEntry);
}

std::string JoinPath(const std::string& sFolder, const std::string& sName)
{
    return sFolder.empty() || sFolder.back() == '/' || sFolder.back() == '\\'
               ? sFolder + sName
               : sFolder + std::string(1, PLATFORM_PATH_SEP) + sName;
}

// Marks sFolder and every folder below it walked (links to folders are not followed, as the gathering
// does not), by absolute path. A path that is no folder adds nothing.
void WalkFolder(const std::string& sFolder, std::map<std::string, Watched>* pWatched)
{
    std::vector<std::string> below;
    if (!ForEachEntry(sFolder,
                      [&](const std::string& sName, PlatformEntryKind eKind)
                      {
                          if (eKind == ENTRY_FOLDER)
                              below.push_back(JoinPath(sFolder, sName));
                      }))
        return;
    (*pWatched)[AbsolutePath(sFolder)].bWalked = true;
    for (const std::string& sBelow : below)
        WalkFolder(sBelow, pWatched);
}

// The folders that the PATHs (and the @LIST files among them) name, walked; the list files go to
// *pLists, as build.ninja depends on them.
void WalkInputs(const std::vector<InputArg>& inputs, std::map<std::string, Watched>* pWatched,
                std::vector<std::string>* pLists)
{
    for (const InputArg& input : inputs)
    {
        if (input.bLiteral || input.sText.size() < 2 || input.sText[0] != '@')
        {
            WalkFolder(input.sText, pWatched);
            continue;
        }
        const std::string sList = input.sText.substr(1);
        pLists->push_back(AbsolutePath(sList));
        std::vector<std::string> paths;
        if (ReadPathList(sList, &paths))
            for (const std::string& sPath : paths)
                WalkFolder(sPath, pWatched);
    }
}
} // namespace

std::vector<InputArg> ScanInputs(const Options& options, const CPluginSet& plugins)
{
    std::vector<InputArg> inputs = options.inputs;
    if (!options.bWalked)
        return inputs;
    std::set<std::string> named;
    for (const InputArg& input : inputs)
        named.insert(AbsolutePath(input.sText));
    std::vector<std::string> found;
    ForEachEntry(options.sWatchFolder,
                 [&](const std::string& sName, PlatformEntryKind eKind)
                 {
                     const std::string sPath = JoinPath(options.sWatchFolder, sName);
                     if (eKind != ENTRY_FOLDER && plugins.Associate(sPath) &&
                         !named.count(AbsolutePath(sPath)))
                         found.push_back(sPath);
                 });
    std::sort(found.begin(), found.end());
    for (const std::string& sPath : found)
        inputs.push_back({sPath, true});
    return inputs;
}

int FinishScan(const Options& options, const CPluginSet& plugins, const std::vector<WorkItem>& work)
{
    // The folder first: a depfile that names nothing counts as missing to some tools.
    std::vector<Input> inputs(1);
    inputs[0].nKind = PACKER_INPUT_OTHER;
    inputs[0].sPath = options.sWatchFolder;
    std::set<std::string> seen;
    for (const WorkItem& item : work)
        for (const Input& input : item.outcome.inputs)
            if (seen.insert(input.sPath).second && input.sPath.find('\n') == std::string::npos)
                inputs.push_back(input);
    // What could change build.ninja: a locator file appearing where a search looks, and below a
    // folder to pack a folder or a source appearing. Packed files are left out: writing them changes
    // nothing here.
    std::set<std::string> lines;
    for (const std::string& sPattern : options.watchPatterns)
    {
        std::vector<std::string> names;
        MatchingNames(sPattern, &names);
        for (const std::string& sName : names)
            lines.insert("match " + sName);
    }
    const std::string& sFolder = options.sWatchFolder;
    const bool bRead = ForEachEntry(sFolder,
                                    [&](const std::string& sName, PlatformEntryKind eKind)
                                    {
                                        if (!options.bWalked)
                                            return;
                                        if (eKind == ENTRY_FOLDER)
                                            lines.insert("folder " + sName);
                                        else if (plugins.Associate(JoinPath(sFolder, sName)))
                                            lines.insert("source " + sName);
                                    });
    std::string sListing = bRead ? std::string() : "unreadable\n";
    for (const std::string& sLine : lines)
        sListing += sLine + "\n";
    std::string sError = WriteDepfile(options.sListing, inputs, options.sListing + ".d");
    if (sError.empty())
    {
        sError = WriteIfChanged(options.sListing, sListing);
        // For Make, which has no restat, the listing ends newer than the folder and what was packed.
        if (sError.empty() && options.bTouch && !PlatformTouchFile(options.sListing.c_str()))
            sError = std::strerror(errno);
        if (!sError.empty())
            sError = "cannot write " + options.sListing + ": " + sError;
    }
    if (!sError.empty())
    {
        PrintError(Printable(sError));
        return 1;
    }
    return 0;
}

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

    // Every edge also depends on zqpack and the plug-ins.
    const std::string sZqpack = AbsolutePath(sProgramPath);
    std::vector<std::string> tools = {sZqpack};
    for (const Plugin& plugin : plugins.Plugins())
        tools.push_back(AbsolutePath(plugin.sPath));
    std::map<std::string, Watched> watched;
    std::vector<std::string> lists;
    WalkInputs(options.inputs, &watched, &lists);

    // Ninja's log, the depfiles and the scans' listings go to a folder of this build.ninja's own in
    // zqpack's folder, and the edges too (build.ninja includes them): written into a watched folder,
    // any of them would make the next ninja scan that folder again.
    const std::string sOutput =
        options.sNinjaOutput.empty() ? std::string("build.ninja") : options.sNinjaOutput;
    const std::string sRecords = CRecordStore::DefaultFolder();
    const std::string sOutputPath = AbsolutePath(sOutput);
    const std::string sBuildFolder =
        sRecords.empty()
            ? std::string()
            : JoinPath(sRecords,
                       "ninja-" +
                           DigestHex(DigestBytes(sOutputPath.data(), sOutputPath.size())).substr(0, 16));
    const std::string sDepFolder = sBuildFolder.empty() ? std::string() : JoinPath(sBuildFolder, "deps");
    auto shortDigest = [](const std::string& sText)
    { return DigestHex(DigestBytes(sText.data(), sText.size())).substr(0, 16); };

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
        const std::string sDestination = AbsolutePath(item.destinations.front());
        Watched& home = watched[AbsolutePath(PatternFolder(sDestination))];
        home.sources.push_back(item.sPath);
        std::vector<std::string> implicit;
        for (const Input& input : PlannedInputs(plugins, item.sPath))
        {
            if (input.sPath.find('\n') != std::string::npos)
                continue;
            if (input.nKind == PACKER_INPUT_ABSENT || input.nKind == PACKER_INPUT_PATTERN)
                watched[AbsolutePath(PatternFolder(input.sPath))].patterns.insert(input.sPath);
            else if (input.nKind != PACKER_INPUT_SOURCE)
                implicit.push_back(input.sPath);
        }
        home.inputs.insert(implicit.begin(), implicit.end());
        implicit.insert(implicit.end(), tools.begin(), tools.end());
        sEdges += "build " + EscapeNinjaPath(item.destinations.front()) + ": pack " +
                  EscapeNinjaPath(item.sPath) + " |" + ImplicitInputs(implicit) + "\n";
        if (!sDepFolder.empty())
            sEdges += "  dep = " + shortDigest(sDestination) + "\n";
    }
    // A folder whose path holds a newline cannot be named (the sources in it are refused).
    for (auto it = watched.begin(); it != watched.end();)
        it = it->first.find('\n') == std::string::npos ? std::next(it) : watched.erase(it);

    std::string sOptions;
    for (const Plugin& plugin : plugins.Plugins())
        sOptions += " --plugin " + ShellWord(AbsolutePath(plugin.sPath));
    if (options.bNoOverwriteReadOnly)
        sOptions += " --no-overwrite-readonly";
    // @LIST arguments stay before "--", which would make them paths.
    std::string sArgs, sLiteralArgs;
    for (const InputArg& input : options.inputs)
        (input.bLiteral ? sLiteralArgs : sArgs) += " " + ShellWord(input.sText);
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
    std::string sRules = "rule pack\n"
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
                         escape(ShellWord(sZqpack) + " --emit-ninja --output " + ShellWord(sOutput) +
                                sOptions + sArgs + " --" + sLiteralArgs) +
                         "\n"
                         "  description = EMIT $out\n"
                         "  generator = 1\n"
                         "  restat = 1\n\n";

    // How build.ninja sees a locator or a source appear: Ninja notices a new file only through its
    // folder's write time, and it brings build.ninja up to date before anything else. Writing a packed
    // file moves its folder's time too, so a folder that build.ninja depended on directly would make
    // the next ninja run the generator again after every build that packed. Instead each watched
    // folder has a scan edge, part of bringing build.ninja up to date: it depends on the folder, the
    // sources packed into it and everything they read, packs those sources itself (zqpack's records
    // make the pack edges that follow find them up to date, writing nothing), and rewrites its
    // listing (locators, and below a folder to pack, folders and sources) only when that changes.
    // With restat, Ninja records the scan at the folder's time after its packs, so the next ninja
    // has no work; the generator runs only when a listing changed. An edit anywhere in a folder costs
    // one scan of it. This relies on Ninja 1.11's restat recording the inputs' times at the end of the
    // command; a Ninja that records the start time instead scans a folder once more after it packed.
    std::string sImplicit;
    if (sBuildFolder.empty())
    {
        // Without a folder of its own for the listings, build.ninja watches the folders directly.
        for (const auto& folder : watched)
            sImplicit += " " + EscapeNinjaPath(folder.first);
    }
    else
    {
        sRules += "rule scan\n"
                  "  command = " +
                  escape(ShellWord(sZqpack) + " -q") + " --watch $folder --listing $out $walked" +
                  escape(sOptions) +
                  " $patterns -- $in\n"
                  "  description = SCAN $shown\n"
                  "  depfile = $out.d\n"
                  "  deps = gcc\n"
                  "  restat = 1\n\n";
        for (const auto& folder : watched)
        {
            const Watched& what = folder.second;
            const std::string sListing = JoinPath(JoinPath(sBuildFolder, "scan"), shortDigest(folder.first));
            sImplicit += " " + EscapeNinjaPath(sListing);
            std::string sSources;
            for (const std::string& sSource : what.sources)
                sSources += " " + EscapeNinjaPath(sSource);
            std::string sPatterns;
            for (const std::string& sPattern : what.patterns)
                sPatterns += " --match " + ShellWord(sPattern);
            sEdges += "build " + EscapeNinjaPath(sListing) + ": scan" + sSources + " | " +
                      EscapeNinjaPath(folder.first) +
                      ImplicitInputs(std::vector<std::string>(what.inputs.begin(), what.inputs.end())) +
                      ImplicitInputs(tools) + "\n  folder = " + escape(ShellWord(folder.first)) +
                      "\n  shown = " + escape(folder.first) + "\n" +
                      (what.bWalked ? "  walked = --walked\n" : "") +
                      (sPatterns.empty() ? "" : "  patterns =" + escape(sPatterns) + "\n");
        }
    }
    for (const std::string& sList : lists)
        sImplicit += " " + EscapeNinjaPath(sList);

    const std::string sHeader =
        "# Packs effect sources with zqpack; written by zqpack --emit-ninja. Run ninja to pack what\n"
        "# changed: each packed file depends on its source, locator file, module, plug-in and zqpack; a\n"
        "# locator appearing in a searched folder, or a source appearing, writes the edges again.\n"
        "ninja_required_version = 1.7\n";
    const std::string sGraph = sRules + "build " + EscapeNinjaPath(sOutput) + ": emit |" + sImplicit +
                               ImplicitInputs(tools) + "\n\n" + sEdges;
    std::string sText;
    bool bGraphWritten = false;
    if (sBuildFolder.empty())
    {
        sText = sHeader + "\n" + sGraph;
    }
    else
    {
        // build.ninja itself stays the same, so that writing it never moves its folder's time.
        const std::string sGraphPath = JoinPath(sBuildFolder, "edges.ninja");
        sText = sHeader + "builddir = " + escape(sBuildFolder) + "\ninclude " + EscapeNinjaPath(sGraphPath) +
                "\n";
        std::string sError;
        if (PlatformEnsurePrivateFolder(sBuildFolder.c_str()) != FOLDER_PRIVATE)
            sError = "its folder cannot be created or is not private";
        else
            sError = WriteIfChanged(sGraphPath, sGraph, &bGraphWritten);
        if (!sError.empty())
        {
            PrintError(Printable("cannot write " + sGraphPath + ": " + sError));
            return 1;
        }
    }
    if (options.sNinjaOutput.empty())
    {
        std::fwrite(sText.data(), 1, sText.size(), stdout);
        return nExit;
    }
    bool bWritten = false;
    std::string sError = WriteIfChanged(options.sNinjaOutput, sText, &bWritten);
    // Ninja reads the edges again only when build.ninja's time moves; moving it changes nothing in
    // its folder.
    if (sError.empty() && bGraphWritten && !bWritten && !PlatformTouchFile(options.sNinjaOutput.c_str()))
        sError = std::strerror(errno);
    if (!sError.empty())
    {
        PrintError(Printable("cannot write " + options.sNinjaOutput + ": " + sError));
        return 1;
    }
    return nExit;
}
} // namespace zqpack
