// Protocol positions and ranges of a document view.
#include "Features.h"

nlohmann::json JsonPosition(const DocumentView& view, uint64_t nOffset)
{
    const TextPosition pos = view.doc.Position(static_cast<size_t>(nOffset), view.eEncoding);
    return {{"line", pos.nLine}, {"character", pos.nCharacter}};
}

nlohmann::json JsonRange(const DocumentView& view, uint64_t nBegin, uint64_t nEnd)
{
    return {{"start", JsonPosition(view, nBegin)}, {"end", JsonPosition(view, nEnd)}};
}

bool ReadPosition(const DocumentView& view, const nlohmann::json& position, size_t& nOffset)
{
    if (!position.is_object())
        return false;
    const auto line = position.find("line");
    const auto character = position.find("character");
    if (line == position.end() || character == position.end() || !line->is_number_unsigned() ||
        !character->is_number_unsigned())
        return false;
    const uint64_t nLine = line->get<uint64_t>();
    const uint64_t nCharacter = character->get<uint64_t>();
    TextPosition pos;
    pos.nLine = nLine > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(nLine);
    pos.nCharacter = nCharacter > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(nCharacter);
    nOffset = view.doc.Offset(pos, view.eEncoding);
    return true;
}
