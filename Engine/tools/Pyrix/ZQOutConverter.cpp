#include "izqoutconverter.h"

#include "zqstrutils.h"

#include <algorithm>
#include <cstring>
#include <new>

#define ZQ_THIS_FILE "sdk/inc/izqoutconverter"

namespace
{
// The line the string length check names in its assertion, a fixed part of the report.
const int kWriteStringCheckLine = 132;
} // namespace

// ---------------------------------------------------------------------------------------------
// CFileOutStream

CFileOutStream::CFileOutStream(FILE* pFile) : m_pFile(pFile), m_bError(false)
{
    const long nPosition = pFile ? std::ftell(pFile) : 0;
    m_nWindowStart = nPosition > 0 ? static_cast<uint64_t>(nPosition) : 0;
}

CFileOutStream::~CFileOutStream()
{
    if (m_pFile)
    {
        FlushWindow();
        std::fclose(m_pFile);
    }
    m_pFile = nullptr;
    delete[] m_pWindow;
}

bool CFileOutStream::FlushWindow()
{
    bool bOk = m_nWindowLen == 0 || std::fwrite(m_pWindow, 1, m_nWindowLen, m_pFile) == m_nWindowLen;
    if (bOk && m_nCursor != m_nWindowLen)
        bOk = std::fseek(m_pFile, static_cast<long>(m_nWindowStart + m_nCursor), SEEK_SET) == 0;
    m_nWindowStart += m_nCursor;
    m_nWindowLen = 0;
    m_nCursor = 0;
    if (!bOk)
        m_bError = true;
    return bOk;
}

void CFileOutStream::Release()
{
    delete this;
}

uint32_t CFileOutStream::Write(const void* pData, uint32_t nBytes)
{
    if (!m_pFile)
        return 1;
    if (nBytes == 0)
        return 0;
    if (!m_pWindow)
        m_pWindow = new (std::nothrow) uint8_t[WINDOW_SIZE];
    if (!m_pWindow || nBytes > WINDOW_SIZE - m_nCursor)
    {
        if (!FlushWindow())
            return 1;
        if (!m_pWindow || nBytes > WINDOW_SIZE)
        {
            const bool bOk = std::fwrite(pData, 1, nBytes, m_pFile) == nBytes;
            m_nWindowStart += nBytes;
            m_bError = m_bError || !bOk;
            return bOk ? 0 : 1;
        }
    }
    std::memcpy(m_pWindow + m_nCursor, pData, nBytes);
    m_nCursor += nBytes;
    if (m_nCursor > m_nWindowLen)
        m_nWindowLen = m_nCursor;
    return 0;
}

uint32_t CFileOutStream::WriteString(const char* pszStr)
{
    if (!pszStr)
    {
        const uint16_t nZero = 0;
        Write(&nZero, sizeof(nZero));
        return 0;
    }
    const size_t nLength = std::strlen(pszStr);
    const uint16_t nLength16 = static_cast<uint16_t>(nLength);
    Write(&nLength16, sizeof(nLength16));
    return Write(pszStr, nLength16);
}

uint32_t CFileOutStream::Seek(uint64_t nPosition)
{
    if (!m_pFile)
        return 1;
    // Narrowed to a 32-bit long: positions of 2^31 and above are outside this stream's range.
    const long nOffset = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(nPosition)));
    if (nOffset >= 0 && static_cast<uint64_t>(nOffset) >= m_nWindowStart &&
        static_cast<uint64_t>(nOffset) <= m_nWindowStart + m_nWindowLen)
    {
        m_nCursor = static_cast<uint32_t>(static_cast<uint64_t>(nOffset) - m_nWindowStart);
        return 0;
    }
    if (!FlushWindow())
        return 1;
    if (std::fseek(m_pFile, nOffset, SEEK_SET) != 0)
        return 1;
    m_nWindowStart = static_cast<uint64_t>(nOffset);
    return 0;
}

uint64_t CFileOutStream::Tell()
{
    if (!m_pFile)
        return 0;
    return m_nWindowStart + m_nCursor;
}

uint32_t CFileOutStream::Flush()
{
    if (!m_pFile)
        return 1;
    if (FlushWindow() && std::fflush(m_pFile) == 0)
        return 0;
    m_bError = true;
    return 1;
}

IZQOutStream* OpenFileOutStream(const char* pszPath)
{
    if (!pszPath)
        return nullptr;
    FILE* pFile = std::fopen(pszPath, "wb");
    if (!pFile)
        return nullptr;
    CFileOutStream* pStream = new (std::nothrow) CFileOutStream(pFile);
    if (!pStream)
    {
        std::fclose(pFile);
        return nullptr;
    }
    return pStream;
}

// ---------------------------------------------------------------------------------------------
// IZQOutConverter: the compound writes, built from the variant writes

IZQOutConverter& IZQOutConverter::WriteVector3Float(const ZQOutVector3Float& v)
{
    const ZQOutVector3 xyz = {{v.f[0], v.f[1], v.f[2]}};
    WriteVector3(xyz);
    return WriteFloat(v.f[3]);
}

IZQOutConverter& IZQOutConverter::WriteTransform(const ZQOutTransform& t)
{
    const ZQOutVector3 pos = {{t.f[0], t.f[1], t.f[2]}};
    const ZQOutRotation rot = {{t.f[3], t.f[4], t.f[5], t.f[6]}};
    WriteVector3(pos);
    WriteRotation(rot);
    return WriteFloat(t.f[7]);
}

IZQOutConverter& IZQOutConverter::WriteRigidTransform(const ZQOutRigidTransform& t)
{
    const ZQOutVector3 pos = {{t.f[0], t.f[1], t.f[2]}};
    const ZQOutRotation rot = {{t.f[3], t.f[4], t.f[5], t.f[6]}};
    WriteVector3(pos);
    return WriteRotation(rot);
}

IZQOutConverter& IZQOutConverter::WriteRotation(const ZQOutRotation& r)
{
    for (float f : r.f)
        WriteFloat(f);
    return *this;
}

IZQOutConverter& IZQOutConverter::WriteVector4(const ZQOutVector4& v)
{
    for (float f : v.f)
        WriteFloat(f);
    return *this;
}

IZQOutConverter& IZQOutConverter::WriteVector3(const ZQOutVector3& v)
{
    for (float f : v.f)
        WriteFloat(f);
    return *this;
}

IZQOutConverter& IZQOutConverter::WriteVector2(const ZQOutVector2& v)
{
    for (float f : v.f)
        WriteFloat(f);
    return *this;
}

void IZQOutConverter::WriteString(const char* pszStr)
{
    size_t nStrLen = ZQStrLen(pszStr);
    // An over-long string is written cut to the first 0xFFFF characters, so the record stays
    // readable.
    if (!ZQCheckSite(nStrLen <= 0xFFFF, "nStrLen <= 0xFFFF", ZQ_THIS_FILE, kWriteStringCheckLine,
                     "IZQOutConverter::WriteString", "Error: Overflow in writing out a string",
                     ZQ_SITE_FLAG()))
        nStrLen = 0xFFFF;
    WriteUint16(static_cast<uint16_t>(nStrLen));
    for (size_t i = 0; i < nStrLen; ++i)
        WriteInt8(static_cast<int8_t>(pszStr[i]));
}

// ---------------------------------------------------------------------------------------------
// The two variants: everything but the byte order is shared.

template <bool bSwap>
TByteOrderOutConverter<bSwap>::~TByteOrderOutConverter()
{
    if (m_pStream)
        m_pStream->Release();
    m_pStream = nullptr;
}

template <bool bSwap>
void TByteOrderOutConverter<bSwap>::Release()
{
    delete this;
}

template <bool bSwap>
bool TByteOrderOutConverter<bSwap>::CanSeek()
{
    return m_pStream && m_pStream->CanSeek();
}

template <bool bSwap>
uint32_t TByteOrderOutConverter<bSwap>::Seek(uint64_t nPosition)
{
    return m_pStream ? m_pStream->Seek(nPosition) : 1;
}

template <bool bSwap>
uint64_t TByteOrderOutConverter<bSwap>::Tell()
{
    return m_pStream ? m_pStream->Tell() : 0;
}

template <bool bSwap>
bool TByteOrderOutConverter<bSwap>::WriteData(const void* pData, uint32_t nBytes)
{
    return m_pStream && m_pStream->Write(pData, nBytes) == 0;
}

// One stream Write of the value's bytes as they lie in memory, reversed when asked.
template <bool bSwap>
template <typename T>
IZQOutConverter& TByteOrderOutConverter<bSwap>::Put(const T& value, bool bReverse)
{
    unsigned char aBytes[sizeof(T)];
    std::memcpy(aBytes, &value, sizeof(T));
    if (bReverse)
        std::reverse(aBytes, aBytes + sizeof(T));
    if (m_pStream)
        m_pStream->Write(aBytes, static_cast<uint32_t>(sizeof(T)));
    return *this;
}

// clang-format off
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteDouble(double d) { return Put(d, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteFloat(float f) { return Put(f, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteBool(bool b) { return Put(uint8_t(b ? 1 : 0), false); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteUint64(uint64_t n) { return Put(n, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteInt64(int64_t n) { return Put(n, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteUint32(uint32_t n) { return Put(n, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteInt32(int32_t n) { return Put(n, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteUint16(uint16_t n) { return Put(n, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteInt16(int16_t n) { return Put(n, bSwap); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteUint8(uint8_t n) { return Put(n, false); }
template <bool bSwap> IZQOutConverter& TByteOrderOutConverter<bSwap>::WriteInt8(int8_t n) { return Put(n, false); }
// clang-format on

template class TByteOrderOutConverter<false>;
template class TByteOrderOutConverter<true>;

IZQOutConverter* CreateOutConverter(const char* pszPlatform, IZQOutStream* pStream)
{
    if (!pszPlatform)
        return nullptr;
    if (ZQStrICmp(pszPlatform, "PC") == 0)
        return new (std::nothrow) CNativeOutConverter(pStream);
    if (ZQStrICmp(pszPlatform, "Xenon") == 0)
        return new (std::nothrow) CByteSwapOutConverter(pStream);
    return nullptr;
}
