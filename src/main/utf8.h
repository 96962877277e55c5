// Strict UTF-8 decoding of argument texts: one Unicode scalar value at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tracemill {

struct Utf8Char {
  char32_t value;
  std::size_t length;  // bytes taken, 1 to 4
};

// Decodes the character at the start of `text`. Empty text, overlong forms, surrogates, values
// above U+10FFFF and truncated or malformed sequences give nullopt.
std::optional<Utf8Char> decode_utf8_char(std::string_view text);

// The scalar values of `text`, or nullopt when it is not valid UTF-8.
std::optional<std::u32string> decode_utf8(std::string_view text);

inline bool is_valid_utf8(std::string_view text) { return decode_utf8(text).has_value(); }

}  // namespace tracemill
