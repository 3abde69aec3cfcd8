// The compressed ZQA format: documented streams byte for byte, decoding of cut and damaged
// streams against a literal bit-by-bit reader, and the encoder against a plain tree encoder.
#include "zqafile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Trace = std::vector<int>; // the answers of successive ReadByte calls: a byte, or -1 for false

Bytes FromText(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

class CTempDir
{
public:
    CTempDir()
    {
        const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        m_Path = fs::temp_directory_path() /
                 (std::string("lzss_") + pInfo->name() + "_" + std::to_string(std::random_device()()));
        fs::create_directories(m_Path);
    }
    ~CTempDir() { fs::remove_all(m_Path); }
    std::string File(const char* pszName) const { return (m_Path / pszName).string(); }

private:
    fs::path m_Path;
};

void WriteFile(const std::string& sPath, const Bytes& data)
{
    std::ofstream(sPath, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

Bytes ReadFile(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Compress(const CTempDir& dir, const Bytes& data)
{
    const std::string sPath = dir.File("packed.zqc");
    CZQAFile file;
    EXPECT_TRUE(file.Open(sPath.c_str(), false, true, false));
    for (uint8_t n : data)
        EXPECT_TRUE(file.WriteByte(n));
    EXPECT_TRUE(file.Close());
    return ReadFile(sPath);
}

// nCalls reads of a compressed file holding `stream`; with bPeek, bytes come from PeekBuffered
// spans (in varying bites) and ReadByte only when a span is empty. {-2} when the open fails.
Trace ReadTrace(const CTempDir& dir, const Bytes& stream, size_t nCalls, bool bPeek)
{
    const std::string sPath = dir.File("in.zqc");
    WriteFile(sPath, stream);
    CZQAFile file;
    if (!file.Open(sPath.c_str(), true, true, false))
        return {-2};
    Trace trace;
    while (trace.size() < nCalls)
    {
        uint32_t nAvailable = 0;
        const uint8_t* pSpan = bPeek ? file.PeekBuffered(nAvailable) : nullptr;
        if (nAvailable > 0)
        {
            const size_t nTake = std::min<size_t>({nAvailable, nCalls - trace.size(), 1 + trace.size() % 23});
            trace.insert(trace.end(), pSpan, pSpan + nTake);
            file.SkipBuffered(static_cast<uint32_t>(nTake));
            continue;
        }
        uint8_t n = 0;
        trace.push_back(file.ReadByte(n) ? n : -1);
    }
    return trace;
}

Trace DecodeAll(const CTempDir& dir, const Bytes& stream, size_t nCalls)
{
    return ReadTrace(dir, stream, nCalls, false);
}

Trace Expect(const Bytes& data, size_t nFalses)
{
    Trace t(data.begin(), data.end());
    t.insert(t.end(), nFalses, -1);
    return t;
}

// The decoding rules taken literally: one bit at a time, a missing bit keeps the previous value.
// Runs until the end of the file has answered false twice.
Trace ReferenceTrace(const Bytes& stream)
{
    size_t nBit = 0;
    auto Get = [&](int& b)
    {
        if (nBit >= stream.size() * 8)
            return false;
        b = (stream[nBit / 8] >> (nBit % 8)) & 1;
        ++nBit;
        return true;
    };
    int b = 0;
    for (int i = 0; i < 32; ++i)
        if (Get(b), b)
            return {-2};
    uint8_t aWindow[4096] = {};
    uint32_t nPos = 1, nSpanLen = 0, nSpanPos = 0, nEnds = 0;
    Trace trace;
    while (nEnds < 2)
    {
        if (nSpanLen == 0)
        {
            int nFlag = 0, x = 0;
            uint32_t v = 0;
            if (!Get(nFlag))
            {
                ++nEnds;
                trace.push_back(-1);
                continue;
            }
            if (nFlag)
            {
                for (int i = 0; i < 8; ++i)
                    v = v * 2 + (Get(x), x);
                aWindow[nPos] = uint8_t(v);
                nPos = (nPos + 1) % 4096;
                trace.push_back(int(v));
                continue;
            }
            for (int i = 0; i < 12; ++i)
                v = v * 2 + (Get(x), x);
            if (v == 0)
            {
                trace.push_back(-1);
                continue;
            }
            nSpanPos = v;
            for (int i = 0; i < 4; ++i)
                nSpanLen = nSpanLen * 2 + (Get(x), x);
            nSpanLen += 2;
        }
        const uint8_t c = aWindow[nSpanPos];
        aWindow[nPos] = c;
        nPos = (nPos + 1) % 4096;
        nSpanPos = (nSpanPos + 1) % 4096;
        --nSpanLen;
        trace.push_back(c);
    }
    return trace;
}

// Tokens as numbers: literal 0x1000000 | byte, copy position << 8 | length, end 0.
std::vector<uint32_t> ParseTokens(const Bytes& stream)
{
    size_t nBit = 32;
    auto Bits = [&](int nCount)
    {
        uint32_t v = 0;
        for (int i = 0; i < nCount; ++i, ++nBit)
            v = v * 2 + (nBit < stream.size() * 8 ? (stream[nBit / 8] >> (nBit % 8)) & 1 : 0);
        return v;
    };
    std::vector<uint32_t> tokens;
    for (;;)
    {
        if (Bits(1))
        {
            tokens.push_back(0x1000000 | Bits(8));
            continue;
        }
        const uint32_t nPos = Bits(12);
        tokens.push_back(nPos ? (nPos << 8) | (Bits(4) + 2) : 0);
        if (!nPos)
            return tokens;
    }
}

// The documented tree encoder written plainly, byte-by-byte compares, same token list as above.
class CReferenceEncoder
{
public:
    std::vector<uint32_t> m_Tokens;

    CReferenceEncoder()
    {
        m_aParent[4096] = 4096;
        m_aLarger[4096] = 1;
        m_aParent[1] = 4096;
    }

    void Add(uint8_t b)
    {
        if (!m_bPrimed)
        {
            m_aWin[m_nCur + m_nLook] = b;
            m_bPrimed = ++m_nLook == 17;
            return;
        }
        if (m_nLook >= 17)
            Token();
        Delete((m_nCur + 17) % 4096);
        m_aWin[(m_nCur + 17) % 4096] = b;
        if (m_nCur + 17 >= 4096)
            m_aWin[m_nCur + 17] = b;
        m_nCur = (m_nCur + 1) % 4096;
        Insert(m_nCur);
        ++m_nLook;
    }

    void Finish()
    {
        if (m_bPrimed)
            m_nCur = (m_nCur + 4096 - m_nLook + 17) % 4096;
        for (; m_nLook > 0; m_nCur = (m_nCur + 1) % 4096)
        {
            m_nMatchLen = 0;
            Token();
        }
        m_Tokens.push_back(0);
    }

private:
    void Token()
    {
        uint32_t n = std::min(m_nMatchLen, m_nLook);
        if (n < 2)
            m_Tokens.push_back(0x1000000 | m_aWin[m_nCur]), n = 1;
        else
            m_Tokens.push_back((m_nMatchPos << 8) | n);
        m_nLook -= n;
    }
    void Insert(uint32_t nNew)
    {
        m_nMatchLen = m_nMatchPos = 0;
        if (nNew == 0)
            return;
        for (uint32_t c = m_aLarger[4096];;)
        {
            uint32_t i = 0;
            int nDiff = 0;
            while (i < 17 && (nDiff = m_aWin[nNew + i] - m_aWin[c + i]) == 0)
                ++i;
            if (i > m_nMatchLen)
            {
                m_nMatchLen = i, m_nMatchPos = c;
                if (i == 17)
                    return Replace(c, nNew);
            }
            uint32_t& rChild = nDiff > 0 ? m_aLarger[c] : m_aSmaller[c];
            if (!rChild)
            {
                rChild = nNew, m_aParent[nNew] = c, m_aSmaller[nNew] = m_aLarger[nNew] = 0;
                return;
            }
            c = rChild;
        }
    }
    void Unlink(uint32_t n, uint32_t nChild)
    {
        const uint32_t p = m_aParent[n];
        (m_aSmaller[p] == n ? m_aSmaller[p] : m_aLarger[p]) = nChild;
        m_aParent[nChild] = p, m_aParent[n] = 0;
    }
    void Replace(uint32_t nOld, uint32_t nNew)
    {
        const uint32_t p = m_aParent[nOld];
        (m_aLarger[p] == nOld ? m_aLarger[p] : m_aSmaller[p]) = nNew;
        m_aParent[nNew] = p, m_aSmaller[nNew] = m_aSmaller[nOld], m_aLarger[nNew] = m_aLarger[nOld];
        m_aParent[m_aSmaller[nNew]] = m_aParent[m_aLarger[nNew]] = nNew;
        m_aParent[nOld] = 0;
    }
    void Delete(uint32_t p)
    {
        if (!p || !m_aParent[p])
            return;
        if (!m_aLarger[p] || !m_aSmaller[p])
            return Unlink(p, m_aLarger[p] ? m_aLarger[p] : m_aSmaller[p]);
        uint32_t r = m_aSmaller[p];
        while (m_aLarger[r])
            r = m_aLarger[r];
        Unlink(r, m_aSmaller[r]);
        Replace(p, r);
    }

    uint8_t m_aWin[4113] = {};
    uint32_t m_aParent[4097] = {}, m_aSmaller[4097] = {}, m_aLarger[4097] = {};
    uint32_t m_nLook = 0, m_nCur = 1, m_nMatchLen = 0, m_nMatchPos = 0;
    bool m_bPrimed = false;
};

std::vector<Bytes> VariedInputs()
{
    std::mt19937 rng(12345);
    std::vector<Bytes> inputs;
    Bytes random(20000), binary(30000), words, runs;
    for (uint8_t& b : random)
        b = uint8_t(rng());
    for (uint8_t& b : binary)
        b = "ab"[rng() % 2];
    const char* const aWords[] = {"(key ", "(value ", "(time 0) ", "(data 255 128 0 64)",
                                  ")\n",   "\t",      "Fire",      "1500 "};
    while (words.size() < 60000)
        for (const char* p = aWords[rng() % 8]; *p; ++p)
            words.push_back(uint8_t(*p));
    while (runs.size() < 25000)
        runs.insert(runs.end(), 1 + rng() % 40, uint8_t('a' + rng() % 3));
    inputs = {random, binary, words, runs, Bytes(10000, 'x')};
    return inputs;
}
} // namespace

TEST(LzssFormat, DocumentedStreamsEncodeAndDecodeByteForByte)
{
    CTempDir dir;
    std::string s40(40, 'a'), s19(19, 'a'), sAbc8;
    for (int i = 0; i < 8; ++i)
        sAbc8 += "abc";
    const std::pair<std::string, Bytes> aCases[] = {
        {"abc", {0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00}},
        {"", {0, 0, 0, 0, 0, 0}},
        {s40, {0, 0, 0, 0, 0x0D, 0x01, 0xE0, 0x03, 0xA4, 0x6F, 0xD8, 0xB0, 0x61, 0xC3, 0x86, 0x00, 0x00}},
        {sAbc8, {0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x80, 0xDF, 0xB8, 0x61, 0xA3, 0xC6, 0x00, 0x00}},
        {s19, {0, 0, 0, 0, 0x0D, 0x01, 0xE0, 0x37, 0x04, 0x00}},
    };
    for (const auto& [sText, stream] : aCases)
    {
        EXPECT_EQ(Compress(dir, FromText(sText)), stream) << sText;
        // Every read after the end token answers false again.
        EXPECT_EQ(DecodeAll(dir, stream, sText.size() + 3), Expect(FromText(sText), 3)) << sText;
    }
}

TEST(LzssFormat, HeaderMustBeZeroBitsShortFilesAreEmpty)
{
    CTempDir dir;
    EXPECT_EQ(DecodeAll(dir, {0x01, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00}, 1), Trace{-2});
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0x80}, 1), Trace{-2});
    EXPECT_EQ(DecodeAll(dir, {}, 2), Trace({-1, -1}));
    EXPECT_EQ(DecodeAll(dir, {0, 0}, 2), Trace({-1, -1}));
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0}, 2), Trace({-1, -1}));
}

TEST(LzssDecode, CutAndDamagedStreams)
{
    CTempDir dir;
    // abc cut after the flag and six value bits of b: the two missing bits repeat the last 0.
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x0D, 0x1B}, 4), Trace({'a', 0x60, -1, -1}));
    // 19 letters a cut inside the copy: position complete, missing length bits repeat 1 (length 17).
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x0D, 0x01, 0xE0}, 20), Expect(Bytes(18, 'a'), 2));
    // ... cut after six position bits: the missing ones read 0, an end token.
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x0D, 0x01}, 3), Trace({'a', -1, -1}));
    // Single token bytes: literal 1000000+0; literal 1000001+1; copy from 63 (17 bytes) and from
    // 2048 (2 bytes) of a window never written, which starts zeroed.
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x03}, 2), Trace({0x80, -1}));
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x83}, 2), Trace({0x83, -1}));
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x80}, 18), Expect(Bytes(17, 0), 1));
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x02}, 3), Trace({0, 0, -1}));
    // Literal a, then a copy from position 2, the one about to be written: 4096 bytes back.
    EXPECT_EQ(DecodeAll(dir, {0, 0, 0, 0, 0x0D, 0x01, 0x10, 0x00, 0x00}, 4), Trace({'a', 0, 0, -1}));
}

TEST(LzssDecode, ReadingGoesOnAfterAnEarlyEndToken)
{
    CTempDir dir;
    // Literal a, an end token without its length bits, literal b, an end token.
    const Bytes stream = {0, 0, 0, 0, 0x0D, 0x01, 0x40, 0x23, 0x00, 0x00};
    EXPECT_EQ(DecodeAll(dir, stream, 5), Trace({'a', -1, 'b', -1, -1}));
    EXPECT_EQ(ReadTrace(dir, stream, 5, true), Trace({'a', -1, 'b', -1, -1}));
}

TEST(LzssDecode, EveryPrefixOfValidStreamsReadsAsBitByBitDecoding)
{
    CTempDir dir;
    std::mt19937 rng(7);
    Bytes text, mixed(700);
    while (text.size() < 900)
        for (const char* p : {"(value (time ", "0", "250", ") (data 1 2 3))\n"})
            text.insert(text.end(), p, p + strlen(p));
    for (uint8_t& b : mixed)
        b = "abcd\n"[rng() % 5];
    for (const Bytes& data : {FromText("abc"), Bytes(40, 'a'), text, mixed})
    {
        const Bytes stream = Compress(dir, data);
        for (size_t nLen = 0; nLen <= stream.size(); ++nLen)
        {
            const Bytes cut(stream.begin(), stream.begin() + nLen);
            const Trace expected = ReferenceTrace(cut);
            ASSERT_EQ(DecodeAll(dir, cut, expected.size()), expected) << nLen;
            ASSERT_EQ(ReadTrace(dir, cut, expected.size(), true), expected) << nLen;
            // What comes before the first false is the data, apart from the last token's bytes.
            const size_t nOut = std::find(expected.begin(), expected.end(), -1) - expected.begin();
            const size_t nSame = std::mismatch(expected.begin(), expected.begin() + nOut, data.begin(),
                                               data.begin() + std::min(nOut, data.size()))
                                     .first -
                                 expected.begin();
            EXPECT_GE(nSame + 17, nOut) << nLen;
        }
    }
}

TEST(LzssEncoder, TokensMatchThePlainTreeEncoderAndRoundTrip)
{
    CTempDir dir;
    for (const Bytes& data : VariedInputs())
    {
        const Bytes stream = Compress(dir, data);
        CReferenceEncoder ref;
        for (uint8_t n : data)
            ref.Add(n);
        ref.Finish();
        EXPECT_EQ(ParseTokens(stream), ref.m_Tokens);
        EXPECT_EQ(Compress(dir, data), stream);
        EXPECT_EQ(DecodeAll(dir, stream, data.size() + 2), Expect(data, 2));
        EXPECT_EQ(ReadTrace(dir, stream, data.size() + 2, true), Expect(data, 2));
    }
}
