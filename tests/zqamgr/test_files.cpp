// Buffered file, bit file and the plain-or-compressed file.
#include "zqa_test_support.h"
#include "zqabitfile.h"

namespace
{
Bytes Counting(size_t n)
{
    Bytes data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = uint8_t(i * 7 + i / 256);
    return data;
}

Bytes ReadAll(CZQAFile& file)
{
    Bytes out;
    for (uint8_t n; file.ReadByte(n);)
        out.push_back(n);
    return out;
}

// Sees the cache counters that the byte file keeps to itself.
class CProbeBuffer : public CZQAFileBuffer
{
public:
    uint32_t Fill() const { return m_nCacheFill; }
    uint32_t Pending() const { return m_nCachePos; }
};

class CProbeFile : public CZQAFile
{
public:
    std::string TempName() const { return m_szTempFileName; }
};

const CZQAFileBuffer::OpenMode READ = CZQAFileBuffer::OPEN_READ;
const CZQAFileBuffer::OpenMode WRITE = CZQAFileBuffer::OPEN_WRITE;
} // namespace

TEST(ZQAFileBuffer, ReadsThroughCacheFills)
{
    const Bytes data = Counting(2500);
    CProbeBuffer file;
    ASSERT_TRUE(file.Open(WriteFile(TempPath("a.bin"), data).c_str(), READ, 1024, false));
    Bytes out;
    std::vector<uint32_t> fills;
    for (uint8_t n; file.ReadByte(n); out.push_back(n))
        if (file.Pending() == 1) // the first byte of a fresh fill
            fills.push_back(file.Fill());
    EXPECT_EQ(out, data);
    EXPECT_EQ(fills, std::vector<uint32_t>({1024, 1024, 452}));
    EXPECT_TRUE(file.Close());

    ASSERT_TRUE(file.Open(WriteFile(TempPath("empty.bin"), Bytes()).c_str(), READ, 1024, false));
    uint8_t n;
    uint32_t nAvailable = 7;
    EXPECT_FALSE(file.ReadByte(n));
    EXPECT_EQ(file.PeekBuffered(nAvailable), nullptr);
    EXPECT_EQ(nAvailable, 0u);
}

TEST(ZQAFileBuffer, WritesFlushWhenTheCacheIsFullAndAppendKeepsContents)
{
    const std::string sPath = TempPath("w.bin");
    Bytes data = Counting(1025);
    CProbeBuffer file;
    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, false));
    for (size_t i = 0; i < 1024; ++i)
        ASSERT_TRUE(file.WriteByte(data[i]));
    EXPECT_EQ(file.Pending(), 1024u);
    ASSERT_TRUE(file.WriteByte(data[1024]));
    EXPECT_EQ(file.Pending(), 1u);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadBytes(sPath), data);

    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, true));
    EXPECT_TRUE(file.WriteByte(0xEE));
    EXPECT_TRUE(file.Close());
    data.push_back(0xEE);
    EXPECT_EQ(ReadBytes(sPath), data);
}

TEST(ZQAFileBuffer, WrongModesReport)
{
    CRecordingTripwire tripwire;
    const std::string sPath = WriteFile(TempPath("x.bin"), Bytes{1, 2});
    CZQAFileBuffer file;
    EXPECT_FALSE(file.Open(sPath.c_str(), CZQAFileBuffer::OPEN_NONE, 1024, false));
    EXPECT_FALSE(file.Open(sPath.c_str(), READ, 1024, true));
    EXPECT_FALSE(file.Open(TempPath("missing.bin").c_str(), READ, 1024, false)); // no report
    EXPECT_EQ(tripwire.Take(&Report::Site),
              Texts(2, "false|Engine/libs/zqamgr/zqafilebuffer|CZQAFileBuffer::Open"));
    EXPECT_FALSE(file.IsOpen());

    ASSERT_TRUE(file.Open(TempPath("y.bin").c_str(), WRITE, 1024, false));
    uint8_t n;
    EXPECT_FALSE(file.ReadByte(n));
    ASSERT_FALSE(tripwire.m_Reports.empty());
    EXPECT_EQ(tripwire.m_Reports[0].Site(),
              "m_eMode == OPEN_READ|Engine/libs/zqamgr/zqafilebuffer|CZQAFileBuffer::ReadByte");
}

TEST(ZQABitFile, BitsFillBytesFromTheLowestBitAndPartialBytesAreDropped)
{
    const std::string sPath = TempPath("bits.bin");
    const bool aBits[] = {true, false, false, false, false, false, false, true};
    CZQABitFile file;
    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, false));
    for (bool b : aBits)
        EXPECT_TRUE(file.SetBit(b));
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(file.SetBit(true));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadBytes(sPath), Bytes{0x81});

    ASSERT_TRUE(file.Open(sPath.c_str(), READ, 1024, false));
    bool bBit = true;
    for (bool b : aBits)
        EXPECT_TRUE(file.GetBit(bBit) && bBit == b);
    EXPECT_FALSE(file.GetBit(bBit));
    EXPECT_TRUE(bBit); // left as it was

    // Bulk writes: three bits, a literal a, a copy (18, 17), three bits; each field most
    // significant bit first, each byte filled from its lowest bit.
    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, false));
    EXPECT_TRUE(file.SetBits(0x5, 3) && file.SetBits(0x161, 9) && file.SetBits(0x12F, 17) &&
                file.SetBits(0x7, 3));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadBytes(sPath), (Bytes{0x6D, 0x08, 0x90, 0xFE}));
}

TEST(ZQAFile, PlainReadingAndWrongOpens)
{
    const Bytes text = {'(', 'a', ' ', '"', 'b', '"', ')'};
    const std::string sPath = WriteFile(TempPath("t.zqa"), text);
    CZQAFile file(sPath.c_str(), true, false, false);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadAll(file), text);
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.Open(sPath.c_str(), true, true, false)); // no zero header
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(sPath.c_str(), true, false, true)); // reading cannot append
}

TEST(ZQAFile, AppendingToCompressedFiles)
{
    const std::string sPath =
        WriteFile(TempPath("old.zqc"), Bytes{0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00}); // abc
    CProbeFile file;
    ASSERT_TRUE(file.Open(sPath.c_str(), false, true, true));
    const std::string sTemp = file.TempName();
    EXPECT_TRUE(fs::exists(sTemp));
    EXPECT_TRUE(file.WriteByte('d') && file.WriteByte('e'));
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(fs::exists(sTemp));
    EXPECT_FALSE(file.Close()); // the names are gone: nothing is touched
    // abcde: five literals and the first 16 bits of the end token.
    EXPECT_EQ(ReadBytes(sPath), (Bytes{0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x6E, 0xD2, 0x14, 0x00}));

    const std::string sNew = TempPath("new.zqc");
    ASSERT_TRUE(file.Open(sNew.c_str(), false, true, true));
    EXPECT_TRUE(file.WriteByte('x'));
    EXPECT_TRUE(file.Close());
    CZQAFile in(sNew.c_str(), true, true, false);
    EXPECT_EQ(ReadAll(in), Bytes{'x'});

#if !defined(_WIN32)
    // A path of 260 characters or more is read and rewritten whole, never by a cut name.
    const std::string sLong = TempPath(std::string(150, 'd') + "/" + std::string(100, 'f') + ".zqc");
    WriteFile(sLong, Bytes{0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00});
    ASSERT_GE(sLong.size(), 260u);
    ASSERT_TRUE(file.Open(sLong.c_str(), false, true, true));
    EXPECT_TRUE(file.WriteByte('d') && file.WriteByte('e'));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadBytes(sLong), (Bytes{0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x6E, 0xD2, 0x14, 0x00}));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(sLong).parent_path()), fs::directory_iterator()),
              1);
#endif
}

TEST(ZQAFile, WriteErrorsShowAtClose)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    for (bool bCompressed : {false, true})
    {
        CZQAFile file("/dev/full", false, bCompressed, false);
        ASSERT_TRUE(file.IsOpen());
        for (uint8_t n : Counting(100000))
            file.WriteByte(n);
        EXPECT_FALSE(file.Close()) << bCompressed;
        ASSERT_TRUE(file.Open("/dev/full", false, bCompressed, false));
        file.WriteByte('a');
        EXPECT_FALSE(file.Close()) << bCompressed;
    }
}
