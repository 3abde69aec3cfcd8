// A ZQA file read or written either plainly or LZSS-compressed, as the caller says when opening
// it. Appending to a compressed file goes through a temporary plain copy that Close compresses
// back over the file it was made from.
#pragma once

#include "zqacompressedfile.h"
#include "zqafilebuffer.h"

#include <cstdint>
#include <string>

class CZQAFile
{
public:
    CZQAFile();
    CZQAFile(const char* pszPath, bool bRead, bool bCompressed, bool bAppend);
    ~CZQAFile();
    CZQAFile(const CZQAFile&) = delete;
    CZQAFile& operator=(const CZQAFile&) = delete;

    bool Open(const char* pszPath, bool bRead, bool bCompressed, bool bAppend);
    // Reads the bytes of a file that the caller holds in memory (and keeps until Close).
    bool OpenMemory(const uint8_t* pData, size_t nSize, bool bCompressed);
    bool Close();
    bool IsOpen() const;

    bool ReadByte(uint8_t& nByte)
    {
        return m_bCompressed ? m_CompressedFile.ReadByte(nByte) : m_PlainFile.ReadByte(nByte);
    }
    bool WriteByte(uint8_t nByte)
    {
        return m_bCompressed ? m_CompressedFile.WriteByte(nByte) : m_PlainFile.WriteByte(nByte);
    }

    // Compressed data whose file ends before its end token (see CZQACompressedFile::IsCutShort).
    bool IsCutShort() const { return m_bCompressed && m_CompressedFile.IsCutShort(); }

    // Fast path for readers: the bytes already available in memory (cached plain bytes, or bytes
    // already decoded), without consuming them; nAvailable 0 means call ReadByte.
    const uint8_t* PeekBuffered(uint32_t& nAvailable);
    void SkipBuffered(uint32_t nCount);

protected:
    static constexpr uint32_t CACHE_SIZE = 1024;
    // Reads take larger bites: a load's cost is then the text's, not the calls'.
    static constexpr uint32_t READ_CACHE_SIZE = 64 * 1024;
    static constexpr uint32_t MAX_PATH_CHARS = 260;

    bool DecompressToTemp(const char* pszPath);
    bool RecompressTemp();

    bool m_bCompressed; // the compressed file is the one in use
    CZQACompressedFile m_CompressedFile;
    CZQAFileBuffer m_PlainFile;
    bool m_bUsingTempFile; // a temporary plain copy must be compressed back at Close
    char m_szTempFileName[MAX_PATH_CHARS];
    // The compressed file the temporary copy stands for, whole: a cut name would read and rewrite
    // another file.
    std::string m_sTargetFileName;
};
