#include "SourceText.h"
#include "Printable.h"

#include "zqafile.h"
#include "zqareader.h"
#include "zqautil.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
// The packer reads tokens into a buffer of this size.
constexpr uint32_t kTokenBuffer = 1024;
// The tree builder refuses the list that would make this many lists open at once.
constexpr size_t kMaxOpenLists = 1023;

bool IsWordEnd(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '(' || c == ')' || c == '"';
}

Diagnostic Make(const std::string& sFile, DiagCode eCode, uint64_t nOffset, std::string sMessage)
{
    Diagnostic diag;
    diag.sFile = sFile;
    diag.eCode = eCode;
    diag.nOffset = nOffset;
    diag.sMessage = std::move(sMessage);
    return diag;
}
} // namespace

bool SourceNode::IsNamed(const char* pszName) const
{
    const char* pszOwn = Name();
    return pszOwn && std::strcmp(pszOwn, pszName) == 0;
}

const char* SourceNode::Name() const
{
    if (!bList || elements.empty() || elements[0]->bList)
        return nullptr;
    return elements[0]->sValue.c_str();
}

namespace
{
// Appends every byte the file gives; false when it cannot be opened.
bool ReadAll(CZQAFile& file, std::string& sTo)
{
    if (!file.IsOpen())
        return false;
    for (;;)
    {
        uint32_t nAvailable = 0;
        const uint8_t* p = file.PeekBuffered(nAvailable);
        if (p && nAvailable)
        {
            sTo.append(reinterpret_cast<const char*>(p), nAvailable);
            file.SkipBuffered(nAvailable);
            continue;
        }
        uint8_t b;
        if (!file.ReadByte(b))
            return true;
        sTo.push_back(static_cast<char>(b));
    }
}
} // namespace

bool CSourceText::Load(const std::string& sPath, std::vector<Diagnostic>& diags)
{
    std::string sBytes;
    {
        CZQAFile file;
        file.Open(sPath.c_str(), true, false, false);
        if (!ReadAll(file, sBytes))
        {
            m_sName = sPath;
            m_sText.clear();
            IndexLines();
            diags.push_back(Make(sPath, DiagCode::FileUnreadable, 0, "cannot read the file"));
            return false;
        }
    }
    return LoadBytes(sPath, std::move(sBytes), diags);
}

bool CSourceText::LoadBytes(const std::string& sPath, std::string sBytes, std::vector<Diagnostic>& diags)
{
    m_sName = sPath;
    m_bCompressed = CZQAUtil::IsFileCompressed(sPath.c_str());
    m_sText.clear();
    const auto* pBytes = reinterpret_cast<const uint8_t*>(sBytes.data());
    if (m_bCompressed)
    {
        CZQAFile file;
        file.OpenMemory(pBytes, sBytes.size(), true);
        if (!ReadAll(file, m_sText))
        {
            IndexLines();
            diags.push_back(Make(sPath, DiagCode::FileUnreadable, 0,
                                 "cannot read the file, or it is not LZSS-compressed text"));
            return false;
        }
    }
    else
    {
        m_sText = std::move(sBytes);
        pBytes = reinterpret_cast<const uint8_t*>(m_sText.data());
    }
    IndexLines();
    // The reader embeds the decoder's window and tables: too large for the stack.
    std::unique_ptr<CZQAReader> pReader(new CZQAReader());
    const size_t nSize = m_bCompressed ? sBytes.size() : m_sText.size();
    if (!pReader->OpenMemory(pBytes, nSize, m_bCompressed))
    {
        diags.push_back(Make(sPath, DiagCode::FileUnreadable, 0, "cannot read the file"));
        return false;
    }
    return Build(*pReader, diags);
}

bool CSourceText::Build(CZQAReader& reader, std::vector<Diagnostic>& diags)
{
    m_nodes.clear();
    m_Root = SourceNode();
    m_Root.bList = true;
    std::vector<SourceNode*> open;
    char szBuffer[kTokenBuffer];
    const SourceNode* pCutAtom = nullptr;
    for (;;)
    {
        const uint32_t nToken = reader.NextToken(szBuffer, sizeof(szBuffer));
        const uint64_t nStart = reader.GetTokenStart();
        SourceNode* pParent = open.empty() ? &m_Root : open.back();
        if (nToken == TOKEN_EOF)
            break;
        if (nToken == TOKEN_BEGIN_LIST)
        {
            if (open.size() >= kMaxOpenLists)
            {
                diags.push_back(Make(m_sName, DiagCode::NestingTooDeep, nStart,
                                     "more than 1023 lists open at once; the packer cannot read the file"));
                return false;
            }
            m_nodes.emplace_back();
            SourceNode* pList = &m_nodes.back();
            pList->bList = true;
            pList->bClosed = false;
            pList->nOffset = nStart;
            pParent->elements.push_back(pList);
            open.push_back(pList);
        }
        else if (nToken == TOKEN_END_LIST)
        {
            if (open.empty())
                diags.push_back(
                    Make(m_sName, DiagCode::UnmatchedParen, nStart, "')' without a matching '('; ignored"));
            else
            {
                open.back()->bClosed = true;
                open.pop_back();
            }
        }
        else
        {
            m_nodes.emplace_back();
            SourceNode* pAtom = &m_nodes.back();
            pAtom->bQuoted = nToken == TOKEN_STRING;
            pAtom->sValue = szBuffer; // the tree stores the text up to a zero byte
            pAtom->nOffset = nStart;
            pAtom->nLength = TokenLength(nStart);
            pParent->elements.push_back(pAtom);
            // A string's quotes are not its text; one still open at the end has no closing quote.
            // (A compressed stream read on past an early end token yields tokens beyond the text copy.)
            const uint64_t nEnd = nStart + pAtom->nLength;
            const bool bClosedString = pAtom->bQuoted && pAtom->nLength >= 2 && nEnd <= m_sText.size() &&
                                       m_sText[static_cast<size_t>(nEnd - 1)] == '"';
            const uint64_t nContent = pAtom->nLength - (pAtom->bQuoted ? (bClosedString ? 2 : 1) : 0);
            if (nContent > kTokenBuffer - 1)
            {
                Diagnostic diag =
                    Make(m_sName, DiagCode::TokenTruncated, nStart,
                         (pAtom->bQuoted ? "string of " : "word of ") + std::to_string(nContent) +
                             " bytes is cut to its first 1023 bytes");
                diag.nLength = pAtom->nLength;
                diags.push_back(std::move(diag));
            }
            if (m_bCompressed && !pCutAtom && nEnd == m_sText.size() && !bClosedString)
                pCutAtom = pAtom;
            if (pAtom->bQuoted && !bClosedString && nEnd >= m_sText.size())
            {
                diags.push_back(Make(m_sName, DiagCode::UnclosedString, nStart,
                                     "string is still open at the end of the file; it ends there"));
            }
        }
    }
    // A compressed file whose data stops inside a token: the data most likely lost its tail. (Where
    // an end mark stands inside a token, the reader goes on with the bits after it.)
    if (pCutAtom)
    {
        diags.push_back(Make(m_sName, DiagCode::CompressedTruncated, pCutAtom->nOffset,
                             "compressed data ends inside '" + Printable(pCutAtom->sValue) +
                                 "'; the packer takes the end of the data as the end of the token"));
    }
    for (const SourceNode* pList : open)
    {
        const char* pszName = pList->Name();
        diags.push_back(Make(m_sName, DiagCode::UnclosedList, pList->nOffset,
                             (pszName ? "list '" + Printable(pszName) + "'" : std::string("list")) +
                                 " is still open at the end of the file; it is closed there"));
    }
    return true;
}

uint64_t CSourceText::TokenLength(uint64_t nOffset) const
{
    const size_t n = m_sText.size();
    size_t i = static_cast<size_t>(nOffset);
    if (i >= n)
        return 1;
    if (m_sText[i] == '"')
    {
        const size_t nClose = m_sText.find('"', i + 1);
        return nClose == std::string::npos ? n - i : nClose + 1 - i;
    }
    size_t j = i + 1;
    while (j < n && !IsWordEnd(static_cast<unsigned char>(m_sText[j])))
        ++j;
    return j - i;
}

void CSourceText::IndexLines()
{
    m_lineStarts.assign(1, 0);
    for (size_t i = 0; i < m_sText.size(); ++i)
    {
        if (m_sText[i] == '\n')
            m_lineStarts.push_back(i + 1);
    }
}

void CSourceText::Position(uint64_t nOffset, uint32_t& nLine, uint32_t& nColumn) const
{
    if (m_lineStarts.empty())
    {
        nLine = nColumn = 1;
        return;
    }
    const auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), nOffset);
    const size_t nIndex = static_cast<size_t>(it - m_lineStarts.begin()) - 1;
    nLine = static_cast<uint32_t>(nIndex + 1);
    nColumn = static_cast<uint32_t>(nOffset - m_lineStarts[nIndex] + 1);
}

std::string CSourceText::LineText(uint32_t nLine) const
{
    if (nLine == 0 || nLine > m_lineStarts.size())
        return std::string();
    const size_t nStart = static_cast<size_t>(m_lineStarts[nLine - 1]);
    size_t nEnd = m_sText.find('\n', nStart);
    if (nEnd == std::string::npos)
        nEnd = m_sText.size();
    if (nEnd > nStart && m_sText[nEnd - 1] == '\r')
        --nEnd;
    return m_sText.substr(nStart, nEnd - nStart);
}

void CSourceText::Locate(std::vector<Diagnostic>& diags, size_t nFirst) const
{
    for (size_t i = nFirst; i < diags.size(); ++i)
    {
        Position(diags[i].nOffset, diags[i].nLine, diags[i].nColumn);
        for (DiagnosticNote& note : diags[i].notes)
            Position(note.nOffset, note.nLine, note.nColumn);
    }
}
