#include "zqareader.h"

#include "zqstrutils.h"

#include <cstring>

#define ZQ_THIS_FILE "Engine/libs/zqamgr/zqareader"

// Space, tab, line feed and carriage return; form feed, vertical tab and 0x80-0xFF are word bytes.
uint8_t CZQAReader::s_aWhitespace[256] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

namespace
{

// Reads through the bytes the file already holds in memory, skipping them in the file in one step
// when the span is used up; falls back to ReadByte when nothing is buffered. The byte sequence
// seen is exactly that of calling ReadByte each time. Works on local copies of the reader's span
// and stores them back at the end of the token.
class CByteSource
{
public:
    CByteSource(CZQAFile& file, const uint8_t*& rpStart, const uint8_t*& rpPos, const uint8_t*& rpEnd,
                uint64_t& rnBase)
        : m_pPos(rpPos), m_pEnd(rpEnd), m_File(file), m_pStart(rpStart), m_rpStart(rpStart), m_rpPos(rpPos),
          m_rpEnd(rpEnd), m_rnBase(rnBase)
    {
    }
    ~CByteSource()
    {
        m_rpStart = m_pStart;
        m_rpPos = m_pPos;
        m_rpEnd = m_pEnd;
    }
    CByteSource(const CByteSource&) = delete;
    CByteSource& operator=(const CByteSource&) = delete;

    bool Next(uint8_t& nByte)
    {
        if (m_pPos != m_pEnd || Refill())
        {
            nByte = *m_pPos++;
            return true;
        }
        if (!m_File.ReadByte(nByte))
            return false;
        ++m_rnBase;
        return true;
    }

    // Bytes read so far, the last one returned by Next included.
    uint64_t Consumed() const { return m_rnBase + static_cast<uint64_t>(m_pPos - m_pStart); }

    const uint8_t* m_pPos; // next unread byte of the span
    const uint8_t* m_pEnd; // end of the span

private:
    bool Refill()
    {
        if (m_pPos != m_pStart)
        {
            m_File.SkipBuffered(static_cast<uint32_t>(m_pPos - m_pStart));
            m_rnBase += static_cast<uint64_t>(m_pPos - m_pStart);
        }
        m_pStart = m_pPos = m_pEnd = nullptr;
        uint32_t nAvailable = 0;
        const uint8_t* pSpan = m_File.PeekBuffered(nAvailable);
        if (!pSpan || nAvailable == 0)
            return false;
        m_pStart = m_pPos = pSpan;
        m_pEnd = pSpan + nAvailable;
        return true;
    }

    CZQAFile& m_File;
    const uint8_t* m_pStart; // first byte of the span not yet skipped in the file
    const uint8_t*& m_rpStart;
    const uint8_t*& m_rpPos;
    const uint8_t*& m_rpEnd;
    uint64_t& m_rnBase;
};

// Appends up to the free room of a token buffer; the rest is dropped.
inline void Store(char* pszBuffer, uint32_t nRoom, uint32_t& nStored, const uint8_t* pBytes, size_t nCount)
{
    const size_t nFree = nRoom - nStored;
    const size_t nCopy = nCount < nFree ? nCount : nFree;
    if (nCopy)
    {
        std::memcpy(pszBuffer + nStored, pBytes, nCopy);
        nStored += static_cast<uint32_t>(nCopy);
    }
}
} // namespace

CZQAReader::CZQAReader() : m_cPushBack(' ') {}

CZQAReader::~CZQAReader()
{
    Close();
}

bool CZQAReader::Open(const char* pszFilename, bool bCompressed)
{
    PrepareOpen();
    return m_File.Open(pszFilename, true, bCompressed, false);
}

bool CZQAReader::OpenMemory(const uint8_t* pData, size_t nSize, bool bCompressed)
{
    PrepareOpen();
    return m_File.OpenMemory(pData, nSize, bCompressed);
}

void CZQAReader::PrepareOpen()
{
    std::memset(s_aWhitespace, 0, sizeof(s_aWhitespace));
    s_aWhitespace[uint8_t(' ')] = 1;
    s_aWhitespace[uint8_t('\t')] = 1;
    s_aWhitespace[uint8_t('\n')] = 1;
    s_aWhitespace[uint8_t('\r')] = 1;
    Close();
}

void CZQAReader::Close()
{
    m_File.Close();
    m_cPushBack = ' ';
    m_pSpanStart = m_pSpanPos = m_pSpanEnd = nullptr;
    m_nSpanBase = m_nTokenStart = 0;
}

bool CZQAReader::IsOpen() const
{
    return m_File.IsOpen();
}

uint32_t CZQAReader::NextToken(char* pszValueBuffer, uint32_t nBufferLen)
{
    uint32_t nLength;
    return NextToken(pszValueBuffer, nBufferLen, nLength);
}

uint32_t CZQAReader::NextTokenSlow(char* pszValueBuffer, uint32_t nBufferLen, uint32_t& rnValueLength)
{
    // Without a usable buffer the tokens are still consumed, their text dropped.
    char cDummy = 0;
    if (!ZQ_CHECK(pszValueBuffer, "CZQAReader::NextToken", "Error: Invalid value buffer") ||
        !ZQ_CHECK(nBufferLen > 0, "CZQAReader::NextToken", "Error: Invalid value buffer length"))
    {
        pszValueBuffer = &cDummy;
        nBufferLen = 1;
    }

    CByteSource src(m_File, m_pSpanStart, m_pSpanPos, m_pSpanEnd, m_nSpanBase);
    uint8_t c = static_cast<uint8_t>(m_cPushBack);
    m_cPushBack = ' ';

    while (s_aWhitespace[c])
    {
        while (src.m_pPos != src.m_pEnd && s_aWhitespace[*src.m_pPos])
            ++src.m_pPos;
        if (!src.Next(c))
        {
            m_nTokenStart = src.Consumed();
            return TOKEN_EOF;
        }
    }
    // c, the pushed-back byte included, is the last byte consumed.
    m_nTokenStart = src.Consumed() - 1;

    if (c == '(')
        return TOKEN_BEGIN_LIST;
    if (c == ')')
        return TOKEN_END_LIST;

    const uint32_t nRoom = nBufferLen - 1;
    uint32_t nStored = 0;

    if (c == '"')
    {
        for (;;)
        {
            if (src.m_pPos != src.m_pEnd)
            {
                const size_t nAvail = static_cast<size_t>(src.m_pEnd - src.m_pPos);
                const auto* pQuote = static_cast<const uint8_t*>(std::memchr(src.m_pPos, '"', nAvail));
                const size_t nLen = pQuote ? static_cast<size_t>(pQuote - src.m_pPos) : nAvail;
                Store(pszValueBuffer, nRoom, nStored, src.m_pPos, nLen);
                src.m_pPos += nLen;
                if (pQuote)
                {
                    ++src.m_pPos; // the closing quote is consumed
                    break;
                }
            }
            uint8_t b;
            if (!src.Next(b) || b == '"')
                break;
            Store(pszValueBuffer, nRoom, nStored, &b, 1);
        }
        pszValueBuffer[nStored] = '\0';
        rnValueLength = static_cast<uint32_t>(std::strlen(pszValueBuffer));
        return TOKEN_STRING;
    }

    bool bZero = c == 0; // a zero byte cuts the value's C string short
    Store(pszValueBuffer, nRoom, nStored, &c, 1);
    for (;;)
    {
        // Words are short: copying while scanning beats a scan followed by memcpy.
        const uint8_t* p = src.m_pPos;
        const uint8_t* const pEnd = src.m_pEnd;
        for (; p != pEnd && !s_WordStop.a[*p]; ++p)
        {
            if (nStored < nRoom)
                pszValueBuffer[nStored++] = static_cast<char>(*p);
        }
        if (p != pEnd && *p == 0)
        {
            bZero = true;
            Store(pszValueBuffer, nRoom, nStored, p, 1);
            src.m_pPos = p + 1;
            continue;
        }
        src.m_pPos = p;
        if (p != pEnd)
        {
            m_cPushBack = static_cast<char>(*p);
            ++src.m_pPos;
            break;
        }
        uint8_t b;
        if (!src.Next(b))
            break;
        if (s_WordEnd.a[b])
        {
            m_cPushBack = static_cast<char>(b);
            break;
        }
        bZero |= b == 0;
        Store(pszValueBuffer, nRoom, nStored, &b, 1);
    }
    pszValueBuffer[nStored] = '\0';
    rnValueLength = bZero ? static_cast<uint32_t>(std::strlen(pszValueBuffer)) : nStored;
    return TOKEN_VALUE;
}
