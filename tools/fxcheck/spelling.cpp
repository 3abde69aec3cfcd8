#include "spelling.h"
#include "printable.h"

#include "diagnostic.h"

#include <algorithm>
#include <cctype>

size_t EditDistanceNoCase(const std::string& a, const std::string& b)
{
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    const size_t n = a.size(), m = b.size();
    std::vector<size_t> prev2(m + 1), prev(m + 1), cur(m + 1);
    for (size_t j = 0; j <= m; ++j)
        prev[j] = j;
    for (size_t i = 1; i <= n; ++i)
    {
        cur[0] = i;
        for (size_t j = 1; j <= m; ++j)
        {
            const bool bSame = lower(a[i - 1]) == lower(b[j - 1]);
            size_t d = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (bSame ? 0 : 1)});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                d = std::min(d, prev2[j - 2] + 1);
            cur[j] = d;
        }
        prev2.swap(prev);
        prev.swap(cur);
    }
    return prev[m];
}

std::string ClosestName(const std::string& sWord, const std::vector<std::string>& candidates)
{
    // Long words and names are not worth comparing: nobody misspells 200 bytes.
    if (sWord.empty() || sWord.size() > 128)
        return std::string();
    const size_t nLimit = sWord.size() <= 4 ? 1 : sWord.size() <= 8 ? 2 : 3;
    std::string sBest;
    size_t nBest = nLimit + 1;
    for (const std::string& sCandidate : candidates)
    {
        if (sCandidate.empty() || sCandidate.size() > sWord.size() + nLimit ||
            sWord.size() > sCandidate.size() + nLimit)
            continue;
        const size_t d = EditDistanceNoCase(sWord, sCandidate);
        if (d < nBest)
        {
            nBest = d;
            sBest = sCandidate;
        }
    }
    return sBest == sWord ? std::string() : sBest;
}

std::string DidYouMean(const std::string& sWord, const std::vector<std::string>& candidates)
{
    const std::string sBest = ClosestName(sWord, candidates);
    return sBest.empty() ? std::string() : "; did you mean '" + Printable(sBest) + "'?";
}
