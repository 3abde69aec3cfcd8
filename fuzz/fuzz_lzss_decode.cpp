// Compressed ZQA decoding of arbitrary bytes, through the real file path: ReadByte and the
// PeekBuffered spans must both give exactly what the decoding rules, taken one bit at a time,
// give; what decodes before the first false must survive an encode and decode round trip.
#include "zqafile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
using Trace = std::vector<int>; // successive ReadByte answers: a byte, or -1 for false

const std::string& InputPath()
{
    static const std::string s_sPath = "/tmp/fuzz_lzss_decode_" + std::to_string(getpid()) + ".in";
    return s_sPath;
}

const std::string& RoundTripPath()
{
    static const std::string s_sPath = "/tmp/fuzz_lzss_decode_" + std::to_string(getpid()) + ".rt";
    return s_sPath;
}

bool WriteFile(const std::string& sPath, const uint8_t* pData, size_t nSize)
{
    FILE* pFile = std::fopen(sPath.c_str(), "wb");
    if (!pFile)
        return false;
    const bool bOk = std::fwrite(pData, 1, nSize, pFile) == nSize;
    return std::fclose(pFile) == 0 && bOk;
}

// The rules literally: a missing bit keeps the value of the bit before it; runs until the end of
// the data has answered false twice. {-2} when the header has a 1 bit.
Trace Reference(const uint8_t* pData, size_t nSize)
{
    size_t nBit = 0;
    auto Get = [&](int& b)
    {
        if (nBit >= nSize * 8)
            return false;
        b = (pData[nBit / 8] >> (nBit % 8)) & 1;
        ++nBit;
        return true;
    };
    int b = 0;
    for (int i = 0; i < 32; ++i)
    {
        Get(b);
        if (b)
            return {-2};
    }
    uint8_t aWindow[4096] = {};
    uint32_t nPos = 1, nSpanLen = 0, nSpanPos = 0, nEnds = 0;
    Trace trace;
    while (nEnds < 2)
    {
        if (nSpanLen == 0)
        {
            int nFlag = 0, x = 0;
            uint32_t v = 0;
            if (!Get(nFlag))
            {
                ++nEnds;
                trace.push_back(-1);
                continue;
            }
            const int nBits = nFlag ? 8 : 12;
            for (int i = 0; i < nBits; ++i)
            {
                Get(x);
                v = v * 2 + uint32_t(x);
            }
            if (nFlag)
            {
                aWindow[nPos] = uint8_t(v);
                nPos = (nPos + 1) % 4096;
                trace.push_back(int(v));
                continue;
            }
            if (v == 0)
            {
                trace.push_back(-1);
                continue;
            }
            nSpanPos = v;
            for (int i = 0; i < 4; ++i)
            {
                Get(x);
                nSpanLen = nSpanLen * 2 + uint32_t(x);
            }
            nSpanLen += 2;
        }
        const uint8_t c = aWindow[nSpanPos];
        aWindow[nPos] = c;
        nPos = (nPos + 1) % 4096;
        nSpanPos = (nSpanPos + 1) % 4096;
        --nSpanLen;
        trace.push_back(c);
    }
    return trace;
}

Trace Decode(const std::string& sPath, size_t nCalls, bool bPeek)
{
    CZQAFile file;
    if (!file.Open(sPath.c_str(), true, true, false))
        return {-2};
    Trace trace;
    while (trace.size() < nCalls)
    {
        uint32_t nAvailable = 0;
        const uint8_t* pSpan = bPeek ? file.PeekBuffered(nAvailable) : nullptr;
        if (nAvailable > 0)
        {
            // Uneven bites, so that spans are also left half read.
            size_t nTake = 1 + (trace.size() * 7 + nAvailable) % nAvailable;
            if (nTake > nCalls - trace.size())
                nTake = nCalls - trace.size();
            trace.insert(trace.end(), pSpan, pSpan + nTake);
            file.SkipBuffered(static_cast<uint32_t>(nTake));
            continue;
        }
        uint8_t n = 0;
        trace.push_back(file.ReadByte(n) ? n : -1);
    }
    return trace;
}

void Check(bool bCondition, const char* pszWhat)
{
    if (!bCondition)
    {
        std::fprintf(stderr, "fuzz_lzss_decode: %s\n", pszWhat);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 65536 || !WriteFile(InputPath(), pData, nSize))
        return 0;

    const Trace expected = Reference(pData, nSize);
    Check(Decode(InputPath(), expected.size(), false) == expected,
          "ReadByte differs from the bit-by-bit rules");
    Check(Decode(InputPath(), expected.size(), true) == expected,
          "PeekBuffered differs from the bit-by-bit rules");

    // The decoded data before the first false, when short, through the encoder and back.
    std::vector<uint8_t> data;
    for (int n : expected)
    {
        if (n < 0 || data.size() >= 8192)
            break;
        data.push_back(static_cast<uint8_t>(n));
    }
    {
        CZQAFile out(RoundTripPath().c_str(), false, true, false);
        Check(out.IsOpen(), "cannot create the round-trip file");
        for (uint8_t n : data)
            out.WriteByte(n);
        Check(out.Close(), "writing the round-trip file failed");
    }
    Trace again = Decode(RoundTripPath(), data.size() + 2, false);
    Trace wanted(data.begin(), data.end());
    wanted.insert(wanted.end(), 2, -1);
    Check(again == wanted, "round trip differs");

    std::remove(InputPath().c_str());
    std::remove(RoundTripPath().c_str());
    return 0;
}
