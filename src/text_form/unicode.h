// Unicode character properties behind the escaping of texts, from generated tables
// (tools/gen_unicode_tables.py).
#pragma once

#include <string_view>

namespace tracemill {

// True when `c` has the property Grapheme_Extend (combining marks and the like).
bool is_grapheme_extend(char32_t c);
// False when the general category of `c` is Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs, except that the
// blank U+0020 is printable. Code points above U+10FFFF are not printable.
bool is_printable(char32_t c);
// The Unicode version the tables were generated from, such as "15.0.0".
std::string_view unicode_version();

}  // namespace tracemill
