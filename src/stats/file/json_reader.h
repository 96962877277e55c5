// JsonReader: a strict streaming reader of one JSON document, pulling bytes straight from a
// ByteSource's buffer. It recognises the tokens, keeps the position for error messages, skips
// unwanted values and builds the JsonError; the record mapping (json_decode.cpp) drives it.
//
// Position model: every byte taken advances the position, including a byte only looked at
// (the lookahead). Bytes before p_ are taken; the byte at p_ is taken too while look_ is set.
// Line and column are derived lazily from the byte offset when an error is built.
//
// Errors: every operation returns false on failure and leaves the error in error(); the
// reader must not be used after a failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "base/words.h"
#include "stats/file/json_scan.h"
#include "stats/file/load_error.h"

namespace tracemill {

// A number classified as an unsigned integer, a signed (negative) integer or a float.
struct JsonNumber {
  enum class Kind { Unsigned, Signed, Float };
  Kind kind = Kind::Unsigned;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double f = 0;
};

// "1.5", "2", "-0", "100000000000000000000": the shortest decimal that reads back as `value`,
// written without exponent.
std::string float_text(double value);

class JsonReader {
 public:
  static constexpr int kEnd = -1;

  // Reads from `source`, which must outlive the reader.
  explicit JsonReader(ByteSource& source);

  // Skips whitespace and looks at the next byte without consuming it (it counts for the
  // position). Returns kEnd at the end of the input.
  int peek() {
    for (;;) {
      while (p_ < end_) {
        unsigned char c = static_cast<unsigned char>(*p_);
        if (c > ' ' || !is_blank(c)) {
          look_ = true;
          return c;
        }
        ++p_;
      }
      if (!fill()) {
        look_ = false;
        return kEnd;
      }
    }
  }
  // Looks at the next byte without skipping whitespace.
  int peek_byte() {
    if (p_ == end_ && !fill()) {
      look_ = false;
      return kEnd;
    }
    look_ = true;
    return static_cast<unsigned char>(*p_);
  }
  // Requires: the last peek returned a byte. Consumes it.
  void take() {
    ++p_;
    look_ = false;
  }

  // Marks the start of the document: a read failure before it has no position.
  void start_document() { started_ = true; }
  // Checks that only whitespace follows the document ("trailing characters" otherwise).
  bool end_document();

  // Builds the error `message` at the current position and returns false. After a read
  // failure of the source, the read failure is reported instead.
  bool fail(std::string_view message);
  const JsonError& error() const { return error_; }
  JsonError take_error() { return std::move(error_); }

  // Requires: the opening quote was taken. Reads a string, resolving escapes and checking
  // UTF-8. `out` views the text until the next call on the reader.
  bool read_string(std::string_view& out) {
    const char* q = scan_plain(p_, end_);
    if (q < end_ && *q == '"') {
      out = std::string_view(p_, static_cast<std::size_t>(q - p_));
      p_ = q + 1;
      look_ = false;
      if (ascii_seen_) return true;
      return check_utf8(out);
    }
    return read_string_slow(out);
  }
  // read_string for a text that is only checked: the same checks and errors, but the text is
  // not kept, so a string of any length costs no memory.
  bool check_string() {
    const char* q = scan_plain(p_, end_);
    if (q < end_ && *q == '"') {
      std::string_view text(p_, static_cast<std::size_t>(q - p_));
      p_ = q + 1;
      look_ = false;
      if (ascii_seen_) return true;
      return check_utf8(text);
    }
    return string_body(StringUse::Check);
  }
  // Requires: the first byte ('-' or a digit) was peeked. Reads and classifies a number.
  bool read_number(JsonNumber& out) {
    // Fast path for integers of up to nineteen digits with room behind them in the buffer.
    if (end_ - p_ >= 32) {
      bool negative = *p_ == '-';
      const char* s = p_ + (negative ? 1 : 0);
      const char* d = s;
      std::uint64_t v = 0;
      for (int k = 0; k < 3; ++k) {
        std::uint64_t w = load_le64(d);
        int n = json_scan::leading_digits(w);
        if (n > 0) {
          v = v * kPow10Int[n] + json_scan::digits_value(w, n);
          d += n;
        }
        if (n < 8) break;
      }
      char t = *d;
      if (d > s && d - s <= 19 && t != '.' && t != 'e' && t != 'E' && !(d - s > 1 && *s == '0')) {
        p_ = d;
        look_ = true;  // the byte after the number was looked at
        set_integer(out, negative, v);
        return true;
      }
    }
    return read_number_slow(out);
  }
  // Requires: 't', 'f' or 'n' was taken. Checks the rest of the literal.
  bool read_ident(std::string_view rest);

  // Skips one whole value of any kind, checking its form only.
  bool skip_value();

  // Typed containers. enter() spends one unit of the nesting allowance; leave() returns it.
  bool enter() {
    if (--depth_left_ == 0) return fail("recursion limit exceeded");
    return true;
  }
  void leave() { ++depth_left_; }
  enum class Next { Error, Close, Item };
  // After "[" (first) or an element: Item when an element follows (its first byte peeked),
  // Close when "]" was peeked (not taken).
  Next next_element(bool first) {
    // Compact input: a ',' (not before the first element) and the element's first byte, or the
    // closing bracket.
    const char* p = p_;
    if (p < end_ && *p == ']') {
      look_ = true;
      return Next::Close;
    }
    if (!first) {
      if (p == end_ || *p != ',') return next_element_slow(first);
      ++p;
    }
    if (p<end_&& static_cast<unsigned char>(*p)> ' ' && *p != ']') {
      p_ = p;
      look_ = true;
      return Next::Item;
    }
    return next_element_slow(first);
  }
  // After "{" (first) or a member value: Item when a member follows (its opening quote
  // taken), Close when "}" was peeked (not taken).
  Next next_member(bool first) {
    const char* p = p_;
    if (p < end_ && *p == '}') {
      look_ = true;
      return Next::Close;
    }
    if (!first) {
      if (p == end_ || *p != ',') return next_member_slow(first);
      ++p;
    }
    if (p < end_ && *p == '"') {
      p_ = p + 1;
      look_ = false;
      return Next::Item;
    }
    return next_member_slow(first);
  }
  // Reads the ":" after a member name.
  bool read_colon() {
    if (p_ < end_ && *p_ == ':') {
      ++p_;
      look_ = false;
      return true;
    }
    return read_colon_slow();
  }
  // The closing check of an array whose contents stopped by themselves.
  bool close_array();

  // Takes the bytes of `literal` when they come next, without skipping blanks; false (and
  // nothing taken) otherwise.
  bool take_literal(const json_scan::Literal& literal) {
    if (static_cast<std::size_t>(end_ - p_) < literal.length ||
        !json_scan::starts_with(p_, literal)) {
      return false;
    }
    p_ += literal.length;
    look_ = false;
    return true;
  }

  // In a list of integers whose values are only checked: takes the elements that follow and
  // are plainly valid (json_scan::integer_run) in bulk, leaving the reader where reading them
  // one by one would. `first`: right after the "[", otherwise after an element. Returns the
  // bytes taken (from the comma before the first element unless `first`), empty when none.
  std::string_view skim_integers(bool first, bool negatives) {
    const char* p = p_;
    // Blanks after the comma (pretty printing) leave nothing to take: do not look further.
    if (end_ - p < 2 || !is_digit(p[first ? 0 : 1]) || (!first && *p != ',')) return {};
    std::size_t n = json_scan::integer_run(p, end_, first, negatives);
    if (n == 0) return {};
    p_ = p + n;
    look_ = true;  // the comma after the last element was looked at
    return {p, n};
  }

 private:
  static bool is_blank(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
  static bool is_digit(int c) { return c >= '0' && c <= '9'; }

  // Returns the first byte in [p, end) that is a quote, a backslash or a control byte, or
  // end; sets ascii_seen_ to whether every byte before it is ASCII.
  const char* scan_plain(const char* p, const char* end) {
    json_scan::StringRun run = json_scan::string_run(p, end);
    ascii_seen_ = run.ascii;
    return run.stop;
  }

  static constexpr std::uint64_t kPow10Int[9] = {1,      10,      100,      1000,     10000,
                                                 100000, 1000000, 10000000, 100000000};
  static void set_integer(JsonNumber& out, bool negative, std::uint64_t v) {
    if (!negative) {
      out.kind = JsonNumber::Kind::Unsigned;
      out.u = v;
    } else if (v == 0 || v > (std::uint64_t{1} << 63)) {
      out.kind = JsonNumber::Kind::Float;  // "-0" and integers below the i64 range
      out.f = -static_cast<double>(v);
    } else {
      out.kind = JsonNumber::Kind::Signed;
      out.i = static_cast<std::int64_t>(~v + 1);
    }
  }

  // Loads the next block; false at the end of the input or on a read failure.
  bool fill();
  // Takes the next byte; kEnd at the end.
  int next_byte() {
    int c = peek_byte();
    if (c != kEnd) take();
    return c;
  }
  void count_lines(const char* upto);

  Next next_element_slow(bool first);
  Next next_member_slow(bool first);
  bool read_colon_slow();
  bool read_string_slow(std::string_view& out);
  // What string_body does with the text: resolves its escapes into scratch_ (Keep), checks the
  // resolved text for UTF-8 as it goes without keeping it (Check), or checks the form of the
  // escapes only, as for a skipped value (Skip).
  enum class StringUse { Keep, Check, Skip };
  // The rest of a string after its opening quote, up to and including the closing quote.
  bool string_body(StringUse use);
  // After a backslash: checks the escape; with Keep or Check, a \u escape must be a whole
  // character (surrogates paired) and the character is appended to `out`.
  bool read_escape(StringUse use, std::string& out);
  bool read_hex4(unsigned& value);
  bool check_utf8(std::string_view text);

  bool read_number_slow(JsonNumber& out);
  bool finish_number(bool positive, std::uint64_t significand, JsonNumber& out);
  bool read_long_integer(bool positive, std::uint64_t significand, JsonNumber& out);
  bool read_decimal(bool positive, std::uint64_t significand, int exponent, JsonNumber& out);
  bool read_decimal_overflow(bool positive, std::uint64_t significand, int exponent,
                             JsonNumber& out);
  bool read_exponent(bool positive, std::uint64_t significand, int exponent, JsonNumber& out);
  bool float_from_parts(bool positive, std::uint64_t significand, int exponent, JsonNumber& out);
  bool skip_number();
  bool skip_key();

  ByteSource& source_;
  const char* p_;
  const char* end_;
  bool look_ = false;
  bool ascii_seen_ = true;
  int depth_left_ = 128;

  // Lazy position: bytes before scanned_ are counted into lines_ and line_start_.
  const char* block_start_;
  const char* scanned_;
  std::uint64_t block_offset_ = 0;  // offset of block_start_ in the input
  std::uint64_t lines_ = 0;         // line feeds counted
  std::uint64_t line_start_ = 0;    // offset just after the last line feed counted

  int read_errno_ = 0;
  bool started_ = false;
  bool ended_ = false;
  JsonError error_;
  std::string scratch_;
  std::string escaped_;  // one escaped character of a checked string
  std::vector<char> open_brackets_;
};

}  // namespace tracemill
