// A map from 64-bit keys to 32-bit values in one flat array (open addressing, linear probing):
// one cache line per lookup where a node-based map chases pointers and divides by a prime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CFlatIndex
{
public:
    static constexpr uint32_t NONE = 0xFFFFFFFFu; // no value; never stored

    // The value stored for nKey, or NONE.
    uint32_t Find(uint64_t nKey) const
    {
        if (m_Slots.empty())
            return NONE;
        for (size_t i = Home(nKey);; i = (i + 1) & m_nMask)
        {
            const Slot& slot = m_Slots[i];
            if (slot.nValue == NONE || slot.nKey == nKey)
                return slot.nValue;
        }
    }

    // Stores nValue (not NONE) for nKey, replacing what was there. Throws std::bad_alloc as the
    // standard containers do.
    void Set(uint64_t nKey, uint32_t nValue);
    // Removes nKey if present.
    void Erase(uint64_t nKey);
    void Clear();

private:
    struct Slot
    {
        uint64_t nKey;
        uint32_t nValue; // NONE: the slot is free
    };

    size_t Home(uint64_t nKey) const
    {
        return static_cast<size_t>((nKey * 0x9E3779B97F4A7C15ull) >> m_nShift);
    }
    void Grow();

    std::vector<Slot> m_Slots; // a power of two in size, at most 3/4 in use
    size_t m_nMask = 0;
    uint32_t m_nShift = 64;
    size_t m_nUsed = 0;
};
