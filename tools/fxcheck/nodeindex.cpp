#include "nodeindex.h"

#include "zqareader.h"

#include <algorithm>
#include <new>
#include <utility>

void COffsetColumn::Reserve(size_t nCount)
{
    m_near.reserve(nCount);
    m_bases.reserve((nCount + kGroup - 1) / kGroup);
}

void COffsetColumn::Push(uint64_t nOffset)
{
    const size_t nIndex = m_near.size();
    if (nIndex % kGroup == 0)
        m_bases.push_back(nOffset);
    const uint64_t nBase = m_bases.back();
    const uint64_t nAbove = nOffset - nBase, nBelow = nBase - nOffset;
    if (nOffset >= nBase ? nAbove <= INT16_MAX : nBelow <= INT16_MAX)
    {
        m_near.push_back(static_cast<int16_t>(nOffset >= nBase ? static_cast<int32_t>(nAbove)
                                                               : -static_cast<int32_t>(nBelow)));
        return;
    }
    m_far.emplace_back(nIndex, nOffset);
    m_near.push_back(kFar);
}

uint64_t COffsetColumn::operator[](size_t nIndex) const
{
    const int16_t nNear = m_near[nIndex];
    if (nNear != kFar)
        return m_bases[nIndex / kGroup] + static_cast<uint64_t>(static_cast<int64_t>(nNear));
    const auto it =
        std::lower_bound(m_far.begin(), m_far.end(), nIndex,
                         [](const std::pair<size_t, uint64_t>& far, size_t n) { return far.first < n; });
    return it->second;
}

namespace
{

// The positions in the order the tree builder makes its nodes: what its observer hears, as
// CZQANodeReader's observed build reports it. A ")" without a "(" makes nothing; lists still open at
// the end close there, innermost first, without a ")". fnAdd(nStart, bList, nClose) takes each.
template <class Add>
class CPositionSink
{
public:
    CPositionSink(size_t nNodes, Add fnAdd) : m_nNodes(nNodes), m_fnAdd(fnAdd) {}
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
        return Place(nOpen, true, nStart);
    }
    bool Value(const char*, uint32_t, bool, uint64_t nStart) { return Place(nStart, false, nStart); }
    void End(uint64_t)
    {
        while (!m_open.empty() && Place(m_open.back(), true, m_open.back()))
            m_open.pop_back();
    }
    bool Overflowed() const { return m_bOver; }
    size_t Count() const { return m_nCount; }

private:
    // More positions than nodes: the tree is not this reading's.
    bool Place(uint64_t nStart, bool bList, uint64_t nClose)
    {
        if (m_nCount == m_nNodes)
        {
            m_bOver = true;
            return false;
        }
        ++m_nCount;
        m_fnAdd(nStart, bList, nClose);
        return true;
    }

    bool m_bOver = false;
    size_t m_nNodes;
    size_t m_nCount = 0;
    Add m_fnAdd;
    std::vector<uint64_t> m_open;
};

// Set bits of n.
uint32_t BitCount(uint64_t n)
{
    n = n - ((n >> 1) & 0x5555555555555555ull);
    n = (n & 0x3333333333333333ull) + ((n >> 2) & 0x3333333333333333ull);
    n = (n + (n >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<uint32_t>((n * 0x0101010101010101ull) >> 56);
}

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
        size_t nNodes = 0, nLists = 0;
        WalkBelow(root,
                  [&](const CZQANode* pNode)
                  {
                      ++nNodes;
                      nLists += pNode->IsList() ? 1 : 0;
                  });
        pIndex->m_deltas.reserve(nNodes);
        WalkBelow(root, [&](const CZQANode* pNode) { pIndex->AddNode(pNode); });
        pIndex->m_starts.Reserve(nNodes);
        pIndex->m_listBits.reserve((nNodes + 63) / 64);
        pIndex->m_listsBefore.reserve((nNodes + 63) / 64);
        pIndex->m_closes.Reserve(nLists);
        CNodeIndex& index = *pIndex;
        auto add = [&index](uint64_t nStart, bool bList, uint64_t nClose)
        { index.AddPlace(nStart, bList, nClose); };
        CPositionSink<decltype(add)> sink(nNodes, add);
        if (!reader.ReadTokens(sink) || sink.Overflowed() || sink.Count() != nNodes)
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

void CNodeIndex::AddPlace(uint64_t nStart, bool bList, uint64_t nClose)
{
    const size_t nPosition = m_starts.Size();
    if (nPosition % 64 == 0)
    {
        m_listsBefore.push_back(m_closes.Size());
        m_listBits.push_back(0);
    }
    m_starts.Push(nStart);
    if (bList)
    {
        m_listBits.back() |= uint64_t(1) << (nPosition % 64);
        m_closes.Push(nClose);
    }
}

size_t CNodeIndex::ListsBefore(size_t nPosition) const
{
    const uint64_t nBelow = (uint64_t(1) << (nPosition % 64)) - 1;
    return m_listsBefore[nPosition / 64] + BitCount(m_listBits[nPosition / 64] & nBelow);
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
    const bool bList = (m_listBits[nPosition / 64] >> (nPosition % 64)) & 1;
    nClose = bList ? m_closes[ListsBefore(nPosition)] : nStart;
    bClosed = nClose != nStart;
    return true;
}
