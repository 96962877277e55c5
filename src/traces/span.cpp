#include "traces/span.h"

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
