#include "diagnostic.h"

#include <cstdio>

const std::vector<DiagKindInfo>& DiagKinds()
{
    static const std::vector<DiagKindInfo> s_kinds = {
        {DiagCode::FileUnreadable, "file-unreadable", Severity::Error,
         "the file cannot be read: missing, not named .Fx00a or .Fx00c, or compressed with a header that "
         "is not four zero bytes",
         "fails"},
        {DiagCode::NoProject, "no-project", Severity::Error,
         "no project locator file (.proj00) in the file's folder or any folder above it", "fails"},
        {DiagCode::ModuleLoadFailed, "module-load-failed", Severity::Error,
         "the effect module named by the locator (or --module) cannot be loaded", "fails"},
        {DiagCode::NestingTooDeep, "nesting-too-deep", Severity::Error,
         "more than 1023 lists are open at once", "fails to read the file"},
        {DiagCode::BadVersion, "bad-version", Severity::Error,
         "no 'header' list, no 'version' in it, or a version other than 1", "fails"},
        {DiagCode::NoEffectTree, "no-effect-tree", Severity::Error, "the file has no 'effect-tree' list",
         "fails"},
        {DiagCode::ContainerNoName, "container-no-name", Severity::Error, "a container has no 'name'",
         "fails"},
        {DiagCode::MissingValue, "missing-value", Severity::Error,
         "a prefab, effect, key or property lacks a value it needs (name, type, length, id, track, "
         "start-time, end-time)",
         "fails"},
        {DiagCode::UnknownType, "unknown-type", Severity::Error,
         "a key or prefab names an effect type the module does not describe", "fails"},
        {DiagCode::UnknownPrefab, "unknown-prefab", Severity::Error,
         "a key's 'parent' names no prefab of the file", "fails"},
        {DiagCode::TrackTooLarge, "track-too-large", Severity::Error,
         "a key's track number is 65536 or more (a negative number wraps to a huge one)", "fails"},
        {DiagCode::SurplusParen, "surplus-paren", Severity::Error,
         "a ')' closes a list early, leaving effects, keys or values that belong in it outside, where "
         "they are ignored",
         "packs the file without them"},
        {DiagCode::BothForms, "both-forms", Severity::Error, "the source exists as both .Fx00a and .Fx00c",
         "would pack both to the same .Fx00p; zqpack packs neither"},
        {DiagCode::LoadFailed, "load-failed", Severity::Error,
         "the packer's loader fails for a reason not found at a single place", "fails"},
        {DiagCode::UnknownProperty, "unknown-property", Severity::Warning,
         "a property name the key's or prefab's effect type does not have", "skips the property"},
        {DiagCode::UnknownPropertyType, "unknown-property-type", Severity::Warning,
         "a property type name that is none of the nine value types", "skips the property"},
        {DiagCode::TypeMismatch, "type-mismatch", Severity::Warning,
         "the declared type differs from the module's type of the property",
         "reads the value as declared and packs its bytes as the module's type"},
        {DiagCode::ValueClamped, "value-clamped", Severity::Warning, "a number outside the property's range",
         "packs the nearest bound"},
        {DiagCode::ColorWrapped, "color-wrapped", Severity::Warning, "a colour channel outside 0 to 255",
         "packs its low 8 bits"},
        {DiagCode::IntWrapped, "int-wrapped", Severity::Warning, "an integer that does not fit 32 bits",
         "packs it modulo 2^32"},
        {DiagCode::NotFinite, "not-finite", Severity::Warning,
         "a number that is infinite or not a number as a 32-bit float", "packs inf or nan"},
        {DiagCode::NotANumber, "not-a-number", Severity::Warning,
         "a number is expected but the text has none", "packs 0"},
        {DiagCode::TrailingText, "trailing-text", Severity::Warning, "text after a number",
         "ignores the text"},
        {DiagCode::EnumInvalid, "enum-invalid", Severity::Warning,
         "an enum value that is not among the property's choices", "packs the default value"},
        {DiagCode::IgnoredList, "ignored-list", Severity::Warning,
         "a list or value the loader does not look for where it stands (misspelt list name, a list "
         "swallowed by a missing ')', a list put after the list it belongs in)",
         "ignores it"},
        {DiagCode::ExtraElement, "extra-element", Severity::Warning,
         "more elements in a value or 'data' list than the loader reads", "ignores them"},
        {DiagCode::DuplicateList, "duplicate-list", Severity::Warning,
         "a second list of a name where only the first counts", "ignores the second"},
        {DiagCode::ValueSkipped, "value-skipped", Severity::Warning,
         "a 'value' without 'time' or 'data', or whose 'data' lacks elements the type needs",
         "skips the value"},
        {DiagCode::ValueDropped, "value-dropped", Severity::Warning,
         "a further value of a property that is not a function curve", "keeps only the earliest value"},
        {DiagCode::CurveTimeMoved, "curve-time-moved", Severity::Warning,
         "a function curve whose first value is not at time 0, or whose last is not at time 1 where the "
         "module wants an end value",
         "moves the first value to time 0 and the last to time 1"},
        {DiagCode::ValueNotPacked, "value-not-packed", Severity::Warning,
         "values for a property that the module describes as carrying none", "packs nothing for them"},
        {DiagCode::PrefabTypeMismatch, "prefab-type-mismatch", Severity::Warning,
         "a key's parent prefab is of another effect type", "does not inherit from the prefab"},
        {DiagCode::TimeOrder, "time-order", Severity::Warning, "a key's start time is after its end time",
         "packs it as written"},
        {DiagCode::KeyOutsideEffect, "key-outside-effect", Severity::Warning,
         "a key starts before 0 or ends after the effect's length", "packs it as written"},
        {DiagCode::KeyMoved, "key-moved", Severity::Warning, "a key overlaps its neighbours on its track",
         "moves its start or end to fit"},
        {DiagCode::TextTruncated, "text-truncated", Severity::Warning,
         "an effect name over 127 bytes or a string value over 255 bytes", "cuts it"},
        {DiagCode::DuplicateEffect, "duplicate-effect", Severity::Warning,
         "two effects of the same name in one file", "packs both"},
        {DiagCode::UnmatchedParen, "unmatched-paren", Severity::Warning, "a ')' without a matching '('",
         "ignores it"},
        {DiagCode::UnclosedList, "unclosed-list", Severity::Warning,
         "a list still open at the end of the file", "closes it there"},
        {DiagCode::UnclosedString, "unclosed-string", Severity::Warning,
         "a quoted string still open at the end of the file", "ends it there"},
        {DiagCode::TokenTruncated, "token-truncated", Severity::Warning, "a word or string over 1023 bytes",
         "keeps its first 1023 bytes"},
        {DiagCode::CompressedTruncated, "compressed-truncated", Severity::Warning,
         "a compressed file's data ends inside a word or string", "takes the end of the data as the end"},
        {DiagCode::UnusedPrefab, "unused-prefab", Severity::Note, "a prefab no key inherits from",
         "packs it all the same"},
    };
    return s_kinds;
}

const DiagKindInfo& DiagKind(DiagCode eCode)
{
    return DiagKinds()[static_cast<size_t>(eCode)];
}

const char* SeverityName(Severity eSeverity)
{
    switch (eSeverity)
    {
    case Severity::Error:
        return "error";
    case Severity::Warning:
        return "warning";
    default:
        return "note";
    }
}

void CFindingBudget::StartFile()
{
    for (size_t i = 0; i < static_cast<size_t>(DiagCode::Count_); ++i)
        m_anKept[i] = m_anOmitted[i] = 0;
}

bool CFindingBudget::Take(DiagCode eCode)
{
    const size_t nCode = static_cast<size_t>(eCode);
    if (m_nLimit != 0 && m_anKept[nCode] >= m_nLimit)
    {
        ++m_anOmitted[nCode];
        return false;
    }
    ++m_anKept[nCode];
    return true;
}

std::string OmittedLine(const std::string& sFile, DiagCode eCode, uint64_t nCount)
{
    std::string sCount = std::to_string(nCount);
    for (size_t nAt = sCount.size(); nAt > 3; nAt -= 3)
        sCount.insert(nAt - 3, ",");
    return "fxcheck: " + sCount + " more [" + DiagKind(eCode).pszCode + "] finding" +
           (nCount == 1 ? "" : "s") + " in " + sFile;
}
