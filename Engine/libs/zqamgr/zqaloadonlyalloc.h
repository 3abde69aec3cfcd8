// Block allocator for trees that are loaded once, read, and thrown away as a whole: requests are
// carved back to back out of large heap blocks, individual frees cost nothing, and everything goes
// at FreeAllBlocks or destruction.
#pragma once

#include "zqanode.h"

#include <cstdint>
#include <new>

class CZQALoadOnlyAlloc final : public CZQAAllocator
{
public:
    // Every request is rounded up to this, so nodes placed after odd-sized strings stay aligned.
    // Element arrays get no more than this (CZQANode reads them unaligned).
    static constexpr uint32_t ALIGNMENT = alignof(CZQANode);

    explicit CZQALoadOnlyAlloc(uint32_t nBlockSize);

    // A block size for the tree of a text of nTextSize bytes: about an eighth of it, so that the
    // unused end of the newest block stays small beside a small text's tree (some five times the
    // text), within MIN_TEXT_BLOCK and MAX_TEXT_BLOCK.
    static constexpr uint32_t MIN_TEXT_BLOCK = 0x4000;
    static constexpr uint32_t MAX_TEXT_BLOCK = 0x40000;
    static uint32_t BlockSizeForText(uint64_t nTextSize)
    {
        const uint64_t nEighth = (nTextSize / 8 + 0xFFF) & ~uint64_t(0xFFF);
        return nEighth < MIN_TEXT_BLOCK   ? MIN_TEXT_BLOCK
               : nEighth > MAX_TEXT_BLOCK ? MAX_TEXT_BLOCK
                                          : static_cast<uint32_t>(nEighth);
    }
    ~CZQALoadOnlyAlloc() override;
    CZQALoadOnlyAlloc(const CZQALoadOnlyAlloc&) = delete;
    CZQALoadOnlyAlloc& operator=(const CZQALoadOnlyAlloc&) = delete;

    CZQANode* AllocateNode() override
    {
        void* pMem = AllocateBlock(sizeof(CZQANode));
        return pMem ? new (pMem) CZQANode() : nullptr;
    }
    void FreeNode(CZQANode*) override {}
    // Inline while the newest block has room (the class is final, so callers holding this type
    // reach it without a virtual call); a new block is the out-of-line part.
    void* AllocateBlock(uint32_t nSize) override
    {
        const uint32_t nRounded = (nSize + (ALIGNMENT - 1)) & ~(ALIGNMENT - 1);
        if (nRounded >= nSize && nRounded <= m_nMemLeft && m_pPos)
        {
            uint8_t* pResult = m_pPos;
            m_pPos += nRounded;
            m_nMemLeft -= nRounded;
            return pResult;
        }
        return AllocateBlockSlow(nSize);
    }
    void FreeBlock(void*) override {}

    // Releases every block: every node, array and string handed out becomes invalid.
    void FreeAllBlocks();
    // Releases the blocks older than the one holding pAllocated, which must have come from this
    // allocator (nothing is released otherwise): everything handed out before that block becomes
    // invalid. Lets a reader that walks a tree in allocation order give back what it has passed.
    void FreeBlocksBefore(const void* pAllocated);
    uint32_t GetNumBlocks() const { return m_nNumBlocks; }

    uint32_t GetMemLeft() const { return m_nMemLeft; }
    uint32_t GetBlockSize() const { return m_nBlockSize; }

private:
    void* AllocateBlockSlow(uint32_t nSize);

    struct BlockRecord
    {
        uint8_t* pStart;     // the block, owned
        uint8_t* pPos;       // end of what was handed out (the newest block's: m_pPos)
        BlockRecord* pNext;  // the previously newest block
        BlockRecord* pNewer; // the block made after this one
    };

    uint8_t* m_pPos = nullptr; // next byte to hand out in the newest block (its pPos is set on leaving it)
    uint32_t m_nMemLeft = 0;   // bytes still free in the newest block
    uint32_t m_nBlockSize;     // default size of a new block
    BlockRecord* m_pHead = nullptr; // newest block
    BlockRecord* m_pTail = nullptr; // oldest block
    uint32_t m_nNumBlocks = 0;
};
