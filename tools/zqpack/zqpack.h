// zqpack: the resource-packing host. It loads packer plug-ins, offers them files and drives the
// packer that claims each one. One file per job: main.cpp (command line), plugins.cpp (plug-in
// loading), hostsink.cpp (message sink and option list), gather.cpp (file gathering), workers.cpp
// (packing in-process or in worker processes), report.cpp (output, JSON and summary).
#pragma once

#include "IPacker.h"
#include "zqplatform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zqpack
{
// ---------------------------------------------------------------------------------------------------
// Command line

enum class Verbosity
{
    Quiet,
    Normal,
    Verbose,
};

// One PATH argument; a literal one (after "--") is never read as an @list.
struct InputArg
{
    std::string sText;
    bool bLiteral = false;
};

struct Options
{
    std::vector<InputArg> inputs;
    std::vector<std::string> plugins; // --plugin, in order; empty: discover beside the program
    Verbosity eVerbosity = Verbosity::Normal;
    bool bJson = false;
    bool bListPackers = false;
    bool bNoOverwriteReadOnly = false;
    unsigned nJobs = 1;        // 0: one per core
    std::string sWorkerResult; // --worker PREFIX: PREFIX.K.json/.out/.err for the K-th file
};

// Prints "zqpack: MESSAGE" to stderr.
void PrintError(const std::string& sMessage);

// ---------------------------------------------------------------------------------------------------
// Plug-ins

struct Plugin
{
    std::string sPath;
    PlatformLibrary hLibrary = nullptr;
    PFN_AssociatePacker pfnAssociate = nullptr;
};

// The loaded plug-ins, in the order they are offered files. Unloads them in reverse order.
class CPluginSet
{
public:
    CPluginSet() = default;
    ~CPluginSet();
    CPluginSet(const CPluginSet&) = delete;
    CPluginSet& operator=(const CPluginSet&) = delete;

    // Loads each named plug-in; false (after an error line naming it) when one cannot be loaded or
    // does not export AssociatePacker.
    bool LoadNamed(const std::vector<std::string>& paths);
    // Loads every shared library in sDirectory, sorted by name, keeping those that export
    // AssociatePacker. False (after an error line) when none does.
    bool Discover(const std::string& sDirectory);

    // The first plug-in's packer that claims the file, or null; *pnPlugin receives its index.
    IPacker* Associate(const std::string& sFile, size_t* pnPlugin = nullptr) const;

    const std::vector<Plugin>& Plugins() const { return m_plugins; }

private:
    bool Add(const std::string& sPath, bool bReportFailure);

    std::vector<Plugin> m_plugins;
};

// The packer's display name ("" when it gives none).
std::string PackerName(IPacker* pPacker);

// ---------------------------------------------------------------------------------------------------
// Message sink and option list

// One thing a packer told the host during a pack, in order.
struct Event
{
    enum Kind
    {
        TASK,
        SUB_TASK,
        MESSAGE,
    };
    Kind eKind = MESSAGE;
    int32_t nLevel = 0;
    std::string sText;
};

class CHostMessageSink : public IPackerMessageSink
{
public:
    explicit CHostMessageSink(bool bNoOverwriteReadOnly) : m_bNoOverwriteReadOnly(bNoOverwriteReadOnly) {}

    bool SetTask(const char* pszTask) override;
    bool SetSubTask(const char* pszSubTask) override;
    bool SetProgress(uint32_t nDone, uint32_t nTotal) override;
    bool ClearMessages() override;
    bool MakeFileWritable(const char* pszPath) override;
    bool LogMessage(int32_t nLevel, const char* pszText) override;

    std::vector<Event> m_events;
    std::optional<std::string> m_sDestination; // the path of the last make-writable request

private:
    bool m_bNoOverwriteReadOnly;
};

struct OptionEntry
{
    std::string sGroup;
    std::optional<std::string> sName;
    std::optional<std::string> sDescription;
    bool bEnabled = true;
    uint32_t nKind = 0;
    int32_t nType = 0;
};

// Copies each entry during AddOption: the packer destroys it right after the call.
class CHostOptionList : public IPackerOptionList
{
public:
    bool AddOption(CPackerOption* pOption, const char* pszGroup) override;

    std::vector<OptionEntry> m_entries;
};

// ---------------------------------------------------------------------------------------------------
// Files and their outcomes

enum class Result
{
    PACKED,
    FAILED,
    UNCLAIMED,
};

struct FileOutcome
{
    std::string sSource;
    std::optional<std::string> sDestination;
    Result eResult = Result::FAILED;
    std::optional<std::string> sPacker;
    std::vector<Event> events;
    // What a worker process wrote on its own standard streams while packing the file.
    std::string sWorkerStdout;
    std::string sWorkerStderr;
};

// An outcome that the host decides alone: an error of its own, level 0.
FileOutcome HostFailure(const std::string& sSource, Result eResult, const std::string& sText);

// Offers the file to the plug-ins and packs it with the first packer that claims it.
FileOutcome PackOne(const CPluginSet& plugins, const std::string& sFile, bool bNoOverwriteReadOnly);

// One entry of the work list: a file to pack, or an outcome known before packing.
struct WorkItem
{
    std::string sPath;
    bool bToPack = false;
    FileOutcome outcome; // set at once when bToPack is false
};

// Expands the PATH arguments in order: files as given, folders recursively (entries sorted by name,
// unclaimed files left out), @lists line by line. A file reached again is counted in *pnSkipped.
std::vector<WorkItem> GatherWork(const std::vector<InputArg>& inputs, const CPluginSet& plugins,
                                 size_t* pnSkipped);

// ---------------------------------------------------------------------------------------------------
// Output

// The JSON line of an outcome. The internal form (worker to parent) also carries the task events
// and keeps every byte of every text; the public form has the messages only.
std::string OutcomeToJson(const FileOutcome& outcome, bool bInternal);
// Reads an internal line back; false when it is not one.
bool OutcomeFromJson(const std::string& sLine, FileOutcome* pOutcome);

// Prints the outcomes in order, the progress line on a terminal and the summary.
class CReporter
{
public:
    CReporter(const Options& options, size_t nToPack);
    ~CReporter();
    CReporter(const CReporter&) = delete;
    CReporter& operator=(const CReporter&) = delete;

    // A file starts packing: shown on the progress line.
    void Starting(const std::string& sFile);
    void Emit(const FileOutcome& outcome);
    void Summary(size_t nSkipped, double fSeconds);
    // 0 when every outcome was packed, else 1.
    int ExitStatus() const { return m_nFailed ? 1 : 0; }

private:
    void ClearProgress();

    const Options& m_options;
    bool m_bProgress;
    size_t m_nToPack;
    size_t m_nStarted = 0;
    size_t m_nProgressWidth = 0;
    size_t m_nPacked = 0;
    size_t m_nFailed = 0;
};

// ---------------------------------------------------------------------------------------------------
// Running

// Packs the work list in-process or with worker processes and emits every outcome in order.
void RunWork(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
             const std::string& sProgramPath, CReporter& reporter);

// The hidden --worker mode: packs the given files one by one, one result line each.
int RunWorker(const Options& options);

// --list-packers.
int ListPackers(const Options& options, const CPluginSet& plugins);
} // namespace zqpack
