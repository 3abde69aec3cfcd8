// The outline: prefabs and effects (inside their containers), keys, properties.
#include "requests.h"

namespace
{
// Protocol symbol kinds.
constexpr int kNamespace = 3;
constexpr int kClass = 5;
constexpr int kProperty = 7;
constexpr int kObject = 19;
constexpr int kEvent = 24;
// Containers nested deeper than this are left out of the outline (the reader refuses 1023 levels).
constexpr size_t kMaxDepth = 1024;

class CSymbols
{
public:
    explicit CSymbols(const DocumentView& view) : m_view(view), m_tree(view.tree) {}

    nlohmann::json Tree(uint32_t nList, bool bSkipName, size_t nDepth = 0)
    {
        nlohmann::json list = nlohmann::json::array();
        if (nDepth > kMaxDepth)
            return list;
        for (uint32_t c = m_tree.Node(nList).nFirstChild; c != SyntaxNode::kNone;
             c = m_tree.Node(c).nNextSibling)
        {
            if (bSkipName && c == m_tree.Node(nList).nFirstChild)
                continue;
            const std::string sKind = m_tree.Name(c);
            if (sKind == "container")
            {
                const uint32_t nChildren = m_tree.FindList(c, "children");
                list.push_back(Symbol(c, Value(c, "name"), kNamespace, "container",
                                      nChildren == SyntaxNode::kNone ? nlohmann::json::array()
                                                                     : Tree(nChildren, true, nDepth + 1)));
            }
            else if (sKind == "prefab")
                list.push_back(Symbol(c, Value(c, "name"), kClass, Value(c, "type"), Properties(c)));
            else if (sKind == "effect")
            {
                nlohmann::json keys = nlohmann::json::array();
                const uint32_t nKeys = m_tree.FindList(c, "key-list");
                for (uint32_t k = nKeys == SyntaxNode::kNone ? SyntaxNode::kNone : m_tree.Child(nKeys, 1);
                     k != SyntaxNode::kNone; k = m_tree.Node(k).nNextSibling)
                {
                    if (m_tree.Name(k) != "key")
                        continue;
                    const std::string sName = Value(k, "name");
                    const std::string sType = Value(k, "type");
                    const std::string sLabel = (sName.empty() ? sType : sName + " (" + sType + ")");
                    const std::string sDetail = "id " + Value(k, "id") + ", track " + Value(k, "track") +
                                                ", " + Value(k, "start-time") + " to " +
                                                Value(k, "end-time") + " ms";
                    keys.push_back(Symbol(k, sLabel, kObject, sDetail, Properties(k)));
                }
                list.push_back(Symbol(c, Value(c, "name"), kEvent, Value(c, "length") + " ms", keys));
            }
        }
        return list;
    }

private:
    std::string Value(uint32_t nList, const char* pszName) const
    {
        const uint32_t n = m_tree.FindValue(nList, pszName);
        return n == SyntaxNode::kNone ? std::string() : m_tree.Value(n);
    }

    nlohmann::json Properties(uint32_t nRecord)
    {
        nlohmann::json list = nlohmann::json::array();
        const uint32_t nProperties = m_tree.FindList(nRecord, "properties");
        for (uint32_t p = nProperties == SyntaxNode::kNone ? SyntaxNode::kNone : m_tree.Child(nProperties, 1);
             p != SyntaxNode::kNone; p = m_tree.Node(p).nNextSibling)
        {
            if (m_tree.Name(p) == "property")
                list.push_back(
                    Symbol(p, Value(p, "name"), kProperty, Value(p, "type"), nlohmann::json::array()));
        }
        return list;
    }

    nlohmann::json Symbol(uint32_t nList, const std::string& sName, int nKind, const std::string& sDetail,
                          nlohmann::json children)
    {
        const SyntaxNode node = m_tree.Node(nList);
        const uint32_t nNameList = m_tree.FindList(nList, "name");
        const SyntaxNode select = m_tree.Node(nNameList == SyntaxNode::kNone ? nList : nNameList);
        nlohmann::json symbol = {{"name", sName.empty() ? std::string("(unnamed)") : sName},
                                 {"kind", nKind},
                                 {"range", JsonRange(m_view, node.nBegin, node.nEnd)},
                                 {"selectionRange", JsonRange(m_view, select.nBegin, select.nEnd)},
                                 {"children", std::move(children)}};
        if (!sDetail.empty())
            symbol["detail"] = sDetail;
        return symbol;
    }

    const DocumentView& m_view;
    const CSyntaxTree& m_tree;
};
} // namespace

nlohmann::json DocumentSymbols(const DocumentView& view)
{
    CSymbols symbols(view);
    nlohmann::json list = nlohmann::json::array();
    for (const char* pszTree : {"prefab-tree", "effect-tree"})
    {
        const uint32_t nTree = view.tree.FindList(0, pszTree);
        if (nTree == SyntaxNode::kNone)
            continue;
        for (nlohmann::json& symbol : symbols.Tree(nTree, true))
            list.push_back(std::move(symbol));
    }
    return list;
}
