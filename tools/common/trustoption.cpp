#include "trustoption.h"

#include "IPacker.h"
#include "zqplatform.h"

#include <cstdlib>

bool TrustFolders(const std::vector<std::string>& folders)
{
    if (folders.empty())
        return true;
    std::string sList;
    for (const std::string& sFolder : folders)
        sList += sFolder + PLATFORM_PATH_LIST_SEP;
    const char* pszOld = std::getenv(PACKER_TRUSTED_DIRS_VARIABLE);
    if (pszOld && *pszOld)
        sList += pszOld;
    else
        sList.pop_back();
    return PlatformSetEnvironmentVariable(PACKER_TRUSTED_DIRS_VARIABLE, sList.c_str());
}

std::string TrustHint(const std::string& sPath)
{
    const size_t nCut = sPath.find_last_of("\\/");
    const std::string sFolder = nCut == std::string::npos ? "."
                                : nCut == 0               ? sPath.substr(0, 1)
                                                          : sPath.substr(0, nCut);
    return std::string("to use it, trust its folder: --trust ") + sFolder + " or " +
           PACKER_TRUSTED_DIRS_VARIABLE + "=" + sFolder;
}
