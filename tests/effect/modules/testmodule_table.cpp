// A test effect module whose descriptions come from a text file named by the environment variable
// PYRIX_TEST_MODULE_DESC, read afresh at every PyrixGetInfo (see README.md for the format). Each
// info handed out is owned here until PyrixReleaseInfo gives it back.
#include "pyrixmodule.h"
#include "testmodule_log.h"
#include "zqexport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
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

uint32_t Number(const std::string& text)
{
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

// The fields of a "prop" line: kind, name, type code, flags, params, default.
EffectPropDesc ParseProp(std::vector<std::string> fields)
{
    fields.resize(6);
    EffectPropDesc desc{};
    fields[1].copy(desc.szName, sizeof(desc.szName) - 1);
    desc.eType = Number(fields[2]);
    desc.m_bFunctionCurve = fields[3].find('c') != std::string::npos;
    desc.m_bCurveEndKey = fields[3].find('e') != std::string::npos;
    fields[4].copy(desc.szParams, sizeof(desc.szParams) - 1);
    EffectPropValue& value = desc.DefaultValue;
    char* p = &fields[5][0];
    switch (desc.eType)
    {
    case ePT_Int:
        value.nValue = static_cast<int32_t>(std::strtol(p, nullptr, 0));
        break;
    case ePT_Color:
        value.nColor = Number(fields[5]);
        break;
    case ePT_Float:
    case ePT_Vector:
        for (float& f : value.vValue)
            f = std::strtof(p, &p);
        break;
    case ePT_String:
    case ePT_Filename:
    case ePT_Enum:
    case ePT_Animation:
    case ePT_SparkrigRef:
        fields[5].copy(value.szValue, sizeof(value.szValue) - 1);
        break;
    default:
        break; // no value
    }
    return desc;
}

// Null when the file is missing or has a line of no known kind.
std::unique_ptr<TableModule> ReadTable(const char* pszPath, int& nResult)
{
    std::ifstream file(pszPath ? pszPath : "");
    auto pModule = std::make_unique<TableModule>();
    for (std::string line; std::getline(file, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '|');)
            fields.push_back(field);
        if (fields[0] == "version" && fields.size() == 2)
            pModule->info.nModuleVersion = Number(fields[1]);
        else if (fields[0] == "result" && fields.size() == 2)
            nResult = std::atoi(fields[1].c_str());
        else if (fields[0] == "type" && (fields.size() == 2 || fields.size() == 3))
        {
            EffectTypeDesc type{};
            fields[1].copy(type.szName, sizeof(type.szName) - 1);
            type.nTypeID = fields.size() == 3 ? Number(fields[2]) : uint32_t(pModule->types.size());
            pModule->types.push_back(type);
            pModule->props.emplace_back();
        }
        else if (fields[0] == "prop" && fields.size() >= 3 && fields.size() <= 6 && !pModule->types.empty())
            pModule->props.back().push_back(ParseProp(fields));
        else
            return nullptr;
    }
    if (!file.eof())
        return nullptr;
    for (size_t i = 0; i < pModule->types.size(); ++i)
    {
        pModule->types[i].nNumProps = static_cast<uint32_t>(pModule->props[i].size());
        pModule->types[i].pProps = pModule->props[i].empty() ? nullptr : pModule->props[i].data();
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
