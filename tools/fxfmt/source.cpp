#include "source.h"

#include <algorithm>
#include <cstring>

namespace fxfmt
{
namespace
{
// The packer tokenizer's whitespace: these four bytes only (form feed and vertical tab are word
// bytes).
bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool EndsWord(unsigned char c)
{
    return IsSpace(c) || c == '(' || c == ')' || c == '"';
}
} // namespace

CSource::CSource(const std::string& sText) : m_sText(sText)
{
    Tokenize(m_sText, m_tokens);
    Build();
    Measure();
}

void CSource::Tokenize(const std::string& sText, std::vector<Token>& tokens)
{
    tokens.clear();
    const char* const p = sText.data();
    const size_t n = sText.size();
    size_t i = 0;
    while (i < n)
    {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (IsSpace(c))
        {
            ++i;
            continue;
        }
        Token token{TokenKind::Word, i, 1, true};
        if (c == '(')
            token.eKind = TokenKind::Open;
        else if (c == ')')
            token.eKind = TokenKind::Close;
        else if (c == '"')
        {
            token.eKind = TokenKind::String;
            const void* pClose = std::memchr(p + i + 1, '"', n - i - 1);
            token.bClosed = pClose != nullptr;
            token.nLength =
                pClose ? static_cast<size_t>(static_cast<const char*>(pClose) - p) + 1 - i : n - i;
        }
        else
        {
            size_t j = i + 1;
            while (j < n && !EndsWord(static_cast<unsigned char>(p[j])))
                ++j;
            token.nLength = j - i;
        }
        tokens.push_back(token);
        i += token.nLength;
    }
}

void CSource::Build()
{
    m_nodes.clear();
    m_nodes.emplace_back();
    m_nodes[0].bList = true;
    m_nodes[0].bClosed = false;
    std::vector<uint32_t> open;
    const uint32_t nTokens = static_cast<uint32_t>(m_tokens.size());
    for (uint32_t t = 0; t < nTokens; ++t)
    {
        const Token& token = m_tokens[t];
        if (token.eKind == TokenKind::Close && !open.empty())
        {
            Node& list = m_nodes[open.back()];
            list.bClosed = true;
            list.nLast = t;
            open.pop_back();
            continue;
        }
        const uint32_t nParent = open.empty() ? 0 : open.back();
        const uint32_t nIndex = static_cast<uint32_t>(m_nodes.size());
        m_nodes.emplace_back();
        Node& node = m_nodes.back();
        node.nFirst = node.nLast = t;
        node.nParent = nParent;
        node.nDepth = static_cast<uint32_t>(open.size());
        node.bClosed = token.bClosed;
        if (token.eKind == TokenKind::Open)
        {
            node.bList = true;
            node.bClosed = false;
            open.push_back(nIndex);
        }
        m_nodes[nParent].children.push_back(nIndex);
    }
    // A list still open at the end holds every token after its "(".
    for (const uint32_t nOpen : open)
        m_nodes[nOpen].nLast = nTokens - 1;
}

size_t CSource::Columns(const char* p, size_t nBytes)
{
    size_t nColumns = 0;
    for (size_t i = 0; i < nBytes; ++i)
        nColumns += (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80;
    return nColumns;
}

void CSource::Measure()
{
    // Children follow their parents, so one backward pass sees every child before its list.
    for (size_t i = m_nodes.size(); i-- > 1;)
    {
        Node& node = m_nodes[i];
        if (!node.bList)
        {
            const Token& token = m_tokens[node.nFirst];
            const char* p = m_sText.data() + token.nOffset;
            node.nWidth = Columns(p, token.nLength);
            node.bLineBreak = std::memchr(p, '\n', token.nLength) != nullptr;
            continue;
        }
        node.nWidth = node.bClosed ? 2 : 1;
        if (!node.children.empty())
            node.nWidth += node.children.size() - 1;
        uint32_t nHeight = 0;
        for (const uint32_t nChild : node.children)
        {
            const Node& child = m_nodes[nChild];
            node.nWidth += child.nWidth;
            nHeight = std::max(nHeight, child.nHeight);
            node.bLineBreak = node.bLineBreak || child.bLineBreak;
        }
        node.nHeight = nHeight + 1;
    }
}
} // namespace fxfmt
