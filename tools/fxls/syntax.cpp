#include "syntax.h"

#include <cstring>

bool IsSyntaxSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

CSyntaxTree::CSyntaxTree(const std::string& sText) : m_sText(sText)
{
    m_nodes.emplace_back();
    m_nodes[0].bList = true;
    m_nodes[0].nEnd = sText.size();
    std::vector<uint32_t> open = {0};
    std::vector<uint32_t> lastChild = {SyntaxNode::kNone};
    const char* p = sText.data();
    const size_t n = sText.size();
    auto add = [&](SyntaxNode node)
    {
        const uint32_t nParent = open.back();
        node.nParent = nParent;
        const uint32_t nIndex = static_cast<uint32_t>(m_nodes.size());
        m_nodes.push_back(node);
        if (lastChild.back() == SyntaxNode::kNone)
            m_nodes[nParent].nFirstChild = nIndex;
        else
            m_nodes[lastChild.back()].nNextSibling = nIndex;
        lastChild.back() = nIndex;
        ++m_nodes[nParent].nChildren;
        return nIndex;
    };
    size_t i = 0;
    while (i < n)
    {
        const char c = p[i];
        if (IsSyntaxSpace(c))
        {
            ++i;
            continue;
        }
        SyntaxNode node;
        node.nBegin = i;
        if (c == '(')
        {
            node.bList = true;
            node.bClosed = false;
            node.nEnd = n;
            open.push_back(add(node));
            lastChild.push_back(SyntaxNode::kNone);
            ++i;
        }
        else if (c == ')')
        {
            if (open.size() > 1)
            {
                m_nodes[open.back()].nEnd = i + 1;
                m_nodes[open.back()].bClosed = true;
                open.pop_back();
                lastChild.pop_back();
            }
            ++i;
        }
        else if (c == '"')
        {
            const void* pClose = std::memchr(p + i + 1, '"', n - i - 1);
            node.bQuoted = true;
            node.bClosed = pClose != nullptr;
            node.nEnd = pClose ? static_cast<size_t>(static_cast<const char*>(pClose) - p) + 1 : n;
            add(node);
            i = static_cast<size_t>(node.nEnd);
        }
        else
        {
            size_t j = i + 1;
            while (j < n && !IsSyntaxSpace(p[j]) && p[j] != '(' && p[j] != ')' && p[j] != '"')
                ++j;
            node.nEnd = j;
            add(node);
            i = j;
        }
    }
}

std::string CSyntaxTree::Value(uint32_t n) const
{
    const SyntaxNode& node = m_nodes[n];
    if (node.bList)
        return std::string();
    uint64_t nBegin = node.nBegin, nEnd = node.nEnd;
    if (node.bQuoted)
    {
        ++nBegin;
        if (node.bClosed)
            --nEnd;
    }
    return m_sText.substr(static_cast<size_t>(nBegin), static_cast<size_t>(nEnd - nBegin));
}

std::string CSyntaxTree::Name(uint32_t n) const
{
    const SyntaxNode& node = m_nodes[n];
    if (!node.bList || node.nFirstChild == SyntaxNode::kNone || m_nodes[node.nFirstChild].bList)
        return std::string();
    return Value(node.nFirstChild);
}

uint32_t CSyntaxTree::Child(uint32_t n, uint32_t nIndex) const
{
    uint32_t c = m_nodes[n].nFirstChild;
    while (c != SyntaxNode::kNone && nIndex--)
        c = m_nodes[c].nNextSibling;
    return c;
}

uint32_t CSyntaxTree::FindList(uint32_t n, const char* pszName) const
{
    for (uint32_t c = m_nodes[n].nFirstChild; c != SyntaxNode::kNone; c = m_nodes[c].nNextSibling)
    {
        if (m_nodes[c].bList && Name(c) == pszName)
            return c;
    }
    return SyntaxNode::kNone;
}

uint32_t CSyntaxTree::FindValue(uint32_t n, const char* pszName) const
{
    const uint32_t nList = FindList(n, pszName);
    if (nList == SyntaxNode::kNone)
        return SyntaxNode::kNone;
    const uint32_t nValue = Child(nList, 1);
    return nValue != SyntaxNode::kNone && !m_nodes[nValue].bList ? nValue : SyntaxNode::kNone;
}

uint32_t CSyntaxTree::At(uint64_t nOffset) const
{
    uint32_t nAt = 0;
    for (;;)
    {
        uint32_t nNext = SyntaxNode::kNone;
        for (uint32_t c = m_nodes[nAt].nFirstChild; c != SyntaxNode::kNone; c = m_nodes[c].nNextSibling)
        {
            const SyntaxNode& node = m_nodes[c];
            if (node.nBegin > nOffset)
                break;
            if (node.bList ? (nOffset > node.nBegin &&
                              (nOffset < node.nEnd || (!node.bClosed && nOffset == node.nEnd)))
                           : nOffset <= node.nEnd)
                nNext = c;
        }
        if (nNext == SyntaxNode::kNone)
            return nAt;
        nAt = nNext;
        if (!m_nodes[nAt].bList)
            return nAt;
    }
}
