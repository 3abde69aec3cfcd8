// For fuzz targets that read effect sources from disk: the sample module's path and a scratch file
// that takes each input, alternating between a plain ("Fx00a") and a compressed ("Fx00c") name.
#pragma once

#include "zqprocess.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// EMBERVISE_SAMPLE_MODULE, else the sample module beside the fuzz program.
inline std::string FuzzSampleModulePath(const char* pszProgram)
{
#if defined(_WIN32)
    const char* const pszSuffix = ".dll";
#else
    const char* const pszSuffix = ".so";
#endif
    const char* pszVariable = std::getenv("EMBERVISE_SAMPLE_MODULE");
    if (pszVariable)
        return pszVariable;
    return (std::filesystem::absolute(pszProgram).parent_path() /
            (std::string("sparkrig_sample") + pszSuffix))
        .string();
}

class CFuzzSourceFile
{
public:
    explicit CFuzzSourceFile(const char* pszTarget)
    {
        const std::filesystem::path base =
            std::filesystem::temp_directory_path() /
            (std::string(pszTarget) + "_" + std::to_string(PlatformGetProcessId()));
        m_sPlainPath = base.string() + ".Fx00a";
        m_sCompressedPath = base.string() + ".Fx00c";
    }

    // Writes the input under the next name; that name, or null when it cannot be written.
    const char* Write(const uint8_t* pData, size_t nSize)
    {
        m_pCurrent = m_bCompressedNext ? &m_sCompressedPath : &m_sPlainPath;
        m_bCompressedNext = !m_bCompressedNext;
        FILE* pFile = std::fopen(m_pCurrent->c_str(), "wb");
        if (!pFile)
            return nullptr;
        const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
        std::fclose(pFile);
        return bWritten ? m_pCurrent->c_str() : nullptr;
    }

    void Remove() const
    {
        if (m_pCurrent)
            std::remove(m_pCurrent->c_str());
    }

private:
    std::string m_sPlainPath, m_sCompressedPath;
    const std::string* m_pCurrent = nullptr;
    bool m_bCompressedNext = false;
};
