#include "stats/file/json_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_source.h"

namespace tracemill {
namespace {

// The block sizes every table runs at: a byte at a time, an odd size and the real buffer.
constexpr std::size_t kBlocks[] = {1, 7, ByteSource::kBufferSize};

std::string error_text(const JsonError& e) {
  return e.message + " @" + std::to_string(e.line) + ":" + std::to_string(e.column);
}

// Skips one value and checks that only whitespace follows: "ok" or the error.
std::string skip(const std::string& input, std::size_t block) {
  ByteSource source = ByteSource::from_memory(input, block);
  JsonReader reader(source);
  reader.start_document();
  if (!reader.skip_value() || !reader.end_document()) return error_text(reader.error());
  return "ok";
}

// Reads one string value: the decoded text in brackets, or the error.
std::string string_value(const std::string& input, std::size_t block) {
  ByteSource source = ByteSource::from_memory(input, block);
  JsonReader reader(source);
  std::string_view text;
  if (reader.peek() != '"') return "not a string";
  reader.take();
  if (!reader.read_string(text)) return error_text(reader.error());
  return "[" + std::string(text) + "]";
}

// Reads one number: "u:N", "i:N", "f:F", or the error.
std::string number_value(const std::string& input, std::size_t block) {
  ByteSource source = ByteSource::from_memory(input, block);
  JsonReader reader(source);
  JsonNumber n;
  reader.peek();
  if (!reader.read_number(n)) return error_text(reader.error());
  switch (n.kind) {
    case JsonNumber::Kind::Unsigned:
      return "u:" + std::to_string(n.u);
    case JsonNumber::Kind::Signed:
      return "i:" + std::to_string(n.i);
    case JsonNumber::Kind::Float:
      return "f:" + float_text(n.f);
  }
  return "";
}

struct Case {
  std::string input;
  std::string expected;
};

TEST(JsonReader, SkipsValuesAndReportsSyntaxErrors) {
  const std::vector<Case> cases = {
      {"  \n\t\r\n  ", "EOF while parsing a value @3:2"},
      {"@", "expected value @1:1"},
      {" [1, -2.5e+3, true, false, null, \"s\", {\"a\": [{}]}] ", "ok"},
      {"[1,]", "expected value @1:4"},
      {"{\"a\":1,}", "key must be a string @1:8"},
      {"[1 2]", "expected `,` or `]` @1:4"},
      {"[1}", "expected `,` or `]` @1:3"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` @1:8"},
      {"{\"a\" 1}", "expected `:` @1:6"},
      {"{1:2}", "key must be a string @1:2"},
      {"{\"a\":[}", "expected value @1:7"},
      {"[", "EOF while parsing a list @1:1"},
      {"[1", "EOF while parsing a list @1:2"},
      {"[1,", "EOF while parsing a value @1:3"},
      {"{", "EOF while parsing an object @1:1"},
      {"{\"a\"", "EOF while parsing an object @1:4"},
      {"{\"a\":", "EOF while parsing a value @1:5"},
      {"{\"a\":1", "EOF while parsing an object @1:6"},
      {"{\"a\":1,", "EOF while parsing an object @1:7"},
      {"tru", "EOF while parsing a value @1:3"},
      {"trUe", "expected ident @1:3"},
      {"nul", "EOF while parsing a value @1:3"},
      // Numbers are checked for form only.
      {"-", "invalid number @1:1"},
      {"-x", "invalid number @1:2"},
      {"01", "invalid number @1:2"},
      {"1.", "invalid number @1:2"},
      {"1.e5", "invalid number @1:3"},
      {"1e", "invalid number @1:2"},
      {"1e+", "invalid number @1:3"},
      {"1e400", "ok"},
      {"-123456789012345678901234567890.5e-99999999999", "ok"},
      // Strings: escapes and control bytes are checked, UTF-8 and surrogates are not.
      {"\"\\uD800\"", "ok"},
      {"\"\\uDE00\\uD83D x\"", "ok"},
      {"\"\xff\xc0\"", "ok"},
      {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string @1:3"},
      {"\"\\x\"", "invalid escape @1:3"},
      {"\"\\u12G4\"", "invalid escape @1:6"},
      {"\"\\u12", "EOF while parsing a string @1:5"},
      {"\"abc", "EOF while parsing a string @1:4"},
      {"\"abc\\", "EOF while parsing a string @1:5"},
      // Carriage returns count as columns; line feeds start a line.
      {"[1\r", "EOF while parsing a list @1:3"},
      {"[1\n", "EOF while parsing a list @2:0"},
      {"[\r\n1,\r\n]", "expected value @3:1"},
      {"[1\r\n x", "expected `,` or `]` @2:2"},
  };
  for (std::size_t block : kBlocks) {
    for (const Case& c : cases) {
      EXPECT_EQ(skip(c.input, block), c.expected) << "input: " << c.input << " block " << block;
    }
  }
}

TEST(JsonReader, DecodesStrings) {
  const std::vector<Case> cases = {
      {"\"\"", "[]"},
      {"\"plain text\"", "[plain text]"},
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "[\"\\/\b\f\n\r\t]"},
      {"\"\\u0041\\u00e9\\u20AC\"", "[A\xC3\xA9\xE2\x82\xAC]"},
      {"\"\\uD83D\\uDE00\"", "[\xF0\x9F\x98\x80]"},
      {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "[caf\xC3\xA9 \xF0\x9F\x98\x80]"},
      {"\"\\uD83D\"", "unexpected end of hex escape @1:8"},
      {"\"\\uD83Dx\"", "unexpected end of hex escape @1:8"},
      {"\"\\uD83D\\n\"", "unexpected end of hex escape @1:9"},
      {"\"\\uD83D\\u0041\"", "lone leading surrogate in hex escape @1:13"},
      {"\"\\uDE00\"", "lone leading surrogate in hex escape @1:7"},
      {"\"\\uD83D", "EOF while parsing a string @1:7"},
      {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string @1:3"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string @2:0"},
      {"\"\\q\"", "invalid escape @1:3"},
      // Raw bytes that are not UTF-8 are rejected at the closing quote.
      {"\"ab\xff\"", "invalid unicode code point @1:5"},
      {"\"\xC0\xAF\"", "invalid unicode code point @1:4"},
      {"\"\xED\xA0\x80\"", "invalid unicode code point @1:5"},
      {"\"\xF4\x90\x80\x80\"", "invalid unicode code point @1:6"},
      {"\"\xE2\x82\"", "invalid unicode code point @1:4"},
      {"\"\xE2\x82\\u0041\"", "invalid unicode code point @1:10"},
      {"\"0123456789abcdef0123456789abcdef\xff\"", "invalid unicode code point @1:35"},
  };
  for (std::size_t block : kBlocks) {
    for (const Case& c : cases) {
      EXPECT_EQ(string_value(c.input, block), c.expected)
          << "input: " << c.input << " block " << block;
    }
  }
}

TEST(JsonReader, ReadsAndClassifiesNumbers) {
  const std::vector<Case> cases = {
      {"0", "u:0"},
      {"7,", "u:7"},
      {"12345678", "u:12345678"},
      {"1234567890123456]", "u:1234567890123456"},
      {"9999999999999999999", "u:9999999999999999999"},
      {"-1767604614176279", "i:-1767604614176279"},
      {"18446744073709551615", "u:18446744073709551615"},
      {"18446744073709551616", "f:18446744073709552000"},
      {"-1", "i:-1"},
      {"-9223372036854775808", "i:-9223372036854775808"},
      {"-9223372036854775809", "f:-9223372036854776000"},
      {"-0", "f:-0"},
      {"1.5", "f:1.5"},
      {"2.0", "f:2"},
      {"1e20", "f:100000000000000000000"},
      {"1E+2", "f:100"},
      {"0.1", "f:0.1"},
      {"1e-7", "f:0.0000001"},
      {"-2.5e-3", "f:-0.0025"},
      {"123456789012345678901234567890", "f:123456789012345680000000000000"},
      {"1.00000000000000000000000001", "f:1"},
      {"1e-400", "f:0"},
      {"0e400", "f:0"},
      {"1e-2147483648", "f:0"},
      {"-1e99999999999", "number out of range @1:13"},
      {"1e400", "number out of range @1:5"},
      {"1e400 ", "number out of range @1:6"},
      {"1.8e308", "number out of range @1:7"},
      {"01", "invalid number @1:2"},
      {"-", "EOF while parsing a value @1:1"},
      {"-a", "invalid number @1:2"},
      {"1.", "EOF while parsing a value @1:2"},
      {"1.x", "invalid number @1:3"},
      {"1e", "EOF while parsing a value @1:2"},
      {"1e-", "EOF while parsing a value @1:3"},
      {"1ex", "invalid number @1:3"},
  };
  for (std::size_t block : kBlocks) {
    for (const Case& c : cases) {
      EXPECT_EQ(number_value(c.input, block), c.expected)
          << "input: " << c.input << " block " << block;
    }
    // The fast path needs enough bytes in the buffer; the same numbers with room after them.
    for (const Case& c : cases) {
      if (c.expected.find('@') != std::string::npos) continue;
      EXPECT_EQ(number_value(c.input + std::string(40, ' '), block), c.expected) << c.input;
    }
  }
}

}  // namespace
}  // namespace tracemill
