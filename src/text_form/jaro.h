// The Jaro similarity of two texts, used to suggest an option name for a mistyped one.
#pragma once

#include <string_view>

namespace tracemill {

// Similarity between 0 (nothing in common) and 1 (equal), computed on Unicode scalar values.
// Matches are searched within max(|a|, |b|) / 2 - 1 positions; a match found at a position
// before the previous match's counts as one transposition.
double jaro_similarity(std::u32string_view a, std::u32string_view b);

}  // namespace tracemill
