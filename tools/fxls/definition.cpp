// Go to definition: from a key's parent to the prefab it names.
#include "requests.h"

#include "cursor.h"

nlohmann::json Definition(const DocumentView& view, size_t nOffset)
{
    const CursorContext context = ContextAt(view.tree, nOffset);
    if (context.nAtom == SyntaxNode::kNone || context.nIndex != 1 || context.sList != "parent" ||
        context.sParent != "key")
        return nullptr;
    const uint32_t nPrefab = FindPrefabNode(view.tree, view.tree.Value(context.nAtom));
    if (nPrefab == SyntaxNode::kNone)
        return nullptr;
    const uint32_t nName = view.tree.FindValue(nPrefab, "name");
    const SyntaxNode target = view.tree.Node(nName == SyntaxNode::kNone ? nPrefab : nName);
    return {{"uri", view.doc.Uri()}, {"range", JsonRange(view, target.nBegin, target.nEnd)}};
}
