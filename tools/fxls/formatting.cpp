// Formatting and range formatting through fxfmt's canonical layout: only whitespace between tokens
// changes, so the formatted text packs to the same bytes.
#include "requests.h"

#include "format.h"

namespace
{
nlohmann::json TextEdit(const DocumentView& view, size_t nBegin, size_t nEnd, const std::string& sText)
{
    return {{"range", JsonRange(view, nBegin, nEnd)}, {"newText", sText}};
}
} // namespace

bool FormattingRefused(const DocumentView& view, std::string& sWhy)
{
    const fxfmt::Fault fault = fxfmt::CheckStructure(view.doc.Text());
    if (!fault)
        return false;
    const TextPosition pos = view.doc.Position(fault.nOffset, PositionEncoding::Utf8);
    sWhy = "not formatted: " + fault.sMessage + " (line " + std::to_string(pos.nLine + 1) + ")";
    return true;
}

nlohmann::json Formatting(const DocumentView& view)
{
    const std::string& sText = view.doc.Text();
    const std::string sFormatted = fxfmt::FormatText(sText);
    nlohmann::json edits = nlohmann::json::array();
    if (sFormatted != sText && fxfmt::SameTokens(sText, sFormatted))
        edits.push_back(TextEdit(view, 0, sText.size(), sFormatted));
    return edits;
}

nlohmann::json RangeFormatting(const DocumentView& view, size_t nBegin, size_t nEnd)
{
    nlohmann::json edits = nlohmann::json::array();
    for (const fxfmt::Edit& edit : fxfmt::FormatRange(view.doc.Text(), nBegin, nEnd))
        edits.push_back(TextEdit(view, edit.nBegin, edit.nEnd, edit.sText));
    return edits;
}
