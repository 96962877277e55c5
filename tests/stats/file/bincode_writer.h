// Test helper: pieces of the positional binary encoding, to build files byte for byte (faulty
// ones included), and whole values through the library's writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "stats/file/record_writer.h"

namespace tracemill::testing {

template <class T>
std::string little_endian(T value) {
  std::string out;
  auto bits = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return out;
}

inline std::string u64(std::uint64_t v) { return little_endian(v); }
inline std::string u32(std::uint32_t v) { return little_endian(v); }
// A text as its length and its bytes, which need not be UTF-8.
inline std::string text(std::string_view bytes) { return u64(bytes.size()) + std::string(bytes); }

// A whole value in the binary encoding (the library's writer).
template <class T>
std::string encode(const T& value) {
  std::string out;
  encode_bincode(value, out);
  return out;
}

}  // namespace tracemill::testing
