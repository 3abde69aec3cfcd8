#include "zqanodreader.h"

#include "zqanodebuilder.h"
#include "zqareader.h"
#include "zqstrutils.h"

#include <memory>
#include <new>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqanodreader"

namespace
{
constexpr uint32_t kTokenBufferLen = 1024;
}

bool CZQANodeReader::LoadEntireFile(const char* pszFilename, bool bCompressed, CZQANode* pRoot,
                                    CZQAAllocator* pAllocator)
{
    if (!ZQ_CHECK(pAllocator, "CZQANodeReader::LoadEntireFile", "Error: Invalid allocator"))
        return false;
    if (!ZQ_CHECK(pszFilename, "CZQANodeReader::LoadEntireFile", "Error: Invalid file name"))
        return false;
    // The reader embeds the decoder's window and tables: too large for the stack.
    std::unique_ptr<CZQAReader> pReader(new (std::nothrow) CZQAReader);
    if (!pReader || !pReader->Open(pszFilename, bCompressed))
        return false;
    return LoadEntireFile(*pReader, pRoot, pAllocator);
}

bool CZQANodeReader::LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator)
{
    if (!ZQ_CHECK(pAllocator, "CZQANodeReader::LoadEntireFile", "Error: Invalid allocator"))
        return false;
    if (!reader.IsOpen())
        return false;

    // The builder's cache and list stack take some 24 KB: kept off the stack as well.
    std::unique_ptr<CZQANodeBuilder> pBuilder(new (std::nothrow) CZQANodeBuilder(pAllocator));
    if (!pBuilder)
        return false;
    pBuilder->Reset();

    char szToken[kTokenBufferLen];
    uint32_t nLength = 0;
    for (;;)
    {
        bool bOk = true;
        switch (reader.NextToken(szToken, kTokenBufferLen, nLength))
        {
        case TOKEN_BEGIN_LIST:
            bOk = pBuilder->PushList();
            break;
        case TOKEN_END_LIST:
            pBuilder->EndList(); // a list that cannot be built is dropped; the load goes on
            break;
        case TOKEN_VALUE:
            bOk = pBuilder->AddValue(szToken, nLength, false);
            break;
        case TOKEN_STRING:
            bOk = pBuilder->AddValue(szToken, nLength, true);
            break;
        case TOKEN_EOF:
        default:
            reader.Close();
            pBuilder->DetachHeadsInto(pRoot);
            return true;
        }
        if (!bOk)
        {
            pBuilder->Reset();
            return false;
        }
    }
}
