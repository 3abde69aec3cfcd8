// The effect module's descriptions as data: what a validator needs to know of every type and
// property.
#include "bindings.h"

#include "EffectModule.h"
#include "EffectProperty.h"
#include "fxdump.h"

#include <cmath>
#include <cstring>

namespace embervise
{
namespace
{
using json = nlohmann::ordered_json;

std::string FixedText(const char* p, size_t nSize)
{
    return std::string(p, strnlen(p, nSize));
}

// JSON has no NaN or infinity: those floats become strings, as fxdump writes them.
json Float(float f)
{
    if (std::isfinite(f))
        return json(static_cast<double>(f));
    return std::isnan(f) ? "nan" : (f > 0 ? "inf" : "-inf");
}

// A value as the packed file holds it: colour channels as the packer's 0..1 floats.
json ValueJson(const EffectPropValue& value, uint32_t eType)
{
    switch (eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Animation:
    case ePT_SparkrigRef:
        return FixedText(value.szValue, sizeof(value.szValue));
    case ePT_Int:
        return value.nValue;
    case ePT_Float:
        return Float(value.fValue);
    case ePT_Color:
    {
        const float fScale = 0.003921569f; // the writer's constant
        const uint32_t n = value.nColor;
        return json::array({Float(static_cast<float>((n >> 16) & 0xFF) * fScale),
                            Float(static_cast<float>((n >> 8) & 0xFF) * fScale),
                            Float(static_cast<float>(n & 0xFF) * fScale),
                            Float(static_cast<float>((n >> 24) & 0xFF) * fScale)});
    }
    case ePT_Vector:
        return json::array({Float(value.vValue[0]), Float(value.vValue[1]), Float(value.vValue[2])});
    default:
        return nullptr;
    }
}

// The choices as the packer counts them: a list ending in a comma has no empty last choice.
json Choices(const std::string& sParams)
{
    json choices = json::array();
    size_t nPos = 0;
    for (uint32_t i = 0; nPos < sParams.size(); ++i)
    {
        choices.push_back(fxdump::EnumChoice(sParams, i));
        const size_t nComma = sParams.find(',', nPos);
        if (nComma == std::string::npos)
            break;
        nPos = nComma + 1;
    }
    return choices;
}

json PropertyJson(const EffectPropDesc& desc)
{
    const std::string sParams = FixedText(desc.szParams, sizeof(desc.szParams));
    json prop = {{"name", FixedText(desc.szName, sizeof(desc.szName))},
                 {"type", fxdump::TypeName(desc.eType)},
                 {"typeCode", desc.eType},
                 {"curve", desc.m_bFunctionCurve != 0},
                 {"endKey", desc.m_bCurveEndKey != 0},
                 {"params", sParams}};
    json range = nullptr;
    if (desc.eType == ePT_Int || desc.eType == ePT_Float || desc.eType == ePT_Vector)
    {
        bool bHasMin = false, bHasMax = false;
        float fMin = 0, fMax = 0;
        ParseRange(desc.szParams, bHasMin, fMin, bHasMax, fMax);
        range = json::array({bHasMin ? Float(fMin) : json(nullptr), bHasMax ? Float(fMax) : json(nullptr)});
    }
    prop["range"] = std::move(range);
    prop["choices"] = desc.eType == ePT_Enum ? Choices(sParams) : json(nullptr);
    prop["default"] = ValueJson(desc.DefaultValue, desc.eType);
    return prop;
}
} // namespace

Outcome ModuleSchema(const std::string& sPath, std::string& sJson)
{
    std::lock_guard<std::mutex> guard(EngineLock());
    CEffectModule module;
    if (!module.Load(sPath.c_str()))
        return {Failure::Module, sPath, "cannot load the effect module '" + sPath + "'"};
    json types = json::array();
    for (uint32_t i = 0; i < module.GetNumTypes(); ++i)
    {
        const EffectTypeDesc* pType = module.GetTypeDesc(i);
        if (!pType)
            continue;
        json props = json::array();
        for (uint32_t p = 0; p < pType->nNumProps; ++p)
            props.push_back(PropertyJson(pType->pProps[p]));
        types.push_back({{"name", FixedText(pType->szName, sizeof(pType->szName))},
                         {"id", pType->nTypeID},
                         {"properties", std::move(props)}});
    }
    const json out = {{"path", sPath},
                      {"libraryPath", module.GetLibraryPath()},
                      {"version", module.GetModuleVersion()},
                      {"types", std::move(types)}};
    sJson = fxdump::JsonLine(out);
    return {};
}

Outcome LocateModule(const std::string& sFile, std::string& sModule)
{
    std::lock_guard<std::mutex> guard(EngineLock());
    std::string sWhy;
    sModule = fxdump::FindModuleForFile(sFile, sWhy);
    if (sModule.empty())
        return {Failure::Module, sFile, "no effect module: " + sWhy};
    return {};
}
} // namespace embervise
