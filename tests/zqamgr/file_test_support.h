// Shared by the file layer tests: a private temporary folder per test, whole-file reads and
// writes, and an assertion manager that records reports.
#pragma once

#include "itripwiremgr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class CTempDir
{
public:
    CTempDir()
    {
        const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        m_Path = std::filesystem::temp_directory_path() /
                 (std::string("zqafiles_") + pInfo->name() + "_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(m_Path);
    }
    ~CTempDir() { std::filesystem::remove_all(m_Path); }
    std::string File(const char* pszName) const { return (m_Path / pszName).string(); }

private:
    std::filesystem::path m_Path;
};

inline void WriteFile(const std::string& sPath, const Bytes& data)
{
    std::ofstream(sPath, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

inline Bytes ReadFile(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Keeps "expression|file|function" of every report and answers "go on".
class CRecordingManager : public ITripwireMgr
{
public:
    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int) override {}
    int GetDefaultAnswer() override { return 0; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return unsigned(m_Reports.size()); }
    void ResetReportCount() override { m_Reports.clear(); }
    int HandleAssert(const char* pszExpression, const char* pszFile, int, const char* pszFunction,
                     const char*, va_list*) override
    {
        m_Reports.push_back(std::string(pszExpression) + "|" + pszFile + "|" + pszFunction);
        return 0;
    }
    std::vector<std::string> m_Reports;
};
