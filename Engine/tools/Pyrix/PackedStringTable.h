// The string table of a packed effect file: every string stored once, NUL-terminated and padded
// with zero bytes to a multiple of 4, in the order of first addition; referred to by byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The index's hash: djb2 over the bytes taken as signed 8-bit values, in wrapping 32-bit arithmetic.
uint32_t HashString(const char* pszStr);

class CPackStringTable
{
public:
    // Offset of pszStr in the table, storing it first when it is new. Strings are compared byte for
    // byte (case-sensitively).
    uint32_t AddString(const char* pszStr);

    // True and *pnOffset set when pszStr is in the table; false and *pnOffset untouched otherwise.
    bool FindString(const char* pszStr, uint32_t* pnOffset) const;

    size_t GetSize() const { return m_Bytes.size(); }
    const char* GetData() const { return m_Bytes.data(); }

private:
    struct SStringEntry
    {
        uint32_t nOffset;
    };
    struct SStringHash
    {
        size_t operator()(const std::string& s) const { return HashString(s.c_str()); }
    };

    std::vector<char> m_Bytes;
    std::unordered_map<std::string, SStringEntry, SStringHash> m_Index;
};
