#include "PackedEffectWriter.h"

#include "FunctionCurveData.h"
#include "PackedStringTable.h"
#include "ResourceFileTypes.h"
#include "izqoutconverter.h"
#include "zqplatform.h"
#include "zqstrutils.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#define ZQ_THIS_FILE "Engine/tools/Pyrix/PackedEffectWriter"

namespace
{
const int kUnexpectedTypeLine = 149;
const int kInvalidPropertyLine = 375;
const int kMissingCurveLine = 394;

const uint32_t kPackedVersion = 2;
const uint32_t kNoOffset = 0xFFFFFFFFu;
const size_t kPackedNameSize = 260;

// Milliseconds to seconds: the exact product with the float constant 0.001, rounded once to float.
// 0.001f is 0x83126F * 2^-33, so the product is an integer of at most 55 bits times 2^-33: too wide
// for a double, whose rounding would be a second one. The integer is rounded to float once (the
// conversion rounds to nearest, ties to even) and the power of two scales it exactly.
float MillisecondsToSeconds(int32_t nMilliseconds)
{
    const uint64_t kMantissa = 0x83126F;
    const uint64_t nMagnitude =
        nMilliseconds < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(nMilliseconds)) : nMilliseconds;
    const float fProduct = std::ldexp(static_cast<float>(static_cast<int64_t>(nMagnitude * kMantissa)), -33);
    return nMilliseconds < 0 ? -fProduct : fProduct;
}

// One 8-bit colour channel scaled to 0..1 by the float nearest 1/255.
float ChannelToFloat(uint32_t nChannel)
{
    return static_cast<float>(nChannel & 0xFFu) * 0.003921569f;
}

// A fixed-size text field as a terminated string; the field may lack its terminator.
template <size_t N>
std::string FieldText(const char (&szField)[N])
{
    return std::string(szField, strnlen(szField, N));
}

bool IsStringValued(uint32_t eType)
{
    return eType == ePT_String || eType == ePT_Filename || eType == ePT_Animation || eType == ePT_SparkrigRef;
}

// The string a string-valued key stores in the table: the value itself (a terminated text), or
// for a file name the name of its packed form.
std::string TableString(uint32_t eType, const char* pszValue)
{
    if (eType != ePT_Filename)
        return std::string(pszValue);
    char szPacked[kPackedNameSize];
    GetPackedResourceName(pszValue, szPacked, sizeof(szPacked));
    return std::string(szPacked);
}

uint32_t StringOffset(const CPackStringTable& strings, const std::string& sText)
{
    uint32_t nOffset = 0;
    strings.FindString(sText.c_str(), &nOffset);
    return nOffset;
}

void WriteHeader(IZQOutConverter& converter, const PackedEffectHeader& header)
{
    converter.WriteUint32(header.nMagic)
        .WriteUint32(header.nVersion)
        .WriteUint32(header.nModuleVersion)
        .WriteUint32(header.nStringTableSize)
        .WriteUint32(header.nCurveDataSize)
        .WriteUint32(header.nNumKeys)
        .WriteUint32(header.nNumEffects)
        .WriteUint32(header.nNumEffectTypes)
        .WriteUint32(header.nStringTableOffset)
        .WriteUint32(header.nEffectIndexOffset);
}

bool FileExists(const std::string& sPath)
{
    FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile)
        return false;
    std::fclose(pFile);
    return true;
}

// Whether the regular file sPath (not a link) holds exactly the bytes of sOther. An output whose
// bytes did not change is left alone, timestamps included, so build tools stop there.
bool SameRegularFile(const std::string& sPath, const std::string& sOther)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(sPath, ec);
    if (ec || status.type() != std::filesystem::file_type::regular)
        return false;
    const uintmax_t nSize = std::filesystem::file_size(sPath, ec);
    if (ec || nSize != std::filesystem::file_size(sOther, ec) || ec)
        return false;
    FILE* pA = std::fopen(sPath.c_str(), "rb");
    FILE* pB = pA ? std::fopen(sOther.c_str(), "rb") : nullptr;
    bool bSame = pA && pB;
    char aBufA[8192];
    char aBufB[8192];
    while (bSame)
    {
        const size_t nA = std::fread(aBufA, 1, sizeof(aBufA), pA);
        const size_t nB = std::fread(aBufB, 1, sizeof(aBufB), pB);
        bSame = nA == nB && std::memcmp(aBufA, aBufB, nA) == 0 && !std::ferror(pA) && !std::ferror(pB);
        if (nA < sizeof(aBufA))
            break;
    }
    if (pB)
        std::fclose(pB);
    if (pA)
        std::fclose(pA);
    return bSame;
}

// The same for bytes in memory.
bool RegularFileHolds(const char* pszPath, const uint8_t* pBytes, size_t nSize)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(pszPath, ec);
    if (ec || status.type() != std::filesystem::file_type::regular)
        return false;
    const uintmax_t nFileSize = std::filesystem::file_size(pszPath, ec);
    if (ec || nFileSize != nSize)
        return false;
    FILE* pFile = std::fopen(pszPath, "rb");
    if (!pFile)
        return false;
    uint8_t aBuffer[65536];
    size_t nDone = 0;
    bool bSame = true;
    while (bSame && nDone < nSize)
    {
        const size_t nWant = nSize - nDone < sizeof(aBuffer) ? nSize - nDone : sizeof(aBuffer);
        bSame =
            std::fread(aBuffer, 1, nWant, pFile) == nWant && std::memcmp(aBuffer, pBytes + nDone, nWant) == 0;
        nDone += nWant;
    }
    // The file may have grown since its size was taken.
    bSame = bSame && std::fgetc(pFile) == EOF && !std::ferror(pFile);
    std::fclose(pFile);
    return bSame;
}

// The packed file as it is written: bytes in memory, overwritten where the writer seeks back to
// patch an offset; the bytes belong to the caller. A file that grows beyond nMemoryLimit goes on
// in the file sSpillPath instead (the bytes so far written there first), so that a large output
// does not cost its size in memory. Released by its converter.
class CSpillingOutStream final : public IZQOutStream
{
public:
    CSpillingOutStream(std::vector<uint8_t>& rBytes, std::string sSpillPath, size_t nMemoryLimit,
                       bool& rbSpilled)
        : m_rBytes(rBytes), m_sSpillPath(std::move(sSpillPath)), m_nMemoryLimit(nMemoryLimit),
          m_rbSpilled(rbSpilled)
    {
        m_rbSpilled = false;
    }
    ~CSpillingOutStream() override
    {
        if (m_pFile)
            m_pFile->Release();
    }
    CSpillingOutStream(const CSpillingOutStream&) = delete;
    CSpillingOutStream& operator=(const CSpillingOutStream&) = delete;

    void Release() override { delete this; }
    uint32_t Write(const void* pData, uint32_t nBytes) override
    {
        if (m_bError)
            return 1;
        if (!m_pFile && m_nCursor + nBytes > m_nMemoryLimit && !Spill())
            return 1;
        if (m_pFile)
            return m_pFile->Write(pData, nBytes);
        try
        {
            const size_t nEnd = m_nCursor + nBytes;
            if (nEnd > m_rBytes.size())
                m_rBytes.resize(nEnd);
            if (nBytes)
                std::memcpy(m_rBytes.data() + m_nCursor, pData, nBytes);
            m_nCursor = nEnd;
            return 0;
        }
        catch (...)
        {
            m_bError = true; // out of memory
            return 1;
        }
    }
    // As the file stream writes strings: the length cut to 16 bits in host order, then as many bytes.
    uint32_t WriteString(const char* pszStr) override
    {
        const uint16_t nLength16 = static_cast<uint16_t>(pszStr ? std::strlen(pszStr) : 0);
        Write(&nLength16, sizeof(nLength16));
        return pszStr ? Write(pszStr, nLength16) : 0;
    }
    bool HasError() override { return m_bError || (m_pFile && m_pFile->HasError()); }
    bool CanSeek() override { return true; }
    uint32_t Seek(uint64_t nPosition) override
    {
        if (m_pFile)
            return m_pFile->Seek(nPosition);
        // The file stream's range: positions below 2^31.
        if (nPosition >= 0x80000000ull || nPosition > m_rBytes.size())
            return 1;
        m_nCursor = static_cast<size_t>(nPosition);
        return 0;
    }
    uint64_t Tell() override { return m_pFile ? m_pFile->Tell() : m_nCursor; }
    uint32_t Flush() override { return m_pFile ? m_pFile->Flush() : (m_bError ? 1 : 0); }

private:
    bool Spill()
    {
        m_pFile = OpenFileOutStream(m_sSpillPath.c_str());
        m_rbSpilled = m_pFile != nullptr;
        if (!m_pFile ||
            (!m_rBytes.empty() &&
             m_pFile->Write(m_rBytes.data(), static_cast<uint32_t>(m_rBytes.size())) != 0) ||
            m_pFile->Seek(m_nCursor) != 0)
        {
            m_bError = true;
            return false;
        }
        std::vector<uint8_t>().swap(m_rBytes);
        return true;
    }

    std::vector<uint8_t>& m_rBytes;
    std::string m_sSpillPath;
    size_t m_nMemoryLimit;
    bool& m_rbSpilled;
    IZQOutStream* m_pFile = nullptr; // once spilled
    size_t m_nCursor = 0;
    bool m_bError = false;
};

// Writes nSize bytes to a new file sPath; false when any write or the close failed.
bool WriteWholeFile(const std::string& sPath, const uint8_t* pBytes, size_t nSize)
{
    FILE* pFile = std::fopen(sPath.c_str(), "wb");
    if (!pFile)
        return false;
    const bool bWritten = nSize == 0 || std::fwrite(pBytes, 1, nSize, pFile) == nSize;
    const bool bFlushed = std::fflush(pFile) == 0 && !std::ferror(pFile);
    return std::fclose(pFile) == 0 && bWritten && bFlushed;
}

// A name beside pszDest that names no file yet: the destination plus ".~" and eight hex digits
// that mix the clock with a stack address, so that concurrent writers pick different names. Empty
// when no free name was found.
std::string MakeTempName(const char* pszDest)
{
    uint64_t nSeed =
        static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    nSeed ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&nSeed));
    for (int nAttempt = 0; nAttempt < 64; ++nAttempt)
    {
        nSeed += 0x9E3779B97F4A7C15ull;
        uint64_t nMixed = nSeed;
        nMixed = (nMixed ^ (nMixed >> 30)) * 0xBF58476D1CE4E5B9ull;
        nMixed = (nMixed ^ (nMixed >> 27)) * 0x94D049BB133111EBull;
        nMixed ^= nMixed >> 31;
        char szSuffix[16];
        std::snprintf(szSuffix, sizeof(szSuffix), ".~%08x", static_cast<unsigned>(nMixed & 0xFFFFFFFFu));
        std::string sName = std::string(pszDest) + szSuffix;
        if (!FileExists(sName))
            return sName;
    }
    return std::string();
}

// Removes the temporary file on every way out, unless it was renamed into place.
class CTempFileGuard
{
public:
    explicit CTempFileGuard(std::string sPath) : m_sPath(std::move(sPath)) {}
    ~CTempFileGuard()
    {
        if (!m_bKept)
            std::remove(m_sPath.c_str());
    }
    CTempFileGuard(const CTempFileGuard&) = delete;
    CTempFileGuard& operator=(const CTempFileGuard&) = delete;

    void Keep() { m_bKept = true; }

private:
    std::string m_sPath;
    bool m_bKept = false;
};

struct SConverterRelease
{
    void operator()(IZQOutConverter* pConverter) const { pConverter->Release(); }
};

// Outputs up to this size are made in memory; larger ones in their temporary file.
constexpr size_t kInMemoryOutput = 4u << 20;

// Writes the whole file into rBytes or, when it grows large, into sSpillPath (rbSpilled then
// true); true when every write and seek succeeded.
bool WritePackedFile(std::vector<uint8_t>& rBytes, const std::string& sSpillPath, bool& rbSpilled,
                     CEffectCollection& collection, CEffectModule& module)
{
    const uint32_t nNumTypes = module.GetNumTypes();
    std::vector<uint32_t> keyCounts(nNumTypes, 0);

    IZQOutStream* pStream = new CSpillingOutStream(rBytes, sSpillPath, kInMemoryOutput, rbSpilled);
    std::unique_ptr<IZQOutConverter, SConverterRelease> pConverter(CreateOutConverter("PC", pStream));
    if (!pConverter)
    {
        pStream->Release();
        return false;
    }
    // From here the converter owns the stream; pStream stays valid until the converter is released.
    IZQOutConverter& converter = *pConverter;

    PackedEffectHeader header = {};
    std::memcpy(&header.nMagic, "ZQFX", sizeof(header.nMagic));
    header.nVersion = kPackedVersion;
    header.nModuleVersion = module.GetModuleVersion();
    header.nNumEffectTypes = nNumTypes;
    WriteHeader(converter, header);

    CPackStringTable strings;
    CFunctionCurveData curves;
    CollectPackData(collection, curves, &header.nNumEffects, &header.nNumKeys, keyCounts.data(), nNumTypes,
                    strings);

    for (uint32_t nCount : keyCounts)
        converter.WriteUint32(nCount);

    header.nStringTableOffset = static_cast<uint32_t>(converter.Tell());
    header.nStringTableSize = static_cast<uint32_t>(strings.GetSize());
    const char* pBytes = strings.GetData();
    for (size_t i = 0; i < strings.GetSize(); ++i)
        converter.WriteInt8(static_cast<int8_t>(pBytes[i]));

    curves.WriteCurves(converter, &header.nCurveDataSize, strings);

    bool bOk = WriteEffects(converter, collection, strings, curves);

    header.nEffectIndexOffset = static_cast<uint32_t>(converter.Tell());
    for (auto* pNode = collection.m_Effects.GetHeadNode(); pNode; pNode = pNode->pNext)
        converter.WriteUint32(StringOffset(strings, FieldText(pNode->pData->szName)));

    bOk = converter.Seek(0) == 0 && bOk;
    WriteHeader(converter, header);

    bOk = pStream->Flush() == 0 && !pStream->HasError() && bOk;
    return bOk;
}
} // namespace

void CollectPackData(CEffectCollection& collection, CFunctionCurveData& curves, uint32_t* pnNumEffects,
                     uint32_t* pnNumKeys, uint32_t* pKeyCounts, uint32_t nNumTypes, CPackStringTable& strings)
{
    uint32_t nNumEffects = 0;
    uint32_t nNumKeys = 0;
    for (auto* pEffectNode = collection.m_Effects.GetHeadNode(); pEffectNode;
         pEffectNode = pEffectNode->pNext)
    {
        CEffectDef& effect = *pEffectNode->pData;
        strings.AddString(FieldText(effect.szName).c_str());
        for (auto* pTrackNode = effect.m_Tracks.GetHeadNode(); pTrackNode; pTrackNode = pTrackNode->pNext)
        {
            const CEffectTrack& track = *pTrackNode->pData;
            for (uint32_t k = 0; k < track.GetCount(); ++k)
            {
                const CEffectKey& key = *track.GetAt(k);
                // The module guarantees type ids below its type count; a key beyond is not counted.
                if (key.m_pTypeDesc && key.m_pTypeDesc->nTypeID < nNumTypes && pKeyCounts)
                    ++pKeyCounts[key.m_pTypeDesc->nTypeID];

                for (uint32_t p = 0; p < key.GetNumProps(); ++p)
                {
                    const CEffectProperty* pProperty = key.GetProperty(p);
                    if (!pProperty || !pProperty->GetDesc())
                        continue;
                    const EffectPropDesc& desc = *pProperty->GetDesc();
                    strings.AddString(FieldText(desc.szName).c_str());
                    if (IsStringValued(desc.eType))
                    {
                        for (uint32_t v = 0; v < pProperty->GetNumKeys(); ++v)
                            strings.AddString(TableString(desc.eType, pProperty->GetKeyText(v)).c_str());
                    }
                    if (desc.m_bFunctionCurve && curves.FindProperty(pProperty) == -1)
                        curves.AddProperty(pProperty);
                }
                ++nNumKeys;
            }
        }
        ++nNumEffects;
    }
    if (pnNumEffects)
        *pnNumEffects = nNumEffects;
    if (pnNumKeys)
        *pnNumKeys = nNumKeys;
}

bool WriteEffects(IZQOutConverter& converter, CEffectCollection& collection, const CPackStringTable& strings,
                  CFunctionCurveData& curves)
{
    bool bOk = true;
    for (auto* pEffectNode = collection.m_Effects.GetHeadNode(); pEffectNode;
         pEffectNode = pEffectNode->pNext)
    {
        CEffectDef& effect = *pEffectNode->pData;
        uint32_t nNumKeys = 0;
        for (auto* pTrackNode = effect.m_Tracks.GetHeadNode(); pTrackNode; pTrackNode = pTrackNode->pNext)
            nNumKeys += pTrackNode->pData->GetCount();

        converter.WriteUint32(StringOffset(strings, FieldText(effect.szName)))
            .WriteUint32(static_cast<uint32_t>(effect.m_nLength))
            .WriteUint32(nNumKeys);
        for (auto* pTrackNode = effect.m_Tracks.GetHeadNode(); pTrackNode; pTrackNode = pTrackNode->pNext)
        {
            const CEffectTrack& track = *pTrackNode->pData;
            for (uint32_t k = 0; k < track.GetCount(); ++k)
                bOk = WriteKey(converter, *track.GetAt(k), strings, curves) && bOk;
        }
    }
    return bOk;
}

bool WriteKey(IZQOutConverter& converter, CEffectKey& key, const CPackStringTable& strings,
              CFunctionCurveData& curves)
{
    const uint32_t nTypeID = key.m_pTypeDesc ? key.m_pTypeDesc->nTypeID : 0;
    const int32_t nLinkID = key.m_bMotionLink ? key.m_nMotionLinkID : key.m_nID;
    converter.WriteUint32(nTypeID)
        .WriteFloat(MillisecondsToSeconds(key.m_nStartTime))
        .WriteFloat(MillisecondsToSeconds(key.m_nEndTime))
        .WriteUint32(static_cast<uint32_t>(key.m_nID))
        .WriteUint32(static_cast<uint32_t>(nLinkID));

    const uint32_t nNumProps = key.GetNumProps();
    uint32_t nWritable = 0;
    for (uint32_t p = 0; p < nNumProps; ++p)
    {
        const CEffectProperty* pProperty = key.GetProperty(p);
        if (pProperty && pProperty->IsWritable())
            ++nWritable;
    }
    converter.WriteUint32(nWritable);

    bool bOk = true;
    for (uint32_t p = 0; p < nNumProps; ++p)
    {
        CEffectProperty* pProperty = key.GetProperty(p);
        if (pProperty && pProperty->IsWritable())
            bOk = WritePropertyData(converter, pProperty, strings, curves) && bOk;
    }
    return bOk;
}

bool WritePropertyData(IZQOutConverter& converter, CEffectProperty* pProperty,
                       const CPackStringTable& strings, CFunctionCurveData& curves)
{
    if (!ZQCheckSite(pProperty && pProperty->GetDesc(), "pProperty && pProperty->GetDesc()", ZQ_THIS_FILE,
                     kInvalidPropertyLine, "WritePropertyData",
                     "Error: Invalid property passed to WritePropertyData", ZQ_SITE_FLAG()))
        return true;
    const EffectPropDesc& desc = *pProperty->GetDesc();

    converter.WriteUint32(StringOffset(strings, FieldText(desc.szName)));
    const uint64_t nPatchPos = converter.Tell();
    converter.WriteUint32(0);

    // The keys may change here (normalising is not idempotent for curve times outside 0..1); a
    // curve entry of this property is then re-filed before it is looked up. A property known to
    // be in normal form does not change.
    const bool bMayChange = !pProperty->IsNormalized();
    pProperty->Normalize();

    if (desc.m_bFunctionCurve)
    {
        if (bMayChange)
            curves.UpdateProperty(pProperty);
        const int32_t nEntry = curves.FindProperty(pProperty);
        const uint32_t nCurveIndex =
            nEntry >= 0 ? curves.GetEntry(static_cast<uint32_t>(nEntry)).nOffset : kNoOffset;
        ZQCheckSite(nCurveIndex != kNoOffset, "nCurveIndex != (uint32)-1", ZQ_THIS_FILE, kMissingCurveLine,
                    "WritePropertyData", "Error: Unable to find property curve index when packing!",
                    ZQ_SITE_FLAG());
        converter.WriteUint32(nCurveIndex);
    }
    else if (pProperty->GetNumKeys() > 0)
    {
        WritePropertyKeyData(converter, *pProperty, 0, strings);
    }

    const uint64_t nEndPos = converter.Tell();
    bool bOk = converter.Seek(nPatchPos) == 0;
    converter.WriteUint32(static_cast<uint32_t>(nEndPos));
    bOk = converter.Seek(nEndPos) == 0 && bOk;
    return bOk;
}

void WritePropertyKeyData(IZQOutConverter& converter, const CEffectProperty& property, uint32_t nKey,
                          const CPackStringTable& strings)
{
    const EffectPropDesc* pDesc = property.GetDesc();
    const uint32_t eType = pDesc ? pDesc->eType : static_cast<uint32_t>(ePT_None);
    switch (eType)
    {
    case ePT_String:
    case ePT_Filename:
    case ePT_Animation:
    case ePT_SparkrigRef:
        converter.WriteUint32(StringOffset(strings, TableString(eType, property.GetKeyText(nKey))));
        break;
    case ePT_Enum:
    {
        const std::string sChoices = FieldText(pDesc->szParams);
        int nIndex = FindEnumIndex(sChoices.c_str(), property.GetKeyText(nKey));
        if (nIndex == -1)
            nIndex = FindEnumIndex(sChoices.c_str(), FieldText(pDesc->DefaultValue.szValue).c_str());
        if (nIndex == -1)
            nIndex = 0;
        converter.WriteUint32(static_cast<uint32_t>(nIndex));
        break;
    }
    case ePT_Int:
        converter.WriteInt32(static_cast<int32_t>(property.GetKeyWord(nKey)));
        break;
    case ePT_Float:
        converter.WriteFloat(property.GetKeyFloat(nKey));
        break;
    case ePT_Color:
    {
        const uint32_t nColor = property.GetKeyWord(nKey);
        converter.WriteFloat(ChannelToFloat(nColor >> 16))
            .WriteFloat(ChannelToFloat(nColor >> 8))
            .WriteFloat(ChannelToFloat(nColor))
            .WriteFloat(ChannelToFloat(nColor >> 24));
        break;
    }
    case ePT_Vector:
    {
        float afValue[3];
        property.GetKeyVector(nKey, afValue);
        converter.WriteFloat(afValue[0]).WriteFloat(afValue[1]).WriteFloat(afValue[2]);
        break;
    }
    default:
        ZQCheckSite(false, ZQ_FORCED_ASSERT_TEXT, ZQ_THIS_FILE, kUnexpectedTypeLine, "WritePropertyKeyData",
                    "Error: Unexpected property type", ZQ_SITE_FLAG());
        break;
    }
}

bool WritePackedEffectFile(const char* pszDest, CEffectCollection& collection, CEffectModule& module)
{
    if (!pszDest || !module.IsLoaded())
        return false;
    try
    {
        // The file is made in memory and compared there with the output it would replace: an
        // unchanged output costs one read of it and no file written. A large one is made in the
        // temporary file and compared from there.
        const std::string sTemp = MakeTempName(pszDest);
        if (sTemp.empty())
            return false;
        CTempFileGuard tempFile(sTemp);
        std::vector<uint8_t> bytes;
        bool bSpilled = false;
        if (!WritePackedFile(bytes, sTemp, bSpilled, collection, module))
            return false;
        if (bSpilled ? SameRegularFile(pszDest, sTemp)
                     : RegularFileHolds(pszDest, bytes.data(), bytes.size()))
            return true;
        if ((!bSpilled && !WriteWholeFile(sTemp, bytes.data(), bytes.size())) ||
            !PlatformReplaceFile(sTemp.c_str(), pszDest))
            return false;
        tempFile.Keep();
        return true;
    }
    catch (...)
    {
        // Out of memory: nothing is left behind, the destination is as it was.
        return false;
    }
}
