#include "zqpack.h"

#include "zqfiles.h"
#include "zqprocess.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
// A worker's result or output file, whole; empty when it cannot be read.
std::string ReadWholeFile(const std::string& sPath)
{
    std::string sText;
    if (!ReadRegular(sPath, false, ~0ull, &sText))
        sText.clear();
    return sText;
}

// The lines of sText that end in a newline (a worker that died may leave half a line).
std::vector<std::string> CompleteLines(const std::string& sText)
{
    std::vector<std::string> lines;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = sText.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
        lines.push_back(sText.substr(nStart, nEnd - nStart));
    return lines;
}

std::string Slice(const std::string& sText, uint64_t nBegin, uint64_t nEnd)
{
    if (nBegin >= sText.size() || nEnd <= nBegin)
        return std::string();
    return sText.substr(static_cast<size_t>(nBegin),
                        static_cast<size_t>(std::min<uint64_t>(nEnd, sText.size()) - nBegin));
}

// How a worker that left no result for a file ended, in words.
std::string DescribeEnd(const PlatformExit& end)
{
    if (end.bSignaled)
    {
        const char* pszName = PlatformSignalName(end.nCode);
        return "killed by signal " + std::to_string(end.nCode) +
               (pszName ? std::string(" (") + pszName + ")" : "");
    }
    if (const char* pszName = PlatformSignalName(end.nCode))
        return "ended by " + std::string(pszName) + " (exit status " + std::to_string(end.nCode) + ")";
    return "exit status " + std::to_string(end.nCode);
}

// Freed memory a process that packs many files keeps for the next one: each pack allocates and frees
// its text tree and document, and giving the pages back to the system after every file made every
// pack fault them in anew.
constexpr size_t KEPT_HEAP_BYTES = 64u << 20;

// The exit status of a worker that could not keep its results (a full temporary folder): EX_TEMPFAIL,
// which neither a crash nor abort() gives on any platform.
constexpr int WORKER_BOOKKEEPING_EXIT = 75;

// Packs claimed files in worker processes, at most nJobs at once. A worker packs a batch of files
// one after another: the plug-ins keep module-wide state, so a process never packs two files at the
// same time, and starting one process per file would cost more than packing a small file.
class CWorkerPool
{
public:
    CWorkerPool(const Options& options, const CPluginSet& plugins, const std::string& sProgramPath)
        : m_options(options), m_plugins(plugins), m_sProgramPath(sProgramPath)
    {
    }

    ~CWorkerPool()
    {
        // Workers still running write into the folder: end them and wait for them first.
        StopAll();
        if (!m_folder.empty())
        {
            std::error_code ec;
            fs::remove_all(m_folder, ec);
        }
    }

    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // A private folder for the workers' result and output files. Folders that killed runs left
    // behind (their process is gone) are removed first. An empty string or the reason it failed.
    std::string Prepare()
    {
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        if (ec)
            return "no temporary folder: " + ec.message();
        RemoveLeftovers(base);
        const std::string sPrefix = "zqpack-" + std::to_string(PlatformGetProcessId()) + "-";
        for (int nTry = 0; nTry < 100; ++nTry)
        {
            const fs::path folder = base / (sPrefix + std::to_string(nTry));
            if (fs::create_directory(folder, ec))
            {
                m_folder = folder;
                return std::string();
            }
            if (ec)
                return "cannot create a folder in " + base.string() + ": " + ec.message();
        }
        return "cannot create a folder in " + base.string();
    }

    size_t Running() const { return m_processes.size(); }

    bool Start(const std::vector<size_t>& items, const std::vector<WorkItem>& work)
    {
        Job job;
        job.items = items;
        job.prefix = (m_folder / ("batch" + std::to_string(m_nBatches++))).string();
        job.fileStart = Clock::now();

        const std::string sParent = std::to_string(PlatformGetProcessId());
        std::vector<const char*> args = {"--worker", job.prefix.c_str(), "--worker-parent", sParent.c_str()};
        for (const Plugin& plugin : m_plugins.Plugins())
        {
            args.push_back("--plugin");
            args.push_back(plugin.sPath.c_str());
        }
        if (m_options.bNoOverwriteReadOnly)
            args.push_back("--no-overwrite-readonly");
        args.push_back("--");
        for (size_t nItem : items)
            args.push_back(work[nItem].sPath.c_str());

        const std::string sOut = job.prefix + ".out";
        const std::string sErr = job.prefix + ".err";
        PlatformProcess hProcess = PlatformStartProcess(m_sProgramPath.c_str(), args.data(), args.size(),
                                                        sOut.c_str(), sErr.c_str());
        if (!hProcess)
            return false;
        m_processes.push_back(hProcess);
        m_jobs.push_back(std::move(job));
        return true;
    }

    // Waits for any worker, stopping one whose current file ran past the time limit; the worker's
    // results wait for Collect. False when no wait is possible or an interrupt came.
    bool WaitAny()
    {
        PlatformExit end;
        int nIndex = -2;
        while (nIndex == -2)
        {
            nIndex = PlatformWaitAnyProcessFor(m_processes.data(), m_processes.size(), &end,
                                               MillisecondsToDeadline());
            if (nIndex == -2 && PlatformCaughtInterrupt())
                return false;
            if (nIndex == -2)
                StopOverdue();
        }
        if (nIndex < 0)
            return false;
        m_ended.push_back(Ended{std::move(m_jobs[static_cast<size_t>(nIndex)]), end});
        m_processes.erase(m_processes.begin() + nIndex);
        m_jobs.erase(m_jobs.begin() + nIndex);
        return true;
    }

    // Answers the outcomes that the workers ended since the last call left, in batch order; when one
    // ended early, the file it was packing fails and the files after it come back in pUnfinished.
    void Collect(const std::vector<WorkItem>& work, std::vector<std::pair<size_t, FileOutcome>>* pDone,
                 std::vector<std::vector<size_t>>* pUnfinished)
    {
        size_t nItems = pDone->size();
        for (const Ended& ended : m_ended)
            nItems += ended.job.items.size();
        pDone->reserve(nItems);
        for (const Ended& ended : m_ended)
        {
            CollectOne(ended.job, ended.end, work, pDone, pUnfinished);
            RemoveFiles(ended.job);
        }
        m_ended.clear();
    }

private:
    using Clock = std::chrono::steady_clock;

    struct Job
    {
        std::vector<size_t> items;
        std::string prefix; // PREFIX.results (a line per file), PREFIX.out and PREFIX.err
        size_t nKnown = 0;  // results seen so far: the worker is packing file nKnown
        Clock::time_point fileStart;
        bool bTimedOut = false;
    };

    struct Ended
    {
        Job job;
        PlatformExit end;
    };

    void CollectOne(const Job& job, const PlatformExit& end, const std::vector<WorkItem>& work,
                    std::vector<std::pair<size_t, FileOutcome>>* pDone,
                    std::vector<std::vector<size_t>>* pUnfinished)
    {
        const std::vector<std::string> lines = CompleteLines(ReadWholeFile(job.prefix + ".results"));
        const std::string sOut = ReadWholeFile(job.prefix + ".out");
        const std::string sErr = ReadWholeFile(job.prefix + ".err");
        uint64_t nOutEnd = 0;
        uint64_t nErrEnd = 0;
        for (size_t k = 0; k < job.items.size(); ++k)
        {
            const size_t nItem = job.items[k];
            const std::string& sFile = work[nItem].sPath;
            FileOutcome outcome;
            if (k >= lines.size() || !OutcomeFromJson(lines[k], &outcome) || outcome.sSource != sFile)
            {
                // The worker died on this file: it fails, the rest of the batch goes to a new worker.
                if (job.bTimedOut)
                    outcome =
                        HostFailure(sFile, Result::FAILED,
                                    "the pack ran longer than the time limit of " +
                                        FormatSeconds(m_options.fTimeout) + " s; its worker was stopped");
                else if (!end.bSignaled && end.nCode == WORKER_BOOKKEEPING_EXIT)
                    outcome =
                        HostFailure(sFile, Result::UNFINISHED,
                                    "zqpack could not keep the worker's results in " + m_folder.string() +
                                        " (is the temporary folder full?); the file's state is not known");
                else
                    outcome =
                        HostFailure(sFile, Result::FAILED,
                                    "the worker process ended without a result (" + DescribeEnd(end) + ")");
                outcome.sWorkerStdout = Slice(sOut, nOutEnd, sOut.size());
                outcome.sWorkerStderr = Slice(sErr, nErrEnd, sErr.size());
                pDone->emplace_back(nItem, std::move(outcome));
                if (k + 1 < job.items.size())
                    pUnfinished->emplace_back(job.items.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                                              job.items.end());
                break;
            }
            outcome.sWorkerStdout = Slice(sOut, outcome.anOutRange[0], outcome.anOutRange[1]);
            outcome.sWorkerStderr = Slice(sErr, outcome.anErrRange[0], outcome.anErrRange[1]);
            nOutEnd = outcome.anOutRange[1];
            nErrEnd = outcome.anErrRange[1];
            pDone->emplace_back(nItem, std::move(outcome));
        }
    }

public:
    // Ends every worker and waits for it; the files they were packing are answered by pInFlight.
    void StopAll(std::vector<size_t>* pInFlight = nullptr)
    {
        for (size_t i = 0; i < m_processes.size(); ++i)
        {
            PlatformKillProcess(m_processes[i]);
            if (pInFlight)
                pInFlight->insert(pInFlight->end(), m_jobs[i].items.begin(), m_jobs[i].items.end());
        }
        while (!m_processes.empty())
        {
            PlatformExit end;
            const int nIndex = PlatformWaitAnyProcessFor(m_processes.data(), m_processes.size(), &end, 10000);
            if (nIndex < 0 && nIndex != -2)
                break;
            if (nIndex >= 0)
                Forget(static_cast<size_t>(nIndex));
        }
    }

private:
    static std::string FormatSeconds(double fSeconds)
    {
        char szText[32];
        std::snprintf(szText, sizeof(szText), "%g", fSeconds);
        return szText;
    }

    Clock::duration Limit() const
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.fTimeout));
    }

    int MillisecondsToDeadline() const
    {
        Clock::time_point first = Clock::time_point::max();
        for (const Job& job : m_jobs)
            if (!job.bTimedOut)
                first = std::min(first, job.fileStart + Limit());
        if (first == Clock::time_point::max())
            return -1;
        const auto nLeft =
            std::chrono::duration_cast<std::chrono::milliseconds>(first - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(nLeft + 1, 0, 1000 * 1000));
    }

    // A worker past its deadline may just have moved on to its next file: the result files say so.
    // One still on the same file is stopped.
    void StopOverdue()
    {
        const Clock::time_point now = Clock::now();
        for (size_t i = 0; i < m_jobs.size(); ++i)
        {
            Job& job = m_jobs[i];
            if (job.bTimedOut || now < job.fileStart + Limit())
                continue;
            const size_t nKnown = CompleteLines(ReadWholeFile(job.prefix + ".results")).size();
            if (nKnown > job.nKnown)
            {
                job.nKnown = nKnown;
                job.fileStart = now;
                continue;
            }
            job.bTimedOut = true;
            PlatformKillProcess(m_processes[i]);
        }
    }

    // zqpack-PID-N folders of runs whose process no longer exists.
    static void RemoveLeftovers(const fs::path& base)
    {
        std::vector<std::string> folders;
        PlatformListFolder(
            base.string().c_str(),
            [](void* pContext, const char* pszName, PlatformEntryKind eKind)
            {
                if (eKind == ENTRY_FOLDER)
                    static_cast<std::vector<std::string>*>(pContext)->push_back(pszName);
            },
            &folders);
        for (const std::string& sName : folders)
        {
            if (sName.compare(0, 7, "zqpack-") != 0)
                continue;
            const size_t nDash = sName.find('-', 7);
            if (nDash == std::string::npos || nDash == 7)
                continue;
            const std::string sPid = sName.substr(7, nDash - 7);
            if (sPid.find_first_not_of("0123456789") != std::string::npos || sPid.size() > 9)
                continue;
            const unsigned long nPid = std::stoul(sPid);
            std::error_code ec;
            if (nPid != PlatformGetProcessId() && !PlatformProcessExists(nPid))
                fs::remove_all(base / sName, ec);
        }
    }

    static void RemoveFiles(const Job& job)
    {
        for (const char* pszExt : {".results", ".out", ".err"})
            PlatformRemoveFile((job.prefix + pszExt).c_str());
    }

    // Drops a finished worker (its process is already released) and its files.
    void Forget(size_t nIndex)
    {
        RemoveFiles(m_jobs[nIndex]);
        m_processes.erase(m_processes.begin() + static_cast<std::ptrdiff_t>(nIndex));
        m_jobs.erase(m_jobs.begin() + static_cast<std::ptrdiff_t>(nIndex));
    }

    const Options& m_options;
    const CPluginSet& m_plugins;
    std::string m_sProgramPath;
    fs::path m_folder;
    size_t m_nBatches = 0;
    std::vector<PlatformProcess> m_processes;
    std::vector<Job> m_jobs;    // parallel to m_processes
    std::vector<Ended> m_ended; // workers that ended, their results not yet collected
};

// Watches a pack that runs in this process: the packer cannot be stopped from outside, so when an
// interrupt comes (and the pack does not end within a grace period) or the time limit passes, the
// watchdog removes the pack's temporary files and ends the process. Records are written only at the
// end of a run, so those on disk stay as the last finished run left them.
class CInProcessWatchdog
{
public:
    explicit CInProcessWatchdog(double fTimeout)
        : m_limit(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(fTimeout)))
    {
        m_thread = std::thread([this] { Watch(); });
    }
    ~CInProcessWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    CInProcessWatchdog(const CInProcessWatchdog&) = delete;
    CInProcessWatchdog& operator=(const CInProcessWatchdog&) = delete;

    void Begin(const WorkItem& item)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pItem = &item;
        m_start = Clock::now();
    }
    void End()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pItem = nullptr;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto GRACE = std::chrono::seconds(1);

    void Watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Clock::time_point interrupted = Clock::time_point::max();
        while (!m_bStop)
        {
            m_wake.wait_for(lock, std::chrono::milliseconds(20));
            if (!m_pItem)
                continue;
            const Clock::time_point now = Clock::now();
            if (PlatformCaughtInterrupt() && interrupted == Clock::time_point::max())
                interrupted = now;
            if (now - interrupted > GRACE)
                EndProcess(*m_pItem, "interrupted", PlatformCaughtInterrupt());
            if (now - m_start > m_limit)
            {
                char szLimit[32];
                std::snprintf(szLimit, sizeof(szLimit), "%g", std::chrono::duration<double>(m_limit).count());
                EndProcess(*m_pItem,
                           Printable(m_pItem->sPath) + ": the pack ran longer than the time limit of " +
                               szLimit +
                               " s; zqpack stopped (a pack in this process cannot be stopped alone)",
                           1);
            }
        }
    }

    [[noreturn]] static void EndProcess(const WorkItem& item, const std::string& sMessage, int nExit)
    {
        for (const std::string& sDestination : item.destinations)
            RemoveTemporariesOf(sDestination);
        PrintError(sMessage);
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(nExit);
    }

    Clock::duration m_limit;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    const WorkItem* m_pItem = nullptr;
    Clock::time_point m_start;
    bool m_bStop = false;
    std::thread m_thread;
};

bool RunInProcess(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
                  CReporter& reporter, FinishFn pfnFinish, void* pContext)
{
    CInputDigests digests;
    CInProcessWatchdog watchdog(options.fTimeout);
    for (WorkItem& item : work)
    {
        if (PlatformCaughtInterrupt())
            return false;
        if (item.bToPack)
        {
            reporter.Starting(item.sPath);
            watchdog.Begin(item);
            item.outcome = PackOne(plugins, item.sPath, options.bNoOverwriteReadOnly, digests);
            watchdog.End();
        }
        pfnFinish(pContext, item);
        reporter.Emit(item.outcome);
    }
    return true;
}

size_t WorkerCount(const Options& options, size_t nToPack)
{
    const size_t nJobs = options.nJobs ? options.nJobs : std::max(1u, std::thread::hardware_concurrency());
    return std::max<size_t>(1, std::min({nJobs, nToPack, PLATFORM_MAX_WAIT_PROCESSES}));
}

// The run of a work list through worker processes: batches go out in work order, outcomes are
// emitted strictly in work order whatever order the workers finish in.
class CPoolRun
{
public:
    CPoolRun(const Options& options, CWorkerPool& pool, std::vector<WorkItem>& work, CReporter& reporter,
             FinishFn pfnFinish, void* pContext, size_t nToPack)
        : m_pool(pool), m_work(work), m_reporter(reporter), m_pfnFinish(pfnFinish), m_pContext(pContext),
          m_nJobs(WorkerCount(options, nToPack)), m_nBatch(BatchSize(m_nJobs, nToPack)), m_done(work.size())
    {
        for (size_t i = 0; i < work.size(); ++i)
            m_done[i] = !work[i].bToPack;
    }

    // False when an interrupt stopped it.
    bool Run()
    {
        for (;;)
        {
            StartBatches();
            EmitReady();
            if (m_pool.Running() == 0)
                break;
            if (!m_pool.WaitAny())
            {
                if (PlatformCaughtInterrupt())
                    return StopForInterrupt();
                break;
            }
            // The next worker starts before the host reads this one's results, so it never waits for
            // the host; a batch that a worker left unfinished waits for the worker after.
            StartBatches();
            CollectEnded();
        }
        if (PlatformCaughtInterrupt())
            return false;
        EmitLost();
        return true;
    }

private:
    // Batches small enough that every worker gets several (so none idles long at the end), large
    // enough that process start-up is a small part of the time: a start costs as much as packing
    // some fifty small files, so each worker gets three batches. One worker needs no balancing: two
    // batches let the host keep its records of the first while the second packs.
    static size_t BatchSize(size_t nJobs, size_t nToPack)
    {
        return nJobs == 1 ? std::clamp<size_t>((nToPack + 1) / 2, 1, 4096)
                          : std::clamp<size_t>((nToPack + nJobs * 3 - 1) / (nJobs * 3), 1, 1024);
    }

    std::vector<size_t> NextBatch()
    {
        std::vector<size_t> batch;
        if (!m_unfinished.empty())
        {
            batch = std::move(m_unfinished.front());
            m_unfinished.pop_front();
            return batch;
        }
        // The paths go on the worker's command line: a batch also ends before they would fill
        // three quarters of the longest one (each path quoted), the rest being left for the
        // program, the plug-ins and the options.
        size_t nLength = 0;
        for (; m_nNextStart < m_work.size() && batch.size() < m_nBatch; ++m_nNextStart)
            if (m_work[m_nNextStart].bToPack)
            {
                const size_t nPathLength = m_work[m_nNextStart].sPath.size() + 3;
                if (!batch.empty() && nLength + nPathLength > PLATFORM_MAX_COMMAND_LINE * 3 / 4)
                    break;
                nLength += nPathLength;
                m_reporter.Starting(m_work[m_nNextStart].sPath);
                batch.push_back(m_nNextStart);
            }
        return batch;
    }

    void StartBatches()
    {
        while (m_pool.Running() < m_nJobs && !PlatformCaughtInterrupt())
        {
            const std::vector<size_t> batch = NextBatch();
            if (batch.empty())
                break;
            if (!m_pool.Start(batch, m_work))
                for (size_t nItem : batch)
                {
                    m_work[nItem].outcome = HostFailure(m_work[nItem].sPath, Result::UNFINISHED,
                                                        "zqpack cannot start a worker process");
                    m_done[nItem] = true;
                }
        }
    }

    void EmitReady()
    {
        while (m_nNextEmit < m_work.size() && m_done[m_nNextEmit])
        {
            m_pfnFinish(m_pContext, m_work[m_nNextEmit]);
            m_reporter.Emit(m_work[m_nNextEmit++].outcome);
        }
    }

    void CollectEnded()
    {
        std::vector<std::pair<size_t, FileOutcome>> finished;
        std::vector<std::vector<size_t>> rest;
        m_pool.Collect(m_work, &finished, &rest);
        for (auto& entry : finished)
        {
            m_work[entry.first].outcome = std::move(entry.second);
            m_done[entry.first] = true;
        }
        for (std::vector<size_t>& batch : rest)
            m_unfinished.push_back(std::move(batch));
    }

    // Ends the workers; the temporary files of the packs they were at go with them.
    bool StopForInterrupt()
    {
        std::vector<size_t> inFlight;
        m_pool.StopAll(&inFlight);
        for (const size_t nItem : inFlight)
            for (const std::string& sDestination : m_work[nItem].destinations)
                RemoveTemporariesOf(sDestination);
        return false;
    }

    // Only when waiting failed: whatever is left has no outcome.
    void EmitLost()
    {
        for (; m_nNextEmit < m_work.size(); ++m_nNextEmit)
        {
            if (!m_done[m_nNextEmit])
                m_work[m_nNextEmit].outcome = HostFailure(m_work[m_nNextEmit].sPath, Result::UNFINISHED,
                                                          "zqpack lost the worker process");
            m_pfnFinish(m_pContext, m_work[m_nNextEmit]);
            m_reporter.Emit(m_work[m_nNextEmit].outcome);
        }
    }

    CWorkerPool& m_pool;
    std::vector<WorkItem>& m_work;
    CReporter& m_reporter;
    FinishFn m_pfnFinish;
    void* m_pContext;
    size_t m_nJobs;
    size_t m_nBatch;
    std::vector<bool> m_done;
    std::deque<std::vector<size_t>> m_unfinished; // files of workers that ended early
    size_t m_nNextStart = 0;
    size_t m_nNextEmit = 0;
};
} // namespace

bool RunWork(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
             const std::string& sProgramPath, CReporter& reporter, FinishFn pfnFinish, void* pContext)
{
    const size_t nToPack = static_cast<size_t>(
        std::count_if(work.begin(), work.end(), [](const WorkItem& item) { return item.bToPack; }));
    // The host reads every file's result and keeps its record: as many small allocations as packs.
    PlatformKeepFreedMemory(KEPT_HEAP_BYTES);
    if (options.bNoWorkers || nToPack == 0)
        return RunInProcess(options, plugins, work, reporter, pfnFinish, pContext);
    CWorkerPool pool(options, plugins, sProgramPath);
    const std::string sPoolError =
        sProgramPath.empty() ? "cannot find the program's own path" : pool.Prepare();
    if (!sPoolError.empty())
    {
        // The host's own trouble, not the files': said as such, and nothing is packed.
        reporter.HostError("cannot start worker processes: " + sPoolError +
                           " (--no-workers packs without them)");
        for (WorkItem& item : work)
            if (item.bToPack)
            {
                item.bToPack = false;
                item.outcome = HostFailure(item.sPath, Result::UNFINISHED, "not packed: no worker processes");
            }
        return RunInProcess(options, plugins, work, reporter, pfnFinish, pContext);
    }
    return CPoolRun(options, pool, work, reporter, pfnFinish, pContext, nToPack).Run();
}

int RunWorker(const Options& options)
{
    if (options.nParentId)
        PlatformEndWithParent(options.nParentId);
    PlatformKeepFreedMemory(KEPT_HEAP_BYTES);
    CPluginSet plugins;
    if (!plugins.LoadNamed(options.plugins))
        return 1;
    // One result line per file, written as soon as the file is done, so that a crash loses only the
    // file being packed. Standard output and error go to the batch's files (the host opened them);
    // each line says which part of them the file's pack wrote.
    std::FILE* pResults = std::fopen((options.sWorkerResult + ".results").c_str(), "wb");
    if (!pResults)
        return WORKER_BOOKKEEPING_EXIT;
    CInputDigests digests;
    auto position = [](std::FILE* pStream)
    {
        std::fflush(pStream);
        const long nAt = std::ftell(pStream);
        return nAt < 0 ? uint64_t(0) : static_cast<uint64_t>(nAt);
    };
    for (size_t k = 0; k < options.inputs.size(); ++k)
    {
        const uint64_t nOut = position(stdout);
        const uint64_t nErr = position(stderr);
        FileOutcome outcome =
            PackOne(plugins, options.inputs[k].sText, options.bNoOverwriteReadOnly, digests);
        outcome.anOutRange[0] = nOut;
        outcome.anOutRange[1] = std::max(nOut, position(stdout));
        outcome.anErrRange[0] = nErr;
        outcome.anErrRange[1] = std::max(nErr, position(stderr));
        const std::string sLine = OutcomeToJson(outcome, true) + "\n";
        if (std::fwrite(sLine.data(), 1, sLine.size(), pResults) != sLine.size() ||
            std::fflush(pResults) != 0)
        {
            std::fclose(pResults);
            return WORKER_BOOKKEEPING_EXIT;
        }
    }
    return std::fclose(pResults) == 0 ? 0 : WORKER_BOOKKEEPING_EXIT;
}

int ListPackers(const Options& options, const CPluginSet& plugins)
{
    const std::vector<WorkItem> work = GatherWork(options.inputs, plugins);

    struct Claim
    {
        IPacker* pPacker;
        std::set<std::string> extensions;
    };
    std::map<size_t, std::vector<Claim>> claims; // by plug-in index, packers in order of first claim
    int nExit = 0;
    for (const WorkItem& item : work)
    {
        if (!item.bToPack)
        {
            // Unclaimed files belong to no packer; other failures are real errors.
            if (item.outcome.eResult == Result::FAILED)
            {
                PrintError(Printable(item.sPath + ": " + item.outcome.events.front().sText));
                nExit = 1;
            }
            continue;
        }
        size_t nPlugin = 0;
        IPacker* pPacker = plugins.Associate(item.sPath, &nPlugin);
        std::vector<Claim>& list = claims[nPlugin];
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const Claim& claim) { return claim.pPacker == pPacker; });
        if (it == list.end())
            it = list.insert(list.end(), Claim{pPacker, {}});
        it->extensions.insert(fs::path(item.sPath).extension().string());
    }

    for (size_t i = 0; i < plugins.Plugins().size(); ++i)
    {
        std::printf("%s\n", Printable(plugins.Plugins()[i].sPath).c_str());
        for (const Claim& claim : claims[i])
        {
            std::string sExtensions;
            for (const std::string& sExtension : claim.extensions)
                sExtensions += " " + (sExtension.empty() ? std::string("(none)") : sExtension);
            std::printf("  %s: claims%s\n", PackerName(claim.pPacker).c_str(), sExtensions.c_str());
            CHostOptionList list;
            claim.pPacker->DeclareOptions(&list);
            for (const OptionEntry& entry : list.m_entries)
            {
                std::printf("    %s: %s (kind %u, type %d)%s%s%s\n", entry.sGroup.c_str(),
                            entry.sName ? entry.sName->c_str() : "(unnamed)",
                            static_cast<unsigned>(entry.nKind), static_cast<int>(entry.nType),
                            entry.sDescription ? " - " : "",
                            entry.sDescription ? entry.sDescription->c_str() : "",
                            entry.bEnabled ? "" : " [disabled]");
            }
        }
    }
    if (options.inputs.empty())
        std::printf("(name files or folders to see the packers that claim them)\n");
    return nExit;
}
} // namespace zqpack
