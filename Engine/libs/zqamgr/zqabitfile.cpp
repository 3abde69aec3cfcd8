#include "zqabitfile.h"

#include "zqstrutils.h"

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqabitfile"

namespace
{
constexpr uint32_t kMaxBulkBits = 24;

// The nCount low bits of nValue in reverse order (nCount 1 to 32).
inline uint32_t ReverseBits(uint32_t nValue, uint32_t nCount)
{
    nValue = ((nValue >> 1) & 0x55555555u) | ((nValue & 0x55555555u) << 1);
    nValue = ((nValue >> 2) & 0x33333333u) | ((nValue & 0x33333333u) << 2);
    nValue = ((nValue >> 4) & 0x0F0F0F0Fu) | ((nValue & 0x0F0F0F0Fu) << 4);
    nValue = ((nValue >> 8) & 0x00FF00FFu) | ((nValue & 0x00FF00FFu) << 8);
    nValue = (nValue >> 16) | (nValue << 16);
    return nValue >> (32 - nCount);
}

// Bits already placed in the current byte, for a mask with a single bit set.
inline uint32_t FilledBits(uint8_t nMask)
{
    uint32_t nFilled = 0;
    while (!(nMask & 1u))
    {
        nMask = static_cast<uint8_t>(nMask >> 1);
        ++nFilled;
    }
    return nFilled;
}
} // namespace

CZQABitFile::CZQABitFile() : m_nCurrByte(0), m_nCurrMask(1) {}

bool CZQABitFile::Open(const char* pszPath, OpenMode eMode, uint32_t nCacheSize, bool bAppend)
{
    m_nCurrByte = 0;
    m_nCurrMask = 0;
    if (!CZQAFileBuffer::Open(pszPath, eMode, nCacheSize, bAppend))
        return false;
    m_nCurrMask = eMode == OPEN_READ ? 0 : 1;
    return true;
}

bool CZQABitFile::OpenMemory(const uint8_t* pData, size_t nSize, uint32_t nCacheSize)
{
    m_nCurrByte = 0;
    m_nCurrMask = 0;
    return CZQAFileBuffer::OpenMemory(pData, nSize, nCacheSize);
}

bool CZQABitFile::GetBit(bool& bBit)
{
    ZQ_CHECK(GetMode() == CZQAFileBuffer::OPEN_READ, "CZQABitFile::GetBit",
             "Error: File is not open for reading");
    if (m_nCurrMask == 0)
    {
        if (!ReadByte(m_nCurrByte))
            return false;
        m_nCurrMask = 1;
    }
    bBit = (m_nCurrByte & m_nCurrMask) != 0;
    m_nCurrMask = static_cast<uint8_t>(m_nCurrMask << 1);
    return true;
}

bool CZQABitFile::SetBit(bool bBit)
{
    ZQ_CHECK(GetMode() == CZQAFileBuffer::OPEN_WRITE, "CZQABitFile::SetBit",
             "Error: File is not open for writing");
    if (bBit)
        m_nCurrByte = static_cast<uint8_t>(m_nCurrByte | m_nCurrMask);
    if (m_nCurrMask != 0x80)
    {
        m_nCurrMask = static_cast<uint8_t>(m_nCurrMask << 1);
        return true;
    }
    if (!WriteByte(m_nCurrByte))
        return false;
    m_nCurrByte = 0;
    m_nCurrMask = 1;
    return true;
}

bool CZQABitFile::SetBits(uint32_t nValue, uint32_t nCount)
{
    if (nCount == 0)
        return true;
    if (GetMode() != OPEN_WRITE || m_nCurrMask == 0 || nCount > kMaxBulkBits)
    {
        bool bResult = true;
        for (uint32_t i = nCount; i-- > 0;)
            bResult &= SetBit(((nValue >> i) & 1u) != 0);
        return bResult;
    }

    // Up to 7 + 24 bits: the current byte's bits, then the new ones in write order.
    uint32_t nTotal = FilledBits(m_nCurrMask) + nCount;
    uint32_t nAccum = m_nCurrByte | (ReverseBits(nValue, nCount) << (nTotal - nCount));
    while (nTotal >= 8)
    {
        nTotal -= 8;
        if (!WriteByte(static_cast<uint8_t>(nAccum)))
        {
            // As SetBit leaves it: the full byte stays current, and every later bit retries it.
            m_nCurrByte = static_cast<uint8_t>(nAccum);
            m_nCurrMask = 0x80;
            for (uint32_t i = nTotal; i-- > 0;)
                SetBit(((nValue >> i) & 1u) != 0);
            return false;
        }
        nAccum >>= 8;
    }
    m_nCurrByte = static_cast<uint8_t>(nAccum);
    m_nCurrMask = static_cast<uint8_t>(1u << nTotal);
    return true;
}
