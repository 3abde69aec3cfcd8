// Arbitrary bytes through the tokenizer and the tree builder, as a plain file and as a compressed
// stream; the tree is walked and freed. A plain input and its compressed copy must give the same
// tree.
#include "zqa_reference.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqareader.h"
#include "zqprocess.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
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
    sTree = Dump(&root);
    root.Free(&alloc);
    return bOk;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const std::string sBase =
        (std::filesystem::temp_directory_path() / ("fuzz_zqa_load_" + std::to_string(PlatformGetProcessId())))
            .string();
    static const std::string sPlainPath = sBase + "_plain", sPackedPath = sBase + "_packed";
    // New files rather than truncated ones: the file system flushes a truncated file when it is closed.
    std::remove(sPlainPath.c_str());
    std::remove(sPackedPath.c_str());
    FILE* pFile = std::fopen(sPlainPath.c_str(), "wb");
    if (!pFile)
        return 0;
    const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
    if (std::fclose(pFile) != 0 || !bWritten)
        return 0;

    std::string sPlain, sAsPacked, sPacked;
    const bool bPlain = Load(sPlainPath, false, sPlain);
    Load(sPlainPath, true, sAsPacked); // the input read as a compressed stream

    static CZQAFile s_packed;
    if (!s_packed.Open(sPackedPath.c_str(), false, true, false))
        return 0;
    for (size_t i = 0; i < nSize; ++i)
        s_packed.WriteByte(pData[i]);
    if (!s_packed.Close())
        return 0;
    const bool bPacked = Load(sPackedPath, true, sPacked);
    if (bPlain != bPacked || sPlain != sPacked)
        __builtin_trap();
    return 0;
}
