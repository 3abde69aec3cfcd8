// Buffered file, bit file and the plain-or-compressed file.
#include "file_test_support.h"
#include "zqabitfile.h"
#include "zqafile.h"
#include "zqstrutils.h"

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
    CTempDir dir;
    const Bytes data = Counting(2500);
    WriteFile(dir.File("a.bin"), data);
    CProbeBuffer file;
    ASSERT_TRUE(file.Open(dir.File("a.bin").c_str(), READ, 1024, false));
    Bytes out;
    std::vector<uint32_t> fills;
    for (uint8_t n; file.ReadByte(n); out.push_back(n))
        if (file.Pending() == 1) // the first byte of a fresh fill
            fills.push_back(file.Fill());
    EXPECT_EQ(out, data);
    EXPECT_EQ(fills, std::vector<uint32_t>({1024, 1024, 452}));
    EXPECT_TRUE(file.Close());

    WriteFile(dir.File("empty.bin"), {});
    ASSERT_TRUE(file.Open(dir.File("empty.bin").c_str(), READ, 1024, false));
    uint8_t n;
    uint32_t nAvailable = 7;
    EXPECT_FALSE(file.ReadByte(n));
    EXPECT_EQ(file.PeekBuffered(nAvailable), nullptr);
    EXPECT_EQ(nAvailable, 0u);
}

TEST(ZQAFileBuffer, WritesFlushWhenTheCacheIsFullAndAppendKeepsContents)
{
    CTempDir dir;
    const std::string sPath = dir.File("w.bin");
    Bytes data = Counting(1025);
    CProbeBuffer file;
    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, false));
    for (size_t i = 0; i < 1024; ++i)
        ASSERT_TRUE(file.WriteByte(data[i]));
    EXPECT_EQ(file.Pending(), 1024u);
    ASSERT_TRUE(file.WriteByte(data[1024]));
    EXPECT_EQ(file.Pending(), 1u);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadFile(sPath), data);

    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, true));
    EXPECT_TRUE(file.WriteByte(0xEE));
    EXPECT_TRUE(file.Close());
    data.push_back(0xEE);
    EXPECT_EQ(ReadFile(sPath), data);
}

TEST(ZQAFileBuffer, WrongModesReport)
{
    CTempDir dir;
    CRecordingManager manager;
    ZQSetAssertManagerForTesting(&manager);
    WriteFile(dir.File("x.bin"), {1, 2});
    CZQAFileBuffer file;
    EXPECT_FALSE(file.Open(dir.File("x.bin").c_str(), CZQAFileBuffer::OPEN_NONE, 1024, false));
    EXPECT_FALSE(file.Open(dir.File("x.bin").c_str(), READ, 1024, true));
    EXPECT_FALSE(file.Open(dir.File("missing.bin").c_str(), READ, 1024, false)); // no report
    EXPECT_EQ(manager.m_Reports,
              std::vector<std::string>(2, "false|Engine/libs/zqamgr/zqafilebuffer|CZQAFileBuffer::Open"));
    EXPECT_FALSE(file.IsOpen());

    manager.m_Reports.clear();
    ASSERT_TRUE(file.Open(dir.File("y.bin").c_str(), WRITE, 1024, false));
    uint8_t n;
    EXPECT_FALSE(file.ReadByte(n));
    ASSERT_FALSE(manager.m_Reports.empty());
    EXPECT_EQ(manager.m_Reports[0],
              "m_eMode == OPEN_READ|Engine/libs/zqamgr/zqafilebuffer|CZQAFileBuffer::ReadByte");
    ZQSetAssertManagerForTesting(nullptr);
}

TEST(ZQABitFile, BitsFillBytesFromTheLowestBitAndPartialBytesAreDropped)
{
    CTempDir dir;
    const std::string sPath = dir.File("bits.bin");
    const bool aBits[] = {true, false, false, false, false, false, false, true};
    CZQABitFile file;
    ASSERT_TRUE(file.Open(sPath.c_str(), WRITE, 1024, false));
    for (bool b : aBits)
        EXPECT_TRUE(file.SetBit(b));
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(file.SetBit(true));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadFile(sPath), Bytes{0x81});

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
    EXPECT_EQ(ReadFile(sPath), (Bytes{0x6D, 0x08, 0x90, 0xFE}));
}

TEST(ZQAFile, PlainAndCompressedReading)
{
    CTempDir dir;
    const Bytes text = {'(', 'a', ' ', '"', 'b', '"', ')'};
    WriteFile(dir.File("t.zqa"), text);
    CZQAFile file(dir.File("t.zqa").c_str(), true, false, false);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(ReadAll(file), text);
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(file.Open(dir.File("t.zqa").c_str(), true, true, false)); // no zero header
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(dir.File("t.zqa").c_str(), true, false, true)); // reading cannot append

    WriteFile(dir.File("t.zqc"), {0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00});
    ASSERT_TRUE(file.Open(dir.File("t.zqc").c_str(), true, true, false));
    EXPECT_EQ(ReadAll(file), (Bytes{'a', 'b', 'c'}));
}

TEST(ZQAFile, PeekedSpansAreTheBytesReadByteGives)
{
    CTempDir dir;
    const Bytes data = Counting(70000);
    for (bool bCompressed : {false, true})
    {
        const std::string sPath = dir.File(bCompressed ? "p.zqc" : "p.zqa");
        CZQAFile out(sPath.c_str(), false, bCompressed, false);
        for (uint8_t n : data)
            ASSERT_TRUE(out.WriteByte(n));
        ASSERT_TRUE(out.Close());

        CZQAFile file(sPath.c_str(), true, bCompressed, false);
        Bytes got;
        uint32_t nAvailable = 0;
        for (uint8_t n;;)
        {
            if (const uint8_t* pSpan = file.PeekBuffered(nAvailable))
            {
                const uint32_t nTake = nAvailable > 100 ? nAvailable - 100 : nAvailable; // leave some
                got.insert(got.end(), pSpan, pSpan + nTake);
                file.SkipBuffered(nTake);
            }
            else if (file.ReadByte(n))
                got.push_back(n);
            else
                break;
        }
        EXPECT_EQ(got, data) << bCompressed;
    }
}

TEST(ZQAFile, AppendingToCompressedFiles)
{
    CTempDir dir;
    const std::string sPath = dir.File("old.zqc");
    WriteFile(sPath, {0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00}); // abc
    CProbeFile file;
    ASSERT_TRUE(file.Open(sPath.c_str(), false, true, true));
    const std::string sTemp = file.TempName();
    EXPECT_TRUE(std::filesystem::exists(sTemp));
    EXPECT_TRUE(file.WriteByte('d') && file.WriteByte('e'));
    EXPECT_TRUE(file.Close());
    EXPECT_FALSE(std::filesystem::exists(sTemp));
    EXPECT_FALSE(file.Close()); // the names are gone: nothing is touched
    // abcde: five literals and the first 16 bits of the end token.
    EXPECT_EQ(ReadFile(sPath), (Bytes{0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x6E, 0xD2, 0x14, 0x00}));

    const std::string sNew = dir.File("new.zqc");
    ASSERT_TRUE(file.Open(sNew.c_str(), false, true, true));
    EXPECT_TRUE(file.WriteByte('x'));
    EXPECT_TRUE(file.Close());
    CZQAFile in(sNew.c_str(), true, true, false);
    EXPECT_EQ(ReadAll(in), Bytes{'x'});
}

TEST(ZQAFile, WriteErrorsShowAtClose)
{
    if (!std::filesystem::exists("/dev/full"))
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
