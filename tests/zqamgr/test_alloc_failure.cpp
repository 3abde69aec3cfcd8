// When memory runs out: the load-only allocator refuses what it cannot hand out without giving
// anything away, and the tree builder fails cleanly wherever an allocation fails.
#include "zqa_reference.h"
#include "zqa_test_support.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"

#include <cstring>
#include <new>

namespace
{
// A load-only allocator that refuses every request after the first nGranted.
class CRationedAlloc : public CZQAAllocator
{
public:
    explicit CRationedAlloc(uint32_t nGranted) : m_nGranted(nGranted) {}
    CZQANode* AllocateNode() override
    {
        void* pMem = AllocateBlock(sizeof(CZQANode));
        return pMem ? new (pMem) CZQANode() : nullptr;
    }
    void FreeNode(CZQANode*) override {}
    void* AllocateBlock(uint32_t nSize) override
    {
        ++m_nAsked;
        return m_nAsked <= m_nGranted ? m_Blocks.AllocateBlock(nSize) : nullptr;
    }
    void FreeBlock(void*) override {}

    CZQALoadOnlyAlloc m_Blocks{4096};
    uint32_t m_nGranted;
    uint32_t m_nAsked = 0;
};
} // namespace

// Sizes whose rounding to the alignment passes 32 bits: refused, from an empty allocator and from
// one whose current block has room, with nothing allocated and the block's room kept.
TEST(ZqaLoadOnlyAlloc, RefusesSizesPastThirtyTwoBits)
{
    CRecordingTripwire tripwire;
    CZQALoadOnlyAlloc alloc(2048);
    const uint32_t anSizes[] = {UINT32_MAX, UINT32_MAX - 1, UINT32_MAX - (CZQALoadOnlyAlloc::ALIGNMENT - 2)};
    for (uint32_t nSize : anSizes)
        EXPECT_EQ(alloc.AllocateBlock(nSize), nullptr) << nSize;
    EXPECT_EQ(alloc.GetNumBlocks(), 0u);
    EXPECT_EQ(alloc.GetMemLeft(), 0u);

    auto* pFirst = static_cast<uint8_t*>(alloc.AllocateBlock(16));
    ASSERT_NE(pFirst, nullptr);
    for (uint32_t nSize : anSizes)
        EXPECT_EQ(alloc.AllocateBlock(nSize), nullptr) << nSize;
    EXPECT_EQ(alloc.GetNumBlocks(), 1u);
    EXPECT_EQ(alloc.GetMemLeft(), 2048u - 16u);
    EXPECT_EQ(alloc.AllocateBlock(8), pFirst + 16); // the block goes on where it was
    EXPECT_TRUE(tripwire.m_Reports.empty());
}

// A tree whose building runs out of memory at every possible allocation in turn. A refused node,
// value or element row fails the load and leaves the root as it was; a list refused at its ")" or
// at the end is dropped and the load goes on, so the root then holds the items before it. With
// enough memory the same text loads whole.
TEST(ZqaLoadOnlyAlloc, TreeBuilderFailsCleanlyAtEveryAllocation)
{
    const std::string sPath =
        WriteTemp("ration.zqa", "(a (b \"c d\" (e)) f)\n(g h)\n" + std::string(3000, 'w') + " (i)");
    std::vector<std::string> whole;
    {
        CZQALoadOnlyAlloc alloc(4096);
        CZQANode root;
        ASSERT_TRUE(CZQANodeReader::LoadEntireFile(sPath.c_str(), false, &root, &alloc));
        for (uint32_t i = 0; i < root.GetNumElements(); ++i)
            whole.push_back(Dump(root.GetElement(i)));
        root.Free(&alloc);
    }
    ASSERT_EQ(whole.size(), 4u);
    size_t nFailed = 0;
    for (uint32_t nGranted = 0;; ++nGranted)
    {
        ASSERT_LT(nGranted, 1000u);
        CRationedAlloc alloc(nGranted);
        CZQANode root;
        const bool bLoaded = CZQANodeReader::LoadEntireFile(sPath.c_str(), false, &root, &alloc);
        std::vector<std::string> items;
        for (uint32_t i = 0; i < root.GetNumElements(); ++i)
            items.push_back(Dump(root.GetElement(i)));
        root.Free(&alloc);
        if (alloc.m_nAsked <= nGranted)
        {
            // Nothing was refused: the whole tree.
            EXPECT_TRUE(bLoaded);
            EXPECT_EQ(items, whole);
            break;
        }
        SCOPED_TRACE("refused after " + std::to_string(nGranted) + " allocations");
        nFailed += !bLoaded;
        if (!bLoaded)
            EXPECT_TRUE(items.empty());
        else
        {
            ASSERT_LE(items.size(), whole.size());
            EXPECT_EQ(items, std::vector<std::string>(whole.begin(), whole.begin() + items.size()));
        }
    }
    EXPECT_GE(nFailed, 10u); // every node and value of the tree asks for memory
}
