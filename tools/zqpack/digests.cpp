#include "zqpack.h"

#include "zqfiles.h"
#include "zqprocess.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace zqpack
{
namespace
{
// On a file system without change times, a file written this close to when its stamp was taken may
// be written again within the same tick (two seconds on FAT) without its stamp changing.
constexpr long long RACY_WINDOW_NS = 2000000000LL;

} // namespace

std::string DigestHex(const Digest128& digest)
{
    char szText[33];
    std::snprintf(szText, sizeof(szText), "%016" PRIx64 "%016" PRIx64, digest.nHigh, digest.nLow);
    return szText;
}

namespace
{
bool ParseHex(const std::string& sText, Digest128* pDigest)
{
    if (sText.size() != 32 || sText.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    pDigest->nHigh = std::strtoull(sText.substr(0, 16).c_str(), nullptr, 16);
    pDigest->nLow = std::strtoull(sText.substr(16).c_str(), nullptr, 16);
    return true;
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
} // namespace

Digest128 DigestBytes(const void* pData, size_t nSize)
{
    const XXH128_hash_t hash = XXH3_128bits(pData, nSize);
    Digest128 digest;
    digest.nLow = hash.low64;
    digest.nHigh = hash.high64;
    return digest;
}

FileDigest DigestFile(const std::string& sPath)
{
    FileDigest digest;
    // The stamp before the bytes: a write after it changes the stamp, unless the stamp was taken in
    // the same tick of the file system's clock as the write (then the stamp is not trusted).
    const long long nTick = PlatformFileClockNs();
    const long long nNow = PlatformNowNs();
    PlatformFileStamp stamp;
    const bool bStamp = PlatformGetFileStamp(sPath.c_str(), &stamp);
    unsigned long long nSize = 0;
    PlatformOpenFailure eFailure;
    std::FILE* pFile = PlatformOpenRegularFile(sPath.c_str(), true, &nSize, &eFailure);
    if (!pFile)
        return digest;
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    char aBuffer[65536];
    size_t nRead;
    uint64_t nTotal = 0;
    while ((nRead = std::fread(aBuffer, 1, sizeof(aBuffer), pFile)) > 0)
    {
        XXH3_128bits_update(&state, aBuffer, nRead);
        nTotal += nRead;
    }
    const bool bOk = !std::ferror(pFile);
    std::fclose(pFile);
    if (!bOk)
        return digest;
    const XXH128_hash_t hash = XXH3_128bits_digest(&state);
    digest.bOk = true;
    digest.nSize = nTotal;
    digest.digest.nLow = hash.low64;
    digest.digest.nHigh = hash.high64;
    digest.bHasStamp = bStamp && stamp.nSize == nTotal;
    if (digest.bHasStamp)
        digest.stamp = stamp;
    // Without a change time (FAT), only a write time well in the past can be trusted.
    digest.bStamped =
        digest.bHasStamp &&
        (stamp.nChangeTimeNs != 0 ? stamp.nChangeTimeNs < nTick : stamp.nWriteTimeNs < nNow - RACY_WINDOW_NS);
    return digest;
}

bool MatchingNames(const std::string& sPattern, std::vector<std::string>* pNames)
{
    const size_t nCut = sPattern.find_last_of("/\\");
    const std::string sFolder = nCut == std::string::npos ? std::string(".") : sPattern.substr(0, nCut + 1);
    struct Context
    {
        std::string sName;
        std::vector<std::string>* pNames;
    } context{Lower(nCut == std::string::npos ? sPattern : sPattern.substr(nCut + 1)), pNames};
    const bool bRead = PlatformListFolder(
        sFolder.c_str(),
        [](void* pContext, const char* pszName, PlatformEntryKind)
        {
            Context& found = *static_cast<Context*>(pContext);
            if (Matches(found.sName.c_str(), Lower(pszName).c_str()))
                found.pNames->push_back(pszName);
        },
        &context);
    std::sort(pNames->begin(), pNames->end());
    return bRead || errno == ENOENT;
}

FileDigest DigestMatches(const std::string& sPattern)
{
    std::vector<std::string> names;
    FileDigest digest;
    digest.bOk = MatchingNames(sPattern, &names);
    std::string sList;
    for (const std::string& sEntry : names)
        sList += sEntry + '\n';
    digest.nSize = names.size();
    digest.digest = DigestBytes(sList.data(), sList.size());
    return digest;
}

std::string DigestText(const FileDigest& digest)
{
    if (!digest.bOk)
        return "none";
    std::string sText = std::to_string(digest.nSize) + " " + DigestHex(digest.digest) + " ";
    if (!digest.bStamped)
        return sText + "-";
    return sText + std::to_string(digest.stamp.nWriteTimeNs) + ":" +
           std::to_string(digest.stamp.nChangeTimeNs) + ":" + std::to_string(digest.stamp.nDevice) + ":" +
           std::to_string(digest.stamp.nFileId);
}

bool ParseDigestText(const std::string& sText, FileDigest* pDigest)
{
    *pDigest = FileDigest();
    if (sText == "none")
        return true;
    std::istringstream fields(sText);
    std::string sSize, sHex, sStamp, sRest;
    if (!(fields >> sSize >> sHex >> sStamp) || (fields >> sRest) ||
        sSize.find_first_not_of("0123456789") != std::string::npos || sSize.size() > 19 ||
        !ParseHex(sHex, &pDigest->digest))
        return false;
    pDigest->nSize = std::strtoull(sSize.c_str(), nullptr, 10);
    pDigest->bOk = true;
    if (sStamp == "-")
        return true;
    long long anParts[4];
    const char* p = sStamp.c_str();
    for (int i = 0; i < 4; ++i)
    {
        char* pEnd = nullptr;
        anParts[i] = static_cast<long long>(std::strtoull(p, &pEnd, 10));
        if (pEnd == p || *pEnd != (i == 3 ? '\0' : ':'))
            return false;
        p = pEnd + 1;
    }
    pDigest->bHasStamp = pDigest->bStamped = true;
    pDigest->stamp.nSize = pDigest->nSize;
    pDigest->stamp.nWriteTimeNs = anParts[0];
    pDigest->stamp.nChangeTimeNs = anParts[1];
    pDigest->stamp.nDevice = static_cast<unsigned long long>(anParts[2]);
    pDigest->stamp.nFileId = static_cast<unsigned long long>(anParts[3]);
    return true;
}

bool SameStamp(const PlatformFileStamp& a, const PlatformFileStamp& b)
{
    return a.nSize == b.nSize && a.nWriteTimeNs == b.nWriteTimeNs && a.nChangeTimeNs == b.nChangeTimeNs &&
           a.nDevice == b.nDevice && a.nFileId == b.nFileId;
}

bool UnchangedSince(const std::string& sPath, const FileDigest& digest, long long nSinceNs)
{
    PlatformFileStamp now;
    return digest.bOk && digest.bHasStamp && digest.stamp.nChangeTimeNs < nSinceNs &&
           PlatformGetFileStamp(sPath.c_str(), &now) && SameStamp(now, digest.stamp);
}

void CInputDigests::BeginPack()
{
    m_nPackStartNs = PlatformFileClockNs();
}

FileDigest CInputDigests::Take(uint32_t nKind, const std::string& sPath)
{
    if (nKind == PACKER_INPUT_ABSENT || nKind == PACKER_INPUT_PATTERN)
    {
        // Listed once per process (a folder of many sources is searched by each of them): a locator
        // appearing later is seen by the next run, which lists afresh.
        auto it = m_matches.find(sPath);
        if (it == m_matches.end())
            it = m_matches.emplace(sPath, DigestMatches(sPath)).first;
        return it->second;
    }
    if (nKind != PACKER_INPUT_LIBRARY)
        return DigestFile(sPath);
    auto it = m_libraries.find(sPath);
    if (it == m_libraries.end())
        it = m_libraries.emplace(sPath, Loaded{DigestFile(sPath), m_nPackStartNs}).first;
    return it->second.digest;
}

void CInputDigests::Settle(std::vector<Input>& inputs) const
{
    for (Input& input : inputs)
    {
        if (input.nKind == PACKER_INPUT_ABSENT || input.nKind == PACKER_INPUT_PATTERN)
            continue;
        const auto library = m_libraries.find(input.sPath);
        const long long nSince = input.nKind == PACKER_INPUT_LIBRARY && library != m_libraries.end()
                                     ? library->second.nLoadedAfterNs
                                     : m_nPackStartNs;
        if (!UnchangedSince(input.sPath, input.digest, nSince))
            input.digest.bOk = false;
    }
}
} // namespace zqpack
