// Reads one effect source file (plain "Fx00a" or compressed "Fx00c" text) into an effect
// collection, checking every type, property and prefab reference against the effect module.
#pragma once

#include "EffectDocument.h"
#include "EffectModule.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Fills `collection` (which the caller constructs empty and destroys) from the file. On failure
// the error text receives one line per level, innermost first, separated by "\r\n"; what was
// appended to the collection before the failure stays there.
bool LoadEffectFile(const char* pszFilename, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sErrorText);

// The same for a file's bytes held in memory (LZSS-compressed when bCompressed), as the file of
// that content would load.
bool LoadEffectBytes(const uint8_t* pData, size_t nSize, bool bCompressed, CEffectCollection& collection,
                     const CEffectModule& module, std::string& sErrorText);

// Formats one message (cut to 511 characters) and appends it, after "\r\n" when the text is not
// empty.
void AppendError(std::string& sErrorText, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
