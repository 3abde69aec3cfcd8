// The project locator: finds the project locator file ("*.proj00", a profile file in a project's
// root directory) that governs a source file, and reads it into a CProjectInfo.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The paths and names of one project locator file. Directories end in a separator; paths are
// absolute, resolved against the project directory.
class CProjectInfo
{
public:
    // Reads every field from the locator file at pszPath. A missing file or key reads as empty,
    // which resolves to the project directory; always true.
    bool Load(const char* pszPath);

    std::string m_sGame;
    std::string m_sProjectDir;
    std::string m_sResourceRoot;
    std::string m_sToolsRoot;
    std::string m_sPCDir;
    std::string m_sXenonDir;
    std::string m_sSparkrig;
    std::string m_sGameServer;
    std::string m_sGameDatabase;
    std::string m_sSourceControlProvider;
    std::string m_sSourceControlDatabase;
    std::string m_sPCBinary;
    std::string m_sPCWorking;
    std::string m_sXenonBinary;
    std::string m_sXenonWorking;
};

// What a search looked at, for a host that tracks the files a pack depends on.
struct CLocatorTrace
{
    std::vector<std::string> emptyDirectories; // searched in this order, holding no locator file
    std::string sLocatorFile;                  // the locator file read
    std::string sRefusedFile;                  // the locator file found but refused by the trust rule
    std::string sRefusal;                      // why it was refused (FileTrust.h)
};

// Searches the source file's directory, then each directory above it, for a locator file and loads
// the first one found into info. False, with info untouched, when there is none, or when the first
// one found fails the trust rule (FileTrust.h): the search then stops there, as a locator further up
// would not be the one that governs the file. *pTrace, when given, receives what the search looked
// at and what it refused.
bool LocateProject(const char* pszSourceFile, CProjectInfo& info, CLocatorTrace* pTrace = nullptr);

// The path of the first "*.proj00" file in pszDirectory (given without a trailing separator).
bool FindProjectFile(const char* pszDirectory, char* pszOut, size_t nOutSize);

// sOut = pszPath when it is absolute, else pszBase and pszPath joined and canonicalized; with
// bTrailingSeparator the result ends in a separator.
void ResolveProjectPath(const char* pszBase, const char* pszPath, bool bTrailingSeparator, std::string& sOut);
