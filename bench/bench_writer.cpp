// Packing collections of many distinct function curves: the time per curve must stay flat as the
// number of curves grows (curve sharing must not compare each curve with every earlier one).
#include "EffectDocument.h"
#include "EffectModule.h"
#include "FunctionCurveData.h"
#include "PackedEffectWriter.h"
#include "PackedStringTable.h"
#include "corpus.h"
#include "zqstrutils.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
struct CurveCollection
{
    CEffectModule module;
    CEffectCollection collection;
    bool bReady = false;

    explicit CurveCollection(uint32_t nCurves)
    {
        bReady = module.Load("sparkrig_sample.dll") && BuildDistinctCurves(module, collection, nCurves);
    }
};

CurveCollection& Collection(uint32_t nCurves)
{
    static std::map<uint32_t, std::unique_ptr<CurveCollection>> s_Collections;
    std::unique_ptr<CurveCollection>& pCollection = s_Collections[nCurves];
    if (!pCollection)
        pCollection = std::make_unique<CurveCollection>(nCurves);
    return *pCollection;
}

void ReportPerCurve(benchmark::State& state, uint32_t nCurves)
{
    state.counters["curves"] = nCurves;
    state.counters["per_curve"] = benchmark::Counter(nCurves, benchmark::Counter::kIsIterationInvariantRate |
                                                                  benchmark::Counter::kInvert);
}

// The whole writer: pre-pass, file, curve lookups while writing.
void BM_PackDistinctCurves(benchmark::State& state)
{
    const uint32_t nCurves = static_cast<uint32_t>(state.range(0));
    CurveCollection& curves = Collection(nCurves);
    if (!curves.bReady)
    {
        state.SkipWithError("cannot load sparkrig_sample or build the collection");
        return;
    }
    const std::string dest = (std::filesystem::temp_directory_path() / "bench_writer.Fx00p").string();
    for (auto _ : state)
    {
        if (!WritePackedEffectFile(dest.c_str(), curves.collection, curves.module))
        {
            state.SkipWithError("write failed");
            break;
        }
    }
    std::remove(dest.c_str());
    ReportPerCurve(state, nCurves);
}

// The pre-pass alone, where every curve is looked up against the curves met before it.
void BM_CollectDistinctCurves(benchmark::State& state)
{
    const uint32_t nCurves = static_cast<uint32_t>(state.range(0));
    CurveCollection& curves = Collection(nCurves);
    if (!curves.bReady)
    {
        state.SkipWithError("cannot load sparkrig_sample or build the collection");
        return;
    }
    std::vector<uint32_t> keyCounts(curves.module.GetNumTypes());
    for (auto _ : state)
    {
        CPackStringTable strings;
        CFunctionCurveData curveData;
        uint32_t nEffects = 0, nKeys = 0;
        CollectPackData(curves.collection, curveData, &nEffects, &nKeys, keyCounts.data(),
                        static_cast<uint32_t>(keyCounts.size()), strings);
        benchmark::DoNotOptimize(curveData.GetNumEntries());
    }
    ReportPerCurve(state, nCurves);
}
} // namespace

BENCHMARK(BM_PackDistinctCurves)->Arg(12500)->Arg(25000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectDistinctCurves)->Arg(12500)->Arg(25000)->Arg(50000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
