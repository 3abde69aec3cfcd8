// Compressed ZQA decoding of arbitrary bytes, through the real file path: ReadByte and the
// PeekBuffered spans must both give exactly what the decoding rules, taken one bit at a time,
// give; what decodes before the first false must survive an encode and decode round trip.
#include "zqa_reference.h"
#include "zqprocess.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace
{
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
    static const std::string sBase = "/tmp/fuzz_lzss_decode_" + std::to_string(PlatformGetProcessId());
    static const std::string sInput = sBase + ".in", sRoundTrip = sBase + ".rt";
    if (nSize > 65536 ||
        !std::ofstream(sInput, std::ios::binary).write(reinterpret_cast<const char*>(pData), nSize))
        return 0;

    const Trace expected = ReferenceDecode(pData, nSize);
    Check(DecodeTrace(sInput, expected.size(), false) == expected,
          "ReadByte differs from the bit-by-bit rules");
    Check(DecodeTrace(sInput, expected.size(), true) == expected,
          "PeekBuffered differs from the bit-by-bit rules");

    // The decoded data before the first false, when short, through the encoder and back.
    Trace wanted;
    for (size_t i = 0; i < expected.size() && expected[i] >= 0 && wanted.size() < 8192; ++i)
        wanted.push_back(expected[i]);
    {
        CZQAFile out(sRoundTrip.c_str(), false, true, false);
        Check(out.IsOpen(), "cannot create the round-trip file");
        for (int n : wanted)
            out.WriteByte(static_cast<uint8_t>(n));
        Check(out.Close(), "writing the round-trip file failed");
    }
    const size_t nLength = wanted.size();
    wanted.insert(wanted.end(), 2, -1);
    Check(DecodeTrace(sRoundTrip, nLength + 2, false) == wanted, "round trip differs");

    std::remove(sInput.c_str());
    std::remove(sRoundTrip.c_str());
    return 0;
}
