// Lexical layer of the ZQA text format: one token per NextToken call (list start, list end, bare
// word, quoted string, end of input), read from a plain or LZSS-compressed file. No comments, no
// escapes, no typed values: every value is a byte string.
#pragma once

#include "zqafile.h"

#include <cstdint>
#include <cstring>

enum ZQATokenType : uint32_t
{
    TOKEN_EOF = 0,        // no more tokens (end of file or a failed read)
    TOKEN_BEGIN_LIST = 1, // "("
    TOKEN_END_LIST = 2,   // ")"
    TOKEN_VALUE = 3,      // a bare word
    TOKEN_STRING = 4,     // a quoted string, without its quotes
};

// A 256-entry class of bytes.
struct ZQAByteTable
{
    uint8_t a[256];
};

// Bytes that end a bare word: whitespace, the parentheses and the quote.
constexpr ZQAByteTable MakeZQAWordEndTable()
{
    ZQAByteTable t{};
    t.a[uint8_t(' ')] = t.a[uint8_t('\t')] = t.a[uint8_t('\n')] = t.a[uint8_t('\r')] = 1;
    t.a[uint8_t('(')] = t.a[uint8_t(')')] = t.a[uint8_t('"')] = 1;
    return t;
}

// The bytes that end a bare word, and the zero byte, which the value's C string length must see.
constexpr ZQAByteTable MakeZQAWordStopTable()
{
    ZQAByteTable t = MakeZQAWordEndTable();
    t.a[0] = 1;
    return t;
}

class CZQAReader
{
public:
    CZQAReader();
    ~CZQAReader();
    CZQAReader(const CZQAReader&) = delete;
    CZQAReader& operator=(const CZQAReader&) = delete;

    bool Open(const char* pszFilename, bool bCompressed);
    // Reads a file's bytes that the caller holds in memory (and keeps while the reader is open).
    bool OpenMemory(const uint8_t* pData, size_t nSize, bool bCompressed);
    void Close();
    bool IsOpen() const;

    // Stores at most nBufferLen - 1 bytes of a word's or string's text, zero-terminated; the
    // buffer is untouched for the other token kinds.
    uint32_t NextToken(char* pszValueBuffer, uint32_t nBufferLen);
    // The same, also giving for a word or string the length of the stored text as a C string
    // (up to its first zero byte); rnValueLength is untouched for the other token kinds.
    uint32_t NextToken(char* pszValueBuffer, uint32_t nBufferLen, uint32_t& rnValueLength)
    {
        // Inline for the most frequent tokens when they lie in the buffered span: parentheses, and
        // bare words that end inside the span, fit the buffer and hold no zero byte. Anything else
        // goes the full way.
        if (!pszValueBuffer || nBufferLen == 0)
            return NextTokenSlow(pszValueBuffer, nBufferLen, rnValueLength);
        uint8_t c = static_cast<uint8_t>(m_cPushBack);
        const uint8_t* p = m_pSpanPos;
        const bool bFromSpan = s_aWhitespace[c] != 0;
        if (bFromSpan)
        {
            while (p != m_pSpanEnd && s_aWhitespace[*p])
                ++p;
            m_pSpanPos = p; // whitespace consumed; the pushed-back byte stays a space
            if (p == m_pSpanEnd)
                return NextTokenSlow(pszValueBuffer, nBufferLen, rnValueLength);
            c = *p++;
        }
        // p is just past c, which is the last byte consumed.
        if (c == '(' || c == ')')
        {
            m_cPushBack = ' ';
            m_pSpanPos = p;
            m_nTokenStart = m_nSpanBase + static_cast<uint64_t>(p - m_pSpanStart) - 1;
            return c == '(' ? TOKEN_BEGIN_LIST : TOKEN_END_LIST;
        }
        if (!s_WordStop.a[c] && nBufferLen >= 2 && p != m_pSpanEnd)
        {
            const size_t nLeft = static_cast<size_t>(m_pSpanEnd - p);
            const uint8_t* const pLimit = p + (nLeft < nBufferLen - 2 ? nLeft : nBufferLen - 2);
            const uint8_t* q = p;
            char* pTo = pszValueBuffer;
            *pTo++ = static_cast<char>(c);
            while (q != pLimit && !s_WordStop.a[*q])
                *pTo++ = static_cast<char>(*q++);
            if (q != m_pSpanEnd && s_WordStop.a[*q] && *q != 0)
            {
                *pTo = '\0';
                rnValueLength = static_cast<uint32_t>(pTo - pszValueBuffer);
                m_nTokenStart = m_nSpanBase + static_cast<uint64_t>(p - m_pSpanStart) - 1;
                m_cPushBack = static_cast<char>(*q);
                m_pSpanPos = q + 1;
                return TOKEN_VALUE;
            }
        }
        if (bFromSpan)
            m_pSpanPos = p - 1; // c unread again
        return NextTokenSlow(pszValueBuffer, nBufferLen, rnValueLength);
    }

    // Offset, in the text as read (decompressed for a compressed file), of the first byte of the
    // token NextToken returned last; for TOKEN_EOF the number of bytes read.
    uint64_t GetTokenStart() const { return m_nTokenStart; }

    // The tokens NextToken would return, to the end, handed to a sink that is inlined into the scan;
    // each call has the token's start offset:
    //   bool BeginList(uint64_t nStart); bool EndList(uint64_t nStart);
    //   bool Value(const char* pText, uint32_t nLength, bool bQuoted, uint64_t nStart);
    //   void End(uint64_t nLength);
    // A value's text is its stored part (see NextToken: at most TOKEN_TEXT_MAX bytes, cut at a zero
    // byte), nLength bytes not terminated, read straight from the file's buffered span when the
    // token lies inside it. False when a sink call answers false (End is then not called).
    template <class TSink>
    bool ReadTokens(TSink& rSink);

    // The longest value text a token keeps.
    static constexpr uint32_t TOKEN_TEXT_MAX = 1023;

private:
    void PrepareOpen();
    uint32_t NextTokenSlow(char* pszValueBuffer, uint32_t nBufferLen, uint32_t& rnValueLength);

    char m_cPushBack; // the byte that ended the previous word, not consumed yet; a space if none
    CZQAFile m_File;

    // The span of the file's buffered bytes being read: [m_pSpanStart, m_pSpanPos) is read but
    // not yet skipped in the file, [m_pSpanPos, m_pSpanEnd) is unread. Only this reader uses the
    // file, so the span stays valid between tokens; it is skipped in one step when used up.
    const uint8_t* m_pSpanStart = nullptr;
    const uint8_t* m_pSpanPos = nullptr;
    const uint8_t* m_pSpanEnd = nullptr;
    uint64_t m_nSpanBase = 0;   // text offset of m_pSpanStart, or of the next byte when no span
    uint64_t m_nTokenStart = 0; // see GetTokenStart

    // The span's text offset of p, a position inside it.
    uint64_t SpanOffset(const uint8_t* p) const
    {
        return m_nSpanBase + static_cast<uint64_t>(p - m_pSpanStart);
    }

    // Process-wide, rewritten with the same contents by every Open.
    static uint8_t s_aWhitespace[256];
    static constexpr ZQAByteTable s_WordEnd = MakeZQAWordEndTable();
    static constexpr ZQAByteTable s_WordStop = MakeZQAWordStopTable();
};

template <class TSink>
bool CZQAReader::ReadTokens(TSink& rSink)
{
    char szToken[TOKEN_TEXT_MAX + 1];
    for (;;)
    {
        // Tokens that lie wholly inside the span are taken from it directly; a token that meets its
        // end (or holds a zero byte, or follows a pushed-back byte) goes through NextToken.
        if (s_aWhitespace[static_cast<uint8_t>(m_cPushBack)])
        {
            const uint8_t* p = m_pSpanPos;
            const uint8_t* const pEnd = m_pSpanEnd;
            bool bOk = true;
            while (bOk)
            {
                while (p != pEnd && s_aWhitespace[*p])
                    ++p;
                if (p == pEnd)
                    break;
                const uint8_t c = *p;
                if (c == '(')
                {
                    bOk = rSink.BeginList(SpanOffset(p));
                    ++p;
                }
                else if (c == ')')
                {
                    bOk = rSink.EndList(SpanOffset(p));
                    ++p;
                }
                else if (c == '"')
                {
                    const uint8_t* const pText = p + 1;
                    const auto* pQuote = static_cast<const uint8_t*>(
                        std::memchr(pText, '"', static_cast<size_t>(pEnd - pText)));
                    if (!pQuote)
                        break;
                    size_t nLength = static_cast<size_t>(pQuote - pText);
                    if (nLength > TOKEN_TEXT_MAX)
                        nLength = TOKEN_TEXT_MAX;
                    if (const void* pZero = std::memchr(pText, 0, nLength))
                        nLength = static_cast<size_t>(static_cast<const uint8_t*>(pZero) - pText);
                    bOk = rSink.Value(reinterpret_cast<const char*>(pText), static_cast<uint32_t>(nLength),
                                      true, SpanOffset(p));
                    p = pQuote + 1;
                }
                else
                {
                    const uint8_t* q = p + 1;
                    while (q != pEnd && !s_WordStop.a[*q])
                        ++q;
                    if (q == pEnd || *q == 0 || c == 0)
                        break;
                    const size_t nLength = static_cast<size_t>(q - p);
                    bOk = rSink.Value(
                        reinterpret_cast<const char*>(p),
                        static_cast<uint32_t>(nLength < TOKEN_TEXT_MAX ? nLength : TOKEN_TEXT_MAX), false,
                        SpanOffset(p));
                    p = q; // the byte that ended the word is the next token's or whitespace
                }
            }
            m_pSpanPos = p;
            if (!bOk)
                return false;
        }
        uint32_t nLength = 0;
        const uint32_t eToken = NextTokenSlow(szToken, sizeof(szToken), nLength);
        bool bOk = true;
        switch (eToken)
        {
        case TOKEN_BEGIN_LIST:
            bOk = rSink.BeginList(m_nTokenStart);
            break;
        case TOKEN_END_LIST:
            bOk = rSink.EndList(m_nTokenStart);
            break;
        case TOKEN_VALUE:
        case TOKEN_STRING:
            bOk = rSink.Value(szToken, nLength, eToken == TOKEN_STRING, m_nTokenStart);
            break;
        default:
            rSink.End(m_nTokenStart);
            return true;
        }
        if (!bOk)
            return false;
    }
}
