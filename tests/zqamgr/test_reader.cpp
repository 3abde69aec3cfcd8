#include "tree_test_support.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqareader.h"
#include "zqautil.h"

#include <set>

namespace
{
// Tokens as "( a \"b c\" ) e ." ('.' is the end); a further call after the end must end again.
std::string Tokens(const std::string& bytes, uint32_t nBufferLen = 1024, bool bCompressed = false)
{
    const std::string path = WriteTemp("tokens", bytes, bCompressed);
    CZQAReader reader;
    EXPECT_TRUE(reader.Open(path.c_str(), bCompressed));
    std::vector<char> buffer(nBufferLen);
    std::string s;
    for (uint32_t nKind = TOKEN_BEGIN_LIST; nKind != TOKEN_EOF;)
    {
        nKind = reader.NextToken(buffer.data(), nBufferLen);
        const std::string text(buffer.data());
        s += " " + std::string(nKind == TOKEN_EOF          ? "."
                               : nKind == TOKEN_BEGIN_LIST ? "("
                               : nKind == TOKEN_END_LIST   ? ")"
                               : nKind == TOKEN_STRING     ? "\"" + text + "\""
                                                           : text);
    }
    EXPECT_EQ(reader.NextToken(buffer.data(), nBufferLen), uint32_t(TOKEN_EOF));
    return s.substr(1);
}

// The tree a text must give, from a model of the grammar of its own: values are cut to 1023
// bytes and then at a zero byte, unmatched ")" are ignored, open lists close at the end.
struct RNode
{
    bool bList;
    std::string sText; // atoms: as Dump shows them
    std::vector<RNode> aKids;
};

std::string RDump(const RNode& n)
{
    if (!n.bList)
        return n.sText;
    std::string s = "(";
    for (size_t i = 0; i < n.aKids.size(); ++i)
        s += (i ? " " : "") + RDump(n.aKids[i]);
    return s + ")";
}

RNode RefTree(const std::string& t, std::vector<RNode> aStack = {RNode{true, "", {}}})
{
    auto ends = [](char c)
    { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '(' || c == ')' || c == '"'; };
    auto value = [](std::string v) { return v.substr(0, 1023).substr(0, v.substr(0, 1023).find('\0')); };
    auto close = [&]
    {
        RNode n = std::move(aStack.back());
        aStack.pop_back();
        aStack.back().aKids.push_back(std::move(n));
    };
    for (size_t i = 0; i < t.size();)
    {
        size_t j = i + 1;
        if (t[i] == '(')
            aStack.push_back({true, "", {}});
        else if (t[i] == ')' && aStack.size() > 1)
            close();
        else if (t[i] == '"')
        {
            j = std::min(t.find('"', i + 1), t.size());
            aStack.back().aKids.push_back({false, "\"" + value(t.substr(i + 1, j - i - 1)) + "\"", {}});
            ++j;
        }
        else if (!ends(t[i]))
        {
            for (j = i; j < t.size() && !ends(t[j]);)
                ++j;
            aStack.back().aKids.push_back({false, value(t.substr(i, j - i)), {}});
        }
        i = j;
    }
    while (aStack.size() > 1)
        close();
    return aStack[0];
}

// Effect-like text: three top-level lists, values crossing the file's 1024-byte reads.
std::string EffectText(int nEffects)
{
    std::string s =
        "(header (version 1))\r\n(prefab-tree (prefab (name \"Glow A\") (type Light) (properties)))\n"
        "(effect-tree\n";
    for (int i = 0; i < nEffects; ++i)
    {
        const std::string n = std::to_string(i);
        s += "  (container (name Group" + n + ") (children (effect (name Burst" + n + ") (length " +
             std::to_string(1000 + 250 * i) + ")\n    (key-list (key (type Sprite) (id " + n +
             ") (track 0) (start-time 0) (end-time 1500)\n      (properties (property (name Color) (type "
             "Color) "
             "(value-list (value (time 0) (data 255 128 0 64)) (value (time 0.5)(data 1 2 3 4))))\n"
             "\t(property (name Texture) (type Filename) (value-list (value (time 0) (data \"fx/spark " +
             n + ".tga\"))))))))))\n";
    }
    return s + ")\n";
}

std::string LoadFileDump(const std::string& path, bool bCompressed, bool* pOk)
{
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    const bool bOk = CZQANodeReader::LoadEntireFile(path.c_str(), bCompressed, &root, &alloc);
    if (pOk)
        *pOk = bOk;
    const std::string s = Dump(&root);
    root.Free(&alloc);
    return s;
}

std::string LoadDump(const std::string& text, bool bCompressed = false, bool* pOk = nullptr)
{
    return LoadFileDump(WriteTemp("load", text, bCompressed), bCompressed, pOk);
}
} // namespace

TEST(ZqaReader, TokenSequences)
{
    EXPECT_EQ(Tokens("(a \"b c\" (d))e"), "( a \"b c\" ( d ) ) e .");
    EXPECT_EQ(Tokens("(a \"b c\" (d))e", 1024, true), "( a \"b c\" ( d ) ) e .");
    EXPECT_EQ(Tokens("\"abc\"def"), "\"abc\" def .");
    EXPECT_EQ(Tokens("abc\"def\""), "abc \"def\" .");
    EXPECT_EQ(Tokens("\"\""), "\"\" .");
    EXPECT_EQ(Tokens("abc)"), "abc ) .");
    EXPECT_EQ(Tokens("abc"), "abc .");
    EXPECT_EQ(Tokens(""), ".");
    EXPECT_EQ(Tokens(" \t\r\n "), ".");
    EXPECT_EQ(Tokens("\"a(b)\n c"), "\"a(b)\n c\" .");
    EXPECT_EQ(Tokens("\x80\xff\f\v x\ty\r\nz"), "\x80\xff\f\v x y z .");
    EXPECT_EQ(Tokens(std::string("a\0b c", 5)), "a c .");
}

TEST(ZqaReader, LongTokensAreCut)
{
    std::string word;
    for (int i = 0; i < 1500; ++i)
        word += char('a' + i % 26);
    EXPECT_EQ(Tokens(word + "(next"), word.substr(0, 1023) + " ( next .");
    EXPECT_EQ(Tokens("\"" + word + "\"next"), "\"" + word.substr(0, 1023) + "\" next .");
    EXPECT_EQ(Tokens("abcdef \"ghijk\"(", 4), "abc \"ghi\" ( .");
    EXPECT_EQ(Tokens("abcdef \"ghijk\")", 1), " \"\" ) .");
}

TEST(ZqaLoad, DocumentedTrees)
{
    EXPECT_EQ(LoadDump("(a (b c) d)"), "((a (b c) d))");
    EXPECT_EQ(LoadDump("(a \"b c\" (d))e"), "((a \"b c\" (d)) e)");
    EXPECT_EQ(LoadDump(")a("), "(a ())");
    EXPECT_EQ(LoadDump("(a b))) c"), "((a b) c)");
    EXPECT_EQ(LoadDump("(a (b \"c"), "((a (b \"c\")))");

    bool bOk = false;
    EXPECT_EQ(LoadDump("", false, &bOk), "()");
    EXPECT_TRUE(bOk);

    // The root keeps what it holds; atoms carry their quoting in the flag word.
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    for (const char* psz : {"p", "q"})
    {
        CZQANode* pNode = alloc.AllocateNode();
        ASSERT_TRUE(pNode->SetValue(psz, false, &alloc) && root.AppendElement(pNode, &alloc));
    }
    const std::string path = WriteTemp("root", "\"x\" y (z)");
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc));
    EXPECT_EQ(Dump(&root), "(p q \"x\" y (z))");
    EXPECT_EQ(root.GetElement(2)->GetFlags(), 0xC0000000u);
    EXPECT_EQ(root.GetElement(3)->GetFlags(), 0x80000000u);
    EXPECT_FALSE(CZQANodeReader::LoadEntireFile((path + ".missing").c_str(), false, &root, &alloc));
    EXPECT_EQ(Dump(&root), "(p q \"x\" y (z))");
    root.Free(&alloc);
    std::remove(path.c_str());
}

TEST(ZqaLoad, NestingLimit)
{
    CZQALoadOnlyAlloc alloc(262144);
    CZQANode root;
    const std::string path = WriteTemp("deep", std::string(1023, '(') + "x");
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc));
    const CZQANode* pNode = &root;
    for (int nDepth = 0; nDepth < 1023; ++nDepth)
    {
        ASSERT_EQ(pNode->GetNumElements(), 1u);
        pNode = pNode->GetElement(0);
    }
    EXPECT_EQ(Dump(pNode), "(x)");

    root.Free(&alloc);
    const std::string path2 = WriteTemp("deeper", "a " + std::string(1024, '('));
    EXPECT_FALSE(CZQANodeReader::LoadEntireFile(path2.c_str(), false, &root, &alloc));
    EXPECT_EQ(Dump(&root), "()");
    std::remove(path.c_str());
    std::remove(path2.c_str());
}

TEST(ZqaLoad, PlainAndCompressedGiveTheSameTree)
{
    const std::string text = EffectText(30);
    const std::string plain = LoadDump(text);
    EXPECT_EQ(plain, RDump(RefTree(text)));
    EXPECT_EQ(LoadDump(text, true), plain);
}

// Every prefix of a text loads as the text's own tree with its open lists closed; compressed files
// are cut at every byte and give the tree of whatever their truncated stream decodes to.
TEST(ZqaLoad, EveryPrefixLoads)
{
    const std::string long1(1100, 'w'), long2(1030, 'q');
    for (const std::string& text : {EffectText(3), "(w " + long1 + "\t\"" + long2 + "\"\r\n) tail\v\"x"})
    {
        for (size_t n = 0; n <= text.size(); ++n)
        {
            bool bOk = false;
            ASSERT_EQ(LoadDump(text.substr(0, n), false, &bOk), RDump(RefTree(text.substr(0, n)))) << n;
            ASSERT_TRUE(bOk);
        }
        const std::string path = WriteTemp("full", text, true);
        std::ifstream in(path, std::ios::binary);
        const std::string packed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (size_t n = 0; n <= packed.size(); ++n)
        {
            const std::string cut = WriteTemp("cut", packed.substr(0, n));
            std::string decoded;
            {
                CZQAFile file(cut.c_str(), true, true, false);
                for (uint8_t b; file.IsOpen() && file.ReadByte(b);)
                    decoded += char(b);
            }
            bool bOk = false;
            ASSERT_EQ(LoadFileDump(cut, true, &bOk), RDump(RefTree(decoded))) << n;
            ASSERT_TRUE(bOk);
            std::remove(cut.c_str());
        }
        std::remove(path.c_str());
    }
}

namespace
{
// Every way a load can end well when one request fails: nothing missing, one list (with its
// contents) dropped, or only the first top-level items appended.
void AddDroppedLists(const RNode& root, RNode& node, std::set<std::string>& out)
{
    for (size_t i = 0; i < node.aKids.size(); ++i)
    {
        if (!node.aKids[i].bList)
            continue;
        RNode saved = node.aKids[i];
        node.aKids.erase(node.aKids.begin() + long(i));
        out.insert(RDump(root));
        node.aKids.insert(node.aKids.begin() + long(i), saved);
        AddDroppedLists(root, node.aKids[i], out);
    }
}
} // namespace

TEST(ZqaLoad, EveryAllocationFailure)
{
    const std::string text = EffectText(3) + "end"; // no dropped list looks like a cut-off root
    const std::string path = WriteTemp("effect", text);
    RNode full = RefTree(text, {RNode{true, "", {RNode{false, "pre", {}}}}});
    std::set<std::string> aDropped, aTruncated;
    AddDroppedLists(full, full, aDropped);
    for (size_t k = 1; k < full.aKids.size(); ++k)
        aTruncated.insert(RDump(RNode{true, "", {full.aKids.begin(), full.aKids.begin() + long(k)}}));

    int nFailed = 0, nDropped = 0, nTruncated = 0;
    for (uint32_t n = 1;; ++n)
    {
        CHeapTestAlloc alloc;
        CZQANode root;
        CZQANode* pPre = alloc.AllocateNode();
        ASSERT_TRUE(pPre->SetValue("pre", false, &alloc) && root.AppendElement(pPre, &alloc));
        alloc.m_nFailAt = alloc.m_nRequests + n;
        const bool bOk = CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc);
        const std::string tree = Dump(&root);
        root.Free(&alloc);
        ASSERT_EQ(alloc.m_nLive, 0) << n;
        if (alloc.m_nRequests < alloc.m_nFailAt)
        {
            EXPECT_TRUE(bOk);
            EXPECT_EQ(tree, RDump(full));
            break;
        }
        if (!bOk)
        {
            ++nFailed;
            EXPECT_EQ(tree, "(pre)") << n;
        }
        else if (aTruncated.count(tree))
        {
            ++nTruncated;
        }
        else
        {
            ++nDropped;
            EXPECT_EQ(aDropped.count(tree), 1u) << n << ": " << tree;
        }
    }
    EXPECT_GT(nFailed, 0);
    EXPECT_GT(nDropped, 0);
    EXPECT_EQ(nTruncated, 4); // one for each top-level append
    std::remove(path.c_str());
}
