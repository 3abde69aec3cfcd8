// The checker's cases: small sources, each with the findings fxcheck gives for it (line, column,
// code) against the sample effect module. Shared by the checker's tests and the language server's.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace fxcheck_cases
{
constexpr const char* kHeader = "(header (version 1))\n";

// A key of the sample module's Sprite type on track 0, with the given extra lists.
inline std::string Key(const std::string& sExtra)
{
    return "(key (name K) (type Sprite) (id 1) (track 0) (start-time 0) (end-time 1000)" + sExtra + ")";
}

inline std::string Effect(const std::string& sKeys)
{
    return "(effect-tree (effect (name E) (length 1000) (key-list " + sKeys + ")))\n";
}

inline std::string Property(const std::string& sName, const std::string& sType, const std::string& sData)
{
    return "(properties (property (name " + sName + ") (type " + sType +
           ") (value-list (value (time 0) (data " + sData + ")))))";
}

using Finding = std::tuple<uint32_t, uint32_t, std::string>; // line, column, code

struct Case
{
    const char* pszName;
    std::string sText;
    std::set<Finding> expected;
};

inline std::vector<Case> Cases()
{
    const std::string h = kHeader;
    return {
        {"clean", h + Effect(Key(Property("Size", "Float", "2"))), {}},
        {"missing track",
         h + "(effect-tree (effect (name E) (length 1000) (key-list\n"
             "  (key (type Sprite) (id 1) (start-time 0) (end-time 10)))))",
         {{3, 3, "missing-value"}}},
        {"unknown type",
         h + Effect("(key (type Sprit) (id 1) (track 0) (start-time 0) (end-time 10))"),
         {{2, 66, "unknown-type"}}},
        {"unknown prefab", h + Effect(Key("(parent P)")), {{2, 138, "unknown-prefab"}}},
        {"bad version", "(header (version 2))\n" + Effect(Key("")), {{1, 18, "bad-version"}}},
        {"no effect tree", h, {{1, 1, "no-effect-tree"}}},
        {"track too large",
         h + Effect("(key (type Sprite) (id 1) (track -1) (start-time 0) (end-time 10))"),
         {{2, 88, "track-too-large"}}},
        {"unknown property", h + Effect(Key(Property("Sise", "Float", "2"))), {{2, 158, "unknown-property"}}},
        {"unknown property type",
         h + Effect(Key(Property("Size", "Flaot", "2"))),
         {{2, 170, "unknown-property-type"}}},
        {"type mismatch", h + Effect(Key(Property("Size", "Int", "2"))), {{2, 170, "type-mismatch"}}},
        {"clamped and wrapped",
         h + Effect(Key(Property("FrameCount", "Int", "99999999999"))),
         {{2, 215, "int-wrapped"}, {2, 215, "value-clamped"}}},
        {"colour", h + Effect(Key(Property("Color", "Color", "1 2 256 4"))), {{2, 216, "color-wrapped"}}},
        {"numbers",
         h + Effect(Key(Property("Size", "Float", "1e99x"))),
         {{2, 211, "not-finite"}, {2, 211, "trailing-text"}}},
        {"not a number", h + Effect(Key(Property("Size", "Float", "big"))), {{2, 211, "not-a-number"}}},
        {"enum", h + Effect(Key(Property("BlendMode", "Enum", "Opaq"))), {{2, 215, "enum-invalid"}}},
        {"ignored and duplicate lists",
         h + "(effect-tree (effect (name E) (length 1000) (keylist) (name F)))",
         {{2, 45, "ignored-list"}, {2, 55, "duplicate-list"}}},
        {"extra element", h + Effect(Key(Property("Size", "Float", "1 2"))), {{2, 213, "extra-element"}}},
        {"skipped value", h + Effect(Key(Property("Offset", "Vector", "1 2"))), {{2, 208, "value-skipped"}}},
        {"dropped value",
         h + Effect(Key("(properties (property (name FrameRate) (type Float) (value-list (value (time 0.5) "
                        "(data 1)) (value (time 0.2) (data 2)))))")),
         {{2, 194, "value-dropped"}}},
        {"dropped value out of range",
         h + Effect(Key("(properties (property (name FrameRate) (type Float) (value-list (value (time 0.5) "
                        "(data 500)) (value (time 0.2) (data 2)))))")),
         {{2, 194, "value-dropped"}, {2, 218, "value-clamped"}}},
        {"curve times",
         h + Effect(
                 Key("(properties (property (name Size) (type Float) (value-list (value (time 0.2) (data 1)) "
                     "(value (time 0.8) (data 2)))))")),
         {{2, 202, "curve-time-moved"}, {2, 230, "curve-time-moved"}}},
        {"no value",
         h + Effect("(key (type Marker) (id 1) (track 0) (start-time 0) (end-time 1000) (properties "
                    "(property (name Comment) (type String) (value-list (value (time 0) (data x))))))"),
         {{2, 165, "value-not-packed"}}},
        {"prefab type",
         h + "(prefab-tree (prefab (name P) (type Light)))\n" + Effect(Key("(parent P)")),
         {{3, 138, "prefab-type-mismatch"}}},
        {"times",
         h + Effect("(key (type Sprite) (id 1) (track 0) (start-time 900) (end-time 1200))"),
         {{2, 118, "key-outside-effect"}}},
        {"order and fit",
         h + Effect("(key (type Sprite) (id 1) (track 0) (start-time 0) (end-time 500))\n"
                    "(key (type Sprite) (id 2) (track 0) (start-time 700) (end-time 300))\n"
                    "(key (type Sprite) (id 3) (track 0) (start-time 200) (end-time 900))"),
         {{3, 49, "time-order"}, {4, 49, "key-moved"}}},
        {"long texts",
         h + "(effect-tree (effect (name " + std::string(130, 'n') + ") (length 1000)))",
         {{2, 28, "text-truncated"}}},
        {"texts that just fit",
         h + "(effect-tree (effect (name " + std::string(127, 'n') + ") (length 1000) (key-list " +
             Key(Property("Texture", "Filename", std::string(255, 't'))) + ")))",
         {}},
        {"value one byte too long",
         h + Effect(Key(Property("Texture", "Filename", std::string(256, 't')))),
         {{2, 217, "text-truncated"}}},
        {"duplicate effects",
         h + "(effect-tree (effect (name E) (length 1))\n(effect (name E) (length 1)))",
         {{3, 15, "duplicate-effect"}}},
        {"parentheses",
         ")" + h + "(effect-tree (effect (name E) (length 1)",
         {{1, 1, "unmatched-paren"}, {2, 1, "unclosed-list"}, {2, 14, "unclosed-list"}}},
        {"long token",
         h + Effect("") + std::string(1100, 'w') + "\n",
         {{3, 1, "token-truncated"}, {3, 1, "ignored-list"}}},
        {"open string", h + Effect("") + "\"open", {{3, 1, "unclosed-string"}, {3, 1, "ignored-list"}}},
    };
}
} // namespace fxcheck_cases
