// The lists of an effect source as the loader reads them: which lists each list holds, for
// completion and for the outline.
#pragma once

#include <string>
#include <vector>

// The list names valid directly inside a list of name sParent ("" for the file itself); empty when
// the loader reads no list there. sTreeKind, "prefab-tree" or "effect-tree", tells what the
// "children" of a container hold.
std::vector<std::string> ListsInside(const std::string& sParent, const std::string& sTreeKind);
// What a list of that name holds, one line, for completion details.
const char* ListDetail(const std::string& sName);
