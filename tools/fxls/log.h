// The server's log: to a file or standard error, only when asked. Standard output carries the
// protocol and nothing else.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class CLog
{
public:
    CLog() = default;
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // sPath empty: standard error. False when the file cannot be opened.
    bool Open(const std::string& sPath);
    bool IsOn() const { return m_pFile != nullptr; }
    // One line with the time since the start.
    void Line(const std::string& sText);

private:
    std::FILE* m_pFile = nullptr;
    bool m_bOwned = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};
