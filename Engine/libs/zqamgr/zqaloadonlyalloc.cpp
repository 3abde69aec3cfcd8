#include "zqaloadonlyalloc.h"

#include "zqstrutils.h"

#include <new>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqaloadonlyalloc"

CZQALoadOnlyAlloc::CZQALoadOnlyAlloc(uint32_t nBlockSize) : m_nBlockSize(nBlockSize)
{
    ZQ_CHECK(nBlockSize > 1024, "CZQALoadOnlyAlloc::CZQALoadOnlyAlloc", "Error: Block size too small");
}

CZQALoadOnlyAlloc::~CZQALoadOnlyAlloc()
{
    FreeAllBlocks();
}

void* CZQALoadOnlyAlloc::AllocateBlockSlow(uint32_t nSize)
{
    if (nSize > UINT32_MAX - (ALIGNMENT - 1))
        return nullptr;
    nSize = (nSize + (ALIGNMENT - 1)) & ~(ALIGNMENT - 1);

    if (m_nMemLeft < nSize || !m_pHead)
    {
        // Whatever is left in the current block is abandoned.
        const uint32_t nNewSize = nSize > m_nBlockSize ? nSize : m_nBlockSize;
        auto* pBlock = new (std::nothrow) uint8_t[nNewSize];
        if (!pBlock)
            return nullptr;
        auto* pRecord = new (std::nothrow) BlockRecord;
        if (!pRecord)
        {
            delete[] pBlock;
            return nullptr;
        }
        pRecord->pStart = pBlock;
        pRecord->pPos = pBlock;
        pRecord->pNext = m_pHead;
        pRecord->pNewer = nullptr;
        if (m_pHead)
        {
            m_pHead->pPos = m_pPos;
            m_pHead->pNewer = pRecord;
        }
        else
            m_pTail = pRecord;
        m_pHead = pRecord;
        m_pPos = pBlock;
        ++m_nNumBlocks;
        m_nMemLeft = nNewSize;
    }

    if (!ZQ_CHECK(m_nMemLeft >= nSize, "CZQALoadOnlyAlloc::AllocateBlock", "Error: Block overrun"))
        return nullptr;
    if (!ZQ_CHECK(m_pHead, "CZQALoadOnlyAlloc::AllocateBlock", "Error: No block"))
        return nullptr;

    uint8_t* pResult = m_pPos;
    m_pPos += nSize;
    m_nMemLeft -= nSize;
    return pResult;
}

void CZQALoadOnlyAlloc::FreeAllBlocks()
{
    while (m_pHead)
    {
        BlockRecord* pNext = m_pHead->pNext;
        delete[] m_pHead->pStart;
        delete m_pHead;
        m_pHead = pNext;
    }
    m_pTail = nullptr;
    m_pPos = nullptr;
    m_nNumBlocks = 0;
    m_nMemLeft = 0;
}

void CZQALoadOnlyAlloc::FreeBlocksBefore(const void* pAllocated)
{
    // Found from the oldest end first, so the blocks walked past are the ones released: the cost is
    // paid once per block over all calls.
    if (m_pHead)
        m_pHead->pPos = m_pPos;
    const uintptr_t nAddress = reinterpret_cast<uintptr_t>(pAllocated);
    BlockRecord* pHolder = m_pTail;
    while (pHolder && !(nAddress >= reinterpret_cast<uintptr_t>(pHolder->pStart) &&
                        nAddress < reinterpret_cast<uintptr_t>(pHolder->pPos)))
        pHolder = pHolder->pNewer;
    if (!pHolder)
        return;
    while (m_pTail != pHolder)
    {
        BlockRecord* pNewer = m_pTail->pNewer;
        delete[] m_pTail->pStart;
        delete m_pTail;
        m_pTail = pNewer;
        --m_nNumBlocks;
    }
    pHolder->pNext = nullptr;
}
