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
    return LoadEntireFile(pszFilename, bCompressed, pRoot, pAllocator, nullptr);
}

bool CZQANodeReader::LoadEntireFile(const char* pszFilename, bool bCompressed, CZQANode* pRoot,
                                    CZQAAllocator* pAllocator, IZQAItemObserver* pItems)
{
    if (!ZQ_CHECK(pAllocator, "CZQANodeReader::LoadEntireFile", "Error: Invalid allocator"))
        return false;
    if (!ZQ_CHECK(pszFilename, "CZQANodeReader::LoadEntireFile", "Error: Invalid file name"))
        return false;
    // The reader embeds the decoder's window and tables: too large for the stack.
    std::unique_ptr<CZQAReader> pReader(new (std::nothrow) CZQAReader);
    if (!pReader || !pReader->Open(pszFilename, bCompressed))
        return false;
    return pItems ? LoadEntireFile(*pReader, pRoot, pAllocator, *pItems)
                  : LoadEntireFile(*pReader, pRoot, pAllocator);
}

bool CZQANodeReader::LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator)
{
    return LoadEntireFile(reader, pRoot, pAllocator, nullptr);
}

namespace
{
// Tokens straight into the builder; with pItems, each completed item of a top-level list is told.
class CBuildSink
{
public:
    CBuildSink(CZQANodeBuilder& rBuilder, IZQAItemObserver* pItems) : m_rBuilder(rBuilder), m_pItems(pItems)
    {
    }
    bool BeginList(uint64_t) { return m_rBuilder.PushList(); }
    bool EndList(uint64_t)
    {
        PopList(); // a list that cannot be built is dropped; the load goes on
        return true;
    }
    bool Value(const char* pText, uint32_t nLength, bool bQuoted, uint64_t)
    {
        return m_rBuilder.AddText(pText, nLength, bQuoted);
    }
    void End(uint64_t)
    {
        // Lists still open close at the end (otherwise when the heads are detached): their items too.
        while (m_pItems && m_rBuilder.GetDepth() > 0)
            PopList();
    }

private:
    void PopList()
    {
        if (m_rBuilder.PopList() && m_pItems && m_rBuilder.GetDepth() == 1)
        {
            CZQANode* const* ppCache = m_rBuilder.GetCache();
            const uint32_t nTops = m_rBuilder.GetListStart(0);
            m_pItems->OnItem(ppCache, nTops, ppCache + nTops, m_rBuilder.GetCacheSize() - nTops);
        }
    }

    CZQANodeBuilder& m_rBuilder;
    IZQAItemObserver* m_pItems;
};

// The same build, telling an observer about every token and node.
class CObservedBuildSink
{
public:
    CObservedBuildSink(CZQANodeBuilder& rBuilder, IZQANodeObserver& rObserver)
        : m_rBuilder(rBuilder), m_rObserver(rObserver)
    {
    }
    bool BeginList(uint64_t nStart)
    {
        m_rObserver.OnToken(TOKEN_BEGIN_LIST, nStart);
        if (m_rBuilder.GetDepth() < CZQANodeBuilder::MAX_DEPTH)
            m_aOpenStarts[m_rBuilder.GetDepth()] = nStart;
        return m_rBuilder.PushList();
    }
    bool EndList(uint64_t nStart)
    {
        m_rObserver.OnToken(TOKEN_END_LIST, nStart);
        PopList();
        return true;
    }
    bool Value(const char* pText, uint32_t nLength, bool bQuoted, uint64_t nStart)
    {
        m_rObserver.OnToken(bQuoted ? TOKEN_STRING : TOKEN_VALUE, nStart);
        if (!m_rBuilder.AddText(pText, nLength, bQuoted))
            return false;
        m_rObserver.OnNode(m_rBuilder.GetCacheElement(m_rBuilder.GetCacheSize() - 1), nStart);
        return true;
    }
    void End(uint64_t nLength)
    {
        m_rObserver.OnToken(TOKEN_EOF, nLength);
        while (m_rBuilder.GetDepth() > 0)
            PopList();
    }

private:
    void PopList()
    {
        if (m_rBuilder.GetDepth() == 0)
            return;
        const uint64_t nStart = m_aOpenStarts[m_rBuilder.GetDepth() - 1];
        if (const CZQANode* pList = m_rBuilder.PopList())
            m_rObserver.OnNode(pList, nStart);
    }

    CZQANodeBuilder& m_rBuilder;
    IZQANodeObserver& m_rObserver;
    uint64_t m_aOpenStarts[CZQANodeBuilder::MAX_DEPTH]; // where each open list's "(" stands
};
} // namespace

namespace
{
// Builds the tree with the sink that fnMakeSink(builder) reads the tokens into.
template <class MakeSink>
bool BuildTree(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator, MakeSink fnMakeSink)
{
    if (!ZQ_CHECK(pAllocator, "CZQANodeReader::LoadEntireFile", "Error: Invalid allocator"))
        return false;
    if (!reader.IsOpen())
        return false;

    // The builder's list stack takes some 4 KB: kept off the stack as well.
    std::unique_ptr<CZQANodeBuilder> pBuilder(new (std::nothrow) CZQANodeBuilder(pAllocator));
    if (!pBuilder)
        return false;
    pBuilder->Reset();
    if (!fnMakeSink(*pBuilder))
    {
        pBuilder->Reset();
        return false;
    }
    reader.Close();
    pBuilder->DetachHeadsInto(pRoot);
    return true;
}
} // namespace

bool CZQANodeReader::LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator,
                                    IZQANodeObserver* pObserver)
{
    return BuildTree(reader, pRoot, pAllocator,
                     [&](CZQANodeBuilder& rBuilder)
                     {
                         if (!pObserver)
                         {
                             CBuildSink sink(rBuilder, nullptr);
                             return reader.ReadTokens(sink);
                         }
                         std::unique_ptr<CObservedBuildSink> pSink(
                             new (std::nothrow) CObservedBuildSink(rBuilder, *pObserver));
                         return pSink && reader.ReadTokens(*pSink);
                     });
}

bool CZQANodeReader::LoadEntireFile(CZQAReader& reader, CZQANode* pRoot, CZQAAllocator* pAllocator,
                                    IZQAItemObserver& rItems)
{
    return BuildTree(reader, pRoot, pAllocator,
                     [&](CZQANodeBuilder& rBuilder)
                     {
                         CBuildSink sink(rBuilder, &rItems);
                         return reader.ReadTokens(sink);
                     });
}
