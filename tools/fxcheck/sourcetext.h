// fxcheck's own view of an effect source: the text as the packer reads it (decompressed for a
// compressed file) and the packer's own tree of it, built by the packer's reader and tree builder,
// with where every node starts in the text.
#pragma once

#include "diagnostic.h"
#include "zqaloadonlyalloc.h"
#include "zqanode.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A list whose first element is the atom pszName.
bool IsNamed(const CZQANode* pNode, const char* pszName);
// The list's name (its first element when an atom), or null.
const char* ListName(const CZQANode* pNode);

class CSourceText
{
public:
    CSourceText();
    ~CSourceText();
    CSourceText(const CSourceText&) = delete;
    CSourceText& operator=(const CSourceText&) = delete;

    // Reads the file as the packer does. False when the packer cannot read it at all; findings about
    // the text itself (unmatched parentheses, cut tokens ...) go to diags either way.
    // pBudget, when given, bounds the findings of each code.
    bool Load(const std::string& sPath, std::vector<Diagnostic>& diags, CFindingBudget* pBudget = nullptr);
    // The same for the file's bytes given in memory (compressed when the name says so); sPath
    // names the file in findings.
    bool LoadBytes(const std::string& sPath, std::string sBytes, std::vector<Diagnostic>& diags,
                   CFindingBudget* pBudget = nullptr);
    const CZQANode& Root() const { return m_Root; }
    const std::string& Text() const { return m_sText; }
    bool IsCompressed() const { return m_bCompressed; }

    // Where the node's token starts: the "(" of a list, the first byte of an atom (its quote when
    // quoted); 0 for the root.
    uint64_t Offset(const CZQANode* pNode) const;
    // Bytes of an atom's token in the text, quotes included; 1 for a list.
    uint64_t Length(const CZQANode* pNode) const;
    // Where the ")" that closed the list stands; false for a list closed by the end of the text.
    bool CloseOffset(const CZQANode* pList, uint64_t& nOffset) const;
    // Where the last ")" without a matching "(" stands; false when every ")" had one.
    bool LastUnmatchedClose(uint64_t& nOffset) const;

    // Gives back the tree (Root is then empty); the text stays for lines and columns.
    void ReleaseTree() { FreeTree(); }

    // 1-based line and column (in bytes) of a text offset.
    void Position(uint64_t nOffset, uint32_t& nLine, uint32_t& nColumn) const;
    // The line holding the offset, without its line break.
    std::string LineText(uint32_t nLine) const;
    // Fills in line and column of every diagnostic and note of this file.
    void Locate(std::vector<Diagnostic>& diags, size_t nFirst) const;

private:
    class CBuildObserver;

    bool Build(class CZQAReader& reader, std::vector<Diagnostic>& diags, CFindingBudget* pBudget);
    uint64_t TokenLength(uint64_t nOffset) const;
    void IndexLines();
    void FreeTree();

    std::string m_sName;
    std::string m_sText;
    bool m_bCompressed = false;
    std::vector<uint64_t> m_lineStarts;
    CZQALoadOnlyAlloc m_Allocator;
    CZQANode m_Root;
    // Every node of the tree and its offset, by node address.
    std::vector<std::pair<const CZQANode*, uint64_t>> m_offsets;
    // Every list closed by a ")" and the offset of that ")", by node address.
    std::vector<std::pair<const CZQANode*, uint64_t>> m_closes;
    bool m_bUnmatchedClose = false;
    uint64_t m_nLastUnmatchedClose = 0;
};
