#include "text_form/debug.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/sink.h"
#include "graph/process_node.h"
#include "stats/call_chain/call.h"

namespace tracemill {
namespace {

// Accepts `limit` bytes, keeps the part of the write that crossed the limit that still fits
// (as a short write would) and fails from then on. Counts the writes tried after the failure.
struct FailingSink final : Sink {
  explicit FailingSink(std::size_t n) : limit(n) {}
  bool write(std::string_view text) override {
    if (failed) return ++writes_after_failure, false;
    const std::size_t room = limit - written.size();
    written.append(text.substr(0, room));
    failed = text.size() > room;
    return !failed;
  }
  std::size_t limit;
  std::string written;
  bool failed = false;
  int writes_after_failure = 0;
};

// A record and a wrapper without members print their names alone.
struct NoFields {};
struct NoMember {};
bool write_debug(Formatter& f, const NoMember&) { return DebugTuple(f, "NoMember").finish(); }

}  // namespace

template <>
struct Record<NoFields> {
  static constexpr std::string_view name = "NoFields";
  static constexpr auto fields = std::make_tuple();
};

namespace {

template <class T>
std::string pretty_string(const T& value) {
  StringSink out;
  Formatter f(out, Form::Pretty);
  EXPECT_TRUE(write_debug(f, value));
  return out.take();
}

std::string quoted(std::string_view text) {
  StringSink out;
  EXPECT_TRUE(write_quoted(out, text));
  return out.take();
}

// A list of graph wrappers, the first around a map of nodes: every builder nested, five levels
// deep, and each builder empty.
std::vector<ProcessNodes> sample_graphs() {
  ProcessNodes graph;
  graph.nodes["a\"b"] = {"a\"b", ProcessNodeType::Unknown, {{"m", -7}}, {}, {}};
  return {graph, ProcessNodes{}};
}

TEST(WriteQuoted, Escapes) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"a\\b", R"("a\\b")"},
      {"a\tb\nc\rd", R"("a\tb\nc\rd")"},
      {std::string_view("x\0y", 3), R"("x\0y")"},
      {"it's", R"("it's")"},
      {"\x01\x1f", R"("\u{1}\u{1f}")"},
      {"\u00a0", R"("\u{a0}")"},
      {"e\u0301", R"("e\u{301}")"},
      {"\U0010ffff", R"("\u{10ffff}")"},  // unassigned, largest code point
      {"\ufe0f", R"("\u{fe0f}")"},        // printable but Grapheme_Extend
      {"caf\u00e9 \u20ac\U0001f600!", "\"caf\u00e9 \u20ac\U0001f600!\""},
  };
  for (const Case& c : cases) EXPECT_EQ(quoted(c.text), c.expected) << c.expected;
}

// Lines continued over several writes, line breaks inside a write and empty writes, at one and
// at three levels.
// Whatever the bytes, a message shows one line of printable text, and only plain text goes
// unquoted and unescaped.
TEST(MessageText, NamesArgumentsAndRepeatedInput) {
  struct Case {
    std::string_view text;
    const char* name;
    const char* quoted;
    const char* text_form;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"in.json", "in.json", "'in.json'", "in.json"},
      {"", "", "''", ""},
      {"caf\xC3\xA9 it's", "caf\xC3\xA9 it's", "'caf\xC3\xA9 it's'", "caf\xC3\xA9 it's"},
      {"a\nb\tc\rd\0e"sv, R"("a\nb\tc\rd\0e")", R"("a\nb\tc\rd\0e")", R"(a\nb\tc\rd\0e)"},
      {"\x1b[2J\x7f", R"("\u{1b}[2J\u{7f}")", R"("\u{1b}[2J\u{7f}")", R"(\u{1b}[2J\u{7f})"},
      // Quotes and backslashes are plain in text, but not in a name that may be quoted.
      {R"(say "\)", R"("say \"\\")", R"("say \"\\")", R"(say "\)"},
      // Line and paragraph separators, NEL, a non-breaking space, a lone combining accent.
      {"\u2028\u2029\u0085\u00A0\u0301", R"("\u{2028}\u{2029}\u{85}\u{a0}\u{301}")",
       R"("\u{2028}\u{2029}\u{85}\u{a0}\u{301}")", R"(\u{2028}\u{2029}\u{85}\u{a0}\u{301})"},
      // Bytes outside valid UTF-8 one by one: a stray continuation, a cut and an overlong form.
      {"a\x80"
       "b\xE2\x82"
       "c\xC0\xAF",
       R"("a\x80b\xe2\x82c\xc0\xaf")", R"("a\x80b\xe2\x82c\xc0\xaf")",
       R"(a\x80b\xe2\x82c\xc0\xaf)"},
      // Followed by a quote or a backslash, `"` and \ are escaped too: the form reads back.
      {"\xff\"", R"("\xff\"")", R"("\xff\"")", R"(\xff\")"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(message_name(c.text), c.name) << c.name;
    EXPECT_EQ(message_quoted(c.text), c.quoted) << c.name;
    EXPECT_EQ(message_text(c.text), c.text_form) << c.name;
  }
}

TEST(PadAdapter, IndentsEveryLineStart) {
  StringSink out;
  PadAdapter one(out);
  PadAdapter two(one);
  PadAdapter three(two);
  for (std::string_view w : {"", "ab", "", "cd\n", "ef\ngh\n", "", "x\ny", "\nz\n"}) {
    EXPECT_TRUE(one.write(w));
  }
  EXPECT_TRUE(three.write("a\nb"));
  EXPECT_EQ(out.text(),
            "    abcd\n    ef\n    gh\n    x\n    y\n    z\n            a\n            b");
}

TEST(DebugForm, CompactAndPrettyShapes) {
  struct Case {
    std::string got;
    std::string expected;
  };
  const Case cases[] = {
      {pretty_string(sample_graphs()),
       "[\n    ProcessNodes(\n        {\n            \"a\\\"b\": ProcessNode {\n"
       "                name: \"a\\\"b\",\n                ptype: Unknown,\n"
       "                operations: {\n                    \"m\": -7,\n                },\n"
       "                methods: {},\n                direction_unknown: {},\n            },\n"
       "        },\n    ),\n    ProcessNodes(\n        {},\n    ),\n]"},
      {compact_string(sample_graphs()),
       R"([ProcessNodes({"a\"b": ProcessNode { name: "a\"b", ptype: Unknown, )"
       R"(operations: {"m": -7}, methods: {}, direction_unknown: {} }}), ProcessNodes({})])"},
      {pretty_string(std::vector<Call>{}), "[]"},
      {compact_string(NoFields{}), "NoFields"},
      {pretty_string(NoFields{}), "NoFields"},
      {pretty_string(NoMember{}), "NoMember"},
      {compact_string(std::vector<Call>{{"a", "x", CallDirection::Unknown},
                                        {"b", "y", CallDirection::Outbound}}),
       R"([Call { process: "a", method: "x", call_direction: Unknown }, )"
       R"(Call { process: "b", method: "y", call_direction: Outbound }])"},
      {pretty_string(Call{"", "m\tx", CallDirection::Inbound}),
       "Call {\n    process: \"\",\n    method: \"m\\tx\",\n    call_direction: Inbound,\n}"},
      {compact_string(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {compact_string(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {compact_string(std::int16_t{-404}), "-404"},
      {compact_string(std::uint8_t{0}), "0"},
      {compact_string(true), "true"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

// Whatever byte the sink fails at, the writing stops there: the builders report failure, the
// text written is exactly the prefix the sink took, and no write is tried after the failure.
TEST(DebugForm, FailingSinkStopsAtOnce) {
  const std::vector<ProcessNodes> value = sample_graphs();
  for (Form form : {Form::Pretty, Form::Compact}) {
    StringSink whole;
    Formatter whole_f(whole, form);
    ASSERT_TRUE(write_debug(whole_f, value));
    const std::string& full = whole.text();
    for (std::size_t limit = 0; limit <= full.size(); ++limit) {
      FailingSink out(limit);
      Formatter f(out, form);
      bool ok = write_debug(f, value);
      EXPECT_EQ(ok, limit == full.size()) << limit;
      EXPECT_EQ(out.written, full.substr(0, limit)) << limit;
      EXPECT_EQ(out.writes_after_failure, 0) << limit;
    }
  }
}

}  // namespace
}  // namespace tracemill
