#include "format.h"
#include "source.h"

#include "printable.h"
#include "zqanodebuilder.h"

#include <algorithm>
#include <cstring>

namespace fxfmt
{
namespace
{
// Lists deeper than this are laid flat: the layout recurses per level, and no source the packer can
// read comes near it in practice.
constexpr uint32_t kMaxLayoutDepth = 256;
// A list laid flat is at most this many levels deep.
constexpr uint32_t kMaxFlatHeight = 3;
// The most lists the packer's tree builder keeps open at once.
constexpr size_t kMaxOpenLists = CZQANodeBuilder::MAX_DEPTH - 1;

bool CanBeFlat(const Node& node)
{
    return !node.bLineBreak && (!node.bList || node.nHeight <= kMaxFlatHeight);
}

// An atom, or a list of atoms only: such items share lines.
bool IsSmall(const Node& node)
{
    return !node.bLineBreak && node.nHeight <= 1;
}

class CLayout
{
public:
    CLayout(const CSource& source, std::string& sOut) : m_Source(source), m_sOut(sOut) {}

    size_t m_nColumn = 0;

    // Lays out a node at the current column; nIndent is the indentation of the current line and
    // nTrail the count of ")" that directly follow the node. True when it went on one line.
    bool Item(const Node& node, size_t nIndent, size_t nTrail)
    {
        if (!node.bList || node.nDepth >= kMaxLayoutDepth ||
            (CanBeFlat(node) && m_nColumn + node.nWidth + nTrail <= kLineWidth))
        {
            Flat(node);
            return !node.bLineBreak;
        }
        const std::vector<Node>& nodes = m_Source.Nodes();
        Emit(node.nFirst);
        bool bFirst = true;
        bool bShare = true; // the current line takes further small items
        for (size_t k = 0; k < node.children.size(); ++k)
        {
            const Node& child = nodes[node.children[k]];
            const size_t nChildTrail = k + 1 == node.children.size() ? (node.bClosed ? 1 : 0) + nTrail : 0;
            const bool bSmall = IsSmall(child);
            if (bSmall && bShare && m_nColumn + (bFirst ? 0 : 1) + child.nWidth + nChildTrail <= kLineWidth)
            {
                if (!bFirst)
                    Space();
                Flat(child);
            }
            else
            {
                NewLine(nIndent + kIndentStep);
                bShare = Item(child, nIndent + kIndentStep, nChildTrail) && bSmall;
            }
            bFirst = false;
        }
        if (node.bClosed)
            Emit(node.nLast);
        return false;
    }

    void NewLine(size_t nIndent)
    {
        m_sOut += '\n';
        m_sOut.append(nIndent, ' ');
        m_nColumn = nIndent;
    }

private:
    void Space()
    {
        m_sOut += ' ';
        ++m_nColumn;
    }

    void Emit(uint32_t nToken)
    {
        const Token& token = m_Source.Tokens()[nToken];
        const char* p = m_Source.Text().data() + token.nOffset;
        m_sOut.append(p, token.nLength);
        const char* pLine = static_cast<const char*>(std::memchr(p, '\n', token.nLength));
        if (!pLine)
        {
            m_nColumn += CSource::Columns(p, token.nLength);
            return;
        }
        const char* const pEnd = p + token.nLength;
        while (const char* pNext = static_cast<const char*>(std::memchr(pLine + 1, '\n', pEnd - pLine - 1)))
            pLine = pNext;
        m_nColumn = CSource::Columns(pLine + 1, static_cast<size_t>(pEnd - pLine - 1));
    }

    // The node's tokens with one space between items, none inside the parentheses.
    void Flat(const Node& node)
    {
        const std::vector<Token>& tokens = m_Source.Tokens();
        for (uint32_t t = node.nFirst; t <= node.nLast; ++t)
        {
            if (t > node.nFirst && tokens[t - 1].eKind != TokenKind::Open &&
                tokens[t].eKind != TokenKind::Close)
                Space();
            Emit(t);
        }
    }

    const CSource& m_Source;
    std::string& m_sOut;
};

// A string still open at the end takes every byte after it: nothing may follow it.
bool EndsInOpenString(const CSource& source)
{
    const std::vector<Token>& tokens = source.Tokens();
    return !tokens.empty() && !tokens.back().bClosed;
}

// The count of ")" that directly follow a node in the tree.
size_t Trail(const CSource& source, const Node& node)
{
    const std::vector<Node>& nodes = source.Nodes();
    size_t nTrail = 0;
    for (const Node* p = &node; p->nParent != 0;)
    {
        const Node& parent = nodes[p->nParent];
        if (!parent.bClosed || &nodes[parent.children.back()] != p)
            break;
        ++nTrail;
        p = &parent;
    }
    return nTrail;
}

size_t LineStart(const std::string& sText, size_t nOffset)
{
    const size_t nBreak = nOffset ? sText.rfind('\n', nOffset - 1) : std::string::npos;
    return nBreak == std::string::npos ? 0 : nBreak + 1;
}

size_t LeadingBlanks(const std::string& sText, size_t nFrom, size_t nTo)
{
    size_t i = nFrom;
    while (i < nTo && (sText[i] == ' ' || sText[i] == '\t'))
        ++i;
    return i - nFrom;
}

std::string ListName(const CSource& source, const Node& list)
{
    if (list.children.empty())
        return std::string();
    const Node& first = source.Nodes()[list.children[0]];
    if (first.bList)
        return std::string();
    const Token& token = source.Tokens()[first.nFirst];
    std::string sName = source.Text().substr(token.nOffset, std::min<size_t>(token.nLength, 40));
    const size_t nZero = sName.find('\0');
    if (nZero != std::string::npos)
        sName.resize(nZero);
    return sName;
}
} // namespace

Fault CheckStructure(const std::string& sText)
{
    std::vector<Token> tokens;
    CSource::Tokenize(sText, tokens);
    Fault first;
    const auto Offer = [&first](FaultKind eKind, size_t nOffset, std::string sMessage)
    {
        if (!first || nOffset < first.nOffset)
        {
            first.eKind = eKind;
            first.nOffset = nOffset;
            first.sMessage = std::move(sMessage);
        }
    };
    const void* pZero = std::memchr(sText.data(), '\0', sText.size());
    if (pZero)
        Offer(FaultKind::NulByte, static_cast<size_t>(static_cast<const char*>(pZero) - sText.data()),
              "zero byte: this is binary data, not effect source text");
    std::vector<size_t> open;
    bool bUnmatched = false;
    bool bTooDeep = false;
    for (const Token& token : tokens)
    {
        switch (token.eKind)
        {
        case TokenKind::Open:
            if (open.size() >= kMaxOpenLists && !bTooDeep)
            {
                bTooDeep = true;
                Offer(FaultKind::TooDeep, token.nOffset,
                      "more than " + std::to_string(kMaxOpenLists) +
                          " lists open at once; the packer cannot read the file");
            }
            open.push_back(token.nOffset);
            break;
        case TokenKind::Close:
            if (!open.empty())
                open.pop_back();
            else if (!bUnmatched)
            {
                bUnmatched = true;
                Offer(FaultKind::UnmatchedClose, token.nOffset, "')' without a matching '('");
            }
            break;
        case TokenKind::String:
            if (!token.bClosed)
                Offer(FaultKind::UnclosedString, token.nOffset,
                      "string is never closed; it runs to the end of the file");
            break;
        case TokenKind::Word:
            break;
        }
    }
    // A string left open takes the ")" of the lists around it: it is the fault to report for them.
    if (!open.empty() && (tokens.empty() || tokens.back().bClosed))
    {
        // The outermost open list comes first; name it when it has a name.
        const CSource source(sText);
        std::string sName;
        for (const Node& node : source.Nodes())
        {
            if (node.bList && node.nParent != kNoNode && !node.bClosed)
            {
                sName = ListName(source, node);
                break;
            }
        }
        Offer(FaultKind::UnclosedList, open.front(),
              (sName.empty() ? std::string("list") : "list '" + Printable(sName) + "'") +
                  " is never closed; it runs to the end of the file");
    }
    return first;
}

std::string FormatText(const std::string& sText)
{
    const CSource source(sText);
    std::string sOut;
    sOut.reserve(sText.size() + sText.size() / 4);
    CLayout layout(source, sOut);
    for (const uint32_t nItem : source.Root().children)
    {
        layout.m_nColumn = 0;
        layout.Item(source.Nodes()[nItem], 0, 0);
        sOut += '\n';
    }
    if (EndsInOpenString(source))
        sOut.pop_back();
    return sOut;
}

std::vector<Edit> FormatRange(const std::string& sText, size_t nBegin, size_t nEnd)
{
    nBegin = std::min(nBegin, sText.size());
    nEnd = std::min(nEnd, sText.size());
    if (nBegin > nEnd)
        std::swap(nBegin, nEnd);
    const CSource source(sText);
    const std::vector<Node>& nodes = source.Nodes();

    // The innermost closed list that holds the whole range.
    const Node* pList = nullptr;
    for (const Node* pAt = &source.Root();;)
    {
        const Node* pInner = nullptr;
        for (const uint32_t nChild : pAt->children)
        {
            const Node& child = nodes[nChild];
            if (source.Begin(child) > nBegin)
                break;
            if (child.bList && child.bClosed && nEnd <= source.End(child))
                pInner = &child;
        }
        if (!pInner)
            break;
        pList = pAt = pInner;
    }

    Edit edit;
    std::string sOut;
    CLayout layout(source, sOut);
    if (pList)
    {
        edit.nBegin = source.Begin(*pList);
        edit.nEnd = source.End(*pList);
        const size_t nLine = LineStart(sText, edit.nBegin);
        layout.m_nColumn = CSource::Columns(sText.data() + nLine, edit.nBegin - nLine);
        layout.Item(*pList, LeadingBlanks(sText, nLine, edit.nBegin), Trail(source, *pList));
    }
    else
    {
        // The top-level items the range touches, each on a line of its own.
        std::vector<const Node*> items;
        for (const uint32_t nItem : source.Root().children)
        {
            const Node& item = nodes[nItem];
            if (source.Begin(item) <= nEnd && nBegin <= source.End(item))
                items.push_back(&item);
        }
        if (items.empty())
            return {};
        edit.nBegin = source.Begin(*items.front());
        edit.nEnd = source.End(*items.back());
        const size_t nLine = LineStart(sText, edit.nBegin);
        size_t nIndent = 0;
        if (LeadingBlanks(sText, nLine, edit.nBegin) == edit.nBegin - nLine)
            edit.nBegin = nLine;
        else
        {
            layout.m_nColumn = CSource::Columns(sText.data() + nLine, edit.nBegin - nLine);
            nIndent = LeadingBlanks(sText, nLine, edit.nBegin);
        }
        for (const Node* pItem : items)
        {
            if (pItem != items.front())
            {
                layout.NewLine(0);
                nIndent = 0;
            }
            layout.Item(*pItem, nIndent, 0);
        }
    }
    if (sText.compare(edit.nBegin, edit.nEnd - edit.nBegin, sOut) == 0)
        return {};
    edit.sText = std::move(sOut);
    return {std::move(edit)};
}

bool SameTokens(const std::string& sA, const std::string& sB)
{
    std::vector<Token> a;
    std::vector<Token> b;
    CSource::Tokenize(sA, a);
    CSource::Tokenize(sB, b);
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (a[i].nLength != b[i].nLength ||
            sA.compare(a[i].nOffset, a[i].nLength, sB, b[i].nOffset, b[i].nLength) != 0)
            return false;
    }
    return true;
}

void LineColumn(const std::string& sText, size_t nOffset, uint32_t& nLine, uint32_t& nColumn)
{
    nOffset = std::min(nOffset, sText.size());
    nLine = 1 + static_cast<uint32_t>(std::count(sText.begin(), sText.begin() + nOffset, '\n'));
    nColumn = static_cast<uint32_t>(nOffset - LineStart(sText, nOffset) + 1);
}
} // namespace fxfmt
