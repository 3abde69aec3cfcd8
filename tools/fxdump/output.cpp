// Text output shared by the views.
#include "fxdump.h"

#include <cstdarg>

namespace fxdump
{
std::string Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list again;
    va_copy(again, args);
    char sz[256];
    const int nLength = std::vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    std::string sOut;
    if (nLength < 0)
        sOut = "";
    else if (static_cast<size_t>(nLength) < sizeof(sz))
        sOut.assign(sz, static_cast<size_t>(nLength));
    else
    {
        // Longer texts are formatted again into room of their size: nothing is ever cut.
        sOut.resize(static_cast<size_t>(nLength) + 1);
        std::vsnprintf(&sOut[0], sOut.size(), pszFormat, again);
        sOut.resize(static_cast<size_t>(nLength));
    }
    va_end(again);
    return sOut;
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
