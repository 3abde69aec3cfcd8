#include "syntax.h"

#include <algorithm>
#include <cstring>

bool IsSyntaxSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

namespace
{
// Reads the text's tokens in order: fnOpen at a list's '(', fnClose at a ')' (unmatched ones too),
// fnAtom for an atom with its end and whether it is quoted and closed. Stops early when a callback
// answers false.
template <class Open, class Close, class Atom>
void ScanTokens(const char* p, size_t n, Open fnOpen, Close fnClose, Atom fnAtom)
{
    size_t i = 0;
    while (i < n)
    {
        const char c = p[i];
        if (IsSyntaxSpace(c))
        {
            ++i;
            continue;
        }
        if (c == '(')
        {
            if (!fnOpen(i))
                return;
            ++i;
        }
        else if (c == ')')
        {
            fnClose(i);
            ++i;
        }
        else if (c == '"')
        {
            const void* pClose = std::memchr(p + i + 1, '"', n - i - 1);
            const size_t nEnd = pClose ? static_cast<size_t>(static_cast<const char*>(pClose) - p) + 1 : n;
            if (!fnAtom(i, nEnd, true, pClose != nullptr))
                return;
            i = nEnd;
        }
        else
        {
            size_t j = i + 1;
            while (j < n && !IsSyntaxSpace(p[j]) && p[j] != '(' && p[j] != ')' && p[j] != '"')
                ++j;
            if (!fnAtom(i, j, false, true))
                return;
            i = j;
        }
    }
}
} // namespace

CSyntaxTree::CSyntaxTree(const std::string& sText) : m_sText(sText)
{
    const size_t n = std::min<size_t>(sText.size(), 0xFFFFFFFFu);
    const char* p = sText.data();
    // Counted first, so that the table is allocated once and at its size.
    size_t nCount = 1;
    auto count = [&nCount](size_t) { return ++nCount < kParentMask; };
    ScanTokens(
        p, n, count, [](size_t) {}, [&count](size_t nBegin, size_t, bool, bool) { return count(nBegin); });
    m_nodes.reserve(nCount);

    m_nodes.push_back(Packed{0, static_cast<uint32_t>(n), kParentMask | kList | kClosed, SyntaxNode::kNone});
    std::vector<uint32_t> open = {0};
    std::vector<uint32_t> lastChild = {SyntaxNode::kNone};
    auto add = [&](size_t nBegin, size_t nEnd, uint32_t nFlags)
    {
        if (m_nodes.size() >= kParentMask)
            return false;
        const uint32_t nIndex = static_cast<uint32_t>(m_nodes.size());
        m_nodes.push_back(Packed{static_cast<uint32_t>(nBegin), static_cast<uint32_t>(nEnd),
                                 open.back() | nFlags, SyntaxNode::kNone});
        if (lastChild.back() != SyntaxNode::kNone)
            m_nodes[lastChild.back()].nNextSibling = nIndex;
        lastChild.back() = nIndex;
        return true;
    };
    ScanTokens(
        p, n,
        [&](size_t nBegin)
        {
            if (!add(nBegin, n, kList))
                return false;
            open.push_back(static_cast<uint32_t>(m_nodes.size() - 1));
            lastChild.push_back(SyntaxNode::kNone);
            return true;
        },
        [&](size_t nAt)
        {
            if (open.size() > 1)
            {
                m_nodes[open.back()].nEnd = static_cast<uint32_t>(nAt + 1);
                m_nodes[open.back()].nParentAndFlags |= kClosed;
                open.pop_back();
                lastChild.pop_back();
            }
        },
        [&](size_t nBegin, size_t nEnd, bool bQuoted, bool bClosed)
        { return add(nBegin, nEnd, (bQuoted ? kQuoted : 0) | (bClosed ? kClosed : 0)); });
}

uint32_t CSyntaxTree::Parent(uint32_t n) const
{
    const uint32_t nParent = m_nodes[n].nParentAndFlags & kParentMask;
    return nParent == kParentMask ? SyntaxNode::kNone : nParent;
}

uint32_t CSyntaxTree::FirstChild(uint32_t n) const
{
    return n + 1 < m_nodes.size() && Parent(n + 1) == n ? n + 1 : SyntaxNode::kNone;
}

SyntaxNode CSyntaxTree::Node(uint32_t n) const
{
    const Packed& packed = m_nodes[n];
    SyntaxNode node;
    node.nBegin = packed.nBegin;
    node.nEnd = packed.nEnd;
    node.nParent = Parent(n);
    node.nFirstChild = FirstChild(n);
    node.nNextSibling = packed.nNextSibling;
    node.bList = (packed.nParentAndFlags & kList) != 0;
    node.bQuoted = (packed.nParentAndFlags & kQuoted) != 0;
    node.bClosed = (packed.nParentAndFlags & kClosed) != 0;
    return node;
}

std::string CSyntaxTree::Value(uint32_t n) const
{
    const SyntaxNode node = Node(n);
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
    const uint32_t nFirst = IsList(n) ? FirstChild(n) : SyntaxNode::kNone;
    if (nFirst == SyntaxNode::kNone || IsList(nFirst))
        return std::string();
    return Value(nFirst);
}

uint32_t CSyntaxTree::Child(uint32_t n, uint32_t nIndex) const
{
    uint32_t c = FirstChild(n);
    while (c != SyntaxNode::kNone && nIndex--)
        c = m_nodes[c].nNextSibling;
    return c;
}

uint32_t CSyntaxTree::FindList(uint32_t n, const char* pszName) const
{
    for (uint32_t c = FirstChild(n); c != SyntaxNode::kNone; c = m_nodes[c].nNextSibling)
    {
        if (IsList(c) && Name(c) == pszName)
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
    return nValue != SyntaxNode::kNone && !IsList(nValue) ? nValue : SyntaxNode::kNone;
}

uint32_t CSyntaxTree::At(uint64_t nOffset) const
{
    uint32_t nAt = 0;
    for (;;)
    {
        uint32_t nNext = SyntaxNode::kNone;
        for (uint32_t c = FirstChild(nAt); c != SyntaxNode::kNone; c = m_nodes[c].nNextSibling)
        {
            const SyntaxNode node = Node(c);
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
        if (!IsList(nAt))
            return nAt;
    }
}
