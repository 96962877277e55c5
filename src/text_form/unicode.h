// Unicode character properties behind the escaping of texts, from generated tables
// (tools/gen_unicode_tables.py).
#pragma once

namespace tracemill {

// True when `c` has the property Grapheme_Extend (combining marks and the like).
bool is_grapheme_extend(char32_t c);
// False when the general category of `c` is Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs, except that the
// blank U+0020 is printable. Code points above U+10FFFF are not printable.
bool is_printable(char32_t c);

}  // namespace tracemill
