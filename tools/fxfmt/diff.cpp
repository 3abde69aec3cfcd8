// A line diff by Myers' greedy algorithm after stripping the common head and tail. Past a bound on
// the edit distance the middle becomes one replacement: still a correct diff, only not minimal.
#include "fxfmt.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace fxfmt
{
namespace
{
// The most differing lines searched for a minimal diff (the search keeps about its square in memory).
constexpr int kMaxEdits = 2000;
constexpr size_t kContext = 3;

enum class Op : char
{
    Same = ' ',
    Delete = '-',
    Insert = '+',
};

// Lines with their line feed; the last one may lack it.
std::vector<std::string_view> SplitLines(const std::string& sText)
{
    std::vector<std::string_view> lines;
    size_t nStart = 0;
    while (nStart < sText.size())
    {
        const size_t nBreak = sText.find('\n', nStart);
        const size_t nEnd = nBreak == std::string::npos ? sText.size() : nBreak + 1;
        lines.emplace_back(sText.data() + nStart, nEnd - nStart);
        nStart = nEnd;
    }
    return lines;
}

// The script that turns a into b, in order.
std::vector<Op> EditScript(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b)
{
    size_t nHead = 0;
    while (nHead < a.size() && nHead < b.size() && a[nHead] == b[nHead])
        ++nHead;
    size_t nTail = 0;
    while (nTail < a.size() - nHead && nTail < b.size() - nHead &&
           a[a.size() - 1 - nTail] == b[b.size() - 1 - nTail])
        ++nTail;
    const int n = static_cast<int>(a.size() - nHead - nTail);
    const int m = static_cast<int>(b.size() - nHead - nTail);
    const auto A = [&](int i) { return a[nHead + static_cast<size_t>(i)]; };
    const auto B = [&](int j) { return b[nHead + static_cast<size_t>(j)]; };

    std::vector<Op> middle;
    const int nBound = std::min(n + m, kMaxEdits);
    const int nOff = nBound + 1;
    std::vector<int> v(static_cast<size_t>(2 * nBound + 3), 0);
    std::vector<std::vector<int>> trace; // trace[d]: v for k in [-d-1, d+1] before step d
    int nFound = -1;
    for (int d = 0; d <= nBound && nFound < 0; ++d)
    {
        trace.emplace_back(v.begin() + (nOff - d - 1), v.begin() + (nOff + d + 2));
        for (int k = -d; k <= d; k += 2)
        {
            int x = (k == -d || (k != d && v[nOff + k - 1] < v[nOff + k + 1])) ? v[nOff + k + 1]
                                                                               : v[nOff + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && A(x) == B(y))
            {
                ++x;
                ++y;
            }
            v[nOff + k] = x;
            if (x >= n && y >= m)
            {
                nFound = d;
                break;
            }
        }
    }
    if (nFound < 0)
    {
        middle.assign(static_cast<size_t>(n), Op::Delete);
        middle.insert(middle.end(), static_cast<size_t>(m), Op::Insert);
    }
    else
    {
        int x = n;
        int y = m;
        for (int d = nFound; d > 0; --d)
        {
            const std::vector<int>& prev = trace[static_cast<size_t>(d)];
            const auto At = [&](int k) { return prev[static_cast<size_t>(k + d + 1)]; };
            const int k = x - y;
            const int nPrevK = (k == -d || (k != d && At(k - 1) < At(k + 1))) ? k + 1 : k - 1;
            const int nPrevX = At(nPrevK);
            const int nPrevY = nPrevX - nPrevK;
            while (x > nPrevX && y > nPrevY)
            {
                middle.push_back(Op::Same);
                --x;
                --y;
            }
            middle.push_back(x == nPrevX ? Op::Insert : Op::Delete);
            x = nPrevX;
            y = nPrevY;
        }
        while (x > 0 && y > 0)
        {
            middle.push_back(Op::Same);
            --x;
            --y;
        }
        std::reverse(middle.begin(), middle.end());
    }
    std::vector<Op> script(nHead, Op::Same);
    script.insert(script.end(), middle.begin(), middle.end());
    script.insert(script.end(), nTail, Op::Same);
    return script;
}

void AppendLine(std::string& sOut, char cOp, std::string_view line)
{
    sOut += cOp;
    sOut.append(line.data(), line.size());
    if (line.empty() || line.back() != '\n')
        sOut += "\n\\ No newline at end of file\n";
}

std::string Range(size_t nStart, size_t nCount)
{
    // An empty range names the line before it.
    return std::to_string(nCount ? nStart + 1 : nStart) + "," + std::to_string(nCount);
}
} // namespace

std::string UnifiedDiff(const std::string& sOld, const std::string& sNew, const std::string& sName)
{
    if (sOld == sNew)
        return std::string();
    const std::vector<std::string_view> a = SplitLines(sOld);
    const std::vector<std::string_view> b = SplitLines(sNew);
    const std::vector<Op> script = EditScript(a, b);

    std::string sOut = "--- a/" + sName + "\n+++ b/" + sName + "\n";
    // Line numbers in a and b before each script entry.
    std::vector<size_t> atA(script.size() + 1);
    std::vector<size_t> atB(script.size() + 1);
    for (size_t i = 0; i < script.size(); ++i)
    {
        atA[i + 1] = atA[i] + (script[i] != Op::Insert);
        atB[i + 1] = atB[i] + (script[i] != Op::Delete);
    }
    size_t i = 0;
    while (i < script.size())
    {
        while (i < script.size() && script[i] == Op::Same)
            ++i;
        if (i == script.size())
            break;
        // A hunk: changes closer than twice the context join.
        const size_t nFirst = i > kContext ? i - kContext : 0;
        size_t nEnd = i;
        for (;;)
        {
            while (nEnd < script.size() && script[nEnd] != Op::Same)
                ++nEnd;
            size_t nNext = nEnd;
            while (nNext < script.size() && script[nNext] == Op::Same)
                ++nNext;
            if (nNext == script.size() || nNext - nEnd > 2 * kContext)
                break;
            nEnd = nNext;
        }
        const size_t nLast = std::min(script.size(), nEnd + kContext);
        sOut += "@@ -" + Range(atA[nFirst], atA[nLast] - atA[nFirst]) + " +" +
                Range(atB[nFirst], atB[nLast] - atB[nFirst]) + " @@\n";
        for (size_t j = nFirst; j < nLast; ++j)
        {
            if (script[j] == Op::Insert)
                AppendLine(sOut, '+', b[atB[j]]);
            else
                AppendLine(sOut, static_cast<char>(script[j]), a[atA[j]]);
        }
        i = nLast;
    }
    return sOut;
}
} // namespace fxfmt
