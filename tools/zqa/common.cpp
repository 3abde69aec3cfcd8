#include "zqa.h"

#include "lzsswindow.h"
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

bool ScanContent(const std::string& sPath, bool bCompressed, ContentScan& scan)
{
    scan = ContentScan();
    CZQAFile file;
    if (!file.Open(sPath.c_str(), true, bCompressed, false))
        return false;
    for (;;)
    {
        uint32_t nAvailable = 0;
        const uint8_t* p = file.PeekBuffered(nAvailable);
        if (!p || !nAvailable)
        {
            uint8_t nByte = 0;
            if (!file.ReadByte(nByte))
                break;
            if (nByte == 0 && !scan.bHasNul)
            {
                scan.bHasNul = true;
                scan.nNulOffset = scan.nBytes;
            }
            ++scan.nBytes;
            continue;
        }
        const void* pNul = scan.bHasNul ? nullptr : std::memchr(p, 0, nAvailable);
        if (pNul)
        {
            scan.bHasNul = true;
            scan.nNulOffset = scan.nBytes + static_cast<uint64_t>(static_cast<const uint8_t*>(pNul) - p);
        }
        scan.nBytes += nAvailable;
        file.SkipBuffered(nAvailable);
    }
    scan.bCutShort = file.IsCutShort();
    // The token cut off makes its bytes from repeated bits, zero bytes among them: a NUL that only
    // the last token (at most the longest copy) can have made is no sign of a binary file.
    if (scan.bCutShort && scan.bHasNul && scan.nBytes - scan.nNulOffset <= CLZSSWindow::LOOK_AHEAD_SIZE)
        scan.bHasNul = false;
    return true;
}

std::string NotTextMessage(uint64_t nOffset)
{
    return "not ZQA text (binary data: a NUL byte at offset " + std::to_string(nOffset) +
           "); packed effect files are read with fxdump";
}

std::string CutShortMessage(uint64_t nBytes)
{
    return "the compressed data ends before its end token, after " + std::to_string(nBytes) +
           " bytes of text: the file is cut short";
}
} // namespace zqa
