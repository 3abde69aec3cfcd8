#include "zqa.h"

#include "zqautil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zqa
{
bool ResolveCompressed(const std::string& sPath, InputMode eMode)
{
    switch (eMode)
    {
    case InputMode::Compressed:
        return true;
    case InputMode::Plain:
        return false;
    case InputMode::ByName:
        break;
    }
    return CZQAUtil::IsFileCompressed(sPath.c_str());
}

void PrintError(const std::string& sMessage)
{
    std::fprintf(stderr, "zqa: %s\n", sMessage.c_str());
}

bool CheckReadable(const std::string& sPath)
{
    errno = 0;
    std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile)
    {
        PrintError(sPath + ": " + std::strerror(errno));
        return false;
    }
    // A directory opens on some systems and fails only when read.
    std::fgetc(pFile);
    const bool bError = std::ferror(pFile) != 0;
    const int nError = errno;
    std::fclose(pFile);
    if (bError)
    {
        PrintError(sPath + ": " + std::strerror(nError ? nError : EIO));
        return false;
    }
    return true;
}
} // namespace zqa
