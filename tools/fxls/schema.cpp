#include "schema.h"

#include "EffectFileLoader.h"
#include "EffectModule.h"
#include "EffectProperty.h"
#include "ZQNumbers.h"
#include "valuetext.h"
#include "zqstrutils.h"

#include <cmath>
#include <cstring>

std::string TypeDescName(const EffectTypeDesc& type)
{
    return FixedName(type.szName, sizeof(type.szName));
}

std::string PropDescName(const EffectPropDesc& prop)
{
    return FixedName(prop.szName, sizeof(prop.szName));
}

const EffectPropDesc* FindPropDesc(const EffectTypeDesc& type, const std::string& sName)
{
    for (uint32_t i = 0; type.pProps && i < type.nNumProps; ++i)
    {
        if (ZQStrICmp(PropDescName(type.pProps[i]).c_str(), sName.c_str()) == 0)
            return &type.pProps[i];
    }
    return nullptr;
}

std::vector<std::string> EnumChoices(const EffectPropDesc& prop)
{
    return EnumChoiceList(FixedName(prop.szParams, sizeof(prop.szParams)));
}

std::string ValueTypeName(const EffectPropDesc& prop)
{
    return TypeName(prop.eType);
}

namespace
{
bool HasRange(uint32_t eType)
{
    return eType == ePT_Int || eType == ePT_Float || eType == ePT_Vector;
}

// A bound as people write it: "1000", not "1e+03"; still the shortest text that reads back the same.
std::string RangeText(const EffectPropDesc& prop)
{
    bool bHasMin = false, bHasMax = false;
    float fMin = 0, fMax = 0;
    ParseRange(prop.szParams, bHasMin, fMin, bHasMax, fMax);
    if (!bHasMin && !bHasMax)
        return std::string();
    if (bHasMin && bHasMax)
        return FormatFloat(fMin) + " to " + FormatFloat(fMax);
    return bHasMin ? "at least " + FormatFloat(fMin) : "at most " + FormatFloat(fMax);
}
} // namespace

std::string PropSummary(const EffectPropDesc& prop)
{
    std::string s = ValueTypeName(prop);
    if (HasRange(prop.eType))
    {
        const std::string sRange = RangeText(prop);
        if (!sRange.empty())
            s += (sRange.find(" to ") != std::string::npos ? ", range " : ", ") + sRange;
    }
    if (prop.eType != ePT_None && prop.eType != ePT_NoValue)
        s += ", default " + FormatValue(prop.DefaultValue, prop.eType);
    if (prop.m_bFunctionCurve)
        s += prop.m_bCurveEndKey ? ", function curve (with an end value at time 1)" : ", function curve";
    return s;
}

std::string DescribeType(const EffectTypeDesc& type)
{
    std::string s = "**" + TypeDescName(type) + "** — effect type, id " + std::to_string(type.nTypeID) +
                    ", " + std::to_string(type.nNumProps) + " properties\n";
    for (uint32_t i = 0; type.pProps && i < type.nNumProps; ++i)
        s += "\n- `" + PropDescName(type.pProps[i]) + "`: " + PropSummary(type.pProps[i]);
    return s;
}

std::string DescribeProperty(const EffectTypeDesc& type, const EffectPropDesc& prop)
{
    std::string s = "**" + PropDescName(prop) + "** — property of " + TypeDescName(type) + "\n\n" +
                    "- value type: " + ValueTypeName(prop);
    if (HasRange(prop.eType))
    {
        const std::string sRange = RangeText(prop);
        s += "\n- range: " + (sRange.empty() ? std::string("any") : sRange);
    }
    if (prop.eType != ePT_None && prop.eType != ePT_NoValue)
        s += "\n- default: " + FormatValue(prop.DefaultValue, prop.eType);
    else
        s += "\n- carries no value: nothing written for it is packed";
    s += std::string("\n- function curve: ") +
         (prop.m_bFunctionCurve ? (prop.m_bCurveEndKey ? "yes, with an end value at time 1" : "yes")
                                : "no (only the earliest value counts)");
    if (prop.eType == ePT_Enum)
    {
        s += "\n- choices:";
        const std::vector<std::string> choices = EnumChoices(prop);
        for (size_t i = 0; i < choices.size(); ++i)
            s += (i ? ", " : " ") + std::string("`") + choices[i] + "` (" + std::to_string(i) + ")";
    }
    return s;
}

std::string PackedNote(const EffectPropDesc& prop, const std::string& sFileType,
                       const std::vector<std::string>& atoms)
{
    uint32_t eFileType = ePT_None;
    if (!TypeFromName(sFileType.c_str(), eFileType))
        eFileType = ePT_None;
    if (eFileType == ePT_None || prop.eType == ePT_None || prop.eType == ePT_NoValue)
        return std::string();
    const size_t nNeeded = AtomsForType(eFileType);
    if (atoms.size() < nNeeded)
        return "the value is skipped: a " + std::string(TypeName(eFileType)) + " needs " +
               std::to_string(nNeeded) + " elements";
    EffectPropertyKey key;
    std::memset(&key, 0, sizeof(key));
    EffectPropValue& value = key.Value;
    switch (eFileType)
    {
    case ePT_Int:
        value.nValue = ZQAtoI(atoms[0].c_str());
        break;
    case ePT_Float:
        value.fValue = static_cast<float>(ZQAtoF(atoms[0].c_str()));
        break;
    case ePT_Vector:
        for (int i = 0; i < 3; ++i)
            value.vValue[i] = static_cast<float>(ZQAtoF(atoms[static_cast<size_t>(i)].c_str()));
        break;
    case ePT_Color:
    {
        uint32_t anChannels[4];
        for (size_t i = 0; i < 4; ++i)
            anChannels[i] = static_cast<uint32_t>(ZQAtoI(atoms[i].c_str())) & 0xFFu;
        value.nColor = (anChannels[3] << 24) | (anChannels[0] << 16) | (anChannels[1] << 8) | anChannels[2];
        break;
    }
    default:
        ZQStrCpy(value.szValue, atoms[0].substr(0, sizeof(value.szValue) - 1).c_str(), sizeof(value.szValue));
        break;
    }
    // What normalisation does, by the packer's own property code.
    // Compared as the property keeps values (its type's own view of them).
    CEffectProperty property(&prop);
    property.AddKey(key);
    const std::optional<EffectPropertyKey> pBefore = property.GetKey(0);
    property.ClampToRange();
    property.ValidateEnum();
    const std::optional<EffectPropertyKey> pAfter = property.GetKey(0);
    const std::string sWritten = FormatValue(key.Value, prop.eType);
    if (!pAfter || !pBefore)
        return std::string();
    const std::string sPacked = FormatValue(pAfter->Value, prop.eType);
    if (std::memcmp(&pAfter->Value, &pBefore->Value, sizeof(key.Value)) != 0)
    {
        if (prop.eType == ePT_Enum)
            return "not a choice: the default " + sPacked + " is packed";
        return "clamped to " + sPacked + " (range " + RangeText(prop) + ")";
    }
    if (prop.eType != eFileType)
        return "read as " + std::string(TypeName(eFileType)) + ", its bytes packed as " +
               ValueTypeName(prop) + ": " + sPacked;
    return "packed as " + sPacked;
}
