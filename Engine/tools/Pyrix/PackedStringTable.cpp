#include "PackedStringTable.h"

#include <cstring>

uint32_t HashString(const char* pszStr)
{
    uint32_t nHash = 5381;
    if (!pszStr)
        return nHash;
    for (const char* p = pszStr; *p; ++p)
        nHash = nHash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)));
    return nHash;
}

size_t CPackStringTable::Locate(const char* pszStr, uint32_t nHash) const
{
    const size_t nMask = m_Slots.size() - 1;
    for (size_t i = nHash & nMask;; i = (i + 1) & nMask)
    {
        const SSlot& slot = m_Slots[i];
        if (slot.nOffset == EMPTY ||
            (slot.nHash == nHash && std::strcmp(m_Bytes.data() + slot.nOffset, pszStr) == 0))
            return i;
    }
}

void CPackStringTable::Grow()
{
    std::vector<SSlot> old(m_Slots.size() ? m_Slots.size() * 2 : 1024, SSlot{0, EMPTY});
    old.swap(m_Slots);
    const size_t nMask = m_Slots.size() - 1;
    for (const SSlot& slot : old)
    {
        if (slot.nOffset == EMPTY)
            continue;
        size_t i = slot.nHash & nMask;
        while (m_Slots[i].nOffset != EMPTY)
            i = (i + 1) & nMask;
        m_Slots[i] = slot;
    }
}

uint32_t CPackStringTable::AddString(const char* pszStr)
{
    if (!pszStr)
        pszStr = "";
    if ((m_nCount + 1) * 4 > m_Slots.size() * 3)
        Grow();
    const uint32_t nHash = HashString(pszStr);
    SSlot& slot = m_Slots[Locate(pszStr, nHash)];
    if (slot.nOffset != EMPTY)
        return slot.nOffset;

    const size_t nBytes = std::strlen(pszStr) + 1;
    const size_t nPadded = (nBytes + 3) & ~static_cast<size_t>(3);
    const uint32_t nOffset = static_cast<uint32_t>(m_Bytes.size());
    m_Bytes.resize(m_Bytes.size() + nPadded, '\0');
    std::memcpy(m_Bytes.data() + nOffset, pszStr, nBytes);
    slot = SSlot{nHash, nOffset};
    ++m_nCount;
    return nOffset;
}

bool CPackStringTable::FindString(const char* pszStr, uint32_t* pnOffset) const
{
    if (!pszStr)
        pszStr = "";
    if (m_Slots.empty())
        return false;
    const SSlot& slot = m_Slots[Locate(pszStr, HashString(pszStr))];
    if (slot.nOffset == EMPTY)
        return false;
    if (pnOffset)
        *pnOffset = slot.nOffset;
    return true;
}
