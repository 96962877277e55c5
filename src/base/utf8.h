// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF): checking bytes,
// with the first fault located the way decode errors show it, and decoding characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tracemill {

struct Utf8Fault {
  // Bytes from the start that form complete valid characters before the fault.
  std::size_t valid_up_to = 0;
  // Length of the longest prefix of the faulty sequence that could still have begun a valid
  // character (1 to 3; 1 when its first byte can never start one). Empty when the bytes end
  // inside a sequence that was valid so far.
  std::optional<std::uint8_t> error_len;
  bool operator==(const Utf8Fault&) const = default;
};

// Empty when `bytes` is well-formed UTF-8, else its first fault.
std::optional<Utf8Fault> check_utf8(std::string_view bytes);

struct Utf8Char {
  char32_t value;
  std::size_t length;  // bytes taken, 1 to 4
};

// The character at the start of `text`; empty when `text` is empty or does not start with a
// well-formed character.
std::optional<Utf8Char> decode_utf8_char(std::string_view text);

// The characters of `text`, or empty when it is not well-formed.
std::optional<std::u32string> decode_utf8(std::string_view text);

}  // namespace tracemill
