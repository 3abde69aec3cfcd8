#include "valuetext.h"
#include "printable.h"

#include "EffectFileLoader.h"
#include "diagnostic.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* TypeName(uint32_t eType)
{
    const char* pszName = EffectTypeNameOf(eType);
    return pszName ? pszName : "None";
}

// "a Float", "an Int".
std::string Article(const char* pszName)
{
    return (std::strchr("AEIOU", pszName[0]) ? "an " : "a ") + std::string(pszName);
}

std::string Quote(const std::string& sText)
{
    return "'" + Printable(sText) + "'";
}

std::string FormatFloat(float f)
{
    // The shortest digits that read back as the same float, laid out as people write numbers:
    // "5000", "0.1", "180"; an exponent only far from 1 (as JavaScript prints numbers).
    char sz[64];
    const std::to_chars_result result = std::to_chars(sz, sz + sizeof(sz), f, std::chars_format::scientific);
    const std::string sScientific(sz, result.ptr);
    const size_t nE = sScientific.find('e');
    if (!std::isfinite(f) || nE == std::string::npos)
        return sScientific;
    const bool bNegative = sScientific[0] == '-';
    std::string sDigits;
    for (size_t i = bNegative ? 1 : 0; i < nE; ++i)
        if (sScientific[i] != '.')
            sDigits += sScientific[i];
    const int nExponent = std::atoi(sScientific.c_str() + nE + 1);
    std::string s;
    if (nExponent >= 21 || nExponent <= -7)
    {
        s = sDigits.substr(0, 1) + (sDigits.size() > 1 ? "." + sDigits.substr(1) : "") + "e" +
            (nExponent < 0 ? "-" : "+") + std::to_string(nExponent < 0 ? -nExponent : nExponent);
    }
    else if (nExponent < 0)
        s = "0." + std::string(static_cast<size_t>(-nExponent - 1), '0') + sDigits;
    else if (sDigits.size() <= static_cast<size_t>(nExponent) + 1)
        s = sDigits + std::string(static_cast<size_t>(nExponent) + 1 - sDigits.size(), '0');
    else
        s = sDigits.substr(0, static_cast<size_t>(nExponent) + 1) + "." +
            sDigits.substr(static_cast<size_t>(nExponent) + 1);
    return (bNegative ? "-" : "") + s;
}

std::string FixedName(const char* pField, size_t nSize)
{
    return std::string(pField, strnlen(pField, nSize));
}

// A value as the writer reads it through the description's type.
std::string FormatValue(const EffectPropValue& value, uint32_t eType)
{
    char sz[96];
    switch (eType)
    {
    case ePT_Int:
        return std::to_string(value.nValue);
    case ePT_Float:
        return FormatFloat(value.fValue);
    case ePT_Vector:
        return FormatFloat(value.vValue[0]) + " " + FormatFloat(value.vValue[1]) + " " +
               FormatFloat(value.vValue[2]);
    case ePT_Color:
        std::snprintf(sz, sizeof(sz), "%u %u %u %u", (value.nColor >> 16) & 0xFFu,
                      (value.nColor >> 8) & 0xFFu, value.nColor & 0xFFu, value.nColor >> 24);
        return sz;
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Animation:
    case ePT_SparkrigRef:
        return Quote(FixedName(value.szValue, sizeof(value.szValue)));
    default:
        return "nothing";
    }
}
