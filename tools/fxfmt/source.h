// The formatter's view of a text: its tokens, cut by the packer tokenizer's rules but kept with
// their exact bytes and offsets, and the lists they form by the tree builder's rules. Faulty text
// gives a tree too: a stray ")" is an item of the top level, a list or string still open at the end
// ends there without a closing byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fxfmt
{
enum class TokenKind : uint8_t
{
    Open,  // "("
    Close, // ")"
    Word,  // a bare word
    String // a quoted string, quotes included (no closing quote when it runs to the end)
};

struct Token
{
    TokenKind eKind;
    size_t nOffset;
    size_t nLength;
    bool bClosed; // false only for a string that runs to the end of the text
};

constexpr uint32_t kNoNode = UINT32_MAX;

struct Node
{
    bool bList = false;
    bool bClosed = true; // a list whose ")" is there; a string whose closing quote is there
    uint32_t nFirst = 0; // first token: the "(" of a list, the token of an atom or a stray ")"
    uint32_t nLast = 0;  // last token of the node and everything in it
    uint32_t nParent = kNoNode;
    uint32_t nDepth = 0; // lists open around the node; 0 for the top level
    std::vector<uint32_t> children;
    // Computed by the layout's measuring pass.
    size_t nWidth = 0;       // columns of the node laid flat
    uint32_t nHeight = 0;    // 0 for an atom, 1 for a list of atoms only, ...
    bool bLineBreak = false; // a token of it holds a line feed or carriage return
};

class CSource
{
public:
    explicit CSource(const std::string& sText);

    const std::string& Text() const { return m_sText; }
    const std::vector<Token>& Tokens() const { return m_tokens; }
    // Node 0 is the top level (a list that is not in the text); the others follow in text order.
    const std::vector<Node>& Nodes() const { return m_nodes; }
    const Node& Root() const { return m_nodes[0]; }

    // Where a node begins and ends in the text (end exclusive).
    size_t Begin(const Node& node) const { return m_tokens[node.nFirst].nOffset; }
    size_t End(const Node& node) const
    {
        const Token& last = m_tokens[node.nLast];
        return last.nOffset + last.nLength;
    }
    // The tokens of a text, in order.
    static void Tokenize(const std::string& sText, std::vector<Token>& tokens);
    // Columns a run of the text takes (UTF-8 continuation bytes take none).
    static size_t Columns(const char* p, size_t nBytes);

private:
    void Build();
    void Measure();

    const std::string& m_sText;
    std::vector<Token> m_tokens;
    std::vector<Node> m_nodes;
};
} // namespace fxfmt
