// Loading effect-like ZQA text into a tree, plain and LZSS-compressed, in MB/s of uncompressed text,
// beside RapidJSON's DOM parser on the same tree written as JSON (MB/s of its own input); and the
// tree memory of a file of many top-level items.
#include "corpus.h"
#include "counting_alloc.h"
#include "zqafile.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

namespace
{
constexpr size_t kCorpusBytes = 8u << 20;

struct LoadFiles
{
    std::string sPlain, sPacked, sJson;
    size_t nTextBytes = 0;
    bool bReady = false;

    LoadFiles()
    {
        const std::string text = MakeEffectCorpus(kCorpusBytes);
        nTextBytes = text.size();
        sJson = ZqaToJson(text);
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

// The reference: a DOM of the same tree from memory (no file reads), arrays and strings copied.
void BM_RapidJsonParse(benchmark::State& state)
{
    const LoadFiles& files = Files();
    KeepFreedMemory();
    for (auto _ : state)
    {
        rapidjson::Document document;
        document.Parse(files.sJson.c_str(), files.sJson.size());
        if (document.HasParseError() || !document.IsArray())
        {
            state.SkipWithError("RapidJSON cannot parse the corpus");
            return;
        }
        benchmark::DoNotOptimize(document.Size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(files.sJson.size()));
}

// Allocator bytes per top-level item: linear growth keeps this flat as the count grows.
void BM_TopLevelAtoms(benchmark::State& state)
{
    const uint32_t nAtoms = static_cast<uint32_t>(state.range(0));
    const std::string sPath = (std::filesystem::temp_directory_path() / "bench_zqa_atoms.Fx00a").string();
    FILE* pFile = std::fopen(sPath.c_str(), "wb");
    const std::string sText = MakeTopLevelAtoms(nAtoms);
    if (!pFile || std::fwrite(sText.data(), 1, sText.size(), pFile) != sText.size() ||
        std::fclose(pFile) != 0)
    {
        state.SkipWithError("cannot write the file");
        return;
    }
    uint64_t nBytes = 0;
    for (auto _ : state)
    {
        CCountingAlloc alloc;
        CZQANode root;
        if (!CZQANodeReader::LoadEntireFile(sPath.c_str(), false, &root, &alloc) ||
            root.GetNumElements() != nAtoms)
        {
            state.SkipWithError("load failed");
            break;
        }
        nBytes = alloc.m_nBytes;
        root.Free(&alloc);
    }
    std::remove(sPath.c_str());
    state.counters["tree_MB"] = static_cast<double>(nBytes) / (1 << 20);
    state.counters["bytes_per_item"] = static_cast<double>(nBytes) / nAtoms;
}
} // namespace

BENCHMARK(BM_LoadPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TopLevelAtoms)->Arg(20000)->Arg(80000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
