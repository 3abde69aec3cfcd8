#include "zqacompressedfile.h"

#include "zqstrutils.h"

#include <cstring>

#if defined(_MSC_VER)
#include <stdlib.h>
#endif

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqacompressedfile"

namespace
{
constexpr uint32_t kPosMask = CLZSSWindow::WINDOW_SIZE - 1;
constexpr uint32_t kMinCopy = CLZSSWindow::BREAK_EVEN + 1;
constexpr uint32_t kMaxToken = 1 + CLZSSWindow::INDEX_BIT_COUNT + CLZSSWindow::LENGTH_BIT_COUNT; // 17 bits
constexpr uint32_t kMaxCopy = CLZSSWindow::LOOK_AHEAD_SIZE;                                      // 17 bytes
// Tokens decoded from one top-up of the bit buffer, which then holds at least 56 bits.
constexpr uint32_t kGroupTokens = 3;
static_assert(kGroupTokens * kMaxToken <= 56, "a group of tokens fits one top-up");
// The writer drops a partly filled last byte, so at least this many bits of the end token are in a
// file that was not cut short.
constexpr uint32_t kMinEndTokenBits = kMaxToken - 7;

inline uint8_t ReverseByte(uint8_t n)
{
    n = static_cast<uint8_t>(((n >> 1) & 0x55) | ((n & 0x55) << 1));
    n = static_cast<uint8_t>(((n >> 2) & 0x33) | ((n & 0x33) << 2));
    return static_cast<uint8_t>((n >> 4) | (n << 4));
}

// Eight file bytes as one stream of bits, the first bit of the file (bit 0 of the first byte) in
// the most significant place: the fields of a token then read as plain numbers.
inline uint64_t LoadStreamBits(const uint8_t* p)
{
    uint64_t n;
    std::memcpy(&n, p, sizeof(n));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    // Bytes already in stream order; only the bits inside each byte turn around.
#elif defined(_MSC_VER)
    n = _byteswap_uint64(n);
#else
    n = __builtin_bswap64(n);
#endif
    n = ((n >> 1) & 0x5555555555555555ull) | ((n & 0x5555555555555555ull) << 1);
    n = ((n >> 2) & 0x3333333333333333ull) | ((n & 0x3333333333333333ull) << 2);
    n = ((n >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((n & 0x0F0F0F0F0F0F0F0Full) << 4);
    return n;
}

// Outputs nLen (2 to 17) bytes from nDistance (1 to 4096) bytes back, one byte at a time in
// effect, so that an overlapping copy repeats what it has just written. May write up to 17 bytes.
inline void CopyMatch(uint8_t* pOut, uint32_t nDistance, uint32_t nLen)
{
    const uint8_t* pSrc = pOut - nDistance;
    if (nDistance >= 16)
    {
        std::memcpy(pOut, pSrc, 16);
        pOut[16] = pSrc[16];
    }
    else if (nDistance >= 8)
    {
        std::memcpy(pOut, pSrc, 8);
        std::memcpy(pOut + 8, pSrc + 8, 8);
        pOut[16] = pSrc[16];
    }
    else if (nDistance == 1)
    {
        std::memset(pOut, pSrc[0], nLen);
    }
    else
    {
        for (uint32_t i = 0; i < nLen; ++i)
            pOut[i] = pSrc[i];
    }
}

inline uint32_t CopyDistance(uint32_t nWindowPos, uint32_t nCopyPos)
{
    const uint32_t nDistance = (nWindowPos - nCopyPos) & kPosMask;
    return nDistance ? nDistance : CLZSSWindow::WINDOW_SIZE;
}
// Tops nBits up with whole bytes from p, as many as fit (eight bytes must be readable there); the bits
// below them stay 0. Returns the number of bytes taken.
inline uint32_t TopUpBits(const uint8_t* p, uint64_t& nBits, uint32_t& nCount)
{
    const uint32_t nBytes = (63 - nCount) >> 3;
    nBits |= (LoadStreamBits(p) & ~(~0ull >> (nBytes * 8))) >> nCount;
    nCount += nBytes * 8;
    return nBytes;
}

// Decodes the token at the top of nBits, which holds all of it: a literal or a copy (true), or the
// end mark, whose length bits are not read (false). pOut has room for the longest copy.
inline bool DecodeWholeToken(uint64_t& nBits, uint32_t& nCount, uint8_t*& pOut, uint32_t& nWindowPos)
{
    if (static_cast<int64_t>(nBits) < 0)
    {
        // Literal: flag 1, 8 bits.
        *pOut++ = static_cast<uint8_t>(nBits >> 55);
        nBits <<= 9;
        nCount -= 9;
        ++nWindowPos;
        return true;
    }
    const uint32_t nCopyPos = static_cast<uint32_t>(nBits >> 51) & kPosMask;
    if (nCopyPos == 0)
    {
        nBits <<= 13;
        nCount -= 13;
        return false;
    }
    const uint32_t nLen = (static_cast<uint32_t>(nBits >> 47) & 0xF) + kMinCopy;
    nBits <<= 17;
    nCount -= 17;
    CopyMatch(pOut, CopyDistance(nWindowPos, nCopyPos), nLen);
    pOut += nLen;
    nWindowPos += nLen;
    return true;
}
} // namespace

CZQACompressedFile::CZQACompressedFile()
{
    std::memset(m_aDecBuffer, 0, sizeof(m_aDecBuffer));
    ResetDecoder();
}

CZQACompressedFile::~CZQACompressedFile()
{
    Close();
}

void CZQACompressedFile::ResetDecoder()
{
    m_nDecWindowPos = 1;
    m_nOutPos = DEC_HISTORY;
    m_nOutEnd = DEC_HISTORY;
    m_nBitBuffer = 0;
    m_nBitCount = 0;
    m_bDecStop = false;
    m_bDecCutShort = false;
}

bool CZQACompressedFile::Open(const char* pszPath, OpenMode eMode, uint32_t nCacheSize, bool bAppend)
{
    ResetDecoder();
    if (!CZQABitFile::Open(pszPath, eMode, nCacheSize, bAppend))
        return false;

    const uint32_t nHeaderBits = 32;
    if (eMode == OPEN_WRITE)
    {
        for (uint32_t i = 0; i < nHeaderBits; ++i)
            SetBit(false);
        m_Encoder.Init();
        return true;
    }
    return ReadHeader();
}

bool CZQACompressedFile::OpenMemory(const uint8_t* pData, size_t nSize, uint32_t nCacheSize)
{
    ResetDecoder();
    return CZQABitFile::OpenMemory(pData, nSize, nCacheSize) && ReadHeader();
}

bool CZQACompressedFile::ReadHeader()
{
    const uint32_t nHeaderBits = 32;
    // A missing header bit keeps the value of the bit before it.
    bool bBit = false;
    bool bHeaderZero = true;
    for (uint32_t i = 0; i < nHeaderBits; ++i)
    {
        GetBit(bBit);
        if (bBit)
            bHeaderZero = false;
    }
    if (!bHeaderZero)
    {
        Close();
        return false;
    }
    // The header ends on a byte boundary: the bits that follow come straight from the byte cache.
    std::memset(m_aDecBuffer, 0, DEC_HISTORY);
    return true;
}

bool CZQACompressedFile::Close()
{
    if (GetMode() == OPEN_WRITE)
        m_Encoder.Flush(*this);
    ResetDecoder();
    return CZQAFileBuffer::Close();
}

bool CZQACompressedFile::WriteByteSlow(uint8_t nByte)
{
    if (!ZQ_CHECK(GetMode() == CZQAFileBuffer::OPEN_WRITE, "CZQACompressedFile::WriteByte",
                  "Error: File is not open for writing"))
        return false;
    return m_Encoder.AddByte(nByte, *this);
}

bool CZQACompressedFile::ReadByteSlow(uint8_t& nByte)
{
    if (!ZQ_CHECK(GetMode() == CZQAFileBuffer::OPEN_READ, "CZQACompressedFile::ReadByte",
                  "Error: File is not open for reading"))
        return false;
    if (m_nOutPos >= m_nOutEnd)
    {
        if (!m_bDecStop)
            DecodeAhead();
        if (m_nOutPos >= m_nOutEnd)
        {
            m_bDecStop = false;
            return false;
        }
    }
    nByte = m_aDecBuffer[m_nOutPos++];
    return true;
}

const uint8_t* CZQACompressedFile::PeekBuffered(uint32_t& nAvailable)
{
    nAvailable = 0;
    if (GetMode() != OPEN_READ)
        return nullptr;
    if (m_nOutPos >= m_nOutEnd && !m_bDecStop)
        DecodeAhead();
    nAvailable = m_nOutEnd - m_nOutPos;
    return nAvailable ? m_aDecBuffer + m_nOutPos : nullptr;
}

void CZQACompressedFile::SkipBuffered(uint32_t nCount)
{
    const uint32_t nLeft = m_nOutEnd - m_nOutPos;
    if (!ZQ_CHECK(nCount <= nLeft, "CZQACompressedFile::SkipBuffered",
                  "Error: Skipping more than is decoded"))
        nCount = nLeft;
    m_nOutPos += nCount;
}

void CZQACompressedFile::RefillBits(uint64_t& nBits, uint32_t& nCount)
{
    while (nCount <= 56)
    {
        const uint32_t nAvailable = m_nCachePos < m_nCacheFill ? m_nCacheFill - m_nCachePos : 0;
        if (nAvailable >= 8)
        {
            m_nCachePos += TopUpBits(m_pCache + m_nCachePos, nBits, nCount);
            return;
        }
        if (nAvailable > 0)
        {
            nBits |= static_cast<uint64_t>(ReverseByte(m_pCache[m_nCachePos++])) << (56 - nCount);
            nCount += 8;
            continue;
        }
        if (!FillCache())
            return; // end of the file (or a read error): nothing more comes
    }
}

void CZQACompressedFile::DecodeAhead()
{
    // Everything decoded has been read: keep only the window's worth of history before the room.
    if (m_nOutEnd > DEC_HISTORY + DEC_CHUNK / 2)
    {
        std::memmove(m_aDecBuffer, m_aDecBuffer + m_nOutEnd - DEC_HISTORY, DEC_HISTORY);
        m_nOutEnd = DEC_HISTORY;
    }
    m_nOutPos = m_nOutEnd;

    uint8_t* pOut = m_aDecBuffer + m_nOutEnd;
    uint8_t* const pLimit = m_aDecBuffer + DEC_BUFFER_SIZE - kMaxCopy;
    uint64_t nBits = m_nBitBuffer;
    uint32_t nCount = m_nBitCount;
    uint32_t nWindowPos = m_nDecWindowPos;

    // The bulk: while eight file bytes and room for a group of tokens are at hand, the bits are
    // topped up once per group and each token of it is decoded without further checks.
    uint8_t* const pGroupLimit = m_aDecBuffer + DEC_BUFFER_SIZE - kGroupTokens * kMaxCopy;
    bool bEnded = false;
    while (pOut <= pGroupLimit)
    {
        if (nCount < kGroupTokens * kMaxToken)
        {
            if (m_nCachePos >= m_nCacheFill || m_nCacheFill - m_nCachePos < 8)
                break;
            m_nCachePos += TopUpBits(m_pCache + m_nCachePos, nBits, nCount);
        }
        for (uint32_t i = 0; i < kGroupTokens && !bEnded; ++i)
            bEnded = !DecodeWholeToken(nBits, nCount, pOut, nWindowPos);
        if (bEnded)
        {
            m_bDecStop = true;
            m_bDecCutShort = false;
            break;
        }
    }

    // The rest of the room, and the end of the file, a token at a time.
    while (!bEnded && pOut <= pLimit)
    {
        if (nCount < kMaxToken)
        {
            RefillBits(nBits, nCount);
            if (nCount < kMaxToken)
            {
                // The end of the file is near: one token at a time, bit by bit. A token cut off by
                // the end reads each missing bit as the bit before it in the same token (the first
                // value bit of a literal as 0, the first position bit as the flag 0).
                if (nCount == 0)
                {
                    m_bDecStop = true;
                    m_bDecCutShort = true; // no end token
                    break;
                }
                const uint32_t nTokenBits = nCount;
                uint32_t nBit = static_cast<uint32_t>(nBits >> 63);
                auto NextBit = [&]()
                {
                    if (nCount > 0)
                    {
                        nBit = static_cast<uint32_t>(nBits >> 63);
                        nBits <<= 1;
                        --nCount;
                    }
                    return nBit;
                };
                nBits <<= 1;
                --nCount;
                if (nBit)
                {
                    nBit = 0;
                    uint32_t nValue = 0;
                    for (int i = 0; i < 8; ++i)
                        nValue = (nValue << 1) | NextBit();
                    *pOut++ = static_cast<uint8_t>(nValue);
                    ++nWindowPos;
                    continue;
                }
                uint32_t nCopyPos = 0;
                for (uint32_t i = 0; i < CLZSSWindow::INDEX_BIT_COUNT; ++i)
                    nCopyPos = (nCopyPos << 1) | NextBit();
                if (nCopyPos == 0)
                {
                    m_bDecStop = true;
                    m_bDecCutShort = nTokenBits < kMinEndTokenBits;
                    break;
                }
                uint32_t nLen = 0;
                for (uint32_t i = 0; i < CLZSSWindow::LENGTH_BIT_COUNT; ++i)
                    nLen = (nLen << 1) | NextBit();
                nLen += kMinCopy;
                CopyMatch(pOut, CopyDistance(nWindowPos, nCopyPos), nLen);
                pOut += nLen;
                nWindowPos += nLen;
                continue;
            }
        }

        if (!DecodeWholeToken(nBits, nCount, pOut, nWindowPos))
        {
            m_bDecStop = true;
            m_bDecCutShort = false;
            break;
        }
    }

    m_nOutEnd = static_cast<uint32_t>(pOut - m_aDecBuffer);
    m_nBitBuffer = nBits;
    m_nBitCount = nCount;
    m_nDecWindowPos = nWindowPos & kPosMask;
}
