// Text from files in JSON. A JSON string must be UTF-8, but names and paths from files are bytes:
// the string keeps every well-formed UTF-8 sequence and shows each ill-formed one as U+FFFD (as
// nlohmann's dump with error_handler_t::replace does, so readers that only want text get text), and
// wherever that loses bytes a sibling member named after it with "Bytes" appended holds the exact
// bytes in lower-case hex ("name":"a\uFFFD", "nameBytes":"61ff"). Valid UTF-8 gets no sibling.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

// The suffix of the member that holds a string's exact bytes.
constexpr const char* kJsonBytesSuffix = "Bytes";

// A JSON string's contents written piece by piece; a sequence may be split between pieces.
class CJsonStringWriter
{
public:
    void Feed(std::string& sOut, const char* p, size_t n);
    void Finish(std::string& sOut);
    // Whether every byte fed so far went out as itself (no U+FFFD stands for any).
    bool IsExact() const { return m_bExact; }

private:
    char m_Pending[4] = {};
    size_t m_nPending = 0;
    int m_nNeeded = 0;
    unsigned char m_nLow = 0x80, m_nHigh = 0xBF;
    bool m_bExact = true;
};

// sText as a quoted JSON string; the result says whether it went out exactly.
bool AppendJsonString(std::string& sOut, const std::string& sText);
bool IsUtf8(const std::string& sText);
void AppendHexBytes(std::string& sOut, const char* p, size_t n);

// Adds the "Bytes" sibling beside every string member, at any depth, that is not UTF-8. For a
// nlohmann JSON value built in memory, before it is dumped with error_handler_t::replace.
template <class Json>
void AddJsonBytes(Json& value)
{
    if (value.is_array())
    {
        for (Json& item : value)
            AddJsonBytes(item);
        return;
    }
    if (!value.is_object())
        return;
    bool bAny = false;
    for (auto& item : value.items())
    {
        AddJsonBytes(item.value());
        bAny = bAny ||
               (item.value().is_string() && !IsUtf8(item.value().template get_ref<const std::string&>()));
    }
    if (!bAny)
        return;
    // Rebuilt, so that each sibling follows its string.
    Json out = Json::object();
    for (auto& item : value.items())
    {
        const std::string sKey = item.key();
        const bool bBytes =
            item.value().is_string() && !IsUtf8(item.value().template get_ref<const std::string&>());
        std::string sHex;
        if (bBytes)
        {
            const std::string& sText = item.value().template get_ref<const std::string&>();
            AppendHexBytes(sHex, sText.data(), sText.size());
        }
        out[sKey] = std::move(item.value());
        if (bBytes)
            out[sKey + kJsonBytesSuffix] = std::move(sHex);
    }
    value = std::move(out);
}
