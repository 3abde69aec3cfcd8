// Lexical layer of the ZQA text format: one token per NextToken call (list start, list end, bare
// word, quoted string, end of input), read from a plain or LZSS-compressed file. No comments, no
// escapes, no typed values: every value is a byte string.
#pragma once

#include "zqafile.h"

#include <cstdint>

enum ZQATokenType : uint32_t
{
    TOKEN_EOF = 0,        // no more tokens (end of file or a failed read)
    TOKEN_BEGIN_LIST = 1, // "("
    TOKEN_END_LIST = 2,   // ")"
    TOKEN_VALUE = 3,      // a bare word
    TOKEN_STRING = 4,     // a quoted string, without its quotes
};

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
        if (!s_aWordStop[c] && nBufferLen >= 2 && p != m_pSpanEnd)
        {
            const size_t nLeft = static_cast<size_t>(m_pSpanEnd - p);
            const uint8_t* const pLimit = p + (nLeft < nBufferLen - 2 ? nLeft : nBufferLen - 2);
            const uint8_t* q = p;
            char* pTo = pszValueBuffer;
            *pTo++ = static_cast<char>(c);
            while (q != pLimit && !s_aWordStop[*q])
                *pTo++ = static_cast<char>(*q++);
            if (q != m_pSpanEnd && s_aWordStop[*q] && *q != 0)
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

    // Process-wide, rewritten with the same contents by every Open.
    static uint8_t s_aWhitespace[256];
    // Bytes that end a bare word (whitespace, the parentheses, the quote) and the zero byte.
    static const uint8_t (&s_aWordStop)[256];
};
