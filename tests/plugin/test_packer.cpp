#include "EffectPacker.h"
#include "plugin_test_support.h"

extern "C" IPacker* AssociatePacker(const char* pszFileName);

TEST(Packer, ClaimsEffectSourcesByExtension)
{
    IPacker* pPacker = AssociatePacker("D:\\fx\\smoke.FX00A");
    ASSERT_NE(pPacker, nullptr);
    EXPECT_EQ(pPacker, &GetEffectPacker());
    for (const char* pszName : {"smoke.fx00c", "a.b.Fx00c", "fx/fire/smoke.Fx00a"})
        EXPECT_EQ(AssociatePacker(pszName), pPacker) << pszName;
    for (const char* pszName :
         {"smoke.Fx00p", "smoke.Fx00ab", "smoke", "smoke.", "D:\\fx.Fx00a\\smoke", "fx.Fx00c/x"})
        EXPECT_EQ(AssociatePacker(pszName), nullptr) << pszName;
    EXPECT_EQ(AssociatePacker(nullptr), nullptr);
    EXPECT_TRUE(pPacker->CanPack(1, 2, 3));
}

TEST(Packer, GetNameCopiesBoundedAndReportsTruncationOnce)
{
    CRecordingTripwire tripwire;
    char szName[64];
    std::memset(szName, 'x', sizeof(szName));
    EXPECT_TRUE(GetEffectPacker().GetName(szName, sizeof(szName)));
    EXPECT_STREQ(szName, "Embervise");
    EXPECT_TRUE(tripwire.Take().empty());

    EXPECT_TRUE(GetEffectPacker().GetName(szName, 5));
    EXPECT_STREQ(szName, "Embe");
    EXPECT_TRUE(GetEffectPacker().GetName(nullptr, 64));
    EXPECT_EQ(tripwire.Take(),
              (Texts{"nBufferChars > ZQStrLen(pSrc)|ZQStrCpy|ZQStrCpy : Copy source is truncated",
                     " [Forced Assert]|ZQStrCpy|ZQStrCpy: Invalid destination buffer provided"}));
}

TEST(Packer, DeclaresTwoDisplayEntries)
{
    // Copies what it keeps while AddOption runs, as a host must.
    struct CRecordingOptionList : IPackerOptionList
    {
        bool AddOption(CPackerOption* p, const char* pszGroup) override
        {
            m_Entries.push_back(
                std::string(pszGroup) + "|" + p->m_pszName + "|" + std::to_string(p->m_nKind) + "|" +
                std::to_string(p->GetOptionType()) + (p->m_pszDescription ? "|desc" : "") +
                (p->m_bEnabled && p->LoadValue(1, 2) && p->SaveValue(3, 4) ? "|ok" : "|fail"));
            return false;
        }
        Texts m_Entries;
    } list;
    EXPECT_TRUE(GetEffectPacker().DeclareOptions(&list));
    EXPECT_EQ(list.m_Entries, (Texts{"Common|Fx Settings|1|4|ok", "Common|Separator|4|4|ok"}));
}
