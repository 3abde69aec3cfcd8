// Packing through the real plug-in, the way zqpack packs one file in-process. The plug-in keeps
// module-wide state (its message sink among it), so one process packs one file at a time: packs
// from several Python threads take turns on a lock, each waiting with the GIL released.
#include "bindings.h"

#include "FileExtension.h"
#include "zqpack.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace embervise
{
namespace
{
std::mutex& PluginLock()
{
    static std::mutex s_lock;
    return s_lock;
}

bool Exists(const fs::path& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

// Moves a file, copying across file systems; the reason on failure.
std::string MoveFile(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec)
        return std::string();
    std::error_code ecCopy;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ecCopy);
    if (ecCopy)
        return ecCopy.message();
    fs::remove(from, ecCopy);
    return std::string();
}

// The failure text of an outcome: the packer's first error line, or the host's reason.
std::string FailureText(const zqpack::FileOutcome& outcome)
{
    for (const zqpack::Event& event : outcome.events)
        if (event.eKind == zqpack::Event::MESSAGE && event.nLevel == PACKER_MSG_ERROR)
            return outcome.sReason.empty() ? event.sText : event.sText + " (" + outcome.sReason + ")";
    return outcome.sReason.empty() ? std::string("the packer failed") : outcome.sReason;
}
} // namespace

PackOutcome Pack(const std::string& sPlugin, const std::string& sSource, const std::string& sDestination)
{
    std::lock_guard<std::mutex> guard(PluginLock());
    PackOutcome result;
    zqpack::CPluginSet plugins;
    if (!plugins.LoadNamed({sPlugin}))
    {
        result.outcome = {Failure::Pack, sPlugin, "cannot load the packer plug-in"};
        return result;
    }

    // The packer writes beside the source. For another destination, a packed file already there
    // is kept aside during the pack and put back after it.
    std::string sBeside = sSource;
    SetExtension(sBeside, "Fx00p");
    std::error_code ec;
    const bool bMove = !sDestination.empty() && fs::absolute(sDestination, ec).lexically_normal() !=
                                                    fs::absolute(sBeside, ec).lexically_normal();
    const fs::path aside = sBeside + ".embervise-aside";
    const bool bAside = bMove && Exists(sBeside);
    if (bAside)
    {
        const std::string sWhy =
            Exists(aside) ? "'" + aside.string() + "' is in the way" : MoveFile(sBeside, aside);
        if (!sWhy.empty())
        {
            result.outcome = {Failure::Pack, sSource,
                              "cannot keep the packed file beside the source: " + sWhy};
            return result;
        }
    }

    zqpack::CInputDigests digests; // no records are kept here: the digests go unused
    const zqpack::FileOutcome outcome = zqpack::PackOne(plugins, sSource, false, digests);
    for (const zqpack::Event& event : outcome.events)
        if (event.eKind == zqpack::Event::MESSAGE)
            result.messages.push_back({event.nLevel, event.sText});
    result.sDestination = outcome.sDestination.value_or(sBeside);
    if (outcome.eResult != zqpack::Result::PACKED)
        result.outcome = {Failure::Pack, sSource, FailureText(outcome)};
    else if (bMove)
    {
        const std::string sWhy = MoveFile(result.sDestination, sDestination);
        if (sWhy.empty())
            result.sDestination = sDestination;
        else
            result.outcome = {Failure::Pack, sDestination, "cannot move the packed file there: " + sWhy};
    }
    if (bAside)
    {
        const std::string sWhy = MoveFile(aside, sBeside);
        if (!sWhy.empty() && result.outcome.Ok())
            result.outcome = {Failure::Pack, sBeside,
                              "cannot put the packed file back (it is " + aside.string() + "): " + sWhy};
    }
    return result;
}
} // namespace embervise
