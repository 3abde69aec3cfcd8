#include "valuetext.h"
#include "printable.h"

#include "EffectFileLoader.h"
#include "diagnostic.h"

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
    char sz[64];
    std::snprintf(sz, sizeof(sz), "%.9g", static_cast<double>(f));
    // The shortest text that reads back as the same float.
    for (int nDigits = 1; nDigits <= 9; ++nDigits)
    {
        char szTry[64];
        std::snprintf(szTry, sizeof(szTry), "%.*g", nDigits, static_cast<double>(f));
        if (static_cast<float>(std::strtod(szTry, nullptr)) == f || std::isnan(f))
            return szTry;
    }
    return sz;
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
