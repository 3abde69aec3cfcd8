#include "fxfmt.h"

#include "tempbeside.h"
#include "zqafile.h"
#include "zqplatform.h"
#include "zqprocess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace fxfmt
{
namespace
{
std::string Reason(int nError)
{
    return std::strerror(nError ? nError : EIO);
}

// Opens and reads one byte with the C library, for the system's own reason when that fails (a
// folder opens on some systems and fails only when read).
bool Readable(const std::string& sPath, std::string& sError)
{
    errno = 0;
    std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile)
    {
        sError = "cannot be read: " + Reason(errno);
        return false;
    }
    std::fgetc(pFile);
    const bool bError = std::ferror(pFile) != 0;
    const int nError = errno;
    std::fclose(pFile);
    if (bError)
        sError = "cannot be read: " + Reason(nError);
    return !bError;
}

} // namespace

bool ReadSource(const std::string& sPath, bool bCompressed, std::string& sText, std::string& sError)
{
    sText.clear();
    if (!Readable(sPath, sError))
        return false;
    CZQAFile file;
    if (!file.Open(sPath.c_str(), true, bCompressed, false))
    {
        sError = bCompressed ? "not LZSS-compressed ZQA text (its first four bytes are not zero)"
                             : "cannot be opened for reading";
        return false;
    }
    for (;;)
    {
        uint32_t nAvailable = 0;
        const uint8_t* p = file.PeekBuffered(nAvailable);
        if (p && nAvailable)
        {
            sText.append(reinterpret_cast<const char*>(p), nAvailable);
            file.SkipBuffered(nAvailable);
            continue;
        }
        uint8_t nByte = 0;
        if (!file.ReadByte(nByte))
            break;
        sText.push_back(static_cast<char>(nByte));
    }
    // The packer's reader goes on after an end mark that stands inside a token; writing back only
    // the text before it would change what the packer reads.
    uint8_t nByte = 0;
    if (bCompressed && file.ReadByte(nByte))
    {
        sError = "compressed data goes on after its end mark at text offset " + std::to_string(sText.size()) +
                 "; fxfmt leaves such a file alone";
        return false;
    }
    return true;
}

bool ReadStandardInput(std::string& sText, std::string& sError)
{
    sText.clear();
    PlatformSetBinaryMode(stdin);
    char aBuffer[65536];
    for (;;)
    {
        const size_t nRead = std::fread(aBuffer, 1, sizeof(aBuffer), stdin);
        sText.append(aBuffer, nRead);
        if (nRead < sizeof(aBuffer))
            break;
    }
    if (std::ferror(stdin))
    {
        sError = "cannot be read: " + Reason(errno);
        return false;
    }
    return true;
}

bool ReplaceSource(const std::string& sPath, bool bCompressed, const std::string& sText, std::string& sError,
                   int& nInterrupt)
{
    nInterrupt = 0;
    const std::string sTemp = TempNameBeside(sPath, "fxfmt");
    errno = 0;
    CZQAFile output;
    if (!output.Open(sTemp.c_str(), false, bCompressed, false))
    {
        sError = "cannot be written (temporary file " + sTemp + "): " + Reason(errno);
        return false;
    }
    bool bOk = true;
    int nError = 0;
    for (const char c : sText)
    {
        if (!output.WriteByte(static_cast<uint8_t>(c)))
        {
            bOk = false;
            nError = errno;
            break;
        }
    }
    errno = 0;
    if (!output.Close() && bOk)
    {
        bOk = false;
        nError = errno;
    }
    if (!bOk)
    {
        std::remove(sTemp.c_str());
        sError = "write failed: " + Reason(nError);
        return false;
    }
    // The file keeps its permissions.
    std::error_code ec;
    const fs::file_status status = fs::status(sPath, ec);
    if (!ec)
        fs::permissions(sTemp, status.permissions(), ec);
    nInterrupt = PlatformCaughtInterrupt();
    if (nInterrupt != 0)
    {
        std::remove(sTemp.c_str());
        sError = "interrupted; left as it was";
        return false;
    }
    if (!PlatformReplaceFile(sTemp.c_str(), sPath.c_str()))
    {
        const int nReplaceError = errno;
        std::remove(sTemp.c_str());
        sError = "cannot be replaced: " + Reason(nReplaceError);
        return false;
    }
    return true;
}
} // namespace fxfmt
