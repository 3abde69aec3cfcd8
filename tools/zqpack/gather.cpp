#include "zqpack.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
class CGatherer
{
public:
    explicit CGatherer(const CPluginSet& plugins) : m_plugins(plugins) {}

    void AddArgument(const InputArg& input)
    {
        if (!input.bLiteral && input.sText.size() > 1 && input.sText[0] == '@')
            AddList(input.sText.substr(1));
        else
            AddPath(input.sText);
    }

    std::vector<WorkItem> m_work;
    std::vector<std::string> m_temporaries;

private:
    void AddFailure(const std::string& sPath, const std::string& sText)
    {
        WorkItem item;
        item.sPath = sPath;
        item.outcome = HostFailure(sPath, Result::FAILED, sText);
        m_work.push_back(std::move(item));
    }

    // A path named on the command line or in a list.
    void AddPath(const std::string& sPath)
    {
        std::error_code ec;
        const fs::file_status status = fs::status(sPath, ec);
        if (status.type() == fs::file_type::not_found)
            AddFailure(sPath, "no such file or directory");
        else if (ec)
            AddFailure(sPath, ec.message());
        else if (status.type() == fs::file_type::directory)
            AddFolder(sPath);
        else
            AddFile(sPath, true);
    }

    // sIdentity: the file's resolved path when the caller knows it already.
    void AddFile(const std::string& sPath, bool bNamed, const std::string& sIdentity = std::string())
    {
        const bool bClaimed = m_plugins.Associate(sPath) != nullptr;
        if (!bClaimed && !bNamed)
            return;
        // The same file twice would be packed twice, by two workers at once with -j.
        if (!m_seen.insert(sIdentity.empty() ? IdentityOf(sPath) : sIdentity).second)
        {
            WorkItem item;
            item.sPath = sPath;
            item.outcome.sSource = sPath;
            item.outcome.eResult = Result::SKIPPED;
            item.outcome.events.push_back({Event::MESSAGE, PACKER_MSG_PROGRESS, "already named in this run"});
            m_work.push_back(std::move(item));
            return;
        }
        WorkItem item;
        item.sPath = sPath;
        item.bToPack = bClaimed;
        if (!bClaimed)
            item.outcome = HostFailure(sPath, Result::UNCLAIMED, "no packer claims this file");
        m_work.push_back(std::move(item));
    }

    // Depth-first, entries sorted by name, so that every run sees the same order. Links to folders
    // are not followed (no loops); links to files are.
    void AddFolder(const fs::path& folder)
    {
        struct Entry
        {
            std::string sName;
            fs::path path;
            bool bFolder;
            bool bLink;
        };
        // The folder is resolved once; an entry that is no link is the resolved folder and its name.
        const fs::path identity(IdentityOf(folder.string()));
        std::vector<Entry> entries;
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec))
        {
            std::error_code ecType;
            const bool bLink = it->is_symlink(ecType);
            const bool bFolder = !bLink && it->is_directory(ecType);
            entries.push_back({it->path().filename().string(), it->path(), bFolder, bLink});
        }
        if (ec)
        {
            AddFailure(folder.string(), "cannot read the folder: " + ec.message());
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.sName < b.sName; });
        for (const Entry& entry : entries)
        {
            if (entry.bFolder)
                AddFolder(entry.path);
            else if (LooksTemporary(entry.sName))
                m_temporaries.push_back(entry.path.string());
            else
                AddFile(entry.path.string(), false,
                        entry.bLink ? std::string() : (identity / entry.sName).string());
        }
    }

    // One path per line; blank lines and lines starting with '#' are left out. Paths are taken as
    // written (relative ones against the current directory); they are never lists themselves.
    void AddList(const std::string& sListPath)
    {
        std::ifstream list(sListPath, std::ios::binary);
        if (!list)
        {
            AddFailure(sListPath, "cannot read the path list");
            return;
        }
        std::string sLine;
        while (std::getline(list, sLine))
        {
            const size_t nFirst = sLine.find_first_not_of(" \t\r");
            if (nFirst == std::string::npos || sLine[nFirst] == '#')
                continue;
            const size_t nLast = sLine.find_last_not_of(" \t\r");
            AddPath(sLine.substr(nFirst, nLast - nFirst + 1));
        }
    }

    // NAME.~XXXXXXXX: what a pack that did not finish may leave beside its destination.
    static bool LooksTemporary(const std::string& sName)
    {
        if (sName.size() < 11 || sName.compare(sName.size() - 10, 2, ".~") != 0)
            return false;
        for (size_t i = sName.size() - 8; i < sName.size(); ++i)
            if (!std::isxdigit(static_cast<unsigned char>(sName[i])))
                return false;
        return true;
    }

    static std::string IdentityOf(const std::string& sPath)
    {
        std::error_code ec;
        fs::path identity = fs::weakly_canonical(sPath, ec);
        if (ec)
            identity = fs::absolute(sPath, ec).lexically_normal();
        return identity.string();
    }

    const CPluginSet& m_plugins;
    std::set<std::string> m_seen;
};
} // namespace

std::vector<WorkItem> GatherWork(const std::vector<InputArg>& inputs, const CPluginSet& plugins,
                                 std::vector<std::string>* pTemporaries)
{
    CGatherer gatherer(plugins);
    for (const InputArg& input : inputs)
        gatherer.AddArgument(input);
    if (pTemporaries)
        *pTemporaries = std::move(gatherer.m_temporaries);
    return std::move(gatherer.m_work);
}
} // namespace zqpack
