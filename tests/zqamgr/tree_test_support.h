// Shared by the tree tests: temporary files, a report recorder, a heap allocator that counts live
// allocations and can fail one request, and a one-line rendering of a tree.
#pragma once

#include "itripwiremgr.h"
#include "zqafile.h"
#include "zqanode.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A folder of the running test's own, removed at exit (each test runs in a process of its own).
inline std::filesystem::path TempDir()
{
    static struct CDir
    {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("zqatree_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        CDir() { std::filesystem::create_directories(path); }
        ~CDir() { std::filesystem::remove_all(path); }
    } s_dir;
    return s_dir.path;
}

inline std::string WriteTemp(const std::string& tag, const std::string& bytes, bool bCompressed = false)
{
    const std::string path = (TempDir() / tag).string();
    std::filesystem::remove(path); // a new file: a truncated one is flushed to disk when closed
    CZQAFile file(path.c_str(), false, bCompressed, false);
    for (char c : bytes)
        file.WriteByte(static_cast<uint8_t>(c));
    EXPECT_TRUE(file.Close());
    return path;
}

// Reports as "expression|file|function".
class CRecordingTripwire : public ITripwireMgr
{
public:
    CRecordingTripwire() { ZQSetAssertManagerForTesting(this); }
    ~CRecordingTripwire() { ZQSetAssertManagerForTesting(nullptr); }
    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int) override {}
    int GetDefaultAnswer() override { return 0; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return unsigned(m_aReports.size()); }
    void ResetReportCount() override { m_aReports.clear(); }
    int HandleAssert(const char* pszExpr, const char* pszFile, int, const char* pszFunc, const char*,
                     va_list*) override
    {
        m_aReports.push_back(std::string(pszExpr) + "|" + pszFile + "|" + pszFunc);
        return 0;
    }
    std::vector<std::string> m_aReports;
};

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

    uint32_t m_nFailAt = 0; // the request (counting from 1) that fails; 0: none
    uint32_t m_nRequests = 0;
    int m_nLive = 0;

private:
    bool Fail() { return ++m_nRequests == m_nFailAt; }
};

// Lists as "(a b)", bare words as they are, quoted strings in quotes.
inline std::string Dump(const CZQANode* pNode)
{
    if (pNode->IsAtom())
        return pNode->GetFlags() == 0xC0000000u ? '"' + std::string(pNode->GetValue()) + '"'
                                                : pNode->GetValue();
    std::string s;
    for (uint32_t i = 0; i < pNode->GetNumElements(); ++i)
        s += ' ' + Dump(pNode->GetElement(i));
    return "(" + s.substr(s.empty() ? 0 : 1) + ")";
}
