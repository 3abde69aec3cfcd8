#include "jsontext.h"
#include "utf8.h"

#include <cstdio>

namespace
{
const char kReplacement[] = "\xEF\xBF\xBD";
} // namespace

void CJsonStringWriter::Feed(std::string& sOut, const char* p, size_t n)
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
            m_bExact = false;
            m_nPending = 0;
        }
        if (c >= 0x80)
        {
            m_nNeeded = Utf8Continuations(c, m_nLow, m_nHigh);
            if (m_nNeeded == 0)
            {
                sOut += kReplacement;
                m_bExact = false;
            }
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

void CJsonStringWriter::Finish(std::string& sOut)
{
    if (m_nPending != 0)
    {
        sOut += kReplacement;
        m_bExact = false;
    }
    m_nPending = 0;
}

bool AppendJsonString(std::string& sOut, const std::string& sText)
{
    CJsonStringWriter text;
    sOut += '"';
    text.Feed(sOut, sText.data(), sText.size());
    text.Finish(sOut);
    sOut += '"';
    return text.IsExact();
}

bool IsUtf8(const std::string& sText)
{
    const auto* p = reinterpret_cast<const unsigned char*>(sText.data());
    for (size_t i = 0; i < sText.size();)
    {
        if (p[i] < 0x80)
        {
            ++i;
            continue;
        }
        const size_t n = Utf8SequenceLength(p + i, sText.size() - i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void AppendHexBytes(std::string& sOut, const char* p, size_t n)
{
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i)
    {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        sOut += kHex[c >> 4];
        sOut += kHex[c & 15];
    }
}
