// Reads one effect source file (plain "Fx00a" or compressed "Fx00c" text) into an effect
// collection, checking every type, property and prefab reference against the effect module.
#pragma once

#include "EffectDocument.h"
#include "EffectModule.h"
#include "pyrixmodule.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CZQANode;

// The rules by which the loader reads a file, for the programs that check or show sources as it
// does.

// Track numbers at or above this fail like a track that cannot be had.
constexpr uint32_t kMaxTracks = 65536;
// Bytes kept of an effect name and of a string value; the rest is cut.
constexpr size_t kEffectNameChars = sizeof(CEffectDef::szName) - 1;
constexpr size_t kStringValueChars = sizeof(EffectPropValue::szValue) - 1;

// The nine type names that effect files use, matched ignoring case.
struct EffectTypeName
{
    const char* pszName;
    EffectPropType eType;
};
extern const EffectTypeName kEffectTypeNames[9];
// The code of a type name of a file; false for any other name.
bool TypeFromName(const char* pszType, uint32_t& eType);
// The name of a type code: one of the nine, "NoValue" (8) or "None" (0); null for other codes.
const char* EffectTypeNameOf(uint32_t eType);

// Atoms that a "data" list holds for a value of the type: 3 for Vector, 4 for Color, else 1.
uint32_t AtomsForType(uint32_t eType);
// A Color's four integers as stored: the low 8 bits of each, as 0xAARRGGBB.
uint32_t PackColor(int32_t nRed, int32_t nGreen, int32_t nBlue, int32_t nAlpha);

// The lists that a record is read from, by name; the first list of each name counts, any other
// element is ignored. The first nRequired lists must hold a value.
struct EffectRecordLists
{
    const char* pszRecord;
    const char* apszLists[9];
    uint32_t nLists;
    uint32_t nRequired;
};
extern const EffectRecordLists kHeaderLists;
extern const EffectRecordLists kContainerLists;
extern const EffectRecordLists kPrefabLists;
extern const EffectRecordLists kEffectLists;
extern const EffectRecordLists kKeyLists;
extern const EffectRecordLists kMotionLinkLists;
extern const EffectRecordLists kPropertyLists;
extern const EffectRecordLists kValueLists;
// The lists looked up at the top of a file.
extern const EffectRecordLists kRootLists;

// Fills `collection` (which the caller constructs empty and destroys) from the file. On failure
// the error text receives one line per level, innermost first, separated by "\r\n"; what was
// appended to the collection before the failure stays there.
bool LoadEffectFile(const char* pszFilename, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sErrorText);

// The same for a file's bytes held in memory (LZSS-compressed when bCompressed), as the file of
// that content would load.
bool LoadEffectBytes(const uint8_t* pData, size_t nSize, bool bCompressed, CEffectCollection& collection,
                     const CEffectModule& module, std::string& sErrorText);

// The same from a text tree already read whole (the root that CZQANodeReader fills), as the file of
// that text would load; the tree is not changed.
bool LoadEffectTree(const CZQANode* pRoot, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sErrorText);

// Formats one message (cut to 511 characters) and appends it, after "\r\n" when the text is not
// empty.
void AppendError(std::string& sErrorText, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
