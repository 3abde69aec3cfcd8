// A module whose code announces itself: loading it appends "loaded" to the file that ZQTEST_MARKER
// names, from a static constructor, before any export is called. It describes no types.
#include "pyrixmodule.h"
#include "zqexport.h"

#include <cstdio>
#include <cstdlib>

namespace
{
struct CMarker
{
    CMarker()
    {
        const char* pszPath = std::getenv("ZQTEST_MARKER");
        if (std::FILE* pFile = pszPath ? std::fopen(pszPath, "ab") : nullptr)
        {
            std::fputs("loaded\n", pFile);
            std::fclose(pFile);
        }
    }
} s_Marker;

EffectModuleInfo s_Info = {1, 0, nullptr};
} // namespace

PYRIX_EXTERN_C ZQ_EXPORT int PyrixGetInfo(EffectModuleInfo** ppInfo)
{
    *ppInfo = &s_Info;
    return 1;
}

PYRIX_EXTERN_C ZQ_EXPORT void PyrixReleaseInfo(EffectModuleInfo*) {}
