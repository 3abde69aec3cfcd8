#include "zqpack.h"

#include "zqfiles.h"
#include "zqprocess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
std::string TextOrEmpty(const char* pszText)
{
    return pszText ? std::string(pszText) : std::string();
}

std::optional<std::string> TextOrNone(const char* pszText)
{
    if (!pszText)
        return std::nullopt;
    return std::string(pszText);
}
} // namespace

bool CHostMessageSink::SetTask(const char* pszTask)
{
    m_events.push_back({Event::TASK, 0, TextOrEmpty(pszTask)});
    return true;
}

bool CHostMessageSink::SetSubTask(const char* pszSubTask)
{
    m_events.push_back({Event::SUB_TASK, 0, TextOrEmpty(pszSubTask)});
    return true;
}

bool CHostMessageSink::SetProgress(uint32_t, uint32_t)
{
    return true;
}

bool CHostMessageSink::ClearMessages()
{
    return true;
}

bool CHostMessageSink::MakeFileWritable(const char* pszPath)
{
    if (!pszPath)
        return false;
    m_sDestination = pszPath;
    if (m_bPlanOnly)
    {
        // A packer without the extension, asked to plan: it must not write anything.
        m_sWritableReason = "planning only";
        return false;
    }

    // Read-only means what it means on Windows: the owner may not write. Whether this process
    // could write anyway (as a superuser can) does not matter. A link is never followed: the
    // packed file replaces the link itself, and the file it points to stays as it is.
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(pszPath, ec);
    if (status.type() == fs::file_type::not_found)
        return true;
    if (status.type() == fs::file_type::symlink)
        return true;
    if (ec)
    {
        m_sWritableReason = ec.message();
        return false;
    }
    if (status.type() != fs::file_type::regular)
    {
        m_sWritableReason =
            status.type() == fs::file_type::directory ? "it is a folder" : "it is not a regular file";
        return false;
    }
    if ((status.permissions() & fs::perms::owner_write) != fs::perms::none)
        return true;
    if (m_bNoOverwriteReadOnly)
    {
        m_sWritableReason = "it is read-only and --no-overwrite-readonly was given";
        return false;
    }
    if (PlatformMakeWritableByOwner(pszPath))
        return true;
    m_sWritableReason = std::string("cannot make it writable: ") + std::strerror(errno);
    return false;
}

bool CHostMessageSink::IsPlanOnly()
{
    return m_bPlanOnly;
}

bool CHostMessageSink::ReportInput(uint32_t nKind, const char* pszPath)
{
    if (!pszPath)
        return true;
    Input input;
    input.nKind = nKind;
    input.sPath = pszPath;
    // Reported before the packer reads the file (the source), or right after it loaded it.
    if (m_pDigests && !m_bPlanOnly)
        input.digest = m_pDigests->Take(nKind, input.sPath);
    m_inputs.push_back(std::move(input));
    return true;
}

bool CHostMessageSink::ReportOutput(const char* pszPath)
{
    if (pszPath)
        m_outputs.push_back(pszPath);
    return true;
}

bool CHostMessageSink::ReportUnusedInput(uint32_t nWhy, uint32_t nKind, const char* pszPath,
                                         const char* pszNamedBy, const char* pszResolved,
                                         const char* pszReason)
{
    if (pszPath)
        m_unused.push_back({nWhy, nKind, pszPath, TextOrEmpty(pszNamedBy), TextOrEmpty(pszResolved),
                            TextOrEmpty(pszReason)});
    return true;
}

bool CHostMessageSink::LogMessage(int32_t nLevel, const char* pszText)
{
    if (m_bPlanOnly)
        return true;
    m_events.push_back({Event::MESSAGE, nLevel, TextOrEmpty(pszText)});
    return true;
}

bool CHostOptionList::AddOption(CPackerOption* pOption, const char* pszGroup)
{
    if (!pOption)
        return false;
    OptionEntry entry;
    entry.sGroup = TextOrEmpty(pszGroup);
    entry.sName = TextOrNone(pOption->m_pszName);
    entry.sDescription = TextOrNone(pOption->m_pszDescription);
    entry.bEnabled = pOption->m_bEnabled;
    entry.nKind = pOption->m_nKind;
    entry.nType = pOption->GetOptionType();
    m_entries.push_back(std::move(entry));
    return true;
}

FileOutcome HostFailure(const std::string& sSource, Result eResult, const std::string& sText)
{
    FileOutcome outcome;
    outcome.sSource = sSource;
    outcome.eResult = eResult;
    outcome.events.push_back({Event::MESSAGE, PACKER_MSG_ERROR, sText});
    return outcome;
}

FileOutcome PackOne(const CPluginSet& plugins, const std::string& sFile, bool bNoOverwriteReadOnly,
                    CInputDigests& digests)
{
    size_t nPlugin = 0;
    IPacker* pPacker = plugins.Associate(sFile, &nPlugin);
    if (!pPacker)
        return HostFailure(sFile, Result::UNCLAIMED, "no packer claims this file");

    FileOutcome outcome;
    outcome.sSource = sFile;
    outcome.sPacker = PackerName(pPacker);

    // The host's usual sequence; the entries only shape an interactive display.
    CHostOptionList options;
    pPacker->DeclareOptions(&options);
    if (!pPacker->CanPack(0, 0, 0))
    {
        outcome.events.push_back({Event::MESSAGE, PACKER_MSG_ERROR, "the packer declines this file"});
        return outcome;
    }

    CHostMessageSink sink(bNoOverwriteReadOnly, false, &digests);
    digests.BeginPack();
    const bool bPacked = pPacker->PackFile(sFile.c_str(), PackerHostExtensionArg(), &sink);
    outcome.eResult = bPacked ? Result::PACKED : Result::FAILED;
    outcome.sDestination = std::move(sink.m_sDestination);
    outcome.events = std::move(sink.m_events);
    outcome.inputs = std::move(sink.m_inputs);
    outcome.unused = std::move(sink.m_unused);
    if (bPacked && sink.m_outputs.size() == 1)
    {
        outcome.outputDigest = DigestFile(sink.m_outputs.front());
        digests.Settle(outcome.inputs);
        const Plugin& plugin = plugins.Plugins()[nPlugin];
        if (UnchangedSince(plugin.sPath, plugin.digest, plugin.nLoadedAfterNs))
            outcome.pluginDigest = plugin.digest;
    }
    if (!bPacked)
    {
        outcome.sReason = sink.m_sWritableReason;
        if (outcome.sReason.empty())
            outcome.sReason = DiagnoseFailure(outcome);
    }
    return outcome;
}

std::string DiagnoseFailure(const FileOutcome& outcome)
{
    std::error_code ec;
    const fs::file_status status = fs::status(outcome.sSource, ec);
    if (ec && status.type() != fs::file_type::not_found)
        return "cannot read " + outcome.sSource + ": " + ec.message();
    if (status.type() == fs::file_type::regular)
    {
        std::FILE* pSource = std::fopen(outcome.sSource.c_str(), "rb");
        if (!pSource)
            return "cannot read " + outcome.sSource + ": " + std::strerror(errno);
        std::fclose(pSource);
    }
    if (!outcome.sDestination)
        return std::string();
    // The pack got as far as writing: look at the destination's folder.
    fs::path folder = fs::path(*outcome.sDestination).parent_path();
    if (folder.empty())
        folder = ".";
    const fs::space_info space = fs::space(folder, ec);
    if (!ec && space.available == 0)
        return "no space left on the device of " + folder.string();
    char szProbe[4096];
    if (!PlatformWriteNewFile(folder.string().c_str(), ".zqpack-probe-", "", 0, szProbe, sizeof(szProbe)))
        return "cannot write in " + folder.string() + ": " + std::strerror(errno);
    PlatformRemoveFile(szProbe);
    return std::string();
}
} // namespace zqpack
