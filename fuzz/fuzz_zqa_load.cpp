// Arbitrary bytes through the tokenizer and the tree builder, as a plain file and as a compressed
// stream; the tree is walked and freed. A plain input and its compressed copy must give the same
// tree.
#include "zqafile.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
std::string TempName(const char* pszTag)
{
    return (std::filesystem::temp_directory_path() /
            ("fuzz_zqa_load_" + std::to_string(getpid()) + "_" + pszTag))
        .string();
}

const std::string& PlainPath()
{
    static const std::string s = TempName("plain");
    return s;
}

const std::string& PackedPath()
{
    static const std::string s = TempName("packed");
    return s;
}

// Lists as "(...)", atoms as their length and flag; every value byte is read.
std::string Render(const CZQANode* pRoot)
{
    std::string s;
    std::vector<std::pair<const CZQANode*, uint32_t>> stack{{pRoot, 0}};
    s += '(';
    while (!stack.empty())
    {
        auto& [pList, nNext] = stack.back();
        if (nNext == pList->GetNumElements())
        {
            s += ')';
            stack.pop_back();
            continue;
        }
        const CZQANode* pNode = pList->GetElement(nNext++);
        if (pNode->IsList())
        {
            s += '(';
            stack.push_back({pNode, 0});
        }
        else
        {
            s += pNode->GetFlags() == 0xC0000000u ? '"' : ' ';
            s += pNode->GetValue();
            s += '\x01';
        }
    }
    return s;
}

bool Load(const std::string& path, bool bCompressed, std::string& sTree)
{
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    const bool bOk = CZQANodeReader::LoadEntireFile(path.c_str(), bCompressed, &root, &alloc);
    sTree = Render(&root);
    root.Free(&alloc);
    return bOk;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FILE* pFile = std::fopen(PlainPath().c_str(), "wb");
    if (!pFile)
        return 0;
    const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
    if (std::fclose(pFile) != 0 || !bWritten)
        return 0;

    std::string sPlain, sAsPacked, sPacked;
    const bool bPlain = Load(PlainPath(), false, sPlain);
    Load(PlainPath(), true, sAsPacked); // the input read as a compressed stream

    {
        CZQAFile packed(PackedPath().c_str(), false, true, false);
        if (!packed.IsOpen())
            return 0;
        for (size_t i = 0; i < nSize; ++i)
            packed.WriteByte(pData[i]);
        if (!packed.Close())
            return 0;
    }
    const bool bPacked = Load(PackedPath(), true, sPacked);
    if (bPlain != bPacked || sPlain != sPacked)
        __builtin_trap();
    return 0;
}
