// The library's byte file: a standard I/O stream read or written one byte at a time through a cache
// of its own. The cache exists exactly while a file is open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class CZQAFileBuffer
{
public:
    enum OpenMode : uint32_t
    {
        OPEN_READ = 0,
        OPEN_WRITE = 1,
        OPEN_NONE = 2, // not open
    };

    CZQAFileBuffer();
    ~CZQAFileBuffer();
    CZQAFileBuffer(const CZQAFileBuffer&) = delete;
    CZQAFileBuffer& operator=(const CZQAFileBuffer&) = delete;

    // Appending is a write mode: reading with bAppend fails.
    bool Open(const char* pszPath, OpenMode eMode, uint32_t nCacheSize, bool bAppend);
    // Reads nSize bytes that the caller keeps in memory until Close, through the same cache as a
    // file; for text that is not (or not yet) on disk.
    bool OpenMemory(const uint8_t* pData, size_t nSize, uint32_t nCacheSize);
    // False when the stream's error indicator is set: write errors show here at the latest.
    bool Close();

    // False at the end of the file or on a read error (not told apart).
    bool ReadByte(uint8_t& nByte)
    {
        if (m_nCachePos < m_nCacheFill)
        {
            nByte = m_pCache[m_nCachePos++];
            return true;
        }
        return ReadByteSlow(nByte);
    }

    bool WriteByte(uint8_t nByte)
    {
        if (m_eMode == OPEN_WRITE && m_nCachePos < m_nCacheSize)
        {
            m_pCache[m_nCachePos++] = nByte;
            return true;
        }
        return WriteByteSlow(nByte);
    }

    // Reading: the cached bytes not yet handed out, filling the cache first when it is used up;
    // nAvailable 0 at the end of the file or when not reading. SkipBuffered consumes bytes of that span.
    const uint8_t* PeekBuffered(uint32_t& nAvailable);
    void SkipBuffered(uint32_t nCount);

    bool FillCache();
    bool FlushCache();
    bool AllocateCache(uint32_t nSize);
    void FreeCache();

    OpenMode GetMode() const { return m_eMode; }
    bool IsOpen() const { return m_eMode != OPEN_NONE; }

protected:
    bool ReadByteSlow(uint8_t& nByte);
    bool WriteByteSlow(uint8_t nByte);

    uint8_t* m_pCache;
    uint32_t m_nCacheSize;
    uint32_t m_nCacheFill; // reading: bytes valid in the cache
    uint32_t m_nCachePos;  // reading: next byte to hand out; writing: bytes waiting in the cache
    OpenMode m_eMode;
    FILE* m_pFile;
    // The bytes read instead of a file, and how many of them the cache has taken.
    const uint8_t* m_pMemory = nullptr;
    size_t m_nMemorySize = 0;
    size_t m_nMemoryPos = 0;
};
