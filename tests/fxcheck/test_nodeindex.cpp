// Where the checker places the packer's nodes: every node's start and its list's ")" against a
// plain reading of seeded random texts, plain and compressed, small and large enough to fill many
// blocks of the tree's allocator.
#include "nodeindex.h"
#include "sourcetext.h"
#include "test_support.h"
#include "zqafile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{
// A node as a plain reading of the text format sees it.
struct PlainNode
{
    uint64_t nStart = 0;
    bool bList = false;
    bool bClosed = false; // a list closed by a ")"
    uint64_t nClose = 0;
    std::vector<size_t> children;
};

// Whitespace is space, tab, line feed and carriage return; a ")" without its "(" is dropped; a word
// ends before whitespace, a parenthesis or a quote; a string runs to its next quote or the end.
std::vector<PlainNode> PlainReading(const std::string& sText)
{
    std::vector<PlainNode> nodes(1); // the root
    std::vector<size_t> open = {0};
    auto add = [&](uint64_t nStart, bool bList)
    {
        nodes.push_back(PlainNode());
        nodes.back().nStart = nStart;
        nodes.back().bList = bList;
        nodes[open.back()].children.push_back(nodes.size() - 1);
        return nodes.size() - 1;
    };
    for (size_t i = 0; i < sText.size();)
    {
        const char c = sText[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            ++i;
        else if (c == '(')
            open.push_back(add(i++, true));
        else if (c == ')')
        {
            if (open.size() > 1)
            {
                nodes[open.back()].bClosed = true;
                nodes[open.back()].nClose = i;
                open.pop_back();
            }
            ++i;
        }
        else
        {
            add(i, false);
            const size_t nEnd = c == '"' ? sText.find('"', i + 1) : sText.find_first_of(" \t\n\r()\"", i);
            i = nEnd == std::string::npos ? sText.size() : nEnd + (c == '"' ? 1 : 0);
        }
    }
    return nodes;
}

std::string RandomText(std::mt19937& random, size_t nPieces)
{
    static const std::vector<std::string> pieces = {"(",  "(",  "(",      ")",     ")", " ",
                                                    "\n", "\t", "\r\n",   "ab",    "7", "\"q (r\"",
                                                    "\"", "é",  "(name ", "(data "};
    std::string sText;
    for (size_t n = 0; n < nPieces; ++n)
    {
        // Now and then a word longer than the reader keeps.
        if (random() % 500 == 0)
            sText += " " + std::string(1500 + random() % 100, 'w') + " ";
        else
            sText += pieces[random() % pieces.size()];
    }
    return sText;
}

// A long text that the packer can read: a few levels deep, strings closed.
std::string LongText(std::mt19937& random, size_t nPieces)
{
    static const std::vector<std::string> pieces = {"(", "(key ", ")", " ", "\n", "x", "12", "\"s t\""};
    std::string sText;
    int nDepth = 0;
    for (size_t n = 0; n < nPieces; ++n)
    {
        const std::string& sPiece = pieces[random() % pieces.size()];
        const int nStep = sPiece[0] == '(' ? 1 : sPiece[0] == ')' ? -1 : 0;
        if (nDepth + nStep > 40)
            continue;
        nDepth += nStep;
        sText += sPiece;
    }
    return sText;
}

// Walks the tree and the plain reading side by side.
void ExpectSamePlaces(const CSourceText& source, const CZQANode* pNode, const std::vector<PlainNode>& plain,
                      size_t nPlain, const std::string& sWhat)
{
    const PlainNode& want = plain[nPlain];
    if (nPlain != 0)
    {
        ASSERT_EQ(source.Offset(pNode), want.nStart) << sWhat;
        uint64_t nClose = 0;
        ASSERT_EQ(source.CloseOffset(pNode, nClose), want.bClosed) << sWhat << " at " << want.nStart;
        if (want.bClosed)
        {
            ASSERT_EQ(nClose, want.nClose) << sWhat << " at " << want.nStart;
        }
    }
    ASSERT_EQ(pNode->IsList(), nPlain == 0 || want.bList) << sWhat << " at " << want.nStart;
    const uint32_t nCount = pNode->IsList() ? pNode->GetNumElements() : 0;
    ASSERT_EQ(nCount, want.children.size()) << sWhat << " at " << want.nStart;
    for (uint32_t i = 0; i < nCount; ++i)
        ExpectSamePlaces(source, pNode->GetElement(i), plain, want.children[i], sWhat);
}

void WriteCompressed(const std::string& sPath, const std::string& sText)
{
    CZQAFile file(sPath.c_str(), false, true, false);
    for (char c : sText)
        file.WriteByte(static_cast<uint8_t>(c));
    EXPECT_TRUE(file.Close());
}
} // namespace

TEST(FxCheckPositions, EveryNodeSitsWhereAPlainReadingPutsIt)
{
    std::mt19937 random(2718);
    for (int nRound = 0; nRound < 120; ++nRound)
    {
        // Every tenth text is large: its tree fills many allocator blocks.
        const std::string sText =
            nRound % 10 == 9 ? LongText(random, 60000) : RandomText(random, 1 + random() % 60);
        const std::vector<PlainNode> plain = PlainReading(sText);
        const bool bCompressed = nRound % 3 == 1;
        CSourceText source;
        std::vector<Diagnostic> diags;
        if (bCompressed)
        {
            const std::string sPath = TempPath("positions.Fx00c");
            WriteCompressed(sPath, sText);
            ASSERT_TRUE(source.Load(sPath, diags));
        }
        else
            ASSERT_TRUE(source.LoadView("positions.Fx00a", sText, diags));
        const std::string sWhat = "round " + std::to_string(nRound) + (bCompressed ? " (compressed)" : "");
        ExpectSamePlaces(source, &source.Root(), plain, 0, sWhat);
        EXPECT_EQ(source.Text(), sText) << sWhat;
    }
}

// Nodes the tree does not hold have no place; a tree given back takes its places with it.
TEST(FxCheckPositions, NodesOutsideTheTreeHaveNone)
{
    const std::string sText = "(a (b) c) (d";
    CSourceText source;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(source.LoadView("outside.Fx00a", sText, diags));
    const CZQANode* pB = source.Root().GetElement(0)->GetElement(1);
    EXPECT_EQ(source.Offset(pB), 3u);
    uint64_t nClose = 0;
    EXPECT_TRUE(source.CloseOffset(pB, nClose));
    EXPECT_EQ(nClose, 5u);
    const CZQANode* pD = source.Root().GetElement(1);
    EXPECT_EQ(source.Offset(pD), 10u);
    EXPECT_FALSE(source.CloseOffset(pD, nClose)); // closed by the end of the text

    CZQANode foreign;
    EXPECT_EQ(source.Offset(&foreign), 0u);
    EXPECT_FALSE(source.CloseOffset(&foreign, nClose));
    EXPECT_EQ(source.Offset(&source.Root()), 0u);
    EXPECT_FALSE(source.CloseOffset(&source.Root(), nClose));

    source.ReleaseTree();
    EXPECT_EQ(source.Root().GetNumElements(), 0u);
    uint32_t nLine = 0, nColumn = 0;
    source.Position(10, nLine, nColumn);
    EXPECT_EQ(nLine, 1u);
    EXPECT_EQ(nColumn, 11u);
}

// Offsets take four bytes until one needs more; then all of them keep their values.
TEST(FxCheckPositions, OffsetColumnWidensWithoutLosingValues)
{
    COffsetColumn column;
    const std::vector<uint64_t> values = {0,           7,  std::numeric_limits<uint32_t>::max(),
                                          1ull << 33u, 12, (1ull << 40u) + 3};
    for (size_t i = 0; i < values.size(); ++i)
    {
        column.Push(values[i]);
        ASSERT_EQ(column.Size(), i + 1);
        for (size_t j = 0; j <= i; ++j)
            EXPECT_EQ(column[j], values[j]) << "after " << i + 1 << " values";
    }
}

// A large text takes allocator blocks of more than 64 KiB, whose nodes are placed in several runs
// each; a list with more elements than a block holds gets an array of its own.
TEST(FxCheckPositions, LargeTreesAndLongListsKeepTheirPlaces)
{
    std::mt19937 random(31415);
    const std::string sLarge = LongText(random, 360000);
    ASSERT_GT(sLarge.size(), 600000u);
    CSourceText large;
    std::vector<Diagnostic> diags;
    ASSERT_TRUE(large.LoadView("large.Fx00a", sLarge, diags));
    ExpectSamePlaces(large, &large.Root(), PlainReading(sLarge), 0, "large text");

    // "(a x x ... x)": the k-th x (k from 1) starts at 2k + 1; the ")" stands at 2 + 2n.
    const uint32_t nCount = 20000;
    std::string sLong = "(a";
    for (uint32_t k = 0; k < nCount; ++k)
        sLong += " x";
    sLong += ")";
    CSourceText source;
    ASSERT_TRUE(source.LoadView("long.Fx00a", sLong, diags));
    const CZQANode* pList = source.Root().GetElement(0);
    ASSERT_EQ(pList->GetNumElements(), nCount + 1);
    for (uint32_t k : {1u, 2u, 64u, 65u, 12345u, nCount})
        EXPECT_EQ(source.Offset(pList->GetElement(k)), 2ull * k + 1) << "element " << k;
    uint64_t nClose = 0;
    ASSERT_TRUE(source.CloseOffset(pList, nClose));
    EXPECT_EQ(nClose, 2ull + 2 * nCount);
    EXPECT_FALSE(source.CloseOffset(pList->GetElement(nCount), nClose)); // a word has no ")"
}

// Offsets within 32767 of their group's first one take two bytes, the rest are kept aside; every
// one reads back as pushed, in groups of 64, across a far one and after it.
TEST(FxCheckPositions, OffsetColumnKeepsNearAndFarOffsets)
{
    COffsetColumn column;
    // Group 0 starts at 100000: 132767 and 67233 are the nearest and lowest near ones, 132768 and
    // 67232 the first far ones.
    const std::vector<uint64_t> edges = {100000, 132767, 67233, 132768, 67232, 0, 100001};
    for (uint64_t n : edges)
        column.Push(n);
    for (size_t i = 0; i < edges.size(); ++i)
        EXPECT_EQ(column[i], edges[i]) << "value " << i;

    // Walk-order places: mostly ascending, now and then far back (a list's "(") or far ahead.
    std::mt19937 random(1618);
    std::vector<uint64_t> values(edges);
    uint64_t nAt = 100001;
    for (int i = 0; i < 20000; ++i)
    {
        const uint32_t nKind = random() % 100;
        if (nKind < 3)
            values.push_back(nAt - std::min<uint64_t>(nAt, random() % 200000));
        else if (nKind < 5)
            values.push_back(nAt += 30000 + random() % 10000);
        else if (nKind == 5)
            values.push_back(nAt += 1ull << (32 + random() % 8));
        else
            values.push_back(nAt += random() % 40);
        column.Push(values.back());
    }
    ASSERT_EQ(column.Size(), values.size());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(column[i], values[i]) << "value " << i;
}
