// Readings of ZQA data shared by the tests and the fuzz targets (so no GoogleTest here): the
// compressed format's decoding rules taken literally, one bit at a time, the reads of a real
// compressed file to hold against them, and a one-line rendering of a tree.
#pragma once

#include "zqafile.h"
#include "zqanode.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// The answers of successive reads: a byte, or -1 for false; {-2} when the file does not open.
using Trace = std::vector<int>;

// A missing bit keeps the value of the bit before it. Runs until the end of the data has answered
// false twice.
inline Trace ReferenceDecode(const uint8_t* pData, size_t nSize)
{
    size_t nBit = 0;
    uint32_t b = 0;
    auto Get = [&]()
    { return nBit < nSize * 8 ? (b = (pData[nBit / 8] >> (nBit % 8)) & 1, ++nBit, true) : false; };
    auto Field = [&](int nCount)
    {
        uint32_t v = 0;
        for (; nCount > 0; --nCount)
            Get(), v = v * 2 + b;
        return v;
    };
    if (Field(32) != 0)
        return {-2};
    uint8_t w[4096] = {};
    uint32_t nPos = 1, nLen = 0, nSrc = 0, nEnds = 0;
    Trace t;
    while (nEnds < 2)
    {
        if (nLen == 0)
        {
            if (!Get())
            {
                ++nEnds, t.push_back(-1);
                continue;
            }
            const bool bLiteral = b != 0;
            b = 0; // the first value bit counts from 0
            const uint32_t v = Field(bLiteral ? 8 : 12);
            if (bLiteral || v == 0)
            {
                t.push_back(bLiteral ? int(w[nPos] = uint8_t(v)) : -1);
                nPos = (nPos + bLiteral) % 4096;
                continue;
            }
            nSrc = v, nLen = Field(4) + 2;
        }
        t.push_back(w[nPos] = w[nSrc]);
        nPos = (nPos + 1) % 4096, nSrc = (nSrc + 1) % 4096, --nLen;
    }
    return t;
}

// nCalls reads of a compressed file; with bPeek, bytes come from PeekBuffered spans in varying
// bites, and from ReadByte only when no span is offered.
inline Trace DecodeTrace(const std::string& sPath, size_t nCalls, bool bPeek)
{
    CZQAFile file;
    if (!file.Open(sPath.c_str(), true, true, false))
        return {-2};
    Trace t;
    uint8_t n = 0;
    uint32_t nAvailable = 0;
    while (t.size() < nCalls)
    {
        const uint8_t* pSpan = bPeek ? file.PeekBuffered(nAvailable) : nullptr;
        const size_t nTake = pSpan ? std::min<size_t>({nAvailable, nCalls - t.size(), 1 + t.size() % 23}) : 0;
        if (nTake > 0)
            t.insert(t.end(), pSpan, pSpan + nTake), file.SkipBuffered(uint32_t(nTake));
        else
            t.push_back(file.ReadByte(n) ? n : -1);
    }
    return t;
}

// Lists as "(a b)", bare words as they are, quoted strings in quotes: one text for each tree.
inline std::string Dump(const CZQANode* pNode)
{
    if (pNode->IsAtom())
        return pNode->GetFlags() == 0xC0000000u ? '"' + std::string(pNode->GetValue()) + '"'
                                                : pNode->GetValue();
    std::string s;
    for (uint32_t i = 0; i < pNode->GetNumElements(); ++i)
        s += ' ' + Dump(pNode->GetElement(i));
    return "(" + s.substr(s.empty() ? 0 : 1) + ")";
}
