#include "zqacompressedfile.h"

#include "zqstrutils.h"

#include <cstdint>
#include <cstring>

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

// The decoder reads the stream's bits in file order, the next one in the least significant place
// (bit 0 of the first byte first), so that eight file bytes top the buffer up with one load and
// no reordering. The fields of a token, written most significant bit first, then come out
// reversed: this table turns a 12-bit field back, and a shorter field lies in its low bits (an
// n-bit field's value is the entry's top n bits).
struct CReversedFields
{
    uint16_t a[CLZSSWindow::WINDOW_SIZE];
};

constexpr CReversedFields MakeReversedFields()
{
    CReversedFields t{};
    for (uint32_t i = 0; i < CLZSSWindow::WINDOW_SIZE; ++i)
    {
        uint32_t nReversed = 0;
        for (uint32_t nBit = 0; nBit < CLZSSWindow::INDEX_BIT_COUNT; ++nBit)
            nReversed |= ((i >> nBit) & 1u) << (CLZSSWindow::INDEX_BIT_COUNT - 1 - nBit);
        t.a[i] = static_cast<uint16_t>(nReversed);
    }
    return t;
}

constexpr CReversedFields kReversedFields = MakeReversedFields();

// The position field of the token at the low end of nBits; for a literal, its byte is the top 8
// of these 12 bits.
inline uint32_t PositionField(uint64_t nBits)
{
    return kReversedFields.a[(nBits >> 1) & kPosMask];
}

// The copy length of the copy token at the low end of nBits.
inline uint32_t CopyLength(uint64_t nBits)
{
    constexpr uint32_t nShift = CLZSSWindow::INDEX_BIT_COUNT - CLZSSWindow::LENGTH_BIT_COUNT;
    return (kReversedFields.a[(nBits >> (1 + CLZSSWindow::INDEX_BIT_COUNT)) & 0xF] >> nShift) + kMinCopy;
}

// Eight file bytes as a number with the first one in the lowest place.
inline uint64_t LoadFileOrder64(const uint8_t* p)
{
    uint64_t n;
    std::memcpy(&n, p, sizeof(n));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    n = __builtin_bswap64(n);
#endif
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
// above them stay 0. Returns the number of bytes taken.
inline uint32_t TopUpBits(const uint8_t* p, uint64_t& nBits, uint32_t& nCount)
{
    const uint32_t nBytes = (63 - nCount) >> 3;
    nBits |= (LoadFileOrder64(p) & ((1ull << (nBytes * 8)) - 1)) << nCount;
    nCount += nBytes * 8;
    return nBytes;
}

// Decodes the token at the low end of nBits, which holds all of it: a literal or a copy (true), or
// the end mark, whose length bits are not read (false). pOut has room for the longest copy.
inline bool DecodeWholeToken(uint64_t& nBits, uint32_t& nCount, uint8_t*& pOut, uint32_t& nWindowPos)
{
    const uint32_t nField = PositionField(nBits);
    if (nBits & 1)
    {
        // Literal: flag 1, 8 bits.
        *pOut++ = static_cast<uint8_t>(nField >> 4);
        nBits >>= 9;
        nCount -= 9;
        ++nWindowPos;
        return true;
    }
    if (nField == 0)
    {
        nBits >>= 13;
        nCount -= 13;
        return false;
    }
    const uint32_t nLen = CopyLength(nBits);
    nBits >>= kMaxToken;
    nCount -= kMaxToken;
    CopyMatch(pOut, CopyDistance(nWindowPos, nField), nLen);
    pOut += nLen;
    nWindowPos += nLen;
    return true;
}

// The window position of the byte at pOut, from a bias fixed for one call of DecodeAhead: the
// position then needs no counting per token.
inline uint32_t WindowPosAt(const uint8_t* pOut, uint32_t nBias)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pOut)) + nBias;
}

// Where a literal's 17-byte copy comes from: far enough back that the stores just made are not
// in its way, and not a multiple of 4096 bytes away from them (such addresses look alike to the
// processor's store checks, which would hold the load back).
constexpr uint32_t kLiteralBack = CLZSSWindow::WINDOW_SIZE / 2;

// DecodeWholeToken for the common tokens in one path: a literal and a copy from at least 16 bytes
// back both copy 17 bytes from the window and then set the first byte. False, with nothing
// decoded, for the end mark and for a copy that overlaps its own output: those go through
// DecodeWholeToken.
inline bool DecodeCommonToken(uint64_t& nBits, uint32_t& nCount, uint8_t*& pOut, uint32_t nBias)
{
    const bool bLiteral = (nBits & 1) != 0;
    const uint32_t nField = PositionField(nBits);
    const uint32_t nDistance = ((WindowPosAt(pOut, nBias) - nField - 1) & kPosMask) + 1; // 1 to 4096
    if (!bLiteral && (nField == 0 || nDistance < 16))
        return false;
    const uint8_t* pSrc = pOut - (bLiteral ? kLiteralBack : nDistance);
    const uint8_t nFirst = bLiteral ? static_cast<uint8_t>(nField >> 4) : pSrc[0];
    std::memcpy(pOut, pSrc, 16);
    pOut[16] = pSrc[16];
    pOut[0] = nFirst;
    const uint32_t nUsed = bLiteral ? 9 : kMaxToken;
    pOut += bLiteral ? 1 : CopyLength(nBits);
    nBits >>= nUsed;
    nCount -= nUsed;
    return true;
}

// The bulk of DecodeAhead, on its own copies of the decoder's state (kept in registers): while
// eight file bytes and room for a group of tokens are at hand, the bits are topped up once per
// group and each token of it is decoded without further checks. False when it met the end mark.
bool DecodeBulk(uint64_t& rnBits, uint32_t& rnCount, uint8_t*& rpOut, uint8_t* pGroupLimit,
                const uint8_t*& rpIn, const uint8_t* pInEnd, uint32_t nBias)
{
    uint64_t nBits = rnBits;
    uint32_t nCount = rnCount;
    uint8_t* pOut = rpOut;
    const uint8_t* pIn = rpIn;
    bool bEnded = false;
    while (!bEnded && pOut <= pGroupLimit)
    {
        if (nCount < kGroupTokens * kMaxToken)
        {
            if (pInEnd - pIn < 8)
                break;
            pIn += TopUpBits(pIn, nBits, nCount);
        }
        for (uint32_t i = 0; i < kGroupTokens; ++i)
        {
            if (DecodeCommonToken(nBits, nCount, pOut, nBias))
                continue;
            uint32_t nWindowPos = WindowPosAt(pOut, nBias);
            if (!DecodeWholeToken(nBits, nCount, pOut, nWindowPos))
            {
                bEnded = true;
                break;
            }
        }
    }
    rnBits = nBits;
    rnCount = nCount;
    rpOut = pOut;
    rpIn = pIn;
    return !bEnded;
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
            nBits |= static_cast<uint64_t>(m_pCache[m_nCachePos++]) << nCount;
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

    const uint32_t nBias = nWindowPos - WindowPosAt(pOut, 0);
    const uint8_t* pIn = m_pCache + m_nCachePos;
    const uint8_t* const pInEnd = m_pCache + (m_nCachePos < m_nCacheFill ? m_nCacheFill : m_nCachePos);
    const bool bEnded = !DecodeBulk(
        nBits, nCount, pOut, m_aDecBuffer + DEC_BUFFER_SIZE - kGroupTokens * kMaxCopy, pIn, pInEnd, nBias);
    if (bEnded)
    {
        m_bDecStop = true;
        m_bDecCutShort = false;
    }
    m_nCachePos = static_cast<uint32_t>(pIn - m_pCache);
    nWindowPos = WindowPosAt(pOut, nBias);

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
                uint32_t nBit = static_cast<uint32_t>(nBits & 1);
                auto NextBit = [&]()
                {
                    if (nCount > 0)
                    {
                        nBit = static_cast<uint32_t>(nBits & 1);
                        nBits >>= 1;
                        --nCount;
                    }
                    return nBit;
                };
                nBits >>= 1;
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
