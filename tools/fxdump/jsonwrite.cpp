// JSON written straight into a buffer, byte for byte as nlohmann's dump (no indent, invalid UTF-8
// replaced) writes it, without building a value first.
#include "fxdump.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace fxdump
{
namespace
{
// How many continuation bytes a lead byte takes, and the range its first one must lie in; 0 for
// bytes that start no sequence.
int Continuations(unsigned char c, unsigned char& nLow, unsigned char& nHigh)
{
    nLow = 0x80;
    nHigh = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        return 1;
    if (c >= 0xE0 && c <= 0xEF)
    {
        nLow = c == 0xE0 ? 0xA0 : 0x80;
        nHigh = c == 0xED ? 0x9F : 0xBF;
        return 2;
    }
    if (c >= 0xF0 && c <= 0xF4)
    {
        nLow = c == 0xF0 ? 0x90 : 0x80;
        nHigh = c == 0xF4 ? 0x8F : 0xBF;
        return 3;
    }
    return 0;
}

const char kReplacement[] = "\xEF\xBF\xBD";
} // namespace

void CJsonString::Feed(std::string& sOut, const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
    {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (m_nPending != 0)
        {
            if (c >= m_nLow && c <= m_nHigh)
            {
                m_Pending[m_nPending++] = static_cast<char>(c);
                m_nLow = 0x80;
                m_nHigh = 0xBF;
                if (--m_nNeeded == 0)
                {
                    sOut.append(m_Pending, m_nPending);
                    m_nPending = 0;
                }
                continue;
            }
            // A broken sequence is replaced, and the byte that broke it read again.
            sOut += kReplacement;
            m_nPending = 0;
        }
        if (c >= 0x80)
        {
            m_nNeeded = Continuations(c, m_nLow, m_nHigh);
            if (m_nNeeded == 0)
                sOut += kReplacement;
            else
                m_Pending[m_nPending++] = static_cast<char>(c);
            continue;
        }
        switch (c)
        {
        case '\b':
            sOut += "\\b";
            break;
        case '\t':
            sOut += "\\t";
            break;
        case '\n':
            sOut += "\\n";
            break;
        case '\f':
            sOut += "\\f";
            break;
        case '\r':
            sOut += "\\r";
            break;
        case '"':
            sOut += "\\\"";
            break;
        case '\\':
            sOut += "\\\\";
            break;
        default:
            if (c <= 0x1F)
            {
                char sz[8];
                std::snprintf(sz, sizeof(sz), "\\u%04x", c);
                sOut += sz;
            }
            else
                sOut += static_cast<char>(c);
        }
    }
}

void CJsonString::Finish(std::string& sOut)
{
    if (m_nPending != 0)
        sOut += kReplacement;
    m_nPending = 0;
}

void AppendJsonString(std::string& sOut, const std::string& sText)
{
    CJsonString text;
    sOut += '"';
    text.Feed(sOut, sText.data(), sText.size());
    text.Finish(sOut);
    sOut += '"';
}

bool AppendJsonTableString(std::string& sOut, const CPackedEffectReader& reader, uint32_t nTableOffset,
                           std::FILE* pOut)
{
    if (!reader.IsString(nTableOffset))
    {
        sOut += "null";
        return false;
    }
    CJsonString text;
    sOut += '"';
    ForEachStringPiece(reader, nTableOffset,
                       [&](const char* p, size_t n, bool)
                       {
                           text.Feed(sOut, p, n);
                           if (sOut.size() >= (1 << 16))
                           {
                               std::fwrite(sOut.data(), 1, sOut.size(), pOut);
                               sOut.clear();
                           }
                           return n;
                       });
    text.Finish(sOut);
    sOut += '"';
    return true;
}

void AppendJsonNumber(std::string& sOut, double d)
{
    if (!std::isfinite(d))
    {
        sOut += "null";
        return;
    }
    char sz[64];
    const char* pEnd = nlohmann::detail::to_chars(sz, sz + sizeof(sz), d);
    sOut.append(sz, static_cast<size_t>(pEnd - sz));
}

void AppendJsonNumber(std::string& sOut, uint64_t n)
{
    char sz[24];
    sOut.append(sz, std::to_chars(sz, sz + sizeof(sz), n).ptr);
}

void AppendJsonNumber(std::string& sOut, int64_t n)
{
    char sz[24];
    sOut.append(sz, std::to_chars(sz, sz + sizeof(sz), n).ptr);
}
} // namespace fxdump
