#include "text_form/unicode.h"

// Placeholder tables, to be replaced by the generated ones: C0/C1 controls and a few
// well-known format, space and combining characters.
namespace tracemill {

bool is_grapheme_extend(char32_t c) { return c >= 0x300 && c <= 0x36F; }

bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
  if (c == 0xA0 || c == 0x200B || c == 0x2028 || c == 0x2029) return false;
  if (c >= 0xE000 && c <= 0xF8FF) return false;
  return true;
}

}  // namespace tracemill
