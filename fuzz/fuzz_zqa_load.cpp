// Arbitrary bytes through the tokenizer and the tree builder, as a plain file and as a compressed
// stream; the tree is walked and freed. A plain input and its compressed copy must give the same
// tree.
#include "zqafile.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqareader.h"

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

// One reader for the whole run: its construction (the decoder's tables) would dominate each input.
CZQAReader& Reader()
{
    static CZQAReader s_reader;
    return s_reader;
}

bool Load(const std::string& path, bool bCompressed, std::string& sTree)
{
    if (!Reader().Open(path.c_str(), bCompressed))
        return false;
    CZQALoadOnlyAlloc alloc(4096);
    CZQANode root;
    const bool bOk = CZQANodeReader::LoadEntireFile(Reader(), &root, &alloc);
    Reader().Close();
    sTree = Render(&root);
    root.Free(&alloc);
    return bOk;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // New files rather than truncated ones: the file system flushes a truncated file when it is closed.
    std::remove(PlainPath().c_str());
    std::remove(PackedPath().c_str());
    FILE* pFile = std::fopen(PlainPath().c_str(), "wb");
    if (!pFile)
        return 0;
    const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
    if (std::fclose(pFile) != 0 || !bWritten)
        return 0;

    std::string sPlain, sAsPacked, sPacked;
    const bool bPlain = Load(PlainPath(), false, sPlain);
    Load(PlainPath(), true, sAsPacked); // the input read as a compressed stream

    static CZQAFile s_packed;
    if (!s_packed.Open(PackedPath().c_str(), false, true, false))
        return 0;
    for (size_t i = 0; i < nSize; ++i)
        s_packed.WriteByte(pData[i]);
    if (!s_packed.Close())
        return 0;
    const bool bPacked = Load(PackedPath(), true, sPacked);
    if (bPlain != bPacked || sPlain != sPacked)
        __builtin_trap();
    return 0;
}
