#include "fxdump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fxdump
{
bool ForEachStringPiece(const CPackedEffectReader& reader, uint32_t nTableOffset,
                        const std::function<size_t(const char*, size_t, bool)>& consume)
{
    if (!reader.IsString(nTableOffset))
        return false;
    constexpr uint32_t kPiece = 4096;
    char buffer[kPiece + 4];
    size_t nCarry = 0;
    const CPackedEffectReader::Header& h = reader.GetHeader();
    for (uint32_t nPos = nTableOffset;;)
    {
        const uint32_t nBytes = std::min(kPiece, h.nStringTableSize - nPos);
        reader.ReadBytes(uint64_t(h.nStringTableOffset) + nPos, buffer + nCarry, nBytes);
        const size_t nLen = strnlen(buffer + nCarry, nBytes);
        nPos += nBytes;
        const bool bLast = nLen < nBytes || nPos >= h.nStringTableSize;
        const size_t nHave = nCarry + nLen;
        const size_t nTaken = consume(buffer, nHave, bLast);
        if (bLast)
            return true;
        nCarry = nHave - nTaken;
        std::memmove(buffer, buffer + nTaken, nCarry);
    }
}
} // namespace fxdump
