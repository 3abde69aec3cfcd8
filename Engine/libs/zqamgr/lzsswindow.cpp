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
// Eight bytes as a big-endian number: comparing two of these as unsigned integers orders them as
// comparing the bytes one by one from the first.
inline uint64_t Load64(const uint8_t* p)
{
    uint64_t nValue;
    std::memcpy(&nValue, p, sizeof(nValue));
    return nValue;
}

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
    AddNode(m_nCurrPos, m_nMatchPos, m_nMatchLen);
    ++m_nLookAheadLen;
    return true;
}

bool CLZSSWindow::Flush(CZQABitFile& file)
{
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

void CLZSSWindow::AddNode(uint32_t nNewNode, uint32_t& nMatchPos, uint32_t& nMatchLen)
{
    nMatchPos = 0;
    nMatchLen = 0;
    if (nNewNode == UNUSED)
        return;

    uint32_t nCurrNode = m_Tree[TREE_ROOT].m_nLarger;
    if (!ZQ_CHECK(nCurrNode != 0, "CLZSSWindow::AddNode", "Error: The search tree is empty"))
    {
        m_Tree[TREE_ROOT].m_nLarger = nNewNode;
        m_Tree[nNewNode].m_nParent = TREE_ROOT;
        m_Tree[nNewNode].m_nSmaller = UNUSED;
        m_Tree[nNewNode].m_nLarger = UNUSED;
        return;
    }

    // An equal string in the tree is where the search would end and replace it. In repeated text
    // it is mostly the successor of the previous position's equal.
    const uint32_t nGuess = (m_nPrevEqual + 1) & kPosMask;
    m_nPrevEqual = 0;
    if (nGuess != UNUSED && nGuess != nNewNode && m_Tree[nGuess].m_nParent != UNUSED &&
        SameString(nGuess, nNewNode))
    {
        nMatchPos = nGuess;
        nMatchLen = LOOK_AHEAD_SIZE;
        m_nPrevEqual = nGuess;
        ReplaceNode(nGuess, nNewNode);
        return;
    }

    // The 17-byte key as two big-endian words and a last byte; each node costs at most three
    // comparisons, with the same i and the same sign as comparing byte by byte.
    const uint8_t* pKey = m_aWindow + nNewNode;
    const uint64_t nKey0 = LoadBigEndian64(pKey);
    const uint64_t nKey1 = LoadBigEndian64(pKey + 8);
    const uint8_t nKey2 = pKey[16];
    uint32_t nBestLen = 0;
    uint32_t nBestNode = 0;
    for (;;)
    {
        const uint8_t* pNode = m_aWindow + nCurrNode;
        const uint64_t nNode0 = LoadBigEndian64(pNode);
        uint32_t i;
        bool bLarger;
        if (nKey0 != nNode0)
        {
            i = FirstDifferentByte(nKey0 ^ nNode0);
            bLarger = nKey0 > nNode0;
        }
        else
        {
            const uint64_t nNode1 = LoadBigEndian64(pNode + 8);
            const uint8_t nNode2 = pNode[16];
            if (nKey1 != nNode1)
            {
                i = 8 + FirstDifferentByte(nKey1 ^ nNode1);
                bLarger = nKey1 > nNode1;
            }
            else if (nKey2 != nNode2)
            {
                i = 16;
                bLarger = nKey2 > nNode2;
            }
            else
            {
                // Equal strings: the newer position takes the node's place.
                nMatchPos = nCurrNode;
                nMatchLen = LOOK_AHEAD_SIZE;
                m_nPrevEqual = nCurrNode;
                ReplaceNode(nCurrNode, nNewNode);
                return;
            }
        }
        // Among equally long matches the first one met on the way down wins.
        const bool bBetter = i > nBestLen;
        nBestNode = bBetter ? nCurrNode : nBestNode;
        nBestLen = bBetter ? i : nBestLen;
        const uint32_t nSmaller = m_Tree[nCurrNode].m_nSmaller;
        const uint32_t nLarger = m_Tree[nCurrNode].m_nLarger;
        const uint32_t nChild = bLarger ? nLarger : nSmaller;
        if (nChild == UNUSED)
        {
            if (bLarger)
                m_Tree[nCurrNode].m_nLarger = nNewNode;
            else
                m_Tree[nCurrNode].m_nSmaller = nNewNode;
            m_Tree[nNewNode].m_nParent = nCurrNode;
            m_Tree[nNewNode].m_nSmaller = UNUSED;
            m_Tree[nNewNode].m_nLarger = UNUSED;
            nMatchPos = nBestNode;
            nMatchLen = nBestLen;
            return;
        }
        nCurrNode = nChild;
    }
}

void CLZSSWindow::DeleteNode(uint32_t nNode)
{
    if (nNode == UNUSED || m_Tree[nNode].m_nParent == UNUSED)
        return;
    if (m_Tree[nNode].m_nLarger == UNUSED)
    {
        CollapseNode(nNode, m_Tree[nNode].m_nSmaller);
    }
    else if (m_Tree[nNode].m_nSmaller == UNUSED)
    {
        CollapseNode(nNode, m_Tree[nNode].m_nLarger);
    }
    else
    {
        // Both children: the greatest node on the smaller side takes its place.
        uint32_t nReplacement = m_Tree[nNode].m_nSmaller;
        while (m_Tree[nReplacement].m_nLarger != UNUSED)
            nReplacement = m_Tree[nReplacement].m_nLarger;
        CollapseNode(nReplacement, m_Tree[nReplacement].m_nSmaller);
        ReplaceNode(nNode, nReplacement);
    }
}

void CLZSSWindow::CollapseNode(uint32_t nNode, uint32_t nChild)
{
    ZQ_CHECK_TEXT((m_Tree[m_Tree[nNode].m_nParent].m_nSmaller == nNode) ||
                      (m_Tree[m_Tree[nNode].m_nParent].m_nLarger == nNode),
                  "(m_Tree[m_Tree[nNode].m_nParent].m_nSmaller == nNode) || "
                  "(m_Tree[m_Tree[nNode].m_nParent].m_nLarger == nNode)",
                  "CLZSSWindow::CollapseNode", "Error: Node is not a child of its parent");
    ZQ_CHECK_TEXT((m_Tree[nNode].m_nSmaller == nChild) || (m_Tree[nNode].m_nLarger == nChild),
                  "(m_Tree[nNode].m_nSmaller == nChild) || (m_Tree[nNode].m_nLarger == nChild)",
                  "CLZSSWindow::CollapseNode", "Error: Child is not a child of the node");
    ZQ_CHECK_TEXT((m_Tree[nNode].m_nSmaller == 0) || (m_Tree[nNode].m_nLarger == 0),
                  "(m_Tree[nNode].m_nSmaller == 0) || (m_Tree[nNode].m_nLarger == 0)",
                  "CLZSSWindow::CollapseNode", "Error: Node has two children");
    ZQ_CHECK_TEXT((nNode != 0) && (nNode < WINDOW_SIZE), "(nNode != 0) && (nNode < (1 << 12))",
                  "CLZSSWindow::CollapseNode", "Error: Invalid node");

    const uint32_t nParent = m_Tree[nNode].m_nParent;
    if (m_Tree[nParent].m_nSmaller == nNode)
        m_Tree[nParent].m_nSmaller = nChild;
    else
        m_Tree[nParent].m_nLarger = nChild;
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
