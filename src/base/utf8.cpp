#include "base/utf8.h"

#include <algorithm>
#include <cstring>

namespace tracemill {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// What stands at the start of a text: a character of `width` bytes, or a fault after `width`
// bytes that could still have begun one (truncated: the text ended inside it).
struct Sequence {
  bool valid;
  bool truncated;
  std::uint8_t width;
  char32_t value;
};

// Requires: n > 0 and p[0] >= 0x80.
inline Sequence scan_sequence(const unsigned char* p, std::size_t n) {
  unsigned char first = p[0];
  std::uint8_t width;
  // The range the second byte must fall in; it is narrower than 80..BF after the leads whose
  // full range would allow overlong forms, surrogates or values above U+10FFFF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  char32_t value;
  if (first >= 0xC2 && first <= 0xDF) {
    width = 2;
    value = first & 0x1Fu;
  } else if (first >= 0xE0 && first <= 0xEF) {
    width = 3;
    value = first & 0x0Fu;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    width = 4;
    value = first & 0x07u;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return {false, false, 1, 0};
  }
  for (std::uint8_t k = 1; k < width; ++k) {
    if (k >= n) return {false, true, k, 0};
    unsigned char b = p[k];
    bool ok = k == 1 ? (b >= low && b <= high) : (b & 0xC0) == 0x80;
    if (!ok) return {false, false, k, 0};
    value = (value << 6) | (b & 0x3Fu);
  }
  return {true, false, width, value};
}

}  // namespace

std::optional<Utf8Fault> check_utf8_text(std::string_view bytes) {
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
    Sequence s = scan_sequence(p + i, n - i);
    if (!s.valid) {
      if (s.truncated) return Utf8Fault{i, std::nullopt};
      return Utf8Fault{i, s.width};
    }
    i += s.width;
  }
  return std::nullopt;
}

void Utf8Checker::add(std::string_view piece) {
  if (fault_ || piece.empty()) return;
  if (pending_size_ > 0) {
    // Complete the cut character from the front of this piece, then judge it alone.
    const unsigned char lead = pending_[0];
    const std::size_t width = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const std::size_t take = std::min(width - pending_size_, piece.size());
    std::memcpy(pending_ + pending_size_, piece.data(), take);
    pending_size_ += take;
    piece.remove_prefix(take);
    std::string_view sequence(reinterpret_cast<const char*>(pending_), pending_size_);
    std::optional<Utf8Fault> fault = check_utf8(sequence);
    if (fault && fault->error_len) {
      fault_ = Utf8Fault{complete_ + fault->valid_up_to, fault->error_len};
      return;
    }
    if (fault) return;  // still cut: this piece ended too
    complete_ += pending_size_;
    pending_size_ = 0;
  }
  std::optional<Utf8Fault> fault = check_utf8(piece);
  if (!fault) {
    complete_ += piece.size();
  } else if (fault->error_len) {
    fault_ = Utf8Fault{complete_ + fault->valid_up_to, fault->error_len};
  } else {
    // The piece ends inside a character that was valid so far: keep its start (1 to 3 bytes).
    complete_ += fault->valid_up_to;
    pending_size_ = piece.size() - fault->valid_up_to;
    std::memcpy(pending_, piece.data() + fault->valid_up_to, pending_size_);
  }
}

std::optional<Utf8Fault> Utf8Checker::finish() const {
  if (fault_) return fault_;
  if (pending_size_ > 0) return Utf8Fault{complete_, std::nullopt};
  return std::nullopt;
}

std::optional<Utf8Char> decode_utf8_char(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  if (p[0] < 0x80) return Utf8Char{p[0], 1};
  Sequence s = scan_sequence(p, text.size());
  if (!s.valid) return std::nullopt;
  return Utf8Char{s.value, s.width};
}

std::optional<std::u32string> decode_utf8(std::string_view text) {
  std::u32string chars;
  while (!text.empty()) {
    std::optional<Utf8Char> c = decode_utf8_char(text);
    if (!c) return std::nullopt;
    chars.push_back(c->value);
    text.remove_prefix(c->length);
  }
  return chars;
}

}  // namespace tracemill
