// The one text of a packed value, shown alike by the listing, the page and the comparison: floats
// as %g, colours as the 0-255 channels they were written from with their 0xAARRGGBB word, enum
// choices with their index, strings quoted (unquoted where they read as hexadecimal numbers), raw
// words where no type is known. Every text from the file goes through Printable.
#include "fxdump.h"

#include "pyrixmodule.h"

#include <charconv>
#include <cmath>

namespace fxdump
{
namespace
{
// A finite number as printf's %g shows it (six significant digits).
void AppendG(std::string& sOut, double d)
{
    char sz[32];
    sOut.append(sz, std::to_chars(sz, sz + sizeof(sz), d, std::chars_format::general, 6).ptr);
}
} // namespace

CValueText::CValueText(const CPackedEffectReader& reader, std::string& sOut, std::FILE* pOut)
    : m_Reader(reader), m_sOut(sOut), m_pOut(pOut)
{
}

void CValueText::Flush()
{
    if (m_pOut)
        FlushAbove(m_sOut, m_pOut, kFlushSize);
}

bool CValueText::String(uint32_t nTableOffset)
{
    return ForEachStringPiece(m_Reader, nTableOffset,
                              [this](const char* p, size_t n, bool bLast)
                              {
                                  const size_t nTaken = AppendPrintable(m_sOut, p, n, bLast);
                                  Flush();
                                  return nTaken;
                              });
}

void CValueText::Number(float f)
{
    if (!std::isfinite(f))
    {
        m_sOut += std::isnan(f) ? "nan" : (f > 0 ? "inf" : "-inf");
        return;
    }
    AppendG(m_sOut, static_cast<double>(f));
}

void CValueText::Time(float fSeconds, TimeUnit eUnit)
{
    int32_t nMs = 0;
    if (eUnit == SECONDS)
        AppendG(m_sOut, static_cast<double>(fSeconds)); // NaN keeps its sign
    else if (SecondsToMs(fSeconds, nMs))
        m_sOut += std::to_string(nMs);
    else
        AppendG(m_sOut, static_cast<double>(fSeconds) * 1000.0);
}

void CValueText::Value(const PackedValue& value)
{
    switch (value.eKind)
    {
    case PackedValue::RAW:
        m_sOut += '(';
        for (uint32_t i = 0; i + 4 <= value.nSize; i += 4)
            m_sOut += Format(i ? " 0x%08X" : "0x%08X", m_Reader.ReadU32(value.nOffset + i));
        m_sOut += ')';
        break;
    case PackedValue::TEXT:
    {
        // Texts that read as numbers in hex stand unquoted, as numbers do.
        char prefix[2] = {};
        const bool bHex =
            m_Reader.ReadBytes(uint64_t(m_Reader.GetHeader().nStringTableOffset) + value.nWord, prefix, 2) &&
            prefix[0] == '0' && prefix[1] == 'x';
        if (!bHex)
            m_sOut += '"';
        String(value.nWord);
        if (!bHex)
            m_sOut += '"';
        break;
    }
    case PackedValue::BAD_TEXT:
        m_sOut += Format("<bad string offset 0x%X>", value.nWord);
        break;
    case PackedValue::CHOICE:
    {
        const std::string sChoice = Printable(value.sChoice);
        m_sOut += (sChoice.empty() ? "" : sChoice + " ") + "(" + std::to_string(value.nWord) + ")";
        break;
    }
    case PackedValue::INT:
        m_sOut += std::to_string(static_cast<int32_t>(value.nWord));
        break;
    case PackedValue::COLOR:
    {
        uint32_t n[4];
        bool bChannels = true;
        for (uint32_t i = 0; i < 4 && bChannels; ++i)
            bChannels = FloatToChannel(value.afFloats[i], n[i]);
        if (bChannels)
        {
            m_sOut +=
                Format("%u %u %u %u (0x%02X%02X%02X%02X)", n[0], n[1], n[2], n[3], n[3], n[0], n[1], n[2]);
            break;
        }
        Floats(value);
        break;
    }
    case PackedValue::FLOATS:
        if (value.nFloats == 1)
            Number(value.afFloats[0]);
        else
            Floats(value);
        break;
    case PackedValue::NONE:
        m_sOut += "null";
    }
}

void CValueText::Floats(const PackedValue& value)
{
    m_sOut += '(';
    for (uint32_t i = 0; i < value.nFloats; ++i)
    {
        if (i)
            m_sOut += ' ';
        Number(value.afFloats[i]);
    }
    m_sOut += ')';
}

void CValueText::Point(float fTime, uint32_t nValueOffset, uint32_t eType)
{
    Number(fTime);
    const uint32_t nValueSize = PackedValueSize(eType);
    if (!nValueSize)
        return;
    // Curve values are decoded by type alone: enum choices show as their index.
    CPackedEffectReader::ValueInfo info;
    info.eType = eType;
    m_sOut += ": ";
    Value(ReadValue(m_Reader, nValueOffset, nValueSize, &info));
}

bool CValueText::Curve(uint32_t nCurve, uint32_t eType, const char* pszBefore)
{
    bool bFirst = true;
    return ForEachCurvePoint(m_Reader, nCurve, eType,
                             [&](float fTime, uint32_t nValueOffset)
                             {
                                 m_sOut += bFirst ? pszBefore : ", ";
                                 bFirst = false;
                                 Point(fTime, nValueOffset, eType);
                                 Flush();
                             });
}

void CValueText::PropertyValue(const CPackedEffectReader::Property& prop,
                               const CPackedEffectReader::ValueInfo* pInfo)
{
    if (!pInfo || !pInfo->bFunctionCurve)
    {
        Value(ReadValue(m_Reader, prop.nValueOffset, prop.nValueSize, pInfo));
        return;
    }
    const uint32_t nCurve = m_Reader.ReadU32(prop.nValueOffset);
    m_sOut += "curve @" + std::to_string(nCurve);
    const size_t nAt = m_sOut.size();
    m_sOut += ':';
    if (!Curve(nCurve, pInfo->eType, " "))
    {
        m_sOut.resize(nAt);
        m_sOut += " (no curve record there)";
    }
}

std::string ValueText(const CPackedEffectReader& reader, const PackedValue& value)
{
    std::string s;
    CValueText(reader, s).Value(value);
    return s;
}
} // namespace fxdump
