#include "fxdump.h"

#include "pyrixmodule.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fxdump
{
namespace
{
using json = nlohmann::json;

std::string Trim(const std::string& s)
{
    const size_t nFirst = s.find_first_not_of(" \t\r\n");
    if (nFirst == std::string::npos)
        return std::string();
    return s.substr(nFirst, s.find_last_not_of(" \t\r\n") - nFirst + 1);
}

// The enum choice at a position of a comma-separated list, as the packer counts them.
std::string EnumChoice(const std::string& sParams, uint32_t nIndex)
{
    size_t nPos = 0;
    for (uint32_t i = 0; nPos < sParams.size(); ++i)
    {
        const size_t nComma = sParams.find(',', nPos);
        const size_t nEnd = nComma == std::string::npos ? sParams.size() : nComma;
        if (i == nIndex)
            return Trim(sParams.substr(nPos, nEnd - nPos));
        if (nComma == std::string::npos)
            break;
        nPos = nComma + 1;
    }
    return std::string();
}

// JSON has no NaN or infinity: those floats become strings.
json Float(float f)
{
    if (std::isfinite(f))
        return json(static_cast<double>(f));
    return json(std::isnan(f) ? "nan" : (f > 0 ? "inf" : "-inf"));
}

json StringAt(const CPackedEffectReader& reader, uint32_t nTableOffset)
{
    const char* psz = reader.GetString(nTableOffset);
    if (!psz)
        return json{{"bad-string-offset", nTableOffset}};
    return json(std::string(psz));
}
} // namespace

std::string TypeName(uint32_t eType)
{
    static const char* const kNames[] = {"None",  "String", "Filename", "Enum",      "Int",        "Float",
                                         "Color", "Vector", "NoValue",  "Animation", "SparkrigRef"};
    return eType < sizeof(kNames) / sizeof(kNames[0]) ? kNames[eType] : "type " + std::to_string(eType);
}

json DecodeValue(const CPackedEffectReader& reader, uint32_t nOffset, uint32_t nSize,
                 const CPackedEffectReader::ValueInfo* pInfo)
{
    if (!pInfo || nSize != PackedValueSize(pInfo->eType))
    {
        json words = json::array();
        for (uint32_t i = 0; i + 4 <= nSize; i += 4)
        {
            char sz[12];
            std::snprintf(sz, sizeof(sz), "0x%08X", reader.ReadU32(nOffset + i));
            words.push_back(sz);
        }
        return words;
    }
    switch (pInfo->eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Animation:
    case ePT_SparkrigRef:
        return StringAt(reader, reader.ReadU32(nOffset));
    case ePT_Enum:
    {
        const uint32_t nIndex = reader.ReadU32(nOffset);
        return json{{"index", nIndex}, {"choice", EnumChoice(pInfo->sParams, nIndex)}};
    }
    case ePT_Int:
        return json(static_cast<int32_t>(reader.ReadU32(nOffset)));
    case ePT_Float:
        return Float(reader.ReadF32(nOffset));
    case ePT_Color:
        return json::array({Float(reader.ReadF32(nOffset)), Float(reader.ReadF32(nOffset + 4)),
                            Float(reader.ReadF32(nOffset + 8)), Float(reader.ReadF32(nOffset + 12))});
    case ePT_Vector:
        return json::array({Float(reader.ReadF32(nOffset)), Float(reader.ReadF32(nOffset + 4)),
                            Float(reader.ReadF32(nOffset + 8))});
    default:
        return json();
    }
}

json DecodeCurve(const CPackedEffectReader& reader, const CPackedEffectReader::Curve& curve)
{
    CPackedEffectReader::ValueInfo info;
    info.eType = curve.eType;
    json keys = json::array();
    uint32_t nPos = reader.GetCurveSectionOffset() + curve.nOffset + 4;
    for (uint32_t k = 0; k < curve.nNumKeys; ++k)
    {
        json key = {{"time", Float(reader.ReadF32(nPos))}};
        if (curve.nValueSize)
            key["value"] = DecodeValue(reader, nPos + 4, curve.nValueSize, &info);
        keys.push_back(key);
        nPos += 4 + curve.nValueSize;
    }
    return json{{"offset", curve.nOffset}, {"type", TypeName(curve.eType)}, {"keys", keys}};
}

bool LoadPackedFile(const std::string& sPath, PackedFile& file, std::string& sError)
{
    file.sPath = sPath;
    errno = 0;
    std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile)
    {
        sError = std::strerror(errno);
        return false;
    }
    uint8_t buffer[1 << 16];
    size_t nRead = 0;
    while ((nRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0)
        file.bytes.insert(file.bytes.end(), buffer, buffer + nRead);
    const bool bError = std::ferror(pFile) != 0;
    std::fclose(pFile);
    if (bError)
    {
        sError = "read error";
        return false;
    }
    file.bWalked = file.reader.Read(file.bytes.data(), file.bytes.size());
    return true;
}

void CheckWithModule(PackedFile& file, const CModuleView& module)
{
    if (file.bWalked && module.IsLoaded())
        file.reader.CheckValues(
            [&module](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
            { return module.Lookup(nTypeID, pszName, info); },
            module.HasNoValueCurves());
}

bool EffectFilter::Passes(const json& effect) const
{
    if (names.empty())
        return true;
    const json& name = effect["name"];
    if (!name.is_string())
        return false;
    const std::string sName = name.get<std::string>();
    for (const std::string& s : names)
        if (s == sName)
            return true;
    return false;
}
} // namespace fxdump
