#include "FlatIndex.h"

void CFlatIndex::Set(uint64_t nKey, uint32_t nValue)
{
    if ((m_nUsed + 1) * 4 > m_Slots.size() * 3)
        Grow();
    for (size_t i = Home(nKey);; i = (i + 1) & m_nMask)
    {
        Slot& slot = m_Slots[i];
        if (slot.nValue == NONE)
        {
            slot.nKey = nKey;
            slot.nValue = nValue;
            ++m_nUsed;
            return;
        }
        if (slot.nKey == nKey)
        {
            slot.nValue = nValue;
            return;
        }
    }
}

void CFlatIndex::Erase(uint64_t nKey)
{
    if (m_Slots.empty())
        return;
    size_t i = Home(nKey);
    for (;; i = (i + 1) & m_nMask)
    {
        if (m_Slots[i].nValue == NONE)
            return;
        if (m_Slots[i].nKey == nKey)
            break;
    }
    // Backward shift: every later slot of the run that may move closer to its home moves into the
    // gap, so that lookups never stop early at a freed slot.
    for (size_t j = (i + 1) & m_nMask; m_Slots[j].nValue != NONE; j = (j + 1) & m_nMask)
    {
        const size_t nHome = Home(m_Slots[j].nKey);
        // Whether nHome lies cyclically in (i, j]: then the slot must stay.
        const bool bStays = i <= j ? (nHome > i && nHome <= j) : (nHome > i || nHome <= j);
        if (!bStays)
        {
            m_Slots[i] = m_Slots[j];
            i = j;
        }
    }
    m_Slots[i].nValue = NONE;
    --m_nUsed;
}

void CFlatIndex::Clear()
{
    m_Slots.clear();
    m_nMask = 0;
    m_nShift = 64;
    m_nUsed = 0;
}

void CFlatIndex::Grow()
{
    const size_t nSize = m_Slots.empty() ? 64 : m_Slots.size() * 2;
    std::vector<Slot> old(nSize, Slot{0, NONE});
    old.swap(m_Slots);
    m_nMask = nSize - 1;
    m_nShift = 64;
    for (size_t n = nSize; n > 1; n >>= 1)
        --m_nShift;
    m_nUsed = 0;
    for (const Slot& slot : old)
    {
        if (slot.nValue != NONE)
            Set(slot.nKey, slot.nValue);
    }
}
