// Completion: the words the grammar and the module allow where the cursor stands.
#include "EffectFileLoader.h"
#include "requests.h"

#include "EffectModule.h"
#include "cursor.h"
#include "grammar.h"
#include "schema.h"
#include "valuetext.h"
#include "zqstrutils.h"

namespace
{
// Protocol completion item kinds.
constexpr int kKindProperty = 10;
constexpr int kKindKeyword = 14;
constexpr int kKindClass = 7;
constexpr int kKindEnumMember = 20;
constexpr int kKindReference = 18;
constexpr int kKindTypeParameter = 25;

struct Items
{
    const DocumentView& view;
    uint64_t nBegin, nEnd; // the word the choice replaces
    nlohmann::json list = nlohmann::json::array();

    void Add(const std::string& sLabel, int nKind, const std::string& sDetail,
             const std::string& sDoc = std::string())
    {
        nlohmann::json item = {{"label", sLabel},
                               {"kind", nKind},
                               {"detail", sDetail},
                               {"textEdit", {{"range", JsonRange(view, nBegin, nEnd)}, {"newText", sLabel}}},
                               {"sortText", std::to_string(100000 + list.size())}};
        if (!sDoc.empty())
            item["documentation"] = {{"kind", "markdown"}, {"value", sDoc}};
        list.push_back(item);
    }
};
} // namespace

nlohmann::json Completion(const DocumentView& view, size_t nOffset)
{
    const CSyntaxTree& tree = view.tree;
    const CursorContext context = ContextAt(tree, nOffset);
    Items items{view, nOffset, nOffset};
    if (context.nAtom != SyntaxNode::kNone)
    {
        const SyntaxNode word = tree.Node(context.nAtom);
        if (word.bQuoted)
            return nlohmann::json::array();
        items.nBegin = word.nBegin;
        items.nEnd = word.nEnd;
    }
    if (context.nList == 0)
        return items.list;
    const uint32_t nParent = tree.Node(context.nList).nParent;
    if (context.nIndex == 0)
    {
        // A list's name: the lists its parent holds.
        const std::string sParentName =
            nParent == 0 || nParent == SyntaxNode::kNone ? std::string() : tree.Name(nParent);
        for (const std::string& sName : ListsInside(sParentName, context.sTreeKind))
            items.Add(sName, kKindKeyword, ListDetail(sName));
        return items.list;
    }
    const EffectTypeDesc* pType = RecordType(tree, context.nRecord, view.pModule);
    if (context.nIndex == 1 && context.sList == "type" &&
        (context.sParent == "key" || context.sParent == "prefab"))
    {
        for (uint32_t i = 0; view.pModule && i < view.pModule->GetNumTypes(); ++i)
        {
            const EffectTypeDesc* pEntry = view.pModule->GetTypeDesc(i);
            if (pEntry)
                items.Add(TypeDescName(*pEntry), kKindClass,
                          "effect type, id " + std::to_string(pEntry->nTypeID) + ", " +
                              std::to_string(pEntry->nNumProps) + " properties",
                          DescribeType(*pEntry));
        }
    }
    else if (context.nIndex == 1 && context.sList == "type" && context.sParent == "property")
    {
        const EffectPropDesc* pDesc = PropertyDesc(tree, context.nProperty, pType);
        // The module's type first: it is the one that packs as written.
        if (pDesc)
            items.Add(ValueTypeName(*pDesc), kKindTypeParameter,
                      "the module's type of " + PropDescName(*pDesc));
        for (const EffectTypeName& entry : kEffectTypeNames)
        {
            if (!pDesc || entry.eType != pDesc->eType)
                items.Add(entry.pszName, kKindTypeParameter, "value type");
        }
    }
    else if (context.nIndex == 1 && context.sList == "name" && context.sParent == "property" && pType)
    {
        for (uint32_t i = 0; pType->pProps && i < pType->nNumProps; ++i)
            items.Add(PropDescName(pType->pProps[i]), kKindProperty, PropSummary(pType->pProps[i]),
                      DescribeProperty(*pType, pType->pProps[i]));
    }
    else if (context.nIndex == 1 && context.sList == "parent" && context.sParent == "key")
    {
        // Prefabs of the key's own type first: only those are inherited from.
        const uint32_t nKeyType = tree.FindValue(context.nRecord, "type");
        const std::string sKeyType = nKeyType == SyntaxNode::kNone ? std::string() : tree.Value(nKeyType);
        std::vector<std::pair<std::string, std::string>> same, other;
        std::vector<uint32_t> pending;
        const uint32_t nPrefabTree = tree.FindList(0, "prefab-tree");
        if (nPrefabTree != SyntaxNode::kNone)
            pending.push_back(nPrefabTree);
        while (!pending.empty())
        {
            const uint32_t nList = pending.back();
            pending.pop_back();
            for (uint32_t c = tree.Child(nList, 1); c != SyntaxNode::kNone; c = tree.Node(c).nNextSibling)
            {
                const std::string sKind = tree.Name(c);
                if (sKind == "container")
                {
                    const uint32_t nChildren = tree.FindList(c, "children");
                    if (nChildren != SyntaxNode::kNone)
                        pending.push_back(nChildren);
                    continue;
                }
                if (sKind != "prefab")
                    continue;
                const uint32_t nName = tree.FindValue(c, "name");
                const uint32_t nType = tree.FindValue(c, "type");
                if (nName == SyntaxNode::kNone)
                    continue;
                const std::string sType = nType == SyntaxNode::kNone ? std::string() : tree.Value(nType);
                (ZQStrICmp(sType.c_str(), sKeyType.c_str()) == 0 ? same : other)
                    .emplace_back(tree.Value(nName), "prefab of type " + sType);
            }
        }
        for (const auto& entry : same)
            items.Add(entry.first, kKindReference, entry.second);
        for (const auto& entry : other)
            items.Add(entry.first, kKindReference, entry.second + " (not inherited: another type)");
    }
    else if (context.sList == "data" && context.sParent == "value")
    {
        const EffectPropDesc* pDesc = PropertyDesc(tree, context.nProperty, pType);
        if (pDesc && pDesc->eType == ePT_Enum && context.nIndex == 1)
        {
            const std::vector<std::string> choices = EnumChoices(*pDesc);
            for (size_t i = 0; i < choices.size(); ++i)
                items.Add(choices[i], kKindEnumMember,
                          "choice " + std::to_string(i) + " of " + PropDescName(*pDesc));
        }
    }
    return items.list;
}
