// Where every node of a tree read by CZQANodeReader starts, and where the ")" that closed each list
// stands, found after the build by reading the same bytes a second time: a check that finds nothing
// to report about a node pays for no position table.
//
// The tree builder makes the nodes in the order its observer hears of them (an atom at its token, a
// list at its close), which is the order of a post-order walk of the finished tree. Its load-only
// allocator hands out addresses upward within a block, so the walk's addresses fall into ascending
// runs (cut every 64 KiB, so that two bytes place a node in its run): a node is found by two binary
// searches, with no sort of the nodes.
#pragma once

#include "zqanode.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class CZQAReader;

// Text offsets, two bytes each where they lie near the first offset of their group of 64 (as the
// places of nodes in walk order mostly do), sixteen where they do not.
class COffsetColumn
{
public:
    void Reserve(size_t nCount);
    void Push(uint64_t nOffset);
    uint64_t operator[](size_t nIndex) const;
    size_t Size() const { return m_near.size(); }

private:
    static constexpr size_t kGroup = 64;
    static constexpr int16_t kFar = INT16_MIN; // the offset is in m_far

    std::vector<uint64_t> m_bases;                  // each group's first offset
    std::vector<int16_t> m_near;                    // each offset less its group's base
    std::vector<std::pair<size_t, uint64_t>> m_far; // (index, offset), by index
};

class CNodeIndex
{
public:
    // The index of the tree under root (root itself excluded), from a reader opened on the bytes
    // the tree was read from. Null when the reading does not give one node per position (a list the
    // builder could not make was dropped with its contents) or memory runs out.
    static std::unique_ptr<CNodeIndex> Make(const CZQANode& root, CZQAReader& reader);

    // The node's start and, for a list closed by a ")", where that stands (bClosed). False for a
    // node not in the tree.
    bool Find(const CZQANode* pNode, uint64_t& nStart, uint64_t& nClose, bool& bClosed) const;

private:
    // Nodes at ascending addresses within kRunSpan bytes of the first: two bytes place each.
    struct Run
    {
        uintptr_t nBase; // address of the run's first node
        uintptr_t nLast; // address of its last node
        size_t nFirst;   // walk position of its first node
        size_t nCount;
    };
    static constexpr uintptr_t kRunSpan = 0x10000;

    void AddNode(const CZQANode* pNode);
    bool FindPosition(uintptr_t nAddress, size_t& nPosition) const;
    // The next node's start, and for a list where it closed.
    void AddPlace(uint64_t nStart, bool bList, uint64_t nClose);
    // How many lists come before walk position nPosition.
    size_t ListsBefore(size_t nPosition) const;

    std::vector<Run> m_runs;          // by base address once made
    std::vector<uintptr_t> m_maxLast; // the highest nLast of m_runs[0..i]
    std::vector<uint16_t> m_deltas;   // each node's address less its run's base, in walk order
    COffsetColumn m_starts;           // in walk order
    // Only a list has a ")": one bit a node says which are lists, and the closes are kept for those.
    std::vector<uint64_t> m_listBits;  // bit i of word w: position 64 w + i is a list
    std::vector<size_t> m_listsBefore; // lists before each word's first position
    COffsetColumn m_closes;            // of the lists in walk order; the start where there is no ")"
};
