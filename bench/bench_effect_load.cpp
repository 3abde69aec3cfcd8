// Effect file loading at scale: one effect whose track holds N keys written in reverse start
// order, one key whose curve holds N values in reverse time order, and N prefabs each named by one
// key. All must stay close to linear: the per-item time may not grow much with N.
#include "EffectFileLoader.h"
#include "corpus.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define BENCH_GETPID _getpid
const char* const kModuleName = "sparkrig_sample.dll";
#else
#include <unistd.h>
#define BENCH_GETPID getpid
const char* const kModuleName = "sparkrig_sample.so";
#endif

namespace
{
std::string g_sModulePath = kModuleName;

std::string TempFile(const char* pszKind, int64_t nCount)
{
    const char* pszDir = std::getenv("TMPDIR");
    return std::string(pszDir ? pszDir : "/tmp") + "/bench_effect_load_" + std::to_string(BENCH_GETPID()) +
           "_" + pszKind + std::to_string(nCount) + ".Fx00a";
}

void LoadGenerated(benchmark::State& state, const char* pszKind, const std::string& sText)
{
    const int64_t nCount = state.range(0);
    const std::string path = TempFile(pszKind, nCount);
    std::ofstream(path, std::ios::binary) << sText;
    CEffectModule module;
    if (!module.Load(g_sModulePath.c_str()))
    {
        state.SkipWithError("cannot load the sample effect module");
        return;
    }
    for (auto _ : state)
    {
        CEffectCollection collection;
        std::string sError;
        if (!LoadEffectFile(path.c_str(), collection, module, sError))
        {
            state.SkipWithError(sError.c_str());
            break;
        }
        benchmark::DoNotOptimize(collection.m_Effects.GetCount());
    }
    std::remove(path.c_str());
    state.counters["per_item"] =
        benchmark::Counter(static_cast<double>(nCount),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * nCount);
}

void BM_TrackKeysReverse(benchmark::State& state)
{
    LoadGenerated(state, "keys", MakeKeysInReverseOrder(state.range(0)));
}

void BM_CurveValuesReverse(benchmark::State& state)
{
    LoadGenerated(state, "values", MakeValuesInReverseOrder(state.range(0)));
}

// per_item is the time per prefab and key: flat from 10,000 to 40,000 when lookups are constant.
void BM_PrefabLookup(benchmark::State& state)
{
    LoadGenerated(state, "prefabs", MakePrefabFile(static_cast<uint32_t>(state.range(0))));
}
} // namespace

BENCHMARK(BM_TrackKeysReverse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurveValuesReverse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrefabLookup)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The sample module sits beside the benchmark program.
    const std::string program = argv[0];
    const size_t nSlash = program.find_last_of("/\\");
    if (nSlash != std::string::npos)
        g_sModulePath = program.substr(0, nSlash + 1) + kModuleName;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
