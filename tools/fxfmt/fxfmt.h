// The fxfmt program's own parts: reading and writing sources (plain, compressed, standard input)
// and the unified diff. The layout itself is the library's (format.h).
#pragma once

#include <string>

namespace fxfmt
{
// Reads a source as the packer does: LZSS-compressed when bCompressed, else plain. False with the
// reason (without the path) in sError.
bool ReadSource(const std::string& sPath, bool bCompressed, std::string& sText, std::string& sError);
// Reads all of standard input, byte for byte.
bool ReadStandardInput(std::string& sText, std::string& sError);
// Replaces the file's contents with sText, compressed when bCompressed: written to a temporary
// file beside it and renamed over it once complete, so that the file is either as it was or
// whole. False with the reason in sError; nInterrupt is the exit status of an interrupt caught
// before the rename (the file is then as it was), else 0.
bool ReplaceSource(const std::string& sPath, bool bCompressed, const std::string& sText, std::string& sError,
                   int& nInterrupt);

// The unified diff (three lines of context) that turns sOld into sNew, with the headers
// "--- a/NAME" and "+++ b/NAME"; empty when they are equal.
std::string UnifiedDiff(const std::string& sOld, const std::string& sNew, const std::string& sName);
} // namespace fxfmt
