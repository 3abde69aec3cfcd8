// The distinct function curves of one packing run. Each curve is stored once in the packed file's
// curve section; property records refer to it by its byte offset within that section. Two curves
// are the same when their value types match and their keys are equal, whatever properties they
// belong to.
#pragma once

#include "EffectProperty.h"
#include "FlatIndex.h"

#include <cstdint>
#include <vector>

class CPackStringTable;
class IZQOutConverter;

struct SCurveEntry
{
    const CEffectProperty* pProperty; // defines the curve; owned by the effect collection
    uint32_t nOffset;                 // within the curve section; 0xFFFFFFFF until written
};

class CFunctionCurveData
{
public:
    // Index of the first entry that is pProp itself or holds an equal curve; -1 when none.
    int32_t FindProperty(const CEffectProperty* pProp) const;
    // Appends an entry for pProp; the caller has just seen FindProperty give -1.
    void AddProperty(const CEffectProperty* pProp);
    // Re-files the entry of pProp, if it has one, under its current keys. Called whenever an
    // entry's property may have changed since it was added.
    void UpdateProperty(const CEffectProperty* pProp);

    // Writes one record per entry in insertion order, recording each entry's offset, and stores
    // the section's size in *pnCurveDataSize.
    void WriteCurves(IZQOutConverter& converter, uint32_t* pnCurveDataSize, const CPackStringTable& strings);

    uint32_t GetNumEntries() const { return static_cast<uint32_t>(m_Entries.size()); }
    const SCurveEntry& GetEntry(uint32_t nIndex) const { return m_Entries[nIndex]; }

private:
    // Hash of a curve's content, consistent with curve equality; false when the curve holds a NaN
    // time or float value and so equals no other curve.
    static bool HashCurve(const CEffectProperty& prop, uint64_t& nHash);
    static uint64_t IdentityKey(const CEffectProperty* pProp);

    void FileEntry(uint32_t nIndex);
    void UnfileEntry(uint32_t nIndex);

    std::vector<SCurveEntry> m_Entries;

    // Lookup indexes over m_Entries: entry indices by content hash (each hash leads to the
    // smallest entry filed under it, nNextSame to the next larger one), and by property identity.
    struct SFiling
    {
        bool bHashed;
        uint64_t nHash;
        uint32_t nNextSame; // CFlatIndex::NONE at the end of the list
    };
    std::vector<SFiling> m_Filing; // parallel to m_Entries
    CFlatIndex m_ByContent;
    CFlatIndex m_ByIdentity; // keyed by the property's address
};
