#include "sourcetext.h"
#include "nodeindex.h"
#include "printable.h"

#include "zqafile.h"
#include "zqanodebuilder.h"
#include "zqanodreader.h"
#include "zqareader.h"
#include "zqautil.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
// The packer reads tokens into a buffer of this size.
constexpr uint32_t kTokenBuffer = CZQANodeReader::TOKEN_BUFFER_LEN;
// The tree builder refuses the list that would make this many lists open at once.
constexpr uint32_t kMaxOpenLists = CZQANodeBuilder::MAX_DEPTH - 1;
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

CSourceText::CSourceText() : m_pAllocator(new CZQALoadOnlyAlloc(CZQALoadOnlyAlloc::MIN_TEXT_BLOCK)) {}

CSourceText::~CSourceText()
{
    FreeTree();
}

void CSourceText::FreeTree()
{
    m_pIndex.reset();
    m_bIndexTried = false;
    m_Root.Free(m_pAllocator.get());
    m_pAllocator->FreeAllBlocks();
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
            FreeTree();
            m_sName = sPath;
            m_sOwned.clear();
            m_sDecoded.clear();
            m_Read = m_Text = std::string_view();
            m_lineStarts.clear();
            diags.push_back(Make(sPath, DiagCode::FileUnreadable, 0, "cannot read the file"));
            return false;
        }
    }
    return LoadBytes(sPath, std::move(sBytes), diags, pBudget);
}

bool CSourceText::LoadBytes(const std::string& sPath, std::string sBytes, std::vector<Diagnostic>& diags,
                            CFindingBudget* pBudget)
{
    m_sOwned = std::move(sBytes);
    m_Read = m_sOwned;
    return LoadSpan(sPath, diags, pBudget);
}

bool CSourceText::LoadView(const std::string& sPath, std::string_view bytes, std::vector<Diagnostic>& diags,
                           CFindingBudget* pBudget)
{
    m_sOwned.clear();
    m_sOwned.shrink_to_fit();
    m_Read = bytes;
    return LoadSpan(sPath, diags, pBudget);
}

bool CSourceText::LoadSpan(const std::string& sPath, std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
{
    FreeTree();
    m_sName = sPath;
    m_bCompressed = CZQAUtil::IsFileCompressed(sPath.c_str());
    m_sDecoded.clear();
    m_lineStarts.clear();
    m_Text = m_Read;
    if (m_bCompressed)
    {
        CZQAFile file;
        file.OpenMemory(reinterpret_cast<const uint8_t*>(m_Read.data()), m_Read.size(), true);
        const bool bRead = ReadAll(file, m_sDecoded);
        m_Text = m_sDecoded;
        if (!bRead)
        {
            diags.push_back(Make(sPath, DiagCode::FileUnreadable, 0,
                                 "cannot read the file, or it is not LZSS-compressed text"));
            return false;
        }
    }
    std::unique_ptr<CZQAReader> pReader = OpenReader();
    if (!pReader)
    {
        diags.push_back(Make(sPath, DiagCode::FileUnreadable, 0, "cannot read the file"));
        return false;
    }
    return Build(*pReader, diags, pBudget);
}

std::unique_ptr<CZQAReader> CSourceText::OpenReader() const
{
    // The reader embeds the decoder's window and tables: too large for the stack.
    std::unique_ptr<CZQAReader> pReader(new (std::nothrow) CZQAReader());
    if (!pReader ||
        !pReader->OpenMemory(reinterpret_cast<const uint8_t*>(m_Read.data()), m_Read.size(), m_bCompressed))
        return nullptr;
    return pReader;
}

// Reports what the tokenizer and the builder do to the text.
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
        }
        else if (eToken == TOKEN_EOF)
            m_bAtEnd = true;
    }

    void OnNode(const CZQANode* pNode, uint64_t nStart) override
    {
        if (pNode->IsList())
        {
            if (m_bAtEnd)
            {
                const char* pszName = ListName(pNode);
                Add(Make(m_Text.m_sName, DiagCode::UnclosedList, nStart,
                         (pszName ? "list '" + Printable(pszName) + "'" : std::string("list")) +
                             " is still open at the end of the file; it is closed there"));
            }
            return;
        }
        const std::string_view sText = m_Text.m_Text;
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
    bool m_bAtEnd = false;
    const CZQANode* m_pCutAtom = nullptr;
    uint64_t m_nCutStart = 0;
};

bool CSourceText::Build(CZQAReader& reader, std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
{
    FreeTree();
    const uint32_t nBlockSize = CZQALoadOnlyAlloc::BlockSizeForText(m_Text.size());
    if (m_pAllocator->GetBlockSize() != nBlockSize)
        m_pAllocator.reset(new CZQALoadOnlyAlloc(nBlockSize));
    const size_t nFirst = diags.size();
    CBuildObserver observer(*this, diags, pBudget);
    if (!CZQANodeReader::LoadEntireFile(reader, &m_Root, m_pAllocator.get(), &observer))
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
    return true;
}

const CNodeIndex* CSourceText::Index() const
{
    // An empty (or given back) tree has nothing to place: the text is not read again for it.
    if (!m_bIndexTried && m_Root.GetNumElements() > 0)
    {
        m_bIndexTried = true;
        if (std::unique_ptr<CZQAReader> pReader = OpenReader())
            m_pIndex = CNodeIndex::Make(m_Root, *pReader);
    }
    return m_pIndex.get();
}

uint64_t CSourceText::Offset(const CZQANode* pNode) const
{
    uint64_t nStart = 0, nClose = 0;
    bool bClosed = false;
    const CNodeIndex* pIndex = pNode && pNode != &m_Root ? Index() : nullptr;
    return pIndex && pIndex->Find(pNode, nStart, nClose, bClosed) ? nStart : 0;
}

bool CSourceText::CloseOffset(const CZQANode* pList, uint64_t& nOffset) const
{
    uint64_t nStart = 0, nClose = 0;
    bool bClosed = false;
    const CNodeIndex* pIndex = pList && pList != &m_Root ? Index() : nullptr;
    if (!pIndex || !pIndex->Find(pList, nStart, nClose, bClosed) || !bClosed)
        return false;
    nOffset = nClose;
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
    const size_t n = m_Text.size();
    size_t i = static_cast<size_t>(nOffset);
    if (i >= n)
        return 1;
    if (m_Text[i] == '"')
    {
        const size_t nClose = m_Text.find('"', i + 1);
        return nClose == std::string_view::npos ? n - i : nClose + 1 - i;
    }
    size_t j = i + 1;
    while (j < n && !IsWordEnd(static_cast<unsigned char>(m_Text[j])))
        ++j;
    return j - i;
}

const std::vector<uint64_t>& CSourceText::LineStarts() const
{
    if (m_lineStarts.empty())
    {
        m_lineStarts.push_back(0);
        for (size_t i = m_Text.find('\n'); i != std::string_view::npos; i = m_Text.find('\n', i + 1))
            m_lineStarts.push_back(i + 1);
    }
    return m_lineStarts;
}

void CSourceText::Position(uint64_t nOffset, uint32_t& nLine, uint32_t& nColumn) const
{
    const std::vector<uint64_t>& lineStarts = LineStarts();
    const auto it = std::upper_bound(lineStarts.begin(), lineStarts.end(), nOffset);
    const size_t nIndex = static_cast<size_t>(it - lineStarts.begin()) - 1;
    nLine = static_cast<uint32_t>(nIndex + 1);
    nColumn = static_cast<uint32_t>(nOffset - lineStarts[nIndex] + 1);
}

std::string CSourceText::LineText(uint32_t nLine) const
{
    const std::vector<uint64_t>& lineStarts = LineStarts();
    if (nLine == 0 || nLine > lineStarts.size())
        return std::string();
    const size_t nStart = static_cast<size_t>(lineStarts[nLine - 1]);
    size_t nEnd = m_Text.find('\n', nStart);
    if (nEnd == std::string_view::npos)
        nEnd = m_Text.size();
    if (nEnd > nStart && m_Text[nEnd - 1] == '\r')
        --nEnd;
    return std::string(m_Text.substr(nStart, nEnd - nStart));
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
