// Text forms: the pretty (multi-line, indented) and compact (one-line) debug forms in which
// every value shown to a user is written, straight into a Sink while the value is walked.
//
// A type gets its text form by one overload of write_debug(Formatter&, const T&): records
// described by Record<T> (base/record.h), texts, integers, lists, maps and enumerations that
// have an enum_name() are covered here; other shapes use the builders below.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/record.h"
#include "base/sink.h"

namespace tracemill {

struct OsError;

enum class Form { Pretty, Compact };

// Where a value is written and in which variant. Writing stops at the first failed write: every
// operation returns false from then on.
class Formatter {
 public:
  Formatter(Sink& out, Form form) : out_(&out), form_(form) {}
  Form form() const { return form_; }
  bool pretty() const { return form_ == Form::Pretty; }
  Sink& sink() { return *out_; }
  bool write(std::string_view text) { return out_->write(text); }

 private:
  Sink* out_;
  Form form_;
};

// An indenting writer: puts four blanks per level before the first character of every line
// written through it. Wrapping one PadAdapter in another (through any reference to it) adds a
// level: the inner one writes straight to the outermost one's sink with the blanks of all levels
// and shares its knowledge of whether the last line has ended, so that text at any depth is
// scanned for line breaks once. A new inner adapter is meant to be written to at the start of a
// line, as the builders below do.
class PadAdapter final : public Sink {
 public:
  explicit PadAdapter(Sink& inner);
  // Wraps `inner` (without this, `PadAdapter two(one)` would silently copy `one`).
  explicit PadAdapter(PadAdapter& inner) : PadAdapter(static_cast<Sink&>(inner)) {}
  PadAdapter(const PadAdapter&) = delete;
  PadAdapter& operator=(const PadAdapter&) = delete;
  bool write(std::string_view text) override;

 private:
  bool fail() {
    failed_ = true;
    return false;
  }
  Sink* out_;
  std::size_t depth_ = 1;
  bool own_line_start_ = true;  // the outermost adapter's; inner ones point to it
  bool* line_start_ = &own_line_start_;
  bool failed_ = false;  // stays failed, like every sink, even for an empty write
};

// Text: a double quote, the characters with the escapes (\0 \t \n \r \" \\ and \u{hex} for
// grapheme-extending and non-printable characters), a double quote. Runs of characters that
// need no escape are written as one slice. Requires: `text` is valid UTF-8.
bool write_quoted(Sink& out, std::string_view text);
// The characters of `text` with the same escapes, without the quotes.
bool write_escaped(Sink& out, std::string_view text);

// Texts in the one-line messages of tracemill-export and tracemill-condense, which name files
// and repeat arguments and input: whatever the bytes, a message stays one line of printable
// text. Plain text is valid UTF-8 of printable characters (no control, line or paragraph
// separator, or other character is_printable rejects) without a double quote or backslash.
// Other text is shown between double quotes with the escapes of write_escaped, and \xHH (two
// lowercase hex digits) for each byte that is not part of valid UTF-8.
//  - message_name: a file name standing alone, plain text as it is.
//  - message_quoted: an argument, plain text between single quotes.
//  - message_text: text from elsewhere (a decode error repeating the input) as it is when it
//    is printable (double quotes and backslashes allowed), else with the escapes, unquoted.
std::string message_name(std::string_view text);
std::string message_quoted(std::string_view text);
std::string message_text(std::string_view text);

// Builders for the shapes of the text form. Each is used as: construct, add members, finish().
class DebugStruct {
 public:
  DebugStruct(Formatter& f, std::string_view name);
  template <class T>
  DebugStruct& field(std::string_view name, const T& value);
  bool finish();

 private:
  bool begin_field(std::string_view name, Formatter& inner);
  bool end_field(Formatter& inner);
  Formatter& f_;
  bool ok_;
  bool has_fields_ = false;
};

class DebugTuple {
 public:
  DebugTuple(Formatter& f, std::string_view name);
  template <class T>
  DebugTuple& field(const T& value);
  bool finish();

 private:
  bool begin_field(Formatter& inner);
  bool end_field(Formatter& inner);
  Formatter& f_;
  bool ok_;
  bool has_fields_ = false;
};

class DebugList {
 public:
  explicit DebugList(Formatter& f);
  template <class T>
  DebugList& entry(const T& value);
  bool finish();

 private:
  bool begin_entry(Formatter& inner);
  bool end_entry(Formatter& inner);
  Formatter& f_;
  bool ok_;
  bool has_entries_ = false;
};

class DebugMap {
 public:
  explicit DebugMap(Formatter& f);
  template <class K, class V>
  DebugMap& entry(const K& key, const V& value);
  bool finish();

 private:
  bool begin_entry(Formatter& inner);
  bool mid_entry(Formatter& inner);  // between key and value: ": "
  bool end_entry(Formatter& inner);
  Formatter& f_;
  bool ok_;
  bool has_entries_ = false;
};

// --- write_debug overloads for the common shapes ---

inline bool write_debug(Formatter& f, const std::string& text) {
  return write_quoted(f.sink(), text);
}
inline bool write_debug(Formatter& f, std::string_view text) {
  return write_quoted(f.sink(), text);
}

template <std::integral T>
requires(!std::same_as<T, bool>) bool write_debug(Formatter& f, T value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return f.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

inline bool write_debug(Formatter& f, bool value) { return f.write(value ? "true" : "false"); }

// Enumerations without data print their variant name, given by an enum_name(E) found by ADL.
template <class E>
requires std::is_enum_v<E> && requires(E e) {
  { enum_name(e) } -> std::convertible_to<std::string_view>;
}
bool write_debug(Formatter& f, E value) { return f.write(enum_name(value)); }

template <class T, class A>
bool write_debug(Formatter& f, const std::vector<T, A>& items) {
  DebugList list(f);
  for (const T& item : items) list.entry(item);
  return list.finish();
}

template <class K, class V, class H, class E, class A>
bool write_debug(Formatter& f, const std::unordered_map<K, V, H, E, A>& map) {
  DebugMap m(f);
  for (const auto& [key, value] : map) m.entry(key, value);
  return m.finish();
}

template <IsRecord T>
bool write_debug(Formatter& f, const T& rec) {
  DebugStruct s(f, Record<T>::name);
  for_each_field<T>([&](const auto& fd) { s.field(fd.name, fd.of(rec)); });
  return s.finish();
}

// `Os { code: 2, kind: NotFound, message: "No such file or directory" }`
bool write_debug(Formatter& f, const OsError& error);

// The compact form of `value` as a string (for messages).
template <class T>
std::string compact_string(const T& value) {
  StringSink out;
  Formatter f(out, Form::Compact);
  write_debug(f, value);
  return out.take();
}

// --- builder templates ---

template <class T>
DebugStruct& DebugStruct::field(std::string_view name, const T& value) {
  if (!ok_) return *this;
  if (f_.pretty()) {
    PadAdapter pad(f_.sink());
    Formatter inner(pad, Form::Pretty);
    ok_ = begin_field(name, inner) && write_debug(inner, value) && end_field(inner);
  } else {
    ok_ = begin_field(name, f_) && write_debug(f_, value) && end_field(f_);
  }
  has_fields_ = true;
  return *this;
}

template <class T>
DebugTuple& DebugTuple::field(const T& value) {
  if (!ok_) return *this;
  if (f_.pretty()) {
    PadAdapter pad(f_.sink());
    Formatter inner(pad, Form::Pretty);
    ok_ = begin_field(inner) && write_debug(inner, value) && end_field(inner);
  } else {
    ok_ = begin_field(f_) && write_debug(f_, value) && end_field(f_);
  }
  has_fields_ = true;
  return *this;
}

template <class T>
DebugList& DebugList::entry(const T& value) {
  if (!ok_) return *this;
  if (f_.pretty()) {
    PadAdapter pad(f_.sink());
    Formatter inner(pad, Form::Pretty);
    ok_ = begin_entry(inner) && write_debug(inner, value) && end_entry(inner);
  } else {
    ok_ = begin_entry(f_) && write_debug(f_, value) && end_entry(f_);
  }
  has_entries_ = true;
  return *this;
}

template <class K, class V>
DebugMap& DebugMap::entry(const K& key, const V& value) {
  if (!ok_) return *this;
  if (f_.pretty()) {
    PadAdapter pad(f_.sink());
    Formatter inner(pad, Form::Pretty);
    ok_ = begin_entry(inner) && write_debug(inner, key) && mid_entry(inner) &&
          write_debug(inner, value) && end_entry(inner);
  } else {
    ok_ = begin_entry(f_) && write_debug(f_, key) && mid_entry(f_) && write_debug(f_, value) &&
          end_entry(f_);
  }
  has_entries_ = true;
  return *this;
}

}  // namespace tracemill
