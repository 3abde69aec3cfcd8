// Well-formed UTF-8 (RFC 3629): the one rule by which every program tells text from raw bytes.
#pragma once

#include <cstddef>

// How many continuation bytes follow a lead byte, and the range its first continuation byte must lie
// in (so that no overlong form, surrogate or code point above U+10FFFF passes); 0 for a byte that
// starts no sequence (ASCII included).
int Utf8Continuations(unsigned char cLead, unsigned char& nLow, unsigned char& nHigh);

// Length of the well-formed multi-byte sequence at p (at most nLeft bytes), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t nLeft);
