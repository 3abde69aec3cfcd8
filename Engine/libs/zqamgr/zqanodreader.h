// Reads a whole ZQA file into a tree: every top-level item of the file is appended to a root node
// that the caller supplies, after the elements it already holds.
#pragma once

#include "zqanode.h"
#include "zqareader.h"

#include <cstdint>

// Follows a load token by token, for tools that tell where in the text a node came from. Offsets
// are in the text as read (decompressed for a compressed file).
class IZQANodeObserver
{
public:
    virtual ~IZQANodeObserver() = default;
    // Every token, before the builder takes it, with the offset of its first byte (for TOKEN_EOF
    // the length of the text).
    virtual void OnToken(uint32_t eToken, uint64_t nStart) = 0;
    // Every node the builder makes, with the offset of its token: an atom right after its token,
    // a list at its ")" or, for a list still open at the end, after TOKEN_EOF; innermost first.
    virtual void OnNode(const CZQANode* pNode, uint64_t nStart) = 0;
};

// Follows a load item by item, for a reader that uses the items of a top-level list while the
// rest of the text is still being read (and may give back the memory of those it has used).
class IZQAItemObserver
{
public:
    virtual ~IZQAItemObserver() = default;
    // An element of a top-level list is complete: its ")" was read, or the text ended with it open.
    // ppTops holds the nTops top-level items finished before that list, in file order; ppList the
    // nList elements of the open list so far, the completed one last. Atoms are not reported.
    virtual void OnItem(CZQANode* const* ppTops, uint32_t nTops, CZQANode* const* ppList, uint32_t nList) = 0;
};

class CZQANodeReader
{
public:
    // Opens the file (plain or LZSS-compressed, as the caller says) and loads it. False when the
    // file cannot be opened or the tree cannot be built; the root is then unchanged.
    static bool LoadEntireFile(const char* pszFilename, bool bCompressed, CZQANode* pRoot,
                               CZQAAllocator* pAllocator);
    // The same, telling pItems (which may be null) about every completed item of a top-level list.
    static bool LoadEntireFile(const char* pszFilename, bool bCompressed, CZQANode* pRoot,
                               CZQAAllocator* pAllocator, IZQAItemObserver* pItems);
    // Loads from a reader that is already open; closes it on success, leaves it open on failure.
    static bool LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator);
    // The same, telling pObserver (which may be null) about every token and node.
    static bool LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator,
                               IZQANodeObserver* pObserver);
    // The same, telling rItems about every completed item of a top-level list.
    static bool LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator,
                               IZQAItemObserver& rItems);

    // The token buffer of a load: longer words and strings keep their first TOKEN_BUFFER_LEN - 1 bytes.
    static constexpr uint32_t TOKEN_BUFFER_LEN = CZQAReader::TOKEN_TEXT_MAX + 1;
};
