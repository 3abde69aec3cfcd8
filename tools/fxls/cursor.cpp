#include "cursor.h"

#include "EffectModule.h"
#include "schema.h"
#include "zqstrutils.h"

CursorContext ContextAt(const CSyntaxTree& tree, size_t nOffset)
{
    CursorContext context;
    uint32_t nAt = tree.At(nOffset);
    if (!tree.Node(nAt).bList)
    {
        context.nAtom = nAt;
        nAt = tree.Node(nAt).nParent;
    }
    context.nList = nAt;
    // The element index: the atom's, or the count of elements that end before the place.
    uint32_t nIndex = 0;
    for (uint32_t c = tree.Node(nAt).nFirstChild; c != SyntaxNode::kNone; c = tree.Node(c).nNextSibling)
    {
        if (c == context.nAtom || tree.Node(c).nBegin >= nOffset)
            break;
        ++nIndex;
    }
    context.nIndex = nIndex;
    context.sList = nAt == 0 ? std::string() : tree.Name(nAt);
    const uint32_t nParent = tree.Node(nAt).nParent;
    context.sParent = nParent == SyntaxNode::kNone || nParent == 0 ? std::string() : tree.Name(nParent);
    for (uint32_t n = nAt; n != SyntaxNode::kNone && n != 0; n = tree.Node(n).nParent)
    {
        const std::string sName = tree.Name(n);
        if ((sName == "key" || sName == "prefab") && context.nRecord == SyntaxNode::kNone)
            context.nRecord = n;
        if (sName == "property" && context.nProperty == SyntaxNode::kNone)
            context.nProperty = n;
        if ((sName == "prefab-tree" || sName == "effect-tree") && tree.Node(n).nParent == 0)
            context.sTreeKind = sName;
    }
    return context;
}

const EffectTypeDesc* RecordType(const CSyntaxTree& tree, uint32_t nRecord, const CEffectModule* pModule)
{
    if (!pModule || nRecord == SyntaxNode::kNone)
        return nullptr;
    const uint32_t nType = tree.FindValue(nRecord, "type");
    return nType == SyntaxNode::kNone ? nullptr : pModule->FindTypeDesc(tree.Value(nType).c_str());
}

const EffectPropDesc* PropertyDesc(const CSyntaxTree& tree, uint32_t nProperty, const EffectTypeDesc* pType)
{
    if (!pType || nProperty == SyntaxNode::kNone)
        return nullptr;
    const uint32_t nName = tree.FindValue(nProperty, "name");
    return nName == SyntaxNode::kNone ? nullptr : FindPropDesc(*pType, tree.Value(nName));
}

namespace
{
uint32_t FindPrefabIn(const CSyntaxTree& tree, uint32_t nList, const std::string& sName, bool bFirstIsName,
                      size_t nDepth)
{
    if (nDepth > 1024)
        return SyntaxNode::kNone; // deeper than the reader reads
    for (uint32_t c = tree.Node(nList).nFirstChild; c != SyntaxNode::kNone; c = tree.Node(c).nNextSibling)
    {
        if (bFirstIsName && c == tree.Node(nList).nFirstChild)
            continue;
        const std::string sKind = tree.Name(c);
        if (sKind == "prefab")
        {
            const uint32_t nName = tree.FindValue(c, "name");
            if (nName != SyntaxNode::kNone && ZQStrICmp(tree.Value(nName).c_str(), sName.c_str()) == 0)
                return c;
        }
        else if (sKind == "container")
        {
            const uint32_t nChildren = tree.FindList(c, "children");
            if (nChildren != SyntaxNode::kNone)
            {
                const uint32_t nFound = FindPrefabIn(tree, nChildren, sName, true, nDepth + 1);
                if (nFound != SyntaxNode::kNone)
                    return nFound;
            }
        }
    }
    return SyntaxNode::kNone;
}
} // namespace

uint32_t FindPrefabNode(const CSyntaxTree& tree, const std::string& sName)
{
    const uint32_t nTree = tree.FindList(0, "prefab-tree");
    return nTree == SyntaxNode::kNone ? SyntaxNode::kNone : FindPrefabIn(tree, nTree, sName, true, 0);
}
