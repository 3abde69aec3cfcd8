// The trust rule: no code runs and no settings apply that the user did not choose. A project
// locator file, and the effect module it names, are used only when the user or the system (root)
// owns the file and the folder that holds it cannot be written by every user, unless the sticky bit
// keeps others from replacing the file. Folders the user trusts (PACKER_TRUSTED_DIRS_VARIABLE in
// IPacker.h, the programs' --trust) lift the rule for every file in them and below them; "*" lifts it
// everywhere. Ownership is a POSIX fact: on Windows every file passes.
#pragma once

#include <string>

// Whether the file at pszPath may be used. False with sWhy (a clause: "it is owned by ...") when
// another user could have chosen what it holds. A file that does not exist passes: it holds nothing.
bool IsFileTrusted(const char* pszPath, std::string& sWhy);

// IsFileTrusted for the library that PlatformLoadLibrary would load for pszName; sFile receives
// that file's name.
bool IsLibraryTrusted(const char* pszName, std::string& sFile, std::string& sWhy);
