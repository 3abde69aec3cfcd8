#include "fxdump.h"

#include "ZQNumbers.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace fxdump
{
namespace
{
bool SameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

// The two ways a packer turns milliseconds into seconds: the exact product with 0.001f rounded
// once, and the product formed in double first (which rounds twice for some times above 2^24 ms).
float ExactSeconds(int64_t nMs)
{
    // 0.001f is 0x83126F x 2^-33: the integer product is exact, the conversion rounds once.
    return std::ldexp(static_cast<float>(nMs * 0x83126F), -33);
}

float DoubleSeconds(int64_t nMs)
{
    return static_cast<float>(static_cast<double>(nMs) * static_cast<double>(0.001f));
}
} // namespace

std::string ShortFloat(float f)
{
    char sz[64];
    if (std::isnan(f))
    {
        uint32_t nBits;
        std::memcpy(&nBits, &f, sizeof(nBits));
        // The loader reads "nan(payload)" as a double; the float keeps the payload's top bits.
        std::snprintf(sz, sizeof(sz), "%snan(0x%llX)", (nBits >> 31) ? "-" : "",
                      static_cast<unsigned long long>(nBits & 0x3FFFFFu) << 29);
        return sz;
    }
    if (std::isinf(f))
        return f > 0 ? "inf" : "-inf";
    for (int nDigits = 1; nDigits <= 9; ++nDigits)
    {
        std::snprintf(sz, sizeof(sz), "%.*g", nDigits, static_cast<double>(f));
        if (SameBits(static_cast<float>(ZQAtoF(sz)), f))
            break;
    }
    return sz;
}

bool ReadsBack(const std::string& sText, float f)
{
    return SameBits(static_cast<float>(ZQAtoF(sText.c_str())), f);
}

bool SecondsToMs(float fSeconds, int32_t& nMs)
{
    const double dGuess = std::nearbyint(static_cast<double>(fSeconds) * 1000.0);
    const double dLimit = static_cast<double>(std::numeric_limits<int32_t>::max());
    if (!(std::fabs(dGuess) <= dLimit + 2))
        return false;
    const int64_t nGuess = static_cast<int64_t>(dGuess);
    for (int64_t nDelta : {0, -1, 1, -2, 2})
    {
        const int64_t n = nGuess + nDelta;
        if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
            continue;
        if (SameBits(ExactSeconds(n), fSeconds) || SameBits(DoubleSeconds(n), fSeconds))
        {
            nMs = static_cast<int32_t>(n);
            return true;
        }
    }
    return false;
}

bool FloatToChannel(float f, uint32_t& nChannel)
{
    if (!(f >= 0.0f && f <= 1.0f))
        return false;
    const uint32_t n = static_cast<uint32_t>(std::lround(static_cast<double>(f) * 255.0));
    if (!SameBits(static_cast<float>(n) * 0.003921569f, f))
        return false;
    nChannel = n;
    return true;
}
} // namespace fxdump
