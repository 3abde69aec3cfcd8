// The JSON document of a packed file. It is made in parts, the file's facts and then one effect at
// a time, so that every output can be written while the effects are walked.
#include "fxdump.h"

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

json PropertyJson(const PackedFile& file, const CModuleView& module, uint32_t nTypeID,
                  const CPackedEffectReader::Property& prop)
{
    // Each object is made with all its members at once: this runs for every property of a file.
    const CPackedEffectReader& reader = file.reader;
    json name = StringJson(reader, prop.nNameOffset);
    CPackedEffectReader::ValueInfo info;
    const bool bKnown = module.IsLoaded() && name.is_string() &&
                        module.Lookup(nTypeID, name.get_ref<const std::string&>().c_str(), info);
    if (!bKnown)
        return json{{"offset", prop.nOffset},
                    {"name", std::move(name)},
                    {"raw", DecodeValue(reader, prop.nValueOffset, prop.nValueSize, nullptr)}};
    if (!info.bFunctionCurve)
        return json{{"offset", prop.nOffset},
                    {"name", std::move(name)},
                    {"type", TypeName(info.eType)},
                    {"value", DecodeValue(reader, prop.nValueOffset, prop.nValueSize, &info)}};
    const uint32_t nCurve = reader.ReadU32(prop.nValueOffset);
    json points = DecodeCurveAt(reader, nCurve, info.eType);
    if (points.is_null())
        return json{{"offset", prop.nOffset},
                    {"name", std::move(name)},
                    {"type", TypeName(info.eType)},
                    {"curve", nCurve}};
    return json{{"offset", prop.nOffset},
                {"name", std::move(name)},
                {"type", TypeName(info.eType)},
                {"curve", nCurve},
                {"points", std::move(points)}};
}
} // namespace

json FileJson(const PackedFile& file, const CModuleView& module)
{
    const CPackedEffectReader& reader = file.reader;
    const CPackedEffectReader::Header& h = reader.GetHeader();
    json out = {{"file", file.sPath}, {"size", file.GetSize()}};
    if (module.IsLoaded())
        out["module"] = module.GetPath();
    out["header"] = {{"magic", h.nMagic},
                     {"version", h.nVersion},
                     {"moduleVersion", h.nModuleVersion},
                     {"stringTableSize", h.nStringTableSize},
                     {"curveDataSize", h.nCurveDataSize},
                     {"numKeys", h.nNumKeys},
                     {"numEffects", h.nNumEffects},
                     {"numEffectTypes", h.nNumEffectTypes},
                     {"stringTableOffset", h.nStringTableOffset},
                     {"effectIndexOffset", h.nEffectIndexOffset}};

    return out;
}

json EffectJson(const PackedFile& file, const CModuleView& module, const CPackedEffectReader::Effect& effect)
{
    const CPackedEffectReader& reader = file.reader;
    json keys = json::array();
    for (const CPackedEffectReader::Key& key : effect.keys)
    {
        json props = json::array();
        for (const CPackedEffectReader::Property& prop : key.props)
            props.push_back(PropertyJson(file, module, key.nTypeID, prop));
        json keyJson = {{"offset", key.nOffset},   {"typeId", key.nTypeID},
                        {"start", key.fStartTime}, {"end", key.fEndTime},
                        {"id", key.nID},           {"motionLinkId", key.nMotionLinkID}};
        keyJson["properties"] = std::move(props);
        if (module.IsLoaded())
            keyJson["type"] = module.GetTypeName(key.nTypeID);
        keys.push_back(std::move(keyJson));
    }
    json out = {{"offset", effect.nOffset},
                {"name", StringJson(reader, effect.nNameOffset)},
                {"lengthMs", static_cast<int32_t>(effect.nLength)}};
    out["keys"] = std::move(keys);
    return out;
}

json KeyCountJson(const PackedFile& file, const CModuleView& module, uint32_t nTypeID)
{
    json entry = {{"typeId", nTypeID}, {"keys", file.reader.GetKeyCount(nTypeID)}};
    if (module.IsLoaded())
        entry["type"] = module.GetTypeName(nTypeID);
    return entry;
}

json ProblemsJson(const PackedFile& file)
{
    json problems = json::array();
    for (const CPackedEffectReader::Problem& problem : file.reader.GetProblems())
        problems.push_back({{"offset", problem.nOffset}, {"text", problem.sText}});
    if (file.reader.GetMoreProblems())
        problems.push_back({{"offset", nullptr},
                            {"text", std::to_string(file.reader.GetMoreProblems()) + " more problems"}});
    return problems;
}

std::string JsonLine(const json& value)
{
    // Strings of a damaged or non-UTF-8 file must not stop the listing.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void WriteJson(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
{
    // Every list is written item by item: none of them is held whole.
    std::string sHead = JsonLine(FileJson(file, module));
    sHead.back() = ','; // the object goes on
    std::fputs((sHead + "\"keyCounts\":[").c_str(), pOut);
    const uint32_t nNumTypes = file.bWalked ? file.reader.GetHeader().nNumEffectTypes : 0;
    for (uint32_t i = 0; i < nNumTypes; ++i)
        std::fputs(((i ? "," : "") + JsonLine(KeyCountJson(file, module, i))).c_str(), pOut);
    std::fputs("],\"strings\":[", pOut);
    const CPackedEffectReader& reader = file.reader;
    for (uint32_t nPos = 0, nStart = 0; reader.NextString(nPos, nStart);)
        std::fputs(
            ((nStart ? "," : "") + JsonLine(json{{"offset", nStart}, {"text", StringJson(reader, nStart)}}))
                .c_str(),
            pOut);
    std::fputs("],\"effects\":[", pOut);
    bool bFirst = true;
    ForEachEffect(file, module,
                  [&](const CPackedEffectReader::Effect& record)
                  {
                      const json effect = EffectJson(file, module, record);
                      if (!filter.Passes(effect))
                          return;
                      if (!bFirst)
                          std::fputc(',', pOut);
                      bFirst = false;
                      std::fputs(JsonLine(effect).c_str(), pOut);
                  });
    std::fputs(("],\"problems\":" + JsonLine(ProblemsJson(file)) + "}\n").c_str(), pOut);
}
} // namespace fxdump
