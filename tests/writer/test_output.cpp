#include "PackedStringTable.h"
#include "izqoutconverter.h"
#include "test_support.h"

#include <algorithm>
#include <cstring>

namespace
{
// The bytes that pfnWrite makes through the platform's converter over a fresh file.
template <typename F>
Bytes Converted(const char* pszPlatform, F pfnWrite)
{
    const std::string path = TempPath(std::string("out.") + pszPlatform);
    IZQOutConverter* pConverter = CreateOutConverter(pszPlatform, OpenFileOutStream(path.c_str()));
    EXPECT_NE(pConverter, nullptr);
    if (!pConverter)
        return Bytes();
    pfnWrite(*pConverter);
    pConverter->Release(); // releases the stream, which closes the file
    return ReadBytes(path);
}
} // namespace

TEST(OutConverter, ByteOrderOfEachVariant)
{
    auto writeAll = [](IZQOutConverter& c)
    {
        c.WriteUint32(1).WriteFloat(1.0f).WriteUint16(0x1234).WriteInt8(-1).WriteBool(true).WriteInt64(-2);
        c.WriteString("abc");
        c.WriteString(nullptr);
        c.WriteString("");
        c.WriteVector2({{1.0f, 2.0f}});
    };
    // 1, 1.0, 0x1234, -1, true, -2, "abc", null, "", then the vector (1.0, 2.0).
    EXPECT_EQ(Converted("PC", writeAll),
              (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x34, 0x12, 0xFF, 0x01, 0xFE,
                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x61, 0x62, 0x63, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40}));
    EXPECT_EQ(Converted("xenon", writeAll),
              (Bytes{0x00, 0x00, 0x00, 0x01, 0x3F, 0x80, 0x00, 0x00, 0x12, 0x34, 0xFF, 0x01, 0xFF,
                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x03, 0x61, 0x62, 0x63, 0x00,
                     0x00, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00}));

    // Reversed, the first three read as a signalling, a quiet and a negative NaN; the last is a
    // signalling NaN itself. Every byte moves untouched.
    for (uint64_t nBits :
         {0x010000000000F07Full, 0x000000000000F87Full, 0x0000000000F8FFFFull, 0x7FF0000000000001ull})
    {
        double d;
        std::memcpy(&d, &nBits, sizeof(d));
        Bytes expected;
        for (int i = 7; i >= 0; --i)
            expected.push_back(static_cast<uint8_t>(nBits >> (8 * i)));
        EXPECT_EQ(Converted("Xenon", [&](IZQOutConverter& c) { c.WriteDouble(d); }), expected);
    }
}

TEST(OutConverter, OverlongStringIsReportedAndCut)
{
    CRecordingTripwire tripwire;
    const std::string text(0x10000, 'x');
    const Bytes bytes = Converted("PC", [&](IZQOutConverter& c) { c.WriteString(text.c_str()); });
    EXPECT_EQ(tripwire.Take(&Report::Full),
              Texts{"nStrLen <= 0xFFFF|sdk/inc/izqoutconverter|132|"
                    "IZQOutConverter::WriteString|Error: Overflow in writing out a string"});
    ASSERT_EQ(bytes.size(), 2u + 0xFFFF);
    EXPECT_EQ(bytes[0] + bytes[1], 0xFF + 0xFF);
}

TEST(FileOutStream, WriteSeekTellStringsAndRefusedConverters)
{
    const std::string path = TempPath("stream.out");
    EXPECT_EQ(OpenFileOutStream((path + ".missing/x").c_str()), nullptr);
    IZQOutStream* pStream = OpenFileOutStream(path.c_str());
    ASSERT_NE(pStream, nullptr);
    // An unknown platform gives no converter and leaves the stream to the caller.
    EXPECT_EQ(CreateOutConverter("", pStream), nullptr);
    EXPECT_EQ(CreateOutConverter("PS3", pStream), nullptr);
    EXPECT_EQ(pStream->Write("abcdef", 0), 0u);
    EXPECT_EQ(pStream->Tell(), 0u);
    EXPECT_EQ(pStream->Write("abcdef", 6), 0u);
    EXPECT_EQ(pStream->Tell(), 6u);
    EXPECT_EQ(pStream->Seek(0), 0u);
    EXPECT_EQ(pStream->Write("XY", 2), 0u);
    EXPECT_EQ(pStream->Seek(6), 0u);
    EXPECT_EQ(pStream->WriteString("hi"), 0u);
    EXPECT_EQ(pStream->WriteString(nullptr), 0u);
    EXPECT_FALSE(pStream->HasError());
    pStream->Release();
    EXPECT_EQ(ReadBytes(path), (Bytes{'X', 'Y', 'c', 'd', 'e', 'f', 2, 0, 'h', 'i', 0, 0}));
}

// The stream buffers writes in a window of 64 KiB. Random writes and seeks over several windows,
// some writes larger than the window, must leave the same bytes and positions as a plain array.
TEST(FileOutStream, RandomWritesAndSeeksMatchAPlainArray)
{
    const std::string path = TempPath("random.out");
    IZQOutStream* pStream = OpenFileOutStream(path.c_str());
    ASSERT_NE(pStream, nullptr);
    std::mt19937 random(20261206);
    auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::string reference;
    size_t nPos = 0;
    for (int nStep = 0; nStep < 3000; ++nStep)
    {
        const size_t nKind = below(100);
        if (nKind < 30)
        {
            // Back by up to a little more than the window (mostly into it), or anywhere in the
            // file, now and then a little past its end.
            if (nKind < 15)
                nPos -= std::min(nPos, below(80000));
            else
                nPos = below(reference.size() + 1 + (nKind < 18 ? 100 : 0));
            ASSERT_EQ(pStream->Seek(nPos), 0u) << nStep;
        }
        else if (nKind < 32)
        {
            ASSERT_EQ(pStream->Flush(), 0u) << nStep;
        }
        else
        {
            const size_t nLength = nKind < 34   ? 65536 + below(70000)
                                   : nKind < 50 ? 1 + below(20000)
                                                : 1 + below(16);
            std::string data(nLength, '\0');
            for (char& c : data)
                c = static_cast<char>(random());
            ASSERT_EQ(pStream->Write(data.data(), static_cast<uint32_t>(nLength)), 0u) << nStep;
            if (reference.size() < nPos + nLength)
                reference.resize(nPos + nLength, '\0');
            reference.replace(nPos, nLength, data);
            nPos += nLength;
        }
        ASSERT_EQ(pStream->Tell(), nPos) << nStep;
    }
    EXPECT_GT(reference.size(), 4u * 65536);
    EXPECT_FALSE(pStream->HasError());
    pStream->Release();
    EXPECT_TRUE(ReadFile(path) == reference);
}

// A device that refuses writes: a failure held in the window shows at Flush and stays in HasError;
// a write larger than the window fails at once.
TEST(FileOutStream, FailedWritesAreSeen)
{
    const std::string path = WriteTemp("readonly.out", "");
    CFileOutStream readOnly(std::fopen(path.c_str(), "rb"));
    EXPECT_EQ(readOnly.Write("abc", 3), 0u); // held in the window
    EXPECT_FALSE(readOnly.HasError());
    EXPECT_EQ(readOnly.Flush(), 1u);
    EXPECT_TRUE(readOnly.HasError());
    const std::string big(70000, 'b');
    EXPECT_EQ(readOnly.Write(big.data(), static_cast<uint32_t>(big.size())), 1u);
    EXPECT_TRUE(readOnly.HasError());

#if !defined(_WIN32)
    // A full disk: the bytes reach the standard I/O buffer and fail when it is pushed out.
    IZQOutStream* pFull = OpenFileOutStream("/dev/full");
    ASSERT_NE(pFull, nullptr);
    EXPECT_EQ(pFull->Write("abc", 3), 0u);
    EXPECT_EQ(pFull->Flush(), 1u);
    EXPECT_TRUE(pFull->HasError());
    pFull->Release();
#endif
}

TEST(PackStringTable, AlignedUniqueCaseSensitiveStrings)
{
    CPackStringTable table;
    EXPECT_EQ(table.AddString("abc"), 0u);
    EXPECT_EQ(table.AddString("abcd"), 4u);
    EXPECT_EQ(table.AddString("abc"), 0u);
    EXPECT_EQ(table.AddString(""), 12u);
    EXPECT_EQ(table.AddString("ABC"), 16u);
    EXPECT_EQ(Bytes(table.GetData(), table.GetData() + table.GetSize()),
              (Bytes{0x61, 0x62, 0x63, 0x00, 0x61, 0x62, 0x63, 0x64, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41, 0x42, 0x43, 0x00}));
    uint32_t nOffset = 77;
    EXPECT_TRUE(table.FindString("abcd", &nOffset));
    EXPECT_EQ(nOffset, 4u);
    EXPECT_FALSE(table.FindString("Abcd", &nOffset));
    EXPECT_EQ(nOffset, 4u);

    EXPECT_EQ(HashString(""), 5381u);
    EXPECT_EQ(HashString("a\xFF"), (5381u * 33u + 97u) * 33u - 1u); // bytes are signed
}
