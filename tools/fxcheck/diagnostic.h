// One finding of fxcheck about an effect source, and the table of every kind of finding with its
// stable code, severity and what the packer does about it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class Severity
{
    Note,
    Warning,
    Error,
};

// Every kind of finding. The codes are stable names: tools and people filter on them.
enum class DiagCode
{
    // Errors: the packer fails on the file, or packs it without something it holds.
    FileUnreadable,
    NoProject,
    ModuleLoadFailed,
    NestingTooDeep,
    BadVersion,
    NoEffectTree,
    ContainerNoName,
    MissingValue,
    UnknownType,
    UnknownPrefab,
    TrackTooLarge,
    SurplusParen,
    BothForms,
    LoadFailed,
    // Warnings: the packer accepts the file but changes or drops something.
    UnknownProperty,
    UnknownPropertyType,
    TypeMismatch,
    ValueClamped,
    ColorWrapped,
    IntWrapped,
    NotFinite,
    NotANumber,
    TrailingText,
    EnumInvalid,
    IgnoredList,
    ExtraElement,
    DuplicateList,
    ValueSkipped,
    ValueDropped,
    CurveTimeMoved,
    ValueNotPacked,
    PrefabTypeMismatch,
    TimeOrder,
    KeyOutsideEffect,
    KeyMoved,
    TextTruncated,
    DuplicateEffect,
    UnmatchedParen,
    UnclosedList,
    UnclosedString,
    TokenTruncated,
    CompressedTruncated,
    // Notes.
    UnusedPrefab,
    Count_
};

struct DiagKindInfo
{
    DiagCode eCode;
    const char* pszCode; // the stable name, e.g. "unknown-property"
    Severity eSeverity;
    const char* pszMeaning; // what it means, one sentence
    const char* pszPacker;  // what the packer does
};

// The table, in DiagCode order.
const std::vector<DiagKindInfo>& DiagKinds();
const DiagKindInfo& DiagKind(DiagCode eCode);
const char* SeverityName(Severity eSeverity);

struct DiagnosticNote
{
    uint64_t nOffset = 0;
    uint32_t nLine = 0;
    uint32_t nColumn = 0;
    std::string sMessage;
};

struct Diagnostic;

// Findings of one code beyond nLimit in one file are counted, not kept (as compilers stop at an
// error limit): a file of a million faults is reported in bounded memory.
constexpr uint64_t kDefaultFindingLimit = 1000;

class CFindingBudget
{
public:
    explicit CFindingBudget(uint64_t nLimit = kDefaultFindingLimit) : m_nLimit(nLimit) {}

    // Starts a file: nothing kept or counted yet.
    void StartFile();
    // Whether one more finding of eCode is kept; counted as omitted when not.
    bool Take(DiagCode eCode);
    // Findings of eCode counted, not kept, in the current file.
    uint64_t Omitted(DiagCode eCode) const { return m_anOmitted[static_cast<size_t>(eCode)]; }
    uint64_t Limit() const { return m_nLimit; }

private:
    uint64_t m_nLimit; // 0: no limit
    uint64_t m_anKept[static_cast<size_t>(DiagCode::Count_)] = {};
    uint64_t m_anOmitted[static_cast<size_t>(DiagCode::Count_)] = {};
};

// "fxcheck: 1,749,998 more [trailing-text] findings in big.Fx00a" for what a budget counted
// but did not keep; sFile as it may reach a terminal (already escaped).
std::string OmittedLine(const std::string& sFile, DiagCode eCode, uint64_t nCount);

struct Diagnostic
{
    std::string sFile;    // the path as the user named it
    uint64_t nOffset = 0; // in the text as read (decompressed for a compressed file)
    uint64_t nLength = 1; // bytes of the offending token, for the underline
    uint32_t nLine = 0;   // 1-based; 0 when the text was never read
    uint32_t nColumn = 0;
    DiagCode eCode = DiagCode::LoadFailed;
    std::string sMessage;
    std::vector<DiagnosticNote> notes;

    Severity GetSeverity() const { return DiagKind(eCode).eSeverity; }
    const char* GetCode() const { return DiagKind(eCode).pszCode; }
};
