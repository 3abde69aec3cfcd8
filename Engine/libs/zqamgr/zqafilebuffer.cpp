#include "zqafilebuffer.h"

#include "zqstrutils.h"

#include <cstring>
#include <new>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqafilebuffer"

CZQAFileBuffer::CZQAFileBuffer()
    : m_pCache(nullptr), m_nCacheSize(0), m_nCacheFill(0), m_nCachePos(0), m_eMode(OPEN_NONE),
      m_pFile(nullptr)
{
}

CZQAFileBuffer::~CZQAFileBuffer()
{
    Close();
}

bool CZQAFileBuffer::Open(const char* pszPath, OpenMode eMode, uint32_t nCacheSize, bool bAppend)
{
    Close();
    if (eMode != OPEN_READ && eMode != OPEN_WRITE)
    {
        ZQ_CHECK(false, "CZQAFileBuffer::Open", "Error: Invalid open mode");
        return false;
    }
    if (eMode == OPEN_READ && bAppend)
    {
        ZQ_CHECK(false, "CZQAFileBuffer::Open", "Error: Cannot append to a file opened for reading");
        return false;
    }
    if (!ZQ_CHECK(pszPath, "CZQAFileBuffer::Open", "Error: Invalid file name"))
        return false;

    const char* pszStreamMode = eMode == OPEN_READ ? "rb" : (bAppend ? "ab+" : "wb");
    m_pFile = std::fopen(pszPath, pszStreamMode);
    if (!m_pFile)
        return false;

    if (!AllocateCache(nCacheSize))
    {
        ZQ_CHECK(false, "CZQAFileBuffer::Open", "Error: Unable to allocate the file cache");
        std::fclose(m_pFile);
        m_pFile = nullptr;
        return false;
    }
    m_nCacheFill = 0;
    m_nCachePos = 0;
    m_eMode = eMode;
    if (eMode == OPEN_READ)
        FillCache(); // an empty file opens as well
    return true;
}

bool CZQAFileBuffer::OpenMemory(const uint8_t* pData, size_t nSize, uint32_t nCacheSize)
{
    Close();
    if (!ZQ_CHECK(pData || nSize == 0, "CZQAFileBuffer::OpenMemory", "Error: Invalid memory"))
        return false;
    if (!AllocateCache(nCacheSize))
        return false;
    m_pMemory = pData;
    m_nMemorySize = nSize;
    m_nMemoryPos = 0;
    m_eMode = OPEN_READ;
    FillCache();
    return true;
}

bool CZQAFileBuffer::Close()
{
    m_pMemory = nullptr;
    m_nMemorySize = m_nMemoryPos = 0;
    if (m_eMode == OPEN_WRITE)
        FlushCache();
    FreeCache();

    bool bResult = true;
    if (m_pFile)
    {
        // Push the stream's own buffer out first, so that a failing write sets the error
        // indicator before it is examined.
        if (m_eMode == OPEN_WRITE)
            std::fflush(m_pFile);
        bResult = std::ferror(m_pFile) == 0;
        if (std::fclose(m_pFile) != 0)
            bResult = false;
        m_pFile = nullptr;
    }
    m_eMode = OPEN_NONE;
    return bResult;
}

bool CZQAFileBuffer::ReadByteSlow(uint8_t& nByte)
{
    ZQ_CHECK(m_eMode == OPEN_READ, "CZQAFileBuffer::ReadByte", "Error: File is not open for reading");
    if (m_nCachePos >= m_nCacheFill && !FillCache())
        return false;
    nByte = m_pCache[m_nCachePos++];
    return true;
}

bool CZQAFileBuffer::WriteByteSlow(uint8_t nByte)
{
    ZQ_CHECK(m_eMode == OPEN_WRITE, "CZQAFileBuffer::WriteByte", "Error: File is not open for writing");
    if (m_nCachePos >= m_nCacheSize && !FlushCache())
        return false;
    if (!m_pCache)
        return false;
    m_pCache[m_nCachePos++] = nByte;
    return true;
}

const uint8_t* CZQAFileBuffer::PeekBuffered(uint32_t& nAvailable)
{
    nAvailable = 0;
    if (m_eMode != OPEN_READ)
        return nullptr;
    if (m_nCachePos >= m_nCacheFill && !FillCache())
        return nullptr;
    nAvailable = m_nCacheFill - m_nCachePos;
    return m_pCache + m_nCachePos;
}

void CZQAFileBuffer::SkipBuffered(uint32_t nCount)
{
    const uint32_t nLeft = m_nCachePos < m_nCacheFill ? m_nCacheFill - m_nCachePos : 0;
    if (!ZQ_CHECK(nCount <= nLeft, "CZQAFileBuffer::SkipBuffered", "Error: Skipping more than is buffered"))
        nCount = nLeft;
    m_nCachePos += nCount;
}

bool CZQAFileBuffer::FillCache()
{
    ZQ_CHECK(m_eMode == OPEN_READ, "CZQAFileBuffer::FillCache", "Error: File is not open for reading");
    m_nCachePos = 0;
    m_nCacheFill = 0;
    if (m_pMemory && m_pCache)
    {
        const size_t nLeft = m_nMemorySize - m_nMemoryPos;
        m_nCacheFill = static_cast<uint32_t>(nLeft < m_nCacheSize ? nLeft : m_nCacheSize);
        std::memcpy(m_pCache, m_pMemory + m_nMemoryPos, m_nCacheFill);
        m_nMemoryPos += m_nCacheFill;
        return m_nCacheFill > 0;
    }
    if (!m_pFile || !m_pCache)
        return false;
    m_nCacheFill = static_cast<uint32_t>(std::fread(m_pCache, 1, m_nCacheSize, m_pFile));
    return m_nCacheFill > 0;
}

bool CZQAFileBuffer::FlushCache()
{
    ZQ_CHECK(m_eMode == OPEN_WRITE, "CZQAFileBuffer::FlushCache", "Error: File is not open for writing");
    const uint32_t nPending = m_nCachePos;
    m_nCachePos = 0;
    if (!m_pFile || !m_pCache)
        return false;
    return std::fwrite(m_pCache, 1, nPending, m_pFile) == nPending;
}

bool CZQAFileBuffer::AllocateCache(uint32_t nSize)
{
    FreeCache();
    // A cache that cannot hold one byte is no cache.
    m_pCache = nSize ? new (std::nothrow) uint8_t[nSize] : nullptr;
    if (!m_pCache)
    {
        ZQ_CHECK(false, "CZQAFileBuffer::AllocateCache", "Error: Unable to allocate the file cache");
        return false;
    }
    m_nCacheSize = nSize;
    m_nCacheFill = 0;
    m_nCachePos = 0;
    return true;
}

void CZQAFileBuffer::FreeCache()
{
    delete[] m_pCache;
    m_pCache = nullptr;
    m_nCacheSize = 0;
    m_nCacheFill = 0;
    m_nCachePos = 0;
}
