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

// What reading a file's contents (plain or compressed) to their end shows.
struct ContentScan
{
    uint64_t nBytes = 0;     // bytes of text
    bool bHasNul = false;    // ZQA text never holds a NUL byte; packed and other binary files do
    uint64_t nNulOffset = 0; // the first one
    bool bCutShort = false;  // compressed data that ends before its end token
};

// False when the file cannot be opened as asked.
bool ScanContent(const std::string& sPath, bool bCompressed, ContentScan& scan);

// Why a file with a NUL byte is refused, without its name.
std::string NotTextMessage(uint64_t nOffset);

// What a cut compressed file is, without its name: nBytes of text come out of it.
std::string CutShortMessage(uint64_t nBytes);

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
