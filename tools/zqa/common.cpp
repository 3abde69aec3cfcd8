#include "zqa.h"

#include "zqafile.h"
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

bool FindNulByte(const std::string& sPath, bool bCompressed, uint64_t& nOffset)
{
    CZQAFile file;
    if (!file.Open(sPath.c_str(), true, bCompressed, false))
        return false;
    nOffset = 0;
    uint8_t nByte = 0;
    for (; file.ReadByte(nByte); ++nOffset)
    {
        if (nByte == 0)
            return true;
    }
    return false;
}

std::string NotTextMessage(uint64_t nOffset)
{
    return "not ZQA text (binary data: a NUL byte at offset " + std::to_string(nOffset) +
           "); packed effect files are read with fxdump";
}
} // namespace zqa
