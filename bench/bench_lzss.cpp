// LZSS compressed ZQA files through the real file path, against the classic binary-tree encoder
// (whose tokens ours must equal) and zlib on the same text in memory. Two corpora: 0 is the
// effect corpus (compresses to about a fifth), 1 the one with measured values (about a third).
// Throughput is of uncompressed text in every case.
#include "corpus.h"
#include "lzss_classic.h"
#include "zqafile.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace
{
namespace fs = std::filesystem;

constexpr size_t kCorpusBytes = 8u << 20;

// The corpus, the folder for files, and one compressed copy made once.
struct CBenchData
{
    std::string sText;
    fs::path folder;
    std::string sPacked;

    explicit CBenchData(std::string sCorpus) : sText(std::move(sCorpus))
    {
        folder =
            fs::temp_directory_path() / ("embervise_bench_lzss_" + std::to_string(std::random_device()()));
        fs::create_directories(folder);
        sPacked = (folder / "corpus.Fx00c").string();
        CZQAFile file(sPacked.c_str(), false, true, false);
        for (char c : sText)
            file.WriteByte(static_cast<uint8_t>(c));
        file.Close();
    }
    ~CBenchData() { fs::remove_all(folder); }
};

CBenchData& Data(int64_t nCorpus = 0)
{
    static CBenchData s_Effects(MakeEffectCorpus(kCorpusBytes));
    static CBenchData s_Varied(MakeVariedEffectCorpus(kCorpusBytes));
    return nCorpus == 0 ? s_Effects : s_Varied;
}

std::vector<uint32_t> ClassicTokens(const std::string& sText)
{
    CClassicLzssEncoder encoder;
    encoder.m_Tokens.reserve(sText.size());
    for (char c : sText)
        encoder.Add(static_cast<uint8_t>(c));
    encoder.Finish();
    return std::move(encoder.m_Tokens);
}

// The classic encoder with its output: the tokens' bits packed into bytes in memory (ours writes a
// file besides).
std::vector<uint8_t> ClassicEncode(const std::string& sText)
{
    std::vector<uint8_t> out(4, 0);
    out.reserve(sText.size() + 16);
    uint32_t nAccum = 0, nBits = 0;
    auto Put = [&](uint32_t nValue, uint32_t nCount)
    {
        for (uint32_t i = nCount; i-- > 0;)
        {
            nAccum |= ((nValue >> i) & 1u) << nBits;
            if (++nBits == 8)
                out.push_back(static_cast<uint8_t>(nAccum)), nAccum = 0, nBits = 0;
        }
    };
    for (uint32_t nToken : ClassicTokens(sText))
    {
        if (nToken & 0x1000000u)
            Put(0x100u | (nToken & 0xFFu), 9);
        else
            Put(nToken == 0 ? 0 : ((nToken >> 8) << 4) | ((nToken & 0xFFu) - 2), 17);
    }
    return out;
}

void BM_ClassicEncode(benchmark::State& state)
{
    const std::string& sText = Data(state.range(0)).sText;
    for (auto _ : state)
        benchmark::DoNotOptimize(ClassicEncode(sText).size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sText.size()));
}

void BM_LzssEncode(benchmark::State& state)
{
    CBenchData& data = Data(state.range(0));
    const std::string sPath = (data.folder / "encode.Fx00c").string();
    for (auto _ : state)
    {
        CZQAFile file(sPath.c_str(), false, true, false);
        for (char c : data.sText)
            file.WriteByte(static_cast<uint8_t>(c));
        if (!file.Close())
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.sText.size()));
    state.counters["ratio"] =
        static_cast<double>(fs::file_size(sPath)) / static_cast<double>(data.sText.size());
    std::ifstream in(sPath, std::ios::binary);
    const std::vector<uint8_t> packed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (ParseLzssTokens(packed) != ClassicTokens(data.sText) || packed != ClassicEncode(data.sText))
        state.SkipWithError("tokens differ from the classic encoder's");
}

// The tokenizer's way: spans of decoded bytes, ReadByte only when none are waiting.
void BM_LzssDecode(benchmark::State& state)
{
    CBenchData& data = Data();
    for (auto _ : state)
    {
        CZQAFile file(data.sPacked.c_str(), true, true, false);
        size_t nTotal = 0;
        uint32_t nSum = 0;
        for (;;)
        {
            uint32_t nAvailable = 0;
            if (const uint8_t* pSpan = file.PeekBuffered(nAvailable))
            {
                for (uint32_t i = 0; i < nAvailable; ++i)
                    nSum += pSpan[i];
                nTotal += nAvailable;
                file.SkipBuffered(nAvailable);
                continue;
            }
            uint8_t n;
            if (!file.ReadByte(n))
                break;
            nSum += n;
            ++nTotal;
        }
        benchmark::DoNotOptimize(nSum);
        if (nTotal != data.sText.size())
            state.SkipWithError("decoded size differs");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.sText.size()));
}

void BM_LzssDecodeReadByte(benchmark::State& state)
{
    CBenchData& data = Data();
    for (auto _ : state)
    {
        CZQAFile file(data.sPacked.c_str(), true, true, false);
        size_t nTotal = 0;
        uint32_t nSum = 0;
        for (uint8_t n; file.ReadByte(n); ++nTotal)
            nSum += n;
        benchmark::DoNotOptimize(nSum);
        if (nTotal != data.sText.size())
            state.SkipWithError("decoded size differs");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.sText.size()));
}

void BM_ZlibDeflate(benchmark::State& state)
{
    const std::string& sText = Data().sText;
    std::vector<Bytef> packed(compressBound(static_cast<uLong>(sText.size())));
    uLongf nPacked = 0;
    for (auto _ : state)
    {
        nPacked = static_cast<uLongf>(packed.size());
        if (compress2(packed.data(), &nPacked, reinterpret_cast<const Bytef*>(sText.data()),
                      static_cast<uLong>(sText.size()), static_cast<int>(state.range(0))) != Z_OK)
            state.SkipWithError("deflate failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sText.size()));
    state.counters["ratio"] = static_cast<double>(nPacked) / static_cast<double>(sText.size());
}

void BM_ZlibInflate(benchmark::State& state)
{
    const std::string& sText = Data().sText;
    std::vector<Bytef> packed(compressBound(static_cast<uLong>(sText.size())));
    uLongf nPacked = static_cast<uLongf>(packed.size());
    compress2(packed.data(), &nPacked, reinterpret_cast<const Bytef*>(sText.data()),
              static_cast<uLong>(sText.size()), static_cast<int>(state.range(0)));
    std::vector<Bytef> out(sText.size());
    for (auto _ : state)
    {
        uLongf nOut = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &nOut, packed.data(), nPacked) != Z_OK || nOut != sText.size())
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sText.size()));
}
} // namespace

BENCHMARK(BM_ClassicEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzssDecodeReadByte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDeflate)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
