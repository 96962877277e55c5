#include "traces/span.h"

#include <cstdint>
#include <cstring>

namespace tracemill {
namespace {

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

// Whether every byte of `bytes` is one of 0-9 and a-f, eight bytes at a time. A byte of a word
// is tested in its own lane: each lane keeps its top bit for the answer, so no carry or borrow
// crosses into the next.
bool lower_hex(std::string_view bytes) {
  constexpr std::uint64_t kOnes = 0x0101'0101'0101'0101;
  constexpr std::uint64_t kTop = 0x80 * kOnes;
  auto word_ok = [](std::uint64_t w) {
    if ((w & kTop) != 0) return false;
    const std::uint64_t at_least_0 = ((w | kTop) - '0' * kOnes) & kTop;
    const std::uint64_t at_most_9 = ~(w + (0x80 - ('9' + 1)) * kOnes) & kTop;
    const std::uint64_t at_least_a = ((w | kTop) - 'a' * kOnes) & kTop;
    const std::uint64_t at_most_f = ~(w + (0x80 - ('f' + 1)) * kOnes) & kTop;
    return ((at_least_0 & at_most_9) | (at_least_a & at_most_f)) == kTop;
  };
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes.data() + i, 8);
    if (!word_ok(w)) return false;
  }
  if (i == bytes.size()) return true;
  // The rest, padded with a digit.
  std::uint64_t w = '0' * kOnes;
  std::memcpy(&w, bytes.data() + i, bytes.size() - i);
  return word_ok(w);
}

}  // namespace

std::optional<std::string> normalise_id(std::string_view id) {
  std::string out;
  if (!normalise_id(id, out)) return std::nullopt;
  return out;
}

bool normalise_id(std::string_view id, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.clear();
  if (id.empty()) return false;
  // Lowercase hex, as most ids are written, is taken as it is.
  if (lower_hex(id)) {
    out.assign(id);
    return true;
  }
  // Hex digits lowercased in one pass; the first other byte makes it base64.
  out.resize(id.size());
  std::size_t i = 0;
  for (; i < id.size(); ++i) {
    const auto c = static_cast<unsigned char>(id[i]);
    const unsigned lower = c | 0x20u;
    if (static_cast<unsigned>(c - '0') < 10u) {
      out[i] = static_cast<char>(c);
    } else if (lower - 'a' < 6u) {
      out[i] = static_cast<char>(lower);
    } else {
      break;
    }
  }
  if (i == id.size()) return true;
  out.clear();
  while (!id.empty() && id.back() == '=') id.remove_suffix(1);
  if (id.size() % 4 == 1) return false;
  std::uint32_t bits = 0;
  int nbits = 0;
  for (char c : id) {
    int v = base64_value(c);
    if (v < 0) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    nbits += 6;
    if (nbits >= 8) {
      nbits -= 8;
      auto byte = static_cast<unsigned>((bits >> nbits) & 0xFF);
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
  }
  // Bits left over must be zero padding, or the text was not base64.
  return (bits & ((1u << nbits) - 1)) == 0 && !out.empty();
}

}  // namespace tracemill
