// The findings for an open document: its unsaved text checked in memory exactly as fxcheck checks a
// file, with the module that the packer's locator search finds from the document's folder.
#pragma once

#include "diagnostic.h"

#include <string>
#include <string_view>
#include <vector>

class CProjects;

// The findings for the bytes of the file sPath (empty for a document with no file path): its text,
// or its LZSS-compressed bytes when the name says so, with offsets into the text. sFile of every
// finding is sPath. pText, when given, receives the text the findings are about (the decompressed
// text of compressed bytes). Nothing of the check is kept once it returns.
std::vector<Diagnostic> CheckDocument(const std::string& sPath, std::string_view bytes, CProjects& projects,
                                      std::string* pText = nullptr);

// Reads the file's bytes as they are on disk; false with the reason in sWhy.
bool ReadFileBytes(const std::string& sPath, std::string& sBytes, std::string& sWhy);
