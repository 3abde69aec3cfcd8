// "Did you mean" suggestions: the known name nearest to a misspelt one.
#pragma once

#include <string>
#include <vector>

// Edit distance ignoring ASCII letter case (insertions, deletions, substitutions, and swaps of two
// neighbouring bytes).
size_t EditDistanceNoCase(const std::string& a, const std::string& b);

// The candidate closest to sWord within a small distance (1 for words up to 4 bytes, 2 up to 8,
// 3 beyond), or "" when none is that close or the only close ones are equal to sWord.
std::string ClosestName(const std::string& sWord, const std::vector<std::string>& candidates);

// ", did you mean 'X'?" for the closest name, or "".
std::string DidYouMean(const std::string& sWord, const std::vector<std::string>& candidates);
