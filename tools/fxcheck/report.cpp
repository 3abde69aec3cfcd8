#include "report.h"
#include "jsontext.h"
#include "printable.h"

#include <nlohmann/json.hpp>

namespace
{
const char* const kBold = "\x1b[1m";
const char* const kReset = "\x1b[0m";
const char* const kRed = "\x1b[1;31m";
const char* const kMagenta = "\x1b[1;35m";
const char* const kGreen = "\x1b[1;32m";
const char* const kCyan = "\x1b[1;36m";

template <class Json>
std::string Dump(const Json& json, int nIndent = -1)
{
    return json.dump(nIndent, ' ', false, Json::error_handler_t::replace);
}

std::string Location(const std::string& sFile, uint32_t nLine, uint32_t nColumn)
{
    std::string s = Printable(sFile);
    if (nLine)
        s += ":" + std::to_string(nLine) + ":" + std::to_string(nColumn);
    return s + ":";
}

// How many columns a printable text takes: one per character.
size_t Width(const std::string& sShown)
{
    size_t n = 0;
    for (char c : sShown)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// A source line as the shared escaper shows it, tabs as one space each; nColumn and nLength (in
// bytes of the line) become the columns of the shown text.
std::string ShownLine(const std::string& sLine, size_t& nColumn, size_t& nLength)
{
    std::string sSpaced = sLine;
    for (char& c : sSpaced)
        if (c == '\t')
            c = ' ';
    const size_t nStart = nColumn < sSpaced.size() ? nColumn : sSpaced.size();
    const size_t nEnd = nLength < sSpaced.size() - nStart ? nStart + nLength : sSpaced.size();
    nColumn = Width(Printable(sSpaced.substr(0, nStart)));
    nLength = Width(Printable(sSpaced.substr(nStart, nEnd - nStart)));
    return Printable(sSpaced);
}

void PrintOne(std::ostream& out, const std::string& sFile, uint32_t nLine, uint32_t nColumn,
              const char* pszLevel, const char* pszColor, const std::string& sMessage, const char* pszCode,
              uint64_t nLength, const TextStyle& style, const std::string* pSourceLine)
{
    const char* pszBold = style.bColor ? kBold : "";
    const char* pszReset = style.bColor ? kReset : "";
    out << pszBold << Location(sFile, nLine, nColumn) << pszReset << " " << (style.bColor ? pszColor : "")
        << pszLevel << ":" << pszReset << " " << pszBold << Printable(sMessage);
    if (pszCode)
        out << " [" << pszCode << "]";
    out << pszReset << "\n";
    if (!pSourceLine || !nLine)
        return;
    size_t nCaret = nColumn ? nColumn - 1 : 0;
    size_t nMarked = nLength > 1 ? static_cast<size_t>(nLength) : 1;
    const std::string sShown = ShownLine(*pSourceLine, nCaret, nMarked);
    out << sShown << "\n";
    std::string sMarks(nCaret, ' ');
    sMarks += '^';
    sMarks.append(nMarked > 1 ? nMarked - 1 : 0, '~');
    out << (style.bColor ? kGreen : "") << sMarks << pszReset << "\n";
}
} // namespace

void PrintText(std::ostream& out, const Diagnostic& diag, const TextStyle& style, const SourceLineFn& lineOf)
{
    const Severity eSeverity = diag.GetSeverity();
    const char* pszColor = eSeverity == Severity::Error     ? kRed
                           : eSeverity == Severity::Warning ? kMagenta
                                                            : kCyan;
    std::string sLine;
    if (style.bShowSource && diag.nLine)
        sLine = lineOf(diag, diag.nLine);
    PrintOne(out, diag.sFile, diag.nLine, diag.nColumn, SeverityName(eSeverity), pszColor, diag.sMessage,
             diag.GetCode(), diag.nLength, style, style.bShowSource && diag.nLine ? &sLine : nullptr);
    for (const DiagnosticNote& note : diag.notes)
    {
        std::string sNoteLine;
        if (style.bShowSource && note.nLine)
            sNoteLine = lineOf(diag, note.nLine);
        PrintOne(out, diag.sFile, note.nLine, note.nColumn, "note", kCyan, note.sMessage, nullptr, 1, style,
                 style.bShowSource && note.nLine ? &sNoteLine : nullptr);
    }
}

std::string ToJsonLine(const Diagnostic& diag)
{
    // Fields in the order the README's example shows them.
    nlohmann::ordered_json json = {
        {"file", diag.sFile},     {"line", diag.nLine},
        {"column", diag.nColumn}, {"severity", SeverityName(diag.GetSeverity())},
        {"code", diag.GetCode()}, {"message", diag.sMessage},
    };
    if (!diag.notes.empty())
    {
        nlohmann::ordered_json notes = nlohmann::ordered_json::array();
        for (const DiagnosticNote& note : diag.notes)
            notes.push_back({{"line", note.nLine}, {"column", note.nColumn}, {"message", note.sMessage}});
        json["notes"] = notes;
    }
    AddJsonBytes(json);
    return Dump(json);
}

std::string PathToUriReference(const std::string& sPath)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string sUri;
    for (char c : sPath)
    {
        const unsigned char b = static_cast<unsigned char>(c);
        if (c == '\\')
            sUri += '/';
        else if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                 std::string("-._~/:").find(c) != std::string::npos)
            sUri += c;
        else
        {
            sUri += '%';
            sUri += kHex[b >> 4];
            sUri += kHex[b & 15];
        }
    }
    return sUri;
}

namespace
{

nlohmann::json PhysicalLocation(const std::string& sFile, uint32_t nLine, uint32_t nColumn)
{
    nlohmann::json location = {{"artifactLocation", {{"uri", PathToUriReference(sFile)}}}};
    if (nLine)
        location["region"] = {{"startLine", nLine}, {"startColumn", nColumn}};
    return location;
}
} // namespace

std::string ToSarif(const std::vector<Diagnostic>& diags, const std::string& sVersion,
                    const std::vector<std::string>& modules)
{
    nlohmann::json rules = nlohmann::json::array();
    for (const DiagKindInfo& kind : DiagKinds())
    {
        const char* pszLevel = kind.eSeverity == Severity::Error     ? "error"
                               : kind.eSeverity == Severity::Warning ? "warning"
                                                                     : "note";
        rules.push_back({{"id", kind.pszCode},
                         {"shortDescription", {{"text", kind.pszMeaning}}},
                         {"fullDescription",
                          {{"text", std::string(kind.pszMeaning) + "; the packer " + kind.pszPacker + "."}}},
                         {"defaultConfiguration", {{"level", pszLevel}}}});
    }
    nlohmann::json results = nlohmann::json::array();
    for (const Diagnostic& diag : diags)
    {
        nlohmann::json result = {
            {"ruleId", diag.GetCode()},
            {"ruleIndex", static_cast<size_t>(diag.eCode)},
            {"level", SeverityName(diag.GetSeverity())},
            {"message", {{"text", diag.sMessage}}},
            {"locations",
             nlohmann::json::array(
                 {{{"physicalLocation", PhysicalLocation(diag.sFile, diag.nLine, diag.nColumn)}}})},
        };
        if (!diag.notes.empty())
        {
            nlohmann::json related = nlohmann::json::array();
            for (size_t i = 0; i < diag.notes.size(); ++i)
            {
                const DiagnosticNote& note = diag.notes[i];
                related.push_back(
                    {{"id", i},
                     {"physicalLocation", PhysicalLocation(diag.sFile, note.nLine, note.nColumn)},
                     {"message", {{"text", note.sMessage}}}});
            }
            result["relatedLocations"] = related;
        }
        results.push_back(result);
    }
    nlohmann::json log = {
        {"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
        {"version", "2.1.0"},
        {"runs", nlohmann::json::array({{
                     {"tool", {{"driver", {{"name", "fxcheck"}, {"version", sVersion}, {"rules", rules}}}}},
                     {"invocations", nlohmann::json::array({{{"executionSuccessful", true},
                                                             {"properties", {{"modules", modules}}}}})},
                     {"results", results},
                 }})},
    };
    AddJsonBytes(log);
    return Dump(log, 2);
}

std::string SummaryLine(size_t nErrors, size_t nWarnings, size_t nNotes, size_t nFiles,
                        const std::vector<std::string>& modules)
{
    auto count = [](size_t n, const char* pszWord)
    { return std::to_string(n) + " " + pszWord + (n == 1 ? "" : "s"); };
    std::string sModules;
    for (const std::string& sModule : modules)
        sModules += (sModules.empty() ? modules.size() == 1 ? " (module " : " (modules " : ", ") + sModule;
    if (!sModules.empty())
        sModules += ")";
    return count(nErrors, "error") + ", " + count(nWarnings, "warning") + " and " + count(nNotes, "note") +
           " in " + count(nFiles, "file") + sModules + ".";
}
