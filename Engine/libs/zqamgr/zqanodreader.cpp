#include "zqanodreader.h"

#include "zqanodebuilder.h"
#include "zqareader.h"
#include "zqstrutils.h"

#include <memory>
#include <new>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqanodreader"

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
    return LoadEntireFile(reader, pRoot, pAllocator, nullptr);
}

bool CZQANodeReader::LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator,
                                    IZQANodeObserver* pObserver)
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
    // With an observer: where each open list's "(" stands, outermost first.
    uint64_t aOpenStarts[CZQANodeBuilder::MAX_DEPTH];

    char szToken[TOKEN_BUFFER_LEN];
    uint32_t nLength = 0;
    for (;;)
    {
        bool bOk = true;
        const uint32_t eToken = reader.NextToken(szToken, TOKEN_BUFFER_LEN, nLength);
        if (pObserver)
            pObserver->OnToken(eToken, reader.GetTokenStart());
        switch (eToken)
        {
        case TOKEN_BEGIN_LIST:
            if (pObserver && pBuilder->GetDepth() < CZQANodeBuilder::MAX_DEPTH)
                aOpenStarts[pBuilder->GetDepth()] = reader.GetTokenStart();
            bOk = pBuilder->PushList();
            break;
        case TOKEN_END_LIST:
            if (!pObserver)
                pBuilder->EndList(); // a list that cannot be built is dropped; the load goes on
            else if (pBuilder->GetDepth() > 0)
            {
                const uint64_t nStart = aOpenStarts[pBuilder->GetDepth() - 1];
                if (const CZQANode* pList = pBuilder->PopList())
                    pObserver->OnNode(pList, nStart);
            }
            break;
        case TOKEN_VALUE:
        case TOKEN_STRING:
            bOk = pBuilder->AddValue(szToken, nLength, eToken == TOKEN_STRING);
            if (bOk && pObserver)
                pObserver->OnNode(pBuilder->GetCacheElement(pBuilder->GetCacheSize() - 1),
                                  reader.GetTokenStart());
            break;
        case TOKEN_EOF:
        default:
            reader.Close();
            while (pObserver && pBuilder->GetDepth() > 0)
            {
                const uint64_t nStart = aOpenStarts[pBuilder->GetDepth() - 1];
                if (const CZQANode* pList = pBuilder->PopList())
                    pObserver->OnNode(pList, nStart);
            }
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
