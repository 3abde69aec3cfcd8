// Maps the name of a source resource to the name of its packed form, by extension.
#pragma once

#include <cstddef>

// Copies pszSource into pszOut (nOutSize bytes, cut with a truncation report when too long) and
// replaces its extension where the resource table gives a packed one. True when the extension is a
// known resource type; pszOut holds the (possibly unchanged) name either way.
bool GetPackedResourceName(const char* pszSource, char* pszOut, size_t nOutSize);
