#include "EffectModule.h"
#include "modules/testmodule_log.h"
#include "test_support.h"

#include <cstring>
#include <set>
#include <tuple>

namespace
{
// Keeps a test module loaded beside the holder under test, so that its call log outlives the
// holder's handle.
struct ModuleWatch
{
    explicit ModuleWatch(const std::string& path) : hLibrary(PlatformLoadLibrary(path.c_str()))
    {
        void* pProc = hLibrary ? PlatformGetProcAddress(hLibrary, "TestModuleGetLog") : nullptr;
        PFN_TestModuleGetLog pfnGetLog = nullptr;
        std::memcpy(&pfnGetLog, &pProc, sizeof(pfnGetLog));
        pLog = pfnGetLog ? pfnGetLog() : nullptr;
    }
    ModuleWatch(const ModuleWatch&) = delete;
    ~ModuleWatch() { PlatformFreeLibrary(hLibrary); }
    PlatformLibrary hLibrary;
    const TestModuleLog* pLog;
};

void ExpectEmpty(const CEffectModule& module)
{
    EXPECT_FALSE(module.IsLoaded());
    EXPECT_EQ(module.GetModuleVersion(), 0u);
    EXPECT_EQ(module.GetNumTypes(), 0u);
    EXPECT_EQ(module.FindTypeDesc("Alpha"), nullptr);
    EXPECT_EQ(module.GetTypeDesc(0), nullptr);
}

// Which sides of a "min;max" range are given ("min", "max", "both"; "" for no range), or what is
// wrong with it: a side that is not a number, or a default outside it.
std::string RangeKind(const EffectPropDesc& desc)
{
    const std::string params = desc.szParams;
    const size_t nSemi = params.find(';');
    if (nSemi == std::string::npos)
        return params.empty() ? "" : "malformed";
    const std::string sides[2] = {params.substr(0, nSemi), params.substr(nSemi + 1)};
    const EffectPropValue& def = desc.DefaultValue;
    for (int c = 0; c < (desc.eType == ePT_Vector ? 3 : 1); ++c)
    {
        const double v = desc.eType == ePT_Int     ? def.nValue
                         : desc.eType == ePT_Float ? def.fValue
                                                   : def.vValue[c];
        for (int nSide = 0; nSide < 2; ++nSide)
        {
            char* pEnd = nullptr;
            const double bound = std::strtod(sides[nSide].c_str(), &pEnd);
            if (*pEnd != '\0')
                return "malformed";
            if (!sides[nSide].empty() && (nSide == 0 ? v < bound : v > bound))
                return "default outside";
        }
    }
    return sides[0].empty() ? "max" : sides[1].empty() ? "min" : "both";
}
} // namespace

TEST(EffectModule, LoadsTheSampleModuleAndItsDescriptionsKeepTheRules)
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
    ASSERT_TRUE(module.Load("sparkrig_sample.dll"));
    const uint32_t nNumTypes = module.GetNumTypes();
    ASSERT_EQ(nNumTypes, 10u);

    // The sample's descriptions keep the module rules and show every kind of property.
    std::set<uint32_t> ids, codes; // ids: below the type count, each once
    std::set<std::string> rangeKinds, curveKinds;
    for (uint32_t i = 0; i < nNumTypes; ++i)
    {
        const EffectTypeDesc* pType = module.GetTypeDesc(i);
        EXPECT_TRUE(pType->nTypeID < nNumTypes && ids.insert(pType->nTypeID).second) << pType->szName;
        EXPECT_EQ(module.FindTypeDesc(pType->szName), pType) << "type names are unique ignoring case";
        ASSERT_TRUE(pType->nNumProps > 0 && pType->pProps) << pType->szName;
        for (uint32_t p = 0; p < pType->nNumProps; ++p)
        {
            const EffectPropDesc& desc = pType->pProps[p];
            SCOPED_TRACE(std::string(pType->szName) + "." + desc.szName);
            for (uint32_t q = 0; q < p; ++q)
                EXPECT_STRCASENE(desc.szName, pType->pProps[q].szName);
            codes.insert(desc.eType);
            EXPECT_TRUE(desc.m_bFunctionCurve || !desc.m_bCurveEndKey);
            if (desc.m_bFunctionCurve)
                curveKinds.insert(desc.m_bCurveEndKey ? "end key" : "open");
            if (desc.eType == ePT_Int || desc.eType == ePT_Float || desc.eType == ePT_Vector)
                rangeKinds.insert(RangeKind(desc));
            const std::string choices = std::string(",") + desc.szParams + ",";
            EXPECT_TRUE(desc.eType != ePT_Enum ||
                        choices.find(std::string(",") + desc.DefaultValue.szValue + ",") != std::string::npos)
                << "an enum's default is one of its choices";
        }
    }
    EXPECT_EQ(codes, (std::set<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(rangeKinds, (std::set<std::string>{"", "min", "max", "both"}));
    EXPECT_EQ(curveKinds, (std::set<std::string>{"end key", "open"}));
}

TEST(EffectModule, EveryFailedLoadLeavesTheHolderEmpty)
{
    CEffectModule module;
    EXPECT_FALSE(module.Load(BinLibrary("no_such_module").c_str()));
    ExpectEmpty(module);

    // Module, PyrixGetInfo calls, PyrixReleaseInfo calls, whether the release gives back the info
    // handed out (else the one release call, if any, gives back null).
    const std::tuple<const char*, int, int, bool> cases[] = {
        {"testmodule_noget", 0, 1, false},    {"testmodule_norelease", 0, 0, false},
        {"testmodule_nullinfo", 1, 1, false}, {"testmodule_badid", 1, 1, true},
        {"testmodule_notable", 1, 1, true},
    };
    for (const auto& [pszModule, nGetInfoCalls, nReleaseCalls, bReleasesGivenInfo] : cases)
    {
        SCOPED_TRACE(pszModule);
        const std::string path = BinLibrary(pszModule);
        {
            ModuleWatch watch(path);
            ASSERT_NE(watch.pLog, nullptr);
            ASSERT_TRUE(module.Load(BinLibrary("sparkrig_sample").c_str()));
            EXPECT_FALSE(module.Load(path.c_str()));
            ExpectEmpty(module);
            module.Unload();

            const TestModuleLog& log = *watch.pLog;
            EXPECT_EQ(log.nGetInfoCalls, nGetInfoCalls);
            EXPECT_EQ(log.nReleaseCalls, nReleaseCalls);
            if (bReleasesGivenInfo)
            {
                EXPECT_NE(log.pLastGiven, nullptr);
                EXPECT_EQ(log.pLastReleased, log.pLastGiven);
            }
            else
                EXPECT_EQ(log.nReleaseNullCalls, nReleaseCalls);
        }
        EXPECT_FALSE(PlatformIsLibraryLoaded(path.c_str())) << "the holder kept the library";
    }
}

TEST(EffectModule, LoadReleasesWhatItHeldAndIgnoresTheResultWord)
{
    SetEnv(
        "PYRIX_TEST_MODULE_DESC",
        WriteTemp("module.desc", "version|7\nresult|0\ntype|Glow|1\nprop|Size|5|ce|0;10|1.5\ntype|GLOW|0\n")
            .c_str());
    const std::string path = BinLibrary("testmodule_table");
    ModuleWatch watch(path);
    ASSERT_NE(watch.pLog, nullptr);
    const TestModuleLog& log = *watch.pLog;
    {
        CEffectModule module;
        ASSERT_TRUE(module.Load(path.c_str()));
        EXPECT_EQ(module.GetModuleVersion(), 7u);
        ASSERT_EQ(module.GetNumTypes(), 2u);
        const EffectTypeDesc* pGlow = module.FindTypeDesc("glow");
        ASSERT_EQ(pGlow, module.GetTypeDesc(0)) << "the first of two equal names wins";
        EXPECT_EQ(pGlow->pProps[0].DefaultValue.fValue, 1.5f);
        const EffectModuleInfo* pFirstInfo = log.pLastGiven;

        ASSERT_TRUE(module.Load(BinLibrary("sparkrig_sample").c_str()));
        EXPECT_EQ(log.nReleaseCalls, 1);
        EXPECT_EQ(log.pLastReleased, pFirstInfo);
        EXPECT_EQ(module.GetNumTypes(), 10u);

        ASSERT_TRUE(module.Load(path.c_str()));
        EXPECT_EQ(log.nGetInfoCalls, 2);
    }
    EXPECT_EQ(log.nReleaseCalls, 2) << "the destructor unloads";
    EXPECT_EQ(log.pLastReleased, log.pLastGiven);
}
