// JSON written straight into a buffer, byte for byte as nlohmann's dump (no indent, invalid UTF-8
// replaced) writes it, without building a value first; texts that are not UTF-8 get their bytes
// beside them (jsontext.h).
#include "fxdump.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace fxdump
{
void AppendJsonMember(std::string& sOut, const char* pszKey, const std::string& sText)
{
    sOut += '"';
    sOut += pszKey;
    sOut += "\":";
    if (AppendJsonString(sOut, sText))
        return;
    sOut += ",\"";
    sOut += pszKey;
    sOut += kJsonBytesSuffix;
    sOut += "\":\"";
    AppendHexBytes(sOut, sText.data(), sText.size());
    sOut += '"';
}

bool AppendJsonTableMember(std::string& sOut, const char* pszKey, const CPackedEffectReader& reader,
                           uint32_t nTableOffset, std::FILE* pOut)
{
    sOut += '"';
    sOut += pszKey;
    sOut += "\":";
    if (!reader.IsString(nTableOffset))
    {
        sOut += "null";
        return false;
    }
    CJsonStringWriter text;
    sOut += '"';
    ForEachStringPiece(reader, nTableOffset,
                       [&](const char* p, size_t n, bool)
                       {
                           text.Feed(sOut, p, n);
                           FlushAbove(sOut, pOut);
                           return n;
                       });
    text.Finish(sOut);
    sOut += '"';
    if (text.IsExact())
        return true;
    // The exact bytes, read a second time: a string is never held whole.
    sOut += ",\"";
    sOut += pszKey;
    sOut += kJsonBytesSuffix;
    sOut += "\":\"";
    ForEachStringPiece(reader, nTableOffset,
                       [&](const char* p, size_t n, bool)
                       {
                           AppendHexBytes(sOut, p, n);
                           FlushAbove(sOut, pOut);
                           return n;
                       });
    sOut += '"';
    return true;
}

void AppendJsonNumber(std::string& sOut, double d)
{
    if (!std::isfinite(d))
    {
        sOut += "null";
        return;
    }
    char sz[64];
    const char* pEnd = nlohmann::detail::to_chars(sz, sz + sizeof(sz), d);
    sOut.append(sz, static_cast<size_t>(pEnd - sz));
}

void AppendJsonNumber(std::string& sOut, uint64_t n)
{
    char sz[24];
    sOut.append(sz, std::to_chars(sz, sz + sizeof(sz), n).ptr);
}

void AppendJsonNumber(std::string& sOut, int64_t n)
{
    char sz[24];
    sOut.append(sz, std::to_chars(sz, sz + sizeof(sz), n).ptr);
}
} // namespace fxdump
