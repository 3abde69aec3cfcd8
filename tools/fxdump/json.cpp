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
        out["curve"] = reader.ReadU32(prop.nValueOffset);
    else
        out["value"] = DecodeValue(reader, prop.nValueOffset, prop.nValueSize, &info);
    return out;
}
} // namespace

json ToJson(const PackedFile& file, const CModuleView& module)
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
        curves.push_back(DecodeCurve(reader, curve, module));
    out["curves"] = curves;

    json effects = json::array();
    for (const CPackedEffectReader::Effect& effect : reader.GetEffects())
    {
        const char* pszName = reader.GetString(effect.nNameOffset);
        json keys = json::array();
        for (const CPackedEffectReader::Key& key : effect.keys)
        {
            json props = json::array();
            for (const CPackedEffectReader::Property& prop : key.props)
                props.push_back(PropertyJson(file, module, key.nTypeID, prop));
            json keyJson = {{"offset", key.nOffset},   {"typeId", key.nTypeID},
                            {"start", key.fStartTime}, {"end", key.fEndTime},
                            {"id", key.nID},           {"motionLinkId", key.nMotionLinkID},
                            {"properties", props}};
            if (module.IsLoaded())
                keyJson["type"] = module.GetTypeName(key.nTypeID);
            keys.push_back(keyJson);
        }
        effects.push_back({{"offset", effect.nOffset},
                           {"name", pszName ? json(pszName) : json(nullptr)},
                           {"lengthMs", static_cast<int32_t>(effect.nLength)},
                           {"keys", keys}});
    }
    out["effects"] = effects;

    json problems = json::array();
    for (const CPackedEffectReader::Problem& problem : reader.GetProblems())
        problems.push_back({{"offset", problem.nOffset}, {"text", problem.sText}});
    out["problems"] = problems;
    return out;
}
} // namespace fxdump
