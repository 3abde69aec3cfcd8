// Shared by the writer tests: effect sources loaded through the real loader against the
// table-driven test module, packed files read back, and little-endian expectations.
#pragma once

#include "EffectFileLoader.h"
#include "PackedEffectWriter.h"
#include "effect_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace writer_test
{
using Bytes = std::vector<uint8_t>;

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The words as they lie in a little-endian file.
inline Bytes Words(std::initializer_list<uint32_t> words)
{
    Bytes bytes;
    for (uint32_t w : words)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }
    return bytes;
}

inline uint32_t WordAt(const Bytes& bytes, size_t nOffset)
{
    if (nOffset + 4 > bytes.size())
        return 0xDEADBEEFu;
    return bytes[nOffset] | (bytes[nOffset + 1] << 8) | (bytes[nOffset + 2] << 16) |
           (static_cast<uint32_t>(bytes[nOffset + 3]) << 24);
}

// Loads an effect source text against the module and packs it; the packed bytes.
inline Bytes Pack(effect_test::TableModule& module, const char* pszSource, CEffectCollection& collection)
{
    const std::string source = effect_test::WriteFile(".Fx00a", pszSource);
    std::string sError;
    EXPECT_TRUE(LoadEffectFile(source.c_str(), collection, module.m_Module, sError)) << sError;
    const std::string dest = effect_test::TempPath(".Fx00p");
    EXPECT_TRUE(WritePackedEffectFile(dest.c_str(), collection, module.m_Module));
    return ReadAll(dest);
}
} // namespace writer_test
