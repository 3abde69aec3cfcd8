#include "document.h"
#include "report.h"

#include "ZQNumbers.h"

#include <algorithm>

CDocument::CDocument(std::string sUri, std::string sPath, int64_t nVersion, std::string sText)
    : m_sUri(std::move(sUri)), m_sPath(std::move(sPath)), m_nVersion(nVersion), m_sText(std::move(sText))
{
    IndexLines(0);
}

void CDocument::Replace(int64_t nVersion, std::string sText)
{
    m_nVersion = nVersion;
    m_sText = std::move(sText);
    IndexLines(0);
}

void CDocument::Edit(int64_t nVersion, size_t nStart, size_t nEnd, const std::string& sText)
{
    m_nVersion = nVersion;
    m_sText.replace(nStart, nEnd - nStart, sText);
    // Lines before the edit keep their starts; a "\r" just before it may now pair with a "\n".
    IndexLines(nStart == 0 ? 0 : nStart - 1);
}

void CDocument::IndexLines(size_t nFrom)
{
    // Keep the starts at or before nFrom: they are not changed by what follows.
    const auto keep = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), nFrom);
    m_lineStarts.erase(keep, m_lineStarts.end());
    if (m_lineStarts.empty())
        m_lineStarts.push_back(0);
    const size_t n = m_sText.size();
    const char* p = m_sText.data();
    for (size_t i = m_lineStarts.back(); i < n; ++i)
    {
        if (p[i] == '\n')
            m_lineStarts.push_back(i + 1);
        else if (p[i] == '\r')
        {
            if (i + 1 < n && p[i + 1] == '\n')
                ++i;
            m_lineStarts.push_back(i + 1);
        }
    }
}

size_t CDocument::LineStart(uint32_t nLine) const
{
    return nLine < m_lineStarts.size() ? m_lineStarts[nLine] : m_sText.size();
}

size_t CDocument::LineEnd(uint32_t nLine) const
{
    if (nLine >= m_lineStarts.size())
        return m_sText.size();
    size_t nEnd = nLine + 1 < m_lineStarts.size() ? m_lineStarts[nLine + 1] : m_sText.size();
    if (nEnd > m_lineStarts[nLine] && m_sText[nEnd - 1] == '\n')
        --nEnd;
    if (nEnd > m_lineStarts[nLine] && m_sText[nEnd - 1] == '\r')
        --nEnd;
    return nEnd;
}

namespace
{
// Bytes of the UTF-8 sequence that starts with b; 1 for a byte that starts none.
size_t SequenceLength(unsigned char b)
{
    return b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? (b >= 0xF0 ? 1 : 3) : b >= 0xC2 && b <= 0xDF ? 2 : 1;
}

// Whether a well-formed sequence of nLength bytes starts at p (continuation bytes only).
bool IsSequence(const char* p, size_t nAvailable, size_t nLength)
{
    if (nLength > nAvailable)
        return false;
    for (size_t i = 1; i < nLength; ++i)
    {
        if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80)
            return false;
    }
    return true;
}
} // namespace

size_t CDocument::Offset(const TextPosition& pos, PositionEncoding eEncoding) const
{
    if (pos.nLine >= m_lineStarts.size())
        return m_sText.size();
    const size_t nStart = m_lineStarts[pos.nLine];
    const size_t nEnd = LineEnd(pos.nLine);
    if (eEncoding == PositionEncoding::Utf8)
        return std::min(nStart + pos.nCharacter, nEnd);
    size_t i = nStart;
    uint32_t nUnits = 0;
    while (i < nEnd && nUnits < pos.nCharacter)
    {
        size_t nLength = SequenceLength(static_cast<unsigned char>(m_sText[i]));
        if (!IsSequence(&m_sText[i], nEnd - i, nLength))
            nLength = 1;
        const uint32_t nWidth = nLength == 4 ? 2 : 1;
        if (nUnits + nWidth > pos.nCharacter)
            break; // inside a surrogate pair: the start of the character
        nUnits += nWidth;
        i += nLength;
    }
    return i;
}

TextPosition CDocument::Position(size_t nOffset, PositionEncoding eEncoding) const
{
    nOffset = std::min(nOffset, m_sText.size());
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), nOffset);
    const size_t nLine = static_cast<size_t>(it - m_lineStarts.begin()) - 1;
    TextPosition pos;
    pos.nLine = static_cast<uint32_t>(nLine);
    const size_t nStart = m_lineStarts[nLine];
    nOffset = std::min(nOffset, LineEnd(static_cast<uint32_t>(nLine)));
    if (eEncoding == PositionEncoding::Utf8)
    {
        pos.nCharacter = static_cast<uint32_t>(nOffset - nStart);
        return pos;
    }
    size_t i = nStart;
    while (i < nOffset)
    {
        size_t nLength = SequenceLength(static_cast<unsigned char>(m_sText[i]));
        if (!IsSequence(&m_sText[i], m_sText.size() - i, nLength))
            nLength = 1;
        pos.nCharacter += nLength == 4 ? 2 : 1;
        i += nLength;
    }
    return pos;
}

std::string UriToPath(const std::string& sUri)
{
    const std::string sScheme = "file://";
    if (sUri.compare(0, sScheme.size(), sScheme) != 0)
        return std::string();
    std::string sRest = sUri.substr(sScheme.size());
    // An authority other than the local host is a network share, which has no local path here.
    const size_t nSlash = sRest.find('/');
    if (nSlash == std::string::npos)
        return std::string();
    const std::string sHost = sRest.substr(0, nSlash);
    if (!sHost.empty() && sHost != "localhost")
        return std::string();
    sRest = sRest.substr(nSlash);
    std::string sPath;
    for (size_t i = 0; i < sRest.size(); ++i)
    {
        if (sRest[i] == '%' && i + 2 < sRest.size() && HexDigitValue(sRest[i + 1]) >= 0 &&
            HexDigitValue(sRest[i + 2]) >= 0)
        {
            sPath.push_back(
                static_cast<char>(HexDigitValue(sRest[i + 1]) * 16 + HexDigitValue(sRest[i + 2])));
            i += 2;
        }
        else
            sPath.push_back(sRest[i]);
    }
    if (sPath.find('\0') != std::string::npos)
        return std::string();
#if defined(_WIN32)
    // "/C:/x" is the drive path "C:/x".
    if (sPath.size() >= 3 && sPath[0] == '/' && sPath[2] == ':')
        sPath.erase(0, 1);
#endif
    return sPath;
}

std::string PathToUri(const std::string& sPath)
{
    const bool bRooted = !sPath.empty() && (sPath[0] == '/' || sPath[0] == '\\');
    return std::string(bRooted ? "file://" : "file:///") + PathToUriReference(sPath);
}
