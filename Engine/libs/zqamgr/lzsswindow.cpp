#include "lzsswindow.h"

#include "zqabitfile.h"
#include "zqstrutils.h"

#include <cstring>

#if defined(_MSC_VER)
#include <intrin.h>
#include <stdlib.h>
#endif

#define ZQ_THIS_FILE "Engine/libs/zqamgr/lzsswindow"

namespace
{
inline uint64_t Load64(const uint8_t* p)
{
    uint64_t nValue;
    std::memcpy(&nValue, p, sizeof(nValue));
    return nValue;
}

// Eight bytes as a big-endian number: comparing two of these as unsigned integers orders them as
// comparing the bytes one by one from the first.
inline uint64_t LoadBigEndian64(const uint8_t* p)
{
    uint64_t nValue;
    std::memcpy(&nValue, p, sizeof(nValue));
#if defined(_MSC_VER)
    return _byteswap_uint64(nValue);
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return nValue;
#else
    return __builtin_bswap64(nValue);
#endif
}

// Index of the first unequal byte of two big-endian words that differ.
inline uint32_t FirstDifferentByte(uint64_t nDiffBits)
{
#if defined(_MSC_VER)
    unsigned long nIndex;
#if defined(_M_X64) || defined(_M_ARM64)
    _BitScanReverse64(&nIndex, nDiffBits);
    return (63 - nIndex) >> 3;
#else
    if (nDiffBits >> 32)
    {
        _BitScanReverse(&nIndex, static_cast<unsigned long>(nDiffBits >> 32));
        return (31 - nIndex) >> 3;
    }
    _BitScanReverse(&nIndex, static_cast<unsigned long>(nDiffBits));
    return 4 + ((31 - nIndex) >> 3);
#endif
#else
    return static_cast<uint32_t>(__builtin_clzll(nDiffBits)) >> 3;
#endif
}

constexpr uint32_t kPosMask = CLZSSWindow::WINDOW_SIZE - 1;
} // namespace

// The tree walk's step is kept inline in its loops: a call per step costs as much as the step.
#if defined(_MSC_VER)
#define ZQ_LZSS_INLINE __forceinline
#else
#define ZQ_LZSS_INLINE inline __attribute__((always_inline))
#endif

namespace
{
// nLarger when nKeyPart > nNodePart, else nSmaller. The walk's time is a chain of these choices,
// each waiting for the comparison before it; on x86-64 one compare and conditional move make the
// shortest link (compilers emit a branch, mispredicted half the time, or a longer sequence).
inline uint32_t SelectChild(uint64_t nKeyPart, uint64_t nNodePart, uint32_t nSmaller, uint32_t nLarger)
{
#if defined(__GNUC__) && defined(__x86_64__)
    __asm__("cmpq %[node], %[key]\n\tcmova %[larger], %[child]"
            : [child] "+r"(nSmaller)
            : [node] "r"(nNodePart), [key] "r"(nKeyPart), [larger] "r"(nLarger)
            : "cc");
    return nSmaller;
#else
    const uint32_t nLargerMask = 0u - static_cast<uint32_t>(nKeyPart > nNodePart);
    return nSmaller ^ ((nSmaller ^ nLarger) & nLargerMask);
#endif
}
} // namespace

CLZSSWindow::CLZSSWindow()
{
    // Never read before written; cleared once so that the object's bytes are all defined.
    std::memset(m_aWindow, 0, sizeof(m_aWindow));
    Init();
}

void CLZSSWindow::Init()
{
    m_nCurrPos = 1;
    m_nLookAheadLen = 0;
    std::memset(m_Tree, 0, sizeof(m_Tree));
    m_Tree[TREE_ROOT].m_nParent = TREE_ROOT;
    m_Tree[TREE_ROOT].m_nSmaller = UNUSED;
    m_Tree[TREE_ROOT].m_nLarger = 1;
    m_Tree[1].m_nParent = TREE_ROOT; // position 1 is in the tree from the start
    m_nMatchLen = 0;
    m_nMatchPos = 0;
    m_bPrimed = false;
    m_nPrevEqual = 0;
    m_bHavePending = false;
    m_nPending = 0;
    m_bNextKnown = false;
    m_nNextByte = 0;
    m_bAheadValid = false;
    m_nAheadPos = 0;
    m_Ahead = Search();
}

bool CLZSSWindow::SameString(uint32_t nPos1, uint32_t nPos2) const
{
    const uint8_t* p1 = m_aWindow + nPos1;
    const uint8_t* p2 = m_aWindow + nPos2;
    return ((Load64(p1) ^ Load64(p2)) | (Load64(p1 + 8) ^ Load64(p2 + 8)) |
            static_cast<uint64_t>(p1[16] ^ p2[16])) == 0;
}

bool CLZSSWindow::AddByte(uint8_t nByte, CZQABitFile& file)
{
    if (!m_bHavePending)
    {
        m_bHavePending = true;
        m_nPending = nByte;
        return true;
    }
    const uint8_t nAdd = m_nPending;
    m_nPending = nByte;
    return AddPendingByte(nAdd, true, nByte, file);
}

// The encoder's steps for one byte; the byte after it is known except at the end of the data.
bool CLZSSWindow::AddPendingByte(uint8_t nByte, bool bNextKnown, uint8_t nNextByte, CZQABitFile& file)
{
    if (!m_bPrimed)
    {
        m_aWindow[m_nCurrPos + m_nLookAheadLen] = nByte;
        if (++m_nLookAheadLen == LOOK_AHEAD_SIZE)
            m_bPrimed = true;
        return true;
    }

    if (m_nLookAheadLen >= LOOK_AHEAD_SIZE && !WriteToken(file))
        return false;
    ZQ_CHECK_TEXT(m_nLookAheadLen < LOOK_AHEAD_SIZE, "m_nLookAheadLen < ((1 << 4) + ((1 + 12 + 4) / 9))",
                  "CLZSSWindow::AddByte", "Error: Look-ahead overflow");

    // The string at the position about to be overwritten leaves the tree first.
    const uint32_t nWritePos = m_nCurrPos + LOOK_AHEAD_SIZE;
    if (m_bAheadValid && m_Ahead.bMetWatched && m_Tree[nWritePos & kPosMask].m_nParent != UNUSED)
        m_bAheadValid = false; // the walk done ahead passed the node that leaves now
    DeleteNode(nWritePos & kPosMask);
    if (m_nCurrPos >= WINDOW_SIZE - LOOK_AHEAD_SIZE)
    {
        m_aWindow[nWritePos & kPosMask] = nByte;
        m_aWindow[nWritePos] = nByte; // the copy behind the end
        m_nCurrPos = (m_nCurrPos + 1) & kPosMask;
    }
    else
    {
        m_aWindow[nWritePos] = nByte;
        ++m_nCurrPos;
    }
    m_bNextKnown = bNextKnown;
    m_nNextByte = nNextByte;
    AddNode(m_nCurrPos, m_nMatchPos, m_nMatchLen);
    m_bNextKnown = false;
    ++m_nLookAheadLen;
    return true;
}

bool CLZSSWindow::Flush(CZQABitFile& file)
{
    if (m_bHavePending)
    {
        m_bHavePending = false;
        if (!AddPendingByte(m_nPending, false, 0, file))
            return false;
    }
    if (m_bPrimed)
        m_nCurrPos = (m_nCurrPos - m_nLookAheadLen + LOOK_AHEAD_SIZE) & kPosMask;
    while (m_nLookAheadLen > 0)
    {
        m_nMatchLen = 0;
        if (!WriteToken(file))
            return false;
        m_nCurrPos = (m_nCurrPos + 1) & kPosMask;
    }
    WriteSpan(file, 0, BREAK_EVEN + 1); // the end token
    return true;
}

bool CLZSSWindow::WriteToken(CZQABitFile& file)
{
    uint32_t nMatchLen = m_nMatchLen < m_nLookAheadLen ? m_nMatchLen : m_nLookAheadLen;
    if (nMatchLen < BREAK_EVEN + 1)
    {
        file.SetBits(0x100u | m_aWindow[m_nCurrPos], 9); // flag 1, then the byte
        nMatchLen = 1;
    }
    else
    {
        WriteSpan(file, m_nMatchPos, nMatchLen);
    }
    if (!ZQ_CHECK(m_nLookAheadLen >= nMatchLen, "CLZSSWindow::WriteToken",
                  "Error: Token longer than the look-ahead"))
        nMatchLen = m_nLookAheadLen;
    m_nLookAheadLen -= nMatchLen;
    return true;
}

bool CLZSSWindow::WriteSpan(CZQABitFile& file, uint32_t nOffset, uint32_t nLength)
{
    ZQ_CHECK_TEXT(nLength >= BREAK_EVEN + 1, "nLength >= (((1 + 12 + 4) / 9) + 1)", "CLZSSWindow::WriteSpan",
                  "Error: Copy shorter than the minimum");
    ZQ_CHECK_TEXT(nOffset < WINDOW_SIZE, "nOffset < (1 << 12)", "CLZSSWindow::WriteSpan",
                  "Error: Copy position outside the window");
    const uint32_t nFinalLength = nLength - (BREAK_EVEN + 1);
    ZQ_CHECK_TEXT(nFinalLength < RAW_LOOK_AHEAD_SIZE, "nFinalLength < (1 << 4)", "CLZSSWindow::WriteSpan",
                  "Error: Copy longer than the maximum");
    // Flag 0, 12 position bits, 4 length bits, each field most significant bit first.
    const uint32_t nToken =
        ((nOffset & kPosMask) << LENGTH_BIT_COUNT) | (nFinalLength & (RAW_LOOK_AHEAD_SIZE - 1));
    file.SetBits(nToken, 1 + INDEX_BIT_COUNT + LENGTH_BIT_COUNT);
    return true;
}

void CLZSSWindow::StartSearch(Search& search, const uint8_t* pFirst, uint8_t nLast) const
{
    search = Search();
    search.nKey0 = LoadBigEndian64(pFirst);
    search.nKey1 = LoadBigEndian64(pFirst + 8);
    search.nKey2 = nLast;
}

// Compares the string with one node: the number of equal leading bytes and the sign of the first
// difference, from at most two big-endian words and a byte. Among equally long matches the first
// one met on the way down wins. Returns the child to compare next, or 0 when the walk ends here.
ZQ_LZSS_INLINE uint32_t CLZSSWindow::SearchStep(Search& search, uint32_t nNode) const
{
    const uint8_t* pNode = m_aWindow + nNode;
    const uint64_t nNode0 = LoadBigEndian64(pNode);
    uint64_t nKeyPart; // the parts of the two strings that decide the direction
    uint64_t nNodePart;
    uint32_t i;
    if (search.nKey0 != nNode0)
    {
        nKeyPart = search.nKey0;
        nNodePart = nNode0;
        i = FirstDifferentByte(search.nKey0 ^ nNode0);
    }
    else
    {
        const uint64_t nNode1 = LoadBigEndian64(pNode + 8);
        if (search.nKey1 != nNode1)
        {
            nKeyPart = search.nKey1;
            nNodePart = nNode1;
            i = 8 + FirstDifferentByte(search.nKey1 ^ nNode1);
        }
        else
        {
            const uint32_t nNode2 = pNode[16];
            if (search.nKey2 == nNode2)
            {
                search.nNode = nNode;
                search.nBestLen = LOOK_AHEAD_SIZE;
                search.nBestNode = nNode;
                return UNUSED;
            }
            nKeyPart = search.nKey2;
            nNodePart = nNode2;
            i = 16;
        }
    }
    const bool bBetter = i > search.nBestLen;
    search.nBestNode = bBetter ? nNode : search.nBestNode;
    search.nBestLen = bBetter ? i : search.nBestLen;
    search.nNode = nNode;
    search.bLarger = nKeyPart > nNodePart;
    return SelectChild(nKeyPart, nNodePart, m_Tree[nNode].m_nSmaller, m_Tree[nNode].m_nLarger);
}

void CLZSSWindow::FinishAdd(uint32_t nNewNode, const Search& search, uint32_t& nMatchPos, uint32_t& nMatchLen)
{
    nMatchPos = search.nBestNode;
    nMatchLen = search.nBestLen;
    if (search.nBestLen == LOOK_AHEAD_SIZE)
    {
        // Equal strings: the newer position takes the node's place.
        m_nPrevEqual = search.nBestNode;
        ReplaceNode(search.nBestNode, nNewNode);
        return;
    }
    TreeNode& rParent = m_Tree[search.nNode];
    if (search.bLarger)
        rParent.m_nLarger = nNewNode;
    else
        rParent.m_nSmaller = nNewNode;
    m_Tree[nNewNode].m_nParent = search.nNode;
    m_Tree[nNewNode].m_nSmaller = UNUSED;
    m_Tree[nNewNode].m_nLarger = UNUSED;
    m_nPrevEqual = UNUSED;
}

void CLZSSWindow::AddNode(uint32_t nNewNode, uint32_t& nMatchPos, uint32_t& nMatchLen)
{
    nMatchPos = 0;
    nMatchLen = 0;
    const bool bAheadValid = m_bAheadValid && m_nAheadPos == nNewNode;
    m_bAheadValid = false;
    if (nNewNode == UNUSED)
        return;

    const uint32_t nRoot = m_Tree[TREE_ROOT].m_nLarger;
    if (!ZQ_CHECK(nRoot != 0, "CLZSSWindow::AddNode", "Error: The search tree is empty"))
    {
        m_Tree[TREE_ROOT].m_nLarger = nNewNode;
        m_Tree[nNewNode].m_nParent = TREE_ROOT;
        m_Tree[nNewNode].m_nSmaller = UNUSED;
        m_Tree[nNewNode].m_nLarger = UNUSED;
        return;
    }

    // The walk done ahead for this position, if its end is still there.
    if (bAheadValid)
    {
        const TreeNode& rEnd = m_Tree[m_Ahead.nNode];
        if (rEnd.m_nParent != UNUSED && (m_Ahead.nBestLen == LOOK_AHEAD_SIZE ||
                                         (m_Ahead.bLarger ? rEnd.m_nLarger : rEnd.m_nSmaller) == UNUSED))
        {
            FinishAdd(nNewNode, m_Ahead, nMatchPos, nMatchLen);
            return;
        }
    }

    // An equal string in the tree is where the walk would end and replace it. In repeated text
    // it is mostly the successor of the previous position's equal.
    const uint32_t nGuess = (m_nPrevEqual + 1) & kPosMask;
    if (nGuess != UNUSED && nGuess != nNewNode && m_Tree[nGuess].m_nParent != UNUSED &&
        SameString(nGuess, nNewNode))
    {
        Search search = Search();
        search.nBestLen = LOOK_AHEAD_SIZE;
        search.nBestNode = nGuess;
        search.nNode = nGuess;
        FinishAdd(nNewNode, search, nMatchPos, nMatchLen);
        return;
    }

    Search search;
    StartSearch(search, m_aWindow + nNewNode, m_aWindow[nNewNode + 16]);
    const uint32_t nNext = (nNewNode + 1) & kPosMask;
    if (!m_bNextKnown || nNext == UNUSED)
    {
        for (uint32_t nNode = nRoot; nNode != UNUSED;)
            nNode = SearchStep(search, nNode);
        FinishAdd(nNewNode, search, nMatchPos, nMatchLen);
        return;
    }

    // The next position's walk alongside, on the tree as it is now. Of the changes before it is
    // used, this insertion is accounted for below, and the coming deletion (of the position 17
    // ahead) invalidates it if the walk met that node.
    Search ahead;
    StartSearch(ahead, m_aWindow + nNewNode + 1, m_nNextByte);
    const uint32_t nWatched = (nNewNode + LOOK_AHEAD_SIZE) & kPosMask;
    bool bMetWatched = nRoot == nWatched;
    uint32_t nThis = nRoot;
    uint32_t nAhead = nRoot;
    for (;;)
    {
        nThis = SearchStep(search, nThis);
        nAhead = SearchStep(ahead, nAhead);
        if (nThis == UNUSED || nAhead == UNUSED)
            break;
        bMetWatched |= nAhead == nWatched;
    }
    while (nThis != UNUSED)
        nThis = SearchStep(search, nThis);
    while (nAhead != UNUSED)
    {
        bMetWatched |= nAhead == nWatched;
        nAhead = SearchStep(ahead, nAhead);
    }
    FinishAdd(nNewNode, search, nMatchPos, nMatchLen);

    if (search.nBestLen == LOOK_AHEAD_SIZE)
    {
        // This position took the equal node's place, with the same string.
        const uint32_t nOld = search.nBestNode;
        ahead.nBestNode = ahead.nBestNode == nOld ? nNewNode : ahead.nBestNode;
        ahead.nNode = ahead.nNode == nOld ? nNewNode : ahead.nNode;
    }
    else if (ahead.nBestLen != LOOK_AHEAD_SIZE && ahead.nNode == search.nNode &&
             ahead.bLarger == search.bLarger)
    {
        // The next walk ended where this position went in: it goes on to this node.
        SearchStep(ahead, nNewNode);
    }
    ahead.bMetWatched = bMetWatched;
    m_Ahead = ahead;
    m_nAheadPos = nNext;
    m_bAheadValid = true;
}

void CLZSSWindow::DeleteNode(uint32_t nNode)
{
    if (nNode == UNUSED || m_Tree[nNode].m_nParent == UNUSED)
        return;
    const uint32_t nSmaller = m_Tree[nNode].m_nSmaller;
    const uint32_t nLarger = m_Tree[nNode].m_nLarger;
    if ((nSmaller == UNUSED) | (nLarger == UNUSED))
    {
        CollapseNode(nNode, nSmaller | nLarger); // the one child, or none
    }
    else
    {
        // Both children: the greatest node on the smaller side takes its place.
        uint32_t nReplacement = nSmaller;
        while (m_Tree[nReplacement].m_nLarger != UNUSED)
            nReplacement = m_Tree[nReplacement].m_nLarger;
        CollapseNode(nReplacement, m_Tree[nReplacement].m_nSmaller);
        ReplaceNode(nNode, nReplacement);
    }
}

void CLZSSWindow::CollapseNode(uint32_t nNode, uint32_t nChild)
{
    // The conditions are joined with | so that checking them costs no branch on the data.
    ZQ_CHECK_TEXT((m_Tree[m_Tree[nNode].m_nParent].m_nSmaller == nNode) |
                      (m_Tree[m_Tree[nNode].m_nParent].m_nLarger == nNode),
                  "(m_Tree[m_Tree[nNode].m_nParent].m_nSmaller == nNode) || "
                  "(m_Tree[m_Tree[nNode].m_nParent].m_nLarger == nNode)",
                  "CLZSSWindow::CollapseNode", "Error: Node is not a child of its parent");
    ZQ_CHECK_TEXT((m_Tree[nNode].m_nSmaller == nChild) | (m_Tree[nNode].m_nLarger == nChild),
                  "(m_Tree[nNode].m_nSmaller == nChild) || (m_Tree[nNode].m_nLarger == nChild)",
                  "CLZSSWindow::CollapseNode", "Error: Child is not a child of the node");
    ZQ_CHECK_TEXT((m_Tree[nNode].m_nSmaller == 0) | (m_Tree[nNode].m_nLarger == 0),
                  "(m_Tree[nNode].m_nSmaller == 0) || (m_Tree[nNode].m_nLarger == 0)",
                  "CLZSSWindow::CollapseNode", "Error: Node has two children");
    ZQ_CHECK_TEXT((nNode != 0) & (nNode < WINDOW_SIZE), "(nNode != 0) && (nNode < (1 << 12))",
                  "CLZSSWindow::CollapseNode", "Error: Invalid node");

    const uint32_t nParent = m_Tree[nNode].m_nParent;
    TreeNode& rParent = m_Tree[nParent];
    uint32_t& rLink = rParent.m_nSmaller == nNode ? rParent.m_nSmaller : rParent.m_nLarger;
    rLink = nChild;
    m_Tree[nChild].m_nParent = nParent;
    m_Tree[nNode].m_nParent = UNUSED;
}

void CLZSSWindow::ReplaceNode(uint32_t nOld, uint32_t nNew)
{
    ZQ_CHECK_TEXT((m_Tree[m_Tree[nOld].m_nParent].m_nSmaller == nOld) |
                      (m_Tree[m_Tree[nOld].m_nParent].m_nLarger == nOld),
                  "(m_Tree[m_Tree[nOld].m_nParent].m_nSmaller == nOld) || "
                  "(m_Tree[m_Tree[nOld].m_nParent].m_nLarger == nOld)",
                  "CLZSSWindow::ReplaceNode", "Error: Node is not a child of its parent");

    const uint32_t nParent = m_Tree[nOld].m_nParent;
    TreeNode& rParent = m_Tree[nParent];
    uint32_t& rLink = rParent.m_nLarger == nOld ? rParent.m_nLarger : rParent.m_nSmaller;
    rLink = nNew;
    m_Tree[nNew] = m_Tree[nOld];
    m_Tree[m_Tree[nNew].m_nSmaller].m_nParent = nNew;
    m_Tree[m_Tree[nNew].m_nLarger].m_nParent = nNew;
    m_Tree[nOld].m_nParent = UNUSED;
}
