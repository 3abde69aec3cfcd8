// The writing half of the compressed ZQA format: keeps the last 4096 bytes in a circular window,
// finds for each position the longest earlier string matching the next 17 bytes with a binary
// search tree over the window positions, and writes literal and copy tokens to a bit file. Which
// match wins and when tokens are written decide the output bytes, so both are fixed.
#pragma once

#include <cstdint>

class CZQABitFile;

class CLZSSWindow
{
public:
    static constexpr uint32_t INDEX_BIT_COUNT = 12;
    static constexpr uint32_t LENGTH_BIT_COUNT = 4;
    static constexpr uint32_t WINDOW_SIZE = 1u << INDEX_BIT_COUNT;
    static constexpr uint32_t RAW_LOOK_AHEAD_SIZE = 1u << LENGTH_BIT_COUNT;
    static constexpr uint32_t BREAK_EVEN = (1 + INDEX_BIT_COUNT + LENGTH_BIT_COUNT) / 9;
    static constexpr uint32_t LOOK_AHEAD_SIZE = RAW_LOOK_AHEAD_SIZE + BREAK_EVEN; // 17
    static constexpr uint32_t TREE_ROOT = WINDOW_SIZE;                            // root sentinel
    static constexpr uint32_t UNUSED = 0;                                         // no node

    CLZSSWindow();

    void Init();
    bool AddByte(uint8_t nByte, CZQABitFile& file);
    bool Flush(CZQABitFile& file);

    bool WriteToken(CZQABitFile& file);
    bool WriteSpan(CZQABitFile& file, uint32_t nOffset, uint32_t nLength);

    void AddNode(uint32_t nNewNode, uint32_t& nMatchPos, uint32_t& nMatchLen);
    void DeleteNode(uint32_t nNode);
    void CollapseNode(uint32_t nNode, uint32_t nChild);
    void ReplaceNode(uint32_t nOld, uint32_t nNew);

private:
    struct TreeNode
    {
        uint32_t m_nParent; // 0: not in the tree
        uint32_t m_nSmaller;
        uint32_t m_nLarger;
    };

    // One walk down the tree for a 17-byte string held as two big-endian words and a byte. It
    // only reads the tree; FinishAdd puts the string where the walk ended.
    struct Search
    {
        uint64_t nKey0;
        uint64_t nKey1;
        uint32_t nKey2;
        uint32_t nNode;     // the node compared last: where the walk ended once it has
        uint32_t nBestLen;  // the longest match met so far, and its node; 17 when the walk
        uint32_t nBestNode; // ended at a node holding an equal string
        bool bLarger;       // the side of nNode on which the walk goes on
        bool bMetWatched;   // met the node that a later deletion may take out
    };

    bool SameString(uint32_t nPos1, uint32_t nPos2) const;
    bool AddPendingByte(uint8_t nByte, bool bNextKnown, uint8_t nNextByte, CZQABitFile& file);
    void StartSearch(Search& search, const uint8_t* pFirst, uint8_t nLast) const;
    uint32_t SearchStep(Search& search, uint32_t nNode) const;
    void FinishAdd(uint32_t nNewNode, const Search& search, uint32_t& nMatchPos, uint32_t& nMatchLen);

    // Positions 0 to 4095, then a second copy of positions 0 to 16, so that the 17 bytes at any
    // position compare without wrapping.
    uint8_t m_aWindow[WINDOW_SIZE + LOOK_AHEAD_SIZE];
    TreeNode m_Tree[WINDOW_SIZE + 1];
    uint32_t m_nLookAheadLen; // bytes at the end of the look-ahead not yet covered by a token
    uint32_t m_nCurrPos;
    uint32_t m_nMatchLen;
    uint32_t m_nMatchPos;
    bool m_bPrimed; // the first 17 bytes have arrived

    // The node whose string equalled the previous position's, or 0. Its successor is the likely
    // equal of the current string (repeated text), which then spares the tree search.
    uint32_t m_nPrevEqual;

    // AddByte runs one byte behind the data, so that the search for the next position can run
    // alongside the search for the current one: two walks down the tree take little more time
    // than one. The walk done ahead is used when no change to the tree in between can alter it.
    bool m_bHavePending;
    uint8_t m_nPending;
    bool m_bNextKnown; // while a byte is added: the byte after it is m_nNextByte
    uint8_t m_nNextByte;
    bool m_bAheadValid;
    uint32_t m_nAheadPos; // the position m_Ahead was walked for
    Search m_Ahead;
};
