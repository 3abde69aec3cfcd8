// The compressed ZQA format: the format's example streams byte for byte, decoding of cut and damaged
// streams against a literal bit-by-bit reader, and the encoder against a plain tree encoder.
#include "lzss_classic.h"
#include "zqa_test_support.h"

#include <algorithm>

namespace
{
Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Trace Expect(const Bytes& data, size_t nFalses)
{
    Trace t(data.begin(), data.end());
    t.insert(t.end(), nFalses, -1);
    return t;
}

Bytes Compress(const Bytes& data)
{
    return ReadBytes(WriteZqa("packed.zqc", std::string(data.begin(), data.end()), true));
}

Trace Decode(const Bytes& stream, size_t nCalls, bool bPeek = false)
{
    return DecodeTrace(WriteFile(TempPath("in.zqc"), stream), nCalls, bPeek);
}

// A compressed stream written token by token, each field most significant bit first, bits filling
// each byte from its lowest; tracks the window position of the next output byte.
struct CTokenWriter
{
    Bytes stream = Bytes(4, 0); // the zero header
    size_t nBit = 32;
    size_t nOut = 0;
    uint32_t nPos = 1;

    void Put(uint32_t nValue, int nCount)
    {
        for (int i = nCount - 1; i >= 0; --i, ++nBit)
        {
            if (nBit / 8 == stream.size())
                stream.push_back(0);
            stream[nBit / 8] |= uint8_t(((nValue >> i) & 1) << (nBit % 8));
        }
    }
    void Literal(uint8_t nByte) { Put(0x100u | nByte, 9), ++nOut, ++nPos; }
    void End() { Put(0, 17); }
    // A copy from nDistance (1 to 4096) bytes back; a literal where that is position 0 (the end mark).
    void Copy(uint32_t nDistance, uint32_t nLen, uint8_t nElse)
    {
        const uint32_t nFrom = (nPos - nDistance) & 4095;
        if (nFrom == 0)
            return Literal(nElse);
        Put(nFrom << 4 | (nLen - 2), 17), nOut += nLen, nPos += nLen;
    }
};

} // namespace

TEST(LzssFormat, FormatExampleStreamsEncodeAndDecodeByteForByte)
{
    std::string sAbc8;
    for (int i = 0; i < 8; ++i)
        sAbc8 += "abc";
    const std::pair<std::string, Bytes> aCases[] = {
        {"abc", {0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00}},
        {"", {0, 0, 0, 0, 0, 0}},
        {std::string(40, 'a'),
         {0, 0, 0, 0, 0x0D, 0x01, 0xE0, 0x03, 0xA4, 0x6F, 0xD8, 0xB0, 0x61, 0xC3, 0x86, 0, 0}},
        {sAbc8, {0, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x80, 0xDF, 0xB8, 0x61, 0xA3, 0xC6, 0x00, 0x00}},
        {std::string(19, 'a'), {0, 0, 0, 0, 0x0D, 0x01, 0xE0, 0x37, 0x04, 0x00}},
    };
    for (const auto& [sText, stream] : aCases)
    {
        EXPECT_EQ(Compress(Text(sText)), stream) << sText;
        EXPECT_EQ(Decode(stream, sText.size() + 3), Expect(Text(sText), 3)) << sText; // false stays
    }
}

TEST(LzssDecode, ShortCutAndDamagedStreams)
{
    // The header must be zero bits; a file shorter than it is empty data.
    EXPECT_EQ(Decode({0x01, 0, 0, 0, 0x0D, 0x1B, 0x35, 0x06, 0x00}, 1), Trace{-2});
    EXPECT_EQ(Decode({0, 0, 0, 0x80}, 1), Trace{-2});
    for (const Bytes& stream : {Bytes{}, Bytes{0, 0}, Bytes{0, 0, 0}})
        EXPECT_EQ(Decode(stream, 2), Trace({-1, -1}));
    // abc cut after the flag and six value bits of b: the two missing bits repeat the last 0.
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x0D, 0x1B}, 4), Trace({'a', 0x60, -1, -1}));
    // 19 letters a cut inside the copy: position complete, missing length bits repeat 1 (17).
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x0D, 0x01, 0xE0}, 20), Expect(Bytes(18, 'a'), 2));
    // ... cut after six position bits: the missing ones read 0, an end token.
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x0D, 0x01}, 3), Trace({'a', -1, -1}));
    // One byte of token: literal 1000000+0, literal 1000001+1; copies from 63 (length 17) and
    // from 2048 (length 2) of a window never written, which starts zeroed.
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x03}, 2), Trace({0x80, -1}));
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x83}, 2), Trace({0x83, -1}));
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x80}, 18), Expect(Bytes(17, 0), 1));
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x02}, 3), Trace({0, 0, -1}));
    // Literal a, then a copy from position 2, the one about to be written: 4096 bytes back.
    EXPECT_EQ(Decode({0, 0, 0, 0, 0x0D, 0x01, 0x10, 0x00, 0x00}, 4), Trace({'a', 0, 0, -1}));
    // Literal a, an end token without its length bits, literal b, an end token: no ended state.
    const Bytes early = {0, 0, 0, 0, 0x0D, 0x01, 0x40, 0x23, 0x00, 0x00};
    EXPECT_EQ(Decode(early, 5), Trace({'a', -1, 'b', -1, -1}));
    EXPECT_EQ(Decode(early, 5, true), Trace({'a', -1, 'b', -1, -1}));
}

TEST(LzssDecode, EveryPrefixOfValidStreamsReadsAsBitByBitDecoding)
{
    std::mt19937 rng(7);
    Bytes text, mixed(700);
    while (text.size() < 900)
        for (std::string s : {"(value (time ", "0", "250", ") (data 1 2 3))\n"})
            text.insert(text.end(), s.begin(), s.end());
    for (uint8_t& b : mixed)
        b = "abcd\n"[rng() % 5];
    for (const Bytes& data : {Text("abc"), Bytes(40, 'a'), text, mixed})
    {
        const Bytes stream = Compress(data);
        for (size_t nLen = 0; nLen <= stream.size(); ++nLen)
        {
            const Bytes cut(stream.begin(), stream.begin() + nLen);
            const Trace expected = ReferenceDecode(cut.data(), cut.size());
            ASSERT_EQ(Decode(cut, expected.size()), expected) << nLen;
            ASSERT_EQ(Decode(cut, expected.size(), true), expected) << nLen;
            // Before the first false comes the data, apart from the last token's bytes.
            const size_t nOut = std::find(expected.begin(), expected.end(), -1) - expected.begin();
            ASSERT_LE(nOut, data.size() + 17);
            const size_t nSame =
                std::mismatch(expected.begin(), expected.begin() + std::min(nOut, data.size()), data.begin())
                    .first -
                expected.begin();
            EXPECT_GE(nSame + 17, nOut) << nLen;
        }
    }
}

TEST(LzssEncoder, TokensMatchThePlainTreeEncoderAndRoundTrip)
{
    std::mt19937 rng(12345);
    Bytes random(20000), binary(30000), words, runs, periodic(12000), fresh;
    for (uint8_t& b : random)
        b = uint8_t(rng());
    for (uint8_t& b : binary)
        b = "ab"[rng() % 2];
    const char* const aWords[] = {"(key ", "(value ", "(time 0) ", "(data 255 128 0 64)",
                                  ")\n",   "\t",      "Fire",      "15 "};
    while (words.size() < 60000)
        for (const char* p = aWords[rng() % 8]; *p; ++p)
            words.push_back(uint8_t(*p));
    while (runs.size() < 25000)
        runs.insert(runs.end(), 1 + rng() % 40, uint8_t('a' + rng() % 3));
    for (size_t i = 0; i < periodic.size(); ++i) // period 17, now and then disturbed
        periodic[i] = rng() % 50 ? uint8_t("abcdefghijklmnopq"[i % 17]) : 'z';
    for (uint32_t k = 0; fresh.size() < 30000; ++k) // runs of 18 bytes not seen in the window
    {
        for (uint32_t j = rng() % 6; j > 0; --j)
            fresh.push_back(uint8_t(rng()));
        fresh.insert(fresh.end(), 18, uint8_t(k));
    }
    for (const Bytes& data : {random, binary, words, runs, periodic, fresh, Bytes(10000, 'x')})
    {
        const Bytes stream = Compress(data);
        CClassicLzssEncoder ref;
        for (uint8_t n : data)
            ref.Add(n);
        ref.Finish();
        EXPECT_EQ(ParseLzssTokens(stream), ref.m_Tokens);
        EXPECT_EQ(Compress(data), stream);
        EXPECT_EQ(Decode(stream, data.size() + 2), Expect(data, 2));
        EXPECT_EQ(Decode(stream, data.size() + 2, true), Expect(data, 2));
    }
}

TEST(LzssEncoder, TokensMatchThePlainTreeEncoderAtEveryLengthNearTheStartAndTheWindowEnd)
{
    // The encoder holds bytes back and searches ahead, so the last bytes before the end of the
    // data and the positions next to the window's end (where searches ahead stop) are where its
    // bookkeeping can slip. Text with ties (two letters) and runs (one letter) reaches both.
    std::mt19937 rng(99);
    Bytes text;
    while (text.size() < 4200)
    {
        const uint8_t n = uint8_t("ab\n"[rng() % 3]);
        text.insert(text.end(), rng() % 4 ? 1 : 1 + rng() % 20, n);
    }
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 40; ++n)
        lengths.push_back(n);
    for (size_t n = 4090; n <= 4120; ++n)
        lengths.push_back(n);
    for (size_t nLen : lengths)
    {
        const Bytes data(text.begin(), text.begin() + nLen);
        CClassicLzssEncoder ref;
        for (uint8_t n : data)
            ref.Add(n);
        ref.Finish();
        ASSERT_EQ(ParseLzssTokens(Compress(data)), ref.m_Tokens) << nLen;
    }
}

TEST(LzssDecode, SeededTokenStreamsReadAsBitByBitDecoding)
{
    // Streams no encoder would write: copies from anywhere in the window (near ones overlapping
    // their own output, far ones reading bytes never written), an end token in the middle with
    // data after it, and enough output to cross the decoder's buffer refills many times.
    for (uint32_t nSeed = 1; nSeed <= 4; ++nSeed)
    {
        std::mt19937 rng(nSeed);
        CTokenWriter w;
        bool bEnded = false;
        while (w.nOut < 90000)
        {
            if (!bEnded && w.nOut > 20000 * nSeed)
                w.End(), bEnded = true; // reads go on after it
            if (rng() % 100 < 45)
            {
                w.Literal(uint8_t(rng()));
                continue;
            }
            // Distances 1 to 20 half of the time, any position otherwise (0 would end the data).
            const uint32_t nDistance = rng() % 2 ? 1 + rng() % 20 : 1 + rng() % 4095;
            const uint32_t nFrom = ((w.nPos - nDistance) & 4095) ? (w.nPos - nDistance) & 4095 : 1;
            w.Copy((w.nPos - nFrom) & 4095, 2 + rng() % 16, 0);
        }
        if (nSeed % 2)
            w.End();
        else
            w.stream.resize(w.stream.size() - 1 - rng() % 3); // cut inside the last tokens
        const Trace expected = ReferenceDecode(w.stream.data(), w.stream.size());
        ASSERT_GT(expected.size(), 89000u);
        EXPECT_EQ(Decode(w.stream, expected.size()), expected) << nSeed;
        EXPECT_EQ(Decode(w.stream, expected.size(), true), expected) << nSeed;
    }
}

TEST(LzssDecode, CopiesAtTheEdgeDistancesReadAsBitByBitDecoding)
{
    // Copies just either side of where a copy stops overlapping its own 16-byte steps, a whole
    // window back (the position being written), and runs of literals between them, in seeded
    // orders; then the same distances near the start, where the window is still the zeros it
    // begins with.
    const uint32_t aDistances[] = {1, 2, 8, 15, 16, 17, 18, 31, 2047, 2048, 2049, 4095, 4096};
    for (uint32_t nSeed = 1; nSeed <= 3; ++nSeed)
    {
        std::mt19937 rng(nSeed);
        CTokenWriter w;
        for (uint32_t nDistance : aDistances)
            w.Copy(nDistance, 2 + nDistance % 16, 'z');
        while (w.nOut < 70000)
        {
            for (uint32_t n = rng() % 4; n > 0; --n)
                w.Literal(uint8_t('a' + rng() % 26));
            w.Copy(aDistances[rng() % (sizeof(aDistances) / sizeof(aDistances[0]))], 2 + rng() % 16,
                   uint8_t(rng()));
        }
        w.End();
        const Trace expected = ReferenceDecode(w.stream.data(), w.stream.size());
        ASSERT_GE(expected.size(), 70001u); // the text and the end token's false
        EXPECT_EQ(Decode(w.stream, expected.size()), expected) << nSeed;
        EXPECT_EQ(Decode(w.stream, expected.size(), true), expected) << nSeed;
    }
}
