#include "log.h"

CLog::~CLog()
{
    if (m_bOwned && m_pFile)
        std::fclose(m_pFile);
}

bool CLog::Open(const std::string& sPath)
{
    if (sPath.empty())
    {
        m_pFile = stderr;
        return true;
    }
    m_pFile = std::fopen(sPath.c_str(), "ab");
    m_bOwned = m_pFile != nullptr;
    return m_pFile != nullptr;
}

void CLog::Line(const std::string& sText)
{
    if (!m_pFile)
        return;
    const double fSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    std::fprintf(m_pFile, "[%9.3f] %s\n", fSeconds, sText.c_str());
    std::fflush(m_pFile);
}
