#include "stats/file/json_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_source.h"

namespace tracemill {
namespace {

// Reads one value of `input` served in blocks of `block` bytes: 's' skips it and checks that
// only whitespace follows ("ok"), 'q' reads a string ("[text]"), 'n' reads a number ("u:N",
// "i:N" or "f:F"); or the error with its line and column.
std::string read(char how, const std::string& input, std::size_t block) {
  ByteSource source = ByteSource::from_memory(input, block);
  JsonReader reader(source);
  std::string got = "ok";
  std::string_view text;
  JsonNumber n;
  bool ok = true;
  if (how == 's') {
    reader.start_document();
    ok = reader.skip_value() && reader.end_document();
  } else if (how == 'q') {
    reader.peek();
    reader.take();
    ok = reader.read_string(text);
    got = "[" + std::string(text) + "]";
  } else {
    reader.peek();
    ok = reader.read_number(n);
    got = n.kind == JsonNumber::Kind::Unsigned ? "u:" + std::to_string(n.u)
          : n.kind == JsonNumber::Kind::Signed ? "i:" + std::to_string(n.i)
                                               : "f:" + float_text(n.f);
  }
  if (ok) return got;
  const JsonError& e = reader.error();
  return e.message + " @" + std::to_string(e.line) + ":" + std::to_string(e.column);
}

struct Case {
  std::string input;
  std::string expected;
};

// Runs the cases a byte at a time, in an odd block size and in the real buffer.
void run_table(char how, const std::vector<Case>& cases) {
  for (std::size_t block : {std::size_t{1}, std::size_t{7}, ByteSource::kBufferSize}) {
    for (const Case& c : cases) {
      EXPECT_EQ(read(how, c.input, block), c.expected)
          << "input: " << c.input << " block " << block;
    }
  }
}

TEST(JsonReader, SkipsValuesAndReportsSyntaxErrors) {
  run_table(
      's',
      {
          {"  \n\t\r\n  ", "EOF while parsing a value @3:2"},
          {"@", "expected value @1:1"},
          // Numbers are checked for form only; strings for escapes and control bytes, not for UTF-8
          // or surrogates.
          {" [1, -2.5e+3, true, false, null, {\"a\": [{}]}, 1e400, -12345678901234567890.5e-99999,"
           " \"\\uD800\", \"\\uDE00\\uD83D x\", \"\xff\xc0\"] ",
           "ok"},
          {"[1,]", "expected value @1:4"},
          {"{\"a\":1,}", "key must be a string @1:8"},
          {"[1 2]", "expected `,` or `]` @1:4"},
          {"{\"a\":1 \"b\":2}", "expected `,` or `}` @1:8"},
          {"{1:2}", "key must be a string @1:2"},
          {"[", "EOF while parsing a list @1:1"},
          {"[1", "EOF while parsing a list @1:2"},
          {"{", "EOF while parsing an object @1:1"},
          {"{\"a\"", "EOF while parsing an object @1:4"},
          {"{\"a\":1", "EOF while parsing an object @1:6"},
          {"{\"a\":1,", "EOF while parsing an object @1:7"},
          {"tru", "EOF while parsing a value @1:3"},
          {"trUe", "expected ident @1:3"},
          {"-", "invalid number @1:1"},
          {"01", "invalid number @1:2"},
          {"1.e5", "invalid number @1:3"},
          {"1e+", "invalid number @1:3"},
          {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string @1:3"},
          {"\"\\x\"", "invalid escape @1:3"},
          {"\"\\u12G4\"", "invalid escape @1:6"},
          {"\"\\u12", "EOF while parsing a string @1:5"},
          {"\"abc", "EOF while parsing a string @1:4"},
          {"\"abc\\", "EOF while parsing a string @1:5"},
          // Carriage returns count as columns; line feeds start a line.
          {"[1\r", "EOF while parsing a list @1:3"},
          {"[\r\n1,\r\n]", "expected value @3:1"},
      });
}

TEST(JsonReader, DecodesStrings) {
  run_table(
      'q',
      {
          {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "[\"\\/\b\f\n\r\t]"},
          {"\"\\u0041\\u00e9\\u20AC\"", "[A\xC3\xA9\xE2\x82\xAC]"},
          {"\"\\uD83D\\uDE00\"", "[\xF0\x9F\x98\x80]"},
          {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "[caf\xC3\xA9 \xF0\x9F\x98\x80]"},
          {"\"\\uD83D\"", "unexpected end of hex escape @1:8"},
          {"\"\\uD83D\\n\"", "unexpected end of hex escape @1:9"},
          {"\"\\uD83D\\u0041\"", "lone leading surrogate in hex escape @1:13"},
          {"\"\\uDE00\"", "lone leading surrogate in hex escape @1:7"},
          {"\"\\uD83D", "EOF while parsing a string @1:7"},
          {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string @2:0"},
          // Raw bytes that are not UTF-8 are rejected at the closing quote.
          {"\"ab\xff\"", "invalid unicode code point @1:5"},
          {"\"\xC0\xAF\"", "invalid unicode code point @1:4"},
          {"\"\xED\xA0\x80\"", "invalid unicode code point @1:5"},
          {"\"\xF4\x90\x80\x80\"", "invalid unicode code point @1:6"},
          {"\"\xE2\x82\"", "invalid unicode code point @1:4"},
          {"\"\xE2\x82\\u0041\"", "invalid unicode code point @1:10"},
          {"\"0123456789abcdef0123456789abcdef\xff\"", "invalid unicode code point @1:35"},
      });
}

TEST(JsonReader, ReadsAndClassifiesNumbers) {
  std::vector<Case> cases = {
      {"9999999999999999999", "u:9999999999999999999"},
      {"-1767604614176279", "i:-1767604614176279"},
      {"18446744073709551615", "u:18446744073709551615"},
      {"-9223372036854775808", "i:-9223372036854775808"},
      {"-0", "f:-0"},
      {"2.0", "f:2"},
      {"1e20", "f:100000000000000000000"},
      {"1E+2", "f:100"},
      {"1e-7", "f:0.0000001"},
      {"-2.5e-3", "f:-0.0025"},
      {"123456789012345678901234567890", "f:123456789012345680000000000000"},
      {"1.00000000000000000000000001", "f:1"},
      {"1e-400", "f:0"},
      {"0e400", "f:0"},
      {"1e-2147483648", "f:0"},
  };
  // The fast path needs enough bytes in the buffer: the same numbers with room after them.
  for (std::size_t k = 0, n = cases.size(); k < n; ++k) {
    cases.push_back({cases[k].input + std::string(40, ' '), cases[k].expected});
  }
  cases.insert(cases.end(), {
                                {"-1e99999999999", "number out of range @1:13"},
                                {"1e400 ", "number out of range @1:6"},
                                {"1.8e308", "number out of range @1:7"},
                                {"01", "invalid number @1:2"},
                                {"-", "EOF while parsing a value @1:1"},
                                {"-a", "invalid number @1:2"},
                                {"1.", "EOF while parsing a value @1:2"},
                                {"1.x", "invalid number @1:3"},
                                {"1e-", "EOF while parsing a value @1:3"},
                                {"1ex", "invalid number @1:3"},
                            });
  run_table('n', cases);
}

}  // namespace
}  // namespace tracemill
