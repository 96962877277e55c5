#include "main/utf8.h"

namespace tracemill {

std::optional<Utf8Char> decode_utf8_char(std::string_view text) {
  if (text.empty()) return std::nullopt;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char first = byte(0);
  if (first < 0x80) return Utf8Char{first, 1};
  std::size_t length;
  char32_t value;
  char32_t minimum;
  if ((first & 0xE0) == 0xC0) {
    length = 2, value = first & 0x1Fu, minimum = 0x80;
  } else if ((first & 0xF0) == 0xE0) {
    length = 3, value = first & 0x0Fu, minimum = 0x800;
  } else if ((first & 0xF8) == 0xF0) {
    length = 4, value = first & 0x07u, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return std::nullopt;
  }
  return Utf8Char{value, length};
}

std::optional<std::u32string> decode_utf8(std::string_view text) {
  std::u32string scalars;
  while (!text.empty()) {
    std::optional<Utf8Char> c = decode_utf8_char(text);
    if (!c) return std::nullopt;
    scalars.push_back(c->value);
    text.remove_prefix(c->length);
  }
  return scalars;
}

}  // namespace tracemill
