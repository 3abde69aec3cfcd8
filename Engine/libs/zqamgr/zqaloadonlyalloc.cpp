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
        m_pHead = pRecord;
        m_nMemLeft = nNewSize;
    }

    if (!ZQ_CHECK(m_nMemLeft >= nSize, "CZQALoadOnlyAlloc::AllocateBlock", "Error: Block overrun"))
        return nullptr;
    if (!ZQ_CHECK(m_pHead, "CZQALoadOnlyAlloc::AllocateBlock", "Error: No block"))
        return nullptr;

    uint8_t* pResult = m_pHead->pPos;
    m_pHead->pPos += nSize;
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
    m_nMemLeft = 0;
}
