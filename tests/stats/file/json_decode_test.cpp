#include "stats/file/json_decode.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_source.h"
#include "base/os_error.h"
#include "corpus.h"
#include "stats/file/json_corpus.h"

namespace tracemill {
namespace {

constexpr std::size_t kBlocks[] = {1, 2, 7, ByteSource::kBufferSize};

using Members = std::vector<std::pair<std::string, std::string>>;

// The members of a small valid document, in declaration order.
Members minimal_members() {
  Members members = {{"version", R"({"major":1,"minor":2})"}};
  for (const char* name : {"trace_id", "root_call", "num_spans"}) members.emplace_back(name, "[]");
  for (const char* name : {"num_files", "num_endpoints", "num_incomplete_traces", "num_call_chains",
                           "init_num_unrooted_cc", "num_fixes", "num_unrooted_cc_after_fixes"}) {
    members.emplace_back(name, "0");
  }
  for (const char* name :
       {"start_dt", "end_dt", "duration_micros", "time_to_respond_micros", "caching_processes"}) {
    members.emplace_back(name, "[]");
  }
  members.emplace_back("stats", "{}");
  return members;
}

// The members as an object, or their values as an array.
std::string join(const Members& members, bool named) {
  std::string out;
  for (const auto& [name, value] : members) out += "," + (named ? "\"" + name + "\":" : "") + value;
  out[0] = named ? '{' : '[';
  return out + (named ? "}" : "]");
}
std::string object_of(const Members& members) { return join(members, true); }
std::string array_of(const Members& members) { return join(members, false); }

// The minimal document with one member's value replaced.
std::string document_with(const std::string& name, const std::string& value) {
  Members members = minimal_members();
  for (auto& member : members) {
    if (member.first == name) member.second = value;
  }
  return object_of(members);
}

std::string outcome(const std::string& input, std::size_t block = ByteSource::kBufferSize,
                    int fail_errno = 0) {
  auto result = decode_json(ByteSource::from_memory(input, block, fail_errno));
  if (result.ok()) return "ok";
  const JsonError& e = result.error();
  return e.message + " @" + std::to_string(e.line) + ":" + std::to_string(e.column);
}

std::string at(std::size_t column) { return " @1:" + std::to_string(column); }

struct Case {
  std::string input;
  std::string expected;
};

std::string after(const std::string& prefix, std::size_t offset) {
  return at(prefix.size() + offset);
}

void run_table(const std::vector<Case>& cases) {
  for (std::size_t block : kBlocks) {
    for (const Case& c : cases) {
      EXPECT_EQ(outcome(c.input, block), c.expected) << "input: " << c.input << " block " << block;
    }
  }
}

TEST(JsonDecode, DocumentShape) {
  const std::string valid = object_of(minimal_members());
  Members sixteen = minimal_members();
  sixteen.pop_back();
  run_table({
      {valid + " \n\r\n\t", "ok"},
      {"", "EOF while parsing a value @1:0"},
      {"\xEF\xBB\xBF" + valid, "expected value @1:1"},
      {"[]", "invalid length 0, expected struct StatsRecJson with 17 elements @1:2"},
      {"-5 ", "invalid type: integer `-5`, expected struct StatsRecJson @1:3"},
      {valid + " x", "trailing characters" + at(valid.size() + 2)},
      {array_of(sixteen), "invalid length 16, expected struct StatsRecJson with 17 elements" +
                              at(array_of(sixteen).size())},
      // Unknown members are skipped, names are case-sensitive, and every field is required.
      {"{\"Version\":{},\"VERSION\":1}", "missing field `version` @1:26"},
      {"{\"version\":{\"major\":1,\"minor\":2}}", "missing field `trace_id` @1:33"},
      {"{\"version\":{\"major\":1,\"major\"  \n :2}}", "duplicate field `major` @2:2"},
      {"{\"version\":[1]}", "invalid length 1, expected struct Version with 2 elements @1:14"},
      {"{\"version\":[1,2,3]}", "trailing characters @1:17"},
      {"{\"version\":[1,2,]}", "trailing comma @1:17"},
      {"{\"version\":{\"major\":1,}}", "trailing comma @1:23"},
      {"{\"version\":{\"major\":1 \"minor\":2}}", "expected `,` or `}` @1:23"},
      {"{\"version\":{5:1}}", "key must be a string @1:13"},
      {"{\"version\":{\"major\" 1}}", "expected `:` @1:21"},
      {"{\"version\":{\"major\":", "EOF while parsing a value @1:20"},
      {"{\"version\":{\"major\":1", "EOF while parsing an object @1:21"},
      {"{\"version\":{\"major\":1,", "EOF while parsing a value @1:22"},
      {"{\"version\":{", "EOF while parsing an object @1:12"},
  });
}

TEST(JsonDecode, ScalarFields) {
  run_table({
      {"{\"num_files\":2147483647}", "missing field `version` @1:24"},
      {"{\"num_files\":2147483648}", "invalid value: integer `2147483648`, expected i32 @1:24"},
      {"{\"num_files\":-2147483649}", "invalid value: integer `-2147483649`, expected i32 @1:25"},
      {"{\"num_endpoints\":-1}", "invalid value: integer `-1`, expected usize @1:20"},
      {"{\"num_endpoints\":1.0}", "invalid type: floating point `1`, expected usize @1:21"},
      {"{\"num_endpoints\":18446744073709551616}",
       "invalid type: floating point `18446744073709552000`, expected usize @1:38"},
      {"{\"num_endpoints\":{}}", "invalid type: map, expected usize @1:18"},
      {"{\"num_endpoints\":null}", "invalid type: null, expected usize @1:21"},
      {"{\"num_endpoints\":false}", "invalid type: boolean `false`, expected usize @1:22"},
      {"{\"num_endpoints\":nul}", "expected ident @1:21"},
      {"{\"num_endpoints\":}", "expected value @1:18"},
      {"{\"num_endpoints\":-1\n}", "invalid value: integer `-1`, expected usize @2:0"},
      {"{\"version\":{\"major\":65536}}", "invalid value: integer `65536`, expected u16 @1:26"},
      {"{\"start_dt\":[1,9223372036854775808]}",
       "invalid value: integer `9223372036854775808`, expected i64 @1:35"},
      {"{\"start_dt\":[-9223372036854775809]}",
       "invalid type: floating point `-9223372036854776000`, expected i64 @1:34"},
      {"{\"start_dt\":[1 2]}", "expected `,` or `]` @1:16"},
      {"{\"start_dt\":[1", "EOF while parsing a list @1:14"},
      {"{\"start_dt\":5}", "invalid type: integer `5`, expected a sequence @1:14"},
      {"{\"trace_id\":[5]}", "invalid type: integer `5`, expected a string @1:15"},
      {"{\"num_files\":\"a\\\"b\\\\c\\n\"}",
       "invalid type: string \"a\\\"b\\\\c\\n\", expected i32 @1:24"},
      {"{\"trace_id\":[\"\xff\"]}", "invalid unicode code point @1:16"},
      {"{\"stats\":[]}", "invalid type: sequence, expected a map @1:10"},
  });
}

// A value of an unknown member is skipped: its form is checked, not its UTF-8, surrogates or
// number range. Columns count from the end of `{"x":`.
TEST(JsonDecode, SkippedValues) {
  const std::string u = R"({"x":)";
  const std::string rest = object_of(minimal_members()).substr(1);
  run_table({
      {u +
           R"([-2.5e+3,1e400,-12345678901234567890.5e-99999,{"a":[{}]},"\uDE00\uD83D x",)"
           "true,false,null,\"\xff\xc0\"]," +
           rest,
       "ok"},
      {u + "\n\t\r\n  ", "EOF while parsing a value @3:2"},
      {u + R"({"a":1,})", "key must be a string" + after(u, 8)},
      {u + "[1 2]", "expected `,` or `]`" + after(u, 4)},
      {u + R"({"a":1 "b":2})", "expected `,` or `}`" + after(u, 8)},
      {u + "[", "EOF while parsing a list" + after(u, 1)},
      {u + "{", "EOF while parsing an object" + after(u, 1)},
      {u + R"({"a")", "EOF while parsing an object" + after(u, 4)},
      {u + R"({"a":1)", "EOF while parsing an object" + after(u, 6)},
      {u + R"({"a":1,)", "EOF while parsing an object" + after(u, 7)},
      {u + "tru", "EOF while parsing a value" + after(u, 3)},
      {u + "-", "invalid number" + after(u, 1)},
      {u + "01", "invalid number" + after(u, 2)},
      {u + "1.e5", "invalid number" + after(u, 3)},
      {u + "1e+", "invalid number" + after(u, 3)},
      {u + R"("\x")", "invalid escape" + after(u, 3)},
      {u + R"("\u12G4")", "invalid escape" + after(u, 6)},
      {u + R"("\u12)", "EOF while parsing a string" + after(u, 5)},
      {u + R"("abc)", "EOF while parsing a string" + after(u, 4)},
      {u + R"("abc\)", "EOF while parsing a string" + after(u, 5)},
      // Carriage returns count as columns; line feeds start a line.
      {u + "[1\r", "EOF while parsing a list" + after(u, 3)},
      {u + "[\r\n1,\r\n]", "expected value @3:1"},
  });
}

const std::string kStats = R"({"stats":)";

// `json` where a map is expected: the error shows the value as it was read. Numbers get room
// behind them, so the whole buffer takes the fast path and the small blocks the slow one.
Case found(const std::string& json, const std::string& shown) {
  const bool text = json[0] == '"';
  return {kStats + json + (text ? "" : std::string(40, ' ')),
          "invalid type: " + shown + ", expected a map" + after(kStats, json.size() + !text)};
}

TEST(JsonDecode, TextsAndNumbers) {
  const std::string& v = kStats;
  const std::string bad_utf8 = "invalid unicode code point";
  run_table({
      found(R"("\"\\\/\b\f\n\r\t")", R"(string "\"\\/\u{8}\u{c}\n\r\t")"),
      found(R"("\u0041\u00e9\u20AC\uD83D\uDE00")",
            "string \"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""),
      found("\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "string \"caf\xC3\xA9 \xF0\x9F\x98\x80\""),
      {v + R"("\uD83D")", "unexpected end of hex escape" + after(v, 8)},
      {v + R"("\uD83D\u0041")", "lone leading surrogate in hex escape" + after(v, 13)},
      {v + R"("\uDE00")", "lone leading surrogate in hex escape" + after(v, 7)},
      {v + R"("\uD83D)", "EOF while parsing a string" + after(v, 7)},
      {v + "\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string @2:0"},
      // Raw bytes that are not UTF-8 (by check_utf8) are rejected at the closing quote.
      {v + "\"ab\xff\"", bad_utf8 + after(v, 5)},
      {v + "\"\xE2\x82\"", bad_utf8 + after(v, 4)},
      {v + "\"\xE2\x82\\u0041\"", bad_utf8 + after(v, 10)},
      {v + "\"0123456789abcdef0123456789abcdef\xff\"", bad_utf8 + after(v, 35)},
      found("18446744073709551615", "integer `18446744073709551615`"),
      found("-9223372036854775808", "integer `-9223372036854775808`"),
      found("-0", "floating point `-0`"),
      found("2.0", "floating point `2`"),
      found("1E+2", "floating point `100`"),
      found("-2.5e-3", "floating point `-0.0025`"),
      found("1.00000000000000000000000001", "floating point `1`"),
      found("1e-400", "floating point `0`"),
      found("0e400", "floating point `0`"),
      found("1e-2147483648", "floating point `0`"),
      {v + "-1e99999999999", "number out of range" + after(v, 13)},
      {v + "1e400 ", "number out of range" + after(v, 6)},
      {v + "1.8e308", "number out of range" + after(v, 7)},
      {v + "01", "invalid number" + after(v, 2)},
      {v + "-", "EOF while parsing a value" + after(v, 1)},
      {v + "-a", "invalid number" + after(v, 2)},
      {v + "1.", "EOF while parsing a value" + after(v, 2)},
      {v + "1.x", "invalid number" + after(v, 3)},
      {v + "1e-", "EOF while parsing a value" + after(v, 3)},
      {v + "1ex", "invalid number" + after(v, 3)},
  });
}

// Prefixes that lead to the nested fields; columns below count from their end.
const std::string kCallPrefix =
    R"({"stats":{"op":{"call_chain":[[{"call_chain":[{"process":"a","method":"b","call_direction":)";
const std::string kCodesPrefix = R"({"stats":{"op":{"method":{"m":{"http_not_ok_codes":)";
const std::string kChainPrefix = R"({"stats":{"op":{"call_chain":)";
const std::string kKeyArray = R"([[],"p",true])";
const std::string kValueArray = R"([1,2,[],[],[],true,[],0,0,{},{}])";

TEST(JsonDecode, NestedFields) {
  const std::string& c = kCallPrefix;
  const std::string& h = kCodesPrefix;
  const std::string& p = kChainPrefix;
  const std::string& k = kKeyArray;
  const std::string& v = kValueArray;
  const std::string unknown =
      "unknown variant `outbound`, expected one of `Inbound`, `Outbound`, `Unknown`";
  const std::string tuple = ", expected a tuple of size 2";
  run_table({
      {c + R"("outbound"})", unknown + after(c, 10)},
      {c + "1}", "expected value" + after(c, 1)},
      {c + "{}}", "expected value" + after(c, 2)},
      {c + R"({"Inbound":1})", "invalid type: integer `1`, expected unit" + after(c, 13)},
      {c + R"({"Inbound":null,"x":null})", "expected value" + after(c, 16)},
      {c + R"({"Inbound":null)", "EOF while parsing an object" + after(c, 15)},
      {c + "{5:null}", "invalid type: integer `5`, expected variant identifier" + after(c, 3)},
      {c + R"({"outbound":null})", unknown + after(c, 11)},
      {c + "{", "EOF while parsing a value" + after(c, 1)},
      {h + R"({"+5":1})", "invalid value: expected key to be a number in quotes" + after(h, 3)},
      {h + R"({"5 ":1})", "expected `\"`" + after(h, 4)},
      {h + R"({"40000":1})", "invalid value: integer `40000`, expected i16" + after(h, 8)},
      {h + R"({"-40000":1})", "invalid value: integer `-40000`, expected i16" + after(h, 9)},
      {h + R"({"05":1})", "invalid number" + after(h, 4)},
      {h + R"({"4.5":1})", "invalid type: floating point `4.5`, expected i16" + after(h, 6)},
      {p + "[[]]", "invalid length 0" + tuple + after(p, 3)},
      {p + "[5]", "invalid type: integer `5`" + tuple + after(p, 3)},
      {p + R"([[[[],"p",1]])", "invalid type: integer `1`, expected a boolean" + after(p, 12)},
      {p + "[[" + k + "]]", "invalid length 1" + tuple + after(p, k.size() + 3)},
      {p + "[[" + k + "," + v + ",5]]", "trailing characters" + after(p, k.size() + v.size() + 5)},
      {p + R"([[[[],"p"]]])",
       "invalid length 2, expected struct CChainStatsKey with 3 elements" + after(p, 10)},
      {p + "[[" + k + ",{}]]", "missing field `count`" + after(p, k.size() + 5)},
  });
}

// Field forms and values the generated files never hold: the ends of the integer ranges,
// records and calls as arrays, a direction as a string and as an object, negative and repeated
// map keys (the later value stays), members in any order with unknown ones in between.
TEST(JsonDecode, FieldFormsAndRangeEnds) {
  Members members = minimal_members();
  members[3].second = "[0,18446744073709551615]";
  members[4].second = "-2147483648";
  members[11].second = "[-9223372036854775808,9223372036854775807]";
  members[16].second = R"({"op": {"method": {}, "num_traces": 1, "num_received_calls": 0,
      "num_outbound_calls": 0, "num_unknown_calls": 0,
      "call_chain": [[{"call_chain": [{"process": "a", "method": "x", "call_direction": "Unknown"},
                                      ["b", "y", {"Outbound": null}]],
                       "caching_process": "", "is_leaf": true},
                      [3, 2, [], [], [], false, [], 0, 0, {"404": 1, "-1": 2, "404": 7},
                       {"e": 1, "e": 2}]]]}})";
  StatsRecJson expected;
  expected.version = {1, 2};
  expected.num_spans = {0, 18446744073709551615u};
  expected.num_files = -2147483647 - 1;
  expected.start_dt = {-9223372036854775807 - 1, 9223372036854775807};
  expected.stats["op"].num_traces = 1;
  auto& [key, value] = expected.stats["op"].call_chain.emplace_back();
  key = {{{"a", "x", CallDirection::Unknown}, {"b", "y", CallDirection::Outbound}}, "", true};
  value.count = 3;
  value.depth = 2;
  value.http_not_ok = {{404, 7}, {-1, 2}};
  value.error_logs = {{"e", 2}};
  Members reordered(members.rbegin(), members.rend());
  reordered.emplace(reordered.begin() + 3, "extra", R"({"a":[1,{"b":null}],"c":"\ud800"})");
  for (const std::string& input : {object_of(members), array_of(members), object_of(reordered)}) {
    for (std::size_t block : kBlocks) {
      auto result = decode_json(ByteSource::from_memory(input, block));
      ASSERT_TRUE(result.ok()) << result.error().message << " block " << block;
      EXPECT_TRUE(result.value() == expected) << input << " block " << block;
    }
  }
}

// Long integer lists, most of whose elements are read in bulk: every value comes back, of
// every length up to the type's ends, with the bulk reads cut at every buffer boundary; a
// negative element ends an unsigned list with the error an element read by itself gives.
TEST(JsonDecode, LongIntegerLists) {
  std::mt19937_64 random(7);
  std::vector<std::uint64_t> spans;
  std::vector<std::int64_t> starts;
  std::string spans_text;
  std::string starts_text;
  for (int k = 0; k < 3000; ++k) {
    const int digits = static_cast<int>(random() % 20) + 1;
    std::uint64_t u = random();
    if (digits < 20) {
      std::uint64_t limit = 1;
      for (int d = 0; d < digits; ++d) limit *= 10;
      u %= limit;
    }
    const auto i = static_cast<std::int64_t>(digits == 20 ? u : (random() % 2 ? u : 0 - u));
    spans.push_back(u);
    starts.push_back(i);
    spans_text += "," + std::to_string(u);
    starts_text += (k % 500 == 0 ? ", " : ",") + std::to_string(i);
  }
  spans_text[0] = '[';
  starts_text[0] = '[';
  Members members = minimal_members();
  members[3].second = spans_text + "]";
  members[11].second = starts_text + "]";
  StatsRecJson expected;
  expected.version = {1, 2};
  expected.num_spans = spans;
  expected.start_dt = starts;
  const std::string input = object_of(members);
  for (std::size_t block : {std::size_t{7}, std::size_t{4093}, ByteSource::kBufferSize}) {
    auto result = decode_json(ByteSource::from_memory(input, block));
    ASSERT_TRUE(result.ok()) << result.error().message << " block " << block;
    EXPECT_TRUE(result.value() == expected) << "block " << block;
  }
  const std::string prefix = R"({"num_spans":[1,22,333,4444,55555,666666,7777777,88888888,)";
  EXPECT_EQ(outcome(prefix + "-1]}"),
            "invalid value: integer `-1`, expected usize" + after(prefix, 3));
}

// Unknown members are skipped without the call stack: arrays and objects nested 100000 deep
// pass, an unclosed nesting far deeper fails at the end.
TEST(JsonDecode, UnknownMembersAnyDepth) {
  const std::size_t deep = 100000;
  std::string nested = std::string(deep, '[') + std::string(deep, ']');
  EXPECT_EQ(outcome(document_with("version", R"({"major":1,"deep":)" + nested + R"(,"minor":2})")),
            "ok");
  std::string objects;
  for (std::size_t k = 0; k < deep; ++k) objects += "{\"a\":";
  std::string doc = object_of(minimal_members());
  doc.insert(1, "\"deep\":" + objects + "1" + std::string(deep, '}') + ",");
  EXPECT_EQ(outcome(doc), "ok");
  std::string unclosed = "{\"deep\":" + std::string(3000000, '[');
  EXPECT_EQ(outcome(unclosed), "EOF while parsing a list" + at(unclosed.size()));
}

TEST(JsonDecode, ReadFailures) {
  const std::string valid = object_of(minimal_members());
  const std::string eio = os_error_display(EIO);
  EXPECT_EQ(outcome("", 8, EIO), eio + " @0:0");
  EXPECT_EQ(outcome(valid + "\n", 7, EIO), eio + " @0:0");
  EXPECT_EQ(outcome("{\"version\"", 3, EIO), eio + " @1:10");
  EXPECT_EQ(outcome("{\"num_files\":12", 3, EIO), eio + " @1:15");
}

std::string message_of(const std::string& input) {
  auto result = decode_json(ByteSource::from_memory(input));
  return result.ok() ? "ok" : result.error().message;
}

// The conformance corpus: y_ documents must be accepted and n_ documents rejected, as the value
// of an unknown member and, those whose top value is an array that starts with a string, as
// trace_id, where the outcome of each i_ document is given as well.
TEST(JsonDecode, Corpus) {
  // Outcomes of the i_ documents, by reason: the names, without "i_string_" and ".json".
  const std::pair<std::string, std::string> reasons[] = {
      // Raw bytes that are not UTF-8 (overlong forms, encoded surrogates, beyond U+10FFFF,
      // truncated or stray sequences) are rejected.
      {"invalid unicode code point",
       " UTF-8_invalid_sequence UTF8_surrogate_U+D800 invalid_utf-8 iso_latin_1"
       " lone_utf8_continuation_byte not_in_unicode_range overlong_sequence_2_bytes"
       " overlong_sequence_6_bytes overlong_sequence_6_bytes_null truncated-utf-8 "},
      // Surrogate escapes must pair up: a leading one needs a "\u" escape right after it...
      {"unexpected end of hex escape",
       " 1st_surrogate_but_2nd_missing incomplete_surrogate_and_escape_valid"
       " invalid_lonely_surrogate invalid_surrogate "},
      // ...that is a trailing one; a trailing one alone is refused as well.
      {"lone leading surrogate in hex escape",
       " 1st_valid_surrogate_2nd_invalid incomplete_surrogates_escape_valid"
       " incomplete_surrogate_pair inverted_surrogates_U+1D11E lone_second_surrogate "},
  };
  auto reason_of = [&](const std::string& file) -> std::string {
    if (file.rfind("i_string_", 0) != 0) return "not listed";
    std::string name = " " + file.substr(9, file.size() - 14) + " ";
    for (const auto& [message, names] : reasons) {
      if (names.find(name) != std::string::npos) return message;
    }
    return "not listed";
  };
  const std::string rest = object_of(minimal_members()).substr(1);
  std::size_t skipped = 0, texts = 0, implementation_checked = 0;
  TRACEMILL_CORPUS_PATH_OR_SKIP(dir, test_util::kJsonCorpus);
  for (const test_util::CorpusFile& file : test_util::json_corpus(dir)) {
    const char kind = file.name[0];
    // A skipped value is not checked for UTF-8, paired surrogates or number range, but no n_
    // document relies on those checks alone: all of them fail here too.
    if (kind != 'i') {
      const std::string outcome = message_of("{\"unknown\":" + file.text + "," + rest);
      EXPECT_EQ(outcome == "ok", kind == 'y') << file.name << " skipped: " << outcome;
      ++skipped;
    }
    if (!std::regex_search(file.text, std::regex("^[ \t\r\n]*\\[[ \t\r\n]*\""))) continue;
    const std::string outcome = message_of(document_with("trace_id", file.text));
    if (kind == 'i') {
      EXPECT_EQ(outcome, reason_of(file.name)) << file.name;
      ++implementation_checked;
    } else {
      EXPECT_EQ(outcome == "ok", kind == 'y') << file.name << " as trace_id: " << outcome;
    }
    ++texts;
  }
  EXPECT_EQ(skipped, 95u + 188u);
  EXPECT_EQ(implementation_checked, 19u);
  EXPECT_GT(texts, 90u);
}

}  // namespace
}  // namespace tracemill
