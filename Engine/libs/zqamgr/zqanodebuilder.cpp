#include "zqanodebuilder.h"

#include "zqaloadonlyalloc.h"
#include "zqstrutils.h"

#include <cstring>
#include <memory>
#include <new>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqanodebuilder"

CZQANodeBuilder::CZQANodeBuilder(CZQAAllocator* pAllocator)
    : m_pAllocator(pAllocator), m_pLoadOnly(dynamic_cast<CZQALoadOnlyAlloc*>(pAllocator))
{
    ZQ_CHECK(m_pAllocator, "CZQANodeBuilder::CZQANodeBuilder", "Error: Invalid allocator");
}

CZQANodeBuilder::~CZQANodeBuilder()
{
    Reset();
}

bool CZQANodeBuilder::AddToCacheGrow(CZQANode* pNode)
{
    if (m_nCacheSize >= MAX_CACHE_ITEMS)
        return false;
    uint32_t nCapacity = m_nCacheCapacity ? m_nCacheCapacity * 2 : CACHE_ROW_SIZE;
    if (nCapacity > MAX_CACHE_ITEMS)
        nCapacity = MAX_CACHE_ITEMS;
    auto** ppCache = new (std::nothrow) CZQANode*[nCapacity];
    if (!ppCache)
        return false;
    if (m_nCacheSize)
        std::memcpy(ppCache, m_ppCache, m_nCacheSize * sizeof(CZQANode*));
    delete[] m_ppCache;
    m_ppCache = ppCache;
    m_nCacheCapacity = nCapacity;
    return AddToCache(pNode);
}

bool CZQANodeBuilder::AddValue(const char* pszValue, bool bQuoted)
{
    return AddValue(pszValue, pszValue ? std::strlen(pszValue) : 0, bQuoted);
}

bool CZQANodeBuilder::AddValueSlow(const char* pszValue, bool bQuoted)
{
    if (!m_pAllocator)
        return false;
    CZQANode* pNode = m_pAllocator->AllocateNode();
    if (!pNode)
        return false;
    if (!pNode->SetValue(pszValue, bQuoted, m_pAllocator) || !AddToCache(pNode))
    {
        m_pAllocator->FreeNode(pNode);
        return false;
    }
    return true;
}

bool CZQANodeBuilder::AddTextSlow(const char* pText, uint32_t nLength, bool bQuoted)
{
    char szShort[1024];
    std::unique_ptr<char[]> pLong;
    char* pszValue = szShort;
    if (nLength >= sizeof(szShort))
    {
        pLong.reset(new (std::nothrow) char[size_t(nLength) + 1]);
        if (!pLong)
            return false;
        pszValue = pLong.get();
    }
    std::memcpy(pszValue, pText, nLength);
    pszValue[nLength] = '\0';
    return AddValueSlow(pszValue, bQuoted);
}

CZQANode* CZQANodeBuilder::PopListSlow()
{
    if (m_nDepth == 0 || !m_pAllocator)
        return nullptr; // a ")" without its "(" is ignored
    --m_nDepth;
    const uint32_t nStart = m_aStack[m_nDepth];
    const uint32_t nCount = m_nCacheSize - nStart;
    m_nCacheSize = nStart;

    CZQANode* pNode = nullptr;
    bool bBuilt = false;
    if (m_pLoadOnly && nCount <= UINT32_MAX / sizeof(CZQANode*))
    {
        // What AllocateNode and AllocateElements do, with the requests in the same order and sizes.
        pNode = m_pLoadOnly->AllocateNode();
        void* pArray =
            pNode ? m_pLoadOnly->AllocateBlock(static_cast<uint32_t>(nCount * sizeof(CZQANode*))) : nullptr;
        if (pArray)
        {
            pNode->m_pData = pArray;
            pNode->m_nFlags = nCount;
            bBuilt = true;
        }
    }
    else
    {
        pNode = m_pAllocator->AllocateNode();
        bBuilt = pNode && pNode->AllocateElements(nCount, m_pAllocator);
    }
    if (!bBuilt)
    {
        // The list and everything in it are dropped.
        for (uint32_t i = 0; i < nCount; ++i)
            m_pAllocator->FreeNode(m_ppCache[nStart + i]);
        if (pNode)
            m_pAllocator->FreeNode(pNode);
        return nullptr;
    }
    if (nCount)
        std::memcpy(pNode->m_pData, m_ppCache + nStart, nCount * sizeof(CZQANode*));

    // The list takes its first item's cache position and counts as one item of its parent.
    if (!AddToCache(pNode))
    {
        m_pAllocator->FreeNode(pNode);
        return nullptr;
    }
    return pNode;
}

bool CZQANodeBuilder::PopAllLists()
{
    while (m_nDepth > 0)
        PopList();
    return true;
}

CZQANode* CZQANodeBuilder::GetCacheElement(uint32_t nIndex) const
{
    if (!ZQ_CHECK(nIndex < m_nCacheSize, "CZQANodeBuilder::GetCacheElement",
                  "Error: Cache index out of range"))
        return nullptr;
    return m_ppCache[nIndex];
}

uint32_t CZQANodeBuilder::DetachHeads(CZQANode** ppNodeList, uint32_t nMax)
{
    // Without a destination every head goes back to the allocator.
    if (!ZQ_CHECK(ppNodeList, "CZQANodeBuilder::DetachHeads", "Error: Invalid node list"))
        nMax = 0;
    PopAllLists();
    const uint32_t n = m_nCacheSize;
    for (uint32_t k = 0; k < n; ++k)
    {
        if (k < nMax)
            ppNodeList[k] = m_ppCache[k];
        else if (m_pAllocator)
            m_pAllocator->FreeNode(m_ppCache[k]);
    }
    ClearCache();
    return n < nMax ? n : nMax;
}
uint32_t CZQANodeBuilder::DetachHeadsInto(CZQANode* pParent)
{
    if (!pParent || !m_pAllocator)
        return 0;
    // Closing the open lists can add one head per list that is still empty, so the array has room
    // for those too: every open list reaches the parent.
    const uint64_t nRoom = uint64_t(m_nCacheSize) + m_nDepth;
    auto** ppHeads = new (std::nothrow) CZQANode*[nRoom];
    if (!ppHeads)
        return 0;
    const uint32_t n = DetachHeads(ppHeads, static_cast<uint32_t>(nRoom));

    // One array for all heads keeps memory linear in their number. Failing that, one at a time: a
    // head that cannot be appended goes back to the allocator with every head after it, so the
    // parent always holds a prefix of the items in file order.
    uint32_t nAppended = 0;
    if (n > 0 && pParent->AppendElements(ppHeads, n, m_pAllocator))
        nAppended = n;
    while (nAppended < n && pParent->AppendElement(ppHeads[nAppended], m_pAllocator))
        ++nAppended;
    for (uint32_t k = nAppended; k < n; ++k)
        m_pAllocator->FreeNode(ppHeads[k]);

    delete[] ppHeads;
    return nAppended;
}

void CZQANodeBuilder::Reset()
{
    if (m_pAllocator)
    {
        for (uint32_t k = 0; k < m_nCacheSize; ++k)
            m_pAllocator->FreeNode(m_ppCache[k]);
    }
    ClearCache();
}

void CZQANodeBuilder::ClearCache()
{
    delete[] m_ppCache;
    m_ppCache = nullptr;
    m_nCacheSize = 0;
    m_nCacheCapacity = 0;
    m_nDepth = 0;
}
