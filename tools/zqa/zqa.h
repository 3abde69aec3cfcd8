// zqa: compress, decompress, print and check ZQA files. One file per job; main.cpp parses the
// command line.
#pragma once

#include <string>
#include <vector>

namespace zqa
{
// How an input file is read: as its name says (last character 'c' or 'C' means compressed), or
// as the user forced it.
enum class InputMode
{
    ByName,
    Compressed,
    Plain,
};

bool ResolveCompressed(const std::string& sPath, InputMode eMode);

// Prints "zqa: MESSAGE" to stderr.
void PrintError(const std::string& sMessage);

// Checks that a file can be opened for reading; otherwise prints why, naming the file.
bool CheckReadable(const std::string& sPath);

// Each command answers the process exit status: 0 success, 1 failure.
int RunConvert(const std::string& sInput, const std::string& sOutput, bool bCompress, InputMode eMode);
int RunTree(const std::string& sPath, InputMode eMode);
int RunCheck(const std::vector<std::string>& files, InputMode eMode, bool bQuiet);
} // namespace zqa
