// The string table of a packed effect file: every string stored once, NUL-terminated and padded
// with zero bytes to a multiple of 4, in the order of first addition; referred to by byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
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
    static constexpr uint32_t EMPTY = 0xFFFFFFFFu;
    // An open-addressed index over the table's own bytes: no copy of any string besides the table.
    struct SSlot
    {
        uint32_t nHash;
        uint32_t nOffset; // of the string in m_Bytes; EMPTY for a free slot
    };

    // The slot holding pszStr, or the free slot where it would go; m_Slots must not be empty.
    size_t Locate(const char* pszStr, uint32_t nHash) const;
    void Grow();

    std::vector<char> m_Bytes;
    std::vector<SSlot> m_Slots; // a power of two in size, at most three quarters used
    size_t m_nCount = 0;
};
