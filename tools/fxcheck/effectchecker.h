// Walks fxcheck's position-carrying tree of an effect source the way the packer's loader walks its
// own tree, and reports, at the construct concerned, every place where the loader fails, and every
// place where it accepts the file but changes or drops what was written.
#pragma once

#include "diagnostic.h"
#include "sourcetext.h"

#include <string>
#include <vector>

class CEffectModule;

// Checks one source against a loaded effect module; appends the findings (offsets only: the caller
// locates them with the source text).
// pBudget, when given, bounds the findings of each code.
void CheckEffectSource(const std::string& sFile, const CSourceText& text, const CEffectModule& module,
                       std::vector<Diagnostic>& diags, CFindingBudget* pBudget = nullptr);
