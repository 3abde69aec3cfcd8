#include "zqpack.h"

#include "zqprocess.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
std::string ReadWholeFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::string();
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Packs claimed files in worker processes, one process per file and at most nJobs at once. The
// plug-ins keep module-wide state, so a process never packs two files at the same time.
class CWorkerPool
{
public:
    CWorkerPool(const Options& options, const CPluginSet& plugins, const std::string& sProgramPath)
        : m_options(options), m_plugins(plugins), m_sProgramPath(sProgramPath)
    {
    }

    ~CWorkerPool()
    {
        // Workers still running write into the folder: wait for them first.
        while (!m_processes.empty())
        {
            int nExit = 0;
            const int nIndex = PlatformWaitAnyProcess(m_processes.data(), m_processes.size(), &nExit);
            if (nIndex < 0)
                break;
            Forget(static_cast<size_t>(nIndex));
        }
        if (!m_folder.empty())
        {
            std::error_code ec;
            fs::remove_all(m_folder, ec);
        }
    }

    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // A private folder for the workers' result and output files.
    bool Prepare()
    {
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        if (ec)
            return false;
        const std::string sPrefix = "zqpack-" + std::to_string(PlatformGetProcessId()) + "-";
        for (int nTry = 0; nTry < 100; ++nTry)
        {
            const fs::path folder = base / (sPrefix + std::to_string(nTry));
            if (fs::create_directory(folder, ec))
            {
                m_folder = folder;
                return true;
            }
        }
        return false;
    }

    size_t Running() const { return m_processes.size(); }

    bool Start(size_t nItem, const std::string& sFile)
    {
        Job job;
        job.nItem = nItem;
        const std::string sBase = "file" + std::to_string(nItem);
        job.result = m_folder / (sBase + ".json");
        job.out = m_folder / (sBase + ".out");
        job.err = m_folder / (sBase + ".err");

        const std::string sResult = job.result.string();
        std::vector<const char*> args = {"--worker", sResult.c_str()};
        for (const Plugin& plugin : m_plugins.Plugins())
        {
            args.push_back("--plugin");
            args.push_back(plugin.sPath.c_str());
        }
        if (m_options.bNoOverwriteReadOnly)
            args.push_back("--no-overwrite-readonly");
        args.push_back("--");
        args.push_back(sFile.c_str());

        const std::string sOut = job.out.string();
        const std::string sErr = job.err.string();
        PlatformProcess hProcess = PlatformStartProcess(m_sProgramPath.c_str(), args.data(), args.size(),
                                                        sOut.c_str(), sErr.c_str());
        if (!hProcess)
            return false;
        m_processes.push_back(hProcess);
        m_jobs.push_back(std::move(job));
        return true;
    }

    // Waits for any worker and answers its item and outcome; false when no wait is possible.
    bool WaitAny(const std::vector<WorkItem>& work, size_t* pnItem, FileOutcome* pOutcome)
    {
        int nExit = 0;
        const int nIndex = PlatformWaitAnyProcess(m_processes.data(), m_processes.size(), &nExit);
        if (nIndex < 0)
            return false;
        const Job& job = m_jobs[static_cast<size_t>(nIndex)];
        const std::string& sFile = work[job.nItem].sPath;

        const std::string sResult = ReadWholeFile(job.result);
        const std::string sFirstLine = sResult.substr(0, sResult.find('\n'));
        FileOutcome outcome;
        if (!OutcomeFromJson(sFirstLine, &outcome) || outcome.sSource != sFile)
        {
            outcome = HostFailure(sFile, Result::FAILED,
                                  "the worker process ended without a result (exit status " +
                                      std::to_string(nExit) + ")");
        }
        outcome.sWorkerStdout = ReadWholeFile(job.out);
        outcome.sWorkerStderr = ReadWholeFile(job.err);
        *pnItem = job.nItem;
        *pOutcome = std::move(outcome);
        Forget(static_cast<size_t>(nIndex));
        return true;
    }

private:
    struct Job
    {
        size_t nItem = 0;
        fs::path result;
        fs::path out;
        fs::path err;
    };

    // Drops a finished worker (its process is already released) and its files.
    void Forget(size_t nIndex)
    {
        std::error_code ec;
        fs::remove(m_jobs[nIndex].result, ec);
        fs::remove(m_jobs[nIndex].out, ec);
        fs::remove(m_jobs[nIndex].err, ec);
        m_processes.erase(m_processes.begin() + static_cast<std::ptrdiff_t>(nIndex));
        m_jobs.erase(m_jobs.begin() + static_cast<std::ptrdiff_t>(nIndex));
    }

    const Options& m_options;
    const CPluginSet& m_plugins;
    std::string m_sProgramPath;
    fs::path m_folder;
    std::vector<PlatformProcess> m_processes;
    std::vector<Job> m_jobs; // parallel to m_processes
};

void RunInProcess(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
                  CReporter& reporter)
{
    for (WorkItem& item : work)
    {
        if (item.bToPack)
        {
            reporter.Starting(item.sPath);
            item.outcome = PackOne(plugins, item.sPath, options.bNoOverwriteReadOnly);
        }
        reporter.Emit(item.outcome);
    }
}
} // namespace

void RunWork(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
             const std::string& sProgramPath, CReporter& reporter)
{
    const size_t nToPack = static_cast<size_t>(
        std::count_if(work.begin(), work.end(), [](const WorkItem& item) { return item.bToPack; }));
    size_t nJobs = options.nJobs ? options.nJobs : std::max(1u, std::thread::hardware_concurrency());
    nJobs = std::min({nJobs, nToPack, PLATFORM_MAX_WAIT_PROCESSES});

    CWorkerPool pool(options, plugins, sProgramPath);
    // Without a place for the workers' files the same packing happens here, one file at a time.
    if (nJobs <= 1 || sProgramPath.empty() || !pool.Prepare())
    {
        RunInProcess(options, plugins, work, reporter);
        return;
    }

    // Outcomes are emitted strictly in work order, whatever order the workers finish in.
    std::vector<bool> done(work.size());
    for (size_t i = 0; i < work.size(); ++i)
        done[i] = !work[i].bToPack;
    size_t nNextStart = 0;
    size_t nNextEmit = 0;
    for (;;)
    {
        while (pool.Running() < nJobs && nNextStart < work.size())
        {
            WorkItem& item = work[nNextStart++];
            if (!item.bToPack)
                continue;
            reporter.Starting(item.sPath);
            if (!pool.Start(nNextStart - 1, item.sPath))
            {
                item.outcome = HostFailure(item.sPath, Result::FAILED, "cannot start a worker process");
                done[nNextStart - 1] = true;
            }
        }
        while (nNextEmit < work.size() && done[nNextEmit])
            reporter.Emit(work[nNextEmit++].outcome);
        if (pool.Running() == 0)
            break;

        size_t nItem = 0;
        FileOutcome outcome;
        if (!pool.WaitAny(work, &nItem, &outcome))
            break;
        work[nItem].outcome = std::move(outcome);
        done[nItem] = true;
    }
    // Only when waiting failed: whatever is left has no outcome.
    for (; nNextEmit < work.size(); ++nNextEmit)
    {
        if (!done[nNextEmit])
            work[nNextEmit].outcome =
                HostFailure(work[nNextEmit].sPath, Result::FAILED, "lost the worker process");
        reporter.Emit(work[nNextEmit].outcome);
    }
}

int RunWorker(const Options& options)
{
    CPluginSet plugins;
    if (!plugins.LoadNamed(options.plugins))
        return 1;
    std::FILE* pResult = std::fopen(options.sWorkerResult.c_str(), "wb");
    if (!pResult)
    {
        PrintError(options.sWorkerResult + ": cannot write the result file");
        return 1;
    }
    bool bWritten = true;
    for (const InputArg& input : options.inputs)
    {
        const FileOutcome outcome = PackOne(plugins, input.sText, options.bNoOverwriteReadOnly);
        const std::string sLine = OutcomeToJson(outcome, true) + "\n";
        bWritten = std::fwrite(sLine.data(), 1, sLine.size(), pResult) == sLine.size() && bWritten;
        std::fflush(pResult);
    }
    bWritten = std::fclose(pResult) == 0 && bWritten;
    return bWritten ? 0 : 1;
}

int ListPackers(const Options& options, const CPluginSet& plugins)
{
    size_t nSkipped = 0;
    const std::vector<WorkItem> work = GatherWork(options.inputs, plugins, &nSkipped);

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
                PrintError(item.sPath + ": " + item.outcome.events.front().sText);
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
        std::printf("%s\n", plugins.Plugins()[i].sPath.c_str());
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
