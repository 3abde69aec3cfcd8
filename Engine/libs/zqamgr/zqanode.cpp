#include "zqanode.h"

#include "zqstrutils.h"

#include <cstring>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqanode"

CZQANode::~CZQANode()
{
    ZQ_CHECK(m_pData == 0, "CZQANode::~CZQANode", "Error: Node destroyed while it still holds data");
}

uint32_t CZQANode::ReportNotList() const
{
    ZQ_CHECK(IsList(), "CZQANode::GetNumElements", "Error: Node is not a list");
    return 0;
}

CZQANode* CZQANode::ReportBadElement(uint32_t nIndex) const
{
    if (!ZQ_CHECK(IsList(), "CZQANode::GetElement", "Error: Node is not a list"))
        return nullptr;
    ZQ_CHECK(nIndex < m_nFlags, "CZQANode::GetElement", "Error: Element index out of range");
    return nullptr;
}

const char* CZQANode::ReportNotAtom() const
{
    ZQ_CHECK(IsAtom(), "CZQANode::GetValue", "Error: Node is not an atom");
    return "";
}

void CZQANode::ReportBadSetElement(uint32_t nIndex) const
{
    if (!ZQ_CHECK(IsList(), "CZQANode::SetElement", "Error: Node is not a list"))
        return;
    ZQ_CHECK(nIndex < m_nFlags, "CZQANode::SetElement", "Error: Element index out of range");
}

bool CZQANode::AllocateElements(uint32_t nCount, CZQAAllocator* pAllocator)
{
    if (!ZQ_CHECK(pAllocator, "CZQANode::AllocateElements", "Error: Invalid allocator"))
        return false;
    Free(pAllocator);
    // The byte count must fit the allocator's 32-bit size (this also keeps bit 31 clear).
    if (nCount > UINT32_MAX / sizeof(CZQANode*))
        return false;
    void* pArray = pAllocator->AllocateBlock(static_cast<uint32_t>(nCount * sizeof(CZQANode*)));
    if (!pArray)
        return false;
    m_pData = pArray;
    m_nFlags = nCount;
    return true;
}

bool CZQANode::AppendElement(CZQANode* pNode, CZQAAllocator* pAllocator)
{
    if (!ZQ_CHECK(pAllocator, "CZQANode::AppendElement", "Error: Invalid allocator"))
        return false;
    if (!ZQ_CHECK(IsList(), "CZQANode::AppendElement", "Error: Node is not a list"))
        return false;
    return Grow(&pNode, 1, pAllocator);
}

bool CZQANode::AppendElements(CZQANode* const* ppNodes, uint32_t nCount, CZQAAllocator* pAllocator)
{
    if (!ZQ_CHECK(pAllocator, "CZQANode::AppendElements", "Error: Invalid allocator"))
        return false;
    if (!ZQ_CHECK(IsList(), "CZQANode::AppendElements", "Error: Node is not a list"))
        return false;
    return Grow(ppNodes, nCount, pAllocator);
}

bool CZQANode::Grow(CZQANode* const* ppNodes, uint32_t nAdd, CZQAAllocator* pAllocator)
{
    const uint64_t nTotal = uint64_t(m_nFlags) + nAdd;
    if (nTotal > UINT32_MAX / sizeof(CZQANode*))
        return false;
    auto** ppNew =
        static_cast<CZQANode**>(pAllocator->AllocateBlock(static_cast<uint32_t>(nTotal * sizeof(CZQANode*))));
    if (!ppNew)
        return false;
    if (m_nFlags)
        std::memcpy(ppNew, m_pData, m_nFlags * sizeof(CZQANode*));
    if (nAdd)
        std::memcpy(ppNew + m_nFlags, ppNodes, nAdd * sizeof(CZQANode*));
    pAllocator->FreeBlock(m_pData);
    m_pData = ppNew;
    m_nFlags = static_cast<uint32_t>(nTotal);
    return true;
}

bool CZQANode::SetValue(const char* pszValue, bool bQuoted, CZQAAllocator* pAllocator)
{
    Free(pAllocator);
    if (!pAllocator)
        return false;
    if (!pszValue)
        pszValue = "";
    const size_t nLen = std::strlen(pszValue);
    if (nLen >= UINT32_MAX)
        return false;
    void* pText = pAllocator->AllocateBlock(static_cast<uint32_t>(nLen + 1));
    if (!pText)
        return false;
    std::memcpy(pText, pszValue, nLen + 1);
    m_pData = pText;
    m_nFlags = bQuoted ? (ATOM_FLAG | QUOTED_FLAG) : ATOM_FLAG;
    return true;
}

void CZQANode::FreeData(CZQAAllocator* pAllocator)
{
    if (!ZQ_CHECK(pAllocator, "CZQANode::Free", "Error: Invalid allocator"))
        return;
    if (IsAtom())
    {
        pAllocator->FreeBlock(m_pData);
    }
    else
    {
        // Only the direct children: deeper levels are the allocator's business.
        for (uint32_t i = 0; i < m_nFlags; ++i)
            pAllocator->FreeNode(LoadElement(m_pData, i));
        pAllocator->FreeBlock(m_pData);
    }
    m_nFlags = 0;
    m_pData = nullptr;
}
