// Typed output in a target platform's byte order. A converter turns each value into bytes and hands
// them to an output stream; the converter owns its stream. The virtual slot order of both
// interfaces is fixed: new operations go after the last slot.
#pragma once

#include <cstdint>
#include <cstdio>

// A destination for bytes.
class IZQOutStream
{
public:
    virtual void Release() = 0;                                     // slot 0: destroys the stream
    virtual uint32_t Write(const void* pData, uint32_t nBytes) = 0; // slot 1: 0 success, 1 failure
    virtual uint32_t WriteString(const char* pszStr) = 0;           // slot 2: u16 length, then the bytes
    virtual bool HasError() = 0;                                    // slot 3: a Write or Flush failed
    virtual bool CanSeek() = 0;                                     // slot 4
    virtual uint32_t Seek(uint64_t nPosition) = 0;                  // slot 5: 0 success, 1 failure
    virtual uint64_t Tell() = 0;                                    // slot 6
    virtual ~IZQOutStream() {}                                      // slot 7
    // slot 8: pushes buffered bytes to their destination; 0 success, 1 failure (which HasError
    // reports from then on).
    virtual uint32_t Flush() { return 0; }
};

// A stream over a standard I/O file opened for binary writing; the file is closed on destruction.
// Bytes wait in a window of the stream's own before they reach the file, so that seeking back into
// them (the packed writer patches every property record right after writing it) moves a cursor
// instead of flushing the file. Write errors show when the window is flushed: at a Write that
// fills it, at a Seek outside it, at Flush.
class CFileOutStream : public IZQOutStream
{
public:
    explicit CFileOutStream(FILE* pFile);
    ~CFileOutStream() override;

    void Release() override;
    uint32_t Write(const void* pData, uint32_t nBytes) override;
    uint32_t WriteString(const char* pszStr) override;
    bool HasError() override { return m_bError; }
    bool CanSeek() override { return true; }
    uint32_t Seek(uint64_t nPosition) override;
    uint64_t Tell() override;
    uint32_t Flush() override;

private:
    CFileOutStream(const CFileOutStream&) = delete;
    CFileOutStream& operator=(const CFileOutStream&) = delete;

    // Hands the window to the file and leaves the file at the cursor; false on a write error.
    bool FlushWindow();

    static constexpr uint32_t WINDOW_SIZE = 1u << 16;

    FILE* m_pFile;                // owned
    bool m_bError;                // sticky: set by a failed Write or Flush
    uint8_t* m_pWindow = nullptr; // owned; WINDOW_SIZE bytes once the first byte is written
    uint64_t m_nWindowStart = 0;  // file position of the window's first byte (the file's position)
    uint32_t m_nWindowLen = 0;    // bytes waiting in the window
    uint32_t m_nCursor = 0;       // where the next byte goes, within the window
};

// Opens pszPath for writing ("wb", truncating an existing file). Null when the file cannot be
// opened. The caller ends the stream with Release.
IZQOutStream* OpenFileOutStream(const char* pszPath);

// Float records of the compound writes.
struct ZQOutVector2
{
    float f[2];
};
struct ZQOutVector3
{
    float f[3];
};
struct ZQOutVector4
{
    float f[4];
};
struct ZQOutRotation
{
    float f[4];
};
struct ZQOutVector3Float // a vector and one more float
{
    float f[4];
};
struct ZQOutRigidTransform // position 0-2, rotation 3-6
{
    float f[7];
};
struct ZQOutTransform // position 0-2, rotation 3-6, scale 7
{
    float f[8];
};

// Typed writes in one platform's byte order. The typed writes return the converter for chaining and
// drop the stream's result; only WriteData reports success. Compound writes and WriteString are
// built from the variant writes, so they follow the variant's byte order.
class IZQOutConverter
{
public:
    explicit IZQOutConverter(IZQOutStream* pStream) : m_pStream(pStream) {}

    virtual ~IZQOutConverter() {}                                   // slot 0
    virtual void Release() = 0;                                     // slot 1
    virtual bool CanSeek() = 0;                                     // slot 2
    virtual uint32_t Seek(uint64_t nPosition) = 0;                  // slot 3
    virtual uint64_t Tell() = 0;                                    // slot 4
    virtual bool WriteData(const void* pData, uint32_t nBytes) = 0; // slot 5: bytes as they are

    virtual IZQOutConverter& WriteVector3Float(const ZQOutVector3Float& v);     // slot 6
    virtual IZQOutConverter& WriteTransform(const ZQOutTransform& t);           // slot 7
    virtual IZQOutConverter& WriteRigidTransform(const ZQOutRigidTransform& t); // slot 8
    virtual IZQOutConverter& WriteRotation(const ZQOutRotation& r);             // slot 9
    virtual IZQOutConverter& WriteVector4(const ZQOutVector4& v);               // slot 10
    virtual IZQOutConverter& WriteVector3(const ZQOutVector3& v);               // slot 11
    virtual IZQOutConverter& WriteVector2(const ZQOutVector2& v);               // slot 12

    virtual IZQOutConverter& WriteDouble(double d) = 0;   // slot 13
    virtual IZQOutConverter& WriteFloat(float f) = 0;     // slot 14
    virtual IZQOutConverter& WriteBool(bool b) = 0;       // slot 15
    virtual IZQOutConverter& WriteUint64(uint64_t n) = 0; // slot 16
    virtual IZQOutConverter& WriteInt64(int64_t n) = 0;   // slot 17
    virtual IZQOutConverter& WriteUint32(uint32_t n) = 0; // slot 18
    virtual IZQOutConverter& WriteInt32(int32_t n) = 0;   // slot 19
    virtual IZQOutConverter& WriteUint16(uint16_t n) = 0; // slot 20
    virtual IZQOutConverter& WriteInt16(int16_t n) = 0;   // slot 21
    virtual IZQOutConverter& WriteUint8(uint8_t n) = 0;   // slot 22
    virtual IZQOutConverter& WriteInt8(int8_t n) = 0;     // slot 23

    // slot 24: u16 length (at most 0xFFFF, checked), then the characters without a terminator.
    virtual void WriteString(const char* pszStr);

protected:
    IZQOutStream* m_pStream; // owned: released by each converter's destructor

private:
    IZQOutConverter(const IZQOutConverter&) = delete;
    IZQOutConverter& operator=(const IZQOutConverter&) = delete;
};

// The two converters differ only in byte order: bSwap reverses every multi-byte value. Floats are
// moved as bit patterns, never through arithmetic.
template <bool bSwap>
class TByteOrderOutConverter : public IZQOutConverter
{
public:
    explicit TByteOrderOutConverter(IZQOutStream* pStream) : IZQOutConverter(pStream) {}
    ~TByteOrderOutConverter() override; // releases the stream

    void Release() override;
    bool CanSeek() override;
    uint32_t Seek(uint64_t nPosition) override;
    uint64_t Tell() override;
    bool WriteData(const void* pData, uint32_t nBytes) override;

    IZQOutConverter& WriteDouble(double d) override;
    IZQOutConverter& WriteFloat(float f) override;
    IZQOutConverter& WriteBool(bool b) override;
    IZQOutConverter& WriteUint64(uint64_t n) override;
    IZQOutConverter& WriteInt64(int64_t n) override;
    IZQOutConverter& WriteUint32(uint32_t n) override;
    IZQOutConverter& WriteInt32(int32_t n) override;
    IZQOutConverter& WriteUint16(uint16_t n) override;
    IZQOutConverter& WriteInt16(int16_t n) override;
    IZQOutConverter& WriteUint8(uint8_t n) override;
    IZQOutConverter& WriteInt8(int8_t n) override;

private:
    template <typename T>
    IZQOutConverter& Put(const T& value, bool bReverse);
};

// Host byte order (little-endian): the "PC" platform.
class CNativeOutConverter final : public TByteOrderOutConverter<false>
{
public:
    using TByteOrderOutConverter::TByteOrderOutConverter;
};

// Every multi-byte value with its bytes reversed (big-endian on a little-endian host): the "Xenon"
// platform.
class CByteSwapOutConverter final : public TByteOrderOutConverter<true>
{
public:
    using TByteOrderOutConverter::TByteOrderOutConverter;
};

// The converter for a platform name, "PC" or "Xenon" (any letter case), holding pStream. Null for
// any other name or when allocation fails; the stream then still belongs to the caller. On success
// the converter owns the stream.
IZQOutConverter* CreateOutConverter(const char* pszPlatform, IZQOutStream* pStream);
