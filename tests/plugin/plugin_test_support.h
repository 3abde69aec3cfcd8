// Recording stand-ins for the host and the assertion library, and a temporary folder tree.
#pragma once

#include "IPacker.h"
#include "itripwiremgr.h"
#include "zqplatform.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Records every report and answers "go on".
class CRecordingTripwire : public ITripwireMgr
{
public:
    struct Report
    {
        std::string sExpression, sFunction, sMessage;
    };
    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int) override {}
    int GetDefaultAnswer() override { return 0; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return static_cast<unsigned>(m_Reports.size()); }
    void ResetReportCount() override { m_Reports.clear(); }
    int HandleAssert(const char* pszExpression, const char*, int, const char* pszFunction, const char* pszMessage,
                     va_list*) override
    {
        m_Reports.push_back({pszExpression, pszFunction, pszMessage});
        return 0;
    }
    std::vector<Report> m_Reports;
};

// Records every sink call as one text: "task:T", "subtask:T", "writable:P", "0:line", "2:line".
class CRecordingSink : public IPackerMessageSink
{
public:
    bool SetTask(const char* psz) override { return Record("task:", psz); }
    bool SetSubTask(const char* psz) override { return Record("subtask:", psz); }
    bool SetProgress(uint32_t, uint32_t) override { return Record("progress", ""); }
    bool ClearMessages() override { return Record("clear", ""); }
    bool MakeFileWritable(const char* psz) override
    {
        Record("writable:", psz);
        return m_bWritable;
    }
    bool LogMessage(int32_t nLevel, const char* psz) override
    {
        return Record(std::to_string(nLevel) + ":", psz);
    }
    bool Record(const std::string& sWhat, const char* psz)
    {
        m_Calls.push_back(sWhat + psz);
        return true;
    }
    std::vector<std::string> m_Calls;
    bool m_bWritable = true;
};

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class CTempTree
{
public:
    CTempTree()
    {
        const fs::path base = fs::temp_directory_path() / "embervise-plugin-";
        std::random_device random;
        do
            m_Root = base.string() + std::to_string(random());
        while (!fs::create_directory(m_Root));
        m_Root = fs::canonical(m_Root);
    }
    ~CTempTree()
    {
        std::error_code ec;
        fs::current_path(m_Saved, ec);
        fs::remove_all(m_Root, ec);
    }
    // Writes a file (creating its folders); answers its full path.
    std::string Write(const std::string& sRelative, const std::string& sText) const
    {
        const fs::path path = m_Root / sRelative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << sText;
        return path.string();
    }
    std::string Path(const std::string& sRelative) const { return (m_Root / sRelative).string(); }
    fs::path m_Root;
    fs::path m_Saved = fs::current_path();
};

inline std::string ReadFile(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

constexpr char SEP = PLATFORM_PATH_SEP;
