// What the Windows functions answer, as plain tables that every implementation of the platform
// layer must reproduce. Expected paths are written with PS, the separator the layer produces.
#pragma once

#include "zqplatform.h"

#include <cstdint>

#if defined(_WIN32)
#define PS "\\"
#else
#define PS "/"
#endif
static_assert(PS[0] == PLATFORM_PATH_SEP, "PS is the separator the platform layer produces");

// Profile files: every case reads the one file below (written once with CRLF, once with LF line ends).
constexpr const char* kProfileLines[] = {
    "top=before",
    "[General]",
    "  Game = My Game  ",
    "Quoted=\"  spaced  \"",
    "Single='x'",
    "Mixed=\"abc'",
    "  ; Commented=yes",
    "NoEquals",
    "game=second",
    "Empty=",
    "Long=abcdefghij",
    "[ Spaced Section ] trailing words",
    "k=v",
    "[general]",
    "Game=third",
    "Other=only in the second General",
    "[Tabs]",
    "\tKey\t=\tval ue\t",
};

struct ProfileCase
{
    const char* pszSection;
    const char* pszKey;
    const char* pszDefault;
    uint32_t nSize;
    const char* pszExpected; // the answer is its length
};

constexpr ProfileCase kProfileCases[] = {
    {"general", "GAME", "d", 64, "My Game"}, // first section and first key win, names ignore case
    {"General", "Quoted", "d", 64, "  spaced  "},
    {"General", "Single", "d", 64, "x"},
    {"General", "Mixed", "d", 64, "\"abc'"},
    {"General", "Commented", "d", 64, "d"},
    {"General", "NoEquals", "d", 64, "d"},
    {"General", "Empty", "d", 64, ""},
    {"General", "Long", "d", 5, "abcd"},
    {"General", "Long", "d", 11, "abcdefghij"},
    {"General", "Long", "d", 1, ""},
    {"General", "Quoted", "d", 12, "  spaced  "},
    {"General", "Quoted", "d", 11, "  spaced "}, // a quoted value that just fits loses its last character
    {"General", "Quoted", "d", 4, "  s"},
    {"General", "Single", "d", 2, ""},
    {"spaced section", "K", "d", 64, "v"},
    {"General", "Other", "d", 64, "d"}, // a later section of the same name is never read
    {"Tabs", "key", "d", 64, "val ue"},
    {"", "top", "d", 64, "before"}, // keys above the first section
    {"General", "Missing", "default  ", 64, "default"},
    {"General", "Missing", "default", 4, "def"},
    {"Nowhere", "Game", "d", 64, "d"},
};

// Canonicalization. A null expectation means the call fails.
struct CanonicalizeCase
{
    const char* pszPath;
    const char* pszExpected;
};

constexpr const char kLongPath[] =
    "c:\\aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "\\bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"
    "\\ccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccc\\..\\..\\..\\d";
static_assert(sizeof(kLongPath) > PLATFORM_MAX_PATH, "the long path does not fit");

constexpr CanonicalizeCase kCanonicalizeCases[] = {
    {"/a/./b", PS "a" PS "b"},
    {"\\a\\b\\..\\c", PS "a" PS "c"},
    {"/a/b/..", PS "a"},
    {"/a/b/../", PS "a" PS},
    {"/a/b/./", PS "a" PS "b" PS},
    {"\\..\\a", PS "a"},
    {"/a/../../b", PS "b"},
    {"c:\\a\\..\\b", "c:" PS "b"},
    {"c:/a/./b\\..\\c", "c:" PS "a" PS "c"},
    {"c:\\..", "c:" PS},
    {"c:\\a\\b\\c\\..\\..\\..\\..\\d", "c:" PS "d"},
    {"c:", "c:" PS},
    {"a\\.\\b", "a" PS "b"},
    {".\\a", "a"},
    {"a/b/c/../../d", "a" PS "d"},
    {"", PS},
    {"a\\b..\\.c\\d", "a" PS "b.." PS ".c" PS "d"},
    // Relative paths: ".." that backs up to the start makes the rest rooted; a leading ".." and a
    // trailing "." stay.
    {"a/../b", PS "b"},
    {"a\\b\\..\\..\\c", PS "c"},
    {"..\\a", ".." PS "a"},
    {".", "."},
    {"c:\\a\\.", "c:" PS "a" PS "."},
    {"c:.\\a", "c:a"},
    {"a\\...\\b", PS PS "b"},
    {"\\\\srv\\share\\..\\..\\x", PS PS "srv" PS "x"}, // the server stays
    {kLongPath, nullptr},
};

#if !defined(_WIN32)
// A ".." that ends the path and backs up to its start: Windows reads past the end of the path there
// and answers what happens to lie in memory; the POSIX layer stops at the end and answers the root.
constexpr CanonicalizeCase kPosixCanonicalizeCases[] = {
    {"a\\b\\..\\..", PS},
    {"\\..", PS},
    {"a/..", PS},
};
#endif

// Pattern search in a folder holding the files below. Patterns follow the folder's path; a null
// expectation means nothing matches.
constexpr const char* kFindFiles[] = {
    "Zeta.proj00",      "alpha.PROJ00", "_under.proj00",
    "data.proj001",     "short.proj0",  "readme.txt",
    "Sub/inner.proj00", "noext",        "Aaa.proj00/folder named like a locator",
};

struct FindCase
{
    const char* pszPattern;
    const char* pszExpected;
};

constexpr FindCase kFindCases[] = {
    {"/*.proj00", "alpha.PROJ00"}, // the first of several in upper-case order; folders never match
    {"\\*", "alpha.PROJ00"},       // neither "." nor ".."
    {"\\Aaa.proj00", nullptr},
    {"\\*.PROJ00", "alpha.PROJ00"},
    {"\\?ETA.proj00", "Zeta.proj00"},
    {"/_*", "_under.proj00"},
    {"\\*.proj0", "short.proj0"},
    {"\\*.TXT", "readme.txt"},
    {"\\Sub\\*.proj00", "inner.proj00"},
    {"/Sub/inner.*", "inner.proj00"},
    {"\\data.proj00", nullptr},
    {"\\*.proj0?", "alpha.PROJ00"},
    {"/*.txt.", "readme.txt"}, // dots and spaces that end a pattern go
    {"\\readme.TXT. .", "readme.txt"},
    {"\\noext.", "noext"},
    {"\\NoExt.*", "noext"}, // ".*" also matches no extension
    {"\\readme.?", nullptr},
    {"\\*.none", nullptr},
    {"\\NoSuchFolder\\*.proj00", nullptr},
};
