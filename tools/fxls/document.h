// An open document: the editor's unsaved text, its version, and the conversion between byte
// offsets and protocol positions (line and character in the negotiated unit: UTF-8 bytes or
// UTF-16 code units). Lines end at "\n", "\r\n" or "\r", as the protocol counts them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class PositionEncoding
{
    Utf8,
    Utf16,
};

struct TextPosition
{
    uint32_t nLine = 0;
    uint32_t nCharacter = 0;
};

class CDocument
{
public:
    CDocument(std::string sUri, std::string sPath, int64_t nVersion, std::string sText);

    const std::string& Uri() const { return m_sUri; }
    // The file system path of a file: URI; empty for other schemes.
    const std::string& Path() const { return m_sPath; }
    int64_t Version() const { return m_nVersion; }
    const std::string& Text() const { return m_sText; }

    void Replace(int64_t nVersion, std::string sText);
    // Replaces the bytes from nStart to nEnd (offsets, nStart <= nEnd <= size).
    void Edit(int64_t nVersion, size_t nStart, size_t nEnd, const std::string& sText);

    size_t Offset(const TextPosition& pos, PositionEncoding eEncoding) const;
    TextPosition Position(size_t nOffset, PositionEncoding eEncoding) const;
    uint32_t LineCount() const { return static_cast<uint32_t>(m_lineStarts.size()); }
    size_t LineStart(uint32_t nLine) const;
    // The end of the line's text, before its line break.
    size_t LineEnd(uint32_t nLine) const;

private:
    void IndexLines(size_t nFrom);

    std::string m_sUri;
    std::string m_sPath;
    int64_t m_nVersion;
    std::string m_sText;
    std::vector<size_t> m_lineStarts;
};

// The file system path of a "file:" URI, percent-decoded ("file:///C:/x" gives "C:/x" on Windows);
// empty for any other URI.
std::string UriToPath(const std::string& sUri);
// The "file:" URI of an absolute path.
std::string PathToUri(const std::string& sPath);
