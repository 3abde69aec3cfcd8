// fxfmt: the layout on examples worked out by hand, the structural refusals with their positions,
// range formatting, and the promise over the demo and seeded generated sources: the formatted text
// packs to the same bytes (through zqpack and the real plug-in) and formatting is idempotent.
#include "format.h"
#include "test_support.h"
#include "zqafile.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace
{
std::string WriteCompressed(const std::string& sPath, const std::string& sText)
{
    fs::create_directories(fs::path(sPath).parent_path());
    CZQAFile file(sPath.c_str(), false, true, false);
    for (char c : sText)
        file.WriteByte(static_cast<uint8_t>(c));
    EXPECT_TRUE(file.Close());
    return sPath;
}

std::string ReadCompressed(const std::string& sPath)
{
    CZQAFile file(sPath.c_str(), true, true, false);
    EXPECT_TRUE(file.IsOpen()) << sPath;
    std::string sText;
    uint8_t nByte = 0;
    while (file.ReadByte(nByte))
        sText.push_back(static_cast<char>(nByte));
    return sText;
}

std::string Apply(std::string sText, const std::vector<fxfmt::Edit>& edits)
{
    for (auto it = edits.rbegin(); it != edits.rend(); ++it)
        sText.replace(it->nBegin, it->nEnd - it->nBegin, it->sText);
    return sText;
}

// Effect sources with the sample module's types and properties, lists the loader ignores, odd tokens
// (quoted text with parentheses, form feeds, non-ASCII and over-long words), and whitespace of every
// kind between tokens; some end with a stray ")" or with lists left open.
class CSourceMaker
{
public:
    explicit CSourceMaker(uint32_t nSeed) : m_Random(nSeed) {}

    std::string Make()
    {
        std::string s = "(header (version 1))";
        s += "(prefab-tree (prefab (name Pre) (type Light) (properties " + Property("Light") + ")))";
        s += "(effect-tree";
        for (int e = Pick(1, 3); e > 0; --e)
        {
            const bool bContainer = Pick(0, 2) == 0;
            if (bContainer)
                s += "(container (name " + Name() + ") (children";
            s += "(effect (name " + Name() + ") (length " + std::to_string(Pick(100, 5000)) + ") (key-list";
            for (int k = Pick(0, 4), nId = 1; k > 0; --k, ++nId)
            {
                const char* pszType = kTypes[Pick(0, 4)];
                s += std::string("(key (name ") + Name() + ") (type " + pszType + ") (id " +
                     std::to_string(nId) + ") (track " + std::to_string(Pick(0, 3)) +
                     ") (start-time 0) (end-time " + std::to_string(Pick(1, 3000)) + ")";
                if (std::string(pszType) == "Light" && Pick(0, 1))
                    s += "(parent Pre)";
                if (Pick(0, 3) == 0)
                    s += Noise();
                s += "(properties";
                for (int p = Pick(0, 3); p > 0; --p)
                    s += Property(pszType);
                s += "))";
            }
            s += "))";
            if (bContainer)
                s += "))";
        }
        s += ")";
        if (Pick(0, 4) == 0)
            s += Noise();
        switch (Pick(0, 6))
        {
        case 0:
            s += ")";
            break;
        case 1:
            s.resize(s.size() - 2); // the effect tree and its last child left open
            break;
        default:
            break;
        }
        return Respace(s);
    }

private:
    static constexpr const char* kTypes[5] = {"Light", "Sound", "CameraShake", "Sprite", "Marker"};
    // Tokens a formatter could be tempted to change, where the packer keeps them (names, strings).
    static constexpr const char* kOdd[7] = {"x\fy",         "v\vw",        "\"line\nbreak\"", "\"tab\there\"",
                                            "\xE2\x82\xAC", "\"a (b) c\"", "t\"q\""};

    int Pick(int nMin, int nMax) { return std::uniform_int_distribution<int>(nMin, nMax)(m_Random); }

    std::string Name()
    {
        static const char* const kNames[] = {"Flash", "\"Big Boom\"", "Glow_2", "\"(paren) name\"",
                                             "Z\xC3\xBCnd"};
        const int n = Pick(0, 7);
        return n < 5   ? kNames[n]
               : n < 7 ? kOdd[Pick(0, 6)]
                       : std::string(static_cast<size_t>(Pick(100, 1100)), 'n');
    }

    std::string Property(const std::string& sType)
    {
        struct Prop
        {
            const char *pszType, *pszName, *pszValueType, *pszData;
        };
        static const Prop kProps[] = {
            {"Light", "Intensity", "Float", "3.5"},
            {"Light", "Radius", "Float", "12"},
            {"Light", "Color", "Color", "255 150 60 255"},
            {"Sound", "Pitch", "Float", "1.2"},
            {"Sound", "Priority", "Int", "90"},
            {"Sound", "SoundFile", "Filename", "\"sounds/a b.wav\""},
            {"CameraShake", "Amplitude", "Float", "0.8"},
            {"CameraShake", "Radius", "Float", "40"},
            {"Sprite", "Size", "Float", "0.5"},
            {"Sprite", "Rotation", "Float", "0"},
            {"Marker", "Label", "String", nullptr}, // an odd token
        };
        std::vector<const Prop*> props;
        for (const Prop& prop : kProps)
            if (sType == prop.pszType)
                props.push_back(&prop);
        const Prop& prop = *props[static_cast<size_t>(Pick(0, static_cast<int>(props.size()) - 1))];
        std::string s =
            std::string("(property (name ") + prop.pszName + ") (type " + prop.pszValueType + ") (value-list";
        for (int v = Pick(1, 4), t = 0; v > 0; --v, ++t)
            s += "(value (time " + std::to_string(t) + ") (data " +
                 (prop.pszData ? prop.pszData : kOdd[Pick(0, 6)]) + "))";
        return s + "))";
    }

    // A list the loader passes over, with tokens a formatter must leave as they are.
    std::string Noise()
    {
        static const char* const kTokens[] = {"\"a (b) c\"",     "x\fy",         "v\vw",          "\"\"",
                                              "\"line\nbreak\"", "\xE2\x82\xAC", "\"tab\there\"", "a\"q\"b"};
        std::string s = "(note";
        for (int n = Pick(1, 5); n > 0; --n)
            s += std::string(" ") + kTokens[Pick(0, 7)];
        if (Pick(0, 3) == 0)
            s += " " + std::string(static_cast<size_t>(Pick(1020, 1500)), 'w');
        return s + ")";
    }

    // The same tokens with other whitespace between them: every space outside quotes becomes other
    // whitespace, or none where a parenthesis or a quote keeps the tokens apart anyway.
    std::string Respace(const std::string& sText)
    {
        static const char* const kSpaces[] = {" ", "\n", "\r\n", "\t", "  \n    ", "\n\n"};
        std::string sOut;
        bool bQuoted = false;
        for (size_t i = 0; i < sText.size(); ++i)
        {
            const char c = sText[i];
            bQuoted = bQuoted != (c == '"');
            if (c != ' ' || bQuoted)
            {
                sOut += c;
                continue;
            }
            const bool bApart = (i > 0 && std::strchr("()\"", sText[i - 1])) ||
                                (i + 1 < sText.size() && std::strchr("()\"", sText[i + 1]));
            if (!bApart || Pick(0, 2) > 0)
                sOut += kSpaces[Pick(0, 5)];
        }
        return sOut;
    }

    std::mt19937 m_Random;
};

// The demo's sources, by path relative to the demo folder.
std::map<std::string, std::string> DemoSources()
{
    std::map<std::string, std::string> sources;
    for (const auto& entry : fs::recursive_directory_iterator(EMBERVISE_SOURCE_DIR "/demo"))
    {
        const std::string sName = entry.path().filename().string();
        if (sName.size() > 6 &&
            (sName.substr(sName.size() - 6) == ".Fx00a" || sName.substr(sName.size() - 6) == ".Fx00c"))
            sources[fs::relative(entry.path(), EMBERVISE_SOURCE_DIR "/demo").generic_string()] =
                entry.path().string();
    }
    return sources;
}

bool IsCompressedName(const std::string& sPath)
{
    return sPath.back() == 'c';
}

std::string TextOf(const std::string& sPath)
{
    return IsCompressedName(sPath) ? ReadCompressed(sPath) : ReadFile(sPath);
}

// Packs every source below the folder with zqpack and the sample module; the packed files by name.
std::map<std::string, std::string> PackFolder(const std::string& sFolder)
{
    WriteFile(sFolder + "/a.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
    SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str()); // records of this test's packs only
    const RunResult run = RunProgram("zqpack", {"-q", "-f", "--no-workers", sFolder});
    EXPECT_NE(run.nExit, -1);
    std::map<std::string, std::string> packed;
    for (const auto& entry : fs::recursive_directory_iterator(sFolder))
        if (entry.path().extension() == ".Fx00p")
            packed[fs::relative(entry.path(), sFolder).generic_string()] = ReadFile(entry.path().string());
    return packed;
}
} // namespace

// The example of the loader's grammar, laid out by hand by the layout the README describes.
TEST(FxFmt, LayoutOfTheGrammarExample)
{
    const std::string sIn =
        "(header (version 1)) (effect-tree (container (name A) (children (effect (name B) "
        "(length 2000) (key-list (key (type T) (id 1) (track 0) (start-time 0) (end-time "
        "2000) (properties (property (name P) (type Float) (value-list (value (time 0) "
        "(data 0.5)))))))))))";
    const std::string sOut = "(header (version 1))\n"
                             "(effect-tree\n"
                             "  (container (name A)\n"
                             "    (children\n"
                             "      (effect (name B) (length 2000)\n"
                             "        (key-list\n"
                             "          (key (type T) (id 1) (track 0) (start-time 0) (end-time 2000)\n"
                             "            (properties\n"
                             "              (property (name P) (type Float)\n"
                             "                (value-list (value (time 0) (data 0.5)))))))))))\n";
    EXPECT_EQ(fxfmt::FormatText(sIn), sOut);
    EXPECT_EQ(fxfmt::FormatText(sOut), sOut);

    // Small items fill lines up to 100 columns, counting the ")" that follow; the rest wraps two
    // spaces in.
    std::string sCurve = "(curve";
    for (int i = 0; i < 30; ++i)
        sCurve += "\n0.125";
    std::string sLine1 = "(curve", sLine2 = "  0.125";
    for (int i = 0; i < 15; ++i)
        sLine1 += " 0.125";
    for (int i = 0; i < 14; ++i)
        sLine2 += " 0.125";
    EXPECT_EQ(fxfmt::FormatText(sCurve + ")"), sLine1 + "\n" + sLine2 + ")\n");

    // Tokens stay as they are: quotes with spaces, parentheses and line breaks inside, words next to
    // strings, form feed and vertical tab inside words, UTF-8 (one column per character).
    EXPECT_EQ(fxfmt::FormatText("  (a\"b ( c\"d\fe\r\n\"x\ny\")"), "(a \"b ( c\" d\fe\n  \"x\ny\")\n");
    EXPECT_EQ(fxfmt::FormatText(""), "");
    EXPECT_EQ(fxfmt::FormatText(" \r\n\t"), "");
    EXPECT_EQ(fxfmt::FormatText("a\n\n(b)c"), "a\n(b)\nc\n");
    // Faulty text: the stray ")" stays an item of its own, open lists stay open, an open string takes
    // the rest of the text, line feeds included.
    EXPECT_EQ(fxfmt::FormatText(") (a (b"), ")\n(a (b\n");
    EXPECT_EQ(fxfmt::FormatText("(a   \"open (\n  "), "(a\n  \"open (\n  ");
}

TEST(FxFmt, StructuralFaultsAndWhere)
{
    struct Case
    {
        std::string sText;
        fxfmt::FaultKind eKind;
        uint32_t nLine, nColumn;
        std::string sMessage;
    };
    const std::string sDeep = std::string(1023, '(') + "(x" + std::string(1024, ')');
    const std::vector<Case> cases = {
        {"(a)\n(b))\n", fxfmt::FaultKind::UnmatchedClose, 2, 4, "')' without a matching '('"},
        {"(a)\n  (effect (name x)\n", fxfmt::FaultKind::UnclosedList, 2, 3,
         "list 'effect' is never closed; it runs to the end of the file"},
        {"(a (b \"c)))\n", fxfmt::FaultKind::UnclosedString, 1, 7,
         "string is never closed; it runs to the end of the file"},
        {sDeep, fxfmt::FaultKind::TooDeep, 1, 1024,
         "more than 1023 lists open at once; the packer cannot read the file"},
        {"(a)\n(b c\0d)", fxfmt::FaultKind::NulByte, 2, 5,
         "zero byte: this is binary data, not effect source text"},
        // The first in the text wins, but a string left open comes before the lists it leaves open.
        {"(a))\n(b \"c", fxfmt::FaultKind::UnmatchedClose, 1, 4, "')' without a matching '('"},
        {"(a\n)) (\"c", fxfmt::FaultKind::UnmatchedClose, 2, 2, "')' without a matching '('"},
    };
    for (const Case& c : cases)
    {
        const std::string sText =
            c.eKind == fxfmt::FaultKind::NulByte ? std::string(c.sText.c_str(), 8) + '\0' + "d)" : c.sText;
        const fxfmt::Fault fault = fxfmt::CheckStructure(sText);
        EXPECT_EQ(fault.eKind, c.eKind) << c.sText.substr(0, 40);
        uint32_t nLine = 0, nColumn = 0;
        fxfmt::LineColumn(sText, fault.nOffset, nLine, nColumn);
        EXPECT_EQ(nLine, c.nLine) << c.sText.substr(0, 40);
        EXPECT_EQ(nColumn, c.nColumn) << c.sText.substr(0, 40);
        EXPECT_EQ(fault.sMessage, c.sMessage);
    }
    // 1023 open lists are what the packer takes; an over-long word is cut by the packer, not a fault.
    const std::string sMost = std::string(1023, '(') + std::string(1023, ')');
    EXPECT_FALSE(fxfmt::CheckStructure(sMost));
    EXPECT_FALSE(fxfmt::CheckStructure("(a " + std::string(1500, 'w') + ")"));
    EXPECT_EQ(fxfmt::FormatText(sDeep + ")"), fxfmt::FormatText(fxfmt::FormatText(sDeep + ")")));
}

// A range re-lays the innermost list that holds it and nothing else.
TEST(FxFmt, RangeTouchesOneListOnly)
{
    const std::string sText = "(header   (version 1))\n"
                              "(effect-tree (effect (name E)   (length 10)\n"
                              "    (key-list (key (name K)\n (type Light)))))\n"
                              "(x    y)\n";
    const size_t nKey = sText.find("(key (name");
    const size_t nType = sText.find("Light");
    // Inside "(type Light)", which is laid out already: nothing else is touched.
    EXPECT_TRUE(fxfmt::FormatRange(sText, nType, nType + 2).empty());
    std::vector<fxfmt::Edit> edits = fxfmt::FormatRange(sText, nKey + 1, nType);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].nBegin, nKey);
    EXPECT_EQ(edits[0].nEnd, sText.find(")))))") + 2);
    // Laid out from where its "(" stands (column 15), continuation lines under the line's indentation.
    EXPECT_EQ(edits[0].sText, "(key (name K) (type Light))");
    // A range over two top-level items and the whitespace between.
    edits = fxfmt::FormatRange(sText, 2, sText.find("(x"));
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].nBegin, 0u);
    EXPECT_EQ(edits[0].nEnd, sText.find("(x") + 8);
    EXPECT_EQ(Apply(sText, edits), fxfmt::FormatText(sText));
    // Whitespace between top-level items touches nothing.
    EXPECT_TRUE(fxfmt::FormatRange("(a   b)\n\n\n(c)", 9, 10).empty());
    EXPECT_EQ(Apply("(a   b)\n\n\n(c)", fxfmt::FormatRange("(a   b)\n\n\n(c)", 6, 8)), "(a b)\n\n\n(c)");
}

// Format-then-pack equals pack, and formatting is idempotent, over the demo and generated sources;
// the formatter's tokens are the packer's, and any range of a formatted text is left alone.
TEST(FxFmt, SamePackedBytesAndIdempotent)
{
    const std::string sBefore = TempPath("before"), sAfter = TempPath("after");
    size_t nFiles = 0;
    const auto Add = [&](const std::string& sRelative, const std::string& sText)
    {
        const std::string sFormatted = fxfmt::FormatText(sText);
        EXPECT_TRUE(fxfmt::SameTokens(sText, sFormatted)) << sRelative;
        EXPECT_EQ(fxfmt::FormatText(sFormatted), sFormatted) << sRelative;
        for (size_t i = 0; i + 1 < sFormatted.size(); i += sFormatted.size() / 16 + 1)
            EXPECT_TRUE(fxfmt::FormatRange(sFormatted, i, i + (i % 90)).empty()) << sRelative << " at " << i;
        if (IsCompressedName(sRelative))
        {
            WriteCompressed(sBefore + "/" + sRelative, sText);
            WriteCompressed(sAfter + "/" + sRelative, sFormatted);
        }
        else
        {
            WriteFile(sBefore + "/" + sRelative, sText);
            WriteFile(sAfter + "/" + sRelative, sFormatted);
        }
        ++nFiles;
    };
    for (const auto& [sRelative, sPath] : DemoSources())
        Add("demo/" + sRelative, TextOf(sPath));
    for (uint32_t nSeed = 1; nSeed <= 60; ++nSeed)
        Add("gen/s" + std::to_string(nSeed) + (nSeed % 3 ? ".Fx00a" : ".Fx00c"), CSourceMaker(nSeed).Make());

    const std::map<std::string, std::string> before = PackFolder(sBefore);
    const std::map<std::string, std::string> after = PackFolder(sAfter);
    EXPECT_GE(before.size(), nFiles * 3 / 4); // most generated sources pack
    ASSERT_EQ(before.size(), after.size());
    for (const auto& [sName, sPacked] : before)
    {
        ASSERT_TRUE(after.count(sName)) << sName;
        EXPECT_TRUE(sPacked == after.at(sName)) << sName;
    }
    for (const auto& [sRelative, sPath] : DemoSources())
        EXPECT_TRUE(before.count("demo/" + sRelative.substr(0, sRelative.size() - 1) + "p")) << sRelative;
}

TEST(FxFmt, ProgramModes)
{
    const std::string sMessy = "(header (version 1))\n(effect-tree\n(effect (name E) (length 10)))\n";
    const std::string sFormatted = fxfmt::FormatText(sMessy);
    const std::string sPlain = WriteTemp("p/a.Fx00a", sMessy);
    const std::string sCompressed = WriteCompressed(TempPath("p/b.Fx00c"), sMessy);
    const std::string sClean = WriteTemp("p/c.Fx00a", sFormatted);

    RunResult run = RunProgram("fxfmt", {sPlain});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.sOut, sFormatted);
    run = RunProgram("fxfmt", {sCompressed}); // plain text on standard output
    EXPECT_EQ(run.sOut, sFormatted);

    run = RunProgram("fxfmt", {"--check", TempPath("p")});
    EXPECT_EQ(run.nExit, 1);
    std::string sListed; // the file names listed, in order
    for (size_t nStart = 0, nEnd; (nEnd = run.sOut.find('\n', nStart)) != std::string::npos;
         nStart = nEnd + 1)
        sListed += fs::path(run.sOut.substr(nStart, nEnd - nStart)).filename().string() + " ";
    EXPECT_EQ(sListed, "a.Fx00a b.Fx00c ");
    run = RunProgram("fxfmt", {"--check", sClean});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.sOut, "");

    run = RunProgram("fxfmt", {"--diff", sPlain});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.sOut,
              "--- a/" + sPlain + "\n+++ b/" + sPlain +
                  "\n@@ -1,3 +1,2 @@\n (header (version 1))\n-(effect-tree\n-(effect (name E) (length 10)))\n"
                  "+(effect-tree (effect (name E) (length 10)))\n");

    run = RunProgram("fxfmt", {"-i", sPlain, sCompressed, sClean});
    EXPECT_EQ(run.nExit, 0) << run.sErr;
    EXPECT_EQ(ReadFile(sPlain), sFormatted);
    EXPECT_EQ(ReadBytes(sCompressed).at(0), 0); // still compressed
    EXPECT_EQ(ReadCompressed(sCompressed), sFormatted);
    size_t nEntries = 0;
    for (const auto& entry : fs::directory_iterator(TempPath("p")))
        nEntries += entry.is_regular_file();
    EXPECT_EQ(nEntries, 3u); // no temporary file left

    run = RunProgram("fxfmt", {"--version"});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_NE(run.sOut.find("fxfmt "), std::string::npos);
}

// Applies the unified diffs that --diff printed to the files they name; false when a context or
// removed line does not match.
bool ApplyDiffs(const std::string& sDiffs, std::map<std::string, std::string>& files)
{
    std::vector<std::string> lines;
    for (size_t nStart = 0; nStart < sDiffs.size();)
    {
        const size_t nEnd = std::min(sDiffs.find('\n', nStart), sDiffs.size() - 1) + 1;
        lines.push_back(sDiffs.substr(nStart, nEnd - nStart));
        nStart = nEnd;
    }
    std::string* pFile = nullptr;
    std::vector<std::string> old;
    std::string sNew;
    size_t nAt = 0; // lines of old taken so far
    const auto Finish = [&]()
    {
        if (!pFile)
            return;
        for (; nAt < old.size(); ++nAt)
            sNew += old[nAt];
        *pFile = sNew;
    };
    for (size_t i = 0; i < lines.size(); ++i)
    {
        const std::string& sLine = lines[i];
        if (sLine.rfind("--- a/", 0) == 0)
        {
            Finish();
            // Files by name: the folder is spelt as the program gathered it.
            const std::string sPath = sLine.substr(6, sLine.size() - 7);
            const std::string sName = fs::path(sPath).filename().string();
            if (!files.count(sName) || lines.at(++i) != "+++ b/" + sPath + "\n")
                return false;
            pFile = &files[sName];
            old.clear();
            for (size_t nStart = 0; nStart < pFile->size();)
            {
                const size_t nEnd = std::min(pFile->find('\n', nStart), pFile->size() - 1) + 1;
                old.push_back(pFile->substr(nStart, nEnd - nStart));
                nStart = nEnd;
            }
            sNew.clear();
            nAt = 0;
        }
        else if (sLine.rfind("@@ -", 0) == 0)
        {
            const size_t nComma = sLine.find(',');
            const size_t nOld = std::stoul(sLine.substr(4, nComma - 4));
            const size_t nCount = std::stoul(sLine.substr(nComma + 1));
            const size_t nFirst = nCount ? nOld - 1 : nOld;
            for (; nAt < nFirst && nAt < old.size(); ++nAt)
                sNew += old[nAt];
        }
        else if (sLine[0] == ' ' || sLine[0] == '-')
        {
            std::string sText = sLine.substr(1);
            if (i + 1 < lines.size() && lines[i + 1] == "\\ No newline at end of file\n")
                sText.pop_back();
            if (nAt >= old.size() || old[nAt] != sText)
                return false;
            if (sLine[0] == ' ')
                sNew += sText;
            ++nAt;
        }
        else if (sLine[0] == '+')
        {
            sNew += sLine.substr(1);
            if (i + 1 < lines.size() && lines[i + 1] == "\\ No newline at end of file\n")
                sNew.pop_back();
        }
    }
    Finish();
    return true;
}

// --diff over the demo's text sources and generated ones (line feeds and CR LF, with and without a
// last line feed): applying what it prints gives the formatted text.
TEST(FxFmt, DiffAppliesToTheFormattedText)
{
    std::map<std::string, std::string> files, expected; // by file name
    for (const auto& [sRelative, sPath] : DemoSources())
        if (!IsCompressedName(sPath))
            files[fs::path(sPath).filename().string()] = ReadFile(sPath);
    for (uint32_t nSeed = 100; nSeed < 130; ++nSeed)
        files["g" + std::to_string(nSeed) + ".Fx00a"] = CSourceMaker(nSeed).Make();
    files["shifted.Fx00a"] = "(a)\n" + fxfmt::FormatText(files.begin()->second) + "(z  y)";
    for (const auto& [sName, sText] : files)
    {
        WriteTemp("d/" + sName, sText);
        expected[sName] = fxfmt::FormatText(sText);
    }
    const RunResult run = RunProgram("fxfmt", {"--diff", "--force", TempPath("d")});
    EXPECT_EQ(run.nExit, 0) << run.sErr;
    ASSERT_TRUE(ApplyDiffs(ReadFile(TempPath("run.out")), files));
    for (const auto& [sPath, sText] : files)
        EXPECT_EQ(sText, expected[sPath]) << sPath;
}

TEST(FxFmt, ProgramRefusals)
{
    const std::string sBroken = "(header (version 1))\n(effect-tree\n  (effect (name E))) )\n";
    const std::string sPath = WriteTemp("r/broken.Fx00a", sBroken);
    RunResult run = RunProgram("fxfmt", {"-i", sPath});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.sErr,
              sPath +
                  ":3:22: error: ')' without a matching '(' (not formatted; --force formats it anyway)\n");
    EXPECT_EQ(ReadFile(sPath), sBroken);
    run = RunProgram("fxfmt", {"--check", sPath});
    EXPECT_EQ(run.nExit, 1);
    run = RunProgram("fxfmt", {"--force", "-i", sPath});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.sErr, sPath + ":3:22: warning: ')' without a matching '('\n");
    EXPECT_EQ(ReadFile(sPath), "(header (version 1))\n(effect-tree (effect (name E)))\n)\n");

    run = RunProgram("fxfmt", {TempPath("r/missing.Fx00a")});
    EXPECT_EQ(run.nExit, 1);
    EXPECT_EQ(run.sErr.rfind("fxfmt: error: " + TempPath("r/missing.Fx00a") + ": ", 0), 0u) << run.sErr;

    // Wrong usage: exit 2 and one line that says what and where to look.
    const std::vector<std::vector<std::string>> usage = {
        {}, {"--bogus", sPath}, {"-i", "-"}, {"-i", "--check", sPath}, {sPath, sPath + "x"}};
    for (const std::vector<std::string>& args : usage)
    {
        run = RunProgram("fxfmt", args);
        EXPECT_EQ(run.nExit, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(run.sErr.rfind("fxfmt: error: ", 0), 0u) << run.sErr;
        EXPECT_NE(run.sErr.find(" (see fxfmt --help)\n"), std::string::npos) << run.sErr;
    }
}

TEST(FxFmt, ProgramReadsStandardInput)
{
#ifdef _WIN32
    GTEST_SKIP() << "the child's standard input is the test's own console handle on Windows";
#else
    const std::string sInput = WriteTemp("in.txt", "(a\n   b)");
    ASSERT_NE(std::freopen(sInput.c_str(), "rb", stdin), nullptr);
    RunResult run = RunProgram("fxfmt", {"-"});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.sOut, "(a b)\n");
#endif
}
