#include "stats/file/json_reader.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "base/os_error.h"
#include "base/utf8.h"

namespace tracemill {

namespace {

// The doubles nearest to 10^0 .. 10^308.
constexpr double kPow10[309] = {
    1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,
    1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,
    1e26,  1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,
    1e39,  1e40,  1e41,  1e42,  1e43,  1e44,  1e45,  1e46,  1e47,  1e48,  1e49,  1e50,  1e51,
    1e52,  1e53,  1e54,  1e55,  1e56,  1e57,  1e58,  1e59,  1e60,  1e61,  1e62,  1e63,  1e64,
    1e65,  1e66,  1e67,  1e68,  1e69,  1e70,  1e71,  1e72,  1e73,  1e74,  1e75,  1e76,  1e77,
    1e78,  1e79,  1e80,  1e81,  1e82,  1e83,  1e84,  1e85,  1e86,  1e87,  1e88,  1e89,  1e90,
    1e91,  1e92,  1e93,  1e94,  1e95,  1e96,  1e97,  1e98,  1e99,  1e100, 1e101, 1e102, 1e103,
    1e104, 1e105, 1e106, 1e107, 1e108, 1e109, 1e110, 1e111, 1e112, 1e113, 1e114, 1e115, 1e116,
    1e117, 1e118, 1e119, 1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127, 1e128, 1e129,
    1e130, 1e131, 1e132, 1e133, 1e134, 1e135, 1e136, 1e137, 1e138, 1e139, 1e140, 1e141, 1e142,
    1e143, 1e144, 1e145, 1e146, 1e147, 1e148, 1e149, 1e150, 1e151, 1e152, 1e153, 1e154, 1e155,
    1e156, 1e157, 1e158, 1e159, 1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166, 1e167, 1e168,
    1e169, 1e170, 1e171, 1e172, 1e173, 1e174, 1e175, 1e176, 1e177, 1e178, 1e179, 1e180, 1e181,
    1e182, 1e183, 1e184, 1e185, 1e186, 1e187, 1e188, 1e189, 1e190, 1e191, 1e192, 1e193, 1e194,
    1e195, 1e196, 1e197, 1e198, 1e199, 1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206, 1e207,
    1e208, 1e209, 1e210, 1e211, 1e212, 1e213, 1e214, 1e215, 1e216, 1e217, 1e218, 1e219, 1e220,
    1e221, 1e222, 1e223, 1e224, 1e225, 1e226, 1e227, 1e228, 1e229, 1e230, 1e231, 1e232, 1e233,
    1e234, 1e235, 1e236, 1e237, 1e238, 1e239, 1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246,
    1e247, 1e248, 1e249, 1e250, 1e251, 1e252, 1e253, 1e254, 1e255, 1e256, 1e257, 1e258, 1e259,
    1e260, 1e261, 1e262, 1e263, 1e264, 1e265, 1e266, 1e267, 1e268, 1e269, 1e270, 1e271, 1e272,
    1e273, 1e274, 1e275, 1e276, 1e277, 1e278, 1e279, 1e280, 1e281, 1e282, 1e283, 1e284, 1e285,
    1e286, 1e287, 1e288, 1e289, 1e290, 1e291, 1e292, 1e293, 1e294, 1e295, 1e296, 1e297, 1e298,
    1e299, 1e300, 1e301, 1e302, 1e303, 1e304, 1e305, 1e306, 1e307, 1e308};

int hex_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string float_text(double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  std::string out;
  if (s.front() == '-') {
    out += '-';
    s.remove_prefix(1);
  }
  std::size_t e = s.find('e');
  std::string digits(1, s[0]);
  if (e > 1) digits.append(s.substr(2, e - 2));
  std::string_view exp_text = s.substr(e + 1);
  bool negative_exp = exp_text.front() == '-';
  int exp = 0;
  std::from_chars(exp_text.data() + 1, exp_text.data() + exp_text.size(), exp);
  if (negative_exp) exp = -exp;
  int n = static_cast<int>(digits.size());
  if (exp >= n - 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exp - (n - 1)), '0');
  } else if (exp >= 0) {
    out.append(digits, 0, static_cast<std::size_t>(exp + 1));
    out += '.';
    out.append(digits, static_cast<std::size_t>(exp + 1));
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-exp - 1), '0');
    out += digits;
  }
  return out;
}

JsonReader::JsonReader(ByteSource& source)
    : source_(source),
      p_(source.data()),
      end_(source.limit()),
      block_start_(source.data()),
      scanned_(source.data()) {}

bool JsonReader::fill() {
  count_lines(end_);
  block_offset_ += static_cast<std::uint64_t>(end_ - block_start_);
  source_.advance_to(end_);
  bool ok = source_.refill();
  block_start_ = scanned_ = p_ = source_.data();
  end_ = source_.limit();
  if (!ok && source_.error() != 0) read_errno_ = source_.error();
  return ok;
}

void JsonReader::count_lines(const char* upto) {
  const char* q = scanned_;
  while (q < upto) {
    const void* lf = std::memchr(q, '\n', static_cast<std::size_t>(upto - q));
    if (lf == nullptr) break;
    q = static_cast<const char*>(lf) + 1;
    ++lines_;
    line_start_ = block_offset_ + static_cast<std::uint64_t>(q - block_start_);
  }
  scanned_ = upto;
}

bool JsonReader::fail(std::string_view message) {
  if (read_errno_ != 0) {
    error_.message = os_error_display(read_errno_);
    if (!started_ || ended_) {
      error_.line = 0;
      error_.column = 0;
      return false;
    }
  } else {
    error_.message = std::string(message);
  }
  const char* upto = p_ + (look_ ? 1 : 0);
  count_lines(upto);
  error_.line = lines_ + 1;
  error_.column = block_offset_ + static_cast<std::uint64_t>(upto - block_start_) - line_start_;
  return false;
}

bool JsonReader::end_document() {
  ended_ = true;
  if (peek() != kEnd) return fail("trailing characters");
  if (read_errno_ != 0) return fail("");
  return true;
}

bool JsonReader::read_ident(std::string_view rest) {
  for (char expected : rest) {
    int c = next_byte();
    if (c == kEnd) return fail("EOF while parsing a value");
    if (c != static_cast<unsigned char>(expected)) return fail("expected ident");
  }
  return true;
}

// --- strings ---

bool JsonReader::check_utf8(std::string_view text) {
  if (!tracemill::check_utf8(text)) return true;
  return fail("invalid unicode code point");
}

bool JsonReader::read_string_slow(std::string_view& out) {
  scratch_.clear();
  if (!string_body(StringUse::Keep)) return false;
  out = scratch_;
  return check_utf8(out);
}

bool JsonReader::string_body(StringUse use) {
  Utf8Checker utf8;
  for (;;) {
    const char* q = scan_plain(p_, end_);
    if (use == StringUse::Keep) {
      scratch_.append(p_, q);
    } else if (use == StringUse::Check) {
      utf8.add(std::string_view(p_, static_cast<std::size_t>(q - p_)));
    }
    p_ = q;
    look_ = false;
    if (q == end_) {
      if (!fill()) return fail("EOF while parsing a string");
      continue;
    }
    char c = *q;
    p_ = q + 1;
    if (c == '"') {
      if (use == StringUse::Check && utf8.finish()) return fail("invalid unicode code point");
      return true;
    }
    if (c != '\\') return fail("control character (\\u0000-\\u001F) found while parsing a string");
    if (use == StringUse::Keep) {
      if (!read_escape(use, scratch_)) return false;
    } else {
      escaped_.clear();
      if (!read_escape(use, escaped_)) return false;
      if (use == StringUse::Check) utf8.add(escaped_);
    }
  }
}

bool JsonReader::read_hex4(unsigned& value) {
  value = 0;
  for (int k = 0; k < 4; ++k) {
    int c = next_byte();
    if (c == kEnd) return fail("EOF while parsing a string");
    int v = hex_value(c);
    if (v < 0) return fail("invalid escape");
    value = value * 16 + static_cast<unsigned>(v);
  }
  return true;
}

bool JsonReader::read_escape(StringUse use, std::string& out) {
  int c = next_byte();
  char plain;
  switch (c) {
    case kEnd:
      return fail("EOF while parsing a string");
    case '"':
    case '\\':
    case '/':
      plain = static_cast<char>(c);
      break;
    case 'b':
      plain = '\b';
      break;
    case 'f':
      plain = '\f';
      break;
    case 'n':
      plain = '\n';
      break;
    case 'r':
      plain = '\r';
      break;
    case 't':
      plain = '\t';
      break;
    case 'u': {
      unsigned cp;
      if (!read_hex4(cp)) return false;
      if (use == StringUse::Skip) return true;
      if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("lone leading surrogate in hex escape");
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        for (char expected : {'\\', 'u'}) {
          int d = next_byte();
          if (d == kEnd) return fail("EOF while parsing a string");
          if (d != expected) return fail("unexpected end of hex escape");
        }
        unsigned low;
        if (!read_hex4(low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail("lone leading surrogate in hex escape");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      append_utf8(out, cp);
      return true;
    }
    default:
      return fail("invalid escape");
  }
  out += plain;
  return true;
}

// --- numbers ---

namespace {
constexpr std::uint64_t kU64Max = ~std::uint64_t{0};
bool overflows_u64(std::uint64_t v, std::uint64_t digit) {
  return v >= kU64Max / 10 && (v > kU64Max / 10 || digit > kU64Max % 10);
}
}  // namespace

bool JsonReader::read_number_slow(JsonNumber& out) {
  bool positive = true;
  if (peek_byte() == '-') {
    take();
    positive = false;
  }
  int c = next_byte();
  if (c == kEnd) return fail("EOF while parsing a value");
  if (c == '0') {
    if (is_digit(peek_byte())) return fail("invalid number");
    return finish_number(positive, 0, out);
  }
  if (!is_digit(c)) return fail("invalid number");
  std::uint64_t significand = static_cast<std::uint64_t>(c - '0');
  for (;;) {
    int d = peek_byte();
    if (!is_digit(d)) return finish_number(positive, significand, out);
    auto digit = static_cast<std::uint64_t>(d - '0');
    if (overflows_u64(significand, digit)) return read_long_integer(positive, significand, out);
    take();
    significand = significand * 10 + digit;
  }
}

bool JsonReader::finish_number(bool positive, std::uint64_t significand, JsonNumber& out) {
  int d = peek_byte();
  if (d == '.') return read_decimal(positive, significand, 0, out);
  if (d == 'e' || d == 'E') return read_exponent(positive, significand, 0, out);
  set_integer(out, !positive, significand);
  return true;
}

// Digits beyond the accumulator are dropped, each raising the decimal exponent.
bool JsonReader::read_long_integer(bool positive, std::uint64_t significand, JsonNumber& out) {
  int exponent = 0;
  for (;;) {
    int d = peek_byte();
    if (is_digit(d)) {
      take();
      ++exponent;
    } else if (d == '.') {
      return read_decimal(positive, significand, exponent, out);
    } else if (d == 'e' || d == 'E') {
      return read_exponent(positive, significand, exponent, out);
    } else {
      return float_from_parts(positive, significand, exponent, out);
    }
  }
}

bool JsonReader::read_decimal(bool positive, std::uint64_t significand, int exponent,
                              JsonNumber& out) {
  take();  // the '.'
  int after_point = 0;
  int d;
  for (;;) {
    d = peek_byte();
    if (!is_digit(d)) break;
    auto digit = static_cast<std::uint64_t>(d - '0');
    if (overflows_u64(significand, digit)) {
      return read_decimal_overflow(positive, significand, exponent + after_point, out);
    }
    take();
    significand = significand * 10 + digit;
    --after_point;
  }
  if (after_point == 0) return fail(d == kEnd ? "EOF while parsing a value" : "invalid number");
  if (d == 'e' || d == 'E')
    return read_exponent(positive, significand, exponent + after_point, out);
  return float_from_parts(positive, significand, exponent + after_point, out);
}

bool JsonReader::read_decimal_overflow(bool positive, std::uint64_t significand, int exponent,
                                       JsonNumber& out) {
  int d;
  while (is_digit(d = peek_byte())) take();
  if (d == 'e' || d == 'E') return read_exponent(positive, significand, exponent, out);
  return float_from_parts(positive, significand, exponent, out);
}

bool JsonReader::read_exponent(bool positive, std::uint64_t significand, int exponent,
                               JsonNumber& out) {
  take();  // the 'e'
  bool positive_exp = true;
  int d = peek_byte();
  if (d == '+') {
    take();
  } else if (d == '-') {
    take();
    positive_exp = false;
  }
  int c = next_byte();
  if (c == kEnd) return fail("EOF while parsing a value");
  if (!is_digit(c)) return fail("invalid number");
  int exp = c - '0';
  while (is_digit(d = peek_byte())) {
    take();
    int digit = d - '0';
    if (exp > INT_MAX / 10 || (exp == INT_MAX / 10 && digit > INT_MAX % 10)) {
      // An exponent beyond i32: infinity is an error, everything else is zero.
      if (significand != 0 && positive_exp) return fail("number out of range");
      while (is_digit(peek_byte())) take();
      out.kind = JsonNumber::Kind::Float;
      out.f = positive ? 0.0 : -0.0;
      return true;
    }
    exp = exp * 10 + digit;
  }
  long long total = positive_exp ? static_cast<long long>(exponent) + exp
                                 : static_cast<long long>(exponent) - exp;
  if (total > INT_MAX) total = INT_MAX;
  if (total < INT_MIN) total = INT_MIN;
  return float_from_parts(positive, significand, static_cast<int>(total), out);
}

bool JsonReader::float_from_parts(bool positive, std::uint64_t significand, int exponent,
                                  JsonNumber& out) {
  double f = static_cast<double>(significand);
  long long e = exponent;
  for (;;) {
    long long magnitude = e < 0 ? -e : e;
    if (magnitude <= 308) {
      if (e >= 0) {
        f *= kPow10[magnitude];
        if (std::isinf(f)) return fail("number out of range");
      } else {
        f /= kPow10[magnitude];
      }
      break;
    }
    if (f == 0) break;
    if (e >= 0) return fail("number out of range");
    f /= 1e308;
    e += 308;
  }
  out.kind = JsonNumber::Kind::Float;
  out.f = positive ? f : -f;
  return true;
}

bool JsonReader::skip_number() {
  if (peek_byte() == '-') take();
  int c = next_byte();
  if (c == '0') {
    if (is_digit(peek_byte())) return fail("invalid number");
  } else if (c >= '1' && c <= '9') {
    while (is_digit(peek_byte())) take();
  } else {
    return fail("invalid number");
  }
  int d = peek_byte();
  if (d == '.') {
    take();
    bool any = false;
    while (is_digit(d = peek_byte())) {
      take();
      any = true;
    }
    if (!any) return fail("invalid number");
  }
  if (d == 'e' || d == 'E') {
    take();
    d = peek_byte();
    if (d == '+' || d == '-') take();
    if (!is_digit(next_byte())) return fail("invalid number");
    while (is_digit(peek_byte())) take();
  }
  return true;
}

// --- containers ---

JsonReader::Next JsonReader::next_element_slow(bool first) {
  int c = peek();
  if (c == ']') return Next::Close;
  if (!first) {
    if (c == ',') {
      take();
      c = peek();
      if (c == ']') return fail("trailing comma"), Next::Error;
      if (c == kEnd) return fail("EOF while parsing a value"), Next::Error;
      return Next::Item;
    }
    if (c == kEnd) return fail("EOF while parsing a list"), Next::Error;
    return fail("expected `,` or `]`"), Next::Error;
  }
  if (c == kEnd) return fail("EOF while parsing a list"), Next::Error;
  return Next::Item;
}

JsonReader::Next JsonReader::next_member_slow(bool first) {
  int c = peek();
  if (c == '}') return Next::Close;
  if (!first) {
    if (c == ',') {
      take();
      c = peek();
      if (c == '"') {
        take();
        return Next::Item;
      }
      if (c == '}') return fail("trailing comma"), Next::Error;
      if (c == kEnd) return fail("EOF while parsing a value"), Next::Error;
      return fail("key must be a string"), Next::Error;
    }
    if (c == kEnd) return fail("EOF while parsing an object"), Next::Error;
    return fail("expected `,` or `}`"), Next::Error;
  }
  if (c == '"') {
    take();
    return Next::Item;
  }
  if (c == kEnd) return fail("EOF while parsing an object"), Next::Error;
  return fail("key must be a string"), Next::Error;
}

bool JsonReader::read_colon_slow() {
  int c = peek();
  if (c == ':') {
    take();
    return true;
  }
  if (c == kEnd) return fail("EOF while parsing an object");
  return fail("expected `:`");
}

bool JsonReader::close_array() {
  int c = peek();
  if (c == ']') {
    take();
    return true;
  }
  if (c == ',') {
    take();
    if (peek() == ']') return fail("trailing comma");
    return fail("trailing characters");
  }
  if (c == kEnd) return fail("EOF while parsing a list");
  return fail("trailing characters");
}

// --- skipping ---

// A member name of a skipped object and its colon.
bool JsonReader::skip_key() {
  int c = peek();
  if (c == kEnd) return fail("EOF while parsing an object");
  if (c != '"') return fail("key must be a string");
  take();
  return string_body(StringUse::Skip) && read_colon();
}

// Iterative, with an explicit stack of the open brackets, so that depth costs no call stack.
bool JsonReader::skip_value() {
  std::vector<char>& open = open_brackets_;
  open.clear();
  for (;;) {
    int c = peek();
    switch (c) {
      case kEnd:
        return fail("EOF while parsing a value");
      case 'n':
        take();
        if (!read_ident("ull")) return false;
        break;
      case 't':
        take();
        if (!read_ident("rue")) return false;
        break;
      case 'f':
        take();
        if (!read_ident("alse")) return false;
        break;
      case '"':
        take();
        if (!string_body(StringUse::Skip)) return false;
        break;
      case '[':
      case '{': {
        take();
        int close = c == '[' ? ']' : '}';
        int d = peek();
        if (d == close) {
          take();
          break;  // an empty container is a finished value
        }
        if (d == kEnd)
          return fail(c == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
        open.push_back(static_cast<char>(c));
        if (c == '{' && !skip_key()) return false;
        continue;  // the first element or member value
      }
      default:
        if (c == '-' || is_digit(c)) {
          if (!skip_number()) return false;
          break;
        }
        return fail("expected value");
    }
    // After a value: close the finished containers, then go on with the next element.
    for (;;) {
      if (open.empty()) return true;
      char frame = open.back();
      int d = peek();
      if (d == ',') {
        take();
        if (frame == '{' && !skip_key()) return false;
        break;
      }
      if (d == (frame == '[' ? ']' : '}')) {
        take();
        open.pop_back();
        continue;
      }
      if (d == kEnd) {
        return fail(frame == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
      }
      return fail(frame == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
    }
  }
}

}  // namespace tracemill
