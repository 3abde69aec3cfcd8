#include "zqpack.h"

#include "zqfiles.h"
#include "zqprocess.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
// A temporary file untouched for this long belongs to a pack that no longer runs: a writer that is
// still at work keeps touching it.
constexpr long long STALE_TEMPORARY_AGE_NS = 30LL * 1000000000LL;

// The destinations that a packer with the extension reports for sFile; empty without it.
std::vector<std::string> AskDestinations(IPacker* pPacker, const std::string& sFile)
{
    CHostMessageSink sink(false, true);
    pPacker->PackFile(sFile.c_str(), PackerHostExtensionArg(), &sink);
    return sink.m_outputs;
}

// Whether sName is sBase followed by ".~" and eight hex digits.
bool IsTemporaryOf(const std::string& sName, const std::string& sBase)
{
    if (sName.size() != sBase.size() + 10 || sName.compare(0, sBase.size(), sBase) != 0 ||
        sName.compare(sBase.size(), 2, ".~") != 0)
        return false;
    for (size_t i = sBase.size() + 2; i < sName.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(sName[i])))
            return false;
    return true;
}
} // namespace

bool CExtensionProbe::Knows(IPacker* pPacker, const std::string& sSampleFile)
{
    auto it = m_answers.find(pPacker);
    if (it != m_answers.end())
        return it->second;
    // A file in a folder that cannot exist, with the sample's name: a packer without the extension
    // fails to find it (and is refused the destination); one with it answers where it would go.
    const std::string sProbe =
        (fs::path("/.zqpack-probe-does-not-exist") / fs::path(sSampleFile).filename()).string();
    const bool bKnows = !AskDestinations(pPacker, sProbe).empty();
    m_answers.emplace(pPacker, bKnows);
    return bKnows;
}

void RemoveTemporariesOf(const std::string& sDestination)
{
    const fs::path destination(sDestination);
    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    struct Context
    {
        std::string sBase;
        std::vector<std::string> names;
    } context{destination.filename().string(), {}};
    PlatformListFolder(
        folder.string().c_str(),
        [](void* pContext, const char* pszName, PlatformEntryKind)
        {
            Context& found = *static_cast<Context*>(pContext);
            if (IsTemporaryOf(pszName, found.sBase))
                found.names.push_back(pszName);
        },
        &context);
    for (const std::string& sName : context.names)
        PlatformRemoveFile((folder / sName).string().c_str());
}

void PlanWork(const Options& options, const CPluginSet& plugins, std::vector<WorkItem>& work,
              CRecordStore& records, const std::vector<std::string>& temporaries)
{
    CExtensionProbe probe;
    std::map<std::string, std::vector<size_t>> byDestination; // absolute destination -> items
    for (size_t i = 0; i < work.size(); ++i)
    {
        WorkItem& item = work[i];
        if (PlatformCaughtInterrupt())
            return;
        if (!item.bToPack)
            continue;
        size_t nPlugin = 0;
        IPacker* pPacker = plugins.Associate(item.sPath, &nPlugin);
        if (!pPacker || !probe.Knows(pPacker, item.sPath))
            continue;
        item.sPlugin = plugins.Plugins()[nPlugin].sPath;
        item.destinations = AskDestinations(pPacker, item.sPath);
        for (const std::string& sDestination : item.destinations)
            byDestination[AbsolutePath(sDestination)].push_back(i);
    }

    // Two sources, one destination: neither is packed, whatever the order of packing would be.
    for (const auto& entry : byDestination)
    {
        if (entry.second.size() < 2)
            continue;
        std::string sNames;
        for (size_t k = 0; k < entry.second.size(); ++k)
        {
            if (k > 0)
                sNames += k + 1 == entry.second.size() ? " and " : ", ";
            sNames += work[entry.second[k]].sPath;
        }
        const std::string& sShown = work[entry.second.front()].destinations.front();
        for (const size_t nItem : entry.second)
        {
            WorkItem& item = work[nItem];
            if (!item.bToPack)
                continue;
            item.bToPack = false;
            item.outcome =
                HostFailure(item.sPath, Result::FAILED,
                            sNames + " would all be packed into " + sShown + "; none of them is packed");
            if (entry.second.size() == 2)
                item.outcome.events.back().sText =
                    sNames + " would both be packed into " + sShown + "; neither is packed";
        }
    }

    // What a killed run left beside a destination of this run.
    std::map<std::string, bool> destinations;
    for (const auto& entry : byDestination)
        destinations.emplace(entry.first, true);
    const long long nNow = PlatformNowNs();
    for (const std::string& sTemporary : temporaries)
    {
        const std::string sAbsolute = AbsolutePath(sTemporary);
        const std::string sBase = sAbsolute.substr(0, sAbsolute.size() - 10);
        PlatformFileStamp stamp;
        if (PlatformGetFileStamp(sTemporary.c_str(), &stamp) && destinations.count(sBase) &&
            nNow - stamp.nWriteTimeNs > STALE_TEMPORARY_AGE_NS && IsTemporaryOf(sAbsolute, sBase))
            PlatformRemoveFile(sTemporary.c_str());
    }

    if (options.bForce)
        return;
    for (WorkItem& item : work)
    {
        if (PlatformCaughtInterrupt())
            return;
        if (!item.bToPack || item.destinations.size() != 1)
            continue;
        std::vector<Input> inputs;
        if (!records.IsUpToDate(item.sPath, item.destinations.front(), item.sPlugin, &inputs))
            continue;
        item.bToPack = false;
        item.outcome = FileOutcome();
        item.outcome.sSource = item.sPath;
        item.outcome.sDestination = item.destinations.front();
        item.outcome.eResult = Result::UP_TO_DATE;
        for (Input& input : inputs)
            if (input.nKind == PACKER_INPUT_SOURCE)
                input.sPath = item.sPath; // named as the user named it, as after a pack
        item.outcome.inputs = std::move(inputs);
    }
}
} // namespace zqpack
