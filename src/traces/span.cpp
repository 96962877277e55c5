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
  bool hex = true;
  for (char c : id) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      hex = false;
      break;
    }
  }
  if (hex) {
    out.resize(id.size());
    for (std::size_t i = 0; i < id.size(); ++i) {
      char c = id[i];
      out[i] = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return true;
  }
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
