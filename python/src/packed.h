// A packed effect file opened for reading: its facts at once, then its effects one at a time, each
// as the JSON object `fxdump --json` writes for it.
#pragma once

#include "bindings.h"
#include "fxdump.h"

#include <mutex>
#include <string>

namespace embervise
{
class CPackedView
{
public:
    // sModule empty: values stay raw words.
    Outcome Open(const std::string& sPath, const std::string& sModule);

    // The file's facts, key counts included: {"file", "size", "module"?, "header", "keyCounts"}.
    std::string HeadJson();
    // The effects one at a time: start with nPos = EffectsStart(); false after the last. Each
    // walk keeps its own position, so walks may interleave.
    uint32_t EffectsStart();
    bool NextEffect(uint32_t& nPos, std::string& sJson);
    // Checks every value and curve record (with the module); then the problems found so far.
    std::string Verify();
    std::string ProblemsJson();

private:
    std::mutex m_Lock; // one Python thread at a time walks the file
    fxdump::PackedFile m_File;
    fxdump::CModuleView m_Module;
    uint32_t m_nCheckedEnd = 0; // effects before this file offset had their values checked
};
} // namespace embervise
