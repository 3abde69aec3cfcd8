// Helpers shared by the test programs: a recording assertion manager, a temporary folder of the
// running test, whole-file reads and writes, little-endian words, and the programs and libraries of
// the build's bin folder (EMBERVISE_BIN_DIR, which embervise_add_gtest defines).
#pragma once

#include "itripwiremgr.h"
#include "zqprocess.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

// One report as its check site made it.
struct Report
{
    std::string sExpression, sFile, sFunction, sMessage;
    int nLine;

    std::string Site() const { return sExpression + "|" + sFile + "|" + sFunction; }
    std::string Text() const { return sExpression + "|" + sFunction + "|" + sMessage; }
    std::string Full() const
    {
        return sExpression + "|" + sFile + "|" + std::to_string(nLine) + "|" + sFunction + "|" + sMessage;
    }
};

// Records every report and answers each with one code; the assertion manager while it lives.
class CRecordingTripwire : public ITripwireMgr
{
public:
    explicit CRecordingTripwire(int nAnswer = 0) : m_nAnswer(nAnswer) { ZQSetAssertManagerForTesting(this); }
    ~CRecordingTripwire() { ZQSetAssertManagerForTesting(nullptr); }
    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int nAnswer) override { m_nAnswer = nAnswer; }
    int GetDefaultAnswer() override { return m_nAnswer; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return static_cast<unsigned>(m_Reports.size()); }
    void ResetReportCount() override { m_Reports.clear(); }
    int HandleAssert(const char* pszExpression, const char* pszFile, int nLine, const char* pszFunction,
                     const char* pszMessage, va_list*) override
    {
        m_Reports.push_back({pszExpression, pszFile, pszFunction, pszMessage, nLine});
        return m_nAnswer;
    }

    // The reports so far in one of the forms of Report, which are then forgotten.
    Texts Take(std::string (Report::*pfnForm)() const = &Report::Text)
    {
        Texts texts;
        for (const Report& report : m_Reports)
            texts.push_back((report.*pfnForm)());
        m_Reports.clear();
        return texts;
    }

    std::vector<Report> m_Reports;

private:
    int m_nAnswer;
};

// A folder of the running test's own, made at first use. Each test case usually runs in a process
// of its own; at exit the working folder is restored and every such folder removed.
inline const fs::path& TempDir()
{
    static const struct CRoot
    {
        CRoot()
        {
            std::random_device random;
            do
                path = fs::temp_directory_path() / ("embervise-test-" + std::to_string(random()));
            while (!fs::create_directory(path));
            path = fs::canonical(path);
        }
        ~CRoot()
        {
            std::error_code ec;
            fs::current_path(saved, ec);
            fs::remove_all(path, ec);
        }
        fs::path saved = fs::current_path(), path;
    } s_Root;
    static fs::path s_Dir;
    const testing::TestInfo* pTest = testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir =
        s_Root.path / (pTest ? std::string(pTest->test_suite_name()) + "." + pTest->name() : "-");
    if (dir != s_Dir)
        fs::create_directories(s_Dir = dir);
    return s_Dir;
}

// A path inside TempDir(), in the platform's spelling.
inline std::string TempPath(const std::string& sRelative)
{
    return (TempDir() / fs::path(sRelative).make_preferred()).string();
}

// Whole files; a missing file reads as empty. Writing makes the missing folders and answers the path.
inline std::string ReadFile(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes ReadBytes(const std::string& sPath)
{
    const std::string sBytes = ReadFile(sPath);
    return Bytes(sBytes.begin(), sBytes.end());
}

inline std::string WriteFile(const std::string& sPath, const std::string& sBytes)
{
    if (fs::path(sPath).has_parent_path())
        fs::create_directories(fs::path(sPath).parent_path());
    std::ofstream(sPath, std::ios::binary) << sBytes;
    return sPath;
}

inline std::string WriteFile(const std::string& sPath, const Bytes& bytes)
{
    return WriteFile(sPath, std::string(bytes.begin(), bytes.end()));
}

inline std::string WriteTemp(const std::string& sRelative, const std::string& sBytes)
{
    return WriteFile(TempPath(sRelative), sBytes);
}

// 32-bit words as they lie in a little-endian file; WordAt answers 0xDEADBEEF past the end.
inline void PutWord(Bytes& bytes, size_t nOffset, uint32_t nWord)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(nOffset + i) = static_cast<uint8_t>(nWord >> (8 * i));
}

inline Bytes Words(std::initializer_list<uint32_t> words)
{
    Bytes bytes(4 * words.size());
    for (size_t i = 0; i < words.size(); ++i)
        PutWord(bytes, 4 * i, words.begin()[i]);
    return bytes;
}

inline uint32_t WordAt(const Bytes& bytes, size_t nOffset)
{
    if (nOffset + 4 > bytes.size())
        return 0xDEADBEEFu;
    return bytes[nOffset] | (bytes[nOffset + 1] << 8) | (bytes[nOffset + 2] << 16) |
           (static_cast<uint32_t>(bytes[nOffset + 3]) << 24);
}

// A program or a loadable library of the build's bin folder, by base name.
#if defined(_WIN32)
const char* const kProgramSuffix = ".exe";
const char* const kLibrarySuffix = ".dll";
#else
const char* const kProgramSuffix = "";
const char* const kLibrarySuffix = ".so";
#endif
inline std::string BinProgram(const std::string& sBase)
{
    return EMBERVISE_BIN_DIR "/" + sBase + kProgramSuffix;
}

inline std::string BinLibrary(const std::string& sBase)
{
    return EMBERVISE_BIN_DIR "/" + sBase + kLibrarySuffix;
}

inline void SetEnv(const char* pszName, const char* pszValue)
{
#if defined(_WIN32)
    _putenv_s(pszName, pszValue);
#else
    setenv(pszName, pszValue, 1);
#endif
}

// Gives the file to another user (nobody, uid 65534), as a file planted by someone else would be.
// False where that cannot be done: not running as root, or a system without POSIX owners.
inline bool GiveToAnotherUser(const std::string& sPath)
{
#if defined(_WIN32)
    (void)sPath;
    return false;
#else
    return geteuid() == 0 && chown(sPath.c_str(), 65534, static_cast<gid_t>(-1)) == 0;
#endif
}

// Program output as lines, whatever line ends the platform's text streams write ("\r\n" on Windows).
inline std::string TextLines(const std::string& sText)
{
    return std::regex_replace(sText, std::regex("\r\n"), "\n");
}

struct RunResult
{
    int nExit = -1; // -1: the program did not start
    std::string sOut, sErr;
};

// Runs a program of the bin folder in the current folder and waits for it.
inline RunResult RunProgram(const std::string& sBase, const std::vector<std::string>& args)
{
    std::vector<const char*> argv;
    for (const std::string& sArg : args)
        argv.push_back(sArg.c_str());
    const std::string sOut = TempPath("run.out"), sErr = TempPath("run.err");
    // Under Wine on a loaded machine a start can fail for a moment: two more tries before -1.
    PlatformProcess hProcess = nullptr;
    for (int nTry = 0; nTry < 3 && !hProcess; ++nTry)
    {
        if (nTry)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        hProcess = PlatformStartProcess(BinProgram(sBase).c_str(), argv.data(), argv.size(), sOut.c_str(),
                                        sErr.c_str());
    }
    RunResult result;
    if (hProcess)
    {
        EXPECT_EQ(0, PlatformWaitAnyProcess(&hProcess, 1, &result.nExit));
        result.sOut = TextLines(ReadFile(sOut));
        result.sErr = TextLines(ReadFile(sErr));
    }
    return result;
}
