// What changed between two packed files, by effect name, key (type and id) and property name.
// Offsets are not compared: a file whose content moved but did not change holds the same effects.
// Changes read in the units of the source: key times in milliseconds, colours as 0-255 channels.
#include "fxdump.h"

#include <cstring>
#include <map>

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

// Items matched by a name: the n-th item of a name in one list pairs with the n-th in the other.
template <typename NameOf>
std::vector<std::pair<const json*, const json*>> Pair(const json& olds, const json& news, NameOf nameOf)
{
    std::vector<std::pair<const json*, const json*>> pairs;
    std::map<std::string, std::vector<const json*>> unmatched;
    for (const json& item : news)
        unmatched[nameOf(item)].push_back(&item);
    std::map<std::string, size_t> used;
    for (const json& item : olds)
    {
        const std::string sName = nameOf(item);
        std::vector<const json*>& candidates = unmatched[sName];
        size_t& nUsed = used[sName];
        pairs.emplace_back(&item, nUsed < candidates.size() ? candidates[nUsed] : nullptr);
        ++nUsed;
    }
    for (auto& entry : unmatched)
        for (size_t i = used[entry.first]; i < entry.second.size(); ++i)
            pairs.emplace_back(nullptr, entry.second[i]);
    return pairs;
}

std::string NameOf(const json& item)
{
    return item["name"].is_string() ? item["name"].get<std::string>() : std::string("<bad name offset>");
}

// Key times as the source gives them and the listing reads them: milliseconds.
json Milliseconds(const json& seconds)
{
    if (!seconds.is_number())
        return seconds;
    int32_t nMs = 0;
    if (SecondsToMs(seconds.get<float>(), nMs))
        return json(nMs);
    return json(seconds.get<double>() * 1000.0);
}

// Colours as the 0-255 channels they were written from, where every channel is one.
json Channels(const json& value)
{
    if (value.is_object() && value.contains("value"))
    {
        json point = value;
        point["value"] = Channels(value["value"]);
        return point;
    }
    if (!value.is_array() || value.size() != 4)
        return value;
    json channels = json::array();
    for (const json& channel : value)
    {
        uint32_t n = 0;
        if (!channel.is_number() || !FloatToChannel(channel.get<float>(), n))
            return value;
        channels.push_back(n);
    }
    return channels;
}

std::string KeyName(const json& key)
{
    const std::string sType = key.value("type", "");
    return (sType.empty() ? "type " + std::to_string(key["typeId"].get<uint32_t>()) : sType) + " " +
           std::to_string(key["id"].get<uint32_t>());
}

class CDiff
{
public:
    explicit CDiff(json& changes) : m_Changes(changes) {}

    void Effects(const json& olds, const json& news)
    {
        for (const auto& pair : Pair(olds, news, NameOf))
        {
            m_sEffect = NameOf(pair.first ? *pair.first : *pair.second);
            if (!pair.first || !pair.second)
            {
                Add(nullptr, nullptr, pair.first ? "removed" : "added", json(), json());
                continue;
            }
            const json& a = *pair.first;
            const json& b = *pair.second;
            if (a["lengthMs"] != b["lengthMs"])
                Add(nullptr, nullptr, "length", a["lengthMs"], b["lengthMs"]);
            for (const auto& keys : Pair(a["keys"], b["keys"], KeyName))
                Key(keys.first, keys.second);
        }
    }

private:
    void Key(const json* pOld, const json* pNew)
    {
        const json& any = pOld ? *pOld : *pNew;
        if (!pOld || !pNew)
        {
            Add(&any, nullptr, pOld ? "removed" : "added", json(), json());
            return;
        }
        for (const char* pszField : {"start", "end"})
            if ((*pOld)[pszField] != (*pNew)[pszField])
                Add(&any, nullptr, pszField, Milliseconds((*pOld)[pszField]),
                    Milliseconds((*pNew)[pszField]));
        if ((*pOld)["motionLinkId"] != (*pNew)["motionLinkId"])
            Add(&any, nullptr, "motionLinkId", (*pOld)["motionLinkId"], (*pNew)["motionLinkId"]);
        for (const auto& props : Pair((*pOld)["properties"], (*pNew)["properties"], NameOf))
        {
            const json* pA = props.first;
            const json* pB = props.second;
            if (!pA || !pB)
            {
                Add(&any, pA ? pA : pB, pA ? "removed" : "added", json(), json());
                continue;
            }
            if (pA->contains("points") && pB->contains("points"))
                Points(any, *pB, (*pA)["points"], (*pB)["points"]);
            else
            {
                const json a = Content(*pA);
                const json b = Content(*pB);
                if (a != b)
                    Add(&any, pB, "value", a, b);
            }
        }
    }

    // Curve points by position: a changed point says old -> new, extra points are added or removed.
    void Points(const json& key, const json& prop, const json& olds, const json& news)
    {
        for (size_t i = 0; i < std::max(olds.size(), news.size()); ++i)
        {
            const json a = i < olds.size() ? olds[i] : json();
            const json b = i < news.size() ? news[i] : json();
            if (a != b)
                Add(&key, &prop, "point " + std::to_string(i), a, b);
        }
    }

    // What a property holds, whatever its offset or its curve's offset.
    static json Content(const json& prop)
    {
        for (const char* psz : {"value", "raw", "points"})
            if (prop.contains(psz))
                return prop[psz];
        return json();
    }

    void Add(const json* pKey, const json* pProp, const std::string& sWhat, const json& old, const json& now)
    {
        json change = {{"effect", m_sEffect}, {"what", sWhat}};
        if (pKey)
        {
            change["key"] = KeyName(*pKey);
            change["keyId"] = (*pKey)["id"];
        }
        if (pProp)
        {
            change["property"] = NameOf(*pProp);
            change["type"] = pProp->value("type", "");
        }
        if (!old.is_null())
            change["old"] = old;
        if (!now.is_null())
            change["new"] = now;
        m_Changes.push_back(change);
    }

    json& m_Changes;
    std::string m_sEffect;
};

std::string PointText(const json& point, const std::string& sType)
{
    if (point.is_null())
        return "none";
    std::string s = ValueText(point["time"], "Float");
    if (point.contains("value"))
        s += ": " + ValueText(point["value"], sType);
    return s;
}

std::string ChangeText(const json& change)
{
    if (change["what"] == "curves")
        return "~ the curve sections differ (" + change["old"].dump() + " and " + change["new"].dump() +
               " bytes); decode with --module or --project to see which curves";
    std::string sWhere = "effect \"" + Printable(change["effect"].get<std::string>()) + "\"";
    if (change.contains("key"))
        sWhere += " key " + Printable(change["key"].get<std::string>());
    if (change.contains("property"))
        sWhere += " " + Printable(change["property"].get<std::string>());
    const std::string sWhat = change["what"];
    if (sWhat == "added" || sWhat == "removed")
        return (sWhat == "added" ? "+ " : "- ") + sWhere;
    const std::string sType = change.value("type", "");
    std::string sOld, sNew;
    if (sWhat.rfind("point ", 0) == 0)
    {
        sOld = PointText(change.value("old", json()), sType);
        sNew = PointText(change.value("new", json()), sType);
    }
    else
    {
        const bool bTime = sWhat == "length" || sWhat == "start" || sWhat == "end";
        sOld = ValueText(change["old"], bTime ? "Float" : sType) + (bTime ? " ms" : "");
        sNew = ValueText(change["new"], bTime ? "Float" : sType) + (bTime ? " ms" : "");
    }
    const std::string sLabel = sWhat == "motionLinkId" ? "motion link" : sWhat;
    return "~ " + sWhere + ": " + sLabel + (sWhat.rfind("point ", 0) == 0 ? ": " : " ") + sOld + " -> " +
           sNew;
}
} // namespace

bool WriteDiff(PackedFile& oldFile, PackedFile& newFile, const CModuleView& module, bool bJson,
               std::FILE* pOut)
{
    const auto curveSection = [](const PackedFile& file)
    {
        const CPackedEffectReader& reader = file.reader;
        std::string sBytes(reader.GetHeader().nCurveDataSize, '\0');
        for (uint32_t i = 0; i + 4 <= sBytes.size(); i += 4)
        {
            const uint32_t nWord = reader.ReadU32(uint64_t(reader.GetCurveSectionOffset()) + i);
            std::memcpy(&sBytes[i], &nWord, 4);
        }
        return sBytes;
    };
    // A diff holds the decoded effects of both files.
    const auto effects = [&module](PackedFile& file)
    {
        json all = json::array();
        ForEachEffect(file, module,
                      [&](const CPackedEffectReader::Effect& effect)
                      { all.push_back(EffectJson(file, module, effect)); });
        return all;
    };
    json changes = json::array();
    CDiff(changes).Effects(effects(oldFile), effects(newFile));
    // Without the module curves are not decoded: their bytes stand for them.
    if (!module.IsLoaded() && curveSection(oldFile) != curveSection(newFile))
        changes.push_back({{"effect", ""},
                           {"what", "curves"},
                           {"old", oldFile.reader.GetHeader().nCurveDataSize},
                           {"new", newFile.reader.GetHeader().nCurveDataSize}});
    if (bJson)
    {
        for (json& change : changes)
            if (change.value("type", "") == "Color")
                for (const char* pszSide : {"old", "new"})
                    if (change.contains(pszSide))
                        change[pszSide] = Channels(change[pszSide]);
        const json out = {
            {"old", oldFile.sPath}, {"new", newFile.sPath}, {"same", changes.empty()}, {"changes", changes}};
        std::fputs((JsonLine(out) + "\n").c_str(), pOut);
        return changes.empty();
    }
    for (const json& change : changes)
        std::fputs((ChangeText(change) + "\n").c_str(), pOut);
    if (changes.empty())
        std::fprintf(pOut, "%s and %s hold the same effects\n", Printable(oldFile.sPath).c_str(),
                     Printable(newFile.sPath).c_str());
    return changes.empty();
}
} // namespace fxdump
