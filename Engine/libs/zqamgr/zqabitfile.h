// Single-bit reads and writes on top of the byte file. Bits fill each byte from its least
// significant bit to its most significant; a partly filled last byte is never written.
#pragma once

#include "zqafilebuffer.h"

#include <cstdint>

class CZQABitFile : public CZQAFileBuffer
{
public:
    CZQABitFile();

    bool Open(const char* pszPath, OpenMode eMode, uint32_t nCacheSize, bool bAppend);
    bool OpenMemory(const uint8_t* pData, size_t nSize, uint32_t nCacheSize);

    // False at the end of the file; bBit is then left as it was.
    bool GetBit(bool& bBit);
    bool SetBit(bool bBit);

    // The nCount (at most 24) low bits of nValue, most significant first: exactly what nCount
    // SetBit calls would write, in bulk. False when any of those calls would have failed.
    bool SetBits(uint32_t nValue, uint32_t nCount);

protected:
    uint8_t m_nCurrByte;
    uint8_t m_nCurrMask; // a single set bit, or 0 when the next GetBit fetches a byte
};
