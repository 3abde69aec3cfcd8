// The files that check looks at: named files, ZQA sources found in folders, and path lists.
#include "zqa.h"

#include "pathgather.h"

#include <cctype>

namespace zqa
{
namespace
{
// The extensions of the engine's ZQA sources: "Fx00a", "Model00c", ... ("00" and the text or
// compressed letter).
bool IsZqaSourceName(const std::string& sPath)
{
    const size_t nSlash = sPath.find_last_of("/\\");
    const std::string sName = nSlash == std::string::npos ? sPath : sPath.substr(nSlash + 1);
    const size_t nDot = sName.rfind('.');
    if (nDot == std::string::npos || sName.size() - nDot < 4)
        return false;
    const char cLast = static_cast<char>(std::tolower(static_cast<unsigned char>(sName.back())));
    return sName.compare(sName.size() - 3, 2, "00") == 0 && (cLast == 'a' || cLast == 'c');
}
} // namespace

std::vector<std::string> GatherCheckFiles(const std::vector<CheckArg>& args)
{
    std::vector<PathArg> pathArgs;
    for (const CheckArg& arg : args)
        pathArgs.push_back({arg.sText, arg.bLiteral});
    // A path that cannot be used stays in the list: checking it reports why.
    std::vector<std::string> files;
    for (const GatheredPath& path : GatherPaths(pathArgs, IsZqaSourceName))
        if (!path.bDuplicate)
            files.push_back(path.sPath);
    return files;
}
} // namespace zqa
