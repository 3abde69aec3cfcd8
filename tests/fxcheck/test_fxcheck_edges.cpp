// fxcheck at the edges: enum choices written with blanks around them, as the loader reads them, and
// the number of findings of one code kept per file.
#include "EffectModule.h"
#include "filecheck.h"
#include "fxcheck_cases.h"
#include "test_support.h"

using namespace fxcheck_cases;

namespace
{
std::vector<Diagnostic> CheckWith(const std::string& sModule, const std::string& sText,
                                  CFindingBudget* pBudget)
{
    CModuleCache modules;
    CSourceText text;
    std::vector<Diagnostic> diags;
    CheckText(TempPath("edge.Fx00a"), sText, sModule, modules, text, diags, pBudget);
    return diags;
}

std::string LampKey(const std::string& sChoice)
{
    return "(key (type Lamp) (id 1) (track 0) (start-time 0) (end-time 10) (properties (property (name Mode) "
           "(type Enum) (value-list (value (time 0) (data " +
           sChoice + "))))))";
}
} // namespace

// A module whose choices are "  Point , Spot ": the loader finds "Spot" and "Point"; a misspelt
// choice is named against the choices without their blanks.
TEST(FxCheckEdges, EnumChoicesWithBlanks)
{
    SetEnv("PYRIX_TEST_MODULE_DESC",
           WriteTemp("lamp.desc", "type|Lamp|0\nprop|Mode|3||  Point , Spot |Point\n").c_str());
    const std::string sModule = BinLibrary("testmodule_table");
    for (const char* pszChoice : {"Spot", "Point"})
    {
        for (const Diagnostic& diag : CheckWith(sModule, kHeader + Effect(LampKey(pszChoice)), nullptr))
            ADD_FAILURE() << pszChoice << ": " << diag.sMessage;
    }
    const std::vector<Diagnostic> diags = CheckWith(sModule, kHeader + Effect(LampKey("Spto")), nullptr);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(std::string(diags[0].GetCode()), "enum-invalid");
    EXPECT_EQ(diags[0].sMessage, "'Spto' is not a choice of 'Mode' (  Point , Spot ); the default 'Point' is "
                                 "packed; did you mean 'Spot'?");
    SetEnv("PYRIX_TEST_MODULE_DESC", "");
}

// With a limit of 3: three unknown properties of five are kept and two counted, per code and file;
// a limit of 0 keeps all.
TEST(FxCheckEdges, FindingsKeptUpToTheLimit)
{
    std::string sProperties = "(properties";
    for (int i = 0; i < 5; ++i)
        sProperties += " (property (name Sise" + std::to_string(i) + ") (type Float))";
    const std::string sText = kHeader + Effect(Key(sProperties + ")"));
    for (const uint64_t nLimit : {3u, 4u, 5u, 0u})
    {
        CFindingBudget budget(nLimit);
        const std::vector<Diagnostic> diags = CheckWith(BinLibrary("sparkrig_sample"), sText, &budget);
        size_t nKept = 0;
        for (const Diagnostic& diag : diags)
            nKept += diag.eCode == DiagCode::UnknownProperty;
        const uint64_t nExpectKept = nLimit == 0 ? 5 : std::min<uint64_t>(nLimit, 5);
        EXPECT_EQ(nKept, nExpectKept) << nLimit;
        EXPECT_EQ(budget.Omitted(DiagCode::UnknownProperty), 5 - nExpectKept) << nLimit;
    }
    EXPECT_EQ(OmittedLine("a.Fx00a", DiagCode::TrailingText, 1749998),
              "fxcheck: 1,749,998 more [trailing-text] findings in a.Fx00a");
    EXPECT_EQ(OmittedLine("a.Fx00a", DiagCode::TrailingText, 1),
              "fxcheck: 1 more [trailing-text] finding in a.Fx00a");
}

// A property that is not a function curve keeps its earliest value: findings about the others say
// they are dropped, not what they would be packed as; a type mismatch names the bytes of the value
// kept, though a dropped one comes first in the file.
TEST(FxCheckEdges, FindingsAboutADroppedValueClaimNoPackedResult)
{
    const std::string sText =
        kHeader +
        Effect(Key("(properties "
                   "(property (name FrameRate) (type Float) (value-list (value (time 0.5) (data 500)) "
                   "(value (time 0.2) (data 2)) (value (time 0.9) (data abc)))) "
                   "(property (name BlendMode) (type Enum) (value-list (value (time 0) (data Additive)) "
                   "(value (time 1) (data Opaqe)))) "
                   "(property (name FrameCount) (type Float) (value-list (value (time 1) (data 7.5)) "
                   "(value (time 0) (data 3)))))"));
    std::vector<std::string> messages;
    for (const Diagnostic& diag : CheckWith(BinLibrary("sparkrig_sample"), sText, nullptr))
        if (diag.eCode != DiagCode::ValueDropped)
            messages.push_back(std::string(diag.GetCode()) + ": " + diag.sMessage);
    const auto dropped = [](const std::string& sProp)
    {
        return "; the value is dropped: '" + sProp +
               "' is not a function curve and keeps only its earliest value";
    };
    const std::vector<std::string> expected = {
        "value-clamped: 500 is outside the range '0;120' of 'FrameRate'" + dropped("FrameRate"),
        "not-a-number: 'abc' is not a number" + dropped("FrameRate"),
        "enum-invalid: 'Opaqe' is not a choice of 'BlendMode' (Additive,AlphaBlend,Opaque)" +
            dropped("BlendMode") + "; did you mean 'Opaque'?",
        // 3.0f is 0x40400000 and 7.5f 0x40F00000 read as integers.
        "type-mismatch: property 'FrameCount' is an Int, not a Float; the value is read as Float and its "
        "bytes "
        "packed as Int: 1077936128",
        "value-clamped: 1089470464 is outside the range '1;64' of 'FrameCount'" + dropped("FrameCount"),
        "value-clamped: 1077936128 is outside the range '1;64' of 'FrameCount'; it is packed as 64"};
    EXPECT_EQ(messages, expected);
}
