// Turns a token stream into a tree without knowing list sizes in advance: finished nodes wait in
// a paged cache until their list closes, then move into one exactly sized element array.
#pragma once

#include "zqaloadonlyalloc.h"
#include "zqanode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

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

    bool PushList()
    {
        if (m_nDepth >= MAX_DEPTH - 1)
            return false;
        m_aStack[m_nDepth].nStart = m_nCacheSize;
        m_aStack[m_nDepth].nCount = 0;
        ++m_nDepth;
        return true;
    }
    // Closes the innermost list; null when none is open or the list had to be dropped.
    CZQANode* PopList();
    // PopList reduced to whether a list was built.
    bool EndList() { return PopList() != nullptr; }
    bool PopAllLists();
    bool AddValue(const char* pszValue, bool bQuoted);
    // The same for a value whose C string length is known (nLength is strlen(pszValue)).
    bool AddValue(const char* pszValue, size_t nLength, bool bQuoted)
    {
        if (!m_pLoadOnly || !pszValue)
            return AddValueSlow(pszValue, bQuoted);
        // What AllocateNode and SetValue do, with the requests in the same order and sizes.
        CZQANode* pNode = m_pLoadOnly->AllocateNode();
        if (!pNode || nLength >= UINT32_MAX)
            return false;
        void* pText = m_pLoadOnly->AllocateBlock(static_cast<uint32_t>(nLength + 1));
        if (!pText)
            return false;
        CopyBytes(pText, pszValue, nLength + 1);
        pNode->m_pData = pText;
        pNode->m_nFlags = bQuoted ? (CZQANode::ATOM_FLAG | CZQANode::QUOTED_FLAG) : CZQANode::ATOM_FLAG;
        return AddToCache(pNode); // a node not taken costs nothing to give back here
    }
    bool AddToCache(CZQANode* pNode)
    {
        // Inline while the row exists; a new row is the out-of-line part.
        const uint32_t nRow = m_nCacheSize >> CACHE_ROW_SHIFT;
        if (nRow >= MAX_CACHE_ROWS || !m_pCache[nRow])
            return AddToCacheNewRow(pNode);
        m_pCache[nRow][m_nCacheSize & (CACHE_ROW_SIZE - 1)] = pNode;
        if (m_nDepth > 0)
            ++m_aStack[m_nDepth - 1].nCount;
        ++m_nCacheSize;
        return true;
    }

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

    bool AddToCacheNewRow(CZQANode* pNode);
    // AddValue through the allocator's interface.
    bool AddValueSlow(const char* pszValue, bool bQuoted);

    // Copies n bytes; values are mostly a few bytes long, where a library call costs more than the
    // copy.
    static void CopyBytes(void* pTo, const void* pFrom, size_t n)
    {
        auto* pDst = static_cast<uint8_t*>(pTo);
        const auto* pSrc = static_cast<const uint8_t*>(pFrom);
        if (n >= 8 && n <= 16)
        {
            uint64_t nHead, nTail; // two words that overlap when n < 16
            std::memcpy(&nHead, pSrc, 8);
            std::memcpy(&nTail, pSrc + n - 8, 8);
            std::memcpy(pDst, &nHead, 8);
            std::memcpy(pDst + n - 8, &nTail, 8);
        }
        else if (n < 8)
        {
            for (size_t i = 0; i < n; ++i)
                pDst[i] = pSrc[i];
        }
        else
        {
            std::memcpy(pDst, pSrc, n);
        }
    }

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
