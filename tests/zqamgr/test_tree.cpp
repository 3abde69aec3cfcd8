#include "counting_alloc.h"
#include "zqa_test_support.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqautil.h"

#include <cstring>
#include <new>

namespace
{
const std::string kNode = "Engine/libs/zqamgr/zqanode|CZQANode::";
} // namespace

TEST(ZqaNode, AtomsElementsAndChecks)
{
    CRecordingTripwire tripwire;
    CZQALoadOnlyAlloc alloc(4096);
    {
        CZQANode node;
        EXPECT_TRUE(node.IsList());
        EXPECT_EQ(node.GetNumElements(), 0u);
        ASSERT_TRUE(node.SetValue("abc", false, &alloc));
        EXPECT_EQ(node.GetFlags(), 0x80000000u);
        ASSERT_TRUE(node.SetValue("de f", true, &alloc));
        EXPECT_EQ(node.GetFlags(), 0xC0000000u);
        EXPECT_STREQ(node.GetValue(), "de f");
        EXPECT_TRUE(tripwire.m_Reports.empty());
        EXPECT_EQ(node.GetNumElements(), 0u); // an atom read as a list: reported, answered safely
        EXPECT_EQ(node.GetElement(0), nullptr);
    } // destroyed while holding its value
    EXPECT_EQ(tripwire.Take(&Report::Site),
              (Texts{"IsList()|" + kNode + "GetNumElements", "IsList()|" + kNode + "GetElement",
                     "m_pData == 0|" + kNode + "~CZQANode"}));

    CHeapTestAlloc heap;
    CZQANode node;
    ASSERT_TRUE(node.AllocateElements(0, &heap));
    EXPECT_EQ(node.GetNumElements(), 0u);
    EXPECT_EQ(heap.m_nLive, 1); // the zero-element array is a real block
    CZQANode* apChildren[3];
    for (auto*& pChild : apChildren)
    {
        pChild = heap.AllocateNode();
        ASSERT_TRUE(pChild->SetValue("v", false, &heap) && node.AppendElement(pChild, &heap));
    }
    ASSERT_EQ(node.GetNumElements(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(node.GetElement(i), apChildren[i]);
    EXPECT_EQ(node.GetElement(3), nullptr);
    EXPECT_EQ(tripwire.Take(&Report::Site), Texts{"nIndex < m_nFlags|" + kNode + "GetElement"});
    node.Free(&heap);
    EXPECT_EQ(node.GetNumElements(), 0u);
    EXPECT_EQ(heap.m_nLive, 0);
}

TEST(ZqaLoadOnlyAlloc, BlockArithmetic)
{
    CRecordingTripwire tripwire;
    CZQALoadOnlyAlloc alloc(2048);
    auto* p1 = static_cast<uint8_t*>(alloc.AllocateBlock(1000));
    EXPECT_EQ(alloc.AllocateBlock(1000), p1 + 1000);
    EXPECT_EQ(alloc.GetMemLeft(), 48u);
    EXPECT_NE(alloc.AllocateBlock(104), p1 + 2000); // a new block: 48 bytes abandoned
    EXPECT_EQ(alloc.GetMemLeft(), 2048u - 104u);
    std::memset(alloc.AllocateBlock(5000), 0xAB, 5000); // a block of exactly 5000 bytes
    EXPECT_EQ(alloc.GetMemLeft(), 0u);
    alloc.AllocateBlock(8);
    EXPECT_EQ(alloc.GetMemLeft(), 2040u);
    // A node after an odd-sized string starts at the next multiple of 4 and takes its flag word and
    // pointer without padding; an element array after it may be unaligned for pointers.
    auto* pText = static_cast<uint8_t*>(alloc.AllocateBlock(5));
    CZQANode* pNode = alloc.AllocateNode();
    EXPECT_EQ(reinterpret_cast<uint8_t*>(pNode), pText + 8);
    EXPECT_EQ(alloc.GetMemLeft(), 2040u - 8u - (4u + sizeof(void*)));
    EXPECT_TRUE(pNode->IsList() && pNode->GetNumElements() == 0);
    CZQANode* pChild = alloc.AllocateNode();
    ASSERT_TRUE(pNode->AllocateElements(3, &alloc));
    for (uint32_t i = 0; i < 3; ++i)
        pNode->SetElement(i == 1 ? pNode : pChild, i);
    EXPECT_EQ(pNode->GetElement(0), pChild);
    EXPECT_EQ(pNode->GetElement(1), pNode);
    EXPECT_EQ(pNode->GetElement(2), pChild);
    pNode->Free(&alloc);
    alloc.FreeAllBlocks();
    EXPECT_EQ(alloc.GetMemLeft(), 0u);
    EXPECT_TRUE(tripwire.m_Reports.empty());

    CZQALoadOnlyAlloc small(1024);
    EXPECT_EQ(small.GetBlockSize(), 1024u);
    EXPECT_EQ(
        tripwire.Take(&Report::Site),
        Texts{"nBlockSize > 1024|Engine/libs/zqamgr/zqaloadonlyalloc|CZQALoadOnlyAlloc::CZQALoadOnlyAlloc"});
}

TEST(ZqaLoadOnlyAlloc, FreeBlocksBeforeKeepsTheHolderAndWhatFollows)
{
    CZQALoadOnlyAlloc alloc(2048);
    uint8_t* apBlocks[4];
    for (auto*& p : apBlocks)
    {
        p = static_cast<uint8_t*>(alloc.AllocateBlock(2000)); // one block each
        std::memset(p, 0x5A, 2000);
    }
    ASSERT_EQ(alloc.GetNumBlocks(), 4u);
    int nOutside = 0;
    alloc.FreeBlocksBefore(&nOutside); // not from this allocator: nothing goes
    alloc.FreeBlocksBefore(apBlocks[0] + 1999);
    EXPECT_EQ(alloc.GetNumBlocks(), 4u);
    alloc.FreeBlocksBefore(apBlocks[2] + 1000);
    EXPECT_EQ(alloc.GetNumBlocks(), 2u);
    alloc.FreeBlocksBefore(apBlocks[0]); // already released: not found, nothing goes
    EXPECT_EQ(alloc.GetNumBlocks(), 2u);
    alloc.FreeBlocksBefore(apBlocks[3]);
    EXPECT_EQ(alloc.GetNumBlocks(), 1u);
    EXPECT_EQ(apBlocks[3][1999], 0x5A); // the newest block is intact and still carves
    EXPECT_NE(alloc.AllocateBlock(8), nullptr);
    EXPECT_EQ(alloc.GetNumBlocks(), 1u);
    alloc.FreeAllBlocks();
    EXPECT_EQ(alloc.GetNumBlocks(), 0u);
}

TEST(ZqaUtil, FindListAndIsFileCompressed)
{
    CRecordingTripwire tripwire;
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    const std::string path = WriteTemp("f", "((\"x\") y) () z (x 1) (X 0) (x 2) (header (version 1))");
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc));
    EXPECT_EQ(FindList(&root, "x"), root.GetElement(3));
    EXPECT_EQ(FindList(&root, "X"), root.GetElement(4));
    EXPECT_EQ(FindList(&root, "y"), nullptr);
    EXPECT_EQ(FindList(root.GetElement(2), "x"), nullptr); // an atom
    EXPECT_STREQ(FindList(&root, "header")->GetElement(1)->GetElement(1)->GetValue(), "1");
    root.Free(&alloc);

    EXPECT_TRUE(CZQAUtil::IsFileCompressed("fire.Fx00c"));
    EXPECT_TRUE(CZQAUtil::IsFileCompressed("C"));
    EXPECT_FALSE(CZQAUtil::IsFileCompressed("fire.Fx00a"));
    EXPECT_FALSE(CZQAUtil::IsFileCompressed("fire.c "));
    EXPECT_FALSE(CZQAUtil::IsFileCompressed(""));
    EXPECT_TRUE(tripwire.m_Reports.empty());
    EXPECT_FALSE(CZQAUtil::IsFileCompressed(nullptr));
    EXPECT_EQ(tripwire.Take(&Report::Site),
              Texts{"pszFilename|Engine/libs/zqamgr/zqautil|CZQAUtil::IsFileCompressed"});
}

// Every top-level item used to be appended with a copy of the whole array: quadratic block space.
// The bytes asked of the allocator must stay linear in the number of items.
TEST(ZqaLoad, TopLevelItemsTakeLinearSpace)
{
    std::string sText;
    for (int i = 0; i < 20000; ++i)
        sText += i % 2 ? "b\n" : "(x)";
    const std::string path = WriteTemp("atoms", sText);
    CCountingAlloc alloc;
    CZQANode root;
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc));
    ASSERT_EQ(root.GetNumElements(), 20000u);
    EXPECT_STREQ(root.GetElement(19999)->GetValue(), "b");
    EXPECT_STREQ(root.GetElement(19998)->GetElement(0)->GetValue(), "x");
    // A node, its value or one-element array, and a slot in the root: under 64 bytes an item.
    EXPECT_LT(alloc.m_nBytes, 20000u * 64);
    root.Free(&alloc);
}
