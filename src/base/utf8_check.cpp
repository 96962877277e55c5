#include "base/utf8_check.h"

#include <cstring>

namespace tracemill {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The fault of the multi-byte sequence starting at `at`, or its length when it is valid.
// Returns 0 and fills `fault` on a fault.
std::size_t sequence_length(const unsigned char* p, std::size_t at, std::size_t n,
                            Utf8Fault& fault) {
  unsigned char first = p[at];
  std::size_t width;
  // The range the second byte must fall in; it is narrower than 80..BF after the leads whose
  // full range would allow overlong forms, surrogates or values above U+10FFFF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    width = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    width = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    width = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    fault = {at, 1};
    return 0;
  }
  for (std::size_t k = 1; k < width; ++k) {
    if (at + k >= n) {
      fault = {at, std::nullopt};
      return 0;
    }
    unsigned char b = p[at + k];
    bool ok = k == 1 ? (b >= low && b <= high) : is_continuation(b);
    if (!ok) {
      fault = {at, static_cast<std::uint8_t>(k)};
      return 0;
    }
  }
  return width;
}

}  // namespace

std::optional<Utf8Fault> check_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Texts are mostly ASCII: skip eight ASCII bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & kHighBits) != 0) break;
      i += 8;
    }
    while (i < n && p[i] < 0x80) ++i;
    if (i >= n) break;
    Utf8Fault fault;
    std::size_t width = sequence_length(p, i, n, fault);
    if (width == 0) return fault;
    i += width;
  }
  return std::nullopt;
}

}  // namespace tracemill
