// Recording stand-ins for the host and the assertion library, and a temporary folder tree.
#pragma once

#include "IPacker.h"
#include "MessageLog.h"
#include "itripwiremgr.h"
#include "zqplatform.h"
#include "zqstrutils.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

constexpr char SEP = PLATFORM_PATH_SEP;

// Records each report's expression, function and message, and answers "go on"; installed while alive.
class CRecordingTripwire : public ITripwireMgr
{
public:
    CRecordingTripwire() { ZQSetAssertManagerForTesting(this); }
    ~CRecordingTripwire() { ZQSetAssertManagerForTesting(nullptr); }
    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int) override {}
    int GetDefaultAnswer() override { return 0; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return static_cast<unsigned>(m_Reports.size()); }
    void ResetReportCount() override { m_Reports.clear(); }
    int HandleAssert(const char* pszExpr, const char*, int, const char* pszFunc, const char* pszMsg,
                     va_list*) override
    {
        m_Reports.push_back(std::string(pszExpr) + "|" + pszFunc + "|" + pszMsg);
        return 0;
    }
    std::vector<std::string> m_Reports;
};

// Records every call as one text: "task:T", "subtask:T", "writable:P", "0:line" (errors), "2:line".
// Its destruction clears the stored sink, so no later code sees a dangling one.
class CRecordingSink : public IPackerMessageSink
{
public:
    ~CRecordingSink() { SetMessageSink(nullptr); }
    bool SetTask(const char* psz) override { return Record("task:", psz); }
    bool SetSubTask(const char* psz) override { return Record("subtask:", psz); }
    bool SetProgress(uint32_t, uint32_t) override { return Record("progress", ""); }
    bool ClearMessages() override { return Record("clear", ""); }
    bool MakeFileWritable(const char* psz) override { return Record("writable:", psz) && m_bWritable; }
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

// A fresh folder under the system's temporary folder; removed, and the working folder restored, at the end.
class CTempTree
{
public:
    CTempTree()
    {
        std::random_device random;
        do
            m_Root = (fs::temp_directory_path() / "embervise-plugin-").string() + std::to_string(random());
        while (!fs::create_directory(m_Root));
        m_Root = fs::canonical(m_Root);
    }
    ~CTempTree()
    {
        std::error_code ec;
        fs::current_path(m_Saved, ec);
        fs::remove_all(m_Root, ec);
    }
    // Writes a file, creating its folders; answers its full path.
    std::string Write(const std::string& sRelative, const std::string& sText) const
    {
        fs::create_directories((m_Root / sRelative).parent_path());
        std::ofstream(m_Root / sRelative, std::ios::binary) << sText;
        return Path(sRelative);
    }
    std::string Path(const std::string& sRelative) const
    {
        return (m_Root / fs::path(sRelative).make_preferred()).string();
    }
    // Whether a locator file lies in a folder above the tree (then "no locator" cannot be tested).
    bool LocatorAbove() const
    {
        for (fs::path dir = m_Root.parent_path(); dir != dir.parent_path(); dir = dir.parent_path())
            for (const auto& entry : fs::directory_iterator(dir))
                if (entry.path().extension() == ".proj00")
                    return true;
        return false;
    }
    fs::path m_Root;
    fs::path m_Saved = fs::current_path();
};

inline std::string ReadFile(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
