// compress and decompress: copy every byte from the input, read plain or compressed, to the output,
// written compressed or plain. The output appears only once it is complete.
#include "zqa.h"

#include "zqafile.h"
#include "zqplatform.h"

#include <cstdio>

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

std::string DirectoryOf(const std::string& sPath)
{
    const size_t nSep = sPath.find_last_of("/\\");
    return nSep == std::string::npos ? std::string(".") : sPath.substr(0, nSep + 1);
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

int CopyToStdout(CZQAFile& input)
{
    uint8_t nByte = 0;
    while (input.ReadByte(nByte))
        std::putchar(nByte);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
} // namespace

int RunConvert(const std::string& sInput, const std::string& sOutputArg, bool bCompress, InputMode eMode)
{
    std::string sOutput = sOutputArg.empty() ? DeriveOutputName(sInput, bCompress) : sOutputArg;
    if (sOutput.empty())
    {
        PrintError(sInput + ": cannot derive the output name (it does not end in '" +
                   (bCompress ? "a" : "c") + "'); give one with -o");
        return 1;
    }
    if (sOutput == sInput)
    {
        PrintError(sInput + ": the output would overwrite the input; give another name with -o");
        return 1;
    }

    CZQAFile input;
    if (!OpenInput(input, sInput, ResolveCompressed(sInput, eMode)))
        return 1;
    if (sOutput == "-" && !bCompress)
        return CopyToStdout(input);

    char szTemp[PLATFORM_MAX_PATH] = {};
    if (!PlatformTempName(DirectoryOf(sOutput).c_str(), "zqa", szTemp, sizeof(szTemp)))
    {
        PrintError(sOutput + ": no temporary name for the output");
        return 1;
    }
    CZQAFile output;
    if (!output.Open(szTemp, false, bCompress, false))
    {
        PrintError(sOutput + ": cannot be written (temporary file " + szTemp + ")");
        return 1;
    }
    bool bOk = true;
    uint8_t nByte = 0;
    while (input.ReadByte(nByte))
        bOk = output.WriteByte(nByte) && bOk;
    bOk = output.Close() && bOk;
    input.Close();
    if (!bOk)
    {
        std::remove(szTemp);
        PrintError(sOutput + ": write failed");
        return 1;
    }
    if (!PlatformReplaceFile(szTemp, sOutput.c_str()))
    {
        std::remove(szTemp);
        PrintError(sOutput + ": cannot be replaced");
        return 1;
    }
    return 0;
}
} // namespace zqa
