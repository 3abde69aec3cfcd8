#include "transport.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace
{
constexpr size_t kMaxHeaderLine = 4096;

bool StartsWithNoCase(const std::string& s, const char* pszPrefix)
{
    const size_t n = std::strlen(pszPrefix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
    {
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(pszPrefix[i])))
            return false;
    }
    return true;
}
} // namespace

bool CTransport::ReadLine(std::string& sLine, bool& bTooLong)
{
    sLine.clear();
    bTooLong = false;
    for (;;)
    {
        const int c = std::fgetc(m_pIn);
        if (c == EOF)
            return !sLine.empty() || bTooLong;
        if (c == '\n')
            break;
        if (sLine.size() < kMaxHeaderLine)
            sLine.push_back(static_cast<char>(c));
        else
            bTooLong = true;
    }
    if (!sLine.empty() && sLine.back() == '\r')
        sLine.pop_back();
    return true;
}

CTransport::ReadResult CTransport::Read(std::string& sBody)
{
    sBody.clear();
    // Header lines up to the empty line; lines before a message that are not headers are skipped.
    bool bHaveLength = false;
    bool bBad = false;
    unsigned long long nLength = 0;
    std::string sLine;
    bool bAnyLine = false;
    for (;;)
    {
        bool bTooLong = false;
        if (!ReadLine(sLine, bTooLong))
            return ReadResult::End;
        if (bTooLong)
        {
            bBad = true;
            continue;
        }
        if (sLine.empty())
        {
            if (!bAnyLine)
                continue; // blank lines between messages
            break;
        }
        bAnyLine = true;
        if (StartsWithNoCase(sLine, "content-length:"))
        {
            const char* p = sLine.c_str() + std::strlen("content-length:");
            while (*p == ' ' || *p == '\t')
                ++p;
            char* pEnd = nullptr;
            if (!std::isdigit(static_cast<unsigned char>(*p)))
            {
                bBad = true;
                continue;
            }
            nLength = std::strtoull(p, &pEnd, 10);
            while (*pEnd == ' ' || *pEnd == '\t')
                ++pEnd;
            if (*pEnd)
                bBad = true;
            else
                bHaveLength = true;
        }
    }
    if (!bHaveLength)
        return ReadResult::BadHeader;
    if (nLength > kMaxBody)
    {
        // Read past the body without holding it.
        char buffer[65536];
        while (nLength > 0)
        {
            const size_t nChunk = nLength < sizeof(buffer) ? static_cast<size_t>(nLength) : sizeof(buffer);
            const size_t nRead = std::fread(buffer, 1, nChunk, m_pIn);
            if (nRead == 0)
                return ReadResult::End;
            nLength -= nRead;
        }
        return ReadResult::BadHeader;
    }
    sBody.resize(static_cast<size_t>(nLength));
    size_t nDone = 0;
    while (nDone < sBody.size())
    {
        const size_t nRead = std::fread(&sBody[nDone], 1, sBody.size() - nDone, m_pIn);
        if (nRead == 0)
            return ReadResult::End;
        nDone += nRead;
    }
    return bBad ? ReadResult::BadHeader : ReadResult::Message;
}

bool CTransport::Write(const std::string& sBody)
{
    const std::string sHeader = "Content-Length: " + std::to_string(sBody.size()) + "\r\n\r\n";
    if (std::fwrite(sHeader.data(), 1, sHeader.size(), m_pOut) != sHeader.size())
        return false;
    if (!sBody.empty() && std::fwrite(sBody.data(), 1, sBody.size(), m_pOut) != sBody.size())
        return false;
    return std::fflush(m_pOut) == 0;
}
