// Reads a whole ZQA file into a tree: every top-level item of the file is appended to a root node
// that the caller supplies, after the elements it already holds.
#pragma once

#include "zqanode.h"

class CZQAReader;

class CZQANodeReader
{
public:
    // Opens the file (plain or LZSS-compressed, as the caller says) and loads it. False when the
    // file cannot be opened or the tree cannot be built; the root is then unchanged.
    static bool LoadEntireFile(const char* pszFilename, bool bCompressed, CZQANode* pRoot,
                               CZQAAllocator* pAllocator);
    // Loads from a reader that is already open; closes it on success, leaves it open on failure.
    static bool LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator);
};
