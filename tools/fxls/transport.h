// JSON-RPC messages over a pair of byte streams with the Language Server Protocol's framing: header
// lines ("Content-Length: N"), an empty line, then N bytes of JSON.
#pragma once

#include <cstdio>
#include <string>

class CTransport
{
public:
    // A body larger than this is read past and reported, never held.
    static constexpr size_t kMaxBody = 256u << 20;

    enum class ReadResult
    {
        Message,   // sBody holds one message
        End,       // the input ended
        BadHeader, // a header without a usable Content-Length, or a body over kMaxBody; skipped
    };

    CTransport(std::FILE* pIn, std::FILE* pOut) : m_pIn(pIn), m_pOut(pOut) {}

    // Blocks until one framed message has been read.
    ReadResult Read(std::string& sBody);
    // Writes one framed message and flushes; false when the output is gone.
    bool Write(const std::string& sBody);

private:
    // One header line without its line break; false at the end of the input.
    bool ReadLine(std::string& sLine, bool& bTooLong);

    std::FILE* m_pIn;
    std::FILE* m_pOut;
};
