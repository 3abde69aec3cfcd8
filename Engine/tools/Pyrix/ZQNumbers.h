// Text to number conversions of the effect tools. One implementation on every platform and in
// every locale, so that the same source file packs to the same bytes everywhere.
#pragma once

#include <cstdint>

// atoi: skips C white space, takes an optional sign and decimal digits, and accumulates modulo
// 2^32 (wrap-around, never saturating). A text without digits gives 0; null gives 0.
int32_t ZQAtoI(const char* pszText);

// The value of a hexadecimal digit in either case; -1 for any other character.
int HexDigitValue(char c);

// atof: strtod in the "C" locale (leading white space, optional sign, decimal or "0x" hexadecimal
// numbers, "inf", "infinity", "nan" and "nan(...)" ignoring case; the longest valid prefix counts,
// overflow gives infinity, underflow zero). A text without a number gives 0; null gives 0.
double ZQAtoF(const char* pszText);
