#include "zqpack.h"

#include "zqfiles.h"
#include "zqplatform.h"
#include "zqprocess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
constexpr const char* RECORD_HEADER = "zqpack-record 3";

// A manifest larger than this is not one zqpack wrote (a folder of a million packed files stays
// well below): it is not read.
constexpr unsigned long long MAX_MANIFEST_SIZE = 256ull << 20;

// A temporary record file untouched for this long belongs to a run that no longer writes it.
constexpr long long STALE_TEMPORARY_AGE_NS = 30LL * 1000000000LL;
constexpr const char* TEMPORARY_MARK = ".tmp";

// Depfile escaping as GCC writes it: spaces and '#' behind a backslash, '$' doubled.
std::string EscapeForMake(const std::string& sPath)
{
    std::string sOut;
    for (const char c : sPath)
    {
        if (c == ' ' || c == '#')
            sOut += '\\';
        else if (c == '$')
            sOut += '$';
        sOut += c;
    }
    return sOut;
}

// Writes sText to sPath through a new file of an unpredictable name beside it, renamed into place,
// so that a reader (another zqpack run) sees the old or the new content, never a part, and a link
// planted in the folder redirects nothing. An empty string or the reason.
std::string WriteAtomically(const std::string& sPath, const std::string& sText, const char* pszMark)
{
    const fs::path path(sPath);
    const std::string sFolder = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    const std::string sPrefix = path.filename().string() + pszMark + "-";
    char szTemp[4096];
    if (!PlatformWriteNewFile(sFolder.c_str(), sPrefix.c_str(), sText.data(), sText.size(), szTemp,
                              sizeof(szTemp)))
        return errno ? std::strerror(errno) : "cannot create a file there";
    if (!PlatformReplaceFile(szTemp, sPath.c_str()))
    {
        const std::string sError = std::strerror(errno);
        PlatformRemoveFile(szTemp);
        return sError;
    }
    return std::string();
}

// One input of a record with the digest it had.
struct RecordedInput
{
    Input input;
    FileDigest digest;
};

// The record: a header line, then "destination", "source", "plugin" and "output" lines, then one
// "input KIND SIZE DIGEST STAMP PATH" line per reported input. Paths are absolute.
std::string RecordText(const std::string& sDestination, const std::string& sSource, const FileDigest& plugin,
                       const std::string& sPlugin, const FileDigest& output,
                       const std::vector<RecordedInput>& inputs)
{
    std::string sText = std::string(RECORD_HEADER) + "\n";
    sText += "destination " + sDestination + "\n";
    sText += "source " + sSource + "\n";
    sText += "plugin " + DigestText(plugin) + " " + sPlugin + "\n";
    sText += "output " + DigestText(output) + "\n";
    for (const RecordedInput& recorded : inputs)
        sText += "input " + std::to_string(recorded.input.nKind) + " " + DigestText(recorded.digest) + " " +
                 recorded.input.sPath + "\n";
    return sText;
}

// Splits "WORD SIZE DIGEST STAMP[ REST]" into the digest and the rest (empty when absent).
bool SplitDigestLine(const std::string& sLine, const std::string& sWord, FileDigest* pDigest,
                     std::string* pRest)
{
    if (sLine.compare(0, sWord.size() + 1, sWord + " ") != 0)
        return false;
    size_t nAt = sWord.size() + 1;
    for (int nField = 0; nField < 3; ++nField)
    {
        nAt = sLine.find(' ', nAt);
        if (nAt == std::string::npos)
        {
            nAt = sLine.size();
            break;
        }
        ++nAt;
    }
    const size_t nDigestEnd = nAt == sLine.size() ? nAt : nAt - 1;
    pRest->assign(sLine, nAt, std::string::npos);
    return ParseDigestText(sLine.substr(sWord.size() + 1, nDigestEnd - sWord.size() - 1), pDigest) &&
           pDigest->bOk;
}
} // namespace

namespace
{
bool EndsWith(const std::string& sText, const std::string& sEnd)
{
    return sText.size() >= sEnd.size() && sText.compare(sText.size() - sEnd.size(), sEnd.size(), sEnd) == 0;
}
} // namespace

std::string AbsolutePath(const std::string& sPath)
{
    // zqpack never changes its current folder: ask for it once.
    static const fs::path s_current = []
    {
        char szFolder[4096];
        return PlatformGetCurrentDirectory(szFolder, sizeof(szFolder)) ? fs::path(szFolder) : fs::path();
    }();
    // Most paths are absolute and normal already (a folder's entries): they are answered as they are.
    if (fs::path::preferred_separator == '/' && !sPath.empty() && sPath.front() == '/' &&
        sPath.back() != '/' && sPath.find("//") == std::string::npos &&
        sPath.find("/./") == std::string::npos && sPath.find("/../") == std::string::npos &&
        !EndsWith(sPath, "/.") && !EndsWith(sPath, "/.."))
        return sPath;
    const fs::path path(sPath);
    return (path.is_absolute() || s_current.empty() ? path : s_current / path).lexically_normal().string();
}

FileDigest CRecordStore::CurrentMatches(const std::string& sPattern)
{
    auto it = m_matches.find(sPattern);
    if (it == m_matches.end())
        it = m_matches.emplace(sPattern, DigestMatches(sPattern)).first;
    return it->second;
}

std::string CRecordStore::DefaultFolder()
{
    if (const char* pszFolder = PlatformGetEnvironmentVariable("ZQPACK_CACHE_DIR"))
        return pszFolder;
    char szFolder[4096];
    if (!PlatformGetUserCacheFolder(szFolder, sizeof(szFolder)))
        return std::string();
    return (fs::path(szFolder) / "zqpack").string();
}

std::string CRecordStore::Open()
{
    if (m_sFolder.empty())
        return std::string();
    const std::string sRecords = (fs::path(m_sFolder) / "records").string();
    std::string sRefused;
    for (const std::string& sFolder : {m_sFolder, sRecords})
    {
        switch (PlatformEnsurePrivateFolder(sFolder.c_str()))
        {
        case FOLDER_PRIVATE:
            continue;
        case FOLDER_NOT_CREATED:
            sRefused = sFolder + " cannot be created";
            break;
        case FOLDER_NOT_A_FOLDER:
            sRefused = sFolder + " is not a folder";
            break;
        case FOLDER_FOREIGN_OWNER:
            sRefused = sFolder + " belongs to another user";
            break;
        case FOLDER_WRITABLE_BY_OTHERS:
            sRefused = "others may write in " + sFolder;
            break;
        }
        break;
    }
    if (!sRefused.empty())
    {
        m_sFolder.clear();
        return "warning: " + sRefused + "; packing without records of past packs (every file is packed)";
    }
    RemoveStaleTemporaries(sRecords);
    return std::string();
}

void CRecordStore::RemoveStaleTemporaries(const std::string& sRecords)
{
    std::vector<std::string> temporaries;
    PlatformListFolder(
        sRecords.c_str(),
        [](void* pContext, const char* pszName, PlatformEntryKind eKind)
        {
            if (eKind == ENTRY_FILE && std::strstr(pszName, TEMPORARY_MARK))
                static_cast<std::vector<std::string>*>(pContext)->push_back(pszName);
        },
        &temporaries);
    const long long nNow = PlatformNowNs();
    for (const std::string& sName : temporaries)
    {
        const std::string sPath = (fs::path(sRecords) / sName).string();
        PlatformFileStamp stamp;
        if (PlatformGetFileStamp(sPath.c_str(), &stamp) && nNow - stamp.nWriteTimeNs > STALE_TEMPORARY_AGE_NS)
            PlatformRemoveFile(sPath.c_str());
    }
}

std::string CRecordStore::ManifestPath(const std::string& sAbsoluteFolder) const
{
    const Digest128 name = DigestBytes(sAbsoluteFolder.data(), sAbsoluteFolder.size());
    return (fs::path(m_sFolder) / "records" / (DigestHex(name) + ".rec")).string();
}

// A manifest: the records of the packed files of one folder, each ending in an empty line.
std::map<std::string, std::string> CRecordStore::ReadManifest(const std::string& sAbsoluteFolder) const
{
    std::map<std::string, std::string> records;
    std::string sText;
    if (!ReadRegular(ManifestPath(sAbsoluteFolder), false, MAX_MANIFEST_SIZE, &sText))
        return records;
    const std::string sDestinationTag = std::string(RECORD_HEADER) + "\ndestination ";
    for (size_t nStart = 0, nEnd; (nEnd = sText.find("\n\n", nStart)) != std::string::npos; nStart = nEnd + 2)
    {
        const std::string sRecord = sText.substr(nStart, nEnd - nStart + 1);
        if (sRecord.compare(0, sDestinationTag.size(), sDestinationTag) != 0)
            continue;
        const size_t nLineEnd = sRecord.find('\n', sDestinationTag.size());
        records[sRecord.substr(sDestinationTag.size(), nLineEnd - sDestinationTag.size())] = sRecord;
    }
    return records;
}

const std::string* CRecordStore::FindRecord(const std::string& sAbsoluteDestination)
{
    const std::string sFolder = fs::path(sAbsoluteDestination).parent_path().string();
    auto it = m_manifests.find(sFolder);
    if (it == m_manifests.end())
        it = m_manifests.emplace(sFolder, ReadManifest(sFolder)).first;
    const auto record = it->second.find(sAbsoluteDestination);
    return record == it->second.end() ? nullptr : &record->second;
}

std::string CRecordStore::Flush()
{
    std::string sErrors;
    std::map<std::string, std::map<std::string, std::optional<std::string>>> byFolder;
    for (auto& change : m_changes)
        byFolder[fs::path(change.first).parent_path().string()].emplace(change.first,
                                                                        std::move(change.second));
    m_changes.clear();
    for (const auto& folder : byFolder)
    {
        // What is on disk now (another run may have written since), with this run's changes on top.
        std::map<std::string, std::string> records = ReadManifest(folder.first);
        for (const auto& change : folder.second)
        {
            if (change.second)
                records[change.first] = *change.second;
            else
                records.erase(change.first);
        }
        std::string sText;
        for (const auto& record : records)
            sText += record.second + "\n";
        const fs::path manifest = ManifestPath(folder.first);
        const std::string sError = WriteAtomically(manifest.string(), sText, TEMPORARY_MARK);
        if (!sError.empty() && sErrors.empty())
            sErrors =
                "warning: cannot keep the records of packed files in " + manifest.string() + ": " + sError;
        // Tests ask for a termination between two manifests: every record is still written, and
        // the run ends as interrupted.
        const char* pszTestStop = PlatformGetEnvironmentVariable("ZQTEST_TERMINATE_AT");
        if (pszTestStop && std::strcmp(pszTestStop, "records") == 0 && PlatformCaughtInterrupt() == 0)
            PlatformInterruptSelf(true);
    }
    return sErrors;
}

FileDigest CRecordStore::CurrentDigest(const std::string& sPath, const FileDigest& recorded, bool bShared)
{
    if (bShared)
    {
        const auto known = m_digests.find(sPath);
        if (known != m_digests.end())
            return known->second;
    }
    PlatformFileStamp stamp;
    const FileDigest current =
        recorded.bStamped && PlatformGetFileStamp(sPath.c_str(), &stamp) && SameStamp(stamp, recorded.stamp)
            ? recorded
            : DigestFile(sPath);
    if (bShared)
        m_digests.emplace(sPath, current);
    return current;
}

bool CRecordStore::IsUpToDate(const std::string& sSource, const std::string& sDestination,
                              const std::string& sPlugin, std::vector<Input>* pInputs)
{
    if (m_sFolder.empty())
        return false;
    const std::string sAbsolute = AbsolutePath(sDestination);
    const std::string* pRecord = FindRecord(sAbsolute);
    if (!pRecord)
        return false;
    std::istringstream lines(*pRecord);
    std::string sLine;
    if (!std::getline(lines, sLine) || sLine != RECORD_HEADER)
        return false;
    auto expect = [&](const std::string& sExpected)
    { return std::getline(lines, sLine) && sLine == sExpected; };
    const std::string sAbsoluteSource = AbsolutePath(sSource);
    if (sPlugin != m_sPlugin)
    {
        m_sPlugin = sPlugin;
        m_sAbsolutePlugin = AbsolutePath(sPlugin);
    }
    const std::string& sAbsolutePlugin = m_sAbsolutePlugin;
    if (!expect("destination " + sAbsolute) || !expect("source " + sAbsoluteSource))
        return false;
    // "plugin ..." and "output ...": a digest, then the plug-in's path.
    FileDigest recordedPlugin, recordedOutput;
    std::string sRest;
    if (!std::getline(lines, sLine) || !SplitDigestLine(sLine, "plugin", &recordedPlugin, &sRest) ||
        sRest != sAbsolutePlugin)
        return false;
    if (!std::getline(lines, sLine) || !SplitDigestLine(sLine, "output", &recordedOutput, &sRest) ||
        !sRest.empty())
        return false;
    // Whether a stamp became trustworthy since the record was written.
    bool bRefresh = false;
    auto settled = [&bRefresh](const FileDigest& current, const FileDigest& recorded)
    {
        if (current.bStamped && (!recorded.bStamped || !SameStamp(current.stamp, recorded.stamp)))
            bRefresh = true;
    };
    const FileDigest pluginDigest = CurrentDigest(sPlugin, recordedPlugin, true);
    if (!(pluginDigest == recordedPlugin))
        return false;
    settled(pluginDigest, recordedPlugin);
    const FileDigest outputDigest = CurrentDigest(sDestination, recordedOutput, false);
    if (!(outputDigest == recordedOutput))
        return false;
    settled(outputDigest, recordedOutput);
    std::vector<RecordedInput> inputs;
    while (std::getline(lines, sLine))
    {
        RecordedInput recorded;
        const size_t nKindEnd = sLine.find(' ', 6);
        if (sLine.compare(0, 6, "input ") != 0 || nKindEnd == std::string::npos || nKindEnd == 6 ||
            sLine.find_first_not_of("0123456789", 6) != nKindEnd || nKindEnd > 15)
            return false;
        recorded.input.nKind = static_cast<uint32_t>(std::strtoul(sLine.c_str() + 6, nullptr, 10));
        if (!SplitDigestLine("d" + sLine.substr(nKindEnd), "d", &recorded.digest, &recorded.input.sPath) ||
            recorded.input.sPath.empty())
            return false;
        FileDigest current;
        if (recorded.input.nKind == PACKER_INPUT_ABSENT || recorded.input.nKind == PACKER_INPUT_PATTERN)
            current = CurrentMatches(recorded.input.sPath);
        else
            // The source changes from pack to pack; settings files and libraries are shared by many.
            current = CurrentDigest(recorded.input.sPath, recorded.digest,
                                    recorded.input.nKind != PACKER_INPUT_SOURCE);
        if (!(current == recorded.digest))
            return false;
        settled(current, recorded.digest);
        recorded.digest = current;
        inputs.push_back(std::move(recorded));
    }
    // Stamps that became trustworthy since the record was written are kept, so the next run reads
    // nothing (as git refreshes its index).
    if (bRefresh)
        m_changes[sAbsolute] =
            RecordText(sAbsolute, sAbsoluteSource, pluginDigest, sAbsolutePlugin, outputDigest, inputs);
    if (pInputs)
    {
        pInputs->clear();
        for (RecordedInput& recorded : inputs)
            pInputs->push_back(std::move(recorded.input));
    }
    return true;
}

void CRecordStore::Record(const std::string& sSource, const std::string& sDestination,
                          const std::string& sPlugin, const FileOutcome& outcome)
{
    if (m_sFolder.empty())
        return;
    // Only what the packing process vouched for: every digest taken before it could change unseen.
    if (!outcome.pluginDigest.bOk || !outcome.outputDigest.bOk)
        return Forget(sDestination);
    const std::string sAbsoluteSource = AbsolutePath(sSource);
    std::vector<RecordedInput> recorded;
    for (const Input& input : outcome.inputs)
    {
        RecordedInput entry;
        entry.input.nKind = input.nKind;
        const bool bPattern = input.nKind == PACKER_INPUT_ABSENT || input.nKind == PACKER_INPUT_PATTERN;
        entry.input.sPath = bPattern ? input.sPath : AbsolutePath(input.sPath);
        entry.digest = input.digest;
        if (entry.input.sPath.find('\n') != std::string::npos || !entry.digest.bOk)
            return Forget(sDestination);
        recorded.push_back(std::move(entry));
    }
    const std::string sAbsolute = AbsolutePath(sDestination);
    const std::string sText = RecordText(sAbsolute, sAbsoluteSource, outcome.pluginDigest,
                                         AbsolutePath(sPlugin), outcome.outputDigest, recorded);
    // A record that says the same already is left alone (a forced pack of an unchanged file).
    const std::string* pOld = FindRecord(sAbsolute);
    if (pOld && *pOld == sText)
        m_changes.erase(sAbsolute);
    else
        m_changes[sAbsolute] = sText;
}

void CRecordStore::Forget(const std::string& sDestination)
{
    if (m_sFolder.empty())
        return;
    const std::string sAbsolute = AbsolutePath(sDestination);
    if (FindRecord(sAbsolute))
        m_changes[sAbsolute] = std::nullopt;
    else
        m_changes.erase(sAbsolute);
}

bool ReadRegular(const std::string& sPath, bool bFollowLinks, unsigned long long nLimit, std::string* pText)
{
    unsigned long long nSize = 0;
    PlatformOpenFailure eFailure;
    std::FILE* pFile = PlatformOpenRegularFile(sPath.c_str(), bFollowLinks, &nSize, &eFailure);
    if (!pFile)
        return false;
    pText->clear();
    bool bOk = nSize <= nLimit;
    // Read straight into the text at the size the file has now; a file that grows meanwhile is read
    // on in steps.
    size_t nHave = 0;
    if (bOk)
        pText->resize(static_cast<size_t>(nSize) + 1);
    size_t nRead;
    while (bOk && (nRead = std::fread(&(*pText)[nHave], 1, pText->size() - nHave, pFile)) > 0)
    {
        nHave += nRead;
        bOk = nHave <= nLimit;
        if (bOk && nHave == pText->size())
            pText->resize(nHave + 16384);
    }
    pText->resize(nHave);
    bOk = bOk && !std::ferror(pFile);
    std::fclose(pFile);
    return bOk;
}

std::string WriteFileAtomically(const std::string& sPath, const std::string& sText)
{
    return WriteAtomically(sPath, sText, ".tmp");
}

std::string DepfileText(const std::string& sDestination, const std::vector<Input>& inputs)
{
    // The source first, then the files it was packed with, in the order reported.
    std::string sText = EscapeForMake(sDestination) + ":";
    for (const bool bSource : {true, false})
        for (const Input& input : inputs)
            if ((input.nKind == PACKER_INPUT_SOURCE) == bSource && input.nKind != PACKER_INPUT_ABSENT &&
                input.nKind != PACKER_INPUT_PATTERN)
                sText += " \\\n  " + EscapeForMake(input.sPath);
    return sText + "\n";
}

std::string WriteDepfile(const std::string& sDestination, const std::vector<Input>& inputs,
                         const std::string& sNamed)
{
    const std::string sPath = sNamed.empty() ? sDestination + ".d" : sNamed;
    for (const Input& input : inputs)
        if (input.sPath.find('\n') != std::string::npos || sDestination.find('\n') != std::string::npos)
            return "cannot write " + sPath + ": a path holds a newline, which Make syntax cannot express (" +
                   (sDestination.find('\n') != std::string::npos ? sDestination : input.sPath) + ")";
    const std::string sText = DepfileText(sDestination, inputs);
    std::string sOld;
    if (ReadRegular(sPath, true, MAX_MANIFEST_SIZE, &sOld) && sOld == sText)
        return std::string();
    const fs::path folder = fs::path(sPath).parent_path();
    if (!sNamed.empty() && !folder.empty() &&
        PlatformEnsurePrivateFolder(folder.string().c_str()) == FOLDER_NOT_CREATED)
        return "cannot create the folder of " + sPath + ": " + std::strerror(errno);
    const std::string sError = WriteAtomically(sPath, sText, ".tmp-");
    return sError.empty() ? sError : "cannot write " + sPath + ": " + sError;
}
} // namespace zqpack
