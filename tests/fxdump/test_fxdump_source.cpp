// The file source under every view: reads through a cache of pages, never the whole file.
#include "fxdump.h"
#include "test_support.h"

#include <fstream>

namespace
{
using fxdump::CFileSource;

// Page p of the file holds the byte p (plus nShift) throughout.
std::string Pages(size_t nPages, char nShift)
{
    std::string s;
    for (size_t p = 0; p < nPages; ++p)
        s.append(CFileSource::PAGE_SIZE, static_cast<char>(p + nShift));
    return s;
}
} // namespace

TEST(FxdumpFileSource, CacheKeepsTheRecentPagesAndDropsTheOldest)
{
#if defined(_WIN32)
    GTEST_SKIP() << "the file is rewritten while it is open";
#endif
    const size_t nPages = CFileSource::NUM_PAGES + 1;
    const std::string sPath = WriteFile(TempPath("pages.bin"), Pages(nPages, 0));
    CFileSource source;
    std::string sError;
    ASSERT_TRUE(source.Open(sPath, sError)) << sError;
    EXPECT_EQ(nPages * CFileSource::PAGE_SIZE, source.GetSize());
    // Every page once, in order: the last one read takes the place of page 0. A read across a
    // page boundary joins both.
    char c = 0;
    for (size_t p = 0; p < nPages; ++p)
    {
        ASSERT_TRUE(source.ReadAt(p * CFileSource::PAGE_SIZE + 7, &c, 1));
        EXPECT_EQ(static_cast<char>(p), c);
    }
    char two[2] = {};
    ASSERT_TRUE(source.ReadAt(2 * CFileSource::PAGE_SIZE - 1, two, 2));
    EXPECT_EQ(1, two[0]);
    EXPECT_EQ(2, two[1]);

    // The file changes on disk: cached pages still answer from memory, the dropped one is read anew.
    {
        std::ofstream out(sPath, std::ios::binary | std::ios::in);
        const std::string sNew = Pages(nPages, 100);
        out.write(sNew.data(), static_cast<std::streamsize>(sNew.size()));
    }
    for (size_t p = 1; p < nPages; ++p)
    {
        ASSERT_TRUE(source.ReadAt(p * CFileSource::PAGE_SIZE + 9, &c, 1));
        EXPECT_EQ(static_cast<char>(p), c) << "page " << p << " was dropped";
    }
    ASSERT_TRUE(source.ReadAt(3, &c, 1));
    EXPECT_EQ(100, c) << "page 0 was kept";
}
