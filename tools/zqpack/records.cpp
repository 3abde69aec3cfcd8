#include "zqpack.h"

#include "zqprocess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace zqpack
{
namespace
{
constexpr const char* RECORD_HEADER = "zqpack-record 2";

// A file written this close to when its stamp was taken may be written again within the same time
// tick of its file system (two seconds on FAT) without its stamp changing: its stamp is not trusted.
constexpr long long RACY_WINDOW_NS = 2000000000LL;

uint64_t Mix(uint64_t n)
{
    n ^= n >> 32;
    n *= 0xD6E8FEB86659FD93ull;
    n ^= n >> 32;
    n *= 0xD6E8FEB86659FD93ull;
    n ^= n >> 32;
    return n;
}

std::string Hex(uint64_t n)
{
    char szText[17];
    std::snprintf(szText, sizeof(szText), "%016llx", static_cast<unsigned long long>(n));
    return szText;
}

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

bool ReadWhole(const std::string& sPath, std::string* pText)
{
    std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile)
        return false;
    pText->clear();
    char aBuffer[16384];
    size_t nRead;
    while ((nRead = std::fread(aBuffer, 1, sizeof(aBuffer), pFile)) > 0)
        pText->append(aBuffer, nRead);
    const bool bOk = !std::ferror(pFile);
    std::fclose(pFile);
    return bOk;
}

// Writes sText to sPath through a temporary file renamed into place, so that a reader (another
// zqpack run) sees the old or the new content, never a part. An empty string or the reason.
std::string WriteAtomically(const std::string& sPath, const std::string& sText)
{
    const std::string sTemp = sPath + ".tmp" + std::to_string(PlatformGetProcessId());
    std::FILE* pFile = std::fopen(sTemp.c_str(), "wb");
    if (!pFile)
        return std::strerror(errno);
    const bool bWritten = std::fwrite(sText.data(), 1, sText.size(), pFile) == sText.size();
    const int nWriteError = errno;
    if (std::fclose(pFile) != 0 || !bWritten)
    {
        const int nError = bWritten ? errno : nWriteError;
        std::remove(sTemp.c_str());
        return std::strerror(nError);
    }
    std::error_code ec;
    fs::rename(sTemp, sPath, ec);
    if (ec)
    {
        std::remove(sTemp.c_str());
        return ec.message();
    }
    return std::string();
}

// '*' and '?' matching of lower-case texts.
bool Matches(const char* pszPattern, const char* pszName)
{
    if (*pszPattern == '\0')
        return *pszName == '\0';
    if (*pszPattern == '*')
        return Matches(pszPattern + 1, pszName) || (*pszName && Matches(pszPattern, pszName + 1));
    return *pszName && (*pszPattern == '?' || *pszPattern == *pszName) &&
           Matches(pszPattern + 1, pszName + 1);
}

std::string Lower(std::string sText)
{
    for (char& c : sText)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return sText;
}

// "SIZE DIGEST STAMP", the stamp as "WRITETIME:DEVICE:FILEID" or "-" when it is not trusted.
std::string DigestText(const FileDigest& digest)
{
    std::string sText = std::to_string(digest.nSize) + " " + Hex(digest.nDigest) + " ";
    if (!digest.bStamped)
        return sText + "-";
    return sText + std::to_string(digest.stamp.nWriteTimeNs) + ":" + std::to_string(digest.stamp.nDevice) +
           ":" + std::to_string(digest.stamp.nFileId);
}

// Reads "SIZE DIGEST STAMP" back.
bool ParseDigest(std::istream& fields, FileDigest* pDigest)
{
    std::string sDigest, sStamp;
    if (!(fields >> pDigest->nSize >> sDigest >> sStamp))
        return false;
    pDigest->bOk = true;
    pDigest->nDigest = std::strtoull(sDigest.c_str(), nullptr, 16);
    if (sStamp == "-")
        return true;
    char* pEnd = nullptr;
    const long long nWriteTime = std::strtoll(sStamp.c_str(), &pEnd, 10);
    if (*pEnd != ':')
        return false;
    const unsigned long long nDevice = std::strtoull(pEnd + 1, &pEnd, 10);
    if (*pEnd != ':')
        return false;
    const unsigned long long nFileId = std::strtoull(pEnd + 1, &pEnd, 10);
    if (*pEnd != '\0')
        return false;
    pDigest->bStamped = true;
    pDigest->stamp.nSize = pDigest->nSize;
    pDigest->stamp.nWriteTimeNs = nWriteTime;
    pDigest->stamp.nDevice = nDevice;
    pDigest->stamp.nFileId = nFileId;
    return true;
}

bool SameStamp(const PlatformFileStamp& a, const PlatformFileStamp& b)
{
    return a.nSize == b.nSize && a.nWriteTimeNs == b.nWriteTimeNs && a.nDevice == b.nDevice &&
           a.nFileId == b.nFileId;
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
    {
        if (recorded.input.nKind == PACKER_INPUT_ABSENT)
            sText +=
                "input " + std::to_string(recorded.input.nKind) + " 0 0 - " + recorded.input.sPath + "\n";
        else
            sText += "input " + std::to_string(recorded.input.nKind) + " " + DigestText(recorded.digest) +
                     " " + recorded.input.sPath + "\n";
    }
    return sText;
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
        std::error_code ec;
        return fs::current_path(ec);
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

uint64_t DigestBytes(const void* pData, size_t nSize)
{
    // Eight bytes at a time through a multiply-and-fold step; the length enters at the end.
    const unsigned char* p = static_cast<const unsigned char*>(pData);
    uint64_t nHash = 0x9E3779B97F4A7C15ull;
    size_t i = 0;
    for (; i + 8 <= nSize; i += 8)
    {
        uint64_t nWord = 0;
        std::memcpy(&nWord, p + i, 8);
        nHash = Mix(nHash ^ nWord) + 0x632BE59BD9B4E019ull;
    }
    uint64_t nTail = 0;
    for (size_t k = 0; i + k < nSize; ++k)
        nTail |= static_cast<uint64_t>(p[i + k]) << (8 * k);
    return Mix(Mix(nHash ^ nTail) ^ static_cast<uint64_t>(nSize));
}

FileDigest DigestFile(const std::string& sPath)
{
    FileDigest digest;
    // The stamp before the bytes: a write after it changes the stamp, or falls in the racy window.
    PlatformFileStamp stamp;
    const bool bStamp = PlatformGetFileStamp(sPath.c_str(), &stamp);
    const long long nNow = PlatformNowNs();
    std::string sBytes;
    if (!ReadWhole(sPath, &sBytes))
        return digest;
    digest.bOk = true;
    digest.nSize = sBytes.size();
    digest.nDigest = DigestBytes(sBytes.data(), sBytes.size());
    digest.bStamped = bStamp && stamp.nSize == digest.nSize && stamp.nWriteTimeNs < nNow - RACY_WINDOW_NS;
    if (digest.bStamped)
        digest.stamp = stamp;
    return digest;
}

bool CRecordStore::MatchesAny(const std::string& sPattern)
{
    const auto known = m_patterns.find(sPattern);
    if (known != m_patterns.end())
        return known->second;
    const size_t nCut = sPattern.find_last_of("/\\");
    const std::string sFolder = nCut == std::string::npos ? std::string(".") : sPattern.substr(0, nCut + 1);
    const std::string sName = Lower(nCut == std::string::npos ? sPattern : sPattern.substr(nCut + 1));
    auto it = m_listings.find(sFolder);
    if (it == m_listings.end())
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator entry(sFolder, ec), end; !ec && entry != end; entry.increment(ec))
            names.push_back(Lower(entry->path().filename().string()));
        it = m_listings.emplace(sFolder, std::move(names)).first;
    }
    bool bMatches = false;
    for (const std::string& sEntry : it->second)
        bMatches = bMatches || Matches(sName.c_str(), sEntry.c_str());
    m_patterns.emplace(sPattern, bMatches);
    return bMatches;
}

std::string CRecordStore::DefaultFolder()
{
    if (const char* pszFolder = std::getenv("ZQPACK_CACHE_DIR"))
        return pszFolder;
#if defined(_WIN32)
    if (const char* pszLocal = std::getenv("LOCALAPPDATA"))
        return (fs::path(pszLocal) / "zqpack").string();
#else
    if (const char* pszCache = std::getenv("XDG_CACHE_HOME"); pszCache && pszCache[0] == '/')
        return (fs::path(pszCache) / "zqpack").string();
    if (const char* pszHome = std::getenv("HOME"); pszHome && pszHome[0])
        return (fs::path(pszHome) / ".cache" / "zqpack").string();
#endif
    return std::string();
}

std::string CRecordStore::ManifestPath(const std::string& sAbsoluteFolder) const
{
    return (fs::path(m_sFolder) / "records" /
            (Hex(DigestBytes(sAbsoluteFolder.data(), sAbsoluteFolder.size())) + ".rec"))
        .string();
}

// A manifest: the records of the packed files of one folder, each ending in an empty line.
std::map<std::string, std::string> CRecordStore::ReadManifest(const std::string& sAbsoluteFolder) const
{
    std::map<std::string, std::string> records;
    std::string sText;
    if (!ReadWhole(ManifestPath(sAbsoluteFolder), &sText))
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
        std::error_code ec;
        fs::create_directories(manifest.parent_path(), ec);
        std::string sError = ec ? ec.message() : WriteAtomically(manifest.string(), sText);
        if (!sError.empty() && sErrors.empty())
            sErrors = "cannot keep the records of packed files in " + manifest.string() + ": " + sError;
    }
    return sErrors;
}

FileDigest CRecordStore::CachedDigest(const std::string& sPath)
{
    auto it = m_digests.find(sPath);
    if (it == m_digests.end())
        it = m_digests.emplace(sPath, DigestFile(sPath)).first;
    return it->second;
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
    std::string sWord;
    if (!std::getline(lines, sLine))
        return false;
    std::istringstream pluginFields(sLine);
    if (!(pluginFields >> sWord) || sWord != "plugin" || !ParseDigest(pluginFields, &recordedPlugin) ||
        pluginFields.get() != ' ' || !std::getline(pluginFields, sWord) || sWord != sAbsolutePlugin)
        return false;
    if (!std::getline(lines, sLine))
        return false;
    std::istringstream outputFields(sLine);
    if (!(outputFields >> sWord) || sWord != "output" || !ParseDigest(outputFields, &recordedOutput))
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
        std::istringstream fields(sLine);
        RecordedInput recorded;
        if (!(fields >> sWord >> recorded.input.nKind) || sWord != "input" ||
            !ParseDigest(fields, &recorded.digest) || fields.get() != ' ' ||
            !std::getline(fields, recorded.input.sPath))
            return false;
        if (recorded.input.nKind == PACKER_INPUT_ABSENT)
        {
            if (MatchesAny(recorded.input.sPath))
                return false;
            inputs.push_back(std::move(recorded));
            continue;
        }
        // The source changes from pack to pack; settings files and libraries are shared by many.
        const FileDigest current =
            CurrentDigest(recorded.input.sPath, recorded.digest, recorded.input.nKind != PACKER_INPUT_SOURCE);
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

std::string CRecordStore::Record(const std::string& sSource, const std::string& sDestination,
                                 const std::string& sPlugin, const std::vector<Input>& inputs,
                                 const FileDigest& sourceDigest)
{
    if (m_sFolder.empty())
        return std::string();
    const FileDigest pluginDigest = CachedDigest(sPlugin);
    const FileDigest outputDigest = DigestFile(sDestination);
    if (!pluginDigest.bOk || !outputDigest.bOk)
    {
        Forget(sDestination);
        return std::string();
    }
    const std::string sAbsoluteSource = AbsolutePath(sSource);
    std::vector<RecordedInput> recorded;
    for (const Input& input : inputs)
    {
        RecordedInput entry;
        entry.input.nKind = input.nKind;
        entry.input.sPath = input.nKind == PACKER_INPUT_ABSENT ? input.sPath : AbsolutePath(input.sPath);
        if (entry.input.sPath.find('\n') != std::string::npos)
        {
            Forget(sDestination);
            return std::string();
        }
        if (input.nKind != PACKER_INPUT_ABSENT)
        {
            // The source as it was before the pack began: an edit during the pack repacks next time.
            const bool bSource = input.nKind == PACKER_INPUT_SOURCE;
            entry.digest = bSource && entry.input.sPath == sAbsoluteSource && sourceDigest.bOk
                               ? sourceDigest
                               : (bSource ? DigestFile(entry.input.sPath) : CachedDigest(entry.input.sPath));
            if (!entry.digest.bOk)
            {
                Forget(sDestination);
                return std::string();
            }
        }
        recorded.push_back(std::move(entry));
    }
    const std::string sAbsolute = AbsolutePath(sDestination);
    const std::string sText =
        RecordText(sAbsolute, sAbsoluteSource, pluginDigest, AbsolutePath(sPlugin), outputDigest, recorded);
    // A record that says the same already is left alone (a forced pack of an unchanged file).
    const std::string* pOld = FindRecord(sAbsolute);
    if (pOld && *pOld == sText)
        m_changes.erase(sAbsolute);
    else
        m_changes[sAbsolute] = sText;
    return std::string();
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

std::string DepfileText(const std::string& sDestination, const std::vector<Input>& inputs)
{
    // The source first, then the files it was packed with, in the order reported.
    std::string sText = EscapeForMake(sDestination) + ":";
    for (const bool bSource : {true, false})
        for (const Input& input : inputs)
            if ((input.nKind == PACKER_INPUT_SOURCE) == bSource && input.nKind != PACKER_INPUT_ABSENT)
                sText += " \\\n  " + EscapeForMake(input.sPath);
    return sText + "\n";
}

std::string WriteDepfile(const std::string& sDestination, const std::vector<Input>& inputs)
{
    const std::string sPath = sDestination + ".d";
    const std::string sText = DepfileText(sDestination, inputs);
    std::string sOld;
    if (ReadWhole(sPath, &sOld) && sOld == sText)
        return std::string();
    const std::string sError = WriteAtomically(sPath, sText);
    return sError.empty() ? sError : "cannot write " + sPath + ": " + sError;
}
} // namespace zqpack
