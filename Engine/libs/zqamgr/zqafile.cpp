#include "zqafile.h"

#include "zqplatform.h"
#include "zqstrutils.h"

#include <cstdio>
#include <memory>
#include <new>

CZQAFile::CZQAFile() : m_bCompressed(false), m_bUsingTempFile(false)
{
    m_szTempFileName[0] = '\0';
}

CZQAFile::CZQAFile(const char* pszPath, bool bRead, bool bCompressed, bool bAppend) : CZQAFile()
{
    Open(pszPath, bRead, bCompressed, bAppend);
}

CZQAFile::~CZQAFile()
{
    Close();
}

bool CZQAFile::Open(const char* pszPath, bool bRead, bool bCompressed, bool bAppend)
{
    m_bCompressed = bCompressed;
    m_bUsingTempFile = false;
    const CZQAFileBuffer::OpenMode eMode = bRead ? CZQAFileBuffer::OPEN_READ : CZQAFileBuffer::OPEN_WRITE;
    const uint32_t nCacheSize = bRead ? READ_CACHE_SIZE : CACHE_SIZE;
    if (m_bCompressed)
    {
        if (!bAppend)
            return m_CompressedFile.Open(pszPath, eMode, nCacheSize, false);
        // The compressed format cannot grow in place: append to a plain copy instead.
        if (!DecompressToTemp(pszPath))
            return false;
        m_bCompressed = false;
        pszPath = m_szTempFileName;
    }
    return m_PlainFile.Open(pszPath, eMode, nCacheSize, bAppend);
}

bool CZQAFile::OpenMemory(const uint8_t* pData, size_t nSize, bool bCompressed)
{
    Close();
    m_bCompressed = bCompressed;
    m_bUsingTempFile = false;
    return bCompressed ? m_CompressedFile.OpenMemory(pData, nSize, READ_CACHE_SIZE)
                       : m_PlainFile.OpenMemory(pData, nSize, READ_CACHE_SIZE);
}

bool CZQAFile::Close()
{
    if (m_bUsingTempFile)
        return RecompressTemp();
    return m_bCompressed ? m_CompressedFile.Close() : m_PlainFile.Close();
}

bool CZQAFile::IsOpen() const
{
    return m_bCompressed ? m_CompressedFile.IsOpen() : m_PlainFile.IsOpen();
}

const uint8_t* CZQAFile::PeekBuffered(uint32_t& nAvailable)
{
    return m_bCompressed ? m_CompressedFile.PeekBuffered(nAvailable) : m_PlainFile.PeekBuffered(nAvailable);
}

void CZQAFile::SkipBuffered(uint32_t nCount)
{
    if (m_bCompressed)
        m_CompressedFile.SkipBuffered(nCount);
    else
        m_PlainFile.SkipBuffered(nCount);
}

bool CZQAFile::DecompressToTemp(const char* pszPath)
{
    bool bResult = true;
    char szTempName[MAX_PATH_CHARS];
    if (!PlatformTempName("c:\\temp", "zqa", szTempName, sizeof(szTempName)))
        return false;
    if (!pszPath)
        return false;
    try
    {
        m_sTargetFileName = pszPath;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    ZQStrCpy(m_szTempFileName, szTempName, MAX_PATH_CHARS);

    // Two more files of this kind are too large for a small stack.
    std::unique_ptr<CZQAFile> pSource(new (std::nothrow) CZQAFile);
    std::unique_ptr<CZQAFile> pDest(new (std::nothrow) CZQAFile);
    if (!pSource || !pDest)
        return false;
    // A target that cannot be read (one that does not exist yet) counts as empty.
    pSource->Open(m_sTargetFileName.c_str(), true, true, false);
    const bool bDestOpen = pDest->Open(m_szTempFileName, false, false, false);
    if (!bDestOpen)
        bResult = false;
    uint8_t nByte;
    while (bDestOpen && pSource->IsOpen() && pSource->ReadByte(nByte))
    {
        if (!pDest->WriteByte(nByte))
            bResult = false;
    }
    if (!pDest->Close())
        bResult = false;
    pSource->Close();
    m_bUsingTempFile = bResult;
    if (!bResult)
    {
        std::remove(m_szTempFileName); // a broken copy is of no use to anyone
        m_szTempFileName[0] = '\0';
        m_sTargetFileName.clear();
    }
    return bResult;
}

bool CZQAFile::RecompressTemp()
{
    bool bResult = m_PlainFile.Close();
    if (m_sTargetFileName.empty() || m_szTempFileName[0] == '\0')
        return false;

    std::unique_ptr<CZQAFile> pSource(new (std::nothrow) CZQAFile);
    std::unique_ptr<CZQAFile> pDest(new (std::nothrow) CZQAFile);
    if (!pSource || !pDest)
        return false;
    if (!pSource->Open(m_szTempFileName, true, false, false))
        return false;
    // Left in place on failure: the temporary copy, and the target with its old contents.
    pDest->Open(m_sTargetFileName.c_str(), false, true, false);
    if (!pDest->IsOpen())
    {
        pSource->Close();
        return false;
    }
    uint8_t nByte;
    while (pSource->ReadByte(nByte))
    {
        if (!pDest->WriteByte(nByte))
            bResult = false;
    }
    if (!pDest->Close())
        bResult = false;
    pSource->Close();
    std::remove(m_szTempFileName);
    m_szTempFileName[0] = '\0';
    m_sTargetFileName.clear();
    return bResult;
}
