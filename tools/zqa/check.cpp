// check: loads each file as the packer would and names what is wrong with it. The loader itself
// tolerates unmatched parentheses and cuts over-long tokens silently; check reports them, because
// in a hand-edited file they are almost always mistakes. A binary file (a packed one, say) is named
// as such instead of being read as a tree of garbage.
#include "zqa.h"

#include "zqaloadonlyalloc.h"
#include "zqanode.h"
#include "zqanodreader.h"
#include "zqareader.h"

#include <cstdio>
#include <memory>
#include <new>

namespace zqa
{
namespace
{
constexpr uint32_t kTokenBuffer = CZQAReader::TOKEN_TEXT_MAX + 1;
constexpr uint32_t kMaxOpenLists = 1023;

struct TokenStats
{
    uint64_t nTokens = 0;
    uint64_t nUnmatchedClose = 0;
    uint32_t nUnclosedAtEnd = 0;
    uint32_t nMaxDepth = 0;
    uint64_t nLongTokens = 0; // tokens that filled the buffer: possibly cut
};

// Counts what check reports, fed by the reader's token loop (the one the loader uses).
class CTokenCounter
{
public:
    explicit CTokenCounter(TokenStats& rStats) : m_rStats(rStats) {}
    bool BeginList(uint64_t)
    {
        ++m_rStats.nTokens;
        if (++m_nDepth > m_rStats.nMaxDepth)
            m_rStats.nMaxDepth = m_nDepth;
        return true;
    }
    bool EndList(uint64_t)
    {
        ++m_rStats.nTokens;
        if (m_nDepth == 0)
            ++m_rStats.nUnmatchedClose;
        else
            --m_nDepth;
        return true;
    }
    bool Value(const char*, uint32_t nLength, bool, uint64_t)
    {
        ++m_rStats.nTokens;
        if (nLength >= kTokenBuffer - 1)
            ++m_rStats.nLongTokens;
        return true;
    }
    void End(uint64_t) { m_rStats.nUnclosedAtEnd = m_nDepth; }

private:
    TokenStats& m_rStats;
    uint32_t m_nDepth = 0;
};

bool ScanTokens(const std::string& sPath, bool bCompressed, TokenStats& stats)
{
    // The reader embeds the decoder's window: too large for the stack.
    std::unique_ptr<CZQAReader> pReader(new (std::nothrow) CZQAReader);
    if (!pReader || !pReader->Open(sPath.c_str(), bCompressed))
        return false;
    CTokenCounter counter(stats);
    pReader->ReadTokens(counter);
    pReader->Close();
    return true;
}

bool CheckOne(const std::string& sPath, InputMode eMode, bool bQuiet)
{
    if (!CheckReadable(sPath))
        return false;
    const bool bCompressed = ResolveCompressed(sPath, eMode);
    TokenStats stats;
    if (!ScanTokens(sPath, bCompressed, stats))
    {
        std::printf("%s: error: %s\n", sPath.c_str(),
                    bCompressed ? "not a compressed ZQA file (its first four bytes are not zero)"
                                : "cannot be opened");
        return false;
    }
    ContentScan scan;
    ScanContent(sPath, bCompressed, scan);
    if (scan.bHasNul)
    {
        std::printf("%s: error: %s\n", sPath.c_str(), NotTextMessage(scan.nNulOffset).c_str());
        return false;
    }
    // The cause first: lists left open where the data stops follow from the cut. The packer reads a
    // cut file to its end and packs it, so this is a warning, as fxcheck's compressed-truncated.
    if (scan.bCutShort)
        std::printf("%s: warning: %s; the loader takes the end of the data as the end of the text\n",
                    sPath.c_str(), CutShortMessage(scan.nBytes).c_str());

    bool bOk = true;
    if (stats.nMaxDepth > kMaxOpenLists)
    {
        std::printf("%s: error: lists nested %u deep; at most %u can be open at once\n", sPath.c_str(),
                    stats.nMaxDepth, kMaxOpenLists);
        bOk = false;
    }
    if (stats.nUnmatchedClose)
    {
        std::printf("%s: error: %llu unmatched ')' (ignored when loaded)\n", sPath.c_str(),
                    static_cast<unsigned long long>(stats.nUnmatchedClose));
        bOk = false;
    }
    if (stats.nUnclosedAtEnd && scan.bCutShort)
    {
        std::printf("%s: warning: %u list(s) still open where the data is cut (closed when loaded)\n",
                    sPath.c_str(), stats.nUnclosedAtEnd);
    }
    else if (stats.nUnclosedAtEnd)
    {
        std::printf("%s: error: %u list(s) still open at the end of the file (closed when loaded)\n",
                    sPath.c_str(), stats.nUnclosedAtEnd);
        bOk = false;
    }
    if (stats.nLongTokens)
        std::printf("%s: warning: %llu token(s) of %u bytes or more; longer ones are cut to %u bytes\n",
                    sPath.c_str(), static_cast<unsigned long long>(stats.nLongTokens), kTokenBuffer - 1,
                    kTokenBuffer - 1);

    if (stats.nMaxDepth <= kMaxOpenLists)
    {
        CZQALoadOnlyAlloc allocator(0x40000);
        CZQANode root;
        if (!CZQANodeReader::LoadEntireFile(sPath.c_str(), bCompressed, &root, &allocator))
        {
            std::printf("%s: error: the tree cannot be loaded (out of memory)\n", sPath.c_str());
            bOk = false;
        }
        else if (bOk && !bQuiet)
        {
            std::printf("%s: ok (%u top-level items, %llu tokens)\n", sPath.c_str(), root.GetNumElements(),
                        static_cast<unsigned long long>(stats.nTokens));
        }
        root.Free(&allocator);
    }
    return bOk;
}
} // namespace

int RunCheck(const std::vector<std::string>& files, InputMode eMode, bool bQuiet)
{
    if (files.empty() && !bQuiet)
        PrintError("no ZQA files to check (folders are searched for names ending in 00a or 00c)");
    bool bAllOk = true;
    for (const std::string& sPath : files)
        bAllOk = CheckOne(sPath, eMode, bQuiet) && bAllOk;
    std::fflush(stdout);
    return bAllOk ? 0 : 1;
}
} // namespace zqa
