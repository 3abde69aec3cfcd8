// The exports of the built plug-in: the ELF symbol table of the Linux build. A Windows build checks
// the export table of its DLLs on the build host instead (tests/windows). Loading it and packing
// through its export is what every zqpack run does (tests/zqpack).
#if !defined(_WIN32)
#include "test_support.h"

#include <cstring>
#include <set>

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
    const std::string image = ReadFile(BinLibrary("Embervise"));
    ASSERT_TRUE(image.size() > sizeof(Elf64_Ehdr) && image.compare(0, 4, ELFMAG) == 0);
    const std::set<std::string> names = image[EI_CLASS] == ELFCLASS64
                                            ? DefinedDynamicSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(image)
                                            : DefinedDynamicSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(image);
    EXPECT_EQ(names, std::set<std::string>{"AssociatePacker()"});
}
#endif
