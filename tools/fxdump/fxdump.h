// fxdump: prints, verifies, compares and converts packed effect files. main.cpp parses the command
// line; module.cpp queries the effect module. The listing (text.cpp), --json (json.cpp,
// jsonwrite.cpp) and --csv (csv.cpp) are written record by record and string piece by piece as the
// file is walked, so their memory does not depend on the file; html.cpp works on one effect's
// records at a time, diff.cpp compares the effects decoded into JSON (json.cpp), and zqa.cpp writes
// source text. Every view reads values with ReadValue and curve records with ForEachCurvePoint
// (values.cpp); the listing, the page and the comparison show them through CValueText.
#pragma once

#include "PackedEffectReader.h"
#include "csvfield.h"
#include "jsontext.h"
#include "printable.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CEffectModule;
struct EffectTypeDesc;

namespace fxdump
{
// The effect module that describes a packed file's types, or nothing.
class CModuleView
{
public:
    CModuleView();
    ~CModuleView();

    // Loads the module at sPath; false with a reason when it cannot be loaded.
    bool Load(const std::string& sPath, std::string& sError);
    bool IsLoaded() const;
    const std::string& GetPath() const { return m_sPath; }
    uint32_t GetModuleVersion() const;
    uint32_t GetNumTypes() const;

    // The description of the type with this id, or null.
    const EffectTypeDesc* GetType(uint32_t nTypeID) const;
    // The name of the type with this id, or empty.
    std::string GetTypeName(uint32_t nTypeID) const;
    bool Lookup(uint32_t nTypeID, const char* pszPropName, CPackedEffectReader::ValueInfo& info) const;
    // Whether any type has a function-curve property of a type that writes no value.
    bool HasNoValueCurves() const;
    // The first type whose name equals sName ignoring case, as the loader finds it; or null.
    const EffectTypeDesc* FindType(const std::string& sName) const;

private:
    std::unique_ptr<CEffectModule> m_pModule;
    std::string m_sPath;
};

// The module path the project locator file above sFile names, or empty (sWhy says why).
std::string FindModuleForFile(const std::string& sFile, std::string& sWhy);

// A file read at offsets through a small cache of pages, so that no file is held in memory.
class CFileSource : public IPackedSource
{
public:
    CFileSource();
    ~CFileSource() override;
    bool Open(const std::string& sPath, std::string& sError);
    uint64_t GetSize() const override { return m_nSize; }
    bool ReadAt(uint64_t nOffset, void* p, size_t nBytes) override;

    // NUM_PAGES pages are held; a page read when all are full replaces the least recently used.
    static constexpr size_t PAGE_SIZE = 1 << 16;
    static constexpr size_t NUM_PAGES = 32;

private:
    struct Page
    {
        uint64_t nNumber = ~uint64_t(0);
        uint64_t nUsed = 0; // when last read
        std::vector<char> bytes;
    };
    std::FILE* m_pFile = nullptr;
    uint64_t m_nSize = 0;
    std::vector<Page> m_Pages;
    size_t m_nLast = 0, m_nPrev = 0;
    uint64_t m_nClock = 0;
};

// One packed file, walked once; its effects are then read one at a time.
struct PackedFile
{
    std::string sPath;
    CFileSource source;
    CPackedEffectReader reader;
    bool bWalked = false;
    bool bValuesChecked = false; // problems of the values are in the reader's list
    uint64_t GetSize() const { return reader.GetSize(); }
};

bool LoadPackedFile(const std::string& sPath, PackedFile& file, std::string& sError);
// With a loaded module, the whole check: values and the curve records.
void CheckWithModule(PackedFile& file, const CModuleView& module);

// Calls visit with each effect in file order. With a module, the first walk checks every value
// on the way (the listing then ends with those problems).
void ForEachEffect(PackedFile& file, const CModuleView& module,
                   const std::function<void(const CPackedEffectReader::Effect&)>& visit);
// The same, record by record (IRecordVisitor): no effect is held whole. Effects the visitor skips
// are still checked.
void WalkEffects(PackedFile& file, const CModuleView& module, IRecordVisitor& visitor);
// The string at a table offset, or null JSON when none starts there.
nlohmann::ordered_json StringJson(const CPackedEffectReader& reader, uint32_t nTableOffset);

// One value of a packed file read by its type: what every view shows, each in its own syntax.
struct PackedValue
{
    enum Kind
    {
        RAW,      // no type known, or a size that does not fit it: the words at nOffset
        TEXT,     // a string of the table at offset nWord
        BAD_TEXT, // a string offset nWord at which no string starts
        CHOICE,   // enum index nWord, the choice at that position (or empty)
        INT,      // the bits nWord
        FLOATS,   // nFloats floats (Float, Vector)
        COLOR,    // four channel floats
        NONE      // a type that writes no value
    };
    Kind eKind = NONE;
    uint32_t nOffset = 0, nSize = 0;
    uint32_t nWord = 0;
    uint32_t nFloats = 0;
    float afFloats[4] = {};
    std::string sChoice;
};
PackedValue ReadValue(const CPackedEffectReader& reader, uint32_t nOffset, uint32_t nSize,
                      const CPackedEffectReader::ValueInfo* pInfo);
// Calls point with the time and the value's file offset of each key of the curve record at a
// curve-section offset, read as a type; false, with no call, when no record of that type fits there.
bool ForEachCurvePoint(const CPackedEffectReader& reader, uint32_t nCurve, uint32_t eType,
                       const std::function<void(float fTime, uint32_t nValueOffset)>& point);
// A value as --json shows it (json.cpp writes the same bytes without building it).
nlohmann::ordered_json ValueJson(const CPackedEffectReader& reader, const PackedValue& value);

// The value at a file offset, decoded by its type; a raw word list without type information.
nlohmann::ordered_json DecodeValue(const CPackedEffectReader& reader, uint32_t nOffset, uint32_t nSize,
                                   const CPackedEffectReader::ValueInfo* pInfo);
// The curve record at a curve-section offset read as a type: its keys, each a time and (for types
// with one) a value; null JSON when no record of that type fits there.
nlohmann::ordered_json DecodeCurveAt(const CPackedEffectReader& reader, uint32_t nCurveOffset,
                                     uint32_t eType);
std::string TypeName(uint32_t eType);
// The enum choice at a position of a comma-separated list, as the packer counts them.
std::string EnumChoice(const std::string& sParams, uint32_t nIndex);

// Which effects to show: all, or those with one of the names, in any letter case.
struct EffectFilter
{
    std::vector<std::string> names;
    bool Passes(const nlohmann::ordered_json& effect) const;
    bool Passes(const CPackedEffectReader& reader, uint32_t nNameOffset) const;
    // One message for each name that no effect passed by, with the nearest name seen.
    std::vector<std::string> Misses() const;

private:
    bool Matches(const std::string& sName) const;
    mutable std::vector<uint64_t> m_Matched;    // per name: the effects it let pass
    mutable std::vector<std::string> m_Nearest; // per name, while it matched none: the closest name seen
};

// The parts of the JSON document: the file's facts (file, size, module, header), the key count of
// a type, one effect each, and the problems.
nlohmann::ordered_json FileJson(const PackedFile& file, const CModuleView& module);
nlohmann::ordered_json EffectJson(const PackedFile& file, const CModuleView& module,
                                  const CPackedEffectReader::Effect& effect);
nlohmann::ordered_json KeyCountJson(const PackedFile& file, const CModuleView& module, uint32_t nTypeID);
nlohmann::ordered_json ProblemsJson(const PackedFile& file);
// The whole document on one line, written effect by effect.
void WriteJson(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut);
std::string JsonLine(const nlohmann::ordered_json& value);

// The listing for people, written effect by effect.
void WriteText(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut);
// The text of packed values in the listing's words, the same in every view (valuetext.cpp).
class CValueText
{
public:
    enum TimeUnit
    {
        SECONDS,     // as the packed file holds key times
        MILLISECONDS // as the source writes them
    };
    // Texts are appended to sOut; with pOut, sOut is written out whenever it grows large.
    CValueText(const CPackedEffectReader& reader, std::string& sOut, std::FILE* pOut = nullptr);
    void Value(const PackedValue& value);
    void Number(float f);
    void Time(float fSeconds, TimeUnit eUnit);
    // One curve point: its time, and ": " and its value for types that have one.
    void Point(float fTime, uint32_t nValueOffset, uint32_t eType);
    // The points of the curve record at a curve-section offset read as a type, pszBefore before the
    // first and ", " between them; false, with nothing appended, when no record of that type fits.
    bool Curve(uint32_t nCurve, uint32_t eType, const char* pszBefore = "");
    // The string at a table offset; false when none starts there.
    bool String(uint32_t nTableOffset);
    // What a property holds: its value, or "curve @offset:" and the curve's points; without type
    // information (pInfo null), raw words.
    void PropertyValue(const CPackedEffectReader::Property& prop,
                       const CPackedEffectReader::ValueInfo* pInfo);

private:
    void Floats(const PackedValue& value);
    void Flush();

    const CPackedEffectReader& m_Reader;
    std::string& m_sOut;
    std::FILE* m_pOut;
};
std::string ValueText(const CPackedEffectReader& reader, const PackedValue& value);

// Curve points, one row each, for spreadsheets.
void WriteCsvHeader(std::FILE* pOut);
void WriteCsv(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut);

// One self-contained page for all files.
void WriteHtml(const std::vector<PackedFile*>& files, const CModuleView& module, const EffectFilter& filter,
               std::FILE* pOut);

// What changed between two files; true when they hold the same effects.
bool WriteDiff(PackedFile& oldFile, PackedFile& newFile, const CModuleView& module, bool bJson,
               std::FILE* pOut);

// Effect source text that packs to the same bytes; the cases it cannot invert are noted in it.
// False (sError says why) when the file cannot be converted at all.
bool WriteZqa(PackedFile& file, const CModuleView& module, std::FILE* pOut, std::string& sError);

// The member "key":text (null where no string starts at the table offset), followed by the member
// "keyBytes" with its exact bytes where the text is not UTF-8; sOut is written to pOut on the way
// when it grows large. False when no string starts there.
bool AppendJsonTableMember(std::string& sOut, const char* pszKey, const CPackedEffectReader& reader,
                           uint32_t nTableOffset, std::FILE* pOut);
// The same for a text held whole.
void AppendJsonMember(std::string& sOut, const char* pszKey, const std::string& sText);
void AppendJsonNumber(std::string& sOut, double d);
void AppendJsonNumber(std::string& sOut, uint64_t n);
void AppendJsonNumber(std::string& sOut, int64_t n);

// The string at a table offset in pieces, so that no string is held whole: consume takes a piece
// (bLast on the last) and answers how many bytes it used; the rest (fewer than four) comes again
// at the start of the next piece. False when no string starts there.
bool ForEachStringPiece(const CPackedEffectReader& reader, uint32_t nTableOffset,
                        const std::function<size_t(const char*, size_t, bool)>& consume);

// printf into a string, however long.
std::string Format(const char* pszFormat, ...)
#if defined(__MINGW32__)
    // MinGW's "printf" means the system runtime's formats; vsnprintf here is the C99 one.
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Output gathers in a string and goes out once it holds nAbove bytes or more (0: whatever it holds).
constexpr size_t kFlushSize = 1 << 16;
void FlushAbove(std::string& sOut, std::FILE* pOut, size_t nAbove = kFlushSize);

// Numbers as the loader reads them back: the shortest text that ZQAtoF turns into the same float.
std::string ShortFloat(float f);
bool ReadsBack(const std::string& sText, float f);
// The millisecond time a packer writes as these seconds, when there is one.
bool SecondsToMs(float fSeconds, int32_t& nMs);
// The 8-bit channel a packer writes as this float, when there is one.
bool FloatToChannel(float f, uint32_t& nChannel);
} // namespace fxdump
