// The listing for people, written record by record as the file is walked. Values read as in every
// view (CValueText); every text from the file goes through Printable.
#include "fxdump.h"

#include <cstdarg>
#include <cstdio>

#include "pyrixmodule.h"

namespace fxdump
{
namespace
{
std::string Hex(uint64_t n)
{
    return Format("0x%llX", static_cast<unsigned long long>(n));
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
        const bool bKnown =
            m_Module.IsLoaded() && bNamed && m_Module.Lookup(key.nTypeID, m_sText.c_str(), info);
        m_sOut += bKnown ? " (" + TypeName(info.eType) + ") = " : std::string(" = ");
        CValueText(m_Reader, m_sOut, m_pOut).PropertyValue(prop, bKnown ? &info : nullptr);
        m_sOut += '\n';
        Flush(kFlushSize);
    }

private:
    void Flush(size_t nAbove) { FlushAbove(m_sOut, m_pOut, nAbove); }

    // The string at a table offset, safe for a terminal; false when none starts there.
    bool AppendPrintableString(uint32_t nTableOffset)
    {
        return CValueText(m_Reader, m_sOut, m_pOut).String(nTableOffset);
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

    void AppendKeyTime(float f) { CValueText(m_Reader, m_sOut).Time(f, CValueText::SECONDS); }

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
