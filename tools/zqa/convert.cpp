// compress and decompress: copy every byte from the input, read plain or compressed, to the output,
// written compressed or plain. The output is written to a temporary file beside it and renamed into
// place only once it is complete; an existing output is replaced only when the user forces it.
#include "zqa.h"

#include "tempbeside.h"
#include "zqafile.h"
#include "zqprocess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace zqa
{
namespace
{
// IN.xxxa <-> IN.xxxc, keeping the letter's case; empty when the name does not end that way.
std::string DeriveOutputName(const std::string& sInput, bool bCompress)
{
    if (sInput.empty())
        return std::string();
    const char cLast = sInput.back();
    const char cFrom = bCompress ? 'a' : 'c';
    const char cTo = bCompress ? 'c' : 'a';
    std::string sOutput = sInput;
    if (cLast == cFrom)
        sOutput.back() = cTo;
    else if (cLast == cFrom - 'a' + 'A')
        sOutput.back() = static_cast<char>(cTo - 'a' + 'A');
    else
        return std::string();
    return sOutput;
}

std::string Reason(int nError)
{
    return std::strerror(nError ? nError : EIO);
}

bool OpenInput(CZQAFile& input, const std::string& sPath, bool bCompressed)
{
    if (!CheckReadable(sPath))
        return false;
    if (input.Open(sPath.c_str(), true, bCompressed, false))
        return true;
    PrintError(sPath + (bCompressed ? ": not a compressed ZQA file (its first four bytes are not zero); "
                                      "use --plain to read it as plain text"
                                    : ": cannot be opened for reading"));
    return false;
}

int CopyToStdout(CZQAFile& input, uint64_t& nBytes)
{
    uint8_t nByte = 0;
    for (nBytes = 0; input.ReadByte(nByte); ++nBytes)
        std::putchar(nByte);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Writes every byte of the input to sTemp; on failure the reason is in sError and sTemp is gone.
bool WriteTemp(CZQAFile& input, const std::string& sTemp, bool bCompress, uint64_t& nBytes,
               std::string& sError)
{
    nBytes = 0;
    errno = 0;
    CZQAFile output;
    if (!output.Open(sTemp.c_str(), false, bCompress, false))
    {
        sError = "cannot be written (temporary file " + sTemp + "): " + Reason(errno);
        return false;
    }
    int nError = 0;
    bool bOk = true;
    uint8_t nByte = 0;
    for (; input.ReadByte(nByte); ++nBytes)
    {
        if (!output.WriteByte(nByte) && bOk)
        {
            bOk = false;
            nError = errno;
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
    }
    return bOk;
}
} // namespace

int RunConvert(const ConvertOptions& options, bool bCompress, InputMode eMode)
{
    const std::string& sInput = options.sInput;
    const std::string sOutput =
        options.sOutput.empty() ? DeriveOutputName(sInput, bCompress) : options.sOutput;
    if (sOutput.empty())
    {
        PrintError(sInput + ": cannot derive the output name (it does not end in '" +
                   (bCompress ? "a" : "c") + "'); give one with -o");
        return 1;
    }
    if (sOutput == "-" && bCompress)
    {
        PrintError("compressed output is binary and does not go to standard output; give a file with -o");
        return 1;
    }
    CZQAFile input;
    if (!OpenInput(input, sInput, ResolveCompressed(sInput, eMode)))
        return 1;
    uint64_t nBytes = 0;
    if (sOutput == "-")
    {
        // The text up to a cut goes out all the same: it is what the packer reads.
        const int nExit = CopyToStdout(input, nBytes);
        if (input.IsCutShort())
        {
            PrintError(sInput + ": " + CutShortMessage(nBytes));
            return 1;
        }
        return nExit;
    }
    std::error_code ec;
    if (sOutput == sInput || fs::equivalent(sInput, sOutput, ec))
    {
        PrintError(sInput + ": the output would overwrite the input; give another name with -o");
        return 1;
    }
    if (!options.bForce && fs::exists(fs::symlink_status(sOutput, ec)))
    {
        PrintError(sOutput + ": already exists; use -f to replace it");
        return 1;
    }

    const std::string sTemp = TempNameBeside(sOutput, "zqa");
    std::string sError;
    const bool bWritten = WriteTemp(input, sTemp, bCompress, nBytes, sError);
    const bool bCutShort = input.IsCutShort();
    input.Close();
    if (!bWritten)
    {
        PrintError(sOutput + ": " + sError);
        return 1;
    }
    if (bCutShort)
    {
        // A file that silently lacks the lost tail is worse than none.
        std::remove(sTemp.c_str());
        PrintError(sInput + ": " + CutShortMessage(nBytes) + "; " + sOutput +
                   " is not written (-o - prints the text up to the cut)");
        return 1;
    }
    fs::rename(sTemp, sOutput, ec);
    if (ec)
    {
        std::remove(sTemp.c_str());
        PrintError(sOutput + ": cannot be replaced: " + ec.message());
        return 1;
    }
    return 0;
}
} // namespace zqa
