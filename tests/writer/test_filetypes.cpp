#include "FileExtension.h"
#include "ResourceFileTypes.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string Packed(const char* pszSource, bool bExpectKnown)
{
    char szOut[260];
    EXPECT_EQ(GetPackedResourceName(pszSource, szOut, sizeof(szOut)), bExpectKnown) << pszSource;
    return szOut;
}

std::string WithExtension(std::string sName, const char* pszExt)
{
    EXPECT_TRUE(SetExtension(sName, pszExt));
    return sName;
}
} // namespace

TEST(FileExtension, FindAndSetTheExtensionOfTheLastComponent)
{
    EXPECT_EQ(FindExtension("a.b.Fx00c"), 4);
    EXPECT_EQ(FindExtension("smoke."), 6); // the terminator: an empty extension
    EXPECT_EQ(FindExtension("smoke"), -1);
    EXPECT_EQ(FindExtension("D:\\fx.Fx00a\\smoke"), -1);
    EXPECT_EQ(FindExtension("fx.old/smoke"), -1);
    EXPECT_EQ(FindExtension(nullptr), -1);

    EXPECT_EQ(WithExtension("D:\\out\\smoke.Fx00a", "Fx00p"), "D:\\out\\smoke.Fx00p");
    EXPECT_EQ(WithExtension("D:\\dir.old\\smoke", "Fx00p"), "D:\\dir.old\\smoke.Fx00p");
    EXPECT_EQ(WithExtension("smoke.", "Fx00p"), "smoke.Fx00p");
}

TEST(ResourceFileTypes, MapsSourceNamesToPackedNames)
{
    EXPECT_EQ(Packed("tex\\fire.TEXTURE00A", true), "tex\\fire.dds");
    EXPECT_EQ(Packed("models\\tree.Model00c", true), "models\\tree.Model00p");
    EXPECT_EQ(Packed("w/level.world00A", true), "w/level.World00p");
    EXPECT_EQ(Packed("anims\\spark.TxAnm00a", true), "anims\\spark.TxAnm00");
    EXPECT_EQ(Packed("db\\items.Gamdb00s", true), "db\\items.Gamdb00p");
    EXPECT_EQ(Packed("db\\text.STRDB00S", true), "db\\text.Strdb00p");
    EXPECT_EQ(Packed("fx\\smoke.Fx00c", true), "fx\\smoke.Fx00p");
    // Known types that keep their name, in the case it was written in.
    EXPECT_EQ(Packed("snd\\boom.WAV", true), "snd\\boom.WAV");
    EXPECT_EQ(Packed("movies\\intro.bik", true), "movies\\intro.bik");
    EXPECT_EQ(Packed("m.mat00", true), "m.mat00");
    // Unknown types and names without an extension stay as they are.
    EXPECT_EQ(Packed("db\\items.Gamdb00a", false), "db\\items.Gamdb00a");
    EXPECT_EQ(Packed("tex\\fire", false), "tex\\fire");
    EXPECT_EQ(Packed("tex.old\\fire", false), "tex.old\\fire");
}
