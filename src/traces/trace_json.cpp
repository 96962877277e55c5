#include "traces/trace_json.h"

#include <charconv>

namespace tracemill {
namespace {

// Decimal digits with an optional leading '-', nothing else.
bool parse_decimal(std::string_view s, std::int64_t& out) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool parse_unsigned(std::string_view s, std::uint64_t& out) {
  if (s.empty() || s[0] == '-') return false;
  if (s.size() <= 19) {
    // Nineteen digits or fewer always fit; OTLP's nanosecond times are such strings.
    std::uint64_t v = 0;
    for (char c : s) {
      const auto digit = static_cast<unsigned>(static_cast<unsigned char>(c) - '0');
      if (digit > 9) return false;
      v = v * 10 + digit;
    }
    out = v;
    return true;
  }
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

bool TraceJson::wrong_value(std::string_view what, std::string_view is_not) {
  const int c = r_.peek();
  if (c == JsonReader::kEnd) return fail("EOF while parsing a value");
  const bool value = c == '{' || c == '[' || c == '"' || c == '-' || (c >= '0' && c <= '9') ||
                     c == 't' || c == 'f' || c == 'n';
  if (!value) return fail("expected value");
  return fail(std::string(what) + std::string(is_not));
}

bool TraceJson::null() {
  r_.take();
  return r_.read_ident("ull");
}

bool TraceJson::text_view(std::string_view what, std::string_view& out) {
  int c = r_.peek();
  if (c == '"') {
    r_.take();
    return r_.read_string(out);
  }
  if (c == 'n') {
    out = {};
    return null();
  }
  return fail(std::string(what) + " is not a string");
}

bool TraceJson::text(std::string_view what, std::string& out) {
  std::string_view view;
  if (!text_view(what, view)) return false;
  out.assign(view);
  return true;
}

bool TraceJson::integer(std::string_view what, std::int64_t& out, bool& present) {
  int c = r_.peek();
  present = false;
  if (c == 'n') return null();
  if (c == '"') {
    r_.take();
    std::string_view s;
    if (!r_.read_string(s)) return false;
    if (!parse_decimal(s, out)) return fail(std::string(what) + " is not an integer");
    present = true;
    return true;
  }
  if (c == '-' || (c >= '0' && c <= '9')) {
    JsonNumber n;
    if (!r_.read_number(n)) return false;
    if (n.kind == JsonNumber::Kind::Float) return fail(std::string(what) + " is not an integer");
    if (n.kind == JsonNumber::Kind::Unsigned) {
      if (n.u > static_cast<std::uint64_t>(INT64_MAX)) {
        return fail(std::string(what) + " is out of range");
      }
      out = static_cast<std::int64_t>(n.u);
    } else {
      out = n.i;
    }
    present = true;
    return true;
  }
  return fail(std::string(what) + " is not an integer");
}

bool TraceJson::unsigned_integer(std::string_view what, std::uint64_t& out, bool& present) {
  int c = r_.peek();
  present = false;
  if (c == 'n') return null();
  if (c == '"') {
    r_.take();
    std::string_view s;
    if (!r_.read_string(s)) return false;
    if (!parse_unsigned(s, out)) return fail(std::string(what) + " is not an unsigned integer");
    present = true;
    return true;
  }
  if (c >= '0' && c <= '9') {
    JsonNumber n;
    if (!r_.read_number(n)) return false;
    if (n.kind != JsonNumber::Kind::Unsigned) {
      return fail(std::string(what) + " is not an unsigned integer");
    }
    out = n.u;
    present = true;
    return true;
  }
  return fail(std::string(what) + " is not an unsigned integer");
}

bool TraceJson::scalar_text(std::string& out) {
  int c = r_.peek();
  out.clear();
  if (c == '"') {
    r_.take();
    std::string_view s;
    if (!r_.read_string(s)) return false;
    out.assign(s);
    return true;
  }
  if (c == '-' || (c >= '0' && c <= '9')) {
    JsonNumber n;
    if (!r_.read_number(n)) return false;
    switch (n.kind) {
      case JsonNumber::Kind::Unsigned:
        out = std::to_string(n.u);
        break;
      case JsonNumber::Kind::Signed:
        out = std::to_string(n.i);
        break;
      case JsonNumber::Kind::Float:
        out = float_text(n.f);
        break;
    }
    return true;
  }
  if (c == 't' || c == 'f') {
    bool b = false;
    if (!flag(b)) return false;
    out = b ? "true" : "false";
    return true;
  }
  return r_.skip_value();
}

bool TraceJson::flag(bool& out) {
  int c = r_.peek();
  out = false;
  if (c == 't') {
    r_.take();
    out = true;
    return r_.read_ident("rue");
  }
  if (c == 'f') {
    r_.take();
    return r_.read_ident("alse");
  }
  if (c == '"') {
    r_.take();
    std::string_view s;
    if (!r_.read_string(s)) return false;
    out = s == "true";
    return true;
  }
  return r_.skip_value();
}

}  // namespace tracemill
