// Whole packing runs against the sample effect module: one large generated effect file (49 MB)
// through the packer object (MB/s of source text) beside loading its text tree alone, the same
// file through the programs (zqa check, zqpack, fxcheck, then fxdump of the packed result: time and peak
// memory of each process), and the demo sources copied into a content tree through zqpack: a full
// pack with one and two workers and in-process, a no-op run, and a large tree with one changed
// source (files per second, files packed).
#include "EffectPacker.h"
#include "IPacker.h"
#include "corpus.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqplatform.h"
#include "zqprocess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace
{
namespace fs = std::filesystem;

std::string BinDir()
{
    char szPath[4096] = {};
    PlatformGetProgramPath(szPath, sizeof(szPath));
    return fs::path(szPath).parent_path().string();
}

// A project folder whose locator names the sample module built beside this program.
fs::path MakeProject(const char* pszName)
{
    const fs::path dir = fs::temp_directory_path() / (std::string("embervise_bench_") + pszName);
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::FILE* pFile = std::fopen((dir / "bench.proj00").string().c_str(), "wb");
    std::fprintf(pFile, "[Project Binaries]\nSparkrig=%s/sparkrig_sample.dll\n", BinDir().c_str());
    std::fclose(pFile);
    return dir;
}

void WriteFile(const fs::path& path, const std::string& sText)
{
    std::FILE* pFile = std::fopen(path.string().c_str(), "wb");
    std::fwrite(sText.data(), 1, sText.size(), pFile);
    std::fclose(pFile);
}

class CQuietSink : public IPackerMessageSink
{
public:
    bool SetTask(const char*) override { return true; }
    bool SetSubTask(const char*) override { return true; }
    bool SetProgress(uint32_t, uint32_t) override { return true; }
    bool ClearMessages() override { return true; }
    bool MakeFileWritable(const char*) override { return true; }
    bool LogMessage(int32_t nLevel, const char* pszText) override
    {
        if (nLevel == 0)
            std::fprintf(stderr, "%s\n", pszText);
        return true;
    }
};

constexpr size_t kLargeBytes = 49u << 20;

// The large source, written once into its project folder.
struct CLargeSource
{
    fs::path dir = MakeProject("large");
    fs::path source = dir / "large.Fx00a";
    size_t nBytes = 0;
    CLargeSource()
    {
        const std::string sText = MakeSampleEffectFile(kLargeBytes, 0);
        nBytes = sText.size();
        WriteFile(source, sText);
    }
    ~CLargeSource() { fs::remove_all(dir); }
};

CLargeSource& Large()
{
    static CLargeSource s_Source;
    return s_Source;
}

// The reference for the pack: what the loader's first step costs, the text tree alone.
void BM_LoadLargeFile(benchmark::State& state)
{
    CLargeSource& large = Large();
    for (auto _ : state)
    {
        CZQALoadOnlyAlloc alloc(262144);
        CZQANode root;
        if (!CZQANodeReader::LoadEntireFile(large.source.string().c_str(), false, &root, &alloc))
            state.SkipWithError("load failed");
        root.Free(&alloc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * large.nBytes));
}
BENCHMARK(BM_LoadLargeFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PackLargeFile(benchmark::State& state)
{
    CLargeSource& large = Large();
    CQuietSink sink;
    for (auto _ : state)
        if (!GetEffectPacker().PackFile(large.source.string().c_str(), 0, &sink))
            state.SkipWithError("packing failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * large.nBytes));
    state.counters["packed_bytes"] = static_cast<double>(fs::file_size(large.dir / "large.Fx00p"));
}
BENCHMARK(BM_PackLargeFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

#if defined(__linux__)
// Starts argv[0] with its output discarded and waits for it: its own processor seconds (user and
// system: wall time on a shared machine says more about the neighbours) and its peak resident
// memory. False when it cannot run or fails.
bool SpawnAndWait(char* const* argv, double& fSeconds, double& fPeakKB)
{
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0)
    {
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(argv[0], argv);
        _exit(127);
    }
    int nStatus = 0;
    rusage usage{};
    if (wait4(pid, &nStatus, 0, &usage) != pid)
        return false;
    fSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    fPeakKB = static_cast<double>(usage.ru_maxrss); // kilobytes on Linux
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

// A child forked from this large process would start with its peak memory as its own, so the
// program is started by a fresh copy of this one (see main), which writes the figures to a file.
const char* const kMeasureFlag = "--measure-child";

bool RunMeasured(const char* pszProgram, const std::vector<std::string>& args, double& fSeconds,
                 double& fPeakMB)
{
    char szSelf[4096] = {};
    if (!PlatformGetProgramPath(szSelf, sizeof(szSelf)))
        return false;
    const std::string sResult = (Large().dir / "measured.txt").string();
    const std::string sProgram = BinDir() + "/" + pszProgram;
    std::vector<std::string> all{szSelf, kMeasureFlag, sResult, sProgram};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& sArg : all)
        argv.push_back(&sArg[0]);
    argv.push_back(nullptr);
    double fOwnSeconds = 0, fOwnPeak = 0;
    if (!SpawnAndWait(argv.data(), fOwnSeconds, fOwnPeak))
        return false;
    double fPeakKB = 0;
    std::FILE* pFile = std::fopen(sResult.c_str(), "r");
    const bool bRead = pFile && std::fscanf(pFile, "%lf %lf", &fSeconds, &fPeakKB) == 2;
    if (pFile)
        std::fclose(pFile);
    fPeakMB = fPeakKB / 1024.0;
    return bRead;
}

// The copy's work: argv is {self, flag, result file, program, arguments...}.
int MeasureChild(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    double fSeconds = 0, fPeakKB = 0;
    if (!SpawnAndWait(argv + 3, fSeconds, fPeakKB))
        return 1;
    std::FILE* pFile = std::fopen(argv[2], "w");
    if (!pFile)
        return 1;
    std::fprintf(pFile, "%.6f %.0f\n", fSeconds, fPeakKB);
    return std::fclose(pFile) == 0 ? 0 : 1;
}

// One process per iteration; the counters give the last run's time and peak memory, and the peak
// as a multiple of the source's size.
void MeasureProgram(benchmark::State& state, const char* pszProgram, const std::vector<std::string>& args)
{
    CLargeSource& large = Large();
    double fSeconds = 0, fPeakMB = 0;
    for (auto _ : state)
    {
        if (!RunMeasured(pszProgram, args, fSeconds, fPeakMB))
        {
            state.SkipWithError((std::string(pszProgram) + " failed").c_str());
            return;
        }
        state.SetIterationTime(fSeconds);
    }
    state.counters["peak_MB"] = fPeakMB;
    state.counters["peak_per_source"] = fPeakMB * (1 << 20) / static_cast<double>(large.nBytes);
}

void BM_ProcessCheck(benchmark::State& state)
{
    MeasureProgram(state, "zqa", {"check", Large().source.string()});
}

void BM_ProcessPack(benchmark::State& state)
{
    MeasureProgram(state, "zqpack", {"-q", "--force", Large().source.string()});
}

// The checker on the same source, beside the pack: the same counters.
void BM_ProcessFxcheck(benchmark::State& state)
{
    MeasureProgram(state, "fxcheck", {Large().source.string()});
}

// fxdump of the packed output of BM_ProcessPack, as text decoded with the project's module and with
// --verify.
void BM_ProcessFxdump(benchmark::State& state)
{
    const std::string sPacked = (Large().dir / "large.Fx00p").string();
    if (state.range(0))
        MeasureProgram(state, "fxdump", {"--verify", "--project", sPacked});
    else
        MeasureProgram(state, "fxdump", {"--project", sPacked});
}
BENCHMARK(BM_ProcessCheck)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
BENCHMARK(BM_ProcessPack)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
BENCHMARK(BM_ProcessFxcheck)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
BENCHMARK(BM_ProcessFxdump)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
#endif

// Every file of the tree dated an hour back, as in a checked-out tree: zqpack trusts the stamps of
// files that were not written just before it looked.
void BackdateTree(const fs::path& dir)
{
    const auto then = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            fs::last_write_time(entry.path(), then);
}

// The demo's effect sources copied into nFolders folders of 48 (each source four times), as content
// is laid out.
fs::path MakeDemoTree(const char* pszName, uint32_t nFolders)
{
    const fs::path dir = MakeProject(pszName);
    const fs::path demo = fs::path(EMBERVISE_SOURCE_DIR) / "demo";
    std::vector<fs::path> sources;
    for (const auto& entry : fs::recursive_directory_iterator(demo))
    {
        const std::string sExtension = entry.path().extension().string();
        if (sExtension == ".Fx00a" || sExtension == ".Fx00c")
            sources.push_back(entry.path());
    }
    for (uint32_t nFolder = 0; nFolder < nFolders; ++nFolder)
    {
        const fs::path folder = dir / ("group_" + std::to_string(nFolder));
        fs::create_directories(folder);
        for (uint32_t nCopy = 0; nCopy < 48 / sources.size(); ++nCopy)
            for (const fs::path& source : sources)
                fs::copy_file(source, folder / (source.stem().string() + "_" + std::to_string(nCopy) +
                                                source.extension().string()));
    }
    BackdateTree(dir);
    return dir;
}

// Runs zqpack with the records of past packs in the tree's own cache folder.
bool RunZqpack(const fs::path& dir, const std::string& sOptions)
{
    const std::string sCommand = "ZQPACK_CACHE_DIR=\"" + (dir / ".cache").string() + "\" \"" + BinDir() +
                                 "/zqpack\" -q " + sOptions + " \"" + dir.string() + "\" > /dev/null";
    return std::system(sCommand.c_str()) == 0;
}

// Whole-process packing of the 1,920-file demo tree: -j 1 (one worker), -j 2, in-process, the
// pre-worker way (arg 0 = --no-workers), every file packed (--force).
void BM_PackDemoTree(benchmark::State& state)
{
    const fs::path dir = MakeDemoTree("tree", 40);
    const std::string sMode = state.range(0) == 0 ? "--no-workers" : "-j " + std::to_string(state.range(0));
    for (auto _ : state)
        if (!RunZqpack(dir, "--force " + sMode))
            state.SkipWithError("zqpack failed");
    state.counters["files_per_second"] =
        benchmark::Counter(1920.0, benchmark::Counter::kIsIterationInvariantRate);
    fs::remove_all(dir);
}
BENCHMARK(BM_PackDemoTree)
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// A second run over the unchanged tree: nothing is packed.
void BM_PackDemoTreeNoOp(benchmark::State& state)
{
    const fs::path dir = MakeDemoTree("noop", 40);
    // The steady state: the pack, then a run that records the stamps of outputs that are no longer new.
    if (!RunZqpack(dir, ""))
        state.SkipWithError("zqpack failed");
    BackdateTree(dir);
    if (!RunZqpack(dir, ""))
        state.SkipWithError("zqpack failed");
    for (auto _ : state)
        if (!RunZqpack(dir, ""))
            state.SkipWithError("zqpack failed");
    state.counters["files_per_second"] =
        benchmark::Counter(1920.0, benchmark::Counter::kIsIterationInvariantRate);
    fs::remove_all(dir);
}
BENCHMARK(BM_PackDemoTreeNoOp)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// 10,080 sources of which one changed: the run packs one file (counted from --json).
void BM_PackLargeTreeOneChanged(benchmark::State& state)
{
    const fs::path dir = MakeDemoTree("large_tree", 210);
    if (!RunZqpack(dir, "-j 2"))
        state.SkipWithError("zqpack failed");
    const fs::path changed = dir / "group_7" / "campfire_0.Fx00a";
    for (auto _ : state)
    {
        state.PauseTiming();
        std::FILE* pFile = std::fopen(changed.string().c_str(), "ab");
        std::fputs("; edited\n", pFile);
        std::fclose(pFile);
        state.ResumeTiming();
        if (!RunZqpack(dir, "-j 2"))
            state.SkipWithError("zqpack failed");
    }
    // The count itself, once more: the packed lines of --json.
    std::FILE* pFile = std::fopen(changed.string().c_str(), "ab");
    std::fputs("; edited\n", pFile);
    std::fclose(pFile);
    const std::string sCount = (dir / "count.txt").string();
    std::system(("ZQPACK_CACHE_DIR=\"" + (dir / ".cache").string() + "\" \"" + BinDir() +
                 "/zqpack\" --json \"" + dir.string() +
                 "\" 2>/dev/null | grep -c '\"result\":\"packed\"' > \"" + sCount + "\"")
                    .c_str());
    std::FILE* pCount = std::fopen(sCount.c_str(), "rb");
    int nPacked = -1;
    if (pCount && std::fscanf(pCount, "%d", &nPacked) != 1)
        nPacked = -1;
    if (pCount)
        std::fclose(pCount);
    state.counters["files_packed"] = nPacked;
    fs::remove_all(dir);
}
BENCHMARK(BM_PackLargeTreeOneChanged)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
} // namespace

int main(int argc, char** argv)
{
#if defined(__linux__)
    if (argc > 1 && std::string(argv[1]) == kMeasureFlag)
        return MeasureChild(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
