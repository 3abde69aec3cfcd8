// Loading effect-like ZQA text into a tree, plain and LZSS-compressed, in MB/s of uncompressed text.
#include "corpus.h"
#include "zqafile.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"

#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>

namespace
{
constexpr size_t kCorpusBytes = 8u << 20;

struct LoadFiles
{
    std::string sPlain, sPacked;
    size_t nTextBytes = 0;
    bool bReady = false;

    LoadFiles()
    {
        const std::string text = MakeEffectCorpus(kCorpusBytes);
        nTextBytes = text.size();
        const auto dir = std::filesystem::temp_directory_path();
        sPlain = (dir / "bench_zqa_load.Fx00a").string();
        sPacked = (dir / "bench_zqa_load.Fx00c").string();
        FILE* pFile = std::fopen(sPlain.c_str(), "wb");
        if (!pFile)
            return;
        const bool bWritten = std::fwrite(text.data(), 1, text.size(), pFile) == text.size();
        if (std::fclose(pFile) != 0 || !bWritten)
            return;
        CZQAFile packed(sPacked.c_str(), false, true, false);
        for (char c : text)
            packed.WriteByte(static_cast<uint8_t>(c));
        bReady = packed.Close();
    }
    ~LoadFiles()
    {
        std::remove(sPlain.c_str());
        std::remove(sPacked.c_str());
    }
};

const LoadFiles& Files()
{
    static const LoadFiles files;
    return files;
}

// A load writes some 5 bytes of tree per byte of text into new blocks. Whether those are pages the
// process already has or fresh ones (a page fault per page: a cost of the host, not of the loader)
// would otherwise depend on the heap's trimming heuristics and vary from run to run; freed memory
// stays mapped here, as in a process that loads file after file.
void KeepFreedMemory()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

void LoadTree(benchmark::State& state, bool bCompressed)
{
    const LoadFiles& files = Files();
    KeepFreedMemory();
    if (!files.bReady)
    {
        state.SkipWithError("cannot write the corpus files");
        return;
    }
    const std::string& path = bCompressed ? files.sPacked : files.sPlain;
    for (auto _ : state)
    {
        CZQALoadOnlyAlloc alloc(262144); // the effect loader's block size
        CZQANode root;
        if (!CZQANodeReader::LoadEntireFile(path.c_str(), bCompressed, &root, &alloc))
        {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(root.GetNumElements());
        root.Free(&alloc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(files.nTextBytes));
}

void BM_LoadPlain(benchmark::State& state)
{
    LoadTree(state, false);
}

void BM_LoadCompressed(benchmark::State& state)
{
    LoadTree(state, true);
}
} // namespace

BENCHMARK(BM_LoadPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCompressed)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
