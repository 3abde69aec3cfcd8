// The effect module of each document: found with the packer's own locator search from the
// document's folder, loaded once per module path, and loaded again when the locator file or the
// module library changes on disk. Documents of different projects use different modules at once.
#pragma once

#include "zqprocess.h"

#include <map>
#include <memory>
#include <string>

class CEffectModule;
class CModuleCache;

struct ProjectModule
{
    enum class State
    {
        NoLocator,  // no locator file in the folder or above it
        Refused,    // the locator that governs the file fails the trust rule
        LoadFailed, // the locator names a module that is refused or cannot be loaded
        Ready,
    };
    State eState = State::NoLocator;
    std::string sLocator;                   // the locator file that governs the document
    std::string sModulePath;                // the module it names
    std::string sWhy;                       // Refused, LoadFailed: why, and how to allow it
    const CEffectModule* pModule = nullptr; // valid until the next Find
    CModuleCache* pCache = nullptr;         // holds pModule under sModulePath
};

class CProjects
{
public:
    CProjects();
    ~CProjects();
    CProjects(const CProjects&) = delete;
    CProjects& operator=(const CProjects&) = delete;

    // The module for a source file at sPath (which need not exist on disk).
    ProjectModule Find(const std::string& sPath);

private:
    struct Loaded
    {
        std::unique_ptr<CModuleCache> pCache;
        const CEffectModule* pModule = nullptr;
        std::string sWhy;
        PlatformFileStamp locatorStamp{};
        PlatformFileStamp libraryStamp{};
        bool bLocatorStamp = false;
        bool bLibraryStamp = false;
    };
    std::map<std::string, Loaded> m_loaded; // by module path
};
