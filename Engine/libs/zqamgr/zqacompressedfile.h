// An LZSS-compressed ZQA file, read or written byte by byte: a four-byte zero header, then literal
// and copy tokens over a 4096-byte window (12-bit positions, 4-bit lengths), then an end token.
// Decoding is done here, ahead into a buffer that also serves as the window; encoding by CLZSSWindow.
#pragma once

#include "lzsswindow.h"
#include "zqabitfile.h"

#include <cstdint>

class CZQACompressedFile : public CZQABitFile
{
public:
    CZQACompressedFile();
    ~CZQACompressedFile();

    // Reading fails unless the header bits are all 0; a file shorter than the header whose bits
    // are 0 opens as empty data.
    bool Open(const char* pszPath, OpenMode eMode, uint32_t nCacheSize, bool bAppend);
    // Reads compressed bytes that the caller keeps in memory until Close.
    bool OpenMemory(const uint8_t* pData, size_t nSize, uint32_t nCacheSize);
    // Writing: completes the stream (the pending data and the end token) before closing.
    bool Close();

    // False at an end token and at the end of the file. There is no ended state: a read after an
    // end token goes on with the bits that follow it.
    bool ReadByte(uint8_t& nByte)
    {
        if (m_nOutPos < m_nOutEnd)
        {
            nByte = m_aDecBuffer[m_nOutPos++];
            return true;
        }
        return ReadByteSlow(nByte);
    }

    bool WriteByte(uint8_t nByte)
    {
        if (GetMode() == OPEN_WRITE)
            return m_Encoder.AddByte(nByte, *this);
        return WriteByteSlow(nByte);
    }

    // Whether decoding last stopped because the file ended before a complete end token: with no
    // end token at all, inside a literal or copy token, or with more of the end token missing than
    // the writer leaves out (the 7 bits of a partly filled last byte). Such a stream is read to its
    // end all the same; this only tells that the file was cut short.
    bool IsCutShort() const { return m_bDecCutShort; }

    // The bytes already decoded and not yet read, decoding more when there are none; nAvailable 0
    // means the next ReadByte answers false (or the file is not open for reading).
    const uint8_t* PeekBuffered(uint32_t& nAvailable);
    void SkipBuffered(uint32_t nCount);

private:
    // Reads the 32 zero bits that begin the data; closes the file when they are not there.
    bool ReadHeader();
    static constexpr uint32_t DEC_HISTORY = CLZSSWindow::WINDOW_SIZE;
    static constexpr uint32_t DEC_CHUNK = 32768;
    static constexpr uint32_t DEC_BUFFER_SIZE = DEC_HISTORY + DEC_CHUNK;

    bool ReadByteSlow(uint8_t& nByte);
    bool WriteByteSlow(uint8_t nByte);
    void ResetDecoder();
    void DecodeAhead();
    void RefillBits(uint64_t& nBits, uint32_t& nCount);

    CLZSSWindow m_Encoder;

    // The window is the 4096 bytes before the next output byte in m_aDecBuffer; it starts zeroed.
    // Decoded bytes not yet read lie between m_nOutPos and m_nOutEnd.
    uint8_t m_aDecBuffer[DEC_BUFFER_SIZE];
    uint32_t m_nDecWindowPos; // window position of the next output byte
    uint32_t m_nOutPos;
    uint32_t m_nOutEnd;
    uint64_t m_nBitBuffer; // unread bits in file order, the next one in the least significant place
    uint32_t m_nBitCount;
    bool m_bDecStop;     // decoding stopped at an end token or at the end of the file: one read answers false
    bool m_bDecCutShort; // the last stop was at the end of a file cut short (see IsCutShort)
};
