// Deterministic generators of benchmark inputs, all in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CEffectCollection;
class CEffectModule;

// A well-formed effect file text of at least nBytes bytes: nested lists of effects, keys and
// properties with names, numbers and quoted strings, repetitive as real effect files are but
// varied. The same nBytes always gives the same text.
std::string MakeEffectCorpus(size_t nBytes);
// The same kind of text with measured values (more digits, more keys per curve): it compresses to
// about a third, where MakeEffectCorpus compresses to about a fifth.
std::string MakeVariedEffectCorpus(size_t nBytes);

// Effects of the sample module's types with the properties an artist typically sets (constants,
// curves of two to five values, file names, enums), at least nMinBytes long. nSeedEffects varies
// the text.
std::string MakeSampleEffectFile(size_t nMinBytes, uint32_t nSeedEffects);

// One effect whose track holds nKeys keys written in reverse start order, all of one prefab.
std::string MakeKeysInReverseOrder(int64_t nKeys);
// One key whose curve holds nValues values in reverse time order.
std::string MakeValuesInReverseOrder(int64_t nValues);
// nAtoms bare words, each a top-level item.
std::string MakeTopLevelAtoms(uint32_t nAtoms);
// nPrefabs prefabs, then one key per prefab naming one of them (scattered, other letter case).
std::string MakePrefabFile(uint32_t nPrefabs);

// The same tree written as JSON: the whole file one array, lists arrays, atoms strings.
std::string ZqaToJson(const std::string& sText);

// One effect whose keys each hold a distinct Rotation curve of the sample module's Sprite type;
// every other property keeps its default. False when the module lacks that property.
bool BuildDistinctCurves(CEffectModule& module, CEffectCollection& collection, uint32_t nCurves);
