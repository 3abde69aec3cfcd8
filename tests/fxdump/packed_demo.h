// The demo project copied into a test folder and packed with the sample module.
#pragma once

#include "test_support.h"

#include <algorithm>
#include <string>
#include <vector>

// Copies the demo to TempPath(sFolder) (without packed files left by a "make demo" in the checkout),
// points its locator at the sample module and packs it; returns its packed files, sorted.
inline std::vector<std::string> PackDemoCopy(const std::string& sFolder, fs::path& demo)
{
    demo = TempPath(sFolder);
    fs::copy(fs::path(EMBERVISE_SOURCE_DIR) / "demo", demo, fs::copy_options::recursive);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(demo))
        if (entry.path().extension() == ".Fx00p")
            fs::remove(entry.path());
    WriteFile((demo / "demo.proj00").string(),
              "[General]\nGame=Demo\n[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
    const RunResult pack = RunProgram("zqpack", {"--plugin", BinLibrary("Embervise"), demo.string()});
    EXPECT_EQ(0, pack.nExit) << pack.sErr;
    std::vector<std::string> packed;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(demo))
        if (entry.path().extension() == ".Fx00p")
            packed.push_back(entry.path().string());
    std::sort(packed.begin(), packed.end());
    return packed;
}
