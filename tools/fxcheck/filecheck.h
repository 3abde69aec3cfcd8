// Checks one effect source file as the packer would pack it: reads it, finds and loads its effect
// module (the project's, or one named by the caller), checks it, and confirms the verdict with the
// packer's own loader.
#pragma once

#include "diagnostic.h"
#include "sourcetext.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CEffectModule;

// Effect modules by path, each loaded once for a whole run and unloaded at the end.
class CModuleCache
{
public:
    CModuleCache();
    ~CModuleCache();
    CModuleCache(const CModuleCache&) = delete;
    CModuleCache& operator=(const CModuleCache&) = delete;

    // The loaded module, or null when it cannot be loaded (sWhy then says why). A module that a
    // project locator named (bNamedByLocator) is loaded only when it passes the trust rule.
    const CEffectModule* Get(const std::string& sPath, std::string& sWhy, bool bNamedByLocator = false);
    const CEffectModule* Get(const std::string& sPath)
    {
        std::string sWhy;
        return Get(sPath, sWhy);
    }

    // The paths of the modules loaded so far, in the order they were first loaded.
    const std::vector<std::string>& LoadedPaths() const { return m_loaded; }

private:
    struct Entry
    {
        std::unique_ptr<CEffectModule> pModule; // null when it was not loaded
        std::string sWhy;
    };
    std::map<std::string, Entry> m_modules;
    std::vector<std::string> m_loaded;
};

// Appends the findings for sPath, located; `text` keeps the file's text for the caret display.
// sModule empty: the module named by the project locator above the file, as the packer finds it.
// pBudget bounds the findings of each code and counts the rest (default: kDefaultFindingLimit per
// code, the rest dropped uncounted); it starts over for the file.
void CheckFile(const std::string& sPath, const std::string& sModule, CModuleCache& modules, CSourceText& text,
               std::vector<Diagnostic>& diags, CFindingBudget* pBudget = nullptr);
// The same for the file's bytes given in memory (an editor's unsaved text, say): LZSS-compressed
// when sPath ends in "c", as on disk. sPath names the file in findings and is where the project
// locator is looked for.
void CheckText(const std::string& sPath, std::string_view bytes, const std::string& sModule,
               CModuleCache& modules, CSourceText& text, std::vector<Diagnostic>& diags,
               CFindingBudget* pBudget = nullptr);
// The same, checking the bytes where they are, without a copy: they must stay unchanged while
// `text` is used.
void CheckBuffer(const std::string& sPath, std::string_view bytes, const std::string& sModule,
                 CModuleCache& modules, CSourceText& text, std::vector<Diagnostic>& diags,
                 CFindingBudget* pBudget = nullptr);
