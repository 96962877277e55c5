// The three text forms of the dependency graph: how each escapes names, and the whole layout.
#include "export/graph_writers.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/sink.h"

namespace tracemill {
namespace {

template <class Write>
std::string written(Write write, std::string_view name) {
  StringSink out;
  EXPECT_TRUE(write(out, name));
  return out.text();
}

TEST(GraphWriters, EscapeNamesPerFormat) {
  struct Case {
    std::string_view name;
    const char* dot_label;
    const char* mermaid;
    const char* json;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"say \"hi\"", R"(say \"hi\")", "say #quot;hi#quot;", R"(say \"hi\")"},
      // \N in a dot label would name the node; a backslash at the end would eat the quote.
      {R"(C:\dir\N\)", R"(C:\\dir\\N\\)", R"(C:\dir\N\)", R"(C:\\dir\\N\\)"},
      // A line feed and a backslash before "n" stay apart.
      {"two\nlines", R"(two\nlines)", "two<br>lines", R"(two\nlines)"},
      {R"(two\nlines)", R"(two\\nlines)", R"(two\nlines)", R"(two\\nlines)"},
      {"t\tr\rz\0e\x1b[1md\x7f"sv, R"(t\\u{9}r\\u{d}z\\u{0}e\\u{1b}[1md\\u{7f})",
       R"(t\u{9}r\u{d}z\u{0}e\u{1b}[1md\u{7f})", "t\\tr\\rz\\u0000e\\u001b[1md\x7f"},
      {"\b\f\x1f", R"(\\u{8}\\u{c}\\u{1f})", R"(\u{8}\u{c}\u{1f})", R"(\b\f\u001f)"},
      {"#1 <b>&amp; | `x` [y] {z}", "#1 <b>&amp; | `x` [y] {z}",
       "#35;1 #lt;b#gt;#amp;amp; #124; #96;x#96; [y] {z}", "#1 <b>&amp; | `x` [y] {z}"},
      {"caf\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x98\x80",
       "caf\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x98\x80"},
      // Line and paragraph separators, NEL, a zero-width space and a byte-order mark: no line
      // may end inside a Mermaid label. A combining accent is printable.
      {"a\u2028b\u2029c\u0085d\u200Be\uFEFFe\u0301", "a\u2028b\u2029c\u0085d\u200Be\uFEFFe\u0301",
       "a#8232;b#8233;c#133;d#8203;e#65279;e\u0301", "a\u2028b\u2029c\u0085d\u200Be\uFEFFe\u0301"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(written(write_dot_label, c.name), c.dot_label) << c.name;
    EXPECT_EQ(written(write_mermaid_label, c.name), c.mermaid) << c.name;
    EXPECT_EQ(written(write_json_string, c.name), c.json) << c.name;
  }
}

TEST(GraphWriters, WholeOutputOfEachFormat) {
  DependencyGraph graph;
  graph.nodes = {{"", 0, {}, {}, {{"m", 1}}},
                 {"api", 9223372036854775807, {{"GET", 7}, {"q", 0}}, {{"query", 7}}, {}},
                 {"db", 0, {{"query", 7}}, {}, {}}};
  graph.edges = {{"", "db", "m", 1}, {"api", "db", "query", 7}};
  const std::pair<ExportFormat, std::string> cases[] = {
      {ExportFormat::Dot,
       "digraph dependencies {\n"
       "  rankdir=LR;\n"
       "  node [shape=box];\n"
       "  n0 [label=\"\\nentry count: 0\"];\n"
       "  n1 [label=\"api\\nentry count: 9223372036854775807\"];\n"
       "  n2 [label=\"db\\nentry count: 0\"];\n"
       "  n0 -> n2 [label=\"m (1)\"];\n"
       "  n1 -> n2 [label=\"query (7)\"];\n"
       "}\n"},
      {ExportFormat::Mermaid,
       "flowchart LR\n"
       "  n0[\"<br>entry count: 0\"]\n"
       "  n1[\"api<br>entry count: 9223372036854775807\"]\n"
       "  n2[\"db<br>entry count: 0\"]\n"
       "  n0 -->|\"m (1)\"| n2\n"
       "  n1 -->|\"query (7)\"| n2\n"},
      {ExportFormat::Json,
       "{\n"
       "  \"version\": 1,\n"
       "  \"nodes\": [\n"
       "    {\"name\": \"\", \"entry_count\": 0, \"operations\": {}, \"methods\": {}, "
       "\"direction_unknown\": {\"m\": 1}},\n"
       "    {\"name\": \"api\", \"entry_count\": 9223372036854775807, \"operations\": "
       "{\"GET\": 7, \"q\": 0}, \"methods\": {\"query\": 7}, \"direction_unknown\": {}},\n"
       "    {\"name\": \"db\", \"entry_count\": 0, \"operations\": {\"query\": 7}, "
       "\"methods\": {}, \"direction_unknown\": {}}\n"
       "  ],\n"
       "  \"edges\": [\n"
       "    {\"from\": \"\", \"to\": \"db\", \"method\": \"m\", \"count\": 1},\n"
       "    {\"from\": \"api\", \"to\": \"db\", \"method\": \"query\", \"count\": 7}\n"
       "  ]\n"
       "}\n"},
  };
  for (const auto& [format, expected] : cases) {
    StringSink out;
    EXPECT_TRUE(write_graph(out, graph, format));
    EXPECT_EQ(out.text(), expected);
  }
  StringSink empty;
  EXPECT_TRUE(write_json(empty, DependencyGraph{}));
  EXPECT_EQ(empty.text(), "{\n  \"version\": 1,\n  \"nodes\": [],\n  \"edges\": []\n}\n");
}

}  // namespace
}  // namespace tracemill
