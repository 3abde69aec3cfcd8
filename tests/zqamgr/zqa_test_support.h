// Shared by the text tree tests: files written through the ZQA file, and a heap allocator that
// counts live allocations and can fail one request.
#pragma once

#include "test_support.h"
#include "zqa_reference.h"

// A new file in the test folder (a truncated one is flushed to disk when closed), plain or compressed.
inline std::string WriteZqa(const std::string& sName, const std::string& sBytes, bool bCompressed)
{
    const std::string sPath = TempPath(sName);
    fs::remove(sPath);
    CZQAFile file(sPath.c_str(), false, bCompressed, false);
    for (char c : sBytes)
        EXPECT_TRUE(file.WriteByte(static_cast<uint8_t>(c)));
    EXPECT_TRUE(file.Close());
    return sPath;
}

// Every node and block is its own heap allocation, so ASan sees each leak and each use after free.
class CHeapTestAlloc : public CZQAAllocator
{
public:
    CZQANode* AllocateNode() override { return Fail() ? nullptr : (++m_nLive, new CZQANode); }
    void FreeNode(CZQANode* pNode) override
    {
        if (!pNode)
            return;
        pNode->Free(this);
        delete pNode;
        --m_nLive;
    }
    void* AllocateBlock(uint32_t nSize) override
    {
        return Fail() ? nullptr : (++m_nLive, std::malloc(nSize + 1));
    }
    void FreeBlock(void* pBlock) override
    {
        m_nLive -= pBlock != nullptr;
        std::free(pBlock);
    }

    uint32_t m_nFailAt = 0;     // the request (counting from 1) that fails; 0: none
    uint32_t m_nFailAlsoAt = 0; // a second one
    uint32_t m_nRequests = 0;
    int m_nLive = 0;

private:
    bool Fail()
    {
        ++m_nRequests;
        return m_nRequests == m_nFailAt || m_nRequests == m_nFailAlsoAt;
    }
};
