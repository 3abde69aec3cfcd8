// A value reads the same in every view: the page's and the comparison's text of each property,
// parsed from their output, equals the listing's, over the demo packed and over copies whose
// values are overwritten in seeded ways (NaN, infinity, colours off the 0-255 grid, enum indexes
// past the choices, string offsets at other strings or none, curve records that overrun).
#include "fxdump.h"
#include "packed_demo.h"
#include "test_support.h"

#include "pyrixmodule.h"

#include <cstring>
#include <random>
#include <regex>
#include <set>

namespace
{
const std::string MODULE = BinLibrary("sparkrig_sample");

// What a view writes to a file, read back.
std::string Output(const std::function<void(std::FILE*)>& write)
{
    std::FILE* pFile = std::tmpfile();
    EXPECT_NE(nullptr, pFile);
    if (!pFile)
        return "";
    write(pFile);
    std::string sText;
    std::rewind(pFile);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0;)
        sText.append(buffer, n);
    std::fclose(pFile);
    return sText;
}

std::vector<std::string> Lines(const std::string& sText)
{
    std::vector<std::string> lines;
    for (size_t nAt = 0, nEnd; (nEnd = sText.find('\n', nAt)) != std::string::npos; nAt = nEnd + 1)
        lines.push_back(sText.substr(nAt, nEnd - nAt));
    return lines;
}

std::string Unescape(const std::string& s)
{
    std::string sOut;
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    for (size_t i = 0; i < s.size();)
    {
        bool bEntity = false;
        for (const auto& entity : kEntities)
            if (s.compare(i, std::strlen(entity.first), entity.first) == 0)
            {
                sOut += entity.second;
                i += std::strlen(entity.first);
                bEntity = true;
                break;
            }
        if (!bEntity)
            sOut += s[i++];
    }
    return sOut;
}

// One property as a view shows it: where it stands, its name and type, and what it holds.
struct Shown
{
    std::string sEffect, sKey, sName, sType, sText;
};

// The listing's properties: effect and key lines give where each stands.
std::vector<Shown> ListingProperties(const std::string& sListing)
{
    static const std::regex kKey(R"(^    key (\d+): type (\d+)(?: (.*))?, \S+ s to \S+ s, motion link .*)");
    static const std::regex kProp(R"(^      (.*?)(?: \(([A-Za-z]+)\))? = (.*)$)");
    std::vector<Shown> props;
    std::string sEffect, sKey;
    for (const std::string& sLine : Lines(sListing))
    {
        std::smatch match;
        if (sLine.rfind("  effect \"", 0) == 0)
            sEffect = sLine.substr(10, sLine.rfind("\", ") - 10);
        else if (std::regex_match(sLine, match, kKey))
            sKey = (match[3].length() ? match[3].str() : "type " + match[2].str()) + " " + match[1].str();
        else if (std::regex_match(sLine, match, kProp))
            props.push_back({sEffect, sKey, match[1], match[2], match[3]});
    }
    return props;
}

// The page's property rows, each value as the listing would write it after "= ".
std::vector<Shown> PageProperties(const std::string& sPage)
{
    static const std::regex kRow(R"(<tr><th>(.*?)</th><td class="type">(.*?)</td><td>(.*)</td></tr>)");
    static const std::regex kSwatch(R"(^<span class="swatch checker"><span style="[^"]*"></span></span>)");
    static const std::regex kNoRecord(R"(^no curve record at (\d+)$)");
    std::vector<Shown> props;
    for (const std::string& sLine : Lines(sPage))
    {
        std::smatch match;
        if (!std::regex_match(sLine, match, kRow))
            continue;
        Shown prop{"", "", Unescape(match[1]), Unescape(match[2]), match[3]};
        const size_t nPoints = prop.sText.find("<span class=\"points\">");
        if (std::regex_match(prop.sText, match, kNoRecord))
            prop.sText = "curve @" + match[1].str() + " (no curve record there)";
        else if (nPoints != std::string::npos)
        {
            // A plot or gradient: the curve's offset is not on the page, its points are.
            const size_t nStart = nPoints + std::strlen("<span class=\"points\">");
            const std::string sPoints =
                Unescape(prop.sText.substr(nStart, prop.sText.rfind("</span>") - nStart));
            prop.sText = "curve @?:" + (sPoints.empty() ? "" : " " + sPoints);
        }
        else
            prop.sText = Unescape(std::regex_replace(prop.sText, kSwatch, ""));
        props.push_back(prop);
    }
    return props;
}

// The listing's text of a curve with the offset left out, as the page shows it.
std::string WithoutOffset(const std::string& sText)
{
    static const std::regex kCurve(R"(^curve @\d+:)");
    return std::regex_replace(sText, kCurve, "curve @?:");
}

std::vector<std::string> Points(const std::string& sText)
{
    std::vector<std::string> points;
    const size_t nColon = sText.find(": ");
    for (size_t nAt = nColon + 2, nEnd = 0; nColon != std::string::npos && nEnd != std::string::npos;
         nAt = nEnd + 2)
    {
        nEnd = sText.find(", ", nAt);
        points.push_back(sText.substr(nAt, nEnd == std::string::npos ? nEnd : nEnd - nAt));
    }
    return points;
}

struct Views
{
    std::string sListing, sPage;
};

Views Show(const std::string& sPath, const fxdump::CModuleView& module)
{
    Views views;
    std::string sError;
    fxdump::PackedFile listed, paged;
    EXPECT_TRUE(fxdump::LoadPackedFile(sPath, listed, sError)) << sError;
    EXPECT_TRUE(fxdump::LoadPackedFile(sPath, paged, sError)) << sError;
    views.sListing = Output([&](std::FILE* p) { fxdump::WriteText(listed, module, {}, p); });
    views.sPage = Output([&](std::FILE* p) { fxdump::WriteHtml({&paged}, module, {}, p); });
    return views;
}

// Every property of the page reads as in the listing, and every position it draws is a number
// (NaN and infinite values stand at 0); the properties, in order.
std::vector<Shown> PageAgreesWithListing(const Views& views, const std::string& sWhat)
{
    static const std::regex kPosition(R"re( (points|x|y|x1|x2|y1|y2|width|height|offset)="([^"]*)")re");
    static const std::regex kNumbers(R"([-0-9., %]*)");
    for (std::sregex_iterator it(views.sPage.begin(), views.sPage.end(), kPosition), end; it != end; ++it)
        EXPECT_TRUE(std::regex_match((*it)[2].str(), kNumbers)) << sWhat << ": " << (*it)[0];
    const std::vector<Shown> listed = ListingProperties(views.sListing);
    const std::vector<Shown> paged = PageProperties(views.sPage);
    EXPECT_EQ(listed.size(), paged.size()) << sWhat;
    for (size_t i = 0; i < listed.size() && i < paged.size(); ++i)
    {
        EXPECT_EQ(listed[i].sName, paged[i].sName) << sWhat;
        EXPECT_EQ(listed[i].sType, paged[i].sType) << sWhat;
        EXPECT_EQ(WithoutOffset(listed[i].sText), paged[i].sText) << sWhat << ": " << listed[i].sName;
    }
    return listed;
}

// The words of a packed file's values and curve points, and its curve records' key counts.
struct ValueWords
{
    std::vector<std::pair<uint32_t, uint32_t>> words; // file offset, type
    std::vector<uint32_t> curveCounts;                // file offsets
    std::vector<uint32_t> strings;                    // table offsets
};

ValueWords FindValues(const Bytes& bytes, const fxdump::CModuleView& module)
{
    ValueWords found;
    CPackedEffectReader reader;
    EXPECT_TRUE(reader.Read(bytes.data(), bytes.size()));
    for (uint32_t nPos = 0, nStart = 0; reader.NextString(nPos, nStart);)
        found.strings.push_back(nStart);
    CPackedEffectReader::Effect effect;
    for (uint32_t nPos = reader.GetEffectsStart(); reader.NextEffect(nPos, effect);)
        for (const CPackedEffectReader::Key& key : effect.keys)
            for (const CPackedEffectReader::Property& prop : key.props)
            {
                std::string sName;
                CPackedEffectReader::ValueInfo info;
                if (!reader.GetString(prop.nNameOffset, sName) ||
                    !module.Lookup(key.nTypeID, sName.c_str(), info))
                    continue;
                if (!info.bFunctionCurve)
                {
                    for (uint32_t i = 0; i < prop.nValueSize; i += 4)
                        found.words.emplace_back(prop.nValueOffset + i, info.eType);
                    continue;
                }
                const uint32_t nCurve = reader.ReadU32(prop.nValueOffset);
                found.curveCounts.push_back(reader.GetCurveSectionOffset() + nCurve);
                fxdump::ForEachCurvePoint(reader, nCurve, info.eType,
                                          [&](float, uint32_t nValueOffset)
                                          {
                                              found.words.emplace_back(nValueOffset - 4, ePT_Float);
                                              for (uint32_t i = 0; i < PackedValueSize(info.eType); i += 4)
                                                  found.words.emplace_back(nValueOffset + i, info.eType);
                                          });
            }
    return found;
}

uint32_t FloatBits(float f)
{
    uint32_t n;
    std::memcpy(&n, &f, 4);
    return n;
}

// A copy with about a third of its values overwritten.
Bytes Overwritten(const Bytes& original, const ValueWords& values, std::mt19937& random)
{
    Bytes bytes = original;
    const uint32_t kSpecial[] = {
        0x7FC00000u,      0xFFC00001u,     0x7F800000u,      0xFF800000u,
        0x00000001u,      FloatBits(0.5f), FloatBits(1e10f), FloatBits(77 * 0.003921569f),
        FloatBits(-1.0f), 0x80000000u};
    for (const auto& word : values.words)
    {
        if (random() % 3 != 0)
            continue;
        uint32_t n = WordAt(bytes, word.first);
        const bool bString = word.second == ePT_String || word.second == ePT_Filename ||
                             word.second == ePT_Animation || word.second == ePT_SparkrigRef;
        switch (random() % 4)
        {
        case 0:
            n ^= 1u << (random() % 32);
            break;
        case 1:
            n = bString && !values.strings.empty() ? values.strings[random() % values.strings.size()]
                                                   : static_cast<uint32_t>(random() % 9);
            break;
        case 2:
            n = kSpecial[random() % (sizeof(kSpecial) / sizeof(kSpecial[0]))];
            break;
        default:
            n = static_cast<uint32_t>(random());
        }
        PutWord(bytes, word.first, n);
    }
    for (uint32_t nAt : values.curveCounts)
        if (random() % 8 == 0)
            PutWord(bytes, nAt, WordAt(bytes, nAt) + 1 + static_cast<uint32_t>(random() % 1000));
    return bytes;
}

// Every change line of the comparison holds the two listings' texts of the property it names.
size_t DiffAgreesWithListings(const std::string& sOld, const std::string& sNew,
                              const fxdump::CModuleView& module, const std::vector<Shown>& olds,
                              const std::vector<Shown>& news)
{
    std::set<std::string> expected;
    for (size_t i = 0; i < olds.size() && i < news.size(); ++i)
    {
        const Shown& a = olds[i];
        const Shown& b = news[i];
        const std::string sWhere = "~ effect \"" + a.sEffect + "\" key " + a.sKey + " " + a.sName + ": ";
        expected.insert(sWhere + "value " + a.sText + " -> " + b.sText);
        const std::vector<std::string> pointsA = Points(a.sText), pointsB = Points(b.sText);
        if (a.sText.find(" (no curve record there)") != std::string::npos ||
            b.sText.find(" (no curve record there)") != std::string::npos || a.sText.rfind("curve @", 0) != 0)
            continue;
        for (size_t k = 0; k < std::max(pointsA.size(), pointsB.size()); ++k)
            expected.insert(sWhere + "point " + std::to_string(k) + ": " +
                            (k < pointsA.size() ? pointsA[k] : "none") + " -> " +
                            (k < pointsB.size() ? pointsB[k] : "none"));
    }
    std::string sError;
    fxdump::PackedFile oldFile, newFile;
    EXPECT_TRUE(fxdump::LoadPackedFile(sOld, oldFile, sError)) << sError;
    EXPECT_TRUE(fxdump::LoadPackedFile(sNew, newFile, sError)) << sError;
    size_t nLines = 0;
    for (const std::string& sLine :
         Lines(Output([&](std::FILE* p) { fxdump::WriteDiff(oldFile, newFile, module, false, p); })))
    {
        EXPECT_EQ(1u, expected.count(sLine)) << sLine;
        ++nLines;
    }
    return nLines;
}
} // namespace

TEST(FxdumpValueText, PageAndComparisonShowTheListingsText)
{
    fs::path demo;
    const std::vector<std::string> packed = PackDemoCopy("valuetext", demo);
    ASSERT_EQ(12u, packed.size());
    fxdump::CModuleView module;
    std::string sError;
    ASSERT_TRUE(module.Load(MODULE, sError)) << sError;

    std::mt19937 random(16);
    size_t nFiles = 0, nProperties = 0, nChanges = 0;
    for (const std::string& sPacked : packed)
    {
        const std::vector<Shown> olds = PageAgreesWithListing(Show(sPacked, module), sPacked);
        const Bytes original = ReadBytes(sPacked);
        const ValueWords values = FindValues(original, module);
        for (int nCase = 0; nCase < 3; ++nCase)
        {
            const std::string sCopy =
                WriteFile(TempPath("valuetext-copy.Fx00p"), Overwritten(original, values, random));
            const std::string sWhat = sPacked + " case " + std::to_string(nCase);
            const std::vector<Shown> news = PageAgreesWithListing(Show(sCopy, module), sWhat);
            ASSERT_EQ(olds.size(), news.size()) << sWhat;
            nChanges += DiffAgreesWithListings(sPacked, sCopy, module, olds, news);
            nProperties += news.size();
        }
        ++nFiles;
    }
    EXPECT_EQ(12u, nFiles);
    EXPECT_LT(500u, nProperties);
    EXPECT_LT(100u, nChanges);
}
