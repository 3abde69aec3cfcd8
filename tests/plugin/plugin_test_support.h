// A recording stand-in for the host's message sink, and a check for locator files above the test
// folder.
#pragma once

#include "IPacker.h"
#include "MessageLog.h"
#include "test_support.h"
#include "zqplatform.h"

constexpr char SEP = PLATFORM_PATH_SEP;

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
    Texts m_Calls;
    bool m_bWritable = true;
};

// Whether a locator file lies in a folder above the test folder (then "no locator" cannot be tested).
inline bool LocatorAbove()
{
    for (fs::path dir = TempDir().parent_path(); dir != dir.parent_path(); dir = dir.parent_path())
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".proj00")
                return true;
    return false;
}
