// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF): checking bytes,
// with the first fault located the way decode errors show it, and decoding characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Whether every byte is below 0x80, a word at a time; the last word overlaps the one before
// instead of ending in a byte loop, which matters for the many short names of a file.
inline bool is_ascii(std::string_view bytes) {
  const char* p = bytes.data();
  const std::size_t n = bytes.size();
  std::uint64_t high = 0;
  if (n >= 8) {
    std::uint64_t word;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&word, p + i, 8);
      high |= word;
    }
    std::memcpy(&word, p + n - 8, 8);
    high |= word;
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    high = head | tail;
  } else {
    for (std::size_t i = 0; i < n; ++i) high |= static_cast<unsigned char>(p[i]);
  }
  return (high & 0x8080808080808080ULL) == 0;
}

// The first fault of text that is not all ASCII (check_utf8 without the quick test).
std::optional<Utf8Fault> check_utf8_text(std::string_view bytes);

// Empty when `bytes` is well-formed UTF-8, else its first fault.
inline std::optional<Utf8Fault> check_utf8(std::string_view bytes) {
  if (is_ascii(bytes)) return std::nullopt;
  return check_utf8_text(bytes);
}

// check_utf8 for bytes that arrive in pieces (a text longer than a read buffer), without
// keeping them: finish() gives the fault that check_utf8 finds in all the pieces together.
class Utf8Checker {
 public:
  // Adds the next piece; does nothing once a fault is found.
  void add(std::string_view piece);
  // The first fault of everything added, or empty when it is well-formed.
  std::optional<Utf8Fault> finish() const;

 private:
  std::uint64_t complete_ = 0;  // bytes added before pending_, all complete characters
  unsigned char pending_[4] = {};
  std::size_t pending_size_ = 0;  // the start of a character cut by the end of a piece
  std::optional<Utf8Fault> fault_;
};

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
