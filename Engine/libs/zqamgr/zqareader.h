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
    void Close();
    bool IsOpen() const;

    // Stores at most nBufferLen - 1 bytes of a word's or string's text, zero-terminated; the
    // buffer is untouched for the other token kinds.
    uint32_t NextToken(char* pszValueBuffer, uint32_t nBufferLen);
    // The same, also giving for a word or string the length of the stored text as a C string
    // (up to its first zero byte); rnValueLength is untouched for the other token kinds.
    uint32_t NextToken(char* pszValueBuffer, uint32_t nBufferLen, uint32_t& rnValueLength);

    // Offset, in the text as read (decompressed for a compressed file), of the first byte of the
    // token NextToken returned last; for TOKEN_EOF the number of bytes read.
    uint64_t GetTokenStart() const { return m_nTokenStart; }

private:
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
};
