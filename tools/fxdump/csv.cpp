// Curve points as CSV rows, to plot elsewhere: one row per point, value components in columns of
// their own, colours as 0-255 channels. Texts from the file are fields as CsvField writes them.
#include "fxdump.h"

#include "pyrixmodule.h"

#include <cmath>

namespace fxdump
{
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
        : m_Reader(file.reader), m_Module(module), m_Filter(filter), m_pOut(pOut),
          m_sFile(CsvField(file.sPath))
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
        const uint32_t nValueSize = PackedValueSize(info.eType);
        const std::string sKey =
            "," + std::to_string(key.nID) + "," + CsvField(m_Module.GetTypeName(key.nTypeID)) + ",";
        ForEachCurvePoint(m_Reader, nCurve, info.eType,
                          [&](float fTime, uint32_t nValueOffset)
                          {
                              // Names are read again for each row, so that none is held whole.
                              m_sOut += m_sFile + ",";
                              AppendField(m_nEffectName);
                              m_sOut += sKey;
                              AppendField(prop.nNameOffset);
                              m_sOut += "," + Number(fTime);
                              if (nValueSize)
                                  AppendComponents(nValueOffset, nValueSize, info.eType);
                              m_sOut += '\n';
                              Flush(kFlushSize);
                          });
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
    void AppendComponents(uint32_t nOffset, uint32_t nSize, uint32_t eType)
    {
        CPackedEffectReader::ValueInfo info;
        info.eType = eType;
        const PackedValue value = ReadValue(m_Reader, nOffset, nSize, &info);
        switch (value.eKind)
        {
        case PackedValue::TEXT:
            m_sOut += ",";
            AppendField(value.nWord);
            break;
        case PackedValue::CHOICE:
            m_sOut += ",";
            break;
        case PackedValue::INT:
            m_sOut += "," + std::to_string(static_cast<int32_t>(value.nWord));
            break;
        case PackedValue::FLOATS:
        case PackedValue::COLOR:
            for (uint32_t i = 0; i < value.nFloats; ++i)
            {
                const float f = value.afFloats[i];
                uint32_t nChannel = 0;
                m_sOut += "," + (value.eKind == PackedValue::COLOR && FloatToChannel(f, nChannel)
                                     ? std::to_string(nChannel)
                                     : Number(f));
            }
            break;
        default:
            break;
        }
    }

    // A string of the table as one field (csvfield.h), written in pieces; empty where no string
    // starts.
    void AppendField(uint32_t nTableOffset)
    {
        bool bQuote = false;
        ForEachStringPiece(m_Reader, nTableOffset,
                           [&bQuote](const char* p, size_t n, bool)
                           {
                               bQuote = bQuote || CsvNeedsQuotes(p, n);
                               return n;
                           });
        CCsvFieldWriter field(bQuote);
        if (!ForEachStringPiece(m_Reader, nTableOffset,
                                [&](const char* p, size_t n, bool bLast)
                                {
                                    const size_t nTaken = field.Feed(m_sOut, p, n, bLast);
                                    Flush(kFlushSize);
                                    return nTaken;
                                }))
            return;
        field.Finish(m_sOut);
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
