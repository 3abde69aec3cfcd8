// The listing for people, formatted from the same JSON parts that --json prints, so the two never
// disagree. Every text from the file goes through Printable.
#include "fxdump.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

std::string Format(const char* pszFormat, ...)
#if defined(__MINGW32__)
    // MinGW's "printf" means the system runtime's formats; vsnprintf here is the C99 one.
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* pszFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    return sz;
}

std::string Hex(uint64_t n)
{
    return Format("0x%llX", static_cast<unsigned long long>(n));
}

// A number: floats as %g; NaN and infinity come as the strings JSON needs for them.
std::string NumberText(const json& value)
{
    if (value.is_number_float())
    {
        // As printf's %g (six significant digits), which the listing runs for every number.
        char sz[32];
        const std::to_chars_result result =
            std::to_chars(sz, sz + sizeof(sz), value.get<double>(), std::chars_format::general, 6);
        return std::string(sz, result.ptr);
    }
    if (value.is_number())
        return value.dump();
    if (value.is_string())
        return Printable(value.get<std::string>());
    return value.dump();
}

// Four channel floats as the 0-255 integers they were written from, and the 0xAARRGGBB word.
bool ColorText(const json& value, std::string& sText)
{
    uint32_t nChannels[4];
    for (size_t i = 0; i < 4; ++i)
        if (!value[i].is_number() || !FloatToChannel(value[i].get<float>(), nChannels[i]))
            return false;
    sText = Format("%u %u %u %u (0x%02X%02X%02X%02X)", nChannels[0], nChannels[1], nChannels[2], nChannels[3],
                   nChannels[3], nChannels[0], nChannels[1], nChannels[2]);
    return true;
}

// Writes out what has gathered once it is large.
void Flush(std::string& sOut, std::FILE* pOut)
{
    if (sOut.size() >= (1 << 16))
    {
        std::fputs(sOut.c_str(), pOut);
        sOut.clear();
    }
}

std::string NameText(const json& name)
{
    return name.is_string() ? "\"" + Printable(name.get<std::string>()) + "\""
                            : std::string("<bad name offset>");
}
} // namespace

std::string ValueText(const json& value, const std::string& sType)
{
    const bool bNumeric = sType == "Float" || sType == "Vector" || sType == "Color";
    if (value.is_string())
        return bNumeric || value.get<std::string>().rfind("0x", 0) == 0
                   ? Printable(value.get<std::string>())
                   : "\"" + Printable(value.get<std::string>()) + "\"";
    if (value.is_number())
        return NumberText(value);
    if (value.is_array())
    {
        std::string s;
        if (sType == "Color" && value.size() == 4 && ColorText(value, s))
            return s;
        s = "(";
        for (size_t i = 0; i < value.size(); ++i)
            s += (i ? " " : "") + NumberText(value[i]);
        return s + ")";
    }
    if (value.is_object() && value.contains("choice"))
    {
        const std::string sChoice = Printable(value["choice"].get<std::string>());
        const std::string sIndex = "(" + std::to_string(value["index"].get<uint32_t>()) + ")";
        return sChoice.empty() ? sIndex : sChoice + " " + sIndex;
    }
    if (value.is_object() && value.contains("bad-string-offset"))
        return "<bad string offset " + Hex(value["bad-string-offset"].get<uint32_t>()) + ">";
    return value.dump(-1, ' ', true, json::error_handler_t::replace);
}

std::string PropertyText(const json& prop)
{
    std::string sLine = prop["name"].is_string() ? Printable(prop["name"].get<std::string>())
                                                 : std::string("<bad name offset>");
    const std::string sType = prop.value("type", "");
    if (!sType.empty())
        sLine += " (" + sType + ")";
    if (prop.contains("curve"))
    {
        sLine += " = curve @" + std::to_string(prop["curve"].get<uint32_t>());
        if (!prop.contains("points"))
            return sLine + " (no curve record there)";
        sLine += ":";
        const json& points = prop["points"];
        for (size_t i = 0; i < points.size(); ++i)
        {
            sLine += (i ? ", " : " ") + NumberText(points[i]["time"]);
            if (points[i].contains("value"))
                sLine += ": " + ValueText(points[i]["value"], sType);
        }
        return sLine;
    }
    return sLine + " = " + ValueText(prop.contains("value") ? prop["value"] : prop["raw"], sType);
}

void WriteText(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
{
    std::string sOut = Format("%s: packed effect file, %zu bytes\n", Printable(file.sPath).c_str(),
                              static_cast<size_t>(file.GetSize()));
    const CPackedEffectReader::Header& h = file.reader.GetHeader();
    const uint64_t nSize = file.GetSize();
    if (filter.names.empty())
    {
        if (module.IsLoaded())
            sOut += "module: " + Printable(module.GetPath()) + "\n";
        else
            sOut += "module: none (values shown as raw words; use --module PATH or --project)\n";
        if (nSize < CPackedEffectReader::HEADER_SIZE)
            sOut += "header: cut short\n";
        else
        {
            std::string sMagic;
            for (int i = 0; i < 4; ++i)
                sMagic += static_cast<char>((h.nMagic >> (8 * i)) & 0xFF);
            sOut += Format("header: magic %s, version %u, module version %s\n", Printable(sMagic).c_str(),
                           h.nVersion, Hex(h.nModuleVersion).c_str());
            sOut += Format("  %u effects, %u keys, %u effect types\n", h.nNumEffects, h.nNumKeys,
                           h.nNumEffectTypes);
            sOut += Format("  string table at %s, %u bytes; curves %u bytes; effect index at %s\n",
                           Hex(h.nStringTableOffset).c_str(), h.nStringTableSize, h.nCurveDataSize,
                           Hex(h.nEffectIndexOffset).c_str());
        }
        const uint32_t nNumTypes = file.bWalked ? h.nNumEffectTypes : 0;
        if (nNumTypes != 0)
            sOut += "key counts per type:\n";
        for (uint32_t i = 0; i < nNumTypes; ++i)
        {
            sOut += Format("  %3u %-20s %u\n", i,
                           module.IsLoaded() ? Printable(module.GetTypeName(i)).c_str() : "",
                           file.reader.GetKeyCount(i));
            Flush(sOut, pOut);
        }
        sOut += Format("strings (%u):\n", file.reader.GetNumStrings());
        std::string sText;
        for (uint32_t nPos = 0, nStart = 0; file.reader.NextString(nPos, nStart);)
        {
            file.reader.GetString(nStart, sText);
            sOut += Format("  @%-6u ", nStart) + "\"" + Printable(sText) + "\"\n";
            Flush(sOut, pOut);
        }
        if (h.nCurveDataSize != 0 && !module.IsLoaded())
            sOut += "curves: not decoded without the effect module\n";
        sOut += "effects:\n";
    }
    std::fputs(sOut.c_str(), pOut);

    ForEachEffect(file, module,
                  [&](const CPackedEffectReader::Effect& record)
                  {
                      const json effect = EffectJson(file, module, record);
                      if (!filter.Passes(effect))
                          return;
                      sOut = Format("  effect %s, %d ms, %zu keys\n", NameText(effect["name"]).c_str(),
                                    effect["lengthMs"].get<int32_t>(), effect["keys"].size());
                      for (const json& key : effect["keys"])
                      {
                          const std::string sType =
                              key.contains("type") ? " " + Printable(key["type"].get<std::string>()) : "";
                          sOut +=
                              Format("    key %u: type %u%s, %s s to %s s, motion link %u, %zu properties\n",
                                     key["id"].get<uint32_t>(), key["typeId"].get<uint32_t>(), sType.c_str(),
                                     NumberText(key["start"]).c_str(), NumberText(key["end"]).c_str(),
                                     key["motionLinkId"].get<uint32_t>(), key["properties"].size());
                          for (const json& prop : key["properties"])
                              sOut += "      " + PropertyText(prop) + "\n";
                          Flush(sOut, pOut);
                      }
                      std::fputs(sOut.c_str(), pOut);
                  });
    for (const CPackedEffectReader::Problem& problem : file.reader.GetProblems())
        std::fputs((Format("problem at %s: ", Hex(problem.nOffset).c_str()) + Printable(problem.sText) + "\n")
                       .c_str(),
                   pOut);
    if (file.reader.GetMoreProblems())
        std::fprintf(pOut, "and %llu more problems\n",
                     static_cast<unsigned long long>(file.reader.GetMoreProblems()));
}
} // namespace fxdump
