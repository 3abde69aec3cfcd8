// Protocol positions and ranges of a document view.
#include "requests.h"

nlohmann::json JsonPosition(const DocumentView& view, uint64_t nOffset)
{
    const TextPosition pos = view.doc.Position(static_cast<size_t>(nOffset), view.eEncoding);
    return {{"line", pos.nLine}, {"character", pos.nCharacter}};
}

nlohmann::json JsonRange(const DocumentView& view, uint64_t nBegin, uint64_t nEnd)
{
    return {{"start", JsonPosition(view, nBegin)}, {"end", JsonPosition(view, nEnd)}};
}

namespace
{
// A protocol position member: a non-negative integer (a larger one than 32 bits allow counts as the
// end of the line or text).
bool ReadCount(const nlohmann::json& value, uint32_t& n)
{
    if (!value.is_number_integer() || (!value.is_number_unsigned() && value.get<int64_t>() < 0))
        return false;
    const uint64_t nValue = value.get<uint64_t>();
    n = nValue > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(nValue);
    return true;
}
} // namespace

bool ReadTextPosition(const nlohmann::json& position, TextPosition& pos)
{
    return position.is_object() && position.contains("line") && position.contains("character") &&
           ReadCount(position["line"], pos.nLine) && ReadCount(position["character"], pos.nCharacter);
}

bool ReadPosition(const DocumentView& view, const nlohmann::json& position, size_t& nOffset)
{
    TextPosition pos;
    if (!ReadTextPosition(position, pos))
        return false;
    nOffset = view.doc.Offset(pos, view.eEncoding);
    return true;
}
