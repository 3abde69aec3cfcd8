// Text output shared by the views.
#include "fxdump.h"

#include <cstdarg>

namespace fxdump
{
std::string Format(const char* pszFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    return sz;
}

void FlushAbove(std::string& sOut, std::FILE* pOut, size_t nAbove)
{
    if (!sOut.empty() && sOut.size() >= nAbove)
    {
        std::fwrite(sOut.data(), 1, sOut.size(), pOut);
        sOut.clear();
    }
}
} // namespace fxdump
