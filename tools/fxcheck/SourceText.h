// fxcheck's own view of an effect source: the text as the packer reads it (decompressed for a
// compressed file) and a tree like the packer's, whose every node remembers where it starts. Built
// with the packer's tokenizer and the tree builder's rules, so that it holds what the packer sees.
#pragma once

#include "Diagnostic.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct SourceNode
{
    bool bList = false;
    bool bQuoted = false;
    bool bClosed = true;  // a list whose ')' was read
    std::string sValue;   // an atom's text as the tree stores it (cut to 1023 bytes, up to a zero byte)
    uint64_t nOffset = 0; // the '(' of a list, the first byte of an atom (its quote when quoted)
    uint64_t nLength = 1; // bytes of the atom's token in the text, quotes included
    std::vector<const SourceNode*> elements;

    // A list whose first element is the atom pszName.
    bool IsNamed(const char* pszName) const;
    // The list's name (its first element when an atom), or null.
    const char* Name() const;
};

class CSourceText
{
public:
    // Reads the file as the packer does. False when the packer cannot read it at all; findings about
    // the text itself (unmatched parentheses, cut tokens ...) go to diags either way.
    bool Load(const std::string& sPath, std::vector<Diagnostic>& diags);
    // The same for the file's bytes given in memory (compressed when the name says so); sPath
    // names the file in findings.
    bool LoadBytes(const std::string& sPath, std::string sBytes, std::vector<Diagnostic>& diags);
    const SourceNode& Root() const { return m_Root; }
    const std::string& Text() const { return m_sText; }
    bool IsCompressed() const { return m_bCompressed; }

    // 1-based line and column (in bytes) of a text offset.
    void Position(uint64_t nOffset, uint32_t& nLine, uint32_t& nColumn) const;
    // The line holding the offset, without its line break.
    std::string LineText(uint32_t nLine) const;
    // Fills in line and column of every diagnostic and note of this file.
    void Locate(std::vector<Diagnostic>& diags, size_t nFirst) const;

private:
    bool Build(class CZQAReader& reader, std::vector<Diagnostic>& diags);
    uint64_t TokenLength(uint64_t nOffset) const;
    void IndexLines();

    std::string m_sName;
    std::string m_sText;
    bool m_bCompressed = false;
    std::vector<uint64_t> m_lineStarts;
    std::deque<SourceNode> m_nodes;
    SourceNode m_Root;
};
