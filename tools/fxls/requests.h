// The requests about one document: each takes the document, its syntax tree, its module (null
// without one) and the request's parameters, and gives the result object (null when there is none).
#pragma once

#include "diagnostic.h"
#include "document.h"
#include "syntax.h"

#include <nlohmann/json.hpp>

#include <vector>

class CEffectModule;

struct DocumentView
{
    const CDocument& doc;
    const CSyntaxTree& tree;
    const CEffectModule* pModule;
    PositionEncoding eEncoding;
};

// Protocol ranges and positions.
nlohmann::json JsonRange(const DocumentView& view, uint64_t nBegin, uint64_t nEnd);
nlohmann::json JsonPosition(const DocumentView& view, uint64_t nOffset);
// A protocol position; false when it is malformed.
bool ReadTextPosition(const nlohmann::json& position, TextPosition& pos);
// The offset of a protocol position; false when the position is malformed.
bool ReadPosition(const DocumentView& view, const nlohmann::json& position, size_t& nOffset);

// Diagnostics.cpp: the findings as protocol diagnostics (code, source "fxcheck", notes as related
// information, the did-you-mean replacement in "data").
nlohmann::json PublishedDiagnostics(const DocumentView& view, const std::vector<Diagnostic>& diags);

nlohmann::json Hover(const DocumentView& view, size_t nOffset);
nlohmann::json Completion(const DocumentView& view, size_t nOffset);
nlohmann::json CodeActions(const DocumentView& view, const nlohmann::json& params);
nlohmann::json DocumentSymbols(const DocumentView& view);
nlohmann::json Definition(const DocumentView& view, size_t nOffset);
// Formatting.cpp. A text with a structural fault is not formatted: true, with the reason.
bool FormattingRefused(const DocumentView& view, std::string& sWhy);
nlohmann::json Formatting(const DocumentView& view);
nlohmann::json RangeFormatting(const DocumentView& view, size_t nBegin, size_t nEnd);
