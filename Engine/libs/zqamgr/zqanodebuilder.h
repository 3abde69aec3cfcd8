// Turns a token stream into a tree without knowing list sizes in advance: finished nodes wait in
// a paged cache until their list closes, then move into one exactly sized element array.
#pragma once

#include "zqanode.h"

class CZQALoadOnlyAlloc;

#include <cstddef>
#include <cstdint>

class CZQANodeBuilder
{
public:
    static constexpr uint32_t MAX_CACHE_ROWS = 2048;
    static constexpr uint32_t CACHE_ROW_SIZE = 1024;
    static constexpr uint32_t CACHE_ROW_SHIFT = 10;
    static constexpr uint32_t MAX_DEPTH = 1024; // stack entries; at most MAX_DEPTH - 1 open lists

    explicit CZQANodeBuilder(CZQAAllocator* pAllocator);
    virtual ~CZQANodeBuilder();
    CZQANodeBuilder(const CZQANodeBuilder&) = delete;
    CZQANodeBuilder& operator=(const CZQANodeBuilder&) = delete;

    bool PushList();
    // Closes the innermost list; null when none is open or the list had to be dropped.
    CZQANode* PopList();
    // PopList reduced to whether a list was built.
    bool EndList() { return PopList() != nullptr; }
    bool PopAllLists();
    bool AddValue(const char* pszValue, bool bQuoted);
    // The same for a value whose C string length is known (nLength is strlen(pszValue)).
    bool AddValue(const char* pszValue, size_t nLength, bool bQuoted);
    bool AddToCache(CZQANode* pNode);

    uint32_t GetCacheSize() const { return m_nCacheSize; }
    uint32_t GetDepth() const { return m_nDepth; }
    CZQANode* GetCacheElement(uint32_t nIndex) const;

    // Closes every open list and hands out the top-level items (at most nMax; the rest are given
    // back to the allocator). The cache is empty afterwards.
    uint32_t DetachHeads(CZQANode** ppNodeList, uint32_t nMax);
    // Appends the top-level items to pParent, in order; answers how many were appended.
    uint32_t DetachHeadsInto(CZQANode* pParent);

    void Reset();
    void ClearCache();

private:
    struct ListEntry
    {
        uint32_t nStart; // cache index of the list's first item
        uint32_t nCount; // items so far
    };

    CZQANode*& Slot(uint32_t nIndex)
    {
        return m_pCache[nIndex >> CACHE_ROW_SHIFT][nIndex & (CACHE_ROW_SIZE - 1)];
    }

    CZQANode** m_pCache[MAX_CACHE_ROWS] = {};
    uint32_t m_nCacheSize = 0;
    ListEntry m_aStack[MAX_DEPTH]; // entries below m_nDepth are in use
    uint32_t m_nDepth = 0;
    CZQAAllocator* m_pAllocator;
    // m_pAllocator when it is the load-only allocator: its requests then run inline.
    CZQALoadOnlyAlloc* m_pLoadOnly;
};
