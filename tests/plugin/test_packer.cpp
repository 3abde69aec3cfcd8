#include "EffectPacker.h"
#include "plugin_test_support.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

extern "C" IPacker* AssociatePacker(const char* pszFileName);

TEST(Packer, ClaimsEffectSourcesByExtension)
{
    IPacker* pPacker = AssociatePacker("D:\\fx\\smoke.FX00A");
    ASSERT_NE(pPacker, nullptr);
    EXPECT_EQ(pPacker, &GetEffectPacker());
    for (const char* pszName : {"smoke.fx00c", "a.b.Fx00c", "fx/fire/smoke.Fx00a"})
        EXPECT_EQ(AssociatePacker(pszName), pPacker) << pszName;
    for (const char* pszName : {"smoke.Fx00p", "smoke.Fx00ab", "smoke", "smoke.", "D:\\fx.Fx00a\\smoke",
                                "fx.Fx00c/smoke", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(AssociatePacker(pszName), nullptr) << (pszName ? pszName : "(null)");
}

TEST(Packer, GetNameCopiesBoundedAndReportsTruncationOnce)
{
    CRecordingTripwire tripwire;
    ZQSetAssertManagerForTesting(&tripwire);
    IPacker& packer = GetEffectPacker();

    char szName[64];
    std::memset(szName, 'x', sizeof(szName));
    EXPECT_TRUE(packer.GetName(szName, sizeof(szName)));
    EXPECT_STREQ(szName, "Embervise");
    EXPECT_TRUE(tripwire.m_Reports.empty());

    char szShort[6] = "zzzzz";
    EXPECT_TRUE(packer.GetName(szShort, 5));
    EXPECT_STREQ(szShort, "Embe");
    ASSERT_EQ(tripwire.m_Reports.size(), 1u);
    EXPECT_EQ(tripwire.m_Reports[0].sExpression, "nBufferChars > ZQStrLen(pSrc)");
    EXPECT_EQ(tripwire.m_Reports[0].sMessage, "ZQStrCpy : Copy source is truncated");

    EXPECT_TRUE(packer.GetName(nullptr, 64));
    ASSERT_EQ(tripwire.m_Reports.size(), 2u);
    EXPECT_EQ(tripwire.m_Reports[1].sMessage, "ZQStrCpy: Invalid destination buffer provided");
    EXPECT_TRUE(packer.CanPack(1, 2, 3));
    ZQSetAssertManagerForTesting(nullptr);
}

// Copies each entry while AddOption runs, as a host must.
class CRecordingOptionList : public IPackerOptionList
{
public:
    bool AddOption(CPackerOption* pOption, const char* pszGroup) override
    {
        m_Entries.push_back(std::string(pszGroup) + "|" + (pOption->m_pszName ? pOption->m_pszName : "(null)") + "|" +
                            std::to_string(pOption->m_nKind) + "|" + std::to_string(pOption->GetOptionType()) + "|" +
                            (pOption->m_pszDescription ? "desc" : "nodesc") + "|" +
                            (pOption->m_bEnabled ? "on" : "off") + "|" +
                            (pOption->LoadValue(1, 2) && pOption->SaveValue(3, 4) ? "ok" : "fail"));
        return false;
    }
    std::vector<std::string> m_Entries;
};

TEST(Packer, DeclaresTwoDisplayEntries)
{
    CRecordingOptionList list;
    EXPECT_TRUE(GetEffectPacker().DeclareOptions(&list));
    EXPECT_EQ(list.m_Entries,
              (std::vector<std::string>{"Common|Fx Settings|1|4|nodesc|on|ok", "Common|Separator|4|4|nodesc|on|ok"}));

    CPackerDisplayOption option("a", 7, "b");
    EXPECT_STREQ(option.m_pszDescription, "b");
    EXPECT_TRUE(option.SetDescription(nullptr));
    EXPECT_EQ(option.m_pszDescription, nullptr);
    EXPECT_TRUE(option.SetName("longer name"));
    EXPECT_STREQ(option.m_pszName, "longer name");
}
