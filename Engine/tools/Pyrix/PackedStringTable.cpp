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

uint32_t CPackStringTable::AddString(const char* pszStr)
{
    if (!pszStr)
        pszStr = "";
    std::string sKey(pszStr);
    const auto it = m_Index.find(sKey);
    if (it != m_Index.end())
        return it->second.nOffset;

    const size_t nBytes = sKey.size() + 1;
    const size_t nPadded = (nBytes + 3) & ~static_cast<size_t>(3);
    const uint32_t nOffset = static_cast<uint32_t>(m_Bytes.size());
    m_Bytes.resize(m_Bytes.size() + nPadded, '\0');
    std::memcpy(m_Bytes.data() + nOffset, sKey.c_str(), nBytes);
    m_Index.emplace(std::move(sKey), SStringEntry{nOffset});
    return nOffset;
}

bool CPackStringTable::FindString(const char* pszStr, uint32_t* pnOffset) const
{
    if (!pszStr)
        pszStr = "";
    const auto it = m_Index.find(std::string(pszStr));
    if (it == m_Index.end())
        return false;
    if (pnOffset)
        *pnOffset = it->second.nOffset;
    return true;
}
