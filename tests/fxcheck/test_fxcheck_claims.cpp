// What fxcheck says the packer does, against what the packer does. Every finding that states an
// outcome ("packed as 1000", "wraps to 5", "is ignored", "is not used by any key" ...) is turned into
// an edit of the source that makes that outcome explicit: the ignored element removed, the value
// replaced by the one the finding says is packed. The real zqpack packs the source and each edit; a
// claim holds when both pack to the same bytes and the edit needs no such finding itself. A key's
// new times ("start 10 becomes 20") are looked up in fxdump's JSON of the packed file. Over the
// checker's cases, the demo, the examples and seeded generated sources that provoke those findings.
#include "EffectModule.h"
#include "FileExtension.h"
#include "filecheck.h"
#include "fxcheck_cases.h"
#include "test_support.h"
#include "zqautil.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include <map>
#include <random>
#include <regex>
#include <sstream>

using namespace fxcheck_cases;

namespace
{
struct Span
{
    uint64_t nStart = 0, nEnd = 0; // [nStart, nEnd) in the text
};

struct Edit
{
    Span span;
    std::string sWith;
};

// The packer's tree of a source with every node's span and parent.
class CTreeIndex
{
public:
    explicit CTreeIndex(const std::string& sText) : m_sText(sText)
    {
        std::vector<Diagnostic> ignored;
        EXPECT_TRUE(m_Source.LoadBytes("index.Fx00a", sText, ignored));
        Walk(&m_Source.Root(), nullptr);
    }

    const CZQANode* At(uint64_t nOffset) const
    {
        const auto found = m_byOffset.find(nOffset);
        return found == m_byOffset.end() ? nullptr : found->second;
    }
    const CZQANode* Parent(const CZQANode* pNode) const
    {
        const auto found = m_parents.find(pNode);
        return found == m_parents.end() ? nullptr : found->second;
    }
    // The node itself or its nearest enclosing list named pszName.
    const CZQANode* Enclosing(const CZQANode* pNode, const char* pszName) const
    {
        while (pNode && !IsNamed(pNode, pszName))
            pNode = Parent(pNode);
        return pNode;
    }
    Span SpanOf(const CZQANode* pNode) const { return m_spans.at(pNode); }
    const CZQANode& Root() const { return m_Source.Root(); }

private:
    uint64_t Walk(const CZQANode* pNode, const CZQANode* pParent)
    {
        const bool bRoot = pParent == nullptr;
        const uint64_t nStart = bRoot ? 0 : m_Source.Offset(pNode);
        uint64_t nEnd = nStart + m_Source.Length(pNode);
        if (pNode->IsList())
        {
            for (uint32_t i = 0; i < pNode->GetNumElements(); ++i)
                nEnd = Walk(pNode->GetElement(i), pNode);
            if (!bRoot)
            {
                // Past the last element: blanks, then the closing parenthesis (none when unclosed).
                while (nEnd < m_sText.size() && std::strchr(" \t\r\n", m_sText[nEnd]))
                    ++nEnd;
                nEnd += nEnd < m_sText.size() && m_sText[nEnd] == ')';
            }
        }
        if (!bRoot)
        {
            m_parents[pNode] = pParent;
            m_byOffset[nStart] = pNode;
        }
        m_spans[pNode] = {nStart, nEnd};
        return nEnd;
    }

    const std::string& m_sText;
    CSourceText m_Source;
    std::map<const CZQANode*, const CZQANode*> m_parents;
    std::map<const CZQANode*, Span> m_spans;
    std::map<uint64_t, const CZQANode*> m_byOffset;
};

// The atom after the name of the first pszName list, or null.
const CZQANode* ValueOf(const CZQANode* pList, const char* pszName)
{
    const CZQANode* pFound = FindList(pList, pszName);
    return pFound && pFound->GetNumElements() > 1 && pFound->GetElement(1)->IsAtom() ? pFound->GetElement(1)
                                                                                     : nullptr;
}

// A word as source text: bare when the tokenizer reads it back whole, quoted otherwise.
bool AsToken(const std::string& sWord, std::string& sToken)
{
    if (sWord.find('"') != std::string::npos)
        return false;
    const bool bBare = !sWord.empty() && sWord.find_first_of(" \t\r\n()") == std::string::npos;
    sToken = bBare ? sWord : "\"" + sWord + "\"";
    return true;
}

std::vector<std::string> Words(const std::string& sText)
{
    std::istringstream in(sText);
    std::vector<std::string> words;
    for (std::string s; in >> s;)
        words.push_back(s);
    return words;
}

bool Match(const std::string& sMessage, const char* pszPattern, std::smatch& match)
{
    return std::regex_search(sMessage, match, std::regex(pszPattern));
}

// A property's value list of exactly one value, or null.
const CZQANode* OneValue(const CZQANode* pProperty)
{
    const CZQANode* pValues = pProperty ? FindList(pProperty, "value-list") : nullptr;
    return pValues && pValues->GetNumElements() == 2 ? pValues->GetElement(1) : nullptr;
}

// The edit that makes a finding's claim explicit; false when the finding claims nothing about the
// packed bytes (or states it in a form that cannot be written back as source). mismatched: the
// properties read by another type than their own, with their own type's name.
bool ClaimEdits(const Diagnostic& diag, const CTreeIndex& tree,
                const std::map<const CZQANode*, std::string>& mismatched, std::vector<Edit>& edits)
{
    const CZQANode* pNode = tree.At(diag.nOffset);
    if (!pNode)
        return false;
    const std::string sCode = diag.GetCode();
    const std::string& sMessage = diag.sMessage;
    std::smatch match;
    auto remove = [&](const CZQANode* pGone)
    {
        if (pGone)
            edits.push_back({tree.SpanOf(pGone), " "});
        return pGone != nullptr;
    };
    auto replace = [&](const CZQANode* pAtom, const std::string& sWord)
    {
        std::string sToken;
        if (!pAtom || !pAtom->IsAtom() || !AsToken(sWord, sToken))
            return false;
        edits.push_back({tree.SpanOf(pAtom), " " + sToken + " "});
        return true;
    };
    // The atoms of a data list from the first one on, replaced by words.
    auto replaceData = [&](const CZQANode* pData, const std::vector<std::string>& words)
    {
        if (!pData || pData->GetNumElements() < words.size() + 1)
            return false;
        for (size_t i = 0; i < words.size(); ++i)
        {
            if (!replace(pData->GetElement(static_cast<uint32_t>(i + 1)), words[i]))
                return false;
        }
        return true;
    };

    if (sCode == "ignored-list" || sCode == "duplicate-list" || sCode == "unused-prefab" ||
        sCode == "value-dropped")
        return remove(pNode);
    if (sCode == "extra-element")
    {
        // This element and every one after it in its list.
        const CZQANode* pList = tree.Parent(pNode);
        bool bFrom = false;
        for (uint32_t i = 0; pList && i < pList->GetNumElements(); ++i)
        {
            bFrom = bFrom || pList->GetElement(i) == pNode;
            if (bFrom)
                remove(pList->GetElement(i));
        }
        return bFrom;
    }
    if (sCode == "value-skipped")
        return remove(tree.Enclosing(pNode, "value"));
    if (sCode == "unknown-property" || sCode == "unknown-property-type" || sCode == "value-not-packed")
        return remove(tree.Enclosing(pNode, "property"));
    if (sCode == "prefab-type-mismatch")
        return remove(tree.Enclosing(pNode, "parent"));
    if (sCode == "not-a-number" || sCode == "not-finite")
        return Match(sMessage, "is packed as (\\S+)$", match) && replace(pNode, match[1]);
    if (sCode == "int-wrapped")
        return Match(sMessage, "wraps to (-?\\d+)$", match) && replace(pNode, match[1]);
    if (sCode == "trailing-text")
        return Match(sMessage, " after the [a-z ]+ (\\S+) is ignored$", match) && replace(pNode, match[1]);
    if (sCode == "color-wrapped")
        return Match(sMessage, "it is packed as (\\d+)$", match) && replace(pNode, match[1]);
    // Read as another type, a value is clamped or looked up as its own: written back as its own type.
    if (sCode == "value-clamped" || sCode == "enum-invalid")
    {
        const CZQANode* pProperty = tree.Enclosing(pNode, "property");
        const auto found = mismatched.find(pProperty);
        if (found != mismatched.end() &&
            (!OneValue(pProperty) || !replace(ValueOf(pProperty, "type"), found->second)))
            return false;
    }
    if (sCode == "enum-invalid")
        return Match(sMessage, "; the default '([^']*)' is packed", match) && replace(pNode, match[1]);
    if (sCode == "curve-time-moved")
        return Match(sMessage, "; it is packed at time (\\S+)$", match) && replace(pNode, match[1]);
    if (sCode == "text-truncated")
        return Match(sMessage, " is cut to \\d+: '(.*)'$", match) && replace(pNode, match[1]);
    if (sCode == "value-clamped")
        return Match(sMessage, "; it is packed as (.+)$", match) &&
               replaceData(tree.Parent(pNode), Words(match[1]));
    if (sCode == "type-mismatch")
    {
        // Only for a property of one value: the others would be read by the new type as well.
        const CZQANode* pValue = OneValue(tree.Enclosing(pNode, "property"));
        if (!pValue || !Match(sMessage, "its bytes packed as (\\w+): (.*)$", match))
            return false;
        std::string sValue = match[2];
        if (sValue.size() >= 2 && sValue.front() == '\'' && sValue.back() == '\'')
            sValue = sValue.substr(1, sValue.size() - 2);
        else if (sValue.find('\'') != std::string::npos)
            return false;
        // Bytes that are not text come back escaped, and a NaN's bits are not in its text: no
        // source spells them.
        if (sValue.find("nan") != std::string::npos)
            return false;
        for (char c : sValue)
        {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F || c == '\\')
                return false;
        }
        const std::vector<std::string> words =
            match[1] == "Vector" || match[1] == "Color" ? Words(sValue) : std::vector<std::string>{sValue};
        return replace(pNode, match[1]) && replaceData(FindList(pValue, "data"), words);
    }
    return false;
}

// Where a key is packed and the times the finding says it gets there.
struct KeyClaim
{
    size_t nEffect = 0; // among the packed effects
    int64_t nID = 0;
    int64_t anTimes[2] = {}; // start, end in ms
};

// The place of an effect among the effects the loader appends: depth first through containers.
bool EffectIndex(const CZQANode* pNode, const CZQANode* pEffect, size_t& nIndex)
{
    for (uint32_t i = 1; pNode && i < pNode->GetNumElements(); ++i)
    {
        const CZQANode* pChild = pNode->GetElement(i);
        if (pChild == pEffect)
            return true;
        if (IsNamed(pChild, "effect"))
            ++nIndex;
        else if (IsNamed(pChild, "container") && EffectIndex(FindList(pChild, "children"), pEffect, nIndex))
            return true;
    }
    return false;
}

bool WholeNumber(const CZQANode* pAtom, int64_t& n)
{
    static const std::regex number("-?\\d{1,9}");
    if (!pAtom || !std::regex_match(std::string(pAtom->GetValue()), number))
        return false;
    n = std::stoll(pAtom->GetValue());
    return true;
}

// "key 'K' overlaps its neighbours on track 1: start 600 becomes 900, end 700 becomes 900". Given
// those times in the source the key would sort after keys of the same start, where the moved key
// stays before them; so this claim is checked on the packed key itself.
bool KeyClaimOf(const Diagnostic& diag, const CTreeIndex& tree, KeyClaim& claim)
{
    const CZQANode* pKey = tree.Enclosing(tree.At(diag.nOffset), "key");
    const CZQANode* pEffect = tree.Enclosing(pKey, "effect");
    claim.nEffect = 0;
    if (diag.eCode != DiagCode::KeyMoved || !pEffect || !WholeNumber(ValueOf(pKey, "id"), claim.nID) ||
        !EffectIndex(FindList(&tree.Root(), "effect-tree"), pEffect, claim.nEffect))
        return false;
    bool bAny = false;
    const char* const apszWhich[2] = {"start", "end"};
    for (int i = 0; i < 2; ++i)
    {
        std::smatch match;
        if (!WholeNumber(ValueOf(pKey, (std::string(apszWhich[i]) + "-time").c_str()), claim.anTimes[i]))
            return false;
        if (Match(diag.sMessage, ("\\b" + std::string(apszWhich[i]) + " -?\\d+ becomes (-?\\d+)").c_str(),
                  match))
            claim.anTimes[i] = std::stoll(match[1]), bAny = true;
    }
    return bAny;
}

// Whether the packed effect holds a key of that id at those times (seconds, as the writer turns
// milliseconds into them).
bool HoldsKey(const nlohmann::json& packed, const KeyClaim& claim)
{
    const nlohmann::json& effects = packed.at("effects");
    if (claim.nEffect >= effects.size())
        return false;
    for (const nlohmann::json& key : effects[claim.nEffect].at("keys"))
    {
        if (key.at("id").get<int64_t>() == claim.nID &&
            key.at("start").get<float>() == static_cast<float>(claim.anTimes[0]) * 0.001f &&
            key.at("end").get<float>() == static_cast<float>(claim.anTimes[1]) * 0.001f)
            return true;
    }
    return false;
}

std::string Applied(const std::string& sText, std::vector<Edit> edits)
{
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.span.nStart > b.span.nStart; });
    std::string s = sText;
    for (const Edit& edit : edits)
        s.replace(edit.span.nStart, edit.span.nEnd - edit.span.nStart, edit.sWith);
    return s;
}

// Seeded sources that provoke every finding with a claim: numbers out of range, past 32 bits, with
// trailing text or none at all, misspelt choices, values of the wrong type, several values of a
// plain property, curves that start late, overlapping keys, prefabs of other types, unused prefabs,
// over-long names and strings, extra elements and lists the packer ignores.
class CSourceMaker
{
public:
    explicit CSourceMaker(uint32_t nSeed) : m_Random(nSeed) {}

    std::string Make()
    {
        std::string s = kHeader;
        s += "(prefab-tree\n";
        m_prefabs.clear();
        const int nPrefabs = Pick(0, 3);
        for (int i = 0; i < nPrefabs; ++i)
        {
            const Type& type = Any(Types());
            const std::string sName = Chance(8) && i > 0 ? m_prefabs.back().first : "P" + std::to_string(i);
            m_prefabs.push_back({sName, type.pszName});
            s += " (prefab (name " + sName + ") (type " + type.pszName + ")" + Properties(type) + ")\n";
        }
        if (Chance(6))
            s += " (effect (name Stray) (length 10))\n";
        s += ")\n(effect-tree\n";
        const int nEffects = Pick(1, 3);
        for (int i = 0; i < nEffects; ++i)
        {
            std::string sName = "E" + std::to_string(i);
            if (Chance(8))
                sName += std::string(130, 'n');
            s += " (effect (name " + sName + (Chance(10) ? " Extra" : "") + ") (length " +
                 Any({"1000", "1000", "1000ms", "2000"}) + ")" + (Chance(10) ? " (name Second)" : "") +
                 " (key-list\n";
            const int nKeys = Pick(1, 4);
            for (int k = 0; k < nKeys; ++k)
                s += "  " + Key(k) + "\n";
            s += std::string(Chance(10) ? "  (note 1)\n" : "") + " ))\n";
        }
        return s + ")\n";
    }

private:
    struct Prop
    {
        const char* pszName;
        const char* pszType;
        bool bCurve;
        std::vector<std::string> choices; // Enum only
    };
    struct Type
    {
        const char* pszName;
        std::vector<Prop> props;
    };
    static const std::vector<Type>& Types()
    {
        static const std::vector<Type> types = {
            {"Sprite",
             {{"Texture", "Filename", false, {}},
              {"BlendMode", "Enum", false, {"Additive", "AlphaBlend", "Opaque"}},
              {"Color", "Color", true, {}},
              {"Size", "Float", true, {}},
              {"Rotation", "Float", true, {}},
              {"Offset", "Vector", false, {}},
              {"FrameCount", "Int", false, {}},
              {"FrameRate", "Float", false, {}}}},
            {"Light",
             {{"LightType", "Enum", false, {"Point", "Spot"}},
              {"Intensity", "Float", true, {}},
              {"Radius", "Float", true, {}},
              {"ConeAngle", "Float", false, {}}}},
            {"Sound", {{"Volume", "Float", true, {}}, {"Priority", "Int", false, {}}}},
            {"Trail", {{"AttachBone", "String", false, {}}, {"MaxSegments", "Int", false, {}}}},
            {"Marker", {{"Label", "String", false, {}}, {"Comment", "String", false, {}}}},
            {"Model", {{"Animation", "Animation", false, {}}, {"Scale", "Vector", true, {}}}},
        };
        return types;
    }

    int Pick(int nLow, int nHigh) { return std::uniform_int_distribution<int>(nLow, nHigh)(m_Random); }
    bool Chance(int nOneIn) { return Pick(1, nOneIn) == 1; }
    template <typename T>
    const T& Any(const std::vector<T>& items)
    {
        return items[static_cast<size_t>(Pick(0, static_cast<int>(items.size()) - 1))];
    }
    std::string Any(std::initializer_list<const char*> items)
    {
        return Any(std::vector<std::string>(items.begin(), items.end()));
    }

    std::string Int()
    {
        return Any({"5", "0", "70", "5000", "-7", "12abc", "abc", "99999999999", "-3000000000", "300"});
    }
    std::string Float()
    {
        return Any({"0.5", "1", "0", "1e9", "-400", "2.5x", "xyz", "1e999", "-1e40", "150", "-0.25", "0x10"});
    }
    std::string Data(const Prop& prop, const std::string& sType)
    {
        if (sType == "Int")
            return Int();
        if (sType == "Float")
            return Float();
        if (sType == "Vector")
            return Float() + " " + Float() + " " + Float();
        if (sType == "Color")
            return Int() + " " + Any({"0", "255", "256", "-1"}) + " " + Int() + " " + Any({"255", "1000"});
        if (sType == "Enum" && !prop.choices.empty())
        {
            std::string sChoice = Any(prop.choices);
            if (Chance(2))
                sChoice.erase(static_cast<size_t>(Pick(0, static_cast<int>(sChoice.size()) - 1)), 1);
            return Chance(4) ? "\" " + sChoice + " \"" : sChoice;
        }
        return Chance(6) ? std::string(300, 's') : Any({"bone", "a.tga", "x"});
    }
    std::string Properties(const Type& type)
    {
        std::string s = " (properties";
        const int nProps = Pick(0, 3);
        for (int i = 0; i < nProps; ++i)
        {
            const Prop& prop = Any(type.props);
            std::string sType = prop.pszType;
            if (Chance(6))
                sType = Any({"Int", "Float", "Vector", "Color", "String", "Enum"});
            else if (Chance(12))
                sType = "Flaot";
            const std::string sName = Chance(12) ? std::string("Sise") : std::string(prop.pszName);
            s += " (property (name " + sName + ") (type " + sType + ") (value-list";
            const int nValues = Pick(1, 3);
            for (int v = 0; v < nValues; ++v)
            {
                const std::string sTime = Any({"0", "0", "0.25", "0.5", "1", "0.75", "0.1"});
                if (Chance(12))
                    s += " (value (time " + sTime + "))";
                else
                    s += " (value (time " + sTime + ") (data " + Data(prop, sType) +
                         (Chance(12) ? " 9" : "") + "))";
            }
            s += "))";
        }
        return s + ")";
    }
    std::string Key(int nIndex)
    {
        const Type& type = Any(Types());
        std::string s = "(key (name K" + std::to_string(nIndex) + ") (type " + type.pszName + ") (id " +
                        std::to_string(nIndex + 1) + ") (track " + std::to_string(Pick(0, 1)) + ")";
        const int nStart = Pick(0, 8) * 100;
        s += " (start-time " + std::to_string(nStart) + ") (end-time " +
             std::to_string(nStart + Pick(1, 6) * 100) + ")";
        if (!m_prefabs.empty() && Chance(2))
            s += " (parent " + Any(m_prefabs).first + ")";
        if (Chance(6))
            s += Chance(2) ? " (motion-link (id 7))" : " (motion-link)";
        if (Chance(12))
            s += " (colour red)";
        return s + Properties(type) + ")";
    }

    std::mt19937 m_Random;
    std::vector<std::pair<std::string, std::string>> m_prefabs; // name, type
};

struct Source
{
    std::string sName;
    std::string sText;
};

} // namespace

TEST(FxCheckClaims, PackedBytesBearOutEveryClaim)
{
    const std::string sDir = TempPath("claims");
    fs::remove_all(sDir);
    WriteFile(sDir + "/a.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");

    std::vector<Source> sources;
    for (const Case& c : Cases())
        sources.push_back({std::string("case '") + c.pszName + "'", c.sText});
    for (const char* pszFolder : {"demo", "examples"})
    {
        for (const auto& entry :
             fs::recursive_directory_iterator(EMBERVISE_SOURCE_DIR "/" + std::string(pszFolder)))
        {
            CSourceText text;
            std::vector<Diagnostic> diags;
            if (IsEffectSourcePath(entry.path().string()) && text.Load(entry.path().string(), diags))
                sources.push_back({entry.path().string(), std::string(text.Text())});
        }
    }
    for (uint32_t nSeed = 1; nSeed <= 30; ++nSeed)
        sources.push_back({"generated source of seed " + std::to_string(nSeed), CSourceMaker(nSeed).Make()});

    struct Claim
    {
        size_t nSource;
        Diagnostic diag;
        std::string sVariant; // path of the edited source
    };
    std::vector<Claim> claims;
    std::vector<std::pair<Claim, KeyClaim>> keyClaims;
    std::vector<std::string> originals(sources.size());
    std::map<std::string, size_t> checkedByCode;
    size_t nPacking = 0;
    CModuleCache modules;
    for (size_t i = 0; i < sources.size(); ++i)
    {
        const std::string sPath = sDir + "/s" + std::to_string(i) + ".Fx00a";
        CSourceText text;
        std::vector<Diagnostic> diags;
        CheckText(sPath, sources[i].sText, BinLibrary("sparkrig_sample"), modules, text, diags, nullptr);
        bool bError = false;
        for (const Diagnostic& diag : diags)
            bError = bError || diag.GetSeverity() == Severity::Error;
        if (bError)
            continue; // nothing is packed to check against
        ++nPacking;
        originals[i] = WriteFile(sPath, sources[i].sText);
        const CTreeIndex tree(sources[i].sText);
        std::map<const CZQANode*, std::string> mismatched;
        for (const Diagnostic& diag : diags)
        {
            std::smatch match;
            if (diag.eCode == DiagCode::TypeMismatch && Match(diag.sMessage, "is an? (\\w+), not ", match))
                mismatched[tree.Enclosing(tree.At(diag.nOffset), "property")] = match[1];
        }
        // A value the checker says is dropped (its removal is checked below) is not packed: no other
        // finding about it may claim a packed result.
        std::vector<Span> droppedValues;
        for (const Diagnostic& diag : diags)
            if (diag.eCode == DiagCode::ValueDropped && tree.At(diag.nOffset))
                droppedValues.push_back(tree.SpanOf(tree.At(diag.nOffset)));
        for (const Diagnostic& diag : diags)
            for (const Span& span : droppedValues)
                if (diag.eCode != DiagCode::ValueDropped && diag.nOffset >= span.nStart &&
                    diag.nOffset < span.nEnd)
                {
                    EXPECT_EQ(std::string::npos, diag.sMessage.find("packed"))
                        << sources[i].sName << ": " << diag.nLine << ":" << diag.nColumn << ": "
                        << diag.sMessage << " [" << diag.GetCode() << "] is about a value that is dropped";
                    ++checkedByCode["about a dropped value"];
                }
        for (const Diagnostic& diag : diags)
        {
            KeyClaim keyClaim;
            if (KeyClaimOf(diag, tree, keyClaim))
            {
                keyClaims.push_back({{i, diag, ""}, keyClaim});
                ++checkedByCode[diag.GetCode()];
                continue;
            }
            std::vector<Edit> edits;
            if (!ClaimEdits(diag, tree, mismatched, edits))
                continue;
            const std::string sVariant =
                sDir + "/s" + std::to_string(i) + "-" + std::to_string(claims.size()) + ".Fx00a";
            const std::string sEdited = Applied(sources[i].sText, edits);
            WriteFile(sVariant, sEdited);
            claims.push_back({i, diag, sVariant});
            // The outcome written out needs no further change of that kind: "packed as 1000" is a value the
            // packer keeps as it is, not one that it would clamp to the same bytes again.
            CSourceText editedText;
            std::vector<Diagnostic> editedDiags;
            CheckText(sVariant, sEdited, BinLibrary("sparkrig_sample"), modules, editedText, editedDiags,
                      nullptr);
            auto count = [&](const std::vector<Diagnostic>& all)
            {
                return std::count_if(all.begin(), all.end(),
                                     [&](const Diagnostic& other) { return other.eCode == diag.eCode; });
            };
            // An infinity stays one, written out or not.
            if (diag.eCode != DiagCode::NotFinite)
            {
                EXPECT_LT(count(editedDiags), count(diags))
                    << sources[i].sName << ": " << diag.nLine << ":" << diag.nColumn << ": " << diag.sMessage
                    << " [" << diag.GetCode()
                    << "]\nthe source as the finding says it packs still has that finding:\n"
                    << sEdited;
            }
            ++checkedByCode[diag.GetCode()];
        }
    }
    const RunResult run = RunProgram("zqpack", {"-q", sDir});
    EXPECT_EQ(run.nExit, 0) << run.sErr;

    auto packedOf = [](const std::string& sSource) { return sSource.substr(0, sSource.size() - 1) + "p"; };
    for (const Claim& claim : claims)
    {
        const std::string sOriginal = packedOf(originals[claim.nSource]);
        const std::string sVariant = packedOf(claim.sVariant);
        if (fs::exists(sOriginal) && fs::exists(sVariant) && ReadBytes(sOriginal) == ReadBytes(sVariant))
            continue;
        const RunResult dump =
            RunProgram("fxdump", {"--json", "--module", BinLibrary("sparkrig_sample"), sOriginal, sVariant});
        ADD_FAILURE() << sources[claim.nSource].sName << " (" << originals[claim.nSource] << "):\n"
                      << claim.diag.nLine << ":" << claim.diag.nColumn << ": " << claim.diag.sMessage << " ["
                      << claim.diag.GetCode() << "]\nthe source as the finding says it packs ("
                      << claim.sVariant << ") packs otherwise; packed as found, then as claimed:\n"
                      << dump.sOut << dump.sErr;
    }

    // The packed files that key claims are about, read in one run of fxdump.
    std::vector<std::string> dumpArgs = {"--json", "--module", BinLibrary("sparkrig_sample")};
    for (const auto& entry : keyClaims)
        dumpArgs.push_back(packedOf(originals[entry.first.nSource]));
    std::map<std::string, nlohmann::json> packedByFile;
    if (!keyClaims.empty())
    {
        const RunResult dump = RunProgram("fxdump", dumpArgs);
        EXPECT_EQ(dump.nExit, 0) << dump.sErr;
        std::istringstream lines(dump.sOut);
        for (std::string sLine; std::getline(lines, sLine);)
        {
            const nlohmann::json packed = nlohmann::json::parse(sLine);
            packedByFile[packed.at("file").get<std::string>()] = packed;
        }
    }
    for (const auto& entry : keyClaims)
    {
        const Claim& claim = entry.first;
        const nlohmann::json& packed = packedByFile[packedOf(originals[claim.nSource])];
        EXPECT_TRUE(!packed.is_null() && HoldsKey(packed, entry.second))
            << sources[claim.nSource].sName << " (" << originals[claim.nSource] << "):\n"
            << claim.diag.nLine << ":" << claim.diag.nColumn << ": " << claim.diag.sMessage << " ["
            << claim.diag.GetCode() << "]\nno key " << entry.second.nID << " at those times in effect "
            << entry.second.nEffect << " of the packed file:\n"
            << packed.dump();
    }

    // Every kind of claim was put to the test, and most generated sources pack.
    for (const char* pszCode :
         {"ignored-list",     "duplicate-list",       "unused-prefab",    "value-dropped",
          "extra-element",    "value-skipped",        "unknown-property", "unknown-property-type",
          "value-not-packed", "prefab-type-mismatch", "not-a-number",     "not-finite",
          "int-wrapped",      "trailing-text",        "color-wrapped",    "enum-invalid",
          "curve-time-moved", "text-truncated",       "value-clamped",    "key-moved",
          "type-mismatch",    "about a dropped value"})
        EXPECT_GE(checkedByCode[pszCode], 1u) << pszCode;
    EXPECT_GE(nPacking, 30u);
}
