// The files that check looks at: named files, ZQA sources found in folders, and path lists.
#include "zqa.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace zqa
{
namespace
{
// The extensions of the engine's ZQA sources: "Fx00a", "Model00c", ... ("00" and the text or
// compressed letter).
bool IsZqaSourceName(const std::string& sName)
{
    const size_t nDot = sName.rfind('.');
    if (nDot == std::string::npos || sName.size() - nDot < 4)
        return false;
    const char cLast = static_cast<char>(std::tolower(static_cast<unsigned char>(sName.back())));
    return sName.compare(sName.size() - 3, 2, "00") == 0 && (cLast == 'a' || cLast == 'c');
}

class CGatherer
{
public:
    void AddArgument(const CheckArg& arg)
    {
        if (!arg.bLiteral && arg.sText.size() > 1 && arg.sText[0] == '@')
            AddList(arg.sText.substr(1));
        else
            AddPath(arg.sText);
    }

    std::vector<std::string> m_files;

private:
    void AddPath(const std::string& sPath)
    {
        std::error_code ec;
        if (fs::is_directory(sPath, ec))
            AddFolder(sPath);
        else
            m_files.push_back(sPath); // missing or unreadable: checking it says why
    }

    // Depth-first, entries in name order; links to folders are not followed (no loops).
    void AddFolder(const fs::path& folder)
    {
        std::vector<std::pair<std::string, bool>> entries;
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec))
        {
            std::error_code ecType;
            const bool bFolder = !it->is_symlink(ecType) && it->is_directory(ecType);
            entries.emplace_back(it->path().string(), bFolder);
        }
        if (ec)
        {
            m_files.push_back(folder.string()); // reported as unreadable
            return;
        }
        std::sort(entries.begin(), entries.end());
        for (const auto& entry : entries)
        {
            if (entry.second)
                AddFolder(entry.first);
            else if (IsZqaSourceName(fs::path(entry.first).filename().string()))
                m_files.push_back(entry.first);
        }
    }

    // One path per line; blank lines and lines starting with '#' are left out.
    void AddList(const std::string& sListPath)
    {
        std::ifstream list(sListPath, std::ios::binary);
        if (!list)
        {
            m_files.push_back(sListPath);
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
};
} // namespace

std::vector<std::string> GatherCheckFiles(const std::vector<CheckArg>& args)
{
    CGatherer gatherer;
    for (const CheckArg& arg : args)
        gatherer.AddArgument(arg);
    return std::move(gatherer.m_files);
}
} // namespace zqa
