#include "ZQNumbers.h"

#include <charconv>
#include <cstring>
#include <limits>

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

namespace
{
bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char ToLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `psz` begins with the lower-case word `pszWord`, ignoring case.
bool StartsWithNoCase(const char* psz, const char* pszWord)
{
    for (; *pszWord; ++psz, ++pszWord)
    {
        if (ToLowerAscii(*psz) != *pszWord)
            return false;
    }
    return true;
}

double Negate(double d, bool bNegative)
{
    return bNegative ? -d : d;
}

// Payload of "nan(seq)": the sequence read as strtoull with base 0 when it is one whole number;
// its low 51 bits go below the quiet bit, as the C library does.
double ParseNaN(const char* p, bool bNegative)
{
    uint64_t nBits = 0x7FF8000000000000ull;
    if (*p == '(')
    {
        const char* pSeq = p + 1;
        const char* pEnd = pSeq;
        while (IsDigit(*pEnd) || (*pEnd >= 'a' && *pEnd <= 'z') || (*pEnd >= 'A' && *pEnd <= 'Z') ||
               *pEnd == '_')
            ++pEnd;
        if (*pEnd == ')')
        {
            int nBase = 10;
            const char* q = pSeq;
            if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X') && HexDigitValue(q[2]) >= 0)
            {
                nBase = 16;
                q += 2;
            }
            else if (q[0] == '0')
            {
                nBase = 8;
            }
            uint64_t nValue = 0;
            bool bOverflow = false;
            for (; q < pEnd; ++q)
            {
                const int nDigit = HexDigitValue(*q);
                if (nDigit < 0 || nDigit >= nBase)
                    break;
                if (nValue > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(nDigit)) / nBase)
                    bOverflow = true;
                nValue = nValue * nBase + static_cast<uint64_t>(nDigit);
            }
            if (bOverflow)
                nValue = std::numeric_limits<uint64_t>::max();
            if (q == pEnd)
                nBits |= nValue & ((1ull << 51) - 1);
        }
    }
    if (bNegative)
        nBits |= 0x8000000000000000ull;
    double d;
    std::memcpy(&d, &nBits, sizeof(d));
    return d;
}

// Sign of the order of magnitude of a number that std::from_chars found out of range: positive
// means it overflowed, otherwise it underflowed. The range [p, pEnd) is the number that
// from_chars accepted, digits in base 10 (exponent 'e') or 16 (exponent 'p').
bool IsOverflow(const char* p, const char* pEnd, bool bHex)
{
    const char cExp = bHex ? 'p' : 'e';
    // Digits before the point, leading zeros skipped; zeros after the point before the first
    // non-zero digit.
    int64_t nIntDigits = 0;
    int64_t nFracZeros = 0;
    bool bSeenNonZero = false;
    bool bInFraction = false;
    for (; p < pEnd && ToLowerAscii(*p) != cExp; ++p)
    {
        if (*p == '.')
        {
            bInFraction = true;
            continue;
        }
        const bool bZero = *p == '0';
        if (!bInFraction)
        {
            if (bSeenNonZero || !bZero)
            {
                bSeenNonZero = true;
                ++nIntDigits;
            }
        }
        else if (!bSeenNonZero)
        {
            if (!bZero)
                bSeenNonZero = true;
            else
                ++nFracZeros;
        }
    }
    int64_t nExp = 0;
    if (p < pEnd)
    {
        ++p;
        bool bNegExp = false;
        if (p < pEnd && (*p == '+' || *p == '-'))
            bNegExp = *p++ == '-';
        for (; p < pEnd && IsDigit(*p); ++p)
        {
            if (nExp < 1000000000000ll)
                nExp = nExp * 10 + (*p - '0');
        }
        if (bNegExp)
            nExp = -nExp;
    }
    const int64_t nDigitWeight = bHex ? 4 : 1;
    const int64_t nOrder =
        nIntDigits > 0 ? (nIntDigits - 1) * nDigitWeight + nExp : -(nFracZeros + 1) * nDigitWeight + nExp;
    return nOrder > 0;
}
// Skips C white space and an optional sign; answers whether the sign was '-'.
bool SkipSpaceAndSign(const char*& p)
{
    while (IsCSpace(*p))
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
        bNegative = *p++ == '-';
    return bNegative;
}
} // namespace

int32_t ZQAtoI(const char* pszText)
{
    if (!pszText)
        return 0;
    const char* p = pszText;
    const bool bNegative = SkipSpaceAndSign(p);
    uint32_t nValue = 0;
    for (; IsDigit(*p); ++p)
        nValue = nValue * 10u + static_cast<uint32_t>(*p - '0');
    if (bNegative)
        nValue = 0u - nValue;
    // Two's complement reading of the 32 bits, spelled out to stay defined.
    if (nValue <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return static_cast<int32_t>(nValue);
    return -static_cast<int32_t>(~nValue) - 1;
}

double ZQAtoF(const char* pszText)
{
    if (!pszText)
        return 0.0;
    const char* p = pszText;
    const bool bNegative = SkipSpaceAndSign(p);
    // strtod takes one sign; std::from_chars would take a '-' after it ("--5" is no number).
    if (*p == '-')
        return 0.0;

    if (StartsWithNoCase(p, "inf"))
        return Negate(std::numeric_limits<double>::infinity(), bNegative);
    if (StartsWithNoCase(p, "nan"))
        return ParseNaN(p + 3, bNegative);

    // std::from_chars follows strtod's "C" locale grammar apart from the sign and the "0x" prefix,
    // which are handled here.
    bool bHex = false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
    {
        const bool bHexDigitFollows = HexDigitValue(p[2]) >= 0 || (p[2] == '.' && HexDigitValue(p[3]) >= 0);
        if (!bHexDigitFollows)
            return Negate(0.0, bNegative); // "0x" without digits reads as the number 0
        bHex = true;
        p += 2;
    }
    const char* pEnd = p + std::strlen(p);
    double dValue = 0.0;
    const std::chars_format eFormat = bHex ? std::chars_format::hex : std::chars_format::general;
    const std::from_chars_result result = std::from_chars(p, pEnd, dValue, eFormat);
    if (result.ec == std::errc::result_out_of_range)
    {
        dValue = IsOverflow(p, result.ptr, bHex) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    else if (result.ec != std::errc())
    {
        return 0.0; // no conversion: an unsigned zero, whatever sign preceded
    }
    return Negate(dValue, bNegative);
}
