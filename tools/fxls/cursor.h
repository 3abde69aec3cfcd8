// Where in the grammar a place of the text lies: the list it stands in, the list's name and its
// parent's, the key or prefab and the property around it.
#pragma once

#include "syntax.h"

#include <string>

class CEffectModule;
struct EffectTypeDesc;
struct EffectPropDesc;

struct CursorContext
{
    uint32_t nAtom = SyntaxNode::kNone;     // the atom the place lies in or at the end of
    uint32_t nList = 0;                     // the list the place stands in directly
    uint32_t nIndex = 0;                    // the element index of the atom, or of a word typed there
    std::string sList;                      // nList's name ("" for the file)
    std::string sParent;                    // the name of nList's parent list
    std::string sTreeKind;                  // "prefab-tree", "effect-tree" or ""
    uint32_t nRecord = SyntaxNode::kNone;   // the innermost key or prefab around the place
    uint32_t nProperty = SyntaxNode::kNone; // the innermost property around the place
};

CursorContext ContextAt(const CSyntaxTree& tree, size_t nOffset);
// The effect type of a key or prefab list; null without a module or type.
const EffectTypeDesc* RecordType(const CSyntaxTree& tree, uint32_t nRecord, const CEffectModule* pModule);
// The description of a property list inside a record of that type; null when unknown.
const EffectPropDesc* PropertyDesc(const CSyntaxTree& tree, uint32_t nProperty, const EffectTypeDesc* pType);
// The first prefab of the file named sName ignoring case, as the loader finds it (depth-first
// through containers); kNone when none.
uint32_t FindPrefabNode(const CSyntaxTree& tree, const std::string& sName);
