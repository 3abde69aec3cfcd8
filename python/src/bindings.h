// The parts of the _embervise extension. Each answers plain results (JSON text for structured
// data, which the package's Python code turns into Python data); none touches the interpreter, so
// every one runs with the GIL released.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace embervise
{
// The engine libraries linked into the extension keep module-wide state (the loader's effect-name
// counter, the tokenizer's tables, the assertion flags): whatever loads, checks or decompiles
// holds this lock. Reading packed records needs it only while a module is loaded.
std::mutex& EngineLock();

// How a call failed; the package raises the matching exception.
enum class Failure
{
    None,
    Format, // the file is missing, unreadable or damaged
    Module, // the effect module cannot be loaded or found
    Pack,   // the packer failed
};

struct Outcome
{
    Failure eFailure = Failure::None;
    std::string sFile;
    std::string sMessage;
    bool Ok() const { return eFailure == Failure::None; }
};

// schema.cpp: the module's types and properties as JSON.
Outcome ModuleSchema(const std::string& sPath, std::string& sJson);
// The module path the project locator file above sFile names.
Outcome LocateModule(const std::string& sFile, std::string& sModule);

// checks.cpp: fxcheck's findings, one JSON line each, as `fxcheck --format json` prints them.
Outcome CheckSource(const std::string& sPath, const std::string& sModule, std::vector<std::string>& lines);
#ifdef EMBERVISE_HAVE_CHECK_TEXT
// The same for a source's bytes in memory; sName names it in findings and is where the project
// locator is looked for.
Outcome CheckSourceText(const std::string& sName, const std::string& sBytes, const std::string& sModule,
                        std::vector<std::string>& lines);
#endif
// Effect source text that packs to the same bytes, as `fxdump --zqa` writes it.
Outcome Decompile(const std::string& sPath, const std::string& sModule, std::string& sText);
// What changed between two packed files, as `fxdump --diff [--json]` prints it.
Outcome Diff(const std::string& sOld, const std::string& sNew, const std::string& sModule, bool bJson,
             bool& bSame, std::string& sText);

// packing.cpp: one pack through the real plug-in, as zqpack packs a file.
struct PackMessage
{
    int32_t nLevel = 0;
    std::string sText;
};
struct PackOutcome
{
    Outcome outcome;
    std::string sDestination; // where the packed file is
    std::vector<PackMessage> messages;
};
PackOutcome Pack(const std::string& sPlugin, const std::string& sSource, const std::string& sDestination);
} // namespace embervise
