#include "nodeindex.h"

#include "zqareader.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

void COffsetColumn::Push(uint64_t nOffset)
{
    if (m_wide.empty() && nOffset <= std::numeric_limits<uint32_t>::max())
    {
        m_narrow.push_back(static_cast<uint32_t>(nOffset));
        return;
    }
    if (m_wide.empty())
    {
        m_wide.reserve(m_narrow.capacity());
        m_wide.assign(m_narrow.begin(), m_narrow.end());
        std::vector<uint32_t>().swap(m_narrow);
    }
    m_wide.push_back(nOffset);
}

namespace
{

// The positions in the order the tree builder makes its nodes: what its observer hears, as
// CZQANodeReader's observed build reports it. A ")" without a "(" makes nothing; lists still open at
// the end close there, innermost first, without a ")".
class CPositionSink
{
public:
    CPositionSink(size_t nNodes, COffsetColumn& starts, COffsetColumn& closes)
        : m_nNodes(nNodes), m_starts(starts), m_closes(closes)
    {
    }
    bool BeginList(uint64_t nStart)
    {
        m_open.push_back(nStart);
        return true;
    }
    bool EndList(uint64_t nStart)
    {
        if (m_open.empty())
            return true;
        const uint64_t nOpen = m_open.back();
        m_open.pop_back();
        return Add(nOpen, nStart);
    }
    bool Value(const char*, uint32_t, bool, uint64_t nStart) { return Add(nStart, nStart); }
    void End(uint64_t)
    {
        while (!m_open.empty() && Add(m_open.back(), m_open.back()))
            m_open.pop_back();
    }
    bool Overflowed() const { return m_bOver; }

private:
    // More positions than nodes: the tree is not this reading's.
    bool Add(uint64_t nStart, uint64_t nClose)
    {
        if (m_starts.Size() == m_nNodes)
        {
            m_bOver = true;
            return false;
        }
        m_starts.Push(nStart);
        m_closes.Push(nClose);
        return true;
    }

    bool m_bOver = false;
    size_t m_nNodes;
    COffsetColumn& m_starts;
    COffsetColumn& m_closes;
    std::vector<uint64_t> m_open;
};
} // namespace

namespace
{
// Calls fnVisit for every node under root (root excluded) in post-order.
template <class Visit>
void WalkBelow(const CZQANode& root, Visit fnVisit)
{
    // The builder nests at most CZQANodeBuilder::MAX_DEPTH lists.
    std::vector<std::pair<const CZQANode*, uint32_t>> stack;
    const uint32_t nTop = root.IsList() ? root.GetNumElements() : 0;
    for (uint32_t i = 0; i < nTop; ++i)
    {
        stack.emplace_back(root.GetElement(i), 0);
        while (!stack.empty())
        {
            auto& top = stack.back();
            if (top.first->IsList() && top.second < top.first->GetNumElements())
            {
                const CZQANode* pChild = top.first->GetElement(top.second++);
                stack.emplace_back(pChild, 0);
                continue;
            }
            fnVisit(top.first);
            stack.pop_back();
        }
    }
}
} // namespace

void CNodeIndex::AddNode(const CZQANode* pNode)
{
    const auto nAddress = reinterpret_cast<uintptr_t>(pNode);
    const size_t nPosition = m_deltas.size();
    if (m_runs.empty() || nAddress <= m_runs.back().nLast || nAddress - m_runs.back().nBase >= kRunSpan)
        m_runs.push_back({nAddress, nAddress, nPosition, 0});
    Run& run = m_runs.back();
    m_deltas.push_back(static_cast<uint16_t>(nAddress - run.nBase));
    run.nLast = nAddress;
    ++run.nCount;
}

std::unique_ptr<CNodeIndex> CNodeIndex::Make(const CZQANode& root, CZQAReader& reader)
{
    try
    {
        std::unique_ptr<CNodeIndex> pIndex(new CNodeIndex());
        // Every column is made at its final size: the index is built while the whole tree is held.
        size_t nNodes = 0;
        WalkBelow(root, [&](const CZQANode*) { ++nNodes; });
        pIndex->m_deltas.reserve(nNodes);
        WalkBelow(root, [&](const CZQANode* pNode) { pIndex->AddNode(pNode); });
        pIndex->m_starts.Reserve(nNodes);
        pIndex->m_closes.Reserve(nNodes);
        CPositionSink sink(nNodes, pIndex->m_starts, pIndex->m_closes);
        if (!reader.ReadTokens(sink) || sink.Overflowed() || pIndex->m_starts.Size() != nNodes)
            return nullptr;

        std::vector<Run>& runs = pIndex->m_runs;
        std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.nBase < b.nBase; });
        pIndex->m_maxLast.reserve(runs.size());
        for (const Run& run : runs)
            pIndex->m_maxLast.push_back(
                pIndex->m_maxLast.empty() ? run.nLast : std::max(run.nLast, pIndex->m_maxLast.back()));
        return pIndex;
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

bool CNodeIndex::FindPosition(uintptr_t nAddress, size_t& nPosition) const
{
    // Runs of different blocks do not overlap in practice; where they would, every run that could
    // hold the address is searched.
    size_t r =
        static_cast<size_t>(std::upper_bound(m_runs.begin(), m_runs.end(), nAddress,
                                             [](uintptr_t n, const Run& run) { return n < run.nBase; }) -
                            m_runs.begin());
    while (r > 0 && m_maxLast[r - 1] >= nAddress)
    {
        const Run& run = m_runs[--r];
        if (nAddress > run.nLast)
            continue;
        const auto nDelta = static_cast<uint16_t>(nAddress - run.nBase);
        const auto first = m_deltas.begin() + static_cast<std::ptrdiff_t>(run.nFirst);
        const auto last = first + static_cast<std::ptrdiff_t>(run.nCount);
        const auto it = std::lower_bound(first, last, nDelta);
        if (it != last && *it == nDelta)
        {
            nPosition = static_cast<size_t>(it - m_deltas.begin());
            return true;
        }
    }
    return false;
}

bool CNodeIndex::Find(const CZQANode* pNode, uint64_t& nStart, uint64_t& nClose, bool& bClosed) const
{
    size_t nPosition = 0;
    if (!FindPosition(reinterpret_cast<uintptr_t>(pNode), nPosition))
        return false;
    nStart = m_starts[nPosition];
    nClose = m_closes[nPosition];
    bClosed = nClose != nStart;
    return true;
}
