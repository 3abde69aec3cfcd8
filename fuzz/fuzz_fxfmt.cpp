// Arbitrary bytes through the formatter: formatting never crashes, keeps the tokens the packer's own
// tokenizer reads (kinds and stored text, in order), is idempotent, and a range re-laid in
// formatted text changes nothing; the structural check never crashes.
#include "format.h"
#include "zqareader.h"
#include "zqprocess.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
// The tokens the packer reads from the text: kind and stored text of each.
std::string PackerTokens(const std::string& sPath, const std::string& sText)
{
    std::remove(sPath.c_str());
    FILE* pFile = std::fopen(sPath.c_str(), "wb");
    if (!pFile)
        return std::string();
    const bool bWritten = std::fwrite(sText.data(), 1, sText.size(), pFile) == sText.size();
    if (std::fclose(pFile) != 0 || !bWritten)
        __builtin_trap();
    CZQAReader reader;
    if (!reader.Open(sPath.c_str(), false))
        __builtin_trap();
    std::string sTokens;
    char szBuffer[1024];
    for (uint32_t nToken; (nToken = reader.NextToken(szBuffer, sizeof(szBuffer))) != TOKEN_EOF;)
    {
        sTokens += static_cast<char>('0' + nToken);
        if (nToken == TOKEN_VALUE || nToken == TOKEN_STRING)
            sTokens.append(szBuffer).push_back('\0');
    }
    return sTokens;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const std::string sPath =
        (std::filesystem::temp_directory_path() / ("fuzz_fxfmt_" + std::to_string(PlatformGetProcessId())))
            .string();
    const std::string sText(reinterpret_cast<const char*>(pData), nSize);
    fxfmt::CheckStructure(sText);
    const std::string sFormatted = fxfmt::FormatText(sText);
    if (!fxfmt::SameTokens(sText, sFormatted) || fxfmt::FormatText(sFormatted) != sFormatted)
        __builtin_trap();
    if (PackerTokens(sPath, sText) != PackerTokens(sPath, sFormatted))
        __builtin_trap();

    // A range taken from the input's first bytes.
    const size_t nBegin = nSize > 1 ? pData[0] * nSize / 256 : 0;
    const size_t nEnd = nSize > 1 ? pData[1] * nSize / 256 : 0;
    std::string sEdited = sText;
    for (const fxfmt::Edit& edit : fxfmt::FormatRange(sText, nBegin, nEnd))
    {
        if (edit.nBegin > edit.nEnd || edit.nEnd > sText.size())
            __builtin_trap();
        sEdited.replace(edit.nBegin, edit.nEnd - edit.nBegin, edit.sText);
    }
    if (!fxfmt::SameTokens(sText, sEdited))
        __builtin_trap();
    const size_t nOnFormatted = nBegin * sFormatted.size() / (nSize ? nSize : 1);
    if (!fxfmt::FormatRange(sFormatted, nOnFormatted, nOnFormatted + (nEnd > nBegin ? nEnd - nBegin : 0))
             .empty())
        __builtin_trap();
    std::remove(sPath.c_str());
    return 0;
}
