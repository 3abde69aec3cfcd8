// Effect file loading at scale: one effect whose track holds N keys written in reverse start
// order, and one key whose curve holds N values in reverse time order. Both must stay close to
// linear: the per-key time may not grow much from 10,000 to 100,000.
#include "EffectFileLoader.h"

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

// Keys share one prefab, so that each key holds only its own times.
std::string KeysInReverseOrder(int64_t nKeys)
{
    std::string text = "(header (version 1))\n(prefab-tree (prefab (name Tick) (type Marker)))\n"
                       "(effect-tree (effect (name Long) (length 100000000) (key-list\n";
    for (int64_t i = 0; i < nKeys; ++i)
    {
        const int64_t nStart = (nKeys - i) * 10;
        text += "(key (type Marker) (parent Tick) (id " + std::to_string(i) + ") (track 0) (start-time " +
                std::to_string(nStart) + ") (end-time " + std::to_string(nStart + 5) + "))\n";
    }
    return text + ")))\n";
}

std::string ValuesInReverseOrder(int64_t nValues)
{
    std::string text = "(header (version 1))\n(effect-tree (effect (name Curve) (length 1000) (key-list "
                       "(key (type Sprite) (id 0) (track 0) (start-time 0) (end-time 1000) (properties "
                       "(property (name Rotation) (type Float) (value-list\n";
    for (int64_t i = 0; i < nValues; ++i)
    {
        const double fTime = static_cast<double>(nValues - i) / static_cast<double>(nValues);
        text += "(value (time " + std::to_string(fTime) + ") (data " + std::to_string(i % 360) + "))\n";
    }
    return text + ")))))))\n";
}

void LoadGenerated(benchmark::State& state, const char* pszKind, std::string (*pfnMake)(int64_t))
{
    const int64_t nCount = state.range(0);
    const std::string path = TempFile(pszKind, nCount);
    std::ofstream(path, std::ios::binary) << pfnMake(nCount);
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
    LoadGenerated(state, "keys", KeysInReverseOrder);
}

void BM_CurveValuesReverse(benchmark::State& state)
{
    LoadGenerated(state, "values", ValuesInReverseOrder);
}
} // namespace

BENCHMARK(BM_TrackKeysReverse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurveValuesReverse)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

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
