#include "Printable.h"

#include <cstdint>
#include <cstdio>

namespace
{
// Length of the well-formed UTF-8 sequence at p (at most nLeft bytes), or 0.
size_t Utf8Length(const unsigned char* p, size_t nLeft)
{
    const unsigned char c = p[0];
    size_t n = 0;
    uint32_t nMin = 0;
    uint32_t nCode = 0;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, nMin = 0x80, nCode = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, nMin = 0x800, nCode = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, nMin = 0x10000, nCode = c & 0x07;
    else
        return 0;
    if (n > nLeft)
        return 0;
    for (size_t i = 1; i < n; ++i)
    {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        nCode = nCode << 6 | (p[i] & 0x3F);
    }
    if (nCode < nMin || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF))
        return 0;
    // C1 controls (U+0080..U+009F) act on terminals like C0 ones.
    return nCode <= 0x9F ? 0 : n;
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
