// Temporaries beside a file replaced whole: hidden, in the file's own folder, never an existing name.
#include "tempbeside.h"
#include "zqprocess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

TEST(TempBeside, NamesAFreeHiddenFileInTheSameFolder)
{
    const std::string sPid = std::to_string(PlatformGetProcessId());
    EXPECT_EQ(TempNameBeside("fx/a.Fx00a", "fxfmt"), "fx/.a.Fx00a.fxfmt-" + sPid + ".tmp");
    EXPECT_EQ(TempNameBeside("fx\\sub\\b.Fx00c", "zqa"), "fx\\sub\\.b.Fx00c.zqa-" + sPid + ".tmp");
    EXPECT_EQ(TempNameBeside("c.Fx00a", "zqa"), ".c.Fx00a.zqa-" + sPid + ".tmp");

    // Taken names are skipped, a dangling link included.
    const fs::path folder = fs::temp_directory_path() / ("tempbeside-" + sPid);
    fs::create_directories(folder);
    const std::string sTarget = (folder / "d.Fx00a").string();
    const std::string sFirst = TempNameBeside(sTarget, "t");
    EXPECT_EQ(sFirst, (folder / (".d.Fx00a.t-" + sPid + ".tmp")).string());
    std::ofstream(sFirst).put('x');
    const std::string sSecond = TempNameBeside(sTarget, "t");
    EXPECT_EQ(sSecond, (folder / (".d.Fx00a.t-" + sPid + "-1.tmp")).string());
#if !defined(_WIN32)
    fs::create_symlink(folder / "missing", sSecond);
    EXPECT_EQ(TempNameBeside(sTarget, "t"), (folder / (".d.Fx00a.t-" + sPid + "-2.tmp")).string());
#endif
    fs::remove_all(folder);
}
