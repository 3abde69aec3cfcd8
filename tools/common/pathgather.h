// Expands the PATH arguments of the programs: files as named, folders searched recursively
// (entries sorted by name, links to folders not followed), "@LIST" files read line by line (blank
// lines and '#' lines left out). Every program sees the same files in the same order.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct PathArg
{
    std::string sText;
    bool bLiteral = false; // after "--": never an @LIST
};

struct GatheredPath
{
    std::string sPath;
    bool bNamed = false;     // named on the command line or in a list, not found in a folder
    bool bDuplicate = false; // the same file was reached before in this run
    std::string sError;      // why the path cannot be used; empty for a file to process
};

// bWanted decides which files found in folders are kept; named files are always kept. A file reached
// a second time is kept in its place with bDuplicate set, so that callers can report it there.
std::vector<GatheredPath> GatherPaths(const std::vector<PathArg>& args,
                                      const std::function<bool(const std::string&)>& bWanted);

// The paths of the "@LIST" file sListPath as GatherPaths takes them (lines trimmed, blank lines and
// '#' lines left out). False when the list cannot be read.
bool ReadPathList(const std::string& sListPath, std::vector<std::string>* pPaths);
