#include "zqpack.h"

#include <cstdio>
#include <filesystem>
#include <map>
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
        sEdges += "build " + EscapeNinjaPath(item.destinations.front()) + ": pack " +
                  EscapeNinjaPath(item.sPath) + "\n";
    }

    std::string sCommand = ShellWord(AbsolutePath(sProgramPath)) + " -q --no-workers --depfiles";
    for (const Plugin& plugin : plugins.Plugins())
        sCommand += " --plugin " + ShellWord(AbsolutePath(plugin.sPath));
    if (options.bNoOverwriteReadOnly)
        sCommand += " --no-overwrite-readonly";
    std::string sEscaped;
    for (const char c : sCommand)
        sEscaped += c == '$' ? std::string("$$") : std::string(1, c);
    std::printf("# Packs effect sources with zqpack; written by zqpack --emit-ninja. Run ninja to pack what\n"
                "# changed: each packed file depends on its source, locator file and module (depfile).\n"
                "ninja_required_version = 1.7\n\n"
                "rule pack\n"
                "  command = %s -- $in\n"
                "  description = PACK $in\n"
                "  depfile = $out.d\n"
                "  deps = gcc\n"
                "  restat = 1\n\n%s",
                sEscaped.c_str(), sEdges.c_str());
    return nExit;
}
} // namespace zqpack
