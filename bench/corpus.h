// Deterministic effect-like ZQA text for benchmarks.
#pragma once

#include <cstddef>
#include <string>

// A well-formed effect file text of at least nBytes bytes: nested lists of effects, keys and
// properties with names, numbers and quoted strings, repetitive as real effect files are but
// varied. The same nBytes always gives the same text.
std::string MakeEffectCorpus(size_t nBytes);
