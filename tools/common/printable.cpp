#include "printable.h"
#include "utf8.h"

#include <cstdio>

namespace
{
// Length of the well-formed UTF-8 sequence at p that a terminal shows as text, or 0: C1 controls
// (U+0080..U+009F) act on terminals like C0 ones.
size_t Utf8Length(const unsigned char* p, size_t nLeft)
{
    const size_t n = Utf8SequenceLength(p, nLeft);
    return n == 2 && p[0] == 0xC2 && p[1] <= 0x9F ? 0 : n;
}
} // namespace

size_t AppendPrintable(std::string& sOut, const char* pText, size_t nSize, bool bLast)
{
    const auto* p = reinterpret_cast<const unsigned char*>(pText);
    for (size_t i = 0; i < nSize;)
    {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F)
        {
            sOut += static_cast<char>(c);
            ++i;
            continue;
        }
        // A sequence is told by at most four bytes: those near the end of a piece wait for the next.
        if (c >= 0x80 && !bLast && nSize - i < 4)
            return i;
        const size_t n = c >= 0x80 ? Utf8Length(p + i, nSize - i) : 0;
        if (n)
        {
            sOut.append(pText + i, n);
            i += n;
            continue;
        }
        char sz[8];
        std::snprintf(sz, sizeof(sz), "\\x%02X", c);
        sOut += sz;
        ++i;
    }
    return nSize;
}

std::string Printable(const std::string& sText)
{
    std::string sOut;
    sOut.reserve(sText.size());
    AppendPrintable(sOut, sText.data(), sText.size(), true);
    return sOut;
}
