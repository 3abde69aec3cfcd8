// End to end: the real zqpack, plug-in and sample effect module pack a small effect file into the
// bytes worked out by hand from the packed format.
#include "zqprocess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
#if defined(_WIN32)
const char* const kLibrarySuffix = ".dll";
const char* const kProgramSuffix = ".exe";
#else
const char* const kLibrarySuffix = ".so";
const char* const kProgramSuffix = "";
#endif

void PutU32(std::vector<uint8_t>& bytes, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(n >> (8 * i)));
}

void PutText(std::vector<uint8_t>& bytes, const char* psz, size_t nPadded)
{
    const std::string s(psz);
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.resize(bytes.size() + nPadded - s.size(), 0);
}
} // namespace

TEST(PackEndToEnd, MarkerKeyGivesTheHandWorkedBytes)
{
    const fs::path dir =
        fs::temp_directory_path() / ("embervise_pack_bytes_" + std::to_string(PlatformGetProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        std::ofstream locator(dir / "bytes.proj00");
        locator << "[Project Binaries]\nSparkrig=" << EMBERVISE_BIN_DIR << "/sparkrig_sample"
                << kLibrarySuffix << "\n";
        std::ofstream source(dir / "ping.Fx00a");
        source << "(header (version 1))\n"
                  "(effect-tree (effect (name \"Ping\") (length 500) (key-list\n"
                  "  (key (type Marker) (id 7) (track 0) (start-time 0) (end-time 1000) (properties\n"
                  "    (property (name Label) (type String) (value-list (value (time 0) (data "
                  "\"hit\"))))))))))\n";
    }
    const std::string sProgram = std::string(EMBERVISE_BIN_DIR) + "/zqpack" + kProgramSuffix;
    const std::string sSource = (dir / "ping.Fx00a").string();
    const char* const apszArgs[] = {"-q", sSource.c_str()};
    PlatformProcess hProcess = PlatformStartProcess(sProgram.c_str(), apszArgs, 2, nullptr, nullptr);
    ASSERT_NE(hProcess, nullptr);
    int nExit = -1;
    ASSERT_EQ(PlatformWaitAnyProcess(&hProcess, 1, &nExit), 0);
    EXPECT_EQ(nExit, 0);

    // Marker is type 9 of ten; its properties are Label and Event (strings), Comment (no value)
    // and Reserved (none): all four are named in the string table, only the first two are written.
    std::vector<uint8_t> expected;
    for (uint32_t n : {0x5846515Au, 2u, 0x00010000u, 52u, 0u, 1u, 1u, 10u, 80u, 192u}) // header
        PutU32(expected, n);
    for (uint32_t nType = 0; nType < 10; ++nType) // key counts per type
        PutU32(expected, nType == 9 ? 1 : 0);
    PutText(expected, "Ping", 8);      // @0
    PutText(expected, "Label", 8);     // @8
    PutText(expected, "hit", 4);       // @16
    PutText(expected, "Event", 8);     // @20
    PutText(expected, "", 4);          // @28: Event's default value
    PutText(expected, "Comment", 8);   // @32
    PutText(expected, "Reserved", 12); // @40; no curves follow
    for (uint32_t n : {0u, 500u, 1u})  // effect record at 132: name, length, keys
        PutU32(expected, n);
    for (uint32_t n : {9u, 0u, 0x3F800000u, 7u, 7u, 2u}) // key at 144: type, 0.0 s, 1.0 s, id, link, props
        PutU32(expected, n);
    for (uint32_t n : {8u, 180u, 16u, 20u, 192u, 28u}) // Label = "hit", Event = "": name, skip, value
        PutU32(expected, n);
    PutU32(expected, 0); // effect index at 192

    std::ifstream packed(dir / "ping.Fx00p", std::ios::binary);
    const std::vector<uint8_t> actual{std::istreambuf_iterator<char>(packed),
                                      std::istreambuf_iterator<char>()};
    EXPECT_EQ(actual, expected);
    packed.close();
    fs::remove_all(dir);
}
