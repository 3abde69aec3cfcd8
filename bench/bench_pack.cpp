// Whole packing runs against the sample effect module: one large generated effect file through the
// packer object (MB/s of source text), and the demo sources copied into a content tree through the
// zqpack program: a full pack with one and two workers and in-process, a no-op run, and a large tree
// with one changed source (files per second, files packed).
#include "EffectPacker.h"
#include "IPacker.h"
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

class CRandom
{
public:
    uint32_t Below(uint32_t n)
    {
        m_nState = m_nState * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(m_nState >> 33) % n;
    }
    std::string Num(uint32_t n) { return std::to_string(Below(n)); }
    std::string Frac() { return std::to_string(Below(1000) / 100.0).substr(0, 4); }

private:
    uint64_t m_nState = 0x2545F4914F6CDD1Dull;
};

// Keys of the sample module's types with the properties an artist typically sets: constants,
// curves of two to five values, file names and enums.
void AppendKey(std::string& s, CRandom& rng, uint32_t nId, uint32_t nTrack)
{
    const uint32_t nStart = rng.Below(2000);
    s += "      (key (name K" + std::to_string(nId) + ") (id " + std::to_string(nId) + ") (track " +
         std::to_string(nTrack) + ") (start-time " + std::to_string(nStart) + ") (end-time " +
         std::to_string(nStart + 100 + rng.Below(3000)) + ")";
    auto curve = [&](const char* pszName, const char* pszType, bool bColor)
    {
        s += "\n          (property (name " + std::string(pszName) + ") (type " + pszType + ") (value-list";
        const uint32_t nValues = 2 + rng.Below(4);
        for (uint32_t v = 0; v < nValues; ++v)
            s += " (value (time " + std::to_string(v / double(nValues - 1)).substr(0, 4) + ") (data " +
                 (bColor ? rng.Num(256) + " " + rng.Num(256) + " " + rng.Num(256) + " 255" : rng.Frac()) +
                 "))";
        s += "))";
    };
    auto value = [&](const char* pszName, const char* pszType, const std::string& sData)
    {
        s += "\n          (property (name " + std::string(pszName) + ") (type " + pszType +
             ") (value-list (value (time 0) (data " + sData + "))))";
    };
    switch (rng.Below(4))
    {
    case 0:
        s += " (type Sprite)\n        (properties";
        value("Texture", "Filename", "\"textures/fx_" + rng.Num(40) + ".Texture00a\"");
        curve("Color", "Color", true);
        curve("Size", "Float", false);
        value("BlendMode", "Enum", rng.Below(2) ? "Additive" : "AlphaBlend");
        break;
    case 1:
        s += " (type Light)\n        (properties";
        curve("Color", "Color", true);
        curve("Intensity", "Float", false);
        value("Radius", "Float", rng.Frac());
        break;
    case 2:
        s += " (type ParticleEmitter)\n        (properties";
        value("Texture", "Filename", "\"textures/smoke_" + rng.Num(20) + ".dds\"");
        curve("EmitRate", "Float", false);
        value("Gravity", "Vector", "0 -" + rng.Frac() + " 0");
        curve("ParticleColor", "Color", true);
        break;
    default:
        s += " (type Sound)\n        (properties";
        value("SoundFile", "Filename", "\"sounds/fx_" + rng.Num(30) + ".wav\"");
        curve("Volume", "Float", false);
        value("Priority", "Int", rng.Num(100));
        break;
    }
    s += "))\n";
}

std::string MakeEffectFile(size_t nMinBytes, uint32_t nSeedEffects)
{
    CRandom rng;
    for (uint32_t i = 0; i < nSeedEffects; ++i)
        rng.Below(7);
    std::string s = "(header (version 1))\n(effect-tree\n";
    for (uint32_t nEffect = 0; s.size() < nMinBytes; ++nEffect)
    {
        s += "  (effect (name \"Effect_" + std::to_string(nEffect) + "\") (length 4000)\n    (key-list\n";
        const uint32_t nKeys = 4 + rng.Below(12);
        for (uint32_t k = 0; k < nKeys; ++k)
            AppendKey(s, rng, k + 1, k % 4);
        s += "))\n";
    }
    return s + ")\n";
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

void BM_PackLargeFile(benchmark::State& state)
{
    const fs::path dir = MakeProject("large");
    const std::string sText = MakeEffectFile(20u << 20, 0);
    const fs::path source = dir / "large.Fx00a";
    WriteFile(source, sText);
    CQuietSink sink;
    for (auto _ : state)
        if (!GetEffectPacker().PackFile(source.string().c_str(), 0, &sink))
            state.SkipWithError("packing failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sText.size()));
    state.counters["packed_bytes"] = static_cast<double>(fs::file_size(dir / "large.Fx00p"));
    fs::remove_all(dir);
}
BENCHMARK(BM_PackLargeFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The demo's effect sources copied into nFolders folders of 48 (each source four times), as content
// is laid out; the locator file dated an hour back, as in a checked-out tree.
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
    fs::last_write_time(dir / "bench.proj00",
                        fs::last_write_time(dir / "bench.proj00") - std::chrono::hours(1));
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

BENCHMARK_MAIN();
