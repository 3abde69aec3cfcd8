// A test effect module whose descriptions come from a text file named by the environment variable
// PYRIX_TEST_MODULE_DESC, read afresh at every PyrixGetInfo (see README.md for the format). Each
// info handed out is owned here until PyrixReleaseInfo gives it back.
#include "pyrixmodule.h"
#include "testmodule_log.h"
#include "zqexport.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace
{
struct TableModule
{
    EffectModuleInfo info{};
    std::vector<EffectTypeDesc> types;
    std::vector<std::vector<EffectPropDesc>> props; // one list per type
};

TestModuleLog s_Log;
std::vector<std::unique_ptr<TableModule>> s_Live;

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> fields;
    size_t nStart = 0;
    for (;;)
    {
        const size_t nBar = line.find('|', nStart);
        fields.push_back(line.substr(nStart, nBar == std::string::npos ? std::string::npos : nBar - nStart));
        if (nBar == std::string::npos)
            return fields;
        nStart = nBar + 1;
    }
}

void CopyText(char* pDest, size_t nSize, const std::string& text)
{
    const size_t nLen = std::min(text.size(), nSize - 1);
    std::memcpy(pDest, text.data(), nLen);
    pDest[nLen] = '\0';
}

bool ParseUnsigned(const std::string& text, uint32_t& nOut)
{
    char* pEnd = nullptr;
    errno = 0;
    const unsigned long nValue = std::strtoul(text.c_str(), &pEnd, 0);
    if (text.empty() || *pEnd != '\0' || errno != 0 || nValue > 0xFFFFFFFFul)
        return false;
    nOut = static_cast<uint32_t>(nValue);
    return true;
}

bool ParseFloats(const std::string& text, float* pOut, int nCount)
{
    const char* p = text.c_str();
    for (int i = 0; i < nCount; ++i)
    {
        char* pEnd = nullptr;
        pOut[i] = std::strtof(p, &pEnd);
        if (pEnd == p)
            return false;
        p = pEnd;
    }
    return *p == '\0';
}

bool ParseDefault(EffectPropDesc& desc, const std::string& text)
{
    EffectPropValue& value = desc.DefaultValue;
    switch (desc.eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Animation:
    case ePT_SparkrigRef:
        CopyText(value.szValue, sizeof(value.szValue), text);
        return true;
    case ePT_Int:
    {
        char* pEnd = nullptr;
        const long nValue = std::strtol(text.c_str(), &pEnd, 0);
        value.nValue = static_cast<int32_t>(nValue);
        return !text.empty() && *pEnd == '\0';
    }
    case ePT_Float:
        return ParseFloats(text, &value.fValue, 1);
    case ePT_Color:
        return ParseUnsigned(text, value.nColor);
    case ePT_Vector:
        return ParseFloats(text, value.vValue, 3);
    default:
        return true; // no value to parse
    }
}

// A "prop" line: name, type code, flags ("c" curve, "e" end key), params, default.
bool ParseProp(const std::vector<std::string>& fields, EffectPropDesc& desc)
{
    if (fields.size() < 3 || fields.size() > 6)
        return false;
    desc = EffectPropDesc{};
    CopyText(desc.szName, sizeof(desc.szName), fields[1]);
    if (!ParseUnsigned(fields[2], desc.eType))
        return false;
    if (fields.size() > 3)
    {
        for (char c : fields[3])
        {
            if (c == 'c')
                desc.m_bFunctionCurve = 1;
            else if (c == 'e')
                desc.m_bCurveEndKey = 1;
            else
                return false;
        }
    }
    if (fields.size() > 4)
        CopyText(desc.szParams, sizeof(desc.szParams), fields[4]);
    return fields.size() < 6 || fields[5].empty() || ParseDefault(desc, fields[5]);
}

// Null when the file is missing or malformed, or asks for a null info.
std::unique_ptr<TableModule> ReadTable(const char* pszPath, int& nResult)
{
    if (!pszPath)
        return nullptr;
    std::ifstream file(pszPath);
    if (!file)
        return nullptr;

    auto pModule = std::make_unique<TableModule>();
    std::vector<uint32_t> ids;
    std::string line;
    while (std::getline(file, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = Split(line);
        const std::string& kind = fields[0];
        if (kind == "version" && fields.size() == 2)
        {
            if (!ParseUnsigned(fields[1], pModule->info.nModuleVersion))
                return nullptr;
        }
        else if (kind == "result" && fields.size() == 2)
            nResult = std::atoi(fields[1].c_str());
        else if (kind == "info" && fields.size() == 2 && fields[1] == "null")
            return nullptr;
        else if (kind == "type" && (fields.size() == 2 || fields.size() == 3))
        {
            EffectTypeDesc type{};
            CopyText(type.szName, sizeof(type.szName), fields[1]);
            type.nTypeID = static_cast<uint32_t>(pModule->types.size());
            if (fields.size() == 3 && !ParseUnsigned(fields[2], type.nTypeID))
                return nullptr;
            pModule->types.push_back(type);
            pModule->props.emplace_back();
        }
        else if (kind == "prop" && !pModule->types.empty())
        {
            EffectPropDesc desc;
            if (!ParseProp(fields, desc))
                return nullptr;
            pModule->props.back().push_back(desc);
        }
        else
            return nullptr;
    }

    for (size_t i = 0; i < pModule->types.size(); ++i)
    {
        std::vector<EffectPropDesc>& props = pModule->props[i];
        pModule->types[i].nNumProps = static_cast<uint32_t>(props.size());
        pModule->types[i].pProps = props.empty() ? nullptr : props.data();
    }
    pModule->info.nNumTypes = static_cast<uint32_t>(pModule->types.size());
    pModule->info.pTypes = pModule->types.empty() ? nullptr : pModule->types.data();
    return pModule;
}
} // namespace

extern "C" ZQ_EXPORT const TestModuleLog* TestModuleGetLog()
{
    return &s_Log;
}

extern "C" ZQ_EXPORT int PyrixGetInfo(EffectModuleInfo** ppInfo)
{
    ++s_Log.nGetInfoCalls;
    int nResult = 1;
    std::unique_ptr<TableModule> pModule = ReadTable(std::getenv("PYRIX_TEST_MODULE_DESC"), nResult);
    *ppInfo = pModule ? &pModule->info : nullptr;
    s_Log.pLastGiven = *ppInfo;
    if (!pModule)
        return 0;
    s_Live.push_back(std::move(pModule));
    return nResult;
}

extern "C" ZQ_EXPORT void PyrixReleaseInfo(EffectModuleInfo* pInfo)
{
    ++s_Log.nReleaseCalls;
    if (!pInfo)
        ++s_Log.nReleaseNullCalls;
    s_Log.pLastReleased = pInfo;
    s_Live.erase(std::remove_if(s_Live.begin(), s_Live.end(),
                                [pInfo](const std::unique_ptr<TableModule>& p) { return &p->info == pInfo; }),
                 s_Live.end());
}
