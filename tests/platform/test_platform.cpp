#include "platform_cases.h"
#include "test_support.h"
#include "zqfiles.h"
#include "zqplatform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#if !defined(_WIN32)
#include <pwd.h>
#include <unistd.h>
#endif

namespace
{
int FormatInto(char* pszOut, size_t nSize, const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const int nCount = PlatformVSNPrintF(pszOut, nSize, pszFormat, args);
    va_end(args);
    return nCount;
}

} // namespace

TEST(PlatformProfile, AnswersEveryCaseWithCrLfAndLfLines)
{
    for (const char* pszLineEnd : {"\r\n", "\n"})
    {
        std::string sText;
        for (const char* pszLine : kProfileLines)
            sText += std::string(pszLine) + pszLineEnd;
        WriteFile(TempPath("game.proj00"), sText);
        const std::string sFile = TempPath("game.proj00");
        for (const ProfileCase& c : kProfileCases)
        {
            SCOPED_TRACE(std::string(c.pszSection) + "/" + c.pszKey + " size " + std::to_string(c.nSize));
            char szOut[64];
            std::memset(szOut, 'Z', sizeof(szOut));
            EXPECT_EQ(std::strlen(c.pszExpected),
                      PlatformGetProfileString(c.pszSection, c.pszKey, c.pszDefault, szOut, c.nSize,
                                               sFile.c_str()));
            EXPECT_STREQ(c.pszExpected, szOut);
        }
    }

    // Files around the sizes of read buffers, each ending in the last character of its value.
    for (size_t nSize : {4095, 4096, 4097, 8193})
    {
        const std::string sTail = "\n[Project Binaries]\nSparkrig=bin/fx.dll";
        const std::string sFile =
            WriteTemp("big.proj00", ";" + std::string(nSize - 1 - sTail.size(), 'x') + sTail);
        ASSERT_EQ(fs::file_size(sFile), nSize);
        char szValue[64];
        EXPECT_EQ(10u, PlatformGetProfileString("Project Binaries", "Sparkrig", "", szValue, sizeof(szValue),
                                                sFile.c_str()))
            << nSize;
        EXPECT_STREQ("bin/fx.dll", szValue) << nSize;
    }

    char szOut[16];
    const std::string sMissing = TempPath("missing.proj00");
    EXPECT_EQ(3u, PlatformGetProfileString("General", "Game", "def", szOut, sizeof(szOut), sMissing.c_str()));
    EXPECT_STREQ("def", szOut);
}

TEST(PlatformCanonicalize, AnswersEveryCase)
{
    auto check = [](const CanonicalizeCase& c)
    {
        SCOPED_TRACE(c.pszPath);
        char szOut[PLATFORM_MAX_PATH];
        EXPECT_EQ(c.pszExpected != nullptr, PlatformPathCanonicalize(szOut, c.pszPath));
        if (c.pszExpected)
        {
            EXPECT_STREQ(c.pszExpected, szOut);
        }
    };
    for (const CanonicalizeCase& c : kCanonicalizeCases)
        check(c);
#if !defined(_WIN32)
    for (const CanonicalizeCase& c : kPosixCanonicalizeCases)
        check(c);
#endif
}

TEST(PlatformFind, AnswersEveryCase)
{
    for (const char* pszFile : kFindFiles)
        WriteFile(TempPath(pszFile), "x");
    for (const FindCase& c : kFindCases)
    {
        SCOPED_TRACE(c.pszPattern);
        const std::string sPattern = TempDir().string() + c.pszPattern;
        char szName[PLATFORM_MAX_PATH] = "junk";
        EXPECT_EQ(c.pszExpected != nullptr, PlatformFindFirstFile(sPattern.c_str(), szName, sizeof(szName)));
        EXPECT_STREQ(c.pszExpected ? c.pszExpected : "", szName);
    }
    // A name that does not fit is no answer.
    char szSmall[8];
    EXPECT_FALSE(PlatformFindFirstFile((TempDir().string() + "/*.txt").c_str(), szSmall, sizeof(szSmall)));
}

TEST(PlatformLibrary, LoadsByWindowsNameFindsExportsAndCountsReferences)
{
    EXPECT_EQ(nullptr, PlatformLoadLibrary("NoSuchLibrary.dll"));
    EXPECT_FALSE(PlatformIsLibraryLoaded("NoSuchLibrary.dll"));
    EXPECT_FALSE(PlatformIsLibraryLoaded("platform_testlib.dll"));

    PlatformLibrary hLibrary = PlatformLoadLibrary("platform_testlib.dll");
    ASSERT_NE(nullptr, hLibrary);
    EXPECT_TRUE(PlatformIsLibraryLoaded("platform_testlib.dll"));
    EXPECT_TRUE(PlatformIsLibraryLoaded("platform_testlib"));
    auto pfnAnswer = reinterpret_cast<int (*)()>(PlatformGetProcAddress(hLibrary, "PlatformTestLibAnswer"));
    ASSERT_NE(nullptr, pfnAnswer);
    EXPECT_EQ(42, pfnAnswer());
    EXPECT_EQ(nullptr, PlatformGetProcAddress(hLibrary, "NoSuchExport"));

    // The same library by a path with a folder, and by the name without an extension.
    PlatformLibrary hByPath = PlatformLoadLibrary(".\\platform_testlib.DLL");
    PlatformLibrary hBare = PlatformLoadLibrary("platform_testlib");
    EXPECT_EQ(hLibrary, hByPath);
    EXPECT_EQ(hLibrary, hBare);
    PlatformFreeLibrary(hByPath);
    PlatformFreeLibrary(hBare);
    EXPECT_TRUE(PlatformIsLibraryLoaded("platform_testlib.dll"));
    PlatformFreeLibrary(hLibrary);
    EXPECT_FALSE(PlatformIsLibraryLoaded("platform_testlib.dll"));
    PlatformFreeLibrary(nullptr);
}

// What a folder search takes for a library is what loading by the Windows name opens.
TEST(PlatformLibrary, KnowsItsLibraryFileNames)
{
    char szFile[64];
    ASSERT_TRUE(PlatformLibraryFileName("dir/Module.dll", szFile, sizeof(szFile)));
    EXPECT_TRUE(PlatformIsLibraryFileName(szFile)) << szFile;
    for (const char* pszName : {"module.txt", "module", "", "module.dll.bak", "module.so.1"})
        EXPECT_FALSE(PlatformIsLibraryFileName(pszName)) << pszName;
#if defined(_WIN32)
    EXPECT_TRUE(PlatformIsLibraryFileName("MODULE.DLL"));
    EXPECT_FALSE(PlatformIsLibraryFileName(".dll"));
    EXPECT_FALSE(PlatformIsLibraryFileName("module.so"));
#else
    EXPECT_TRUE(PlatformIsLibraryFileName("libmodule.so"));
    EXPECT_FALSE(PlatformIsLibraryFileName("module.SO"));
    EXPECT_FALSE(PlatformIsLibraryFileName(".so"));
    EXPECT_FALSE(PlatformIsLibraryFileName("module.dll"));
#endif
}

TEST(PlatformTempName, NamesAFreshFileWithThePrefix)
{
    char szFirst[PLATFORM_MAX_PATH];
    char szSecond[PLATFORM_MAX_PATH];
    ASSERT_TRUE(PlatformTempName("c:\\no such folder", "zqa", szFirst, sizeof(szFirst)));
    ASSERT_TRUE(PlatformTempName("c:\\no such folder", "zqa", szSecond, sizeof(szSecond)));
    EXPECT_STRNE(szFirst, szSecond);
    for (const char* pszName : {szFirst, szSecond})
    {
        EXPECT_EQ(0u, fs::path(pszName).filename().string().rfind("zqa", 0)) << pszName;
        EXPECT_TRUE(fs::is_directory(fs::path(pszName).parent_path())) << pszName;
        EXPECT_FALSE(fs::exists(pszName)) << pszName;
    }
#if !defined(_WIN32)
    // _tempnam on Windows prefers the TMP folder to the one given.
    ASSERT_TRUE(PlatformTempName(TempDir().string().c_str(), "zqa", szFirst, sizeof(szFirst)));
    EXPECT_EQ(TempDir(), fs::path(szFirst).parent_path());
#endif
    EXPECT_FALSE(PlatformTempName(nullptr, "zqa", szFirst, 4));
}

TEST(PlatformReplaceFile, ReplacesTheTargetInOneStep)
{
    WriteFile(TempPath("new.tmp"), "new");
    WriteFile(TempPath("packed.Fx00p"), "old");
    const std::string sFrom = TempPath("new.tmp");
    const std::string sTo = TempPath("packed.Fx00p");
    ASSERT_TRUE(PlatformReplaceFile(sFrom.c_str(), sTo.c_str()));
    EXPECT_FALSE(fs::exists(sFrom));
    std::string sText;
    std::ifstream(sTo) >> sText;
    EXPECT_EQ("new", sText);
    // A missing source leaves the target as it was.
    EXPECT_FALSE(PlatformReplaceFile(sFrom.c_str(), sTo.c_str()));
    EXPECT_TRUE(fs::exists(sTo));
#if !defined(_WIN32)
    // A backslash is a character of a POSIX name.
    const std::string sOddFrom = WriteTemp("fx\\new.tmp", "odd"), sOddTo = TempPath("fx\\odd.Fx00p");
    ASSERT_TRUE(PlatformReplaceFile(sOddFrom.c_str(), sOddTo.c_str()));
    EXPECT_EQ(ReadFile(sOddTo), "odd");
    EXPECT_FALSE(fs::exists(sOddFrom));
#endif
}

TEST(PlatformFolders, ListEveryEntryWithItsKindAndTouchWithoutMovingTheFolder)
{
    const std::string sFolder = TempPath("listed");
    WriteFile(sFolder + "/a.Fx00a", "a");
    fs::create_directories(sFolder + "/sub");
    std::map<std::string, PlatformEntryKind> entries;
    const auto collect = [](void* pContext, const char* pszName, PlatformEntryKind eKind)
    { (*static_cast<std::map<std::string, PlatformEntryKind>*>(pContext))[pszName] = eKind; };
#if !defined(_WIN32)
    fs::create_symlink("sub", sFolder + "/link");
#endif
    ASSERT_TRUE(PlatformListFolder(sFolder.c_str(), collect, &entries));
    std::map<std::string, PlatformEntryKind> expected = {{"a.Fx00a", ENTRY_FILE}, {"sub", ENTRY_FOLDER}};
#if !defined(_WIN32)
    expected["link"] = ENTRY_LINK; // never followed to the folder it names
#endif
    EXPECT_EQ(expected, entries);
    entries.clear();
    ASSERT_TRUE(PlatformListFolder((sFolder + "/sub").c_str(), collect, &entries));
    EXPECT_TRUE(entries.empty());
    errno = 0;
    EXPECT_FALSE(PlatformListFolder((sFolder + "/missing").c_str(), collect, &entries));
    EXPECT_EQ(ENOENT, errno);
    EXPECT_FALSE(PlatformListFolder((sFolder + "/a.Fx00a").c_str(), collect, &entries));

    // A touch moves the file's write time forward and leaves its folder's alone.
    const auto old = fs::last_write_time(sFolder + "/a.Fx00a") - std::chrono::hours(2);
    fs::last_write_time(sFolder + "/a.Fx00a", old);
#if !defined(_WIN32)
    fs::last_write_time(sFolder, old);
#endif
    ASSERT_TRUE(PlatformTouchFile((sFolder + "/a.Fx00a").c_str()));
    EXPECT_GT(fs::last_write_time(sFolder + "/a.Fx00a"), old + std::chrono::hours(1));
#if !defined(_WIN32)
    EXPECT_EQ(old, fs::last_write_time(sFolder));
#endif
    EXPECT_FALSE(PlatformTouchFile((sFolder + "/missing").c_str()));
}

TEST(PlatformStrings, CompareFormatAndCurrentDirectory)
{
    EXPECT_EQ(0, PlatformStrICmp("Game.PROJ00", "game.proj00"));
    EXPECT_LT(PlatformStrICmp("abc", "ABD"), 0);
    EXPECT_LT(PlatformStrICmp("ab", "AbC"), 0);
    EXPECT_LT(PlatformStrICmp("[", "a"), 0); // folded to lower case, not upper
#if !defined(_WIN32)
    EXPECT_GT(PlatformStrICmp("\xE9", "z"), 0); // bytes compare unsigned (Wine's msvcrt compares signed)
#endif

    char szOut[8];
    std::memset(szOut, 'Z', sizeof(szOut));
    EXPECT_EQ(3, FormatInto(szOut, 5, "%d", 123));
    EXPECT_STREQ("123", szOut);
    std::memset(szOut, 'Z', sizeof(szOut));
    EXPECT_EQ(5, FormatInto(szOut, 5, "%s", "abcde")); // exactly full: no terminator
    EXPECT_EQ(0, std::memcmp(szOut, "abcdeZ", 6));
    std::memset(szOut, 'Z', sizeof(szOut));
    EXPECT_LT(FormatInto(szOut, 5, "%s", "abcdefg"), 0); // does not fit: the first 5 characters
    EXPECT_EQ(0, std::memcmp(szOut, "abcdeZ", 6));

    char szDir[PLATFORM_MAX_PATH];
    ASSERT_TRUE(PlatformGetCurrentDirectory(szDir, sizeof(szDir)));
    EXPECT_EQ(fs::current_path(), fs::path(szDir));
    EXPECT_FALSE(PlatformGetCurrentDirectory(szDir, 2));
}

#if !defined(_WIN32)
TEST(PlatformDebugBreakDeathTest, RaisesATrap)
{
    EXPECT_EXIT(PlatformDebugBreak(), testing::KilledBySignal(SIGTRAP), "");
}
#endif

// The owner's account name is looked up only for a file of another user: the user's own and the
// system's files never show it.
TEST(PlatformOwnership, NamesOnlyAnotherUsersAccount)
{
#if defined(_WIN32)
    GTEST_SKIP() << "ownership is not checked on Windows";
#else
    const std::string sFile = WriteTemp("owned/mine.txt", "x");
    PlatformOwnership owner;
    ASSERT_TRUE(PlatformGetOwnership(sFile.c_str(), &owner));
    EXPECT_TRUE(owner.bKnown);
    EXPECT_TRUE(owner.bOwnedByUser);
    EXPECT_EQ(geteuid() == 0, owner.bOwnedBySystem);
    EXPECT_STREQ("", owner.szOwnerName);
    if (!GiveToAnotherUser(sFile))
        GTEST_SKIP() << "giving a file to another user needs root";
    ASSERT_TRUE(PlatformGetOwnership(sFile.c_str(), &owner));
    EXPECT_FALSE(owner.bOwnedByUser);
    EXPECT_FALSE(owner.bOwnedBySystem);
    EXPECT_EQ(65534u, owner.nOwnerId);
    const passwd* pEntry = getpwuid(65534);
    EXPECT_STREQ(pEntry ? pEntry->pw_name : "", owner.szOwnerName);
#endif
}
