// fxdump's views hold no more than a few pages of a file whatever its shape: one effect of very
// many keys and one key of very many properties are written record by record. Every allocation
// of this program is counted (operator new is replaced), and the peak of the bytes held while a
// view runs stays under a bound far below what the effect takes when held whole.
#include "fxdump.h"
#include "test_support.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

namespace
{
std::atomic<bool> g_bCounting{false};
std::atomic<int64_t> g_nHeld{0};
std::atomic<int64_t> g_nPeak{0};

// Each block starts with its size and whether it was counted.
constexpr size_t kHead = 2 * sizeof(std::max_align_t) > 16 ? 2 * sizeof(std::max_align_t) : 16;

void* Allocate(size_t nBytes)
{
    auto* p = static_cast<unsigned char*>(std::malloc(nBytes + kHead));
    if (!p)
        throw std::bad_alloc();
    const bool bCounted = g_bCounting.load();
    reinterpret_cast<size_t*>(p)[0] = nBytes;
    reinterpret_cast<size_t*>(p)[1] = bCounted;
    if (bCounted)
    {
        const int64_t nHeld = g_nHeld += static_cast<int64_t>(nBytes);
        for (int64_t nPeak = g_nPeak.load(); nHeld > nPeak && !g_nPeak.compare_exchange_weak(nPeak, nHeld);)
        {
        }
    }
    return p + kHead;
}

void Free(void* pBlock)
{
    if (!pBlock)
        return;
    auto* p = static_cast<unsigned char*>(pBlock) - kHead;
    if (reinterpret_cast<size_t*>(p)[1])
        g_nHeld -= static_cast<int64_t>(reinterpret_cast<size_t*>(p)[0]);
    std::free(p);
}
} // namespace

void* operator new(size_t n)
{
    return Allocate(n);
}
void* operator new[](size_t n)
{
    return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    try
    {
        return Allocate(n);
    }
    catch (...)
    {
        return nullptr;
    }
}
void* operator new[](size_t n, const std::nothrow_t& tag) noexcept
{
    return operator new(n, tag);
}
void operator delete(void* p) noexcept
{
    Free(p);
}
void operator delete[](void* p) noexcept
{
    Free(p);
}
void operator delete(void* p, size_t) noexcept
{
    Free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    Free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    Free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Free(p);
}

namespace
{
constexpr uint32_t kKeys = 300000;  // each with one property
constexpr uint32_t kProps = 600000; // of the last key
constexpr int64_t kBound = 6 << 20;

// One effect "Big" of kKeys + 1 keys of type 0 (id i, 0 s to 1 s): each of the first holds one
// property P = i, the last kProps of them = 0. Strings at 44, the effect at 52, no curves.
std::string BigFile()
{
    const uint32_t nIndex = 52 + 12 + kKeys * 36 + 24 + kProps * 12;
    Bytes bytes = Words({0x5846515A, 2, 0x10000, 8, 0, kKeys + 1, 1, 1, 44, nIndex, kKeys + 1});
    const char strings[] = "Big\0P\0\0\0";
    bytes.insert(bytes.end(), strings, strings + 8);
    bytes.reserve(nIndex + 4);
    const auto put = [&bytes](std::initializer_list<uint32_t> words)
    {
        const Bytes more = Words(words);
        bytes.insert(bytes.end(), more.begin(), more.end());
    };
    put({0, 1000, kKeys + 1});
    for (uint32_t i = 0; i < kKeys; ++i)
    {
        put({0, 0, 0x3F800000, i, 0, 1});
        put({4, static_cast<uint32_t>(bytes.size()) + 12, i});
    }
    put({0, 0, 0x3F800000, kKeys, 0, kProps});
    for (uint32_t i = 0; i < kProps; ++i)
        put({4, static_cast<uint32_t>(bytes.size()) + 12, 0});
    put({0});
    return WriteFile(TempPath("big.Fx00p"), bytes);
}

// Runs a view with the allocations counted; the peak of the bytes held meanwhile.
int64_t PeakOf(const std::function<void()>& view)
{
    g_nHeld = 0;
    g_nPeak = 0;
    g_bCounting = true;
    view();
    g_bCounting = false;
    return g_nPeak.load();
}

size_t Count(const std::string& sText, const std::string& sWhat)
{
    size_t n = 0;
    for (size_t nAt = sText.find(sWhat); nAt != std::string::npos; nAt = sText.find(sWhat, nAt + 1))
        ++n;
    return n;
}
} // namespace

// Writes a view of a file with the allocations counted; the peak of the bytes held meanwhile.
int64_t ViewPeak(const std::string& sView, const std::string& sFile, const std::string& sOut)
{
    static const fxdump::CModuleView s_none;
    static const fxdump::EffectFilter s_all;
    return PeakOf(
        [&]()
        {
            fxdump::PackedFile file;
            std::string sError;
            ASSERT_TRUE(fxdump::LoadPackedFile(sFile, file, sError)) << sError;
            ASSERT_TRUE(file.bWalked);
            std::FILE* pOut = std::fopen(sOut.c_str(), "wb");
            ASSERT_TRUE(pOut);
            if (sView == "text")
                fxdump::WriteText(file, s_none, s_all, pOut);
            else if (sView == "json")
                fxdump::WriteJson(file, s_none, s_all, pOut);
            else
                fxdump::WriteCsv(file, s_none, s_all, pOut);
            std::fclose(pOut);
        });
}

TEST(FxdumpMemory, HugeEffectAndKeyAreWrittenWithinABound)
{
    const std::string sFile = BigFile();
    for (const char* pszView : {"text", "json", "csv"})
    {
        const std::string sOut = TempPath(std::string("big.") + pszView);
        const int64_t nPeak = ViewPeak(pszView, sFile, sOut);
        EXPECT_LT(nPeak, kBound) << pszView;
        const std::string sText = ReadFile(sOut);
        if (pszView[0] == 't')
        {
            EXPECT_NE(std::string::npos,
                      sText.find("effects:\n  effect \"Big\", 1000 ms, 300001 keys\n"
                                 "    key 0: type 0, 0 s to 1 s, motion link 0, 1 properties\n"
                                 "      P = (0x00000000)\n"
                                 "    key 1: type 0, 0 s to 1 s, motion link 0, 1 properties\n"
                                 "      P = (0x00000001)\n"));
            EXPECT_NE(std::string::npos,
                      sText.find("      P = (0x000493DF)\n" // key 299999
                                 "    key 300000: type 0, 0 s to 1 s, motion link 0, 600000 properties\n"));
            EXPECT_EQ(size_t(kKeys + kProps), Count(sText, "\n      P = (0x"));
        }
        else if (pszView[0] == 'j')
        {
            EXPECT_NE(
                std::string::npos,
                sText.find("\"effects\":[{\"offset\":52,\"name\":\"Big\",\"lengthMs\":1000,\"keys\":[{"
                           "\"offset\":64,\"typeId\":0,\"start\":0.0,\"end\":1.0,\"id\":0,\"motionLinkId\":0,"
                           "\"properties\":[{\"offset\":88,\"name\":\"P\",\"raw\":[\"0x00000000\"]}]},"));
            EXPECT_EQ(size_t(kKeys + kProps), Count(sText, "\"raw\":[\"0x"));
        }
        else
            EXPECT_EQ("", sText); // without a module no curve is decoded
    }

    // The whole check with a module: P is a float of type 0.
    const int64_t nPeak = PeakOf(
        [&]()
        {
            fxdump::PackedFile file;
            std::string sError;
            ASSERT_TRUE(fxdump::LoadPackedFile(sFile, file, sError));
            file.reader.CheckValues(
                [](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
                {
                    info.eType = 5;
                    return nTypeID == 0 && std::string(pszName) == "P";
                },
                false);
            EXPECT_TRUE(file.reader.GetProblems().empty());
        });
    EXPECT_LT(nPeak, kBound);
}

TEST(FxdumpMemory, HugeNameIsWrittenWithinABound)
{
    // One effect without keys named by a 12 MB string; an "e" with an acute accent (C3 A9)
    // straddles the first 4096 bytes, where the string is read in pieces.
    const std::string sName = std::string(4095, 'a') + "\xC3\xA9" + std::string((12 << 20) - 4097, 'a');
    const uint32_t nTable = static_cast<uint32_t>(sName.size() + 4) & ~3u;
    Bytes bytes = Words({0x5846515A, 2, 0x10000, nTable, 0, 0, 1, 1, 44, 44 + nTable + 12, 0});
    bytes.insert(bytes.end(), sName.begin(), sName.end());
    bytes.resize(44 + nTable, 0);
    const Bytes tail = Words({0, 0, 0, 0});
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    const std::string sFile = WriteFile(TempPath("name.Fx00p"), bytes);
    for (const char* pszView : {"text", "json"})
    {
        const std::string sOut = TempPath(std::string("name.") + pszView);
        EXPECT_LT(ViewPeak(pszView, sFile, sOut), kBound) << pszView;
        const std::string sText = ReadFile(sOut);
        if (pszView[0] == 't')
        {
            EXPECT_NE(std::string::npos, sText.find("strings (1):\n  @0      \"" + sName + "\"\n"));
            EXPECT_NE(std::string::npos, sText.find("effects:\n  effect \"" + sName + "\", 0 ms, 0 keys\n"));
        }
        else
        {
            EXPECT_NE(std::string::npos,
                      sText.find("\"strings\":[{\"offset\":0,\"text\":\"" + sName + "\"}]"));
            EXPECT_NE(std::string::npos,
                      sText.find("\"name\":\"" + sName + "\",\"lengthMs\":0,\"keys\":[]}"));
        }
    }
}
