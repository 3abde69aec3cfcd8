#include "tempbeside.h"

#include "zqprocess.h"

#include <filesystem>
#include <system_error>

std::string TempNameBeside(const std::string& sPath, const char* pszTool)
{
    const size_t nSep = sPath.find_last_of("/\\");
    const std::string sFolder = nSep == std::string::npos ? std::string() : sPath.substr(0, nSep + 1);
    const std::string sBase = "." + sPath.substr(nSep == std::string::npos ? 0 : nSep + 1) + "." + pszTool +
                              "-" + std::to_string(PlatformGetProcessId());
    for (unsigned n = 0;; ++n)
    {
        const std::string sName = sFolder + sBase + (n ? "-" + std::to_string(n) : std::string()) + ".tmp";
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(sName, ec)))
            return sName;
    }
}
