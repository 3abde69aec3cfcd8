// zqpack: the resource-packing host. It loads packer plug-ins, offers them files and drives the
// packer that claims each one. One file per job: main.cpp (command line), plugins.cpp (plug-in
// loading), hostsink.cpp (message sink and option list), gather.cpp (file gathering), workers.cpp
// (packing in-process or in worker processes), report.cpp (output, JSON and summary), plan.cpp
// (where each file goes, collisions, up-to-date decisions), digests.cpp (content digests of inputs),
// records.cpp (the records of past packs, depfiles), ninja.cpp (--emit-ninja), explain.cpp (the
// checker's errors after a failed pack).
#pragma once

#include "IPacker.h"
#include "printable.h"
#include "zqplatform.h"
#include "zqprocess.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zqpack
{
// ---------------------------------------------------------------------------------------------------
// Digests

// A 128-bit content digest (XXH3-128).
struct Digest128
{
    uint64_t nLow = 0;
    uint64_t nHigh = 0;
    bool operator==(const Digest128& other) const { return nLow == other.nLow && nHigh == other.nHigh; }
};
Digest128 DigestBytes(const void* pData, size_t nSize);
// 32 lower-case hex digits.
std::string DigestHex(const Digest128& digest);

// A file's size and digest, and its stamp taken before it was read. bStamped: the stamp is old
// enough to identify this content later (no write within the same time tick can have followed the
// read unseen), so a later run may trust it without reading the file.
struct FileDigest
{
    bool bOk = false;
    uint64_t nSize = 0;
    Digest128 digest;
    bool bHasStamp = false;
    bool bStamped = false;
    PlatformFileStamp stamp = {};
    bool operator==(const FileDigest& other) const
    {
        return bOk && other.bOk && nSize == other.nSize && digest == other.digest;
    }
};
FileDigest DigestFile(const std::string& sPath);
// The names of the files that a pattern (a folder, a separator and a name with '*' and '?',
// matched ignoring case) matches now, as a digest; nSize is their count.
FileDigest DigestMatches(const std::string& sPattern);
// The names in a pattern's folder that its last component ("*.proj00") matches, ignoring case,
// sorted. False when the folder exists but cannot be read.
bool MatchingNames(const std::string& sPattern, std::vector<std::string>* pNames);

// "SIZE DIGEST STAMP" (the stamp "-" when it is not trusted), or "none" for a digest not taken.
std::string DigestText(const FileDigest& digest);
bool ParseDigestText(const std::string& sText, FileDigest* pDigest);
// Same size, write time, change time and file id.
bool SameStamp(const PlatformFileStamp& a, const PlatformFileStamp& b);

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
    std::vector<std::string> trusted; // --trust: folders whose locators and modules the packers use
    Verbosity eVerbosity = Verbosity::Normal;
    bool bJson = false;
    bool bListPackers = false;
    bool bNoOverwriteReadOnly = false;
    bool bForce = false;                    // repack files that are up to date
    bool bDepfiles = false;                 // write DESTINATION.d beside each packed file
    std::string sDepfile;                   // --depfile: where the depfile of the one file to pack goes
    bool bEmitNinja = false;                // print a build.ninja instead of packing
    std::string sNinjaOutput;               // --output: where --emit-ninja writes (only when it changes)
    std::string sWatchFolder;               // --watch: build.ninja's scan of one folder (see ScanFolder)
    std::string sListing;                   // --listing: where the scan keeps the folder's listing
    std::vector<std::string> watchPatterns; // --match: locator patterns searched in the folder
    bool bWalked = false;                   // --walked: the folder is below a folder to pack
    bool bTouch = false;                    // move an output's write time to now even when its bytes stay
    bool bNoWorkers = false;                // pack in this process (debugging)
    bool bExplain = true;        // run the checker on the source of a failed pack (--no-explain: off)
    double fTimeout = 600;       // seconds one file may take in a worker
    unsigned nJobs = 1;          // 0: one per core
    std::string sWorkerResult;   // --worker PREFIX: PREFIX.results, one line per file
    unsigned long nParentId = 0; // --worker-parent: the host that started this worker
};

// Prints "zqpack: MESSAGE" to stderr.
void PrintError(const std::string& sMessage);

// ---------------------------------------------------------------------------------------------------
// Plug-ins

struct Plugin
{
    std::string sPath;
    FileDigest digest;            // taken before it was loaded
    long long nLoadedAfterNs = 0; // the file clock before the digest
    PlatformLibrary hLibrary = nullptr;
    PFN_AssociatePacker pfnAssociate = nullptr;
};

// Whether a packer offers the host extension: asked once per packer, by a plan request for a file
// that cannot exist (a packer without the extension fails on it without touching anything).
class CExtensionProbe
{
public:
    bool Knows(IPacker* pPacker, const std::string& sSampleFile);

private:
    std::map<IPacker*, bool> m_answers;
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
    // AssociatePacker; when none does, the same in the installed tree's plug-in folder relative to
    // sDirectory. False (after an error line naming both) when neither holds a plug-in.
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

// A file a pack read, as the packer reported it.
struct Input
{
    uint32_t nKind = PACKER_INPUT_OTHER;
    std::string sPath;
    FileDigest digest; // taken by the packing process; not ok when it may not be what the pack read
};

// A file a pack needed and did not use, as the packer reported it (host extension version 2).
struct UnusedInput
{
    uint32_t nWhy = PACKER_UNUSED_UNLOADABLE;
    uint32_t nKind = PACKER_INPUT_OTHER;
    std::string sPath;
    std::string sNamedBy;  // empty when not told
    std::string sResolved; // empty when not told
    std::string sReason;
};

// One line that says which file was not used and why, and how to allow it when the trust rule
// refused it.
std::string UnusedInputText(const UnusedInput& unused);

// The digests of the inputs that packs report, taken by the process that packs as they are reported.
// A library stays loaded from one pack to the next, so its digest is the one taken when it was first
// loaded. After a pack, an input that changed since the pack began (or since its library was loaded)
// loses its digest: nothing can say what the pack read.
class CInputDigests
{
public:
    // A pack begins: a change time from now on is a change during it.
    void BeginPack();
    FileDigest Take(uint32_t nKind, const std::string& sPath);
    void Settle(std::vector<Input>& inputs) const;

private:
    struct Loaded
    {
        FileDigest digest;
        long long nLoadedAfterNs = 0;
    };
    long long m_nPackStartNs = 0;
    std::map<std::string, Loaded> m_libraries;
    std::map<std::string, FileDigest> m_matches; // pattern -> its matches
};

// Whether a digest's stamp still holds and no change was stamped at or after nSinceNs.
bool UnchangedSince(const std::string& sPath, const FileDigest& digest, long long nSinceNs);

class CHostMessageSink : public IPackerHostSink2
{
public:
    explicit CHostMessageSink(bool bNoOverwriteReadOnly, bool bPlanOnly = false,
                              CInputDigests* pDigests = nullptr)
        : m_bNoOverwriteReadOnly(bNoOverwriteReadOnly), m_bPlanOnly(bPlanOnly), m_pDigests(pDigests)
    {
    }

    bool SetTask(const char* pszTask) override;
    bool SetSubTask(const char* pszSubTask) override;
    bool SetProgress(uint32_t nDone, uint32_t nTotal) override;
    bool ClearMessages() override;
    bool MakeFileWritable(const char* pszPath) override;
    bool LogMessage(int32_t nLevel, const char* pszText) override;
    bool IsPlanOnly() override;
    bool ReportInput(uint32_t nKind, const char* pszPath) override;
    bool ReportOutput(const char* pszPath) override;
    bool ReportUnusedInput(uint32_t nWhy, uint32_t nKind, const char* pszPath, const char* pszNamedBy,
                           const char* pszResolved, const char* pszReason) override;

    std::vector<Event> m_events;
    std::optional<std::string> m_sDestination; // the path of the last make-writable request
    std::string m_sWritableReason;             // why the last make-writable request was refused
    std::vector<Input> m_inputs;
    std::vector<std::string> m_outputs;
    std::vector<UnusedInput> m_unused;

private:
    bool m_bNoOverwriteReadOnly;
    bool m_bPlanOnly;
    CInputDigests* m_pDigests;
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
    UP_TO_DATE, // not packed: the packed file matches what its last pack recorded
    SKIPPED,    // named again: packed (or not) once already in this run
    UNFINISHED, // the host's own bookkeeping failed: the file's state is not known
};

struct FileOutcome
{
    std::string sSource;
    std::optional<std::string> sDestination;
    Result eResult = Result::FAILED;
    std::optional<std::string> sPacker;
    std::vector<Event> events;
    std::vector<Input> inputs;       // what the pack read, when the packer reports it
    FileDigest pluginDigest;         // the plug-in that packed it, as loaded
    FileDigest outputDigest;         // the packed file right after the pack
    std::string sReason;             // the system's reason for a failure, when the host knows it
    std::vector<UnusedInput> unused; // files the pack needed and did not use
    // What a worker process wrote on its own standard streams while packing the file.
    std::string sWorkerStdout;
    std::string sWorkerStderr;
    // Internal: where, in the worker's standard output and error files, this file's part lies.
    uint64_t anOutRange[2] = {0, 0};
    uint64_t anErrRange[2] = {0, 0};
};

// An outcome that the host decides alone: an error of its own, level 0.
FileOutcome HostFailure(const std::string& sSource, Result eResult, const std::string& sText);

// Offers the file to the plug-ins and packs it with the first packer that claims it.
FileOutcome PackOne(const CPluginSet& plugins, const std::string& sFile, bool bNoOverwriteReadOnly,
                    CInputDigests& digests);

// Why packing sFile may have failed, as far as the system tells: an unreadable source, a full or
// unwritable destination folder. Empty when nothing is found.
std::string DiagnoseFailure(const FileOutcome& outcome);

// One entry of the work list: a file to pack, or an outcome known before packing.
struct WorkItem
{
    std::string sPath;
    bool bToPack = false;
    FileOutcome outcome;                   // set at once when bToPack is false
    std::vector<std::string> destinations; // where its packer will write, when the packer says
    std::string sPlugin;                   // the plug-in that packs it, when it reports its inputs
};

// Expands the PATH arguments in order: files as given, folders recursively (entries sorted by name,
// unclaimed files left out), @lists line by line. A file reached again becomes a SKIPPED item.
// *pTemporaries receives the files seen in folders whose names end like an unfinished pack's
// temporary file (".~" and eight hex digits).
std::vector<WorkItem> GatherWork(const std::vector<InputArg>& inputs, const CPluginSet& plugins,
                                 std::vector<std::string>* pTemporaries = nullptr);

// ---------------------------------------------------------------------------------------------------
// Plans and records

// The absolute, normalized form of a path, the key under which outputs are compared.
std::string AbsolutePath(const std::string& sPath);

// The records of past packs, in the cache folder: one manifest per folder of packed files, named by
// the digest of the folder's absolute path, with one record per packed file. A record holds the
// digests of the inputs and of the output that the last successful pack saw and wrote. Changes are
// kept in memory and written by Flush, each manifest replaced in one step over what is on disk then:
// two runs at once at worst lose a record, which only means a pack more next time.
class CRecordStore
{
public:
    // sFolder empty: no records are kept, and nothing is ever up to date.
    explicit CRecordStore(std::string sFolder) : m_sFolder(std::move(sFolder)) {}

    // The folder from ZQPACK_CACHE_DIR, else the user's cache folder; empty when there is none.
    static std::string DefaultFolder();

    // Creates the folder private when it is missing. One that belongs to another user or that others
    // may write in is not used (its records could say anything): no records are kept then. An empty
    // string, or the warning to show once. Removes temporary files that killed runs left.
    std::string Open();

    // Whether sDestination's record matches the inputs and the output as they are now, for this
    // source and this plug-in. *pInputs receives the recorded inputs.
    bool IsUpToDate(const std::string& sSource, const std::string& sDestination, const std::string& sPlugin,
                    std::vector<Input>* pInputs);
    // Records a successful pack with the digests its packing process took (kept until Flush); a pack
    // whose digests are not all vouched for is forgotten instead, so that the next run packs it.
    void Record(const std::string& sSource, const std::string& sDestination, const std::string& sPlugin,
                const FileOutcome& outcome);
    // Forgets sDestination's record (after a failed pack).
    void Forget(const std::string& sDestination);
    // Writes the manifests that changed. An empty string or a warning saying which could not be written.
    std::string Flush();

    // The digest of sPath now. The recorded digest is trusted without reading the file when the
    // file's size, write time, change time and file id still match its recorded, non-racy stamp.
    FileDigest CurrentDigest(const std::string& sPath, const FileDigest& recorded, bool bShared);
    // The matches of a pattern now; each pattern is looked at once per run.
    FileDigest CurrentMatches(const std::string& sPattern);

private:
    std::string ManifestPath(const std::string& sAbsoluteFolder) const;
    std::map<std::string, std::string> ReadManifest(const std::string& sAbsoluteFolder) const;
    const std::string* FindRecord(const std::string& sAbsoluteDestination);
    static void RemoveStaleTemporaries(const std::string& sRecords);

    std::string m_sFolder;
    std::map<std::string, std::map<std::string, std::string>> m_manifests; // folder -> destination -> record
    std::map<std::string, std::optional<std::string>> m_changes;           // destination -> record, or none
    std::map<std::string, FileDigest> m_digests;
    std::map<std::string, FileDigest> m_matches; // pattern -> its matches
    std::string m_sPlugin, m_sAbsolutePlugin;    // the last plug-in asked about, and its absolute path
};

// The whole of a regular file no larger than nLimit into *pText; a link (unless bFollowLinks), a
// device or a FIFO is not read. False when it cannot be read whole.
bool ReadRegular(const std::string& sPath, bool bFollowLinks, unsigned long long nLimit, std::string* pText);
// Writes sText to sPath through a new file renamed into place. An empty string or the reason.
std::string WriteFileAtomically(const std::string& sPath, const std::string& sText);

// The text of a Make-syntax depfile: the destination depends on the source and the other inputs.
std::string DepfileText(const std::string& sDestination, const std::vector<Input>& inputs);
// Writes the depfile (DESTINATION.d, or sPath when given, its folder created when missing) when its
// content differs; an empty string or the reason it failed.
std::string WriteDepfile(const std::string& sDestination, const std::vector<Input>& inputs,
                         const std::string& sPath = std::string());

// Asks each claimed file's packer where it goes, fails every file of a collision (two sources, one
// destination), marks up-to-date files (unless bForce) and removes stale temporary files beside
// destinations.
void PlanWork(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
              CRecordStore& records, const std::vector<std::string>& temporaries);

// --emit-ninja: prints a build.ninja for the claimed files. Exit status.
int EmitNinja(const Options& options, const CPluginSet& plugins, const std::string& sProgramPath);
// --watch FOLDER: the files that build.ninja's scan of the folder packs: the PATHs, and with --walked
// every claimed file in the folder itself.
std::vector<InputArg> ScanInputs(const Options& options, const CPluginSet& plugins);
// After the scan's packs: writes the depfile of everything they read (LISTING.d) and the folder's
// listing (its pattern matches, and with --walked its folders and claimed files), each only when it
// changes (with --touch the listing's write time moves to now in any case). Exit status: 0 unless
// they cannot be written, whatever the packs gave.
int FinishScan(const Options& options, const CPluginSet& plugins, const std::vector<WorkItem>& work);

// ---------------------------------------------------------------------------------------------------
// Output

// The checker's errors on the source of a pack that the packer failed, one
// "PATH:LINE:COL: note: MESSAGE [code]" line each (at most ten, then a count); none for a pack that
// did not fail in the packer or a source the checker does not read. Modules stay loaded for the run.
class CExplainer
{
public:
    CExplainer();
    ~CExplainer();
    CExplainer(const CExplainer&) = delete;
    CExplainer& operator=(const CExplainer&) = delete;

    std::vector<std::string> Explain(const FileOutcome& outcome);

private:
    struct Modules;
    std::unique_ptr<Modules> m_pModules; // loaded at the first failure
};

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
    void Summary(double fSeconds);
    // A failure of the host's own bookkeeping: shown, and the exit status becomes 1.
    void HostError(const std::string& sMessage);
    // Trouble that changes no outcome (records not kept): shown, the exit status stays.
    void Warning(const std::string& sMessage);
    // 0 when every outcome was packed or up to date, else 1.
    int ExitStatus() const { return (m_nFailed || m_nUnfinished || m_bHostError) ? 1 : 0; }

private:
    void ClearProgress();
    void CountOutcome(const FileOutcome& outcome);

    const Options& m_options;
    bool m_bProgress;
    size_t m_nToPack;
    size_t m_nStarted = 0;
    size_t m_nProgressWidth = 0;
    size_t m_nPacked = 0;
    size_t m_nFailed = 0;
    size_t m_nUpToDate = 0;
    size_t m_nSkipped = 0;
    size_t m_nUnfinished = 0;
    bool m_bHostError = false;
    std::vector<std::string> m_shownUnused; // told once per run
    CExplainer m_explainer;
};

// ---------------------------------------------------------------------------------------------------
// Running

// Called for every outcome in order, before it is emitted.
typedef void (*FinishFn)(void* pContext, WorkItem& item);

// Packs the work list in-process or with worker processes and emits every outcome in order. False
// when an interrupt stopped it (workers ended, their temporary files removed).
bool RunWork(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
             const std::string& sProgramPath, CReporter& reporter, FinishFn pfnFinish, void* pContext);

// Removes what an unfinished pack into sDestination left beside it (DESTINATION.~XXXXXXXX).
void RemoveTemporariesOf(const std::string& sDestination);

// The hidden --worker mode: packs the given files one by one, one result line each.
int RunWorker(const Options& options);

// --list-packers.
int ListPackers(const Options& options, const CPluginSet& plugins);
} // namespace zqpack
