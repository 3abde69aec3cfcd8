#include "sourcetext.h"
#include "printable.h"

#include "zqafile.h"
#include "zqanodebuilder.h"
#include "zqanodreader.h"
#include "zqareader.h"
#include "zqautil.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace
{
// The packer reads tokens into a buffer of this size.
constexpr uint32_t kTokenBuffer = CZQANodeReader::TOKEN_BUFFER_LEN;
// The tree builder refuses the list that would make this many lists open at once.
constexpr uint32_t kMaxOpenLists = CZQANodeBuilder::MAX_DEPTH - 1;
// The blocks of the packer's tree allocator.
constexpr uint32_t kTreeBlockSize = 0x40000;

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

bool IsNamed(const CZQANode* pNode, const char* pszName)
{
    const char* pszOwn = ListName(pNode);
    return pszOwn && std::strcmp(pszOwn, pszName) == 0;
}

const char* ListName(const CZQANode* pNode)
{
    if (!pNode || !pNode->IsList() || pNode->GetNumElements() == 0)
        return nullptr;
    const CZQANode* pFirst = pNode->GetElement(0);
    return pFirst->IsAtom() ? pFirst->GetValue() : nullptr;
}

CSourceText::CSourceText() : m_Allocator(kTreeBlockSize) {}

CSourceText::~CSourceText()
{
    FreeTree();
}

void CSourceText::FreeTree()
{
    m_Root.Free(&m_Allocator);
    m_Allocator.FreeAllBlocks();
    m_offsets.clear();
    m_offsets.shrink_to_fit();
    m_closes.clear();
    m_closes.shrink_to_fit();
    m_bUnmatchedClose = false;
    m_nLastUnmatchedClose = 0;
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

bool CSourceText::Load(const std::string& sPath, std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
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
    return LoadBytes(sPath, std::move(sBytes), diags, pBudget);
}

bool CSourceText::LoadBytes(const std::string& sPath, std::string sBytes, std::vector<Diagnostic>& diags,
                            CFindingBudget* pBudget)
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
    return Build(*pReader, diags, pBudget);
}

// Records where every node starts and reports what the tokenizer and the builder do to the text.
class CSourceText::CBuildObserver final : public IZQANodeObserver
{
public:
    CBuildObserver(CSourceText& text, std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
        : m_Text(text), m_diags(diags), m_pBudget(pBudget)
    {
    }

    void OnToken(uint32_t eToken, uint64_t nStart) override
    {
        if (eToken == TOKEN_BEGIN_LIST)
        {
            if (m_nOpen >= kMaxOpenLists)
                Add(Make(m_Text.m_sName, DiagCode::NestingTooDeep, nStart,
                         "more than 1023 lists open at once; the packer cannot read the file"));
            else
                ++m_nOpen;
        }
        else if (eToken == TOKEN_END_LIST)
        {
            if (m_nOpen == 0)
            {
                m_Text.m_bUnmatchedClose = true;
                m_Text.m_nLastUnmatchedClose = nStart;
                Add(Make(m_Text.m_sName, DiagCode::UnmatchedParen, nStart,
                         "')' without a matching '('; ignored"));
            }
            else
                --m_nOpen;
            m_nLastClose = nStart;
        }
        else if (eToken == TOKEN_EOF)
            m_bAtEnd = true;
    }

    void OnNode(const CZQANode* pNode, uint64_t nStart) override
    {
        m_Text.m_offsets.emplace_back(pNode, nStart);
        if (pNode->IsList())
        {
            if (!m_bAtEnd)
                m_Text.m_closes.emplace_back(pNode, m_nLastClose);
            else
            {
                const char* pszName = ListName(pNode);
                Add(Make(m_Text.m_sName, DiagCode::UnclosedList, nStart,
                         (pszName ? "list '" + Printable(pszName) + "'" : std::string("list")) +
                             " is still open at the end of the file; it is closed there"));
            }
            return;
        }
        const std::string& sText = m_Text.m_sText;
        const bool bQuoted = pNode->IsQuoted();
        const uint64_t nLength = m_Text.TokenLength(nStart);
        // A string's quotes are not its text; one still open at the end has no closing quote.
        // (A compressed stream read on past an early end token yields tokens beyond the text copy.)
        const uint64_t nEnd = nStart + nLength;
        const bool bClosedString =
            bQuoted && nLength >= 2 && nEnd <= sText.size() && sText[static_cast<size_t>(nEnd - 1)] == '"';
        const uint64_t nContent = nLength - (bQuoted ? (bClosedString ? 2 : 1) : 0);
        if (nContent > kTokenBuffer - 1)
        {
            Diagnostic diag = Make(m_Text.m_sName, DiagCode::TokenTruncated, nStart,
                                   (bQuoted ? "string of " : "word of ") + std::to_string(nContent) +
                                       " bytes is cut to its first 1023 bytes");
            diag.nLength = nLength;
            Add(std::move(diag));
        }
        if (m_Text.m_bCompressed && !m_pCutAtom && nEnd == sText.size() && !bClosedString)
        {
            m_pCutAtom = pNode;
            m_nCutStart = nStart;
        }
        if (bQuoted && !bClosedString && nEnd >= sText.size())
            Add(Make(m_Text.m_sName, DiagCode::UnclosedString, nStart,
                     "string is still open at the end of the file; it ends there"));
    }

    // A compressed file whose data stops inside a token: the data most likely lost its tail. (Where
    // an end mark stands inside a token, the reader goes on with the bits after it.)
    void Finish()
    {
        if (m_pCutAtom)
            Add(Make(m_Text.m_sName, DiagCode::CompressedTruncated, m_nCutStart,
                     "compressed data ends inside '" + Printable(m_pCutAtom->GetValue()) +
                         "'; the packer takes the end of the data as the end of the token"));
    }

private:
    void Add(Diagnostic diag)
    {
        if (!m_pBudget || m_pBudget->Take(diag.eCode))
            m_diags.push_back(std::move(diag));
    }

    CSourceText& m_Text;
    std::vector<Diagnostic>& m_diags;
    CFindingBudget* m_pBudget;
    uint32_t m_nOpen = 0;
    uint64_t m_nLastClose = 0; // the ")" that closes the list reported next
    bool m_bAtEnd = false;
    const CZQANode* m_pCutAtom = nullptr;
    uint64_t m_nCutStart = 0;
};

bool CSourceText::Build(CZQAReader& reader, std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
{
    FreeTree();
    // Every node takes at least one byte of the text: room for all, of which only what is used
    // is touched, saves growing (and copying) the table on a large file.
    try
    {
        m_offsets.reserve(m_sText.size() + 1);
    }
    catch (const std::exception&)
    {
    }
    const size_t nFirst = diags.size();
    CBuildObserver observer(*this, diags, pBudget);
    if (!CZQANodeReader::LoadEntireFile(reader, &m_Root, &m_Allocator, &observer))
    {
        const auto begin = diags.begin() + static_cast<std::ptrdiff_t>(nFirst);
        const bool bTooDeep = std::any_of(
            begin, diags.end(), [](const Diagnostic& d) { return d.eCode == DiagCode::NestingTooDeep; });
        if (!bTooDeep)
            diags.push_back(Make(m_sName, DiagCode::LoadFailed, reader.GetTokenStart(),
                                 "the packer cannot load the file: too many items wait for their lists "
                                 "to close"));
        FreeTree();
        return false;
    }
    observer.Finish();
    std::sort(m_offsets.begin(), m_offsets.end());
    std::sort(m_closes.begin(), m_closes.end());
    return true;
}

namespace
{
using NodeOffsets = std::vector<std::pair<const CZQANode*, uint64_t>>;

NodeOffsets::const_iterator FindNode(const NodeOffsets& table, const CZQANode* pNode)
{
    const auto it = std::lower_bound(
        table.begin(), table.end(), std::make_pair(pNode, uint64_t(0)),
        [](const std::pair<const CZQANode*, uint64_t>& a, const std::pair<const CZQANode*, uint64_t>& b)
        { return std::less<const CZQANode*>()(a.first, b.first); });
    return it != table.end() && it->first == pNode ? it : table.end();
}
} // namespace

uint64_t CSourceText::Offset(const CZQANode* pNode) const
{
    const auto it = FindNode(m_offsets, pNode);
    return it != m_offsets.end() ? it->second : 0;
}

bool CSourceText::CloseOffset(const CZQANode* pList, uint64_t& nOffset) const
{
    const auto it = FindNode(m_closes, pList);
    if (it == m_closes.end())
        return false;
    nOffset = it->second;
    return true;
}

bool CSourceText::LastUnmatchedClose(uint64_t& nOffset) const
{
    nOffset = m_nLastUnmatchedClose;
    return m_bUnmatchedClose;
}

uint64_t CSourceText::Length(const CZQANode* pNode) const
{
    return pNode && pNode->IsAtom() ? TokenLength(Offset(pNode)) : 1;
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
