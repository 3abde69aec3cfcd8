#include "tree_test_support.h"
#include "zqaloadonlyalloc.h"
#include "zqanodebuilder.h"
#include "zqanodreader.h"
#include "zqautil.h"

#include <cstring>

namespace
{
const char* const kNodeFile = "Engine/libs/zqamgr/zqanode";

void ExpectReport(const Report& r, const char* pszExpression, const char* pszFile, const char* pszFunction)
{
    EXPECT_EQ(r.sExpression, pszExpression);
    EXPECT_EQ(r.sFile, pszFile);
    EXPECT_EQ(r.sFunction, pszFunction);
}
} // namespace

TEST(ZqaNode, AtomFlagsAndChecks)
{
    CRecordingTripwire tripwire;
    CZQALoadOnlyAlloc alloc(4096);
    {
        CZQANode node;
        EXPECT_TRUE(node.IsList());
        EXPECT_EQ(node.GetNumElements(), 0u);

        ASSERT_TRUE(node.SetValue("abc", false, &alloc));
        EXPECT_EQ(node.GetFlags(), 0x80000000u);
        EXPECT_STREQ(node.GetValue(), "abc");
        ASSERT_TRUE(node.SetValue("de f", true, &alloc));
        EXPECT_EQ(node.GetFlags(), 0xC0000000u);
        EXPECT_STREQ(node.GetValue(), "de f");
        EXPECT_TRUE(tripwire.m_aReports.empty());

        // Reading an atom as a list reports and answers safely.
        EXPECT_EQ(node.GetNumElements(), 0u);
        EXPECT_EQ(node.GetElement(0), nullptr);
        ASSERT_EQ(tripwire.m_aReports.size(), 2u);
        ExpectReport(tripwire.m_aReports[0], "IsList()", kNodeFile, "CZQANode::GetNumElements");
        ExpectReport(tripwire.m_aReports[1], "IsList()", kNodeFile, "CZQANode::GetElement");
        // Destroyed while still holding its value.
    }
    ASSERT_EQ(tripwire.m_aReports.size(), 3u);
    ExpectReport(tripwire.m_aReports[2], "m_pData == 0", kNodeFile, "CZQANode::~CZQANode");
}

TEST(ZqaNode, ElementsAppendAndFree)
{
    CRecordingTripwire tripwire;
    CHeapTestAlloc alloc;
    CZQANode node;
    ASSERT_TRUE(node.AllocateElements(0, &alloc));
    EXPECT_TRUE(node.IsList());
    EXPECT_EQ(node.GetNumElements(), 0u);
    EXPECT_EQ(alloc.m_nRequests, 1u); // the zero-element array is a real block
    EXPECT_EQ(alloc.m_nLive, 1);

    CZQANode* apChildren[3];
    for (auto*& pChild : apChildren)
    {
        pChild = alloc.AllocateNode();
        ASSERT_TRUE(pChild->SetValue("v", false, &alloc));
        ASSERT_TRUE(node.AppendElement(pChild, &alloc));
    }
    ASSERT_EQ(node.GetNumElements(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(node.GetElement(i), apChildren[i]);
    EXPECT_EQ(node.GetElement(3), nullptr);
    ASSERT_EQ(tripwire.m_aReports.size(), 1u);
    ExpectReport(tripwire.m_aReports[0], "nIndex < m_nFlags", kNodeFile, "CZQANode::GetElement");

    // A failed append leaves the list as it was.
    alloc.m_nFailAt = alloc.m_nRequests + 1;
    EXPECT_FALSE(node.AppendElement(apChildren[0], &alloc));
    EXPECT_EQ(node.GetNumElements(), 3u);

    node.Free(&alloc);
    EXPECT_TRUE(node.IsList());
    EXPECT_EQ(node.GetNumElements(), 0u);
    EXPECT_EQ(alloc.m_nLive, 0);
}

TEST(ZqaLoadOnlyAlloc, BlockArithmetic)
{
    CRecordingTripwire tripwire;
    CZQALoadOnlyAlloc alloc(2048);
    EXPECT_EQ(alloc.GetMemLeft(), 0u);
    auto* p1 = static_cast<uint8_t*>(alloc.AllocateBlock(1000));
    auto* p2 = static_cast<uint8_t*>(alloc.AllocateBlock(1000));
    EXPECT_EQ(p2, p1 + 1000);
    EXPECT_EQ(alloc.GetMemLeft(), 48u);
    auto* p3 = static_cast<uint8_t*>(alloc.AllocateBlock(104)); // 48 bytes abandoned
    EXPECT_NE(p3, p2 + 1000);
    EXPECT_EQ(alloc.GetMemLeft(), 2048u - 104u);
    auto* p4 = static_cast<uint8_t*>(alloc.AllocateBlock(5000)); // exactly sized block
    EXPECT_NE(p4, p3 + 104);
    EXPECT_EQ(alloc.GetMemLeft(), 0u);
    std::memset(p4, 0xAB, 5000);
    alloc.AllocateBlock(8);
    EXPECT_EQ(alloc.GetMemLeft(), 2040u);

    // A node after an odd-sized string stays aligned.
    alloc.AllocateBlock(5);
    CZQANode* pNode = alloc.AllocateNode();
    ASSERT_NE(pNode, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pNode) % alignof(void*), 0u);
    EXPECT_TRUE(pNode->IsList());
    EXPECT_EQ(pNode->GetNumElements(), 0u);

    alloc.FreeAllBlocks();
    EXPECT_EQ(alloc.GetMemLeft(), 0u);
    EXPECT_EQ(alloc.GetBlockSize(), 2048u);
    EXPECT_TRUE(tripwire.m_aReports.empty());

    CZQALoadOnlyAlloc small(1024);
    EXPECT_EQ(small.GetBlockSize(), 1024u);
    ASSERT_EQ(tripwire.m_aReports.size(), 1u);
    ExpectReport(tripwire.m_aReports[0], "nBlockSize > 1024", "Engine/libs/zqamgr/zqaloadonlyalloc",
                 "CZQALoadOnlyAlloc::CZQALoadOnlyAlloc");
}

TEST(ZqaNodeBuilder, DetachHeadsGivesBackTheRest)
{
    CHeapTestAlloc alloc;
    {
        CZQANodeBuilder builder(&alloc);
        ASSERT_TRUE(builder.AddValue("a", false));
        ASSERT_TRUE(builder.PushList());
        ASSERT_TRUE(builder.AddValue("b", true));
        EXPECT_EQ(builder.GetCacheSize(), 2u);
        CZQANode* pList = builder.PopList();
        EXPECT_EQ(pList, builder.GetCacheElement(1));
        EXPECT_EQ(builder.PopList(), nullptr); // nothing open
        ASSERT_TRUE(builder.PushList());       // closed by DetachHeads as a third head: no room for it
        CZQANode* apHeads[2] = {};
        EXPECT_EQ(builder.DetachHeads(apHeads, 2), 2u);
        EXPECT_EQ(builder.GetCacheSize(), 0u);
        EXPECT_EQ(Dump(apHeads[0]), "a");
        EXPECT_EQ(Dump(apHeads[1]), "(\"b\")");
        alloc.FreeNode(apHeads[0]);
        alloc.FreeNode(apHeads[1]);
        // Pending nodes go back when the builder goes.
        ASSERT_TRUE(builder.AddValue("c", false));
    }
    EXPECT_EQ(alloc.m_nLive, 0);
}

TEST(ZqaFindList, FirstNamedList)
{
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    const std::string path = WriteTemp("f", "((\"x\") y) () z (x 1) (X 0) (x 2)");
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path.c_str(), false, &root, &alloc));
    EXPECT_EQ(FindList(&root, "x"), root.GetElement(3));
    EXPECT_EQ(FindList(&root, "X"), root.GetElement(4));
    EXPECT_EQ(FindList(&root, "y"), nullptr);
    EXPECT_EQ(FindList(root.GetElement(2), "x"), nullptr); // an atom
    root.Free(&alloc);

    const std::string path2 = WriteTemp("g", "(header (version 1)) (effect-tree a b)");
    ASSERT_TRUE(CZQANodeReader::LoadEntireFile(path2.c_str(), false, &root, &alloc));
    CZQANode* pHeader = FindList(&root, "header");
    ASSERT_EQ(pHeader, root.GetElement(0));
    EXPECT_STREQ(pHeader->GetElement(1)->GetElement(1)->GetValue(), "1");
    EXPECT_EQ(FindList(&root, "effect-tree"), root.GetElement(1));
    root.Free(&alloc);
    std::remove(path.c_str());
    std::remove(path2.c_str());
}

TEST(ZqaUtil, IsFileCompressed)
{
    CRecordingTripwire tripwire;
    EXPECT_TRUE(CZQAUtil::IsFileCompressed("fire.Fx00c"));
    EXPECT_TRUE(CZQAUtil::IsFileCompressed("C"));
    EXPECT_FALSE(CZQAUtil::IsFileCompressed("fire.Fx00a"));
    EXPECT_FALSE(CZQAUtil::IsFileCompressed("fire.c "));
    EXPECT_FALSE(CZQAUtil::IsFileCompressed(""));
    EXPECT_TRUE(tripwire.m_aReports.empty());
    EXPECT_FALSE(CZQAUtil::IsFileCompressed(nullptr));
    ASSERT_EQ(tripwire.m_aReports.size(), 1u);
    ExpectReport(tripwire.m_aReports[0], "pszFilename", "Engine/libs/zqamgr/zqautil",
                 "CZQAUtil::IsFileCompressed");
}
