#include "grammar.h"

#include <cstring>

namespace
{
struct ListShape
{
    const char* pszName;
    std::vector<std::string> lists;
    const char* pszDetail;
};

const std::vector<ListShape>& Shapes()
{
    static const std::vector<ListShape> s_shapes = {
        {"", {"header", "prefab-tree", "effect-tree"}, "the file"},
        {"header", {"version"}, "the file's header: (version 1)"},
        {"version", {}, "the file format version: 1"},
        {"prefab-tree", {"container", "prefab"}, "prefabs and containers of prefabs"},
        {"effect-tree", {"container", "effect"}, "effects and containers of effects"},
        {"container", {"name", "children"}, "a named group of prefabs or effects"},
        {"children", {}, "what a container holds"},
        {"prefab", {"name", "type", "properties"}, "a named set of property values keys inherit"},
        {"effect", {"name", "length", "key-list"}, "an effect: name, length in ms, keys"},
        {"key-list", {"key"}, "the keys of an effect"},
        {"key",
         {"name", "type", "id", "start-time", "end-time", "track", "parent", "motion-link", "properties"},
         "a timed instance of an effect type"},
        {"motion-link", {"id"}, "the id of the key this key's motion follows"},
        {"properties", {"property"}, "property values"},
        {"property", {"name", "type", "value-list"}, "one property: name, value type, values"},
        {"value-list", {"value"}, "the values of a property"},
        {"value", {"time", "data"}, "one value: time (0 to 1 along a curve) and data"},
        {"data", {}, "the value's elements"},
        {"name", {}, "a name"},
        {"type", {}, "an effect type, or a property's value type"},
        {"length", {}, "the effect's length in milliseconds"},
        {"id", {}, "an integer id"},
        {"start-time", {}, "start in milliseconds from the effect's start"},
        {"end-time", {}, "end in milliseconds from the effect's start"},
        {"track", {}, "the 0-based track number"},
        {"parent", {}, "the prefab this key inherits from"},
        {"time", {}, "the value's time: 0 to 1 along the key's lifetime"},
    };
    return s_shapes;
}

const ListShape* FindShape(const std::string& sName)
{
    for (const ListShape& shape : Shapes())
    {
        if (sName == shape.pszName)
            return &shape;
    }
    return nullptr;
}
} // namespace

std::vector<std::string> ListsInside(const std::string& sParent, const std::string& sTreeKind)
{
    if (sParent == "children")
        return sTreeKind == "prefab-tree" ? std::vector<std::string>{"container", "prefab"}
                                          : std::vector<std::string>{"container", "effect"};
    const ListShape* pShape = FindShape(sParent);
    return pShape ? pShape->lists : std::vector<std::string>();
}

const char* ListDetail(const std::string& sName)
{
    const ListShape* pShape = FindShape(sName);
    return pShape ? pShape->pszDetail : "";
}
