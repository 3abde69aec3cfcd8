// Text from files as one CSV field (RFC 4180) that a spreadsheet shows as text: escaped as Printable
// escapes it (no control byte, no line break), a text that starts with = + - @ TAB or CR gets a
// leading ' so that no spreadsheet evaluates it as a formula (the OWASP rule for CSV injection), and
// a field holding a comma or a quote is quoted, its quotes doubled.
#pragma once

#include <cstddef>
#include <string>

std::string CsvField(const std::string& sText);

// The same in pieces, for texts too long to hold: bQuoted (decided beforehand with CsvNeedsQuotes
// over all pieces) must be the same for every piece of one field.
bool CsvNeedsQuotes(const char* p, size_t n);
class CCsvFieldWriter
{
public:
    explicit CCsvFieldWriter(bool bQuoted) : m_bQuoted(bQuoted) {}
    // Takes what it can of a piece; the count of bytes taken (the rest comes again, see
    // AppendPrintable).
    size_t Feed(std::string& sOut, const char* p, size_t n, bool bLast);
    void Finish(std::string& sOut);

private:
    std::string m_sPiece;
    bool m_bQuoted;
    bool m_bStarted = false;
};
