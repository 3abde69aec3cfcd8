#include "EffectProperty.h"
#include "FileExtension.h"
#include "fxdump.h"

#include "EffectFileLoader.h"
#include "FileExtension.h"
#include "filecheck.h"
#include "pyrixmodule.h"
#include "spelling.h"
#include "zqprocess.h"
#include "zqstrutils.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

// JSON has no NaN or infinity: those floats become strings.
json Float(float f)
{
    if (std::isfinite(f))
        return json(static_cast<double>(f));
    return json(std::isnan(f) ? "nan" : (f > 0 ? "inf" : "-inf"));
}

} // namespace

std::string EnumChoice(const std::string& sParams, uint32_t nIndex)
{
    const std::vector<std::string> choices = EnumChoiceList(sParams);
    return nIndex < choices.size() ? choices[nIndex] : std::string();
}

std::string TypeName(uint32_t eType)
{
    const char* pszName = EffectTypeNameOf(eType);
    return pszName ? pszName : "type " + std::to_string(eType);
}

PackedValue ReadValue(const CPackedEffectReader& reader, uint32_t nOffset, uint32_t nSize,
                      const CPackedEffectReader::ValueInfo* pInfo)
{
    PackedValue value;
    value.nOffset = nOffset;
    value.nSize = nSize;
    if (!pInfo || nSize != PackedValueSize(pInfo->eType))
    {
        value.eKind = PackedValue::RAW;
        return value;
    }
    switch (pInfo->eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Animation:
    case ePT_SparkrigRef:
        value.nWord = reader.ReadU32(nOffset);
        value.eKind = reader.IsString(value.nWord) ? PackedValue::TEXT : PackedValue::BAD_TEXT;
        break;
    case ePT_Enum:
        value.eKind = PackedValue::CHOICE;
        value.nWord = reader.ReadU32(nOffset);
        value.sChoice = EnumChoice(pInfo->sParams, value.nWord);
        break;
    case ePT_Int:
        value.eKind = PackedValue::INT;
        value.nWord = reader.ReadU32(nOffset);
        break;
    case ePT_Float:
    case ePT_Color:
    case ePT_Vector:
        value.eKind = pInfo->eType == ePT_Color ? PackedValue::COLOR : PackedValue::FLOATS;
        value.nFloats = nSize / 4;
        for (uint32_t i = 0; i < value.nFloats; ++i)
            value.afFloats[i] = reader.ReadF32(nOffset + 4 * i);
        break;
    default:
        break;
    }
    return value;
}

bool ForEachCurvePoint(const CPackedEffectReader& reader, uint32_t nCurve, uint32_t eType,
                       const std::function<void(float fTime, uint32_t nValueOffset)>& point)
{
    const uint32_t nSection = reader.GetHeader().nCurveDataSize;
    if (nCurve >= nSection || nSection - nCurve < 4)
        return false;
    const uint32_t nValueSize = PackedValueSize(eType);
    const uint64_t nBase = uint64_t(reader.GetCurveSectionOffset()) + nCurve;
    const uint32_t nNumKeys = reader.ReadU32(nBase);
    // The whole record lies inside the section, or none of it is shown.
    if (uint64_t(nNumKeys) * (4 + nValueSize) > nSection - nCurve - 4)
        return false;
    uint64_t nPos = nBase + 4;
    for (uint32_t k = 0; k < nNumKeys; ++k)
    {
        point(reader.ReadF32(nPos), static_cast<uint32_t>(nPos + 4));
        nPos += 4 + nValueSize;
    }
    return true;
}

json ValueJson(const CPackedEffectReader& reader, const PackedValue& value)
{
    switch (value.eKind)
    {
    case PackedValue::RAW:
    {
        json words = json::array();
        for (uint32_t i = 0; i + 4 <= value.nSize; i += 4)
            words.push_back(Format("0x%08X", reader.ReadU32(value.nOffset + i)));
        return words;
    }
    case PackedValue::TEXT:
        return StringJson(reader, value.nWord);
    case PackedValue::BAD_TEXT:
        return json{{"bad-string-offset", value.nWord}};
    case PackedValue::CHOICE:
        return json{{"index", value.nWord}, {"choice", value.sChoice}};
    case PackedValue::INT:
        return json(static_cast<int32_t>(value.nWord));
    case PackedValue::FLOATS:
    case PackedValue::COLOR:
    {
        if (value.nSize == 4 && value.eKind == PackedValue::FLOATS)
            return Float(value.afFloats[0]);
        json floats = json::array();
        for (uint32_t i = 0; i < value.nFloats; ++i)
            floats.push_back(Float(value.afFloats[i]));
        return floats;
    }
    case PackedValue::NONE:
        break;
    }
    return json();
}

json DecodeValue(const CPackedEffectReader& reader, uint32_t nOffset, uint32_t nSize,
                 const CPackedEffectReader::ValueInfo* pInfo)
{
    return ValueJson(reader, ReadValue(reader, nOffset, nSize, pInfo));
}

json StringJson(const CPackedEffectReader& reader, uint32_t nTableOffset)
{
    std::string sText;
    return reader.GetString(nTableOffset, sText) ? json(sText) : json();
}

json DecodeCurveAt(const CPackedEffectReader& reader, uint32_t nCurveOffset, uint32_t eType)
{
    CPackedEffectReader::ValueInfo info;
    info.eType = eType;
    const uint32_t nValueSize = PackedValueSize(eType);
    json keys = json::array();
    const bool bFits = ForEachCurvePoint(reader, nCurveOffset, eType,
                                         [&](float fTime, uint32_t nValueOffset)
                                         {
                                             json key = {{"time", Float(fTime)}};
                                             if (nValueSize)
                                                 key["value"] =
                                                     DecodeValue(reader, nValueOffset, nValueSize, &info);
                                             keys.push_back(std::move(key));
                                         });
    return bFits ? keys : json();
}

CFileSource::CFileSource() = default;

CFileSource::~CFileSource()
{
    if (m_pFile)
        std::fclose(m_pFile);
}

bool CFileSource::Open(const std::string& sPath, std::string& sError)
{
    errno = 0;
    m_pFile = std::fopen(sPath.c_str(), "rb");
    if (!m_pFile)
    {
        sError = std::strerror(errno);
        return false;
    }
    // The size: by seeking to the end, or by reading there where the file cannot seek.
    const long long nEnd = PlatformSeekFile(m_pFile, 0, SEEK_END) ? PlatformTellFile(m_pFile) : -1;
    if (nEnd >= 0)
        m_nSize = static_cast<uint64_t>(nEnd);
    else
    {
        std::clearerr(m_pFile);
        char buffer[1 << 16];
        size_t nRead = 0;
        while ((nRead = std::fread(buffer, 1, sizeof(buffer), m_pFile)) > 0)
            m_nSize += nRead;
    }
    if (std::ferror(m_pFile))
    {
        sError = "read error";
        return false;
    }
    m_Pages.resize(NUM_PAGES);
    return true;
}

bool CFileSource::ReadAt(uint64_t nOffset, void* p, size_t nBytes)
{
    char* pOut = static_cast<char*>(p);
    // Most reads fall into one of the two pages read last (names and records lie apart).
    for (size_t nSlot : {m_nLast, m_nPrev})
    {
        const Page& page = m_Pages[nSlot];
        const uint64_t nStart = page.nNumber * PAGE_SIZE;
        if (page.nNumber != ~uint64_t(0) && nOffset >= nStart && nOffset - nStart + nBytes <= PAGE_SIZE)
        {
            std::memcpy(pOut, page.bytes.data() + (nOffset - nStart), nBytes);
            return true;
        }
    }
    while (nBytes > 0)
    {
        const uint64_t nNumber = nOffset / PAGE_SIZE;
        // The least recently used page makes room; the walks touch a few regions at a time.
        Page* pPage = &m_Pages[m_nLast];
        if (pPage->nNumber != nNumber)
        {
            Page* pOldest = pPage;
            for (Page& page : m_Pages)
            {
                if (page.nNumber == nNumber)
                {
                    pPage = &page;
                    break;
                }
                if (page.nUsed < pOldest->nUsed)
                    pOldest = &page;
            }
            if (pPage->nNumber != nNumber)
                pPage = pOldest;
        }
        if (static_cast<size_t>(pPage - m_Pages.data()) != m_nLast)
            m_nPrev = m_nLast;
        m_nLast = static_cast<size_t>(pPage - m_Pages.data());
        pPage->nUsed = ++m_nClock;
        Page& page = *pPage;
        if (page.nNumber != nNumber)
        {
            page.nNumber = ~uint64_t(0);
            page.bytes.resize(PAGE_SIZE);
            const uint64_t nStart = nNumber * PAGE_SIZE;
            const size_t nWant = static_cast<size_t>(std::min<uint64_t>(PAGE_SIZE, m_nSize - nStart));
            std::clearerr(m_pFile);
            if (!PlatformSeekFile(m_pFile, static_cast<long long>(nStart), SEEK_SET) ||
                std::fread(page.bytes.data(), 1, nWant, m_pFile) != nWant)
                return false;
            page.nNumber = nNumber;
        }
        const size_t nIn = static_cast<size_t>(nOffset % PAGE_SIZE);
        const size_t nTake = std::min(nBytes, PAGE_SIZE - nIn);
        std::memcpy(pOut, page.bytes.data() + nIn, nTake);
        pOut += nTake;
        nOffset += nTake;
        nBytes -= nTake;
    }
    return true;
}

bool LoadPackedFile(const std::string& sPath, PackedFile& file, std::string& sError)
{
    file.sPath = sPath;
    if (!file.source.Open(sPath, sError))
        return false;
    // Whatever does not start as a packed file does (a cut one may end within the magic) is not
    // read as one: its words would be taken for counts and offsets.
    char start[4] = {};
    const size_t nStart = static_cast<size_t>(std::min<uint64_t>(4, file.source.GetSize()));
    if (!file.source.ReadAt(0, start, nStart))
    {
        sError = "read error";
        return false;
    }
    if (std::memcmp(start, CPackedEffectReader::MAGIC, nStart) != 0)
    {
        sError = "not a packed effect file: it starts with \"" + Printable(std::string(start, nStart)) +
                 "\" where a packed file starts with \"" + CPackedEffectReader::MAGIC + "\"";
        if (IsEffectSourceName(sPath.c_str()))
            sError += "; it is an effect source, which zqpack packs and fxcheck checks";
        return false;
    }
    file.bWalked = file.reader.Read(file.source);
    return true;
}

void CheckWithModule(PackedFile& file, const CModuleView& module)
{
    if (file.bWalked && module.IsLoaded() && !file.bValuesChecked)
        file.reader.CheckValues(
            [&module](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
            { return module.Lookup(nTypeID, pszName, info); },
            module.HasNoValueCurves());
    file.bValuesChecked = true;
}

void ForEachEffect(PackedFile& file, const CModuleView& module,
                   const std::function<void(const CPackedEffectReader::Effect&)>& visit)
{
    if (!file.bWalked)
        return;
    const bool bCheck = module.IsLoaded() && !file.bValuesChecked;
    const auto lookup = [&module](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
    { return module.Lookup(nTypeID, pszName, info); };
    CPackedEffectReader::Effect effect;
    for (uint32_t nPos = file.reader.GetEffectsStart(); file.reader.NextEffect(nPos, effect);)
    {
        if (bCheck)
            file.reader.CheckEffectValues(effect, lookup);
        visit(effect);
    }
    file.bValuesChecked = true;
}

namespace
{
// Checks every property on the way, also of the effects the visitor skips.
class CCheckingVisitor : public IRecordVisitor
{
public:
    CCheckingVisitor(CPackedEffectReader& reader, const CModuleView& module, IRecordVisitor& inner)
        : m_Reader(reader), m_Module(module), m_Inner(inner)
    {
    }
    bool OnEffect(const CPackedEffectReader::Effect& effect, uint32_t nNumKeys) override
    {
        m_bShown = m_Inner.OnEffect(effect, nNumKeys);
        return true;
    }
    void OnKey(const CPackedEffectReader::Key& key, uint32_t nNumProps) override
    {
        if (m_bShown)
            m_Inner.OnKey(key, nNumProps);
    }
    void OnProperty(const CPackedEffectReader::Key& key, const CPackedEffectReader::Property& prop) override
    {
        m_Reader.CheckPropertyValue(
            key.nTypeID, prop,
            [this](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
            { return m_Module.Lookup(nTypeID, pszName, info); });
        if (m_bShown)
            m_Inner.OnProperty(key, prop);
    }
    void OnKeyEnd(const CPackedEffectReader::Key& key) override
    {
        if (m_bShown)
            m_Inner.OnKeyEnd(key);
    }
    void OnEffectEnd(const CPackedEffectReader::Effect& effect) override
    {
        if (m_bShown)
            m_Inner.OnEffectEnd(effect);
    }

private:
    CPackedEffectReader& m_Reader;
    const CModuleView& m_Module;
    IRecordVisitor& m_Inner;
    bool m_bShown = false;
};
} // namespace

void WalkEffects(PackedFile& file, const CModuleView& module, IRecordVisitor& visitor)
{
    if (!file.bWalked)
        return;
    CCheckingVisitor checking(file.reader, module, visitor);
    IRecordVisitor& walker =
        module.IsLoaded() && !file.bValuesChecked ? static_cast<IRecordVisitor&>(checking) : visitor;
    CPackedEffectReader::Effect effect;
    for (uint32_t nPos = file.reader.GetEffectsStart(); file.reader.NextEffect(nPos, effect, walker);)
    {
    }
    file.bValuesChecked = true;
}

bool EffectFilter::Passes(const CPackedEffectReader& reader, uint32_t nNameOffset) const
{
    if (names.empty())
        return true;
    std::string sName;
    return reader.GetName(nNameOffset, sName) && Matches(sName);
}

bool EffectFilter::Passes(const json& effect) const
{
    if (names.empty())
        return true;
    const json& name = effect["name"];
    return name.is_string() && Matches(name.get<std::string>());
}

bool EffectFilter::Matches(const std::string& sName) const
{
    m_Matched.resize(names.size());
    m_Nearest.resize(names.size());
    bool bMatch = false;
    for (size_t i = 0; i < names.size(); ++i)
    {
        // Ignoring case, as the loader finds type and property names.
        if (ZQStrIEquals(names[i].c_str(), sName.c_str()))
        {
            ++m_Matched[i];
            bMatch = true;
        }
        else if (m_Matched[i] == 0)
            m_Nearest[i] = ClosestName(names[i], {m_Nearest[i], sName});
    }
    return bMatch;
}

std::vector<std::string> EffectFilter::Misses() const
{
    std::vector<std::string> misses;
    for (size_t i = 0; i < names.size(); ++i)
        if (i >= m_Matched.size() || m_Matched[i] == 0)
            misses.push_back("no effect is named '" + Printable(names[i]) + "'" +
                             (i < m_Nearest.size() ? DidYouMean(names[i], {m_Nearest[i]}) : std::string()));
    return misses;
}
} // namespace fxdump
