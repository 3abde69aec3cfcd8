// The JSON document of a packed file. It is made in parts, the file's facts and then one effect at
// a time, so that every output can be written while the effects are walked.
#include "fxdump.h"

namespace fxdump
{
namespace
{
using json = nlohmann::json;

json PropertyJson(const PackedFile& file, const CModuleView& module, uint32_t nTypeID,
                  const CPackedEffectReader::Property& prop)
{
    const CPackedEffectReader& reader = file.reader;
    const char* pszName = reader.GetString(prop.nNameOffset);
    json out = {{"offset", prop.nOffset}, {"name", pszName ? json(pszName) : json(nullptr)}};
    CPackedEffectReader::ValueInfo info;
    const bool bKnown = module.IsLoaded() && pszName && module.Lookup(nTypeID, pszName, info);
    if (!bKnown)
    {
        out["raw"] = DecodeValue(reader, prop.nValueOffset, prop.nValueSize, nullptr);
        return out;
    }
    out["type"] = TypeName(info.eType);
    if (info.bFunctionCurve)
    {
        const uint32_t nCurve = reader.ReadU32(prop.nValueOffset);
        out["curve"] = nCurve;
        if (const CPackedEffectReader::Curve* pCurve = reader.FindCurve(nCurve))
            out["points"] = DecodeCurve(reader, *pCurve)["keys"];
    }
    else
        out["value"] = DecodeValue(reader, prop.nValueOffset, prop.nValueSize, &info);
    return out;
}
} // namespace

json FileJson(const PackedFile& file, const CModuleView& module)
{
    const CPackedEffectReader& reader = file.reader;
    const CPackedEffectReader::Header& h = reader.GetHeader();
    json out = {{"file", file.sPath}, {"size", file.bytes.size()}};
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

    json counts = json::array();
    const std::vector<uint32_t>& keyCounts = reader.GetKeyCounts();
    for (uint32_t i = 0; i < keyCounts.size(); ++i)
    {
        json entry = {{"typeId", i}, {"keys", keyCounts[i]}};
        if (module.IsLoaded())
            entry["type"] = module.GetTypeName(i);
        counts.push_back(entry);
    }
    out["keyCounts"] = counts;

    json strings = json::array();
    for (uint32_t nOffset : reader.GetStringStarts())
        strings.push_back({{"offset", nOffset}, {"text", reader.GetString(nOffset)}});
    out["strings"] = strings;

    json curves = json::array();
    for (const CPackedEffectReader::Curve& curve : reader.GetCurves())
        curves.push_back(DecodeCurve(reader, curve));
    out["curves"] = curves;
    return out;
}

json EffectJson(const PackedFile& file, const CModuleView& module, size_t nEffect)
{
    const CPackedEffectReader& reader = file.reader;
    const CPackedEffectReader::Effect& effect = reader.GetEffects()[nEffect];
    const char* pszName = reader.GetString(effect.nNameOffset);
    json keys = json::array();
    for (const CPackedEffectReader::Key& key : effect.keys)
    {
        json props = json::array();
        for (const CPackedEffectReader::Property& prop : key.props)
            props.push_back(PropertyJson(file, module, key.nTypeID, prop));
        json keyJson = {{"offset", key.nOffset}, {"typeId", key.nTypeID}, {"start", key.fStartTime},
                        {"end", key.fEndTime},   {"id", key.nID},         {"motionLinkId", key.nMotionLinkID},
                        {"properties", props}};
        if (module.IsLoaded())
            keyJson["type"] = module.GetTypeName(key.nTypeID);
        keys.push_back(keyJson);
    }
    return json{{"offset", effect.nOffset},
                {"name", pszName ? json(pszName) : json(nullptr)},
                {"lengthMs", static_cast<int32_t>(effect.nLength)},
                {"keys", keys}};
}

json ProblemsJson(const PackedFile& file)
{
    json problems = json::array();
    for (const CPackedEffectReader::Problem& problem : file.reader.GetProblems())
        problems.push_back({{"offset", problem.nOffset}, {"text", problem.sText}});
    return problems;
}

std::string JsonLine(const json& value)
{
    // Strings of a damaged or non-UTF-8 file must not stop the listing.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void WriteJson(const PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
{
    std::string sHead = JsonLine(FileJson(file, module));
    sHead.back() = ','; // the object goes on
    sHead += "\"effects\":[";
    std::fputs(sHead.c_str(), pOut);
    bool bFirst = true;
    for (size_t i = 0; i < file.reader.GetEffects().size(); ++i)
    {
        const json effect = EffectJson(file, module, i);
        if (!filter.Passes(effect))
            continue;
        if (!bFirst)
            std::fputc(',', pOut);
        bFirst = false;
        std::fputs(JsonLine(effect).c_str(), pOut);
    }
    std::fputs(("],\"problems\":" + JsonLine(ProblemsJson(file)) + "}\n").c_str(), pOut);
}
} // namespace fxdump
