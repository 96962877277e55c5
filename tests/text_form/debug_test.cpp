#include "text_form/debug.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/keyed_hash.h"
#include "base/sink.h"
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

// A record with every kind of member, for the nesting tests.
struct Sample {
  std::string name;
  std::int32_t count = 0;
  std::vector<std::uint64_t> items;
  HashMap<std::string, std::int32_t> empty;
  std::vector<std::string> none;
};

struct NoFields {};

}  // namespace

template <>
struct Record<Sample> {
  static constexpr std::string_view name = "Sample";
  static constexpr auto fields = std::make_tuple(
      field("name", &Sample::name), field("count", &Sample::count), field("items", &Sample::items),
      field("empty", &Sample::empty), field("none", &Sample::none));
};

template <>
struct Record<NoFields> {
  static constexpr std::string_view name = "NoFields";
  static constexpr auto fields = std::make_tuple();
};

namespace {

// A wrapper with one unnamed member, around a map of records.
struct Wrapper {
  HashMap<std::string, Sample> map;
};

bool write_debug(Formatter& f, const Wrapper& w) {
  DebugTuple t(f, "Wrapper");
  t.field(w.map);
  return t.finish();
}

// A wrapper without a member prints its name alone.
struct NoMember {};
bool write_debug(Formatter& f, const NoMember&) { return DebugTuple(f, "NoMember").finish(); }

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

Wrapper sample_wrapper() {
  Wrapper w;
  w.map["k"] = Sample{"a\"b", -7, {1, 2}, {}, {}};
  return w;
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

TEST(DebugForm, PrettyNestingIndentsByFourPerLevel) {
  const std::string expected =
      "Wrapper(\n"
      "    {\n"
      "        \"k\": Sample {\n"
      "            name: \"a\\\"b\",\n"
      "            count: -7,\n"
      "            items: [\n"
      "                1,\n"
      "                2,\n"
      "            ],\n"
      "            empty: {},\n"
      "            none: [],\n"
      "        },\n"
      "    },\n"
      ")";
  EXPECT_EQ(pretty_string(sample_wrapper()), expected);
}

TEST(DebugForm, CompactAndPrettyShapes) {
  struct Case {
    std::string got;
    std::string expected;
  };
  Wrapper empty_wrapper;
  const Case cases[] = {
      {compact_string(sample_wrapper()),
       R"(Wrapper({"k": Sample { name: "a\"b", count: -7, items: [1, 2], empty: {}, none: [] }}))"},
      {compact_string(empty_wrapper), "Wrapper({})"},
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
  const Wrapper value = sample_wrapper();
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
