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
using Reader = CPackedEffectReader;
constexpr size_t kNone = ~size_t(0);

// Items matched by a name: the n-th item of a name in one list pairs with the n-th in the other.
// Positions in the two lists; kNone where an item has no partner.
template <typename NameOf>
std::vector<std::pair<size_t, size_t>> Pair(const json& olds, const json& news, NameOf nameOf)
{
    std::vector<std::pair<size_t, size_t>> pairs;
    std::map<std::string, std::vector<size_t>> unmatched;
    for (size_t i = 0; i < news.size(); ++i)
        unmatched[nameOf(news[i])].push_back(i);
    std::map<std::string, size_t> used;
    for (size_t i = 0; i < olds.size(); ++i)
    {
        const std::string sName = nameOf(olds[i]);
        std::vector<size_t>& candidates = unmatched[sName];
        size_t& nUsed = used[sName];
        pairs.emplace_back(i, nUsed < candidates.size() ? candidates[nUsed] : kNone);
        ++nUsed;
    }
    for (auto& entry : unmatched)
        for (size_t i = used[entry.first]; i < entry.second.size(); ++i)
            pairs.emplace_back(kNone, entry.second[i]);
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

// One file's effects: decoded for comparing, and their records for showing values as the listing does.
struct Side
{
    explicit Side(const Reader& r) : reader(r) {}
    const Reader& reader;
    json effects = json::array();
    std::vector<Reader::Effect> records;
};

// What changed and its old and new text, in the listing's words.
struct ChangeLine
{
    std::string sWhat, sOld, sNew;
};

class CDiff
{
public:
    CDiff(const CModuleView& module, json& changes, std::vector<std::string>& lines)
        : m_Module(module), m_Changes(changes), m_Lines(lines)
    {
    }

    void Effects(const Side& olds, const Side& news)
    {
        for (const auto& pair : Pair(olds.effects, news.effects, NameOf))
        {
            m_sEffect = NameOf(pair.first != kNone ? olds.effects[pair.first] : news.effects[pair.second]);
            if (pair.first == kNone || pair.second == kNone)
            {
                Add(nullptr, nullptr, pair.first != kNone ? "removed" : "added", json(), json(), {});
                continue;
            }
            const json& a = olds.effects[pair.first];
            const json& b = news.effects[pair.second];
            if (a["lengthMs"] != b["lengthMs"])
                Add(nullptr, nullptr, "length", a["lengthMs"], b["lengthMs"],
                    {"length", a["lengthMs"].dump() + " ms", b["lengthMs"].dump() + " ms"});
            const Reader::Effect& recordA = olds.records[pair.first];
            const Reader::Effect& recordB = news.records[pair.second];
            for (const auto& keys : Pair(a["keys"], b["keys"], KeyName))
            {
                if (keys.first == kNone || keys.second == kNone)
                {
                    const json& any = keys.first != kNone ? a["keys"][keys.first] : b["keys"][keys.second];
                    Add(&any, nullptr, keys.first != kNone ? "removed" : "added", json(), json(), {});
                    continue;
                }
                Key(olds.reader, a["keys"][keys.first], recordA.keys[keys.first], news.reader,
                    b["keys"][keys.second], recordB.keys[keys.second]);
            }
        }
    }

private:
    void Key(const Reader& readerA, const json& a, const Reader::Key& recordA, const Reader& readerB,
             const json& b, const Reader::Key& recordB)
    {
        const auto ms = [](const Reader& reader, float fSeconds)
        {
            std::string s;
            CValueText(reader, s).Time(fSeconds, CValueText::MILLISECONDS);
            return s + " ms";
        };
        if (a["start"] != b["start"])
            Add(&a, nullptr, "start", Milliseconds(a["start"]), Milliseconds(b["start"]),
                {"start", ms(readerA, recordA.fStartTime), ms(readerB, recordB.fStartTime)});
        if (a["end"] != b["end"])
            Add(&a, nullptr, "end", Milliseconds(a["end"]), Milliseconds(b["end"]),
                {"end", ms(readerA, recordA.fEndTime), ms(readerB, recordB.fEndTime)});
        if (a["motionLinkId"] != b["motionLinkId"])
            Add(&a, nullptr, "motionLinkId", a["motionLinkId"], b["motionLinkId"],
                {"motion link", a["motionLinkId"].dump(), b["motionLinkId"].dump()});
        for (const auto& props : Pair(a["properties"], b["properties"], NameOf))
        {
            if (props.first == kNone || props.second == kNone)
            {
                const json& any =
                    props.first != kNone ? a["properties"][props.first] : b["properties"][props.second];
                Add(&a, &any, props.first != kNone ? "removed" : "added", json(), json(), {});
                continue;
            }
            const json& propA = a["properties"][props.first];
            const json& propB = b["properties"][props.second];
            const Reader::Property& recordPropA = recordA.props[props.first];
            const Reader::Property& recordPropB = recordB.props[props.second];
            if (propA.contains("points") && propB.contains("points"))
                Points(a, propB, propA["points"], propB["points"], Points(readerA, recordA, recordPropA),
                       Points(readerB, recordB, recordPropB));
            else
            {
                const json contentA = Content(propA);
                const json contentB = Content(propB);
                if (contentA != contentB)
                    Add(&a, &propB, "value", contentA, contentB,
                        {"value", Text(readerA, recordA, recordPropA), Text(readerB, recordB, recordPropB)});
            }
        }
    }

    // Curve points by position: a changed point says old -> new, extra points are added or removed.
    void Points(const json& key, const json& prop, const json& olds, const json& news,
                const std::vector<std::string>& oldTexts, const std::vector<std::string>& newTexts)
    {
        for (size_t i = 0; i < std::max(olds.size(), news.size()); ++i)
        {
            const json a = i < olds.size() ? olds[i] : json();
            const json b = i < news.size() ? news[i] : json();
            if (a != b)
                Add(&key, &prop, "point " + std::to_string(i), a, b,
                    {"point " + std::to_string(i) + ":", i < oldTexts.size() ? oldTexts[i] : "none",
                     i < newTexts.size() ? newTexts[i] : "none"});
        }
    }

    // What the module says of a property, or null.
    const Reader::ValueInfo* Info(const Reader& reader, const Reader::Key& key, const Reader::Property& prop,
                                  Reader::ValueInfo& info) const
    {
        std::string sName;
        return m_Module.IsLoaded() && reader.GetString(prop.nNameOffset, sName) &&
                       m_Module.Lookup(key.nTypeID, sName.c_str(), info)
                   ? &info
                   : nullptr;
    }

    std::string Text(const Reader& reader, const Reader::Key& key, const Reader::Property& prop) const
    {
        Reader::ValueInfo info;
        std::string s;
        CValueText(reader, s).PropertyValue(prop, Info(reader, key, prop, info));
        return s;
    }

    // The text of each point of a property's curve.
    std::vector<std::string> Points(const Reader& reader, const Reader::Key& key,
                                    const Reader::Property& prop) const
    {
        Reader::ValueInfo info;
        std::vector<std::string> texts;
        if (!Info(reader, key, prop, info))
            return texts;
        ForEachCurvePoint(reader, reader.ReadU32(prop.nValueOffset), info.eType,
                          [&](float fTime, uint32_t nValueOffset)
                          {
                              texts.emplace_back();
                              CValueText(reader, texts.back()).Point(fTime, nValueOffset, info.eType);
                          });
        return texts;
    }

    // What a property holds, whatever its offset or its curve's offset.
    static json Content(const json& prop)
    {
        for (const char* psz : {"value", "raw", "points"})
            if (prop.contains(psz))
                return prop[psz];
        return json();
    }

    void Add(const json* pKey, const json* pProp, const std::string& sWhat, const json& old, const json& now,
             const ChangeLine& line)
    {
        json change = {{"effect", m_sEffect}, {"what", sWhat}};
        std::string sWhere = "effect \"" + Printable(m_sEffect) + "\"";
        if (pKey)
        {
            change["key"] = KeyName(*pKey);
            change["keyId"] = (*pKey)["id"];
            sWhere += " key " + Printable(KeyName(*pKey));
        }
        if (pProp)
        {
            change["property"] = NameOf(*pProp);
            change["type"] = pProp->value("type", "");
            sWhere += " " + Printable(NameOf(*pProp));
        }
        if (!old.is_null())
            change["old"] = old;
        if (!now.is_null())
            change["new"] = now;
        m_Changes.push_back(change);
        if (sWhat == "added" || sWhat == "removed")
            m_Lines.push_back((sWhat == "added" ? "+ " : "- ") + sWhere);
        else
            m_Lines.push_back("~ " + sWhere + ": " + line.sWhat + " " + line.sOld + " -> " + line.sNew);
    }

    const CModuleView& m_Module;
    json& m_Changes;
    std::vector<std::string>& m_Lines;
    std::string m_sEffect;
};
} // namespace

bool WriteDiff(PackedFile& oldFile, PackedFile& newFile, const CModuleView& module, bool bJson,
               std::FILE* pOut)
{
    const auto curveSection = [](const PackedFile& file)
    {
        const Reader& reader = file.reader;
        std::string sBytes(reader.GetHeader().nCurveDataSize, '\0');
        for (uint32_t i = 0; i + 4 <= sBytes.size(); i += 4)
        {
            const uint32_t nWord = reader.ReadU32(uint64_t(reader.GetCurveSectionOffset()) + i);
            std::memcpy(&sBytes[i], &nWord, 4);
        }
        return sBytes;
    };
    // A diff holds the decoded effects of both files.
    const auto side = [&module](PackedFile& file)
    {
        Side effects(file.reader);
        ForEachEffect(file, module,
                      [&](const Reader::Effect& effect)
                      {
                          effects.effects.push_back(EffectJson(file, module, effect));
                          effects.records.push_back(effect);
                      });
        return effects;
    };
    json changes = json::array();
    std::vector<std::string> lines;
    CDiff(module, changes, lines).Effects(side(oldFile), side(newFile));
    // Without the module curves are not decoded: their bytes stand for them.
    if (!module.IsLoaded() && curveSection(oldFile) != curveSection(newFile))
    {
        const uint32_t nOld = oldFile.reader.GetHeader().nCurveDataSize;
        const uint32_t nNew = newFile.reader.GetHeader().nCurveDataSize;
        changes.push_back({{"effect", ""}, {"what", "curves"}, {"old", nOld}, {"new", nNew}});
        lines.push_back(Format("~ the curve sections differ (%u and %u bytes); decode with --module or "
                               "--project to see which curves",
                               nOld, nNew));
    }
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
    for (const std::string& sLine : lines)
        std::fputs((sLine + "\n").c_str(), pOut);
    if (changes.empty())
        std::fprintf(pOut, "%s and %s hold the same effects\n", Printable(oldFile.sPath).c_str(),
                     Printable(newFile.sPath).c_str());
    return changes.empty();
}
} // namespace fxdump
