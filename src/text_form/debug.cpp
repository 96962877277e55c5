#include "text_form/debug.h"

#include <array>
#include <cstdint>
#include <optional>

#include "base/os_error.h"
#include "base/utf8.h"
#include "text_form/unicode.h"

namespace tracemill {

PadAdapter::PadAdapter(Sink& inner) : out_(&inner) {
  if (auto* outer = dynamic_cast<PadAdapter*>(&inner)) {
    out_ = outer->out_;
    depth_ = outer->depth_ + 1;
    line_start_ = outer->line_start_;
  }
}

bool PadAdapter::write(std::string_view text) {
  if (failed_) return false;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::size_t piece_end = newline == std::string_view::npos ? text.size() : newline + 1;
    for (std::size_t level = 0; *line_start_ && level < depth_; ++level) {
      if (!out_->write("    ")) return fail();
    }
    *line_start_ = newline != std::string_view::npos;
    if (!out_->write(text.substr(0, piece_end))) return fail();
    text.remove_prefix(piece_end);
  }
  return true;
}

namespace {

// Writes the escape for `c` into `out` and returns its length, or 0 when `c` needs none.
std::size_t escape_of(char32_t c, char* out) {
  // The two-character escapes: a backslash and this letter.
  char letter = 0;
  switch (c) {
    case 0:
      letter = '0';
      break;
    case '\t':
      letter = 't';
      break;
    case '\n':
      letter = 'n';
      break;
    case '\r':
      letter = 'r';
      break;
    case '"':
    case '\\':
      letter = static_cast<char>(c);
      break;
    default:
      break;
  }
  if (letter != 0) {
    out[0] = '\\';
    out[1] = letter;
    return 2;
  }
  if (c >= 0x20 && c < 0x7F) return 0;
  if (!is_grapheme_extend(c) && is_printable(c)) return 0;
  char* p = out;
  *p++ = '\\';
  *p++ = 'u';
  *p++ = '{';
  p = std::to_chars(p, p + 8, static_cast<std::uint32_t>(c), 16).ptr;
  *p++ = '}';
  return static_cast<std::size_t>(p - out);
}

// Bytes that end a run of printable ASCII needing no escape: the ASCII controls, DEL, the double
// quote, the backslash and every byte of a multi-byte character. The scan over a run is one
// table load per byte.
constexpr std::array<bool, 256> kEndsAsciiRun = [] {
  std::array<bool, 256> table{};
  for (std::size_t b = 0; b < table.size(); ++b) table[b] = b < 0x20 || b >= 0x7F;
  table['"'] = true;
  table['\\'] = true;
  return table;
}();

}  // namespace

bool write_quoted(Sink& out, std::string_view text) {
  return out.write("\"") && write_escaped(out, text) && out.write("\"");
}

bool write_escaped(Sink& out, std::string_view text) {
  const std::size_t size = text.size();
  std::size_t run_start = 0;
  std::size_t i = 0;
  char escape[16];
  while (i < size) {
    while (i < size && !kEndsAsciiRun[static_cast<unsigned char>(text[i])]) ++i;
    if (i == size) break;
    std::size_t len = 1;
    char32_t c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Texts are valid UTF-8; a stray byte would be taken alone as U+FFFD, never looped on.
      std::optional<Utf8Char> decoded = decode_utf8_char(text.substr(i));
      c = decoded ? decoded->value : 0xFFFD;
      len = decoded ? decoded->length : 1;
    }
    std::size_t n = escape_of(c, escape);
    if (n != 0) {
      if (i > run_start && !out.write(text.substr(run_start, i - run_start))) return false;
      if (!out.write(std::string_view(escape, n))) return false;
      run_start = i + len;
    }
    i += len;
  }
  return run_start == size || out.write(text.substr(run_start));
}

namespace {

// Whether `text` is shown as it is: valid UTF-8 of printable characters, without a double
// quote or backslash when `quotable` is set.
bool is_plain(std::string_view text, bool quotable) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F || (quotable && (b == '"' || b == '\\'))) return false;
      ++i;
      continue;
    }
    std::optional<Utf8Char> c = decode_utf8_char(text.substr(i));
    if (!c || !is_printable(c->value)) return false;
    i += c->length;
  }
  return true;
}

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  char escape[16];
  for (std::size_t i = 0; i < text.size();) {
    std::optional<Utf8Char> c = decode_utf8_char(text.substr(i));
    if (!c) {
      static constexpr char kHex[] = "0123456789abcdef";
      const auto b = static_cast<unsigned char>(text[i]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
      ++i;
      continue;
    }
    const std::size_t n = escape_of(c->value, escape);
    if (n != 0) {
      out.append(escape, n);
    } else {
      out.append(text.substr(i, c->length));
    }
    i += c->length;
  }
  return out;
}

// Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) about '"' + string at -O3.
std::string quoted_escaped(std::string_view text) {
  std::string out = "\"";
  out += escaped(text);
  out += '"';
  return out;
}

}  // namespace

std::string message_name(std::string_view text) {
  if (is_plain(text, true)) return std::string(text);
  return quoted_escaped(text);
}

std::string message_quoted(std::string_view text) {
  if (is_plain(text, true)) {
    std::string out = "'";
    out += text;
    out += '\'';
    return out;
  }
  return quoted_escaped(text);
}

std::string message_text(std::string_view text) {
  if (is_plain(text, false)) return std::string(text);
  return escaped(text);
}

// --- builders ---

DebugStruct::DebugStruct(Formatter& f, std::string_view name) : f_(f), ok_(f.write(name)) {}

bool DebugStruct::begin_field(std::string_view name, Formatter& inner) {
  if (f_.pretty()) {
    if (!has_fields_ && !f_.write(" {\n")) return false;
    return inner.write(name) && inner.write(": ");
  }
  return inner.write(has_fields_ ? ", " : " { ") && inner.write(name) && inner.write(": ");
}

bool DebugStruct::end_field(Formatter& inner) { return !f_.pretty() || inner.write(",\n"); }

bool DebugStruct::finish() {
  if (ok_ && has_fields_) ok_ = f_.write(f_.pretty() ? "}" : " }");
  return ok_;
}

DebugTuple::DebugTuple(Formatter& f, std::string_view name) : f_(f), ok_(f.write(name)) {}

bool DebugTuple::begin_field(Formatter& inner) {
  if (f_.pretty()) return has_fields_ || f_.write("(\n");
  return inner.write(has_fields_ ? ", " : "(");
}

bool DebugTuple::end_field(Formatter& inner) { return !f_.pretty() || inner.write(",\n"); }

bool DebugTuple::finish() {
  if (ok_ && has_fields_) ok_ = f_.write(")");
  return ok_;
}

DebugList::DebugList(Formatter& f) : f_(f), ok_(f.write("[")) {}

bool DebugList::begin_entry(Formatter& inner) {
  if (f_.pretty()) return has_entries_ || f_.write("\n");
  return !has_entries_ || inner.write(", ");
}

bool DebugList::end_entry(Formatter& inner) { return !f_.pretty() || inner.write(",\n"); }

bool DebugList::finish() {
  if (ok_) ok_ = f_.write("]");
  return ok_;
}

DebugMap::DebugMap(Formatter& f) : f_(f), ok_(f.write("{")) {}

bool DebugMap::begin_entry(Formatter& inner) {
  if (f_.pretty()) return has_entries_ || f_.write("\n");
  return !has_entries_ || inner.write(", ");
}

bool DebugMap::mid_entry(Formatter& inner) { return inner.write(": "); }

bool DebugMap::end_entry(Formatter& inner) { return !f_.pretty() || inner.write(",\n"); }

bool DebugMap::finish() {
  if (ok_) ok_ = f_.write("}");
  return ok_;
}

bool write_debug(Formatter& f, const OsError& error) {
  return f.write("Os { code: ") && write_debug(f, error.code) && f.write(", kind: ") &&
         f.write(os_error_kind(error.code)) && f.write(", message: ") &&
         write_quoted(f.sink(), os_error_message(error.code)) && f.write(" }");
}

}  // namespace tracemill
