#include "zqpack.h"

#include "jsontext.h"
#include "zqprocess.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace zqpack
{
namespace
{
using Json = nlohmann::ordered_json;

// Progress lines are kept short enough not to wrap on a common terminal.
constexpr size_t PROGRESS_MAX_NAME = 60;

const char* ResultName(Result eResult)
{
    switch (eResult)
    {
    case Result::PACKED:
        return "packed";
    case Result::UNCLAIMED:
        return "unclaimed";
    case Result::UP_TO_DATE:
        return "up-to-date";
    case Result::SKIPPED:
        return "skipped";
    case Result::UNFINISHED:
        return "unfinished";
    case Result::FAILED:
        break;
    }
    return "failed";
}

const char* EventKindName(Event::Kind eKind)
{
    switch (eKind)
    {
    case Event::TASK:
        return "task";
    case Event::SUB_TASK:
        return "subtask";
    case Event::MESSAGE:
        break;
    }
    return "message";
}

// Texts cross from a worker byte for byte: every byte of 0x80 or more travels as the code point of
// the same value, so that any byte string is valid UTF-8 on the way.
std::string EncodeBytes(const std::string& sText)
{
    std::string sOut;
    sOut.reserve(sText.size());
    for (const char c : sText)
    {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80)
        {
            sOut += c;
            continue;
        }
        sOut += static_cast<char>(0xC0 | (b >> 6));
        sOut += static_cast<char>(0x80 | (b & 0x3F));
    }
    return sOut;
}

std::string DecodeBytes(const std::string& sText)
{
    std::string sOut;
    sOut.reserve(sText.size());
    for (size_t i = 0; i < sText.size(); ++i)
    {
        const unsigned char b = static_cast<unsigned char>(sText[i]);
        if ((b == 0xC2 || b == 0xC3) && i + 1 < sText.size())
        {
            const unsigned char next = static_cast<unsigned char>(sText[i + 1]);
            sOut += static_cast<char>(((b & 0x03) << 6) | (next & 0x3F));
            ++i;
            continue;
        }
        sOut += static_cast<char>(b);
    }
    return sOut;
}

Json OptionalText(const std::optional<std::string>& sText, bool bInternal)
{
    if (!sText)
        return nullptr;
    return bInternal ? EncodeBytes(*sText) : *sText;
}

bool ReadText(const Json& value, std::string* pText)
{
    if (!value.is_string())
        return false;
    const std::string& sText = value.get_ref<const std::string&>();
    // Most texts are plain ASCII: nothing to decode.
    if (std::all_of(sText.begin(), sText.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        *pText = sText;
    else
        *pText = DecodeBytes(sText);
    return true;
}

// The member named pszKey of an object, or null: one look-up where contains() and [] take two.
const Json* Member(const Json& object, const char* pszKey)
{
    const auto it = object.find(pszKey);
    return it == object.end() ? nullptr : &*it;
}

bool ReadOptionalText(const Json& value, std::optional<std::string>* pText)
{
    if (value.is_null())
    {
        pText->reset();
        return true;
    }
    std::string sText;
    if (!ReadText(value, &sText))
        return false;
    *pText = std::move(sText);
    return true;
}

// The module the pack loaded, as the packer reported it; null when none.
const Input* ModuleOf(const FileOutcome& outcome)
{
    for (const Input& input : outcome.inputs)
        if (input.nKind == PACKER_INPUT_LIBRARY)
            return &input;
    return nullptr;
}

// The lines of a message text ("\r\n" or "\n" between them), each shown with the same prefix.
std::vector<std::string> SplitLines(const std::string& sText)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < sText.size(); ++i)
    {
        if (sText[i] == '\r' && i + 1 < sText.size() && sText[i + 1] == '\n')
            continue;
        if (sText[i] == '\n')
            lines.emplace_back();
        else
            lines.back() += sText[i];
    }
    return lines;
}

// Replays what a worker wrote on a standard stream. On Windows the worker's text-mode stream has
// already turned each "\n" into "\r\n" and ours would do it again: pass the lines back as "\n".
void WriteRaw(std::FILE* pStream, const std::string& sBytes)
{
#if defined(_WIN32)
    std::string sLines;
    sLines.reserve(sBytes.size());
    for (size_t i = 0; i < sBytes.size(); ++i)
    {
        if (!(sBytes[i] == '\r' && i + 1 < sBytes.size() && sBytes[i + 1] == '\n'))
            sLines += sBytes[i];
    }
#else
    const std::string& sLines = sBytes;
#endif
    if (!sLines.empty())
        std::fwrite(sLines.data(), 1, sLines.size(), pStream);
}
} // namespace

std::string UnusedInputText(const UnusedInput& unused)
{
    std::string sText = unused.nKind == PACKER_INPUT_CONFIG    ? "settings file '"
                        : unused.nKind == PACKER_INPUT_LIBRARY ? "module '"
                                                               : "file '";
    sText += unused.sPath + "'";
    if (!unused.sNamedBy.empty())
        sText += " named by '" + unused.sNamedBy + "'";
    if (!unused.sResolved.empty())
        sText += " (file '" + unused.sResolved + "')";
    if (unused.nWhy == PACKER_UNUSED_UNTRUSTED)
    {
        const std::string& sFile = unused.sResolved.empty() ? unused.sPath : unused.sResolved;
        const size_t nCut = sFile.find_last_of("\\/");
        const std::string sFolder = nCut == std::string::npos ? "." : sFile.substr(0, nCut ? nCut : 1);
        return sText + " is not used: " + unused.sReason + "; to use it, trust its folder: --trust " +
               sFolder + " or " + PACKER_TRUSTED_DIRS_VARIABLE + "=" + sFolder;
    }
    return sText + " cannot be loaded: " + (unused.sReason.empty() ? "no reason given" : unused.sReason);
}

void PrintError(const std::string& sMessage)
{
    std::fflush(stdout);
    std::fprintf(stderr, "zqpack: %s\n", sMessage.c_str());
}

namespace
{
// A digest a worker took, when the line has one: without it the digest is not taken.
bool ReadDigest(const Json& object, const char* pszKey, FileDigest* pDigest)
{
    *pDigest = FileDigest();
    const Json* pValue = Member(object, pszKey);
    if (!pValue)
        return true;
    return pValue->is_string() && ParseDigestText(pValue->get_ref<const std::string&>(), pDigest);
}
} // namespace

std::string OutcomeToJson(const FileOutcome& outcome, bool bInternal)
{
    Json line;
    line["source"] = bInternal ? EncodeBytes(outcome.sSource) : outcome.sSource;
    line["destination"] = OptionalText(outcome.sDestination, bInternal);
    line["result"] = ResultName(outcome.eResult);
    line["packer"] = OptionalText(outcome.sPacker, bInternal);
    Json messages = Json::array();
    for (const Event& event : outcome.events)
    {
        if (bInternal)
        {
            messages.push_back({{"kind", EventKindName(event.eKind)},
                                {"level", event.nLevel},
                                {"text", EncodeBytes(event.sText)}});
        }
        else if (event.eKind == Event::MESSAGE)
        {
            messages.push_back({{"level", event.nLevel}, {"text", event.sText}});
        }
    }
    line[bInternal ? "events" : "messages"] = std::move(messages);
    if (bInternal)
    {
        Json inputs = Json::array();
        for (const Input& input : outcome.inputs)
            inputs.push_back({{"kind", input.nKind},
                              {"path", EncodeBytes(input.sPath)},
                              {"digest", DigestText(input.digest)}});
        line["inputs"] = std::move(inputs);
        Json unused = Json::array();
        for (const UnusedInput& entry : outcome.unused)
            unused.push_back({{"why", entry.nWhy},
                              {"kind", entry.nKind},
                              {"path", EncodeBytes(entry.sPath)},
                              {"by", EncodeBytes(entry.sNamedBy)},
                              {"resolved", EncodeBytes(entry.sResolved)},
                              {"reason", EncodeBytes(entry.sReason)}});
        line["unused"] = std::move(unused);
        line["plugin_digest"] = DigestText(outcome.pluginDigest);
        line["output_digest"] = DigestText(outcome.outputDigest);
    }
    else if (const Input* pModule = ModuleOf(outcome))
    {
        line["module"] = pModule->sPath;
    }
    // The public form says why a needed file was not used where the system gave no other reason.
    std::string sPublicReason = outcome.sReason;
    for (size_t i = 0; !bInternal && sPublicReason.empty() && i < outcome.unused.size(); ++i)
        sPublicReason = UnusedInputText(outcome.unused[i]);
    if (bInternal || !sPublicReason.empty())
        line["reason"] = bInternal ? EncodeBytes(outcome.sReason) : sPublicReason;
    if (bInternal)
    {
        line["out"] = {outcome.anOutRange[0], outcome.anOutRange[1]};
        line["err"] = {outcome.anErrRange[0], outcome.anErrRange[1]};
    }
    if (!bInternal)
        AddJsonBytes(line);
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool OutcomeFromJson(const std::string& sLine, FileOutcome* pOutcome)
{
    const Json line = Json::parse(sLine, nullptr, false);
    if (line.is_discarded() || !line.is_object())
        return false;
    const Json* pSource = Member(line, "source");
    const Json* pDestination = Member(line, "destination");
    const Json* pResult = Member(line, "result");
    const Json* pPacker = Member(line, "packer");
    const Json* pEvents = Member(line, "events");
    const Json* pInputs = Member(line, "inputs");
    const Json* pReason = Member(line, "reason");
    const Json* pOut = Member(line, "out");
    const Json* pErr = Member(line, "err");
    if (!pSource || !pDestination || !pResult || !pPacker || !pEvents || !pInputs || !pReason || !pOut ||
        !pErr)
        return false;
    FileOutcome outcome;
    if (!ReadText(*pSource, &outcome.sSource) || !ReadOptionalText(*pDestination, &outcome.sDestination) ||
        !ReadOptionalText(*pPacker, &outcome.sPacker) || !pResult->is_string() || !pEvents->is_array() ||
        !pInputs->is_array() || !ReadText(*pReason, &outcome.sReason))
        return false;

    const std::string& sResult = pResult->get_ref<const std::string&>();
    if (sResult == "packed")
        outcome.eResult = Result::PACKED;
    else if (sResult == "unclaimed")
        outcome.eResult = Result::UNCLAIMED;
    else if (sResult == "failed")
        outcome.eResult = Result::FAILED;
    else
        return false;

    outcome.events.reserve(pEvents->size());
    for (const Json& entry : *pEvents)
    {
        if (!entry.is_object())
            return false;
        const Json* pKind = Member(entry, "kind");
        const Json* pLevel = Member(entry, "level");
        const Json* pText = Member(entry, "text");
        if (!pKind || !pLevel || !pText || !pKind->is_string() || !pLevel->is_number_integer())
            return false;
        Event event;
        const std::string& sKind = pKind->get_ref<const std::string&>();
        if (sKind == "task")
            event.eKind = Event::TASK;
        else if (sKind == "subtask")
            event.eKind = Event::SUB_TASK;
        else if (sKind == "message")
            event.eKind = Event::MESSAGE;
        else
            return false;
        // Read as the widest integer and range-checked: a narrowing read would accept 2^32 + 2.
        const Json& level = *pLevel;
        if (level.is_number_unsigned()
                ? level.get<uint64_t>() > 0x7FFFFFFFull
                : (level.get<int64_t>() < INT32_MIN || level.get<int64_t>() > INT32_MAX))
            return false;
        event.nLevel = static_cast<int32_t>(level.get<int64_t>());
        if (!ReadText(*pText, &event.sText))
            return false;
        outcome.events.push_back(std::move(event));
    }
    // Byte ranges: two unsigned numbers, the first not after the second.
    auto readRange = [](const Json& range, uint64_t* anRange)
    {
        if (!range.is_array() || range.size() != 2 || !range[0].is_number_unsigned() ||
            !range[1].is_number_unsigned())
            return false;
        anRange[0] = range[0].get<uint64_t>();
        anRange[1] = range[1].get<uint64_t>();
        return anRange[0] <= anRange[1];
    };
    if (!readRange(*pOut, outcome.anOutRange) || !readRange(*pErr, outcome.anErrRange))
        return false;
    // A 32-bit unsigned member.
    auto readU32 = [](const Json* pValue, uint32_t* pnValue)
    {
        if (!pValue || !pValue->is_number_unsigned() || pValue->get<uint64_t>() > 0xFFFFFFFFull)
            return false;
        *pnValue = static_cast<uint32_t>(pValue->get<uint64_t>());
        return true;
    };
    outcome.inputs.reserve(pInputs->size());
    for (const Json& entry : *pInputs)
    {
        Input input;
        const Json* pPath = entry.is_object() ? Member(entry, "path") : nullptr;
        if (!pPath || !readU32(Member(entry, "kind"), &input.nKind) || !ReadText(*pPath, &input.sPath) ||
            !ReadDigest(entry, "digest", &input.digest))
            return false;
        outcome.inputs.push_back(std::move(input));
    }
    if (const Json* pUnused = Member(line, "unused"))
    {
        if (!pUnused->is_array())
            return false;
        for (const Json& entry : *pUnused)
        {
            UnusedInput unused;
            if (!entry.is_object())
                return false;
            const Json* pPath = Member(entry, "path");
            const Json* pBy = Member(entry, "by");
            const Json* pResolved = Member(entry, "resolved");
            const Json* pWhy = Member(entry, "reason");
            if (!readU32(Member(entry, "why"), &unused.nWhy) ||
                !readU32(Member(entry, "kind"), &unused.nKind) || !pPath ||
                !ReadText(*pPath, &unused.sPath) || !pBy || !ReadText(*pBy, &unused.sNamedBy) || !pResolved ||
                !ReadText(*pResolved, &unused.sResolved) || !pWhy || !ReadText(*pWhy, &unused.sReason))
                return false;
            outcome.unused.push_back(std::move(unused));
        }
    }
    if (!ReadDigest(line, "plugin_digest", &outcome.pluginDigest) ||
        !ReadDigest(line, "output_digest", &outcome.outputDigest))
        return false;
    *pOutcome = std::move(outcome);
    return true;
}

CReporter::CReporter(const Options& options, size_t nToPack)
    : m_options(options),
      m_bProgress(options.eVerbosity == Verbosity::Normal && !options.bJson && PlatformIsTerminal(stderr)),
      m_nToPack(nToPack)
{
}

CReporter::~CReporter()
{
    ClearProgress();
}

void CReporter::ClearProgress()
{
    if (m_nProgressWidth == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_nProgressWidth), "");
    std::fflush(stderr);
    m_nProgressWidth = 0;
}

void CReporter::Starting(const std::string& sFile)
{
    ++m_nStarted;
    if (!m_bProgress)
        return;
    const int nDigits = static_cast<int>(std::to_string(m_nToPack).size());
    std::string sName = sFile;
    if (sName.size() > PROGRESS_MAX_NAME)
        sName = "..." + sName.substr(sName.size() - (PROGRESS_MAX_NAME - 3));
    char szCount[64];
    std::snprintf(szCount, sizeof(szCount), "[%*zu/%zu] ", nDigits, m_nStarted, m_nToPack);
    const std::string sLine = szCount + sName;
    ClearProgress();
    std::fprintf(stderr, "\r%s", sLine.c_str());
    std::fflush(stderr);
    m_nProgressWidth = sLine.size();
}

void CReporter::CountOutcome(const FileOutcome& outcome)
{
    switch (outcome.eResult)
    {
    case Result::PACKED:
        ++m_nPacked;
        break;
    case Result::UP_TO_DATE:
        ++m_nUpToDate;
        break;
    case Result::SKIPPED:
        ++m_nSkipped;
        break;
    case Result::UNFINISHED:
        ++m_nUnfinished;
        break;
    case Result::FAILED:
    case Result::UNCLAIMED:
        ++m_nFailed;
        break;
    }
}

void CReporter::Emit(const FileOutcome& outcome)
{
    CountOutcome(outcome);
    // build.ninja's scan packs ahead of the edges of its folder, which report the same outcomes.
    if (!m_options.sWatchFolder.empty())
        return;
    ClearProgress();
    std::fflush(stdout);
    WriteRaw(stdout, outcome.sWorkerStdout);
    std::fflush(stdout);
    WriteRaw(stderr, outcome.sWorkerStderr);

    const std::string sFile = Printable(outcome.sSource);
    if (m_options.bJson)
        std::printf("%s\n", OutcomeToJson(outcome, false).c_str());
    if (outcome.eResult == Result::UP_TO_DATE || outcome.eResult == Result::SKIPPED)
    {
        if (m_options.eVerbosity == Verbosity::Verbose && !m_options.bJson)
            std::printf("%s: %s\n", sFile.c_str(),
                        outcome.eResult == Result::SKIPPED ? "skipped: already named" : "up to date");
        std::fflush(stdout);
        return;
    }

    const bool bVerbose = m_options.eVerbosity == Verbosity::Verbose && !m_options.bJson;
    bool bErrorShown = false;
    const std::string* pTask = nullptr;
    for (const Event& event : outcome.events)
    {
        if (event.eKind == Event::MESSAGE && event.nLevel == PACKER_MSG_ERROR)
        {
            const std::vector<std::string> lines = SplitLines(event.sText);
            for (size_t i = 0; i < lines.size(); ++i)
            {
                // The system's reason, when the host knows it, follows the packer's own words.
                const bool bLast = i + 1 == lines.size();
                PrintError(
                    sFile + ": " + Printable(lines[i]) +
                    (bLast && !outcome.sReason.empty() ? " (" + Printable(outcome.sReason) + ")" : ""));
            }
            bErrorShown = true;
            continue;
        }
        if (!bVerbose)
            continue;
        if (event.eKind == Event::TASK)
        {
            std::printf("%s: task: %s\n", sFile.c_str(), Printable(event.sText).c_str());
            pTask = &event.sText;
        }
        else if (event.eKind == Event::SUB_TASK)
        {
            // A subtask that only repeats the task says nothing new.
            if (!pTask || *pTask != event.sText)
                std::printf("%s: subtask: %s\n", sFile.c_str(), Printable(event.sText).c_str());
        }
        else
        {
            for (const std::string& sLine : SplitLines(event.sText))
                std::printf("%s: %s\n", sFile.c_str(), Printable(sLine).c_str());
        }
    }
    if (outcome.eResult != Result::PACKED && !bErrorShown)
        PrintError(sFile + ": packing failed");
    // Which file was not used and why, once per run: every file of a project fails the same way.
    for (const UnusedInput& unused : outcome.unused)
    {
        const std::string sText = UnusedInputText(unused);
        if (std::find(m_shownUnused.begin(), m_shownUnused.end(), sText) != m_shownUnused.end())
            continue;
        m_shownUnused.push_back(sText);
        PrintError("note: " + Printable(sText));
    }
    if (m_options.bExplain)
    {
        for (const std::string& sLine : m_explainer.Explain(outcome))
            std::fprintf(stderr, "%s\n", sLine.c_str());
    }
    if (bVerbose)
    {
        if (const Input* pModule = ModuleOf(outcome))
            std::printf("%s: module: %s\n", sFile.c_str(), Printable(pModule->sPath).c_str());
    }
    if (bVerbose && outcome.eResult == Result::PACKED)
    {
        if (outcome.sDestination)
            std::printf("%s: packed into %s\n", sFile.c_str(), Printable(*outcome.sDestination).c_str());
        else
            std::printf("%s: packed\n", sFile.c_str());
    }
    std::fflush(stdout);
}

void CReporter::HostError(const std::string& sMessage)
{
    ClearProgress();
    PrintError(Printable(sMessage));
    m_bHostError = true;
}

void CReporter::Warning(const std::string& sMessage)
{
    ClearProgress();
    PrintError(Printable(sMessage));
}

void CReporter::Summary(double fSeconds)
{
    ClearProgress();
    if (m_options.eVerbosity == Verbosity::Quiet)
        return;
    std::fflush(stdout);
    std::string sUnfinished;
    if (m_nUnfinished)
        sUnfinished = ", " + std::to_string(m_nUnfinished) + " unfinished";
    std::fprintf(stderr, "zqpack: %zu packed, %zu up to date, %zu failed%s, %zu skipped in %.2f s\n",
                 m_nPacked, m_nUpToDate, m_nFailed, sUnfinished.c_str(), m_nSkipped, fSeconds);
}
} // namespace zqpack
