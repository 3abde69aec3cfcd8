// Arbitrary bytes through the packed effect reader, as fxdump reads them: the walk, then the value
// checks with a made-up module whose property types follow from the property names.
#include "PackedEffectReader.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CPackedEffectReader reader;
    if (!reader.Read(pData, nSize))
        return 0;
    reader.CheckValues(
        [](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
        {
            const size_t nLen = std::strlen(pszName);
            info.eType = static_cast<uint32_t>((nLen + nTypeID) % 11);
            info.bFunctionCurve = nLen % 3 == 0;
            info.sParams = "a,b,c";
            return nLen % 7 != 0;
        },
        nSize % 2 == 0);
    volatile size_t nSink = 0;
    for (const auto& curve : reader.GetCurves())
        nSink += curve.nNumKeys;
    CPackedEffectReader::Effect effect;
    for (uint32_t nPos = reader.GetEffectsStart(); reader.NextEffect(nPos, effect);)
        for (const auto& key : effect.keys)
            nSink += key.props.size();
    std::string sText;
    for (uint32_t nPos = 0, nStart = 0; reader.NextString(nPos, nStart);)
        nSink += reader.GetString(nStart, sText) ? sText.size() : 0;
    (void)nSink;
    return 0;
}
