// Curve points as CSV rows (RFC 4180 quoting), to plot elsewhere: one row per point, value
// components in columns of their own, colours as 0-255 channels.
#include "fxdump.h"

#include "pyrixmodule.h"

#include <cmath>

namespace fxdump
{
namespace
{
std::string Field(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string sOut = "\"";
    for (char c : s)
        sOut += c == '"' ? std::string("\"\"") : std::string(1, c);
    return sOut + "\"";
}

} // namespace

void WriteCsvHeader(std::FILE* pOut)
{
    std::fputs("file,effect,key,type,property,time,value,value2,value3,value4\n", pOut);
}

namespace
{
// The rows, written point by point as the file is walked.
class CCsvWriter : public IRecordVisitor
{
public:
    CCsvWriter(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
        : m_Reader(file.reader), m_Module(module), m_Filter(filter), m_pOut(pOut), m_sFile(Field(file.sPath))
    {
    }
    ~CCsvWriter() override { Flush(0); }

    bool OnEffect(const CPackedEffectReader::Effect& effect, uint32_t) override
    {
        if (!m_Filter.Passes(m_Reader, effect.nNameOffset))
            return false;
        m_nEffectName = effect.nNameOffset;
        return true;
    }

    void OnProperty(const CPackedEffectReader::Key& key, const CPackedEffectReader::Property& prop) override
    {
        CPackedEffectReader::ValueInfo info;
        if (!m_Module.IsLoaded() || !m_Reader.GetName(prop.nNameOffset, m_sText) ||
            !m_Module.Lookup(key.nTypeID, m_sText.c_str(), info) || !info.bFunctionCurve)
            return;
        const uint32_t nCurve = m_Reader.ReadU32(prop.nValueOffset);
        const uint32_t nSection = m_Reader.GetHeader().nCurveDataSize;
        const uint32_t nValueSize = PackedValueSize(info.eType);
        const uint64_t nBase = uint64_t(m_Reader.GetCurveSectionOffset()) + nCurve;
        if (nCurve >= nSection || nSection - nCurve < 4)
            return;
        const uint32_t nNumKeys = m_Reader.ReadU32(nBase);
        if (uint64_t(nNumKeys) * (4 + nValueSize) > nSection - nCurve - 4)
            return;
        const std::string sKey =
            "," + std::to_string(key.nID) + "," + Field(m_Module.GetTypeName(key.nTypeID)) + ",";
        uint64_t nPos = nBase + 4;
        for (uint32_t k = 0; k < nNumKeys; ++k)
        {
            // Names are read again for each row, so that none is held whole.
            m_sOut += m_sFile + ",";
            AppendField(m_nEffectName);
            m_sOut += sKey;
            AppendField(prop.nNameOffset);
            m_sOut += "," + Number(m_Reader.ReadF32(nPos));
            if (nValueSize)
                AppendComponents(static_cast<uint32_t>(nPos + 4), info.eType);
            m_sOut += '\n';
            nPos += 4 + nValueSize;
            Flush(kFlushSize);
        }
    }

private:
    static std::string Number(float f)
    {
        if (std::isfinite(f))
            return ShortFloat(f);
        return std::isnan(f) ? "nan" : (f > 0 ? "inf" : "-inf");
    }

    // One curve value's components, each a column; enum values show no choice (curves carry
    // only the type).
    void AppendComponents(uint32_t nOffset, uint32_t eType)
    {
        switch (eType)
        {
        case ePT_String:
        case ePT_Filename:
        case ePT_Animation:
        case ePT_SparkrigRef:
        {
            const uint32_t nString = m_Reader.ReadU32(nOffset);
            if (m_Reader.IsString(nString))
            {
                m_sOut += ",";
                AppendField(nString);
            }
            break;
        }
        case ePT_Enum:
            m_sOut += ",";
            break;
        case ePT_Int:
            m_sOut += "," + std::to_string(static_cast<int32_t>(m_Reader.ReadU32(nOffset)));
            break;
        case ePT_Float:
        case ePT_Vector:
        case ePT_Color:
            for (uint32_t i = 0; i < PackedValueSize(eType) / 4; ++i)
            {
                const float f = m_Reader.ReadF32(nOffset + 4 * i);
                uint32_t nChannel = 0;
                m_sOut += "," + (eType == ePT_Color && FloatToChannel(f, nChannel) ? std::to_string(nChannel)
                                                                                   : Number(f));
            }
            break;
        default:
            break;
        }
    }

    // A string of the table as a field, quoted when it holds a comma, quote or line break; empty
    // where no string starts.
    void AppendField(uint32_t nTableOffset)
    {
        bool bQuote = false;
        ForEachStringPiece(m_Reader, nTableOffset,
                           [&bQuote](const char* p, size_t n, bool)
                           {
                               bQuote =
                                   bQuote || std::string(p, n).find_first_of(",\"\r\n") != std::string::npos;
                               return n;
                           });
        if (bQuote)
            m_sOut += '"';
        ForEachStringPiece(m_Reader, nTableOffset,
                           [&](const char* p, size_t n, bool)
                           {
                               for (size_t i = 0; i < n; ++i)
                               {
                                   if (bQuote && p[i] == '"')
                                       m_sOut += '"';
                                   m_sOut += p[i];
                               }
                               Flush(kFlushSize);
                               return n;
                           });
        if (bQuote)
            m_sOut += '"';
    }

    void Flush(size_t nAbove) { FlushAbove(m_sOut, m_pOut, nAbove); }

    const CPackedEffectReader& m_Reader;
    const CModuleView& m_Module;
    const EffectFilter& m_Filter;
    std::FILE* m_pOut;
    const std::string m_sFile;
    uint32_t m_nEffectName = 0;
    std::string m_sText, m_sOut;
};
} // namespace

void WriteCsv(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
{
    CCsvWriter writer(file, module, filter, pOut);
    WalkEffects(file, module, writer);
}
} // namespace fxdump
