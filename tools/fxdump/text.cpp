// The listing for people, formatted from the same JSON parts that --json prints, so the two never
// disagree. Every text from the file goes through Printable.
#include "fxdump.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "pyrixmodule.h"

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

std::string Hex(uint64_t n)
{
    return Format("0x%llX", static_cast<unsigned long long>(n));
}

// The pieces of a value in the listing's words, shared by the listing, which renders values as it
// reads them, and by the views that render them from their JSON.

// A finite number as printf's %g shows it (six significant digits).
void AppendG(std::string& sOut, double d)
{
    char sz[32];
    sOut.append(sz, std::to_chars(sz, sz + sizeof(sz), d, std::chars_format::general, 6).ptr);
}

// Colour channels as the 0-255 integers they were written from, and the 0xAARRGGBB word.
std::string ChannelsText(const uint32_t nChannels[4])
{
    return Format("%u %u %u %u (0x%02X%02X%02X%02X)", nChannels[0], nChannels[1], nChannels[2], nChannels[3],
                  nChannels[3], nChannels[0], nChannels[1], nChannels[2]);
}

// An enum value: its choice (when the module names one) and its index.
std::string ChoiceText(const std::string& sChoice, uint32_t nIndex)
{
    const std::string sPrintable = Printable(sChoice);
    return (sPrintable.empty() ? "" : sPrintable + " ") + "(" + std::to_string(nIndex) + ")";
}

std::string BadStringText(uint32_t nOffset)
{
    return "<bad string offset " + Hex(nOffset) + ">";
}

// A number: floats as %g; NaN and infinity come as the strings JSON needs for them.
std::string NumberText(const json& value)
{
    if (value.is_number_float())
    {
        std::string s;
        AppendG(s, value.get<double>());
        return s;
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
    sText = ChannelsText(nChannels);
    return true;
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
        return ChoiceText(value["choice"].get<std::string>(), value["index"].get<uint32_t>());
    }
    if (value.is_object() && value.contains("bad-string-offset"))
        return BadStringText(value["bad-string-offset"].get<uint32_t>());
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

namespace
{
// A float as the listing shows numbers (%g); NaN and infinity by name.
void AppendNumber(std::string& sOut, float f)
{
    if (!std::isfinite(f))
    {
        sOut += std::isnan(f) ? "nan" : (f > 0 ? "inf" : "-inf");
        return;
    }
    AppendG(sOut, static_cast<double>(f));
}

// The listing of the effects, written record by record as the file is walked.
class CTextWriter : public IRecordVisitor
{
public:
    CTextWriter(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
        : m_Reader(file.reader), m_Module(module), m_Filter(filter), m_pOut(pOut)
    {
        m_sOut.reserve(2 * kFlushSize);
    }
    ~CTextWriter() override { Flush(0); }

    bool OnEffect(const CPackedEffectReader::Effect& effect, uint32_t nNumKeys) override
    {
        if (!m_Filter.Passes(m_Reader, effect.nNameOffset))
            return false;
        m_sOut += "  effect ";
        AppendQuoted(effect.nNameOffset, "<bad name offset>");
        m_sOut += Format(", %d ms, %u keys\n", static_cast<int32_t>(effect.nLength), nNumKeys);
        return true;
    }

    void OnKey(const CPackedEffectReader::Key& key, uint32_t nNumProps) override
    {
        m_sOut += Format("    key %u: type %u", key.nID, key.nTypeID);
        if (m_Module.IsLoaded())
            m_sOut += " " + Printable(m_Module.GetTypeName(key.nTypeID));
        m_sOut += ", ";
        AppendKeyTime(key.fStartTime);
        m_sOut += " s to ";
        AppendKeyTime(key.fEndTime);
        m_sOut += Format(" s, motion link %u, %u properties\n", key.nMotionLinkID, nNumProps);
        Flush(kFlushSize);
    }

    void OnProperty(const CPackedEffectReader::Key& key, const CPackedEffectReader::Property& prop) override
    {
        m_sOut += "      ";
        const bool bNamed = AppendPrintableString(prop.nNameOffset);
        if (!bNamed)
            m_sOut += "<bad name offset>";
        else
            m_Reader.GetName(prop.nNameOffset, m_sText);
        CPackedEffectReader::ValueInfo info;
        if (!m_Module.IsLoaded() || !bNamed || !m_Module.Lookup(key.nTypeID, m_sText.c_str(), info))
        {
            m_sOut += " = ";
            AppendValue(prop.nValueOffset, prop.nValueSize, nullptr);
        }
        else if (!info.bFunctionCurve)
        {
            m_sOut += " (" + TypeName(info.eType) + ") = ";
            AppendValue(prop.nValueOffset, prop.nValueSize, &info);
        }
        else
            AppendCurve(m_Reader.ReadU32(prop.nValueOffset), info);
        m_sOut += '\n';
        Flush(kFlushSize);
    }

private:
    void Flush(size_t nAbove) { FlushAbove(m_sOut, m_pOut, nAbove); }

    // The string at a table offset, safe for a terminal; false when none starts there.
    bool AppendPrintableString(uint32_t nTableOffset)
    {
        return ForEachStringPiece(m_Reader, nTableOffset,
                                  [this](const char* p, size_t n, bool bLast)
                                  {
                                      const size_t nTaken = AppendPrintable(m_sOut, p, n, bLast);
                                      Flush(kFlushSize);
                                      return nTaken;
                                  });
    }

    void AppendQuoted(uint32_t nTableOffset, const char* pszNone)
    {
        const size_t nAt = m_sOut.size();
        m_sOut += '"';
        if (AppendPrintableString(nTableOffset))
            m_sOut += '"';
        else
        {
            m_sOut.resize(nAt);
            m_sOut += pszNone;
        }
    }

    // Key times are shown as %g shows them, NaN with its sign.
    void AppendKeyTime(float f) { AppendG(m_sOut, static_cast<double>(f)); }

    // A value decoded by its type; raw words where the type is not known or the size differs.
    void AppendValue(uint32_t nOffset, uint32_t nSize, const CPackedEffectReader::ValueInfo* pInfo)
    {
        const PackedValue value = ReadValue(m_Reader, nOffset, nSize, pInfo);
        switch (value.eKind)
        {
        case PackedValue::RAW:
            m_sOut += '(';
            for (uint32_t i = 0; i + 4 <= nSize; i += 4)
                m_sOut += Format(i ? " 0x%08X" : "0x%08X", m_Reader.ReadU32(nOffset + i));
            m_sOut += ')';
            break;
        case PackedValue::TEXT:
        {
            // Texts that read as numbers in hex stand unquoted, as numbers do.
            char prefix[2] = {};
            if (m_Reader.ReadBytes(uint64_t(m_Reader.GetHeader().nStringTableOffset) + value.nWord, prefix,
                                   2) &&
                prefix[0] == '0' && prefix[1] == 'x')
                AppendPrintableString(value.nWord);
            else
                AppendQuoted(value.nWord, "");
            break;
        }
        case PackedValue::BAD_TEXT:
            m_sOut += BadStringText(value.nWord);
            break;
        case PackedValue::CHOICE:
            m_sOut += ChoiceText(value.sChoice, value.nWord);
            break;
        case PackedValue::INT:
            m_sOut += std::to_string(static_cast<int32_t>(value.nWord));
            break;
        case PackedValue::COLOR:
        {
            uint32_t nChannels[4];
            bool bChannels = true;
            for (uint32_t i = 0; i < 4 && bChannels; ++i)
                bChannels = FloatToChannel(value.afFloats[i], nChannels[i]);
            if (bChannels)
            {
                m_sOut += ChannelsText(nChannels);
                break;
            }
            AppendFloats(value);
            break;
        }
        case PackedValue::FLOATS:
            if (value.nFloats == 1)
                AppendNumber(m_sOut, value.afFloats[0]);
            else
                AppendFloats(value);
            break;
        case PackedValue::NONE:
            m_sOut += "null";
        }
    }

    void AppendFloats(const PackedValue& value)
    {
        m_sOut += '(';
        for (uint32_t i = 0; i < value.nFloats; ++i)
        {
            if (i)
                m_sOut += ' ';
            AppendNumber(m_sOut, value.afFloats[i]);
        }
        m_sOut += ')';
    }

    // The curve record a property refers to, point by point.
    void AppendCurve(uint32_t nCurve, const CPackedEffectReader::ValueInfo& propInfo)
    {
        m_sOut += " (" + TypeName(propInfo.eType) + ") = curve @" + std::to_string(nCurve);
        // Curve values are decoded by type alone: enum choices show as their index.
        CPackedEffectReader::ValueInfo info;
        info.eType = propInfo.eType;
        const uint32_t nValueSize = PackedValueSize(propInfo.eType);
        m_sOut += ':';
        const size_t nAt = m_sOut.size();
        bool bFirst = true;
        const bool bFits = ForEachCurvePoint(m_Reader, nCurve, propInfo.eType,
                                             [&](float fTime, uint32_t nValueOffset)
                                             {
                                                 m_sOut += bFirst ? " " : ", ";
                                                 bFirst = false;
                                                 AppendNumber(m_sOut, fTime);
                                                 if (nValueSize)
                                                 {
                                                     m_sOut += ": ";
                                                     AppendValue(nValueOffset, nValueSize, &info);
                                                 }
                                                 Flush(kFlushSize);
                                             });
        if (!bFits)
        {
            m_sOut.resize(nAt - 1);
            m_sOut += " (no curve record there)";
        }
    }

    const CPackedEffectReader& m_Reader;
    const CModuleView& m_Module;
    const EffectFilter& m_Filter;
    std::FILE* m_pOut;
    std::string m_sOut;
    std::string m_sText;
};
} // namespace

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
            FlushAbove(sOut, pOut);
        }
        sOut += Format("strings (%u):\n", file.reader.GetNumStrings());
        for (uint32_t nPos = 0, nStart = 0; file.reader.NextString(nPos, nStart);)
        {
            sOut += Format("  @%-6u ", nStart) + "\"";
            ForEachStringPiece(file.reader, nStart,
                               [&](const char* p, size_t n, bool bLast)
                               {
                                   const size_t nTaken = AppendPrintable(sOut, p, n, bLast);
                                   FlushAbove(sOut, pOut);
                                   return nTaken;
                               });
            sOut += "\"\n";
            FlushAbove(sOut, pOut);
        }
        if (h.nCurveDataSize != 0 && !module.IsLoaded())
            sOut += "curves: not decoded without the effect module\n";
        sOut += "effects:\n";
    }
    std::fputs(sOut.c_str(), pOut);

    {
        CTextWriter writer(file, module, filter, pOut);
        WalkEffects(file, module, writer);
    }
    for (const CPackedEffectReader::Problem& problem : file.reader.GetProblems())
        std::fputs((Format("problem at %s: ", Hex(problem.nOffset).c_str()) + Printable(problem.sText) + "\n")
                       .c_str(),
                   pOut);
    if (file.reader.GetMoreProblems())
        std::fprintf(pOut, "and %llu more problems\n",
                     static_cast<unsigned long long>(file.reader.GetMoreProblems()));
}
} // namespace fxdump
