// TripwireDLL, the assertion library: prints each report to stderr in the style of a compiler
// message and answers every report with one configured choice. The answer comes from the
// environment variable TRIPWIRE_ANSWER (continue, ignore, break, abort; ignore when unset), read
// once when the manager is first asked for.
#include "itripwiremgr.h"
#include "zqexport.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace
{
// The answers a check site acts on; any other value means "go on".
const int kAnswerContinue = 0;
const int kAnswerBreak = 1100;
const int kAnswerAbort = 1101;
const int kAnswerIgnoreAlways = 1102;

const int kVersion = 1;

bool EqualsIgnoringCase(const char* psz1, const char* psz2)
{
    for (; *psz1 && *psz2; ++psz1, ++psz2)
    {
        if (std::tolower(static_cast<unsigned char>(*psz1)) !=
            std::tolower(static_cast<unsigned char>(*psz2)))
            return false;
    }
    return *psz1 == *psz2;
}

int AnswerFromEnvironment()
{
    const char* pszAnswer = std::getenv("TRIPWIRE_ANSWER");
    if (!pszAnswer || !*pszAnswer)
        return kAnswerIgnoreAlways;
    static const struct
    {
        const char* pszName;
        int nAnswer;
    } s_answers[] = {
        {"continue", kAnswerContinue},
        {"ignore", kAnswerIgnoreAlways},
        {"break", kAnswerBreak},
        {"abort", kAnswerAbort},
    };
    for (const auto& answer : s_answers)
    {
        if (EqualsIgnoringCase(pszAnswer, answer.pszName))
            return answer.nAnswer;
    }
    std::fprintf(
        stderr,
        "TripwireDLL: unknown TRIPWIRE_ANSWER \"%s\" (continue, ignore, break, abort); using ignore\n",
        pszAnswer);
    return kAnswerIgnoreAlways;
}

const char* OrEmpty(const char* psz)
{
    return psz ? psz : "";
}

class CTripwireMgr final : public ITripwireMgr
{
public:
    CTripwireMgr() : m_nDefaultAnswer(AnswerFromEnvironment()), m_bQuiet(false), m_nReportCount(0) {}

    int GetVersion() override { return kVersion; }
    void SetDefaultAnswer(int nResult) override { m_nDefaultAnswer = nResult; }
    int GetDefaultAnswer() override { return m_nDefaultAnswer; }
    void SetQuiet(bool bQuiet) override { m_bQuiet = bQuiet; }
    bool IsQuiet() override { return m_bQuiet; }
    unsigned GetReportCount() override { return m_nReportCount; }
    void ResetReportCount() override { m_nReportCount = 0; }

    int HandleAssert(const char* pszExpression, const char* pszFile, int nLine, const char* pszFunction,
                     const char* pszMessage, va_list* pArgs) override
    {
        ++m_nReportCount;
        if (!m_bQuiet)
        {
            // The message is a format for the arguments that follow it.
            char szMessage[1024];
            if (pArgs && pszMessage)
            {
                va_list args;
                va_copy(args, *pArgs);
                std::vsnprintf(szMessage, sizeof(szMessage), pszMessage, args);
                va_end(args);
            }
            else
                std::snprintf(szMessage, sizeof(szMessage), "%s", OrEmpty(pszMessage));
            std::fprintf(stderr, "%s(%d): assertion failed in %s: %s: %s\n", OrEmpty(pszFile), nLine,
                         OrEmpty(pszFunction), OrEmpty(pszExpression), szMessage);
            std::fflush(stderr);
        }
        return m_nDefaultAnswer;
    }

private:
    int m_nDefaultAnswer;
    bool m_bQuiet;
    unsigned m_nReportCount;
};
} // namespace

// The manager lives as long as the library stays loaded.
extern "C" ZQ_EXPORT ITripwireMgr* GetTripwireMgr()
{
    static CTripwireMgr s_manager;
    return &s_manager;
}
