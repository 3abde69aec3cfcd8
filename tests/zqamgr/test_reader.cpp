#include "zqa_test_support.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqareader.h"

#include <set>

namespace
{
// Tokens as "( a \"b c\" ) e ." ('.' is the end); a further call after the end must end again.
std::string Tokens(const std::string& bytes, uint32_t nBufferLen = 1024, bool bCompressed = false)
{
    CZQAReader reader;
    EXPECT_TRUE(reader.Open(WriteZqa("tokens", bytes, bCompressed).c_str(), bCompressed));
    std::vector<char> buffer(nBufferLen);
    std::string s;
    for (uint32_t nKind = TOKEN_BEGIN_LIST; nKind != TOKEN_EOF;)
    {
        nKind = reader.NextToken(buffer.data(), nBufferLen);
        const char* apsz[] = {".", "(", ")", buffer.data(), ""};
        s +=
            nKind == TOKEN_STRING ? " \"" + std::string(buffer.data()) + '"' : ' ' + std::string(apsz[nKind]);
    }
    EXPECT_EQ(reader.NextToken(buffer.data(), nBufferLen), uint32_t(TOKEN_EOF));
    return s.substr(1);
}

// The tree a text must give, from a model of the grammar of its own: values are cut to 1023
// bytes and then at a zero byte, an unmatched ")" is ignored, open lists close at the end.
struct RNode
{
    std::string sAtom; // as Dump shows it
    std::vector<RNode> aKids;
    bool bAtom = false;
};

std::string RDump(const RNode& n)
{
    std::string s;
    for (const RNode& k : n.aKids)
        s += ' ' + RDump(k);
    return !n.bAtom ? "(" + s.substr(s.empty() ? 0 : 1) + ")" : n.sAtom;
}

RNode RefTree(const std::string& t, std::vector<RNode> aOpen = {RNode{}})
{
    auto ends = [](char c) { return std::string(" \t\r\n()\"").find(c) != std::string::npos; };
    auto cut = [](const std::string& v) { return std::string(v.substr(0, 1023).c_str()); };
    auto close = [&] { aOpen[aOpen.size() - 2].aKids.push_back(std::move(aOpen.back())), aOpen.pop_back(); };
    for (size_t i = 0, j; i < t.size(); i = j)
    {
        for (j = i; j < t.size() && !ends(t[j]);)
            ++j;
        if (j > i)
            aOpen.back().aKids.push_back({cut(t.substr(i, j - i)), {}, true});
        else if (t[i] == '"')
        {
            j = std::min(t.find('"', i + 1), t.size()) + 1;
            aOpen.back().aKids.push_back({'"' + cut(t.substr(i + 1, j - i - 2)) + '"', {}, true});
        }
        else if (t[j++] == '(')
            aOpen.push_back({});
        else if (t[i] == ')' && aOpen.size() > 1)
            close();
    }
    while (aOpen.size() > 1)
        close();
    return aOpen[0];
}

// Effect-like text: three top-level lists, values crossing the file's 1024-byte reads.
std::string EffectText(int nEffects)
{
    std::string s =
        "(header (version 1))\r\n(prefab-tree (prefab (name \"Glow A\") (type Light)))\n(effect-tree\n";
    for (int i = 0; i < nEffects; ++i)
        s += "  (container (name Group" + std::to_string(i) +
             R"x() (children (effect (name Burst) (length 2000)
    (key-list (key (type Sprite) (id 3) (track 0) (start-time 0) (end-time 1500)
      (properties (property (name Color) (value-list (value (time 0) (data 255 128 0 64)) (value (time 0.5)(data 1 2))))
	(property (name Texture) (type Filename) (value-list (value (time 0) (data "fx/spark.tga"))))))))))
)x";
    return s + ")\n";
}

std::string LoadDump(const std::string& path, bool bCompressed, bool& bOk)
{
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    bOk = CZQANodeReader::LoadEntireFile(path.c_str(), bCompressed, &root, &alloc);
    const std::string s = Dump(&root);
    root.Free(&alloc);
    return s;
}

std::string LoadText(const std::string& text, bool bCompressed = false)
{
    bool bOk = false;
    const std::string s = LoadDump(WriteZqa("load", text, bCompressed), bCompressed, bOk);
    return bOk ? s : "failed";
}
} // namespace

TEST(ZqaReader, TokenSequences)
{
    EXPECT_EQ(Tokens("(a \"b c\" (d))e"), "( a \"b c\" ( d ) ) e .");
    EXPECT_EQ(Tokens("(a \"b c\" (d))e", 1024, true), "( a \"b c\" ( d ) ) e .");
    EXPECT_EQ(Tokens("\"abc\"def"), "\"abc\" def .");
    EXPECT_EQ(Tokens("abc\"def\""), "abc \"def\" .");
    EXPECT_EQ(Tokens("\"\"abc)"), "\"\" abc ) .");
    EXPECT_EQ(Tokens(""), ".");
    EXPECT_EQ(Tokens("\"a(b)\n c"), "\"a(b)\n c\" .");
    EXPECT_EQ(Tokens("\x80\xff\f\v x\ty\r\nz"), "\x80\xff\f\v x y z .");
    EXPECT_EQ(Tokens(std::string("a\0b c", 5)), "a c .");

    std::string word; // longer than the token buffer and the file's 1024-byte reads
    for (int i = 0; i < 1500; ++i)
        word += char('a' + i % 26);
    EXPECT_EQ(Tokens(word + "(next"), word.substr(0, 1023) + " ( next .");
    EXPECT_EQ(Tokens("\"" + word + "\"next"), "\"" + word.substr(0, 1023) + "\" next .");
    EXPECT_EQ(Tokens("abcdef \"ghijk\"(", 4), "abc \"ghi\" ( .");
}

// Token starts and value lengths where tokens meet the file's 1024-byte reads: a word ending at
// the last byte of a read, a parenthesis opening the next one, a word across two.
TEST(ZqaReader, TokenStartsAcrossReads)
{
    struct Unit
    {
        std::string text;
        std::vector<std::pair<uint64_t, std::string>> tokens; // start within the unit, text
    } const units[] = {
        {"(ab  cd)\n", {{0, "("}, {1, "ab"}, {5, "cd"}, {7, ")"}}},
        {"(abc\tde)\r\n", {{0, "("}, {1, "abc"}, {5, "de"}, {7, ")"}}},
    };
    for (const Unit& unit : units)
    {
        for (bool bCompressed : {false, true})
        {
            std::string text;
            for (int i = 0; i < 400; ++i)
                text += unit.text;
            CZQAReader reader;
            ASSERT_TRUE(reader.Open(WriteZqa("starts", text, bCompressed).c_str(), bCompressed));
            char szToken[1024];
            for (uint64_t nBase = 0; nBase < text.size(); nBase += unit.text.size())
            {
                for (const auto& token : unit.tokens)
                {
                    uint32_t nLength = 99;
                    const uint32_t nKind = reader.NextToken(szToken, sizeof(szToken), nLength);
                    ASSERT_EQ(reader.GetTokenStart(), nBase + token.first) << bCompressed;
                    if (token.second == "(" || token.second == ")")
                    {
                        ASSERT_EQ(nKind, token.second == "(" ? uint32_t(TOKEN_BEGIN_LIST)
                                                             : uint32_t(TOKEN_END_LIST));
                        continue;
                    }
                    ASSERT_EQ(nKind, uint32_t(TOKEN_VALUE));
                    ASSERT_EQ(szToken, token.second);
                    ASSERT_EQ(nLength, token.second.size());
                }
            }
            EXPECT_EQ(reader.NextToken(szToken, sizeof(szToken)), uint32_t(TOKEN_EOF));
            EXPECT_EQ(reader.GetTokenStart(), text.size());
        }
    }
}

TEST(ZqaLoad, FormatExampleTrees)
{
    EXPECT_EQ(LoadText("(a (b c) d)"), "((a (b c) d))");
    EXPECT_EQ(LoadText("(a \"b c\" (d))e"), "((a \"b c\" (d)) e)");
    EXPECT_EQ(LoadText(")a("), "(a ())");
    EXPECT_EQ(LoadText("(a b))) c (d (e \"f"), "((a b) c (d (e \"f\")))");
    EXPECT_EQ(LoadText(""), "()");
    EXPECT_EQ(LoadText(std::string(1023, '(')), std::string(1024, '(') + std::string(1024, ')'));
    EXPECT_EQ(LoadText("a " + std::string(1024, '(')), "failed");

    CZQALoadOnlyAlloc alloc(4096); // the root keeps what it holds, also after a failed load
    CZQANode root;
    for (const char* psz : {"p", "q"})
    {
        CZQANode* pNode = alloc.AllocateNode();
        ASSERT_TRUE(pNode->SetValue(psz, false, &alloc) && root.AppendElement(pNode, &alloc));
    }
    const std::string path = WriteTemp("root", "\"x\" y (z)");
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc));
    EXPECT_FALSE(CZQANodeReader::LoadEntireFile((path + ".missing").c_str(), false, &root, &alloc));
    EXPECT_EQ(Dump(&root), "(p q \"x\" y (z))");
    root.Free(&alloc);
}

// Every prefix of a text loads as the text's own tree with its open lists closed; compressed files
// are cut at every byte and give the tree of whatever their truncated stream decodes to.
TEST(ZqaLoad, EveryPrefixLoads)
{
    for (const std::string& text : {EffectText(3), "(w " + std::string(1100, 'w') + "\t\"" +
                                                       std::string(1030, 'q') + "\"\r\n) tail\v\"x"})
    {
        for (size_t n = 0; n <= text.size(); ++n)
            ASSERT_EQ(LoadText(text.substr(0, n)), RDump(RefTree(text.substr(0, n)))) << n;
        const std::string packed = ReadFile(WriteZqa("full", text, true));
        for (size_t n = 0; n <= packed.size(); ++n)
        {
            const std::string cut = WriteZqa("cut", packed.substr(0, n), false);
            std::string decoded;
            CZQAFile file(cut.c_str(), true, true, false);
            for (uint8_t b; file.IsOpen() && file.ReadByte(b);)
                decoded += char(b);
            bool bOk = false;
            ASSERT_EQ(LoadDump(cut, true, bOk), RDump(RefTree(decoded))) << n;
            ASSERT_TRUE(bOk);
        }
        EXPECT_EQ(LoadText(text, true), RDump(RefTree(text)));
    }
}

namespace
{
// The trees with one list (and its contents) dropped.
void AddDroppedLists(const RNode& root, RNode& node, std::set<std::string>& out)
{
    for (size_t i = 0; i < node.aKids.size(); ++i)
    {
        if (node.aKids[i].bAtom)
            continue;
        RNode saved = node.aKids[i];
        node.aKids.erase(node.aKids.begin() + long(i));
        out.insert(RDump(root));
        node.aKids.insert(node.aKids.begin() + long(i), saved);
        AddDroppedLists(root, node.aKids[i], out);
    }
}
} // namespace

// One failed request per load, for each request in turn: the load fails with the root unchanged,
// or goes on without the list that could not be built, or (the last request, one array for all
// top-level items) appends them one at a time instead. When that fails too, only the first
// top-level items are appended.
TEST(ZqaLoad, EveryAllocationFailure)
{
    const std::string path = WriteTemp("effect", EffectText(3) + "end"); // no dropped list looks cut off
    RNode full = RefTree(EffectText(3) + "end", {RNode{"", {RNode{"pre", {}, true}}}});
    std::set<std::string> aDropped, aTruncated;
    AddDroppedLists(full, full, aDropped);
    for (size_t k = 1; k < full.aKids.size(); ++k)
        aTruncated.insert(RDump(RNode{"", {full.aKids.begin(), full.aKids.begin() + long(k)}}));

    // Loads with the requests at nFailAt and nFailAlsoAt (counted after the root's own) failing.
    auto Load = [&](uint32_t nFailAt, uint32_t nFailAlsoAt, bool& bOk, uint32_t& nRequests)
    {
        CHeapTestAlloc alloc;
        CZQANode root;
        CZQANode* pPre = alloc.AllocateNode();
        EXPECT_TRUE(pPre->SetValue("pre", false, &alloc) && root.AppendElement(pPre, &alloc));
        const uint32_t nBefore = alloc.m_nRequests;
        alloc.m_nFailAt = nBefore + nFailAt;
        alloc.m_nFailAlsoAt = nFailAlsoAt ? nBefore + nFailAlsoAt : 0;
        bOk = CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc);
        nRequests = alloc.m_nRequests - nBefore;
        const std::string tree = Dump(&root);
        root.Free(&alloc);
        EXPECT_EQ(alloc.m_nLive, 0) << nFailAt;
        return tree;
    };
    bool bOk = false;
    uint32_t nRequests = 0;
    ASSERT_EQ(Load(0, 0, bOk, nRequests), RDump(full));
    const uint32_t nAll = nRequests; // the last one is the array for the top-level items

    int nFailed = 0, nDropped = 0;
    for (uint32_t n = 1; n < nAll; ++n)
    {
        const std::string tree = Load(n, 0, bOk, nRequests);
        nFailed += !bOk && tree == "(pre)";
        nDropped += bOk && aDropped.count(tree);
        ASSERT_EQ(nFailed + nDropped, int(n)) << tree;
    }
    EXPECT_GT(nFailed, 0);
    EXPECT_GT(nDropped, 0);
    EXPECT_EQ(Load(nAll, 0, bOk, nRequests), RDump(full));
    EXPECT_TRUE(bOk);

    // Then one request per item, each copying the array: the k-th failing keeps k - 1 items.
    int nTruncated = 0;
    for (uint32_t k = 1; k < full.aKids.size(); ++k)
    {
        const std::string tree = Load(nAll, nAll + k, bOk, nRequests);
        nTruncated += bOk && aTruncated.count(tree);
    }
    EXPECT_EQ(nTruncated, 4); // one for each top-level item
}

namespace
{
// Every token the observer is told of, as "kind@start", and how many nodes it saw made.
class CTokenLog final : public IZQANodeObserver
{
public:
    void OnToken(uint32_t eToken, uint64_t nStart) override
    {
        m_sTokens += std::to_string(eToken) + "@" + std::to_string(nStart) + " ";
    }
    void OnNode(const CZQANode*, uint64_t) override { ++m_nNodes; }
    std::string m_sTokens;
    size_t m_nNodes = 0;
};

size_t CountNodes(const CZQANode* pNode)
{
    size_t n = 1;
    for (uint32_t i = 0; pNode->IsList() && i < pNode->GetNumElements(); ++i)
        n += CountNodes(pNode->GetElement(i));
    return n;
}

// Text of every kind of token in random runs: short and long words and strings, zero bytes inside
// both, bytes that are not whitespace, parentheses (some unmatched), whitespace runs. Large enough
// that tokens meet the ends of the file's reads and of the decoder's chunks.
std::string SeededText(uint64_t nSeed, size_t nSize)
{
    std::string s;
    int nDepth = 0;
    auto Next = [&]()
    { return uint32_t((nSeed = nSeed * 6364136223846793005ull + 1442695040888963407ull) >> 33); };
    const char* const apszWords[] = {"a", "key", "0.25", "x\fy", "\x80\xff", "start-time", "w\vw"};
    while (s.size() < nSize)
    {
        const uint32_t n = Next() % 100;
        if (n < 22)
            s += '(', ++nDepth;
        else if (n < 42)
            s += ')', nDepth -= nDepth > 0;
        else if (n < 70)
            s += apszWords[Next() % 7];
        else if (n < 72)
            s += std::string(1000 + Next() % 100, char('a' + Next() % 26)); // kept to 1023 bytes
        else if (n < 74)
            s += "ab" + std::string(1, '\0') + "cd"; // the value stops at the zero byte
        else if (n < 82)
            s += "\"s (t)\n\"";
        else if (n < 83)
            s += '"' + std::string(1020 + Next() % 10, 'q') + '"';
        else if (n < 84)
            s += "\"z" + std::string(1, '\0') + "z\"";
        else
            s += std::string(1 + Next() % 6, " \t\r\n"[Next() % 4]);
        if (nDepth > 600)
            s += std::string(300, ')'), nDepth -= 300;
    }
    return s;
}
} // namespace

// Seeded texts load to the model's tree, plain and compressed, with any allocator; with an observer
// the tokens and their starts are those NextToken gives, and the tree is the same.
TEST(ZqaLoad, SeededTextsLoadAsTheModelSays)
{
    for (uint64_t nSeed = 1; nSeed <= 3; ++nSeed)
    {
        const std::string text = SeededText(nSeed, 150000);
        const std::string expected = RDump(RefTree(text));
        for (bool bCompressed : {false, true})
        {
            const std::string path = WriteZqa("seeded", text, bCompressed);
            EXPECT_EQ(LoadText(text, bCompressed), expected) << nSeed;

            std::string sTokens;
            CZQAReader reader;
            ASSERT_TRUE(reader.Open(path.c_str(), bCompressed));
            char szToken[1024];
            for (uint32_t nKind = TOKEN_BEGIN_LIST; nKind != TOKEN_EOF;)
            {
                nKind = reader.NextToken(szToken, sizeof(szToken));
                sTokens += std::to_string(nKind) + "@" + std::to_string(reader.GetTokenStart()) + " ";
            }

            CTokenLog log;
            CHeapTestAlloc alloc;
            CZQANode root;
            ASSERT_TRUE(reader.Open(path.c_str(), bCompressed));
            ASSERT_TRUE(CZQANodeReader::LoadEntireFile(reader, &root, &alloc, &log));
            EXPECT_EQ(Dump(&root), expected) << nSeed;
            EXPECT_EQ(log.m_sTokens, sTokens) << nSeed;
            EXPECT_EQ(log.m_nNodes + 1, CountNodes(&root)); // every node but the root
            root.Free(&alloc);
            EXPECT_EQ(alloc.m_nLive, 0);
        }
    }
}
