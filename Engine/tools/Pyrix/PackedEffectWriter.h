// Writes an effect collection as a packed effect file: a little-endian binary file with one string
// table, one section of distinct function curves, and one record per effect, key and property.
#pragma once

#include "EffectDocument.h"
#include "EffectModule.h"
#include "EffectProperty.h"

#include <cstdint>

class CFunctionCurveData;
class CPackStringTable;
class IZQOutConverter;

// The ten words at the start of a packed effect file.
struct PackedEffectHeader
{
    uint32_t nMagic;
    uint32_t nVersion;
    uint32_t nModuleVersion;
    uint32_t nStringTableSize;
    uint32_t nCurveDataSize;
    uint32_t nNumKeys;
    uint32_t nNumEffects;
    uint32_t nNumEffectTypes;
    uint32_t nStringTableOffset;
    uint32_t nEffectIndexOffset;
};

// Writes the packed form of `collection` to pszDest. The file is written beside pszDest under a
// temporary name and replaces pszDest only when every write succeeded; on failure pszDest is left
// as it was. False for a null destination, a module that is not loaded, or any failure to write.
// Properties are normalised again as they are written.
bool WritePackedEffectFile(const char* pszDest, CEffectCollection& collection, CEffectModule& module);

// The steps of WritePackedEffectFile.

// The pre-pass: counts effects and keys, fills the key count of each type id (pKeyCounts holds
// nNumTypes entries), and gathers every string and every distinct function curve in first-met order.
void CollectPackData(CEffectCollection& collection, CFunctionCurveData& curves, uint32_t* pnNumEffects,
                     uint32_t* pnNumKeys, uint32_t* pKeyCounts, uint32_t nNumTypes,
                     CPackStringTable& strings);

// The effect records. False when a seek back to patch a skip offset failed.
bool WriteEffects(IZQOutConverter& converter, CEffectCollection& collection, const CPackStringTable& strings,
                  CFunctionCurveData& curves);

// One key record with its writable properties. False when a seek failed.
bool WriteKey(IZQOutConverter& converter, CEffectKey& key, const CPackStringTable& strings,
              CFunctionCurveData& curves);

// One property record: name, skip offset, then the curve offset or the value of key 0. The
// property is normalised first. False when a seek failed.
bool WritePropertyData(IZQOutConverter& converter, CEffectProperty* pProperty,
                       const CPackStringTable& strings, CFunctionCurveData& curves);

// The value of key nKey of the property (below its key count) in the encoding of its type.
void WritePropertyKeyData(IZQOutConverter& converter, const CEffectProperty& property, uint32_t nKey,
                          const CPackStringTable& strings);
