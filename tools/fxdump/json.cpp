// The JSON document of a packed file. It is made in parts, the file's facts and then one effect at
// a time, so that every output can be written while the effects are walked.
#include "fxdump.h"

#include "pyrixmodule.h"

#include <cmath>

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

namespace
{
// The effects' JSON, written record by record as the file is walked: the same bytes as EffectJson
// dumped, without building it.
class CJsonWriter : public IRecordVisitor
{
public:
    CJsonWriter(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
        : m_Reader(file.reader), m_Module(module), m_Filter(filter), m_pOut(pOut)
    {
        m_sOut.reserve(2 * kFlushSize);
    }
    ~CJsonWriter() override { Flush(0); }

    bool OnEffect(const CPackedEffectReader::Effect& effect, uint32_t) override
    {
        if (!m_Filter.Passes(m_Reader, effect.nNameOffset))
            return false;
        m_sOut += m_bFirst ? "{\"offset\":" : ",{\"offset\":";
        m_bFirst = false;
        AppendJsonNumber(m_sOut, uint64_t(effect.nOffset));
        m_sOut += ',';
        AppendMember("name", effect.nNameOffset);
        m_sOut += ",\"lengthMs\":";
        AppendJsonNumber(m_sOut, int64_t(static_cast<int32_t>(effect.nLength)));
        m_sOut += ",\"keys\":[";
        m_bFirstKey = true;
        return true;
    }

    void OnKey(const CPackedEffectReader::Key& key, uint32_t) override
    {
        m_sOut += m_bFirstKey ? "{\"offset\":" : ",{\"offset\":";
        m_bFirstKey = false;
        AppendJsonNumber(m_sOut, uint64_t(key.nOffset));
        m_sOut += ",\"typeId\":";
        AppendJsonNumber(m_sOut, uint64_t(key.nTypeID));
        m_sOut += ",\"start\":";
        AppendJsonNumber(m_sOut, static_cast<double>(key.fStartTime));
        m_sOut += ",\"end\":";
        AppendJsonNumber(m_sOut, static_cast<double>(key.fEndTime));
        m_sOut += ",\"id\":";
        AppendJsonNumber(m_sOut, uint64_t(key.nID));
        m_sOut += ",\"motionLinkId\":";
        AppendJsonNumber(m_sOut, uint64_t(key.nMotionLinkID));
        m_sOut += ",\"properties\":[";
        m_bFirstProp = true;
        Flush(kFlushSize);
    }

    void OnProperty(const CPackedEffectReader::Key& key, const CPackedEffectReader::Property& prop) override
    {
        m_sOut += m_bFirstProp ? "{\"offset\":" : ",{\"offset\":";
        m_bFirstProp = false;
        AppendJsonNumber(m_sOut, uint64_t(prop.nOffset));
        m_sOut += ',';
        AppendMember("name", prop.nNameOffset);
        CPackedEffectReader::ValueInfo info;
        if (!m_Module.IsLoaded() || !m_Reader.GetName(prop.nNameOffset, m_sText) ||
            !m_Module.Lookup(key.nTypeID, m_sText.c_str(), info))
        {
            m_sOut += ',';
            AppendValue("raw", ReadValue(m_Reader, prop.nValueOffset, prop.nValueSize, nullptr));
        }
        else
        {
            m_sOut += ',';
            AppendJsonMember(m_sOut, "type", TypeName(info.eType));
            m_sOut += ',';
            if (!info.bFunctionCurve)
                AppendValue("value", ReadValue(m_Reader, prop.nValueOffset, prop.nValueSize, &info));
            else
                AppendCurve(m_Reader.ReadU32(prop.nValueOffset), info.eType);
        }
        m_sOut += '}';
        Flush(kFlushSize);
    }

    void OnKeyEnd(const CPackedEffectReader::Key& key) override
    {
        m_sOut += ']';
        if (m_Module.IsLoaded())
        {
            m_sOut += ',';
            AppendJsonMember(m_sOut, "type", m_Module.GetTypeName(key.nTypeID));
        }
        m_sOut += '}';
    }

    void OnEffectEnd(const CPackedEffectReader::Effect&) override
    {
        m_sOut += "]}";
        Flush(kFlushSize);
    }

private:
    void Flush(size_t nAbove) { FlushAbove(m_sOut, m_pOut, nAbove); }

    // The member "key":string at a table offset (or null); true when there is one.
    bool AppendMember(const char* pszKey, uint32_t nTableOffset)
    {
        const bool bString = AppendJsonTableMember(m_sOut, pszKey, m_Reader, nTableOffset, m_pOut);
        Flush(kFlushSize);
        return bString;
    }

    // JSON has no NaN or infinity: those floats become strings.
    void AppendFloat(float f)
    {
        if (std::isfinite(f))
            AppendJsonNumber(m_sOut, static_cast<double>(f));
        else
            m_sOut += std::isnan(f) ? "\"nan\"" : (f > 0 ? "\"inf\"" : "\"-inf\"");
    }

    // The member "key":value, as ValueJson gives it.
    void AppendValue(const char* pszKey, const PackedValue& value)
    {
        if (value.eKind == PackedValue::TEXT)
        {
            AppendMember(pszKey, value.nWord);
            return;
        }
        m_sOut += '"';
        m_sOut += pszKey;
        m_sOut += "\":";
        switch (value.eKind)
        {
        case PackedValue::RAW:
            m_sOut += '[';
            for (uint32_t i = 0; i + 4 <= value.nSize; i += 4)
                m_sOut += Format(i ? ",\"0x%08X\"" : "\"0x%08X\"", m_Reader.ReadU32(value.nOffset + i));
            m_sOut += ']';
            break;
        case PackedValue::BAD_TEXT:
            m_sOut += "{\"bad-string-offset\":";
            AppendJsonNumber(m_sOut, uint64_t(value.nWord));
            m_sOut += '}';
            break;
        case PackedValue::CHOICE:
            m_sOut += "{\"index\":";
            AppendJsonNumber(m_sOut, uint64_t(value.nWord));
            m_sOut += ',';
            AppendJsonMember(m_sOut, "choice", value.sChoice);
            m_sOut += '}';
            break;
        case PackedValue::INT:
            AppendJsonNumber(m_sOut, int64_t(static_cast<int32_t>(value.nWord)));
            break;
        case PackedValue::FLOATS:
        case PackedValue::COLOR:
            if (value.eKind == PackedValue::FLOATS && value.nFloats == 1)
            {
                AppendFloat(value.afFloats[0]);
                break;
            }
            m_sOut += '[';
            for (uint32_t i = 0; i < value.nFloats; ++i)
            {
                if (i)
                    m_sOut += ',';
                AppendFloat(value.afFloats[i]);
            }
            m_sOut += ']';
            break;
        default:
            m_sOut += "null";
        }
    }

    void AppendCurve(uint32_t nCurve, uint32_t eType)
    {
        m_sOut += "\"curve\":";
        AppendJsonNumber(m_sOut, uint64_t(nCurve));
        CPackedEffectReader::ValueInfo info;
        info.eType = eType;
        const uint32_t nValueSize = PackedValueSize(eType);
        const size_t nAt = m_sOut.size();
        m_sOut += ",\"points\":[";
        bool bFirst = true;
        const bool bFits = ForEachCurvePoint(
            m_Reader, nCurve, eType,
            [&](float fTime, uint32_t nValueOffset)
            {
                m_sOut += bFirst ? "{\"time\":" : ",{\"time\":";
                bFirst = false;
                AppendFloat(fTime);
                if (nValueSize)
                {
                    m_sOut += ',';
                    AppendValue("value", ReadValue(m_Reader, nValueOffset, nValueSize, &info));
                }
                m_sOut += '}';
                Flush(kFlushSize);
            });
        if (bFits)
            m_sOut += ']';
        else
            m_sOut.resize(nAt);
    }

    const CPackedEffectReader& m_Reader;
    const CModuleView& m_Module;
    const EffectFilter& m_Filter;
    std::FILE* m_pOut;
    std::string m_sOut;
    std::string m_sText;
    bool m_bFirst = true, m_bFirstKey = true, m_bFirstProp = true;
};
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
    // Strings of a damaged or non-UTF-8 file must not stop the listing, nor lose their bytes.
    json exact = value;
    AddJsonBytes(exact);
    return exact.dump(-1, ' ', false, json::error_handler_t::replace);
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
    std::string sOut;
    for (uint32_t nPos = 0, nStart = 0; file.reader.NextString(nPos, nStart);)
    {
        sOut += nStart ? ",{\"offset\":" : "{\"offset\":";
        AppendJsonNumber(sOut, uint64_t(nStart));
        sOut += ',';
        AppendJsonTableMember(sOut, "text", file.reader, nStart, pOut);
        sOut += '}';
        if (sOut.size() >= (1 << 16))
        {
            std::fwrite(sOut.data(), 1, sOut.size(), pOut);
            sOut.clear();
        }
    }
    std::fwrite(sOut.data(), 1, sOut.size(), pOut);
    std::fputs("],\"effects\":[", pOut);
    {
        CJsonWriter writer(file, module, filter, pOut);
        WalkEffects(file, module, writer);
    }
    std::fputs(("],\"problems\":" + JsonLine(ProblemsJson(file)) + "}\n").c_str(), pOut);
}
} // namespace fxdump
