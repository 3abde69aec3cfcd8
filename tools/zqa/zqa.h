// zqa: compress, decompress, print and check ZQA files. One file per job; main.cpp parses the
// command line.
#pragma once

#include <cstdint>
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

// Finds the first NUL byte of the file's contents (read plain or compressed): ZQA text never holds
// one, packed and other binary files almost always do. False when there is none.
bool FindNulByte(const std::string& sPath, bool bCompressed, uint64_t& nOffset);

// Why such a file is refused, without its name.
std::string NotTextMessage(uint64_t nOffset);

struct ConvertOptions
{
    std::string sInput;
    std::string sOutput; // empty: derived from the input; "-": standard output
    bool bForce = false; // replace an existing output
};

// An argument of check: a file, a folder or (unless it followed "--") an @LIST.
struct CheckArg
{
    std::string sText;
    bool bLiteral = false;
};

// The files to check, in order: named files as they are, folders searched recursively for ZQA
// sources (extensions ending in "00a" or "00c"), lists read line by line. Paths that cannot be
// read are kept, so that checking them reports why.
std::vector<std::string> GatherCheckFiles(const std::vector<CheckArg>& args);

// Each command answers the process exit status: 0 success, 1 failure.
int RunConvert(const ConvertOptions& options, bool bCompress, InputMode eMode);
int RunTree(const std::string& sPath, InputMode eMode);
int RunCheck(const std::vector<std::string>& files, InputMode eMode, bool bQuiet);
} // namespace zqa
