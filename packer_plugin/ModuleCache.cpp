#include "ModuleCache.h"

#include "zqplatform.h"

#include <mutex>
#include <string>
#include <vector>

namespace
{
// Module-wide: the references taken, in order; given back in reverse order at unload.
class CKeptModules
{
public:
    ~CKeptModules()
    {
        while (!m_libraries.empty())
        {
            PlatformFreeLibrary(m_libraries.back());
            m_libraries.pop_back();
        }
    }

    void Keep(const char* pszPath)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::string& sPath : m_paths)
            if (sPath == pszPath)
                return;
        if (PlatformLibrary hLibrary = PlatformLoadLibrary(pszPath))
        {
            m_paths.emplace_back(pszPath);
            m_libraries.push_back(hLibrary);
        }
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_paths;
    std::vector<PlatformLibrary> m_libraries;
};

CKeptModules s_KeptModules;
} // namespace

void KeepModuleLoaded(const char* pszPath)
{
    if (pszPath)
        s_KeptModules.Keep(pszPath);
}
