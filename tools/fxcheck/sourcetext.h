// fxcheck's own view of an effect source: the text as the packer reads it (decompressed for a
// compressed file) and the packer's own tree of it, built by the packer's reader and tree builder,
// with where every node starts in the text.
#pragma once

#include "diagnostic.h"
#include "zqaloadonlyalloc.h"
#include "zqanode.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CNodeIndex;
class CZQAReader;

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
    // The same without a copy of plain text: the bytes must stay as they are while this object
    // is used (an editor's buffer during one check).
    bool LoadView(const std::string& sPath, std::string_view bytes, std::vector<Diagnostic>& diags,
                  CFindingBudget* pBudget = nullptr);
    const CZQANode& Root() const { return m_Root; }
    std::string_view Text() const { return m_Text; }
    bool IsCompressed() const { return m_bCompressed; }

    // Where the node's token starts: the "(" of a list, the first byte of an atom (its quote when
    // quoted); 0 for the root. Positions are not kept while the tree is built: the first question
    // reads the text a second time (see CNodeIndex).
    uint64_t Offset(const CZQANode* pNode) const;
    // Bytes of an atom's token in the text, quotes included; 1 for a list.
    uint64_t Length(const CZQANode* pNode) const;
    // Where the ")" that closed the list stands; false for a list closed by the end of the text.
    bool CloseOffset(const CZQANode* pList, uint64_t& nOffset) const;
    // Where the last ")" without a matching "(" stands; false when every ")" had one.
    bool LastUnmatchedClose(uint64_t& nOffset) const;

    // Gives back the tree (Root is then empty); the text stays for lines and columns.
    void ReleaseTree() { FreeTree(); }

    // 1-based line and column (in bytes) of a text offset. The line starts are found at the first
    // question, once.
    void Position(uint64_t nOffset, uint32_t& nLine, uint32_t& nColumn) const;
    // The line holding the offset, without its line break.
    std::string LineText(uint32_t nLine) const;
    // Fills in line and column of every diagnostic and note of this file.
    void Locate(std::vector<Diagnostic>& diags, size_t nFirst) const;

private:
    class CBuildObserver;

    bool LoadSpan(const std::string& sPath, std::vector<Diagnostic>& diags, CFindingBudget* pBudget);
    bool Build(CZQAReader& reader, std::vector<Diagnostic>& diags, CFindingBudget* pBudget);
    // A reader opened on the bytes the tree was read from, or null.
    std::unique_ptr<CZQAReader> OpenReader() const;
    const CNodeIndex* Index() const;
    uint64_t TokenLength(uint64_t nOffset) const;
    const std::vector<uint64_t>& LineStarts() const;
    void FreeTree();

    std::string m_sName;
    std::string m_sOwned;    // the text, or the compressed bytes, when this object holds them
    std::string m_sDecoded;  // a compressed file's text
    std::string_view m_Read; // what the reader reads: the text, or the compressed bytes
    std::string_view m_Text; // the text as the packer reads it
    bool m_bCompressed = false;
    mutable std::vector<uint64_t> m_lineStarts;
    std::unique_ptr<CZQALoadOnlyAlloc> m_pAllocator; // its blocks sized to the text being read
    CZQANode m_Root;
    mutable std::unique_ptr<CNodeIndex> m_pIndex;
    mutable bool m_bIndexTried = false;
    bool m_bUnmatchedClose = false;
    uint64_t m_nLastUnmatchedClose = 0;
};
