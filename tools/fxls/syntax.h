// The editor's view of an effect source: every list and atom with the byte range it covers, read by
// the text format's rules (whitespace, parentheses, quoted strings, bare words). It is built from the
// unsaved text on demand and serves hover, completion, symbols and definitions; the checker keeps its
// own tree for the findings. It is kept small beside the text (16 bytes a node, offsets only): a
// text is read up to 4 GiB, and up to 2^29 nodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SyntaxNode
{
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    uint64_t nBegin = 0; // a list's '(' or an atom's first byte (its quote when quoted)
    uint64_t nEnd = 0;   // one past a list's ')' (the end of the text when unclosed) or the atom
    uint32_t nParent = kNone;
    uint32_t nFirstChild = kNone;
    uint32_t nNextSibling = kNone;
    bool bList = false;
    bool bQuoted = false;
    bool bClosed = true; // a list whose ')' was read, a string whose closing quote was read
};

class CSyntaxTree
{
public:
    // Node 0 is the root: a list without parentheses covering the whole text. The tree refers to
    // sText, which must outlive it unchanged.
    explicit CSyntaxTree(const std::string& sText);

    const std::string& Text() const { return m_sText; }
    SyntaxNode Node(uint32_t n) const;
    size_t Size() const { return m_nodes.size(); }

    // An atom's text without quotes.
    std::string Value(uint32_t n) const;
    // The name of a list: the text of its first element when that is an atom; "" otherwise.
    std::string Name(uint32_t n) const;
    // The element of list n at nIndex, or kNone.
    uint32_t Child(uint32_t n, uint32_t nIndex) const;
    // The first child list of n named pszName, or kNone.
    uint32_t FindList(uint32_t n, const char* pszName) const;
    // The atom after the name of the first pszName list of n (FindValue of the loader), or kNone.
    uint32_t FindValue(uint32_t n, const char* pszName) const;
    // The innermost node that holds nOffset: an atom when nOffset lies in it or at its end,
    // else the innermost list whose parentheses enclose it (the root when none).
    uint32_t At(uint64_t nOffset) const;

private:
    // Nodes in document order, so that a list's first child, when it has one, follows it.
    struct Packed
    {
        uint32_t nBegin;
        uint32_t nEnd;
        uint32_t nParentAndFlags; // the parent's index below kFlagShift, the flags above
        uint32_t nNextSibling;
    };
    static constexpr uint32_t kFlagShift = 29;
    static constexpr uint32_t kParentMask = (1u << kFlagShift) - 1;
    static constexpr uint32_t kList = 1u << 29, kQuoted = 1u << 30, kClosed = 1u << 31;

    uint32_t Parent(uint32_t n) const;
    uint32_t FirstChild(uint32_t n) const;
    bool IsList(uint32_t n) const { return (m_nodes[n].nParentAndFlags & kList) != 0; }

    const std::string& m_sText;
    std::vector<Packed> m_nodes;
};

// Whitespace of the text format: space, tab, line feed and carriage return only.
bool IsSyntaxSpace(char c);
