// Text from files on its way out: to a terminal (Printable), into JSON (JsonText) and into CSV
// (CsvField), whole and in pieces.
#include "csvfield.h"
#include "jsontext.h"
#include "printable.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>

namespace
{
// Bytes that hit every class: ASCII, controls, C1, lead bytes, continuations, and the edges of the
// ranges where a sequence turns overlong, a surrogate or too large.
std::string RandomBytes(std::mt19937& random, size_t nSize)
{
    static const unsigned char kBytes[] = {'a',  ' ',  '"',  '\\', ',',  '=',  0x00, 0x07, 0x09, 0x0D, 0x1B,
                                           0x7F, 0x80, 0x8F, 0x90, 0x9B, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                           0xC3, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    std::string s;
    for (size_t i = 0; i < nSize; ++i)
        s += static_cast<char>(kBytes[random() % sizeof(kBytes)]);
    return s;
}

// Cuts a text into pieces at random places and feeds them as the programs do: what a piece leaves
// comes again at the start of the next.
template <class Feed>
void InPieces(std::mt19937& random, const std::string& sText, Feed feed)
{
    std::string sCarry;
    for (size_t nAt = 0; nAt < sText.size() || !sCarry.empty() || nAt == 0;)
    {
        const size_t nTake = std::min(sText.size() - nAt, static_cast<size_t>(random() % 6));
        std::string sPiece = sCarry + sText.substr(nAt, nTake);
        nAt += nTake;
        const bool bLast = nAt == sText.size();
        const size_t nUsed = feed(sPiece.data(), sPiece.size(), bLast);
        sCarry = sPiece.substr(nUsed);
        if (bLast)
            break;
    }
}

std::string Hex(const std::string& s)
{
    std::string sHex;
    AppendHexBytes(sHex, s.data(), s.size());
    return sHex;
}
} // namespace

TEST(TextForTerminals, ControlBytesAndMalformedUtf8AreEscaped)
{
    EXPECT_EQ("a\\x1B]0;title\\x07b\\x7F\xC3\xA9", Printable("a\x1B]0;title\x07"
                                                             "b\x7F\xC3\xA9"));
    // C1 controls as bytes and as characters, a tab, a lone continuation.
    EXPECT_EQ("\\x9B\\xC2\\x9B\\x09\\x80\xC2\xA0", Printable("\x9B\xC2\x9B\t\x80\xC2\xA0"));
    // Four-byte sequences from F0 on are text; overlong forms, surrogates and code points above
    // U+10FFFF are not, nor a sequence cut short.
    EXPECT_EQ("\xF0\x9F\x98\x80|\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF",
              Printable("\xF0\x9F\x98\x80|\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF"));
    EXPECT_EQ("\\xF0\\x8F\\xBF\\xBF|\\xC0\\x80|\\xED\\xA0\\x80|\\xF4\\x90\\x80\\x80|\\xE2\\x82",
              Printable("\xF0\x8F\xBF\xBF|\xC0\x80|\xED\xA0\x80|\xF4\x90\x80\x80|\xE2\x82"));
}

TEST(TextForJson, KeepsTextAndEveryByte)
{
    // Well-formed UTF-8, a four-byte sequence from F0 included, passes unchanged and exactly.
    std::string sOut;
    EXPECT_TRUE(AppendJsonString(sOut, "\xF0\x9F\x98\x80 \xF0\x90\x80\x80 \xC3\xA9"));
    EXPECT_EQ("\"\xF0\x9F\x98\x80 \xF0\x90\x80\x80 \xC3\xA9\"", sOut);
    EXPECT_TRUE(IsUtf8("\xF0\x90\x80\x80"));
    EXPECT_FALSE(IsUtf8("\xF0\x8F\xBF\xBF"));
    EXPECT_FALSE(IsUtf8("\xF0\x90\x80"));

    // The bytes travel beside the text that cannot hold them, right after it.
    nlohmann::ordered_json value = {
        {"name", "a\xFF"}, {"list", {{{"text", "\xC0\x80"}, {"n", 1}}}}, {"ok", "b"}};
    AddJsonBytes(value);
    EXPECT_EQ(R"({"name":"a�","nameBytes":"61ff","list":[{"text":"��","textBytes":"c080","n":1}],"ok":"b"})",
              value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));

    // Seeded random byte strings: the text is nlohmann's, piece by piece as whole; exact exactly
    // when nlohmann takes the bytes as they are, and then the bytes come back from the text.
    std::mt19937 random(16);
    for (int nCase = 0; nCase < 3000; ++nCase)
    {
        const std::string sBytes = RandomBytes(random, random() % 12);
        std::string sWhole;
        const bool bExact = AppendJsonString(sWhole, sBytes);
        EXPECT_EQ(nlohmann::json(sBytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  sWhole)
            << Hex(sBytes);
        bool bStrict = true;
        try
        {
            (void)nlohmann::json(sBytes).dump();
        }
        catch (const nlohmann::json::type_error&)
        {
            bStrict = false;
        }
        EXPECT_EQ(bStrict, bExact) << Hex(sBytes);
        EXPECT_EQ(bStrict, IsUtf8(sBytes)) << Hex(sBytes);
        if (bExact)
        {
            EXPECT_EQ(sBytes, nlohmann::json::parse(sWhole).get<std::string>());
        }

        CJsonStringWriter pieces;
        std::string sPieces = "\"";
        InPieces(random, sBytes,
                 [&](const char* p, size_t n, bool)
                 {
                     pieces.Feed(sPieces, p, n);
                     return n;
                 });
        pieces.Finish(sPieces);
        EXPECT_EQ(sWhole, sPieces + "\"") << Hex(sBytes);
        EXPECT_EQ(bExact, pieces.IsExact());
    }
}

TEST(TextForCsv, FieldsAreQuotedEscapedAndNeverFormulas)
{
    EXPECT_EQ("plain", CsvField("plain"));
    EXPECT_EQ("\"a,b\"", CsvField("a,b"));
    EXPECT_EQ("\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"", CsvField("=HYPERLINK(\"http://x\",\"y\")"));
    EXPECT_EQ("'+1", CsvField("+1"));
    EXPECT_EQ("'-2", CsvField("-2"));
    EXPECT_EQ("'@SUM(A1)", CsvField("@SUM(A1)"));
    EXPECT_EQ("a=1", CsvField("a=1"));
    // Control bytes never reach the file: ESC, BEL, CR, a C1 byte; a tab or CR in front is text.
    EXPECT_EQ("T\\x1B]0;x\\x07\\x0D\\x9B", CsvField("T\x1B]0;x\x07\r\x9B"));
    EXPECT_EQ("\\x09=1", CsvField("\t=1"));
    EXPECT_EQ("\\x0D\\x0A", CsvField("\r\n"));
    EXPECT_EQ("", CsvField(""));

    // In pieces as whole, whatever the cuts.
    std::mt19937 random(4180);
    for (int nCase = 0; nCase < 2000; ++nCase)
    {
        const std::string sBytes = RandomBytes(random, random() % 12);
        CCsvFieldWriter field(CsvNeedsQuotes(sBytes.data(), sBytes.size()));
        std::string sPieces;
        InPieces(random, sBytes,
                 [&](const char* p, size_t n, bool bLast) { return field.Feed(sPieces, p, n, bLast); });
        field.Finish(sPieces);
        const std::string sWhole = CsvField(sBytes);
        EXPECT_EQ(sWhole, sPieces) << Hex(sBytes);
        // No control byte, and a field is quoted exactly when a comma or quote needs it.
        for (char c : sWhole)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << Hex(sBytes);
        EXPECT_EQ(sBytes.find_first_of(",\"") != std::string::npos, !sWhole.empty() && sWhole[0] == '"');
    }
}
