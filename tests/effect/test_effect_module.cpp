#include "EffectModule.h"
#include "modules/testmodule_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace
{
#if defined(_WIN32)
const char* const kLibrarySuffix = ".dll";
#else
const char* const kLibrarySuffix = ".so";
#endif

std::string BinLibrary(const char* pszBase)
{
    return std::string(EMBERVISE_BIN_DIR) + "/" + pszBase + kLibrarySuffix;
}

// Keeps a module loaded beside the holder under test, so that its call log outlives the holder's
// handle.
class ModuleWatch
{
public:
    explicit ModuleWatch(const std::string& path) : m_hLibrary(PlatformLoadLibrary(path.c_str()))
    {
        void* pProc = m_hLibrary ? PlatformGetProcAddress(m_hLibrary, "TestModuleGetLog") : nullptr;
        PFN_TestModuleGetLog pfnGetLog = nullptr;
        std::memcpy(&pfnGetLog, &pProc, sizeof(pfnGetLog));
        m_pLog = pfnGetLog ? pfnGetLog() : nullptr;
    }
    ~ModuleWatch() { PlatformFreeLibrary(m_hLibrary); }
    const TestModuleLog& Log() const { return *m_pLog; }
    bool Valid() const { return m_pLog != nullptr; }

private:
    PlatformLibrary m_hLibrary;
    const TestModuleLog* m_pLog = nullptr;
};

// Points the table module at a description file with the given lines.
void UseTable(const char* pszLines)
{
    const std::string path = testing::TempDir() + "effect_module_table.txt";
    std::ofstream(path) << pszLines;
    setenv("PYRIX_TEST_MODULE_DESC", path.c_str(), 1);
}

void ExpectEmpty(const CEffectModule& module)
{
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(module.GetModuleVersion(), 0u);
    EXPECT_EQ(module.GetNumTypes(), 0u);
    EXPECT_EQ(module.FindTypeDesc("Alpha"), nullptr);
    EXPECT_EQ(module.GetTypeDesc(0), nullptr);
}

bool IsNumber(const std::string& text)
{
    char* pEnd = nullptr;
    std::strtod(text.c_str(), &pEnd);
    return !text.empty() && *pEnd == '\0';
}

std::string Trim(const std::string& text)
{
    const size_t nFirst = text.find_first_not_of(" \t");
    return nFirst == std::string::npos ? std::string()
                                       : text.substr(nFirst, text.find_last_not_of(" \t") - nFirst + 1);
}
} // namespace

TEST(EffectModule, LoadsTheSampleModule)
{
    CEffectModule module;
    ExpectEmpty(module);
    ASSERT_TRUE(module.Load(BinLibrary("sparkrig_sample").c_str()));
    EXPECT_TRUE(module.IsLoaded());
    EXPECT_EQ(module.GetModuleVersion(), 0x00010000u);
    ASSERT_EQ(module.GetNumTypes(), 10u);

    const EffectTypeDesc* pEmitter = module.FindTypeDesc("pARTICLEeMITTER");
    ASSERT_NE(pEmitter, nullptr);
    EXPECT_STREQ(pEmitter->szName, "ParticleEmitter");
    EXPECT_EQ(pEmitter, module.GetTypeDesc(1));
    EXPECT_EQ(module.FindTypeDesc("sprite"), module.GetTypeDesc(0));
    EXPECT_EQ(module.FindTypeDesc("Sprites"), nullptr);
    EXPECT_EQ(module.FindTypeDesc(""), nullptr);
    EXPECT_EQ(module.FindTypeDesc(nullptr), nullptr);
    EXPECT_EQ(module.GetTypeDesc(10), nullptr);

    module.Unload();
    ExpectEmpty(module);
    module.Unload();
    ExpectEmpty(module);

    // The name a project file gives: a bare ".dll" name, found beside the program.
    EXPECT_TRUE(module.Load("sparkrig_sample.dll"));
    EXPECT_EQ(module.GetNumTypes(), 10u);
}

TEST(EffectModule, SampleDescriptionsKeepTheModuleRules)
{
    CEffectModule module;
    ASSERT_TRUE(module.Load(BinLibrary("sparkrig_sample").c_str()));
    const uint32_t nNumTypes = module.GetNumTypes();
    ASSERT_GE(nNumTypes, 8u);

    std::set<uint32_t> ids, codes;
    std::set<std::string> typeNames, rangeKinds;
    bool bCurveWithEnd = false, bCurveWithoutEnd = false;
    for (uint32_t i = 0; i < nNumTypes; ++i)
    {
        const EffectTypeDesc* pType = module.GetTypeDesc(i);
        ASSERT_LT(std::strlen(pType->szName), sizeof(pType->szName));
        EXPECT_LT(pType->nTypeID, nNumTypes);
        EXPECT_TRUE(ids.insert(pType->nTypeID).second) << pType->szName;
        EXPECT_EQ(module.FindTypeDesc(pType->szName), pType) << "type names are unique ignoring case";
        ASSERT_TRUE(pType->nNumProps > 0 && pType->pProps) << pType->szName;

        std::set<std::string> propNames;
        for (uint32_t p = 0; p < pType->nNumProps; ++p)
        {
            const EffectPropDesc& desc = pType->pProps[p];
            const std::string where = std::string(pType->szName) + "." + desc.szName;
            ASSERT_LT(std::strlen(desc.szName), sizeof(desc.szName)) << where;
            ASSERT_LT(std::strlen(desc.szParams), sizeof(desc.szParams)) << where;
            std::string lower(desc.szName);
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_TRUE(propNames.insert(lower).second) << where;
            codes.insert(desc.eType);
            EXPECT_LE(desc.eType, 10u) << where;
            EXPECT_TRUE(desc.m_bFunctionCurve || !desc.m_bCurveEndKey) << where;
            bCurveWithEnd |= desc.m_bFunctionCurve && desc.m_bCurveEndKey;
            bCurveWithoutEnd |= desc.m_bFunctionCurve && !desc.m_bCurveEndKey;

            const EffectPropValue& def = desc.DefaultValue;
            const std::string params = desc.szParams;
            if (desc.eType == ePT_Int || desc.eType == ePT_Float || desc.eType == ePT_Vector)
            {
                if (params.empty())
                    continue;
                const size_t nSemi = params.find(';');
                ASSERT_NE(nSemi, std::string::npos) << where;
                const std::string lo = params.substr(0, nSemi), hi = params.substr(nSemi + 1);
                EXPECT_TRUE((lo.empty() || IsNumber(lo)) && (hi.empty() || IsNumber(hi))) << where;
                rangeKinds.insert(lo.empty() ? "max" : hi.empty() ? "min" : "both");
                const int nComponents = desc.eType == ePT_Vector ? 3 : 1;
                for (int c = 0; c < nComponents; ++c)
                {
                    const double v = desc.eType == ePT_Int     ? def.nValue
                                     : desc.eType == ePT_Float ? def.fValue
                                                               : def.vValue[c];
                    EXPECT_TRUE((lo.empty() || v >= std::atof(lo.c_str())) &&
                                (hi.empty() || v <= std::atof(hi.c_str())))
                        << where << " default outside its range";
                }
            }
            else if (desc.eType == ePT_Enum)
            {
                bool bFound = false;
                for (size_t nStart = 0; nStart <= params.size();)
                {
                    const size_t nComma = std::min(params.find(',', nStart), params.size());
                    bFound |= Trim(params.substr(nStart, nComma - nStart)) == def.szValue;
                    nStart = nComma + 1;
                }
                EXPECT_TRUE(bFound) << where << " default is not a choice";
            }
            else if (desc.eType != ePT_Color)
                EXPECT_LT(std::strlen(def.szValue), sizeof(def.szValue)) << where;
        }
    }
    EXPECT_EQ(ids.size(), nNumTypes);
    EXPECT_EQ(codes, (std::set<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(rangeKinds, (std::set<std::string>{"min", "max", "both"}));
    EXPECT_TRUE(bCurveWithEnd && bCurveWithoutEnd);
}

TEST(EffectModule, EveryFailedLoadLeavesTheHolderEmpty)
{
    CEffectModule module;
    EXPECT_FALSE(module.Load(BinLibrary("no_such_module").c_str()));
    ExpectEmpty(module);

    struct Case
    {
        const char* pszModule;
        int nGetInfoCalls;
        int nReleaseCalls;
        bool bReleasesGivenInfo; // else the one release call (if any) gives null back
    };
    const Case cases[] = {
        {"testmodule_noget", 0, 1, false},    {"testmodule_norelease", 0, 0, false},
        {"testmodule_nullinfo", 1, 1, false}, {"testmodule_badid", 1, 1, true},
        {"testmodule_notable", 1, 1, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszModule);
        const std::string path = BinLibrary(c.pszModule);
        {
            ModuleWatch watch(path);
            ASSERT_TRUE(watch.Valid());
            ASSERT_TRUE(module.Load(BinLibrary("sparkrig_sample").c_str()));
            EXPECT_FALSE(module.Load(path.c_str()));
            ExpectEmpty(module);
            module.Unload();

            const TestModuleLog& log = watch.Log();
            EXPECT_EQ(log.nGetInfoCalls, c.nGetInfoCalls);
            EXPECT_EQ(log.nReleaseCalls, c.nReleaseCalls);
            if (c.bReleasesGivenInfo)
            {
                EXPECT_NE(log.pLastGiven, nullptr);
                EXPECT_EQ(log.pLastReleased, log.pLastGiven);
            }
            else
                EXPECT_EQ(log.nReleaseNullCalls, c.nReleaseCalls);
        }
        EXPECT_FALSE(PlatformIsLibraryLoaded(path.c_str())) << "the holder kept the library";
    }
}

TEST(EffectModule, LoadReleasesWhatItHeldAndIgnoresTheResultWord)
{
    UseTable("version|7\nresult|0\ntype|Glow|1\nprop|Size|5|ce|0;10|1.5\ntype|GLOW|0\n");
    const std::string path = BinLibrary("testmodule_table");
    ModuleWatch watch(path);
    ASSERT_TRUE(watch.Valid());
    {
        CEffectModule module;
        ASSERT_TRUE(module.Load(path.c_str()));
        EXPECT_EQ(module.GetModuleVersion(), 7u);
        ASSERT_EQ(module.GetNumTypes(), 2u);
        const EffectTypeDesc* pGlow = module.FindTypeDesc("glow");
        ASSERT_EQ(pGlow, module.GetTypeDesc(0)) << "the first of two equal names wins";
        ASSERT_EQ(pGlow->nNumProps, 1u);
        const EffectPropDesc& size = pGlow->pProps[0];
        EXPECT_STREQ(size.szName, "Size");
        EXPECT_EQ(size.eType, static_cast<uint32_t>(ePT_Float));
        EXPECT_TRUE(size.m_bFunctionCurve && size.m_bCurveEndKey);
        EXPECT_STREQ(size.szParams, "0;10");
        EXPECT_EQ(size.DefaultValue.fValue, 1.5f);
        const EffectModuleInfo* pFirstInfo = watch.Log().pLastGiven;

        ASSERT_TRUE(module.Load(BinLibrary("sparkrig_sample").c_str()));
        EXPECT_EQ(watch.Log().nReleaseCalls, 1);
        EXPECT_EQ(watch.Log().pLastReleased, pFirstInfo);
        EXPECT_EQ(module.GetNumTypes(), 10u);

        ASSERT_TRUE(module.Load(path.c_str()));
        EXPECT_EQ(watch.Log().nGetInfoCalls, 2);
    }
    EXPECT_EQ(watch.Log().nReleaseCalls, 2) << "the destructor unloads";
    EXPECT_EQ(watch.Log().pLastReleased, watch.Log().pLastGiven);
}
