#include "text_form/unicode.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "text_form/unicode_tables.h"

namespace tracemill {

namespace {

// True when an odd number of the sorted boundaries are <= c, that is when c lies inside one of
// the ranges the boundaries delimit.
bool in_ranges(std::span<const std::uint32_t> bounds, char32_t c) {
  if (bounds.empty() || c < bounds.front()) return false;
  auto above = std::upper_bound(bounds.begin(), bounds.end(), static_cast<std::uint32_t>(c));
  return (above - bounds.begin()) % 2 == 1;
}

}  // namespace

bool is_grapheme_extend(char32_t c) { return in_ranges(unicode_tables::kGraphemeExtend, c); }

bool is_printable(char32_t c) {
  // ASCII needs no table: only the controls below the blank and DEL are not printable.
  if (c < 0x7F) return c >= 0x20;
  return c <= 0x10FFFF && !in_ranges(unicode_tables::kNonPrintable, c);
}

}  // namespace tracemill
