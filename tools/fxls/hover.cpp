// Hover: what the module and the loader make of the word under the cursor.
#include "requests.h"

#include "EffectModule.h"
#include "cursor.h"
#include "grammar.h"
#include "schema.h"
#include "valuetext.h"
#include "zqstrutils.h"

namespace
{
nlohmann::json Markdown(const DocumentView& view, const SyntaxNode& word, const std::string& sText)
{
    return {{"contents", {{"kind", "markdown"}, {"value", sText}}},
            {"range", JsonRange(view, word.nBegin, word.nEnd)}};
}

std::string NoModule(const DocumentView& view)
{
    return view.pModule ? std::string() : "\n\n*(no effect module: no project locator governs this file)*";
}
} // namespace

nlohmann::json Hover(const DocumentView& view, size_t nOffset)
{
    const CSyntaxTree& tree = view.tree;
    const CursorContext context = ContextAt(tree, nOffset);
    if (context.nAtom == SyntaxNode::kNone)
        return nullptr;
    const SyntaxNode word = tree.Node(context.nAtom);
    const std::string sWord = tree.Value(context.nAtom);
    if (context.nIndex == 0 && context.nList != 0)
    {
        const char* pszDetail = ListDetail(sWord);
        if (!*pszDetail)
            return nullptr;
        return Markdown(view, word, "`(" + sWord + " …)` — " + pszDetail);
    }
    const EffectTypeDesc* pType = RecordType(tree, context.nRecord, view.pModule);
    if (context.sList == "type" && context.nIndex == 1 &&
        (context.sParent == "key" || context.sParent == "prefab"))
    {
        if (!view.pModule)
            return Markdown(view, word, "effect type `" + sWord + "`" + NoModule(view));
        const EffectTypeDesc* pNamed = view.pModule->FindTypeDesc(sWord.c_str());
        return Markdown(view, word, pNamed ? DescribeType(*pNamed) : "unknown effect type `" + sWord + "`");
    }
    if (context.sList == "type" && context.nIndex == 1 && context.sParent == "property")
    {
        std::string sText = "value type `" + sWord + "`";
        if (const EffectPropDesc* pDesc = PropertyDesc(tree, context.nProperty, pType))
            sText += "; the module's type of " + PropDescName(*pDesc) + " is " + ValueTypeName(*pDesc);
        return Markdown(view, word, sText + NoModule(view));
    }
    if (context.sList == "name" && context.nIndex == 1 && context.sParent == "property")
    {
        if (!pType)
            return Markdown(view, word, "property `" + sWord + "`" + NoModule(view));
        const EffectPropDesc* pDesc = FindPropDesc(*pType, sWord);
        return Markdown(view, word,
                        pDesc
                            ? DescribeProperty(*pType, *pDesc)
                            : TypeDescName(*pType) + " has no property `" + sWord + "`: the packer skips it");
    }
    if (context.sList == "parent" && context.nIndex == 1 && context.sParent == "key")
    {
        const uint32_t nPrefab = FindPrefabNode(tree, sWord);
        if (nPrefab == SyntaxNode::kNone)
            return Markdown(view, word, "no prefab `" + sWord + "` in this file");
        const uint32_t nType = tree.FindValue(nPrefab, "type");
        const uint32_t nLine =
            view.doc.Position(static_cast<size_t>(tree.Node(nPrefab).nBegin), view.eEncoding).nLine;
        return Markdown(view, word,
                        "prefab `" + sWord + "`" +
                            (nType != SyntaxNode::kNone ? " of type " + tree.Value(nType) : "") +
                            ", defined at line " + std::to_string(nLine + 1));
    }
    if (context.sList == "data" && context.sParent == "value" && context.nIndex >= 1)
    {
        const EffectPropDesc* pDesc = PropertyDesc(tree, context.nProperty, pType);
        if (!pDesc)
            return nullptr;
        const uint32_t nFileType = tree.FindValue(context.nProperty, "type");
        std::vector<std::string> atoms;
        for (uint32_t c = tree.Child(context.nList, 1); c != SyntaxNode::kNone && !tree.Node(c).bList;
             c = tree.Node(c).nNextSibling)
            atoms.push_back(tree.Value(c));
        std::string sText = "**" + PropDescName(*pDesc) + "**: " + PropSummary(*pDesc);
        if (pDesc->eType == ePT_Enum)
        {
            const std::vector<std::string> choices = EnumChoices(*pDesc);
            int nIndex = -1;
            for (size_t i = 0; i < choices.size() && nIndex < 0; ++i)
            {
                if (ZQStrICmp(choices[i].c_str(), sWord.c_str()) == 0)
                    nIndex = static_cast<int>(i);
            }
            sText += nIndex >= 0 ? "\n\n`" + sWord + "` is choice " + std::to_string(nIndex) + "; the others:"
                                 : "\n\nthe choices:";
            for (size_t i = 0; i < choices.size(); ++i)
            {
                if (static_cast<int>(i) != nIndex)
                    sText += " `" + choices[i] + "`";
            }
        }
        const std::string sNote =
            PackedNote(*pDesc, nFileType == SyntaxNode::kNone ? std::string() : tree.Value(nFileType), atoms);
        if (!sNote.empty())
            sText += "\n\nThe packer: " + sNote + ".";
        return Markdown(view, word, sText);
    }
    return nullptr;
}
