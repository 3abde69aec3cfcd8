// A reading of compressed ZQA streams as tokens, and the classic encoder that defines them. Shared
// by the tests and the benchmarks (so no GoogleTest here).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Tokens as numbers: literal 0x1000000 | byte, copy position << 8 | length, end 0.
inline std::vector<uint32_t> ParseLzssTokens(const std::vector<uint8_t>& s)
{
    size_t nBit = 32;
    auto Field = [&](int nCount)
    {
        uint32_t v = 0;
        for (; nCount > 0; --nCount, ++nBit)
            v = v * 2 + (nBit < s.size() * 8 ? (s[nBit / 8] >> (nBit % 8)) & 1 : 0);
        return v;
    };
    std::vector<uint32_t> t;
    for (uint32_t nPos = 1; nPos != 0;)
        t.push_back(Field(1) ? 0x1000000 | Field(8) : (nPos = Field(12)) ? nPos << 8 | (Field(4) + 2) : 0);
    return t;
}

// The classic 4 KiB binary-tree LZSS encoder written plainly, with byte-by-byte compares: the
// definition of the tokens, held against the library's encoder by the tests and run beside it by
// the benchmark. Same token numbers as ParseLzssTokens.
class CClassicLzssEncoder
{
public:
    std::vector<uint32_t> m_Tokens;

    CClassicLzssEncoder() { m_aParent[4096] = 4096, m_aLarger[4096] = 1, m_aParent[1] = 4096; }

    void Add(uint8_t b)
    {
        if (!m_bPrimed)
        {
            m_aWin[m_nCur + m_nLook] = b;
            m_bPrimed = ++m_nLook == 17;
            return;
        }
        if (m_nLook >= 17)
            Token();
        Delete((m_nCur + 17) % 4096);
        m_aWin[(m_nCur + 17) % 4096] = m_aWin[m_nCur + 17] = b;
        m_nCur = (m_nCur + 1) % 4096;
        Insert(m_nCur);
        ++m_nLook;
    }
    void Finish()
    {
        m_nCur = m_bPrimed ? (m_nCur + 4096 - m_nLook + 17) % 4096 : m_nCur;
        for (; m_nLook > 0; m_nCur = (m_nCur + 1) % 4096)
            m_nMatchLen = 0, Token();
        m_Tokens.push_back(0);
    }

private:
    void Token()
    {
        const uint32_t n = std::min(m_nMatchLen, m_nLook);
        m_Tokens.push_back(n < 2 ? 0x1000000 | m_aWin[m_nCur] : (m_nMatchPos << 8) | n);
        m_nLook -= n < 2 ? 1 : n;
    }
    void Insert(uint32_t nNew)
    {
        m_nMatchLen = m_nMatchPos = 0;
        for (uint32_t c = m_aLarger[4096]; nNew != 0;)
        {
            uint32_t i = 0;
            while (i < 17 && m_aWin[nNew + i] == m_aWin[c + i])
                ++i;
            if (i > m_nMatchLen)
                m_nMatchLen = i, m_nMatchPos = c;
            if (i == 17)
                return Replace(c, nNew);
            uint32_t& rChild = m_aWin[nNew + i] > m_aWin[c + i] ? m_aLarger[c] : m_aSmaller[c];
            if (!rChild)
            {
                rChild = nNew, m_aParent[nNew] = c, m_aSmaller[nNew] = m_aLarger[nNew] = 0;
                return;
            }
            c = rChild;
        }
    }
    void Unlink(uint32_t n, uint32_t nChild)
    {
        const uint32_t p = m_aParent[n];
        (m_aSmaller[p] == n ? m_aSmaller[p] : m_aLarger[p]) = nChild;
        m_aParent[nChild] = p, m_aParent[n] = 0;
    }
    void Replace(uint32_t nOld, uint32_t nNew)
    {
        const uint32_t p = m_aParent[nOld];
        (m_aLarger[p] == nOld ? m_aLarger[p] : m_aSmaller[p]) = nNew;
        m_aParent[nNew] = p, m_aSmaller[nNew] = m_aSmaller[nOld], m_aLarger[nNew] = m_aLarger[nOld];
        m_aParent[m_aSmaller[nNew]] = m_aParent[m_aLarger[nNew]] = nNew, m_aParent[nOld] = 0;
    }
    void Delete(uint32_t p)
    {
        if (!p || !m_aParent[p])
            return;
        if (!m_aLarger[p] || !m_aSmaller[p])
            return Unlink(p, m_aLarger[p] | m_aSmaller[p]);
        uint32_t r = m_aSmaller[p];
        while (m_aLarger[r])
            r = m_aLarger[r];
        Unlink(r, m_aSmaller[r]);
        Replace(p, r);
    }

    uint8_t m_aWin[4113] = {};
    uint32_t m_aParent[4097] = {}, m_aSmaller[4097] = {}, m_aLarger[4097] = {};
    uint32_t m_nLook = 0, m_nCur = 1, m_nMatchLen = 0, m_nMatchPos = 0;
    bool m_bPrimed = false;
};
