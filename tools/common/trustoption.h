// The programs' side of the trust rule (packer_plugin/FileTrust.h): the --trust option and the hint
// that tells how to allow a refused file.
#pragma once

#include <string>
#include <vector>

// Adds folders to those trusted by this process and by the processes and packers it starts, ahead
// of what the environment variable already names. False when the environment cannot be changed.
bool TrustFolders(const std::vector<std::string>& folders);

// "to use it, trust its folder: --trust DIR or EMBERVISE_TRUSTED_DIRS=DIR" for the refused file sPath.
std::string TrustHint(const std::string& sPath);
