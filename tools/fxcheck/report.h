// Printing fxcheck's findings: compiler-style text (with the source line and a caret on a
// terminal), one JSON object per line, or one SARIF 2.1.0 log.
#pragma once

#include "diagnostic.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct TextStyle
{
    bool bColor = false;
    bool bShowSource = false;
};

// The source line of a diagnostic (1-based line of its file), for the caret display.
using SourceLineFn = std::function<std::string(const Diagnostic&, uint32_t nLine)>;

void PrintText(std::ostream& out, const Diagnostic& diag, const TextStyle& style, const SourceLineFn& lineOf);
// One line: {"file":..,"line":..,"column":..,"severity":..,"code":..,"message":..,"notes":[..]}.
std::string ToJsonLine(const Diagnostic& diag);
// The whole SARIF log for these diagnostics, every kind of finding as a rule; the run's invocation
// names the effect modules loaded (properties.modules).
std::string ToSarif(const std::vector<Diagnostic>& diags, const std::string& sVersion,
                    const std::vector<std::string>& modules = {});
// "1 error, 3 warnings and 0 notes in 2 files (module PATH)." The modules loaded are named, as given
// (escaped by the caller).
std::string SummaryLine(size_t nErrors, size_t nWarnings, size_t nNotes, size_t nFiles,
                        const std::vector<std::string>& modules = {});

// A path as a URI reference: '/' separators, reserved and non-ASCII bytes percent-encoded.
std::string PathToUriReference(const std::string& sPath);
