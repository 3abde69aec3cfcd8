// The human-readable listing, formatted from the same JSON document that --json prints, so the
// two never disagree.
#include "fxdump.h"

#include <cstdarg>
#include <cstdio>

namespace fxdump
{
namespace
{
using json = nlohmann::json;

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

// A value as one short text: numbers as %g, strings quoted, arrays in parentheses.
std::string ValueText(const json& value)
{
    if (value.is_string())
        return "\"" + value.get<std::string>() + "\"";
    if (value.is_number_float())
        return Format("%g", value.get<double>());
    if (value.is_array())
    {
        std::string s = "(";
        for (size_t i = 0; i < value.size(); ++i)
            s += (i ? " " : "") + (value[i].is_string() && value[i].get<std::string>().rfind("0x", 0) == 0
                                       ? value[i].get<std::string>()
                                       : ValueText(value[i]));
        return s + ")";
    }
    if (value.is_object() && value.contains("choice"))
        return std::to_string(value["index"].get<uint32_t>()) + " (" + value["choice"].get<std::string>() +
               ")";
    if (value.is_object() && value.contains("bad-string-offset"))
        return "<bad string offset " + Hex(value["bad-string-offset"].get<uint32_t>()) + ">";
    return value.dump();
}

std::string NameText(const json& name)
{
    return name.is_string() ? "\"" + name.get<std::string>() + "\"" : std::string("<bad name offset>");
}
} // namespace

void PrintText(const PackedFile& file, const CModuleView& module, std::string& sOut)
{
    const json doc = ToJson(file, module);
    const json& h = doc["header"];
    sOut += Format("%s: packed effect file, %zu bytes\n", file.sPath.c_str(), file.bytes.size());
    if (module.IsLoaded())
        sOut += "module: " + module.GetPath() + "\n";
    else
        sOut += "module: none (values shown as raw words; use --module PATH)\n";
    const uint32_t nMagic = h["magic"];
    sOut += Format("header: magic %c%c%c%c, version %u, module version %s\n", char(nMagic & 0xFF),
                   char((nMagic >> 8) & 0xFF), char((nMagic >> 16) & 0xFF), char(nMagic >> 24),
                   h["version"].get<uint32_t>(), Hex(h["moduleVersion"].get<uint32_t>()).c_str());
    sOut += Format("  %u effects, %u keys, %u effect types\n", h["numEffects"].get<uint32_t>(),
                   h["numKeys"].get<uint32_t>(), h["numEffectTypes"].get<uint32_t>());
    sOut += Format("  string table at %s, %u bytes; curves %u bytes; effect index at %s\n",
                   Hex(h["stringTableOffset"].get<uint32_t>()).c_str(), h["stringTableSize"].get<uint32_t>(),
                   h["curveDataSize"].get<uint32_t>(), Hex(h["effectIndexOffset"].get<uint32_t>()).c_str());

    sOut += "key counts per type:\n";
    for (const json& count : doc["keyCounts"])
        sOut += Format("  %3u %-20s %u\n", count["typeId"].get<uint32_t>(),
                       count.contains("type") ? count["type"].get<std::string>().c_str() : "",
                       count["keys"].get<uint32_t>());

    sOut += Format("strings (%zu):\n", doc["strings"].size());
    for (const json& str : doc["strings"])
        sOut += Format("  @%-6u ", str["offset"].get<uint32_t>()) + NameText(str["text"]) + "\n";

    if (!doc["curves"].empty())
    {
        sOut += Format("curves (%zu):\n", doc["curves"].size());
        for (const json& curve : doc["curves"])
        {
            sOut += Format("  @%-6u %s, %zu keys:", curve["offset"].get<uint32_t>(),
                           curve["type"].get<std::string>().c_str(), curve["keys"].size());
            for (const json& key : curve["keys"])
                sOut += " " + ValueText(key["time"]) +
                        (key.contains("value") ? "=" + ValueText(key["value"]) : "");
            sOut += "\n";
        }
    }
    else if (h["curveDataSize"].get<uint32_t>() != 0)
        sOut += "curves: not decoded without the effect module\n";

    sOut += "effects:\n";
    for (const json& effect : doc["effects"])
    {
        sOut += Format("  effect %s, %d ms, %zu keys\n", NameText(effect["name"]).c_str(),
                       effect["lengthMs"].get<int32_t>(), effect["keys"].size());
        for (const json& key : effect["keys"])
        {
            const std::string sType =
                key.contains("type") ? " " + key["type"].get<std::string>() : std::string();
            sOut += Format("    key %u: type %u%s, %s s to %s s, motion link %u, %zu properties\n",
                           key["id"].get<uint32_t>(), key["typeId"].get<uint32_t>(), sType.c_str(),
                           ValueText(key["start"]).c_str(), ValueText(key["end"]).c_str(),
                           key["motionLinkId"].get<uint32_t>(), key["properties"].size());
            for (const json& prop : key["properties"])
            {
                std::string sLine = "      " + (prop["name"].is_string() ? prop["name"].get<std::string>()
                                                                         : std::string("<bad name offset>"));
                if (prop.contains("type"))
                    sLine += " (" + prop["type"].get<std::string>() + ")";
                if (prop.contains("curve"))
                    sLine += " = curve @" + std::to_string(prop["curve"].get<uint32_t>());
                else if (prop.contains("value"))
                    sLine += " = " + ValueText(prop["value"]);
                else
                    sLine += " = " + ValueText(prop["raw"]);
                sOut += sLine + "\n";
            }
        }
    }
    for (const json& problem : doc["problems"])
        sOut += Format("problem at %s: ", Hex(problem["offset"].get<uint32_t>()).c_str()) +
                problem["text"].get<std::string>() + "\n";
}
} // namespace fxdump
