// fxcheck's findings as protocol diagnostics, each with the fix that is certain where there is one.
#include "ZQNumbers.h"
#include "requests.h"

#include <cstring>

namespace
{
int SeverityCode(Severity eSeverity)
{
    // Error 1, Warning 2, Hint 4.
    return eSeverity == Severity::Error ? 1 : eSeverity == Severity::Warning ? 2 : 4;
}

// The name a "did you mean 'X'?" message suggests, with the \xHH escapes of printed text undone.
bool Suggestion(const std::string& sMessage, std::string& sName)
{
    static const char kStart[] = "did you mean '";
    const size_t nStart = sMessage.rfind(kStart);
    if (nStart == std::string::npos || sMessage.size() < 2 ||
        sMessage.compare(sMessage.size() - 2, 2, "'?") != 0)
        return false;
    const std::string sQuoted =
        sMessage.substr(nStart + std::strlen(kStart), sMessage.size() - 2 - nStart - std::strlen(kStart));
    sName.clear();
    for (size_t i = 0; i < sQuoted.size(); ++i)
    {
        if (sQuoted[i] == '\\' && i + 3 < sQuoted.size() && sQuoted[i + 1] == 'x' &&
            HexDigitValue(sQuoted[i + 2]) >= 0 && HexDigitValue(sQuoted[i + 3]) >= 0)
        {
            sName.push_back(
                static_cast<char>(HexDigitValue(sQuoted[i + 2]) * 16 + HexDigitValue(sQuoted[i + 3])));
            i += 3;
        }
        else
            sName.push_back(sQuoted[i]);
    }
    return !sName.empty();
}

// The atom a finding at nOffset is about: the atom there, or the name of the list there.
uint32_t WordAt(const CSyntaxTree& tree, uint64_t nOffset)
{
    uint32_t n = tree.At(nOffset);
    if (tree.Node(n).bList && n != 0 && tree.Node(n).nBegin == nOffset)
        n = tree.Node(n).nFirstChild;
    if (n == SyntaxNode::kNone || n == 0 || tree.Node(n).bList || tree.Node(n).nBegin != nOffset)
    {
        // A list finding: its first element, when that is a word.
        const uint32_t nList = tree.At(nOffset + 1);
        if (nList != 0 && tree.Node(nList).bList && tree.Node(nList).nBegin == nOffset)
        {
            const uint32_t nFirst = tree.Node(nList).nFirstChild;
            return nFirst != SyntaxNode::kNone && !tree.Node(nFirst).bList ? nFirst : SyntaxNode::kNone;
        }
        return SyntaxNode::kNone;
    }
    return n;
}

// The list that starts at nOffset, or kNone.
uint32_t ListAt(const CSyntaxTree& tree, uint64_t nOffset)
{
    const uint32_t n = tree.At(nOffset + 1);
    if (n != SyntaxNode::kNone && n != 0 && tree.Node(n).bList && tree.Node(n).nBegin == nOffset)
        return n;
    const uint32_t nParent = n == SyntaxNode::kNone ? SyntaxNode::kNone : tree.Node(n).nParent;
    if (nParent != SyntaxNode::kNone && nParent != 0 && tree.Node(nParent).nBegin == nOffset)
        return nParent;
    return SyntaxNode::kNone;
}

size_t Indentation(const CDocument& doc, uint32_t nLine)
{
    const std::string& s = doc.Text();
    size_t i = doc.LineStart(nLine);
    const size_t nEnd = doc.LineEnd(nLine);
    size_t n = 0;
    while (i < nEnd && (s[i] == ' ' || s[i] == '\t'))
        ++i, ++n;
    return n;
}

bool IsBlank(const CDocument& doc, uint32_t nLine)
{
    const std::string& s = doc.Text();
    for (size_t i = doc.LineStart(nLine); i < doc.LineEnd(nLine); ++i)
    {
        if (!IsSyntaxSpace(s[i]))
            return false;
    }
    return true;
}

// Where the ')' of an unclosed list belongs: after the last line indented deeper than the line that
// opens it (or, with nothing deeper below, at the end of the opening line's text).
size_t CloseAt(const CDocument& doc, uint64_t nOpen)
{
    const uint32_t nOpenLine = doc.Position(static_cast<size_t>(nOpen), PositionEncoding::Utf8).nLine;
    const size_t nIndent = Indentation(doc, nOpenLine);
    uint32_t nLast = nOpenLine;
    for (uint32_t nLine = nOpenLine + 1; nLine < doc.LineCount(); ++nLine)
    {
        if (IsBlank(doc, nLine))
            continue;
        if (Indentation(doc, nLine) <= nIndent)
            break;
        nLast = nLine;
    }
    size_t nEnd = doc.LineEnd(nLast);
    while (nEnd > doc.LineStart(nLast) && IsSyntaxSpace(doc.Text()[nEnd - 1]))
        --nEnd;
    return nEnd;
}

nlohmann::json Fix(const DocumentView& view, const std::string& sTitle, uint64_t nBegin, uint64_t nEnd,
                   const std::string& sNewText)
{
    return {{"title", sTitle}, {"range", JsonRange(view, nBegin, nEnd)}, {"newText", sNewText}};
}

// The certain fix for a finding, or null.
nlohmann::json FixFor(const DocumentView& view, const Diagnostic& diag)
{
    const CSyntaxTree& tree = view.tree;
    std::string sName;
    if (Suggestion(diag.sMessage, sName))
    {
        const uint32_t nWord = WordAt(tree, diag.nOffset);
        if (nWord == SyntaxNode::kNone)
            return nullptr;
        const SyntaxNode word = tree.Node(nWord);
        return Fix(view, "Replace with '" + sName + "'", word.nBegin, word.nEnd,
                   word.bQuoted ? "\"" + sName + "\"" : sName);
    }
    switch (diag.eCode)
    {
    case DiagCode::UnmatchedParen:
        return Fix(view, "Remove the unmatched ')'", diag.nOffset, diag.nOffset + 1, "");
    case DiagCode::UnclosedList:
    {
        const size_t nAt = CloseAt(view.doc, diag.nOffset);
        return Fix(view, "Close the list", nAt, nAt, ")");
    }
    case DiagCode::DuplicateList:
    {
        const uint32_t nList = ListAt(tree, diag.nOffset);
        if (nList == SyntaxNode::kNone || !tree.Node(nList).bClosed)
            return nullptr;
        uint64_t nBegin = tree.Node(nList).nBegin;
        const std::string& s = view.doc.Text();
        while (nBegin > 0 &&
               (s[static_cast<size_t>(nBegin - 1)] == ' ' || s[static_cast<size_t>(nBegin - 1)] == '\t'))
            --nBegin;
        return Fix(view, "Remove the ignored second '" + tree.Name(nList) + "'", nBegin,
                   tree.Node(nList).nEnd, "");
    }
    default:
        return nullptr;
    }
}
} // namespace

nlohmann::json PublishedDiagnostics(const DocumentView& view, const std::vector<Diagnostic>& diags)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Diagnostic& diag : diags)
    {
        nlohmann::json item = {
            {"range", JsonRange(view, diag.nOffset, diag.nOffset + diag.nLength)},
            {"severity", SeverityCode(diag.GetSeverity())},
            {"code", diag.GetCode()},
            {"source", "fxcheck"},
            {"message", diag.sMessage},
        };
        if (!diag.notes.empty())
        {
            nlohmann::json related = nlohmann::json::array();
            for (const DiagnosticNote& note : diag.notes)
                related.push_back(
                    {{"location",
                      {{"uri", view.doc.Uri()}, {"range", JsonRange(view, note.nOffset, note.nOffset + 1)}}},
                     {"message", note.sMessage}});
            item["relatedInformation"] = related;
        }
        nlohmann::json fix = FixFor(view, diag);
        if (!fix.is_null())
            item["data"] = {{"fix", fix}};
        list.push_back(item);
    }
    return list;
}
