// The extension of a file name: the text after the last '.' of the last path component. Both
// '/' and '\\' end a path component.
#pragma once

#include <cstdint>
#include <string>

// Index of the extension's first character in pszPath, or -1 when the last path component has no
// '.' (or pszPath is null). For a name ending in '.' the index is that of the terminator.
int32_t FindExtension(const char* pszPath);

// Replaces the extension of sName by pszExt (given without the dot), or appends '.' and pszExt
// when sName has none. Always true.
bool SetExtension(std::string& sName, const char* pszExt);

// True for the names the effect packer claims: extension "Fx00a" (text) or "Fx00c" (compressed
// text), in any letter case. The tools that find effect sources in folders use the same rule.
bool IsEffectSourceName(const char* pszPath);
// The same, as the predicate of the tools' folder searches.
inline bool IsEffectSourcePath(const std::string& sPath)
{
    return IsEffectSourceName(sPath.c_str());
}
