// The work of a run: every file named or found, in order, with what the plug-ins make of it.
#include "zqpack.h"

#include "pathgather.h"

#include <cctype>

namespace zqpack
{
namespace
{
// NAME.~XXXXXXXX: what a pack that did not finish may leave beside its destination.
bool LooksTemporary(const std::string& sPath)
{
    const size_t nSlash = sPath.find_last_of("/\\");
    const size_t nStart = nSlash == std::string::npos ? 0 : nSlash + 1;
    const size_t nSize = sPath.size() - nStart;
    if (nSize < 11 || sPath.compare(sPath.size() - 10, 2, ".~") != 0)
        return false;
    for (size_t i = sPath.size() - 8; i < sPath.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(sPath[i])))
            return false;
    return true;
}
} // namespace

std::vector<WorkItem> GatherWork(const std::vector<InputArg>& inputs, const CPluginSet& plugins,
                                 std::vector<std::string>* pTemporaries)
{
    std::vector<PathArg> args;
    for (const InputArg& input : inputs)
        args.push_back({input.sText, input.bLiteral});

    // Files found in folders are kept when a plug-in claims them; leftover temporaries are noted
    // for removal instead.
    std::vector<std::string> temporaries;
    const auto bWanted = [&](const std::string& sPath)
    {
        // After an interrupt the rest of the walk is only listed: the run ends when it returns.
        if (PlatformCaughtInterrupt())
            return false;
        if (LooksTemporary(sPath))
        {
            temporaries.push_back(sPath);
            return false;
        }
        return plugins.Associate(sPath) != nullptr;
    };

    std::vector<GatheredPath> paths = GatherPaths(args, bWanted);
    std::vector<WorkItem> work;
    work.reserve(paths.size());
    for (GatheredPath& path : paths)
    {
        WorkItem item;
        item.sPath = std::move(path.sPath);
        if (!path.sError.empty())
        {
            item.outcome = HostFailure(item.sPath, Result::FAILED, path.sError);
        }
        else if (path.bDuplicate)
        {
            // The same file twice would be packed twice, by two workers at once with -j.
            item.outcome.sSource = item.sPath;
            item.outcome.eResult = Result::SKIPPED;
            item.outcome.events.push_back({Event::MESSAGE, PACKER_MSG_PROGRESS, "already named in this run"});
        }
        else
        {
            item.bToPack = plugins.Associate(item.sPath) != nullptr;
            if (!item.bToPack)
                item.outcome = HostFailure(item.sPath, Result::UNCLAIMED, "no packer claims this file");
        }
        work.push_back(std::move(item));
    }
    if (pTemporaries)
        *pTemporaries = std::move(temporaries);
    return work;
}
} // namespace zqpack
