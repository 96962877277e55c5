// The generated Unicode tables behind unicode.h (src/text_form/unicode_tables.cpp, written by
// tools/gen_unicode_tables.py). Internal to the text-form facility.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tracemill::unicode_tables {

// The version of the Unicode Character Database the tables were generated from.
extern const std::string_view kUnicodeVersion;

// Sorted boundaries of a set of code points: the first code point of every range, then the
// first code point after it. A code point is in the set when an odd number of boundaries are
// <= it.
extern const std::span<const std::uint32_t> kGraphemeExtend;
// General category Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs, except U+0020.
extern const std::span<const std::uint32_t> kNonPrintable;

}  // namespace tracemill::unicode_tables
