// A file replaced whole is first written to a temporary beside it, in the same folder so that the
// rename into place never crosses file systems; a reader never sees it half-written.
#pragma once

#include <string>

// ".NAME.TOOL-PID.tmp" in sPath's folder, with "-N" before ".tmp" when that name is taken. The name
// is free when asked for; the caller creates the file.
std::string TempNameBeside(const std::string& sPath, const char* pszTool);
