// The built plug-in as a host sees it.
#include "plugin_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

// The ELF symbol table of the Linux build; a Windows build checks the export table of its DLLs on
// the build host instead (tests/windows).
#if !defined(_WIN32)
#include <elf.h>

namespace
{
// "name" for each global or weak symbol defined in the dynamic symbol table, "name()" for functions.
template <typename Ehdr, typename Shdr, typename Sym>
std::set<std::string> DefinedDynamicSymbols(const std::string& image)
{
    auto read = [&](auto& out, size_t offset)
    {
        if (offset + sizeof(out) <= image.size())
            std::memcpy(&out, image.data() + offset, sizeof(out));
    };
    Ehdr header{};
    read(header, 0);
    std::set<std::string> names;
    for (size_t i = 0; i < header.e_shnum; ++i)
    {
        Shdr dynsym{}, strtab{};
        read(dynsym, header.e_shoff + i * header.e_shentsize);
        if (dynsym.sh_type != SHT_DYNSYM)
            continue;
        read(strtab, header.e_shoff + dynsym.sh_link * header.e_shentsize);
        for (size_t k = 1; k < dynsym.sh_size / sizeof(Sym); ++k)
        {
            Sym sym{};
            read(sym, dynsym.sh_offset + k * sizeof(Sym));
            const int nBind = sym.st_info >> 4;
            if (sym.st_shndx != SHN_UNDEF && (nBind == STB_GLOBAL || nBind == STB_WEAK))
                names.insert(std::string(image.c_str() + strtab.sh_offset + sym.st_name) +
                             ((sym.st_info & 0xf) == STT_FUNC ? "()" : ""));
        }
    }
    return names;
}
} // namespace

TEST(PluginLibrary, ExportsOnlyAssociatePacker)
{
    const std::string image = ReadFile(std::string(EMBERVISE_BIN_DIR) + "/Embervise.so");
    ASSERT_TRUE(image.size() > sizeof(Elf64_Ehdr) && image.compare(0, 4, ELFMAG) == 0);
    const std::set<std::string> names = image[EI_CLASS] == ELFCLASS64
                                            ? DefinedDynamicSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(image)
                                            : DefinedDynamicSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(image);
    EXPECT_EQ(names, std::set<std::string>{"AssociatePacker()"});
}
#endif

TEST(PluginLibrary, PacksThroughTheLoadedExport)
{
    PlatformLibrary hPlugin = PlatformLoadLibrary("Embervise.dll");
    ASSERT_NE(hPlugin, nullptr);
    auto pfnAssociate =
        reinterpret_cast<PFN_AssociatePacker>(PlatformGetProcAddress(hPlugin, PACKER_ASSOCIATE_EXPORT));
    ASSERT_NE(pfnAssociate, nullptr);
    EXPECT_EQ(pfnAssociate("smoke.Fx00p"), nullptr);
    IPacker* pPacker = pfnAssociate("smoke.fx00c");
    ASSERT_NE(pPacker, nullptr);
    char szName[16];
    EXPECT_TRUE(pPacker->GetName(szName, sizeof(szName)));
    EXPECT_STREQ(szName, "Embervise");

    CTempTree tree;
    tree.Write("game/game.proj00",
               std::string("[Project Binaries]\nSparkrig=") + EMBERVISE_BIN_DIR + "/sparkrig_sample.dll\n");
    const std::string source = tree.Write("game/smoke.Fx00a", "(header (version 1)) (effect-tree)");
    EXPECT_EQ(pfnAssociate(source.c_str()), pPacker);
    CRecordingSink sink;
    EXPECT_TRUE(pPacker->PackFile(source.c_str(), 0, &sink));
    EXPECT_EQ(sink.m_Calls.size(), 7u);
    EXPECT_EQ(ReadFile(tree.Path("game/smoke.Fx00p")).substr(0, 4), "ZQFX");
    PlatformFreeLibrary(hPlugin);
}
