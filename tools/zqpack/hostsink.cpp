#include "zqpack.h"

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

    // Read-only means what it means on Windows: the owner may not write. Whether this process
    // could write anyway (as a superuser can) does not matter.
    std::error_code ec;
    const fs::file_status status = fs::status(pszPath, ec);
    if (status.type() == fs::file_type::not_found)
        return true;
    if (ec || status.type() != fs::file_type::regular)
        return false;
    if ((status.permissions() & fs::perms::owner_write) != fs::perms::none)
        return true;
    if (m_bNoOverwriteReadOnly)
        return false;
    fs::permissions(pszPath, fs::perms::owner_write, fs::perm_options::add, ec);
    return !ec;
}

bool CHostMessageSink::LogMessage(int32_t nLevel, const char* pszText)
{
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

FileOutcome PackOne(const CPluginSet& plugins, const std::string& sFile, bool bNoOverwriteReadOnly)
{
    IPacker* pPacker = plugins.Associate(sFile);
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

    CHostMessageSink sink(bNoOverwriteReadOnly);
    const bool bPacked = pPacker->PackFile(sFile.c_str(), 0, &sink);
    outcome.eResult = bPacked ? Result::PACKED : Result::FAILED;
    outcome.sDestination = std::move(sink.m_sDestination);
    outcome.events = std::move(sink.m_events);
    return outcome;
}
} // namespace zqpack
