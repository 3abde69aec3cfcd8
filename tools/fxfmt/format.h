// fxfmt: the canonical layout of effect sources (ZQA text). Formatting changes only the whitespace
// between tokens: every token keeps its bytes and its place, so a formatted file packs to exactly
// the bytes its original packs to. The layout is a function of the token sequence alone, so
// formatting twice gives what formatting once gave.
//
// The layout (stable; a change to it is a major version):
// - Every top-level item starts a line of its own at column 0; the text ends with one line feed
//   (except after a string still open at the end of the text, which runs to the end and is never
//   followed by anything). Line breaks are line feeds; nothing but spaces indents.
// - A list is laid flat, "(a b (c d))" with one space between items, when it is at most three levels
//   deep (a list of atoms is one level, "(value (time 0) (data 1))" two), holds no line break
//   inside a string, and fits in 100 columns counting the ")" that directly follow it.
// - Otherwise the list is broken: "(" stays where the list starts, the items follow in order.
//   A small item (an atom, or a list of atoms only) joins the current line when it fits there;
//   any other item, and a small item that does not fit, starts a new line indented two spaces
//   more than the line of the list's "(" and is laid out by the same rules. The ")" ends the line
//   of the last item.
// - Columns count characters: UTF-8 continuation bytes take no column.
//
// Token rules are the packer's tokenizer's: whitespace is space, tab, line feed and carriage
// return only; a bare word runs to whitespace, a parenthesis or a quote; a string runs from a quote
// to the next quote (no escapes), or to the end of the text. Over-long tokens, zero bytes, bytes of
// any value stay exactly as written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fxfmt
{
// The widest line the layout aims at, in columns.
constexpr size_t kLineWidth = 100;
// Spaces added per nesting level of a broken list.
constexpr size_t kIndentStep = 2;

enum class FaultKind
{
    None,
    UnmatchedClose, // a ")" with no open list: the packer ignores it
    UnclosedList,   // a "(" whose list is still open at the end: the packer closes it there
    UnclosedString, // a quote with no closing quote: the string runs to the end of the text
    TooDeep,        // more lists open at once than the packer's tree builder takes
    NulByte,        // a zero byte: binary data, not effect source text
};

// A structural fault: what it is, the byte offset it is reported at, and a message (no position).
struct Fault
{
    FaultKind eKind = FaultKind::None;
    size_t nOffset = 0;
    std::string sMessage;

    explicit operator bool() const { return eKind != FaultKind::None; }
};

// The fault that comes first in the text (a string left open before the lists it leaves open), or a
// Fault whose kind is None for a sound text.
Fault CheckStructure(const std::string& sText);

// The whole text in the canonical layout. Any text is accepted (a faulty one too: a stray ")" is kept
// as a top-level item, an unclosed list or string stays unclosed); callers that must refuse faulty
// text ask CheckStructure first.
std::string FormatText(const std::string& sText);

// A replacement of the bytes [nBegin, nEnd) of a text by sText.
struct Edit
{
    size_t nBegin = 0;
    size_t nEnd = 0;
    std::string sText;
};

// Re-lays only what the byte range [nBegin, nEnd) touches: the innermost closed list that holds the
// whole range, laid out from where its "(" stands; or, when no list holds it, the top-level items
// the range touches (ends included), each on a line of its own. Answers no edit when nothing the
// range touches would change, else exactly one. Applied to a formatted text it answers no edit.
std::vector<Edit> FormatRange(const std::string& sText, size_t nBegin, size_t nEnd);

// Whether both texts hold the same tokens in the same order, byte for byte (the promise formatting
// keeps; every writer of formatted text checks it before writing).
bool SameTokens(const std::string& sA, const std::string& sB);

// The 1-based line (counted by line feeds) and byte column of a byte offset.
void LineColumn(const std::string& sText, size_t nOffset, uint32_t& nLine, uint32_t& nColumn);
} // namespace fxfmt
