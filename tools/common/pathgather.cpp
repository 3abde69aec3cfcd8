#include "pathgather.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace
{
class CPathGatherer
{
public:
    explicit CPathGatherer(const std::function<bool(const std::string&)>& wanted) : m_wanted(wanted) {}

    void AddArgument(const PathArg& arg)
    {
        if (!arg.bLiteral && arg.sText.size() > 1 && arg.sText[0] == '@')
            AddList(arg.sText.substr(1));
        else
            AddPath(arg.sText);
    }

    std::vector<GatheredPath> m_paths;

private:
    void AddFailure(const std::string& sPath, const std::string& sError)
    {
        m_paths.push_back({sPath, true, false, sError});
    }

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
        if (!bNamed && !m_wanted(sPath))
            return;
        const bool bFirst = m_seen.insert(sIdentity.empty() ? IdentityOf(sPath) : sIdentity).second;
        m_paths.push_back({sPath, bNamed, !bFirst, std::string()});
    }

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
            else
                AddFile(entry.path.string(), false,
                        entry.bLink ? std::string() : (identity / entry.sName).string());
        }
    }

    // Paths are taken as written (relative ones against the current directory); they are never
    // lists themselves.
    void AddList(const std::string& sListPath)
    {
        std::vector<std::string> paths;
        if (!ReadPathList(sListPath, &paths))
        {
            AddFailure(sListPath, "cannot read the path list");
            return;
        }
        for (const std::string& sPath : paths)
            AddPath(sPath);
    }

    static std::string IdentityOf(const std::string& sPath)
    {
        std::error_code ec;
        fs::path identity = fs::weakly_canonical(sPath, ec);
        if (ec)
            identity = fs::absolute(sPath, ec).lexically_normal();
        return identity.string();
    }

    const std::function<bool(const std::string&)>& m_wanted;
    std::set<std::string> m_seen;
};
} // namespace

bool ReadPathList(const std::string& sListPath, std::vector<std::string>* pPaths)
{
    std::ifstream list(sListPath, std::ios::binary);
    if (!list)
        return false;
    std::string sLine;
    while (std::getline(list, sLine))
    {
        const size_t nFirst = sLine.find_first_not_of(" \t\r");
        if (nFirst == std::string::npos || sLine[nFirst] == '#')
            continue;
        const size_t nLast = sLine.find_last_not_of(" \t\r");
        pPaths->push_back(sLine.substr(nFirst, nLast - nFirst + 1));
    }
    return true;
}

std::vector<GatheredPath> GatherPaths(const std::vector<PathArg>& args,
                                      const std::function<bool(const std::string&)>& bWanted)
{
    CPathGatherer gatherer(bWanted);
    for (const PathArg& arg : args)
        gatherer.AddArgument(arg);
    return std::move(gatherer.m_paths);
}
