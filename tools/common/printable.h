// Text from files made safe for a terminal: C0 and C1 control bytes, DEL and malformed UTF-8 are
// written as \xHH; well-formed UTF-8 passes through. Every program prints names from files this way.
#pragma once

#include <cstddef>
#include <string>

std::string Printable(const std::string& sText);

// The same for a piece of a text: bytes near its end that may start a sequence are left unless
// bLast; the count of bytes taken.
size_t AppendPrintable(std::string& sOut, const char* p, size_t nSize, bool bLast);
