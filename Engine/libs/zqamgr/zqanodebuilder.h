// Turns a token stream into a tree without knowing list sizes in advance: finished nodes wait in
// a paged cache until their list closes, then move into one exactly sized element array.
#pragma once

#include "zqaloadonlyalloc.h"
#include "zqanode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// A node and what follows it in one load-only request lie where two requests would put them.
static_assert(sizeof(CZQANode) % CZQALoadOnlyAlloc::ALIGNMENT == 0, "nodes keep the allocator's alignment");

class CZQANodeBuilder
{
public:
    // Items waiting for their list (or, at the top level, for the end) are at most
    // MAX_CACHE_ROWS * CACHE_ROW_SIZE; the cache grows a row at a time's worth or more.
    static constexpr uint32_t MAX_CACHE_ROWS = 2048;
    static constexpr uint32_t CACHE_ROW_SIZE = 1024;
    static constexpr uint32_t MAX_CACHE_ITEMS = MAX_CACHE_ROWS * CACHE_ROW_SIZE;
    static constexpr uint32_t MAX_DEPTH = 1024; // stack entries; at most MAX_DEPTH - 1 open lists

    explicit CZQANodeBuilder(CZQAAllocator* pAllocator);
    virtual ~CZQANodeBuilder();
    CZQANodeBuilder(const CZQANodeBuilder&) = delete;
    CZQANodeBuilder& operator=(const CZQANodeBuilder&) = delete;

    bool PushList()
    {
        if (m_nDepth >= MAX_DEPTH - 1)
            return false;
        m_aStack[m_nDepth++] = m_nCacheSize;
        return true;
    }
    // Closes the innermost list; null when none is open or the list had to be dropped.
    CZQANode* PopList()
    {
        // Inline for the load-only allocator when the list's node and array fit its current block.
        if (m_nDepth == 0 || !m_pLoadOnly)
            return PopListSlow();
        const uint32_t nStart = m_aStack[m_nDepth - 1];
        const uint32_t nCount = m_nCacheSize - nStart;
        // What AllocateNode and AllocateBlock do, in one request that puts both where two would.
        const size_t nArray = size_t(nCount) * sizeof(CZQANode*);
        if (sizeof(CZQANode) + nArray > m_pLoadOnly->GetMemLeft())
            return PopListSlow();
        --m_nDepth;
        auto* pBoth = static_cast<uint8_t*>(
            m_pLoadOnly->AllocateBlock(static_cast<uint32_t>(sizeof(CZQANode) + nArray)));
        CZQANode* pNode = new (pBoth) CZQANode();
        uint8_t* const pElements = pBoth + sizeof(CZQANode); // unaligned for pointers: see CZQANode
        CopyBytes(pElements, m_ppCache + nStart, nArray);
        pNode->m_pData = pElements;
        pNode->m_nFlags = nCount;
        // The list takes its first item's cache position and counts as one item of its parent.
        m_nCacheSize = nStart;
        return AddToCache(pNode) ? pNode : nullptr; // the load-only allocator frees nothing
    }
    // PopList reduced to whether a list was built.
    bool EndList() { return PopList() != nullptr; }
    bool PopAllLists();
    bool AddValue(const char* pszValue, bool bQuoted);
    // The same for a value whose C string length is known (nLength is strlen(pszValue)).
    bool AddValue(const char* pszValue, size_t nLength, bool bQuoted)
    {
        if (!m_pLoadOnly || !pszValue || nLength >= UINT32_MAX)
            return AddValueSlow(pszValue, bQuoted);
        return AddText(pszValue, static_cast<uint32_t>(nLength), bQuoted);
    }
    // A value given as nLength bytes that need not be terminated and hold no zero byte; the node
    // gets a terminated copy. With the load-only allocator the requests are AddValue's, made
    // inline; any other allocator goes through AddValue.
    bool AddText(const char* pText, uint32_t nLength, bool bQuoted)
    {
        if (!m_pLoadOnly || nLength >= UINT32_MAX - 2 * CZQALoadOnlyAlloc::ALIGNMENT - sizeof(CZQANode))
            return AddTextSlow(pText, nLength, bQuoted);
        CZQANode* pNode;
        char* pCopy;
        // Node and text in one request when both fit the newest block: the addresses of two.
        const uint32_t nBoth =
            static_cast<uint32_t>(sizeof(CZQANode)) +
            ((nLength + CZQALoadOnlyAlloc::ALIGNMENT) & ~(CZQALoadOnlyAlloc::ALIGNMENT - 1));
        if (nBoth <= m_pLoadOnly->GetMemLeft())
        {
            auto* pBoth = static_cast<uint8_t*>(m_pLoadOnly->AllocateBlock(nBoth));
            pNode = new (pBoth) CZQANode();
            pCopy = reinterpret_cast<char*>(pBoth + sizeof(CZQANode));
        }
        else
        {
            pNode = m_pLoadOnly->AllocateNode();
            pCopy = pNode ? static_cast<char*>(m_pLoadOnly->AllocateBlock(nLength + 1)) : nullptr;
            if (!pCopy)
                return false;
        }
        CopyBytes(pCopy, pText, nLength);
        pCopy[nLength] = '\0';
        pNode->m_pData = pCopy;
        pNode->m_nFlags = bQuoted ? (CZQANode::ATOM_FLAG | CZQANode::QUOTED_FLAG) : CZQANode::ATOM_FLAG;
        return AddToCache(pNode); // a node not taken costs nothing to give back here
    }
    bool AddToCache(CZQANode* pNode)
    {
        // Inline while the cache has room; growing it is the out-of-line part.
        if (m_nCacheSize == m_nCacheCapacity)
            return AddToCacheGrow(pNode);
        m_ppCache[m_nCacheSize++] = pNode;
        return true;
    }

    uint32_t GetCacheSize() const { return m_nCacheSize; }
    uint32_t GetDepth() const { return m_nDepth; }
    // The items waiting, in file order (GetCacheSize of them).
    CZQANode* const* GetCache() const { return m_ppCache; }
    // The cache index of the first item of the open list nLevel (0: outermost), below GetDepth.
    uint32_t GetListStart(uint32_t nLevel) const
    {
        return nLevel < m_nDepth ? m_aStack[nLevel] : m_nCacheSize;
    }
    CZQANode* GetCacheElement(uint32_t nIndex) const;

    // Closes every open list and hands out the top-level items (at most nMax; the rest are given
    // back to the allocator). The cache is empty afterwards.
    uint32_t DetachHeads(CZQANode** ppNodeList, uint32_t nMax);
    // Appends the top-level items to pParent, in order; answers how many were appended.
    uint32_t DetachHeadsInto(CZQANode* pParent);

    void Reset();
    void ClearCache();

private:
    bool AddToCacheGrow(CZQANode* pNode);
    CZQANode* PopListSlow();
    // AddValue through the allocator's interface.
    bool AddValueSlow(const char* pszValue, bool bQuoted);
    bool AddTextSlow(const char* pText, uint32_t nLength, bool bQuoted);

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

    CZQANode** m_ppCache = nullptr; // the items waiting, in file order
    uint32_t m_nCacheSize = 0;
    uint32_t m_nCacheCapacity = 0;
    uint32_t m_aStack[MAX_DEPTH]; // cache index of each open list's first item, below m_nDepth
    uint32_t m_nDepth = 0;
    CZQAAllocator* m_pAllocator;
    // m_pAllocator when it is the load-only allocator: its requests then run inline.
    CZQALoadOnlyAlloc* m_pLoadOnly;
};
