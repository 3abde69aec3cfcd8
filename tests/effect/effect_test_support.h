// Shared by the property, document and loader tests: the table-driven test module loaded through
// the real holder, per-process temporary files, and a recording assertion manager.
#pragma once

#include "EffectModule.h"
#include "itripwiremgr.h"
#include "zqstrutils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#define EFFECT_TEST_GETPID _getpid
#else
#include <unistd.h>
#define EFFECT_TEST_GETPID getpid
#endif

namespace effect_test
{
// A file name unique to this test process, in the test temporary folder.
inline std::string TempPath(const std::string& suffix)
{
    return testing::TempDir() + "effect_" + std::to_string(EFFECT_TEST_GETPID()) + "_" +
           testing::UnitTest::GetInstance()->current_test_info()->name() + suffix;
}

inline std::string WriteFile(const std::string& suffix, const std::string& text)
{
    const std::string path = TempPath(suffix);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// testmodule_table loaded with the given description lines (see tests/effect/modules/README.md).
class TableModule
{
public:
    explicit TableModule(const char* pszLines)
    {
        const std::string path = WriteFile(".desc", pszLines);
#if defined(_WIN32)
        _putenv_s("PYRIX_TEST_MODULE_DESC", path.c_str());
        const char* pszSuffix = ".dll";
#else
        setenv("PYRIX_TEST_MODULE_DESC", path.c_str(), 1);
        const char* pszSuffix = ".so";
#endif
        const std::string library = std::string(EMBERVISE_BIN_DIR) + "/testmodule_table" + pszSuffix;
        EXPECT_TRUE(m_Module.Load(library.c_str())) << library;
    }
    const EffectTypeDesc* Type(const char* pszName) const
    {
        return m_Module.FindTypeDesc(pszName);
    }
    const EffectPropDesc* Prop(const char* pszType, uint32_t nIndex) const
    {
        const EffectTypeDesc* pType = Type(pszType);
        return pType && nIndex < pType->nNumProps ? &pType->pProps[nIndex] : nullptr;
    }

    CEffectModule m_Module;
};

struct Report
{
    std::string sExpression, sFile, sFunction, sMessage;
    int nLine;
};

// Records every report and answers "go on".
class RecordingManager : public ITripwireMgr
{
public:
    RecordingManager() { ZQSetAssertManagerForTesting(this); }
    ~RecordingManager() { ZQSetAssertManagerForTesting(nullptr); }
    int GetVersion() override { return 1; }
    void SetDefaultAnswer(int) override {}
    int GetDefaultAnswer() override { return 0; }
    void SetQuiet(bool) override {}
    bool IsQuiet() override { return true; }
    unsigned GetReportCount() override { return static_cast<unsigned>(m_Reports.size()); }
    void ResetReportCount() override { m_Reports.clear(); }
    int HandleAssert(const char* pszExpression, const char* pszFile, int nLine, const char* pszFunction,
                     const char* pszMessage, va_list*) override
    {
        m_Reports.push_back({pszExpression, pszFile, pszFunction, pszMessage, nLine});
        return 0;
    }

    std::vector<Report> m_Reports;
};

inline void ExpectReport(const Report& report, const char* pszExpression, const char* pszFile, int nLine,
                         const char* pszFunction, const char* pszMessage)
{
    EXPECT_EQ(report.sExpression, pszExpression);
    EXPECT_EQ(report.sFile, pszFile);
    EXPECT_EQ(report.nLine, nLine);
    EXPECT_EQ(report.sFunction, pszFunction);
    EXPECT_EQ(report.sMessage, pszMessage);
}
} // namespace effect_test
