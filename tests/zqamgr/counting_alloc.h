// An allocator that counts the bytes asked of it, over a load-only allocator: the tests and the
// benchmark watch tree growth by it (linear in the items loaded, never quadratic).
#pragma once

#include "zqaloadonlyalloc.h"
#include "zqanode.h"

#include <cstdint>
#include <new>

class CCountingAlloc : public CZQAAllocator
{
public:
    CZQANode* AllocateNode() override
    {
        void* pMem = AllocateBlock(sizeof(CZQANode));
        return pMem ? new (pMem) CZQANode() : nullptr;
    }
    void FreeNode(CZQANode*) override {}
    void* AllocateBlock(uint32_t nSize) override
    {
        m_nBytes += nSize;
        return m_Blocks.AllocateBlock(nSize);
    }
    void FreeBlock(void*) override {}

    CZQALoadOnlyAlloc m_Blocks{262144};
    uint64_t m_nBytes = 0;
};
