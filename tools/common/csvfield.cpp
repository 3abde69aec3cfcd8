#include "csvfield.h"
#include "printable.h"

bool CsvNeedsQuotes(const char* p, size_t n)
{
    // Printable leaves no line break: a comma or a quote is what needs quoting.
    for (size_t i = 0; i < n; ++i)
        if (p[i] == ',' || p[i] == '"')
            return true;
    return false;
}

size_t CCsvFieldWriter::Feed(std::string& sOut, const char* p, size_t n, bool bLast)
{
    m_sPiece.clear();
    const size_t nTaken = AppendPrintable(m_sPiece, p, n, bLast);
    if (!m_bStarted && (!m_sPiece.empty() || bLast))
    {
        m_bStarted = true;
        if (m_bQuoted)
            sOut += '"';
        const char c = m_sPiece.empty() ? '\0' : m_sPiece[0];
        if (c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r')
            sOut += '\'';
    }
    for (char c : m_sPiece)
    {
        if (c == '"')
            sOut += '"';
        sOut += c;
    }
    return nTaken;
}

void CCsvFieldWriter::Finish(std::string& sOut)
{
    if (!m_bStarted)
    {
        m_bStarted = true;
        if (m_bQuoted)
            sOut += '"';
    }
    if (m_bQuoted)
        sOut += '"';
}

std::string CsvField(const std::string& sText)
{
    std::string sOut;
    CCsvFieldWriter field(CsvNeedsQuotes(sText.data(), sText.size()));
    field.Feed(sOut, sText.data(), sText.size(), true);
    field.Finish(sOut);
    return sOut;
}
