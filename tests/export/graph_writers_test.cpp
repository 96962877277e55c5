// The text forms of the dependency graph: how each escapes names, the whole layout, and how
// the calls' health is shown.
#include "export/graph_writers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

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
  const std::string kNoCalls =
      "{\"calls\": 0, \"errors\": 0, \"with_error_logs\": 0, \"http_status\": {}, "
      "\"error_logs\": [], \"latency_micros\": {\"count\": 0, \"sum\": 0, \"min\": null, "
      "\"max\": null, \"p50\": null, \"p90\": null, \"p95\": null, \"p99\": null}}";
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
       "  \"version\": 2,\n"
       "  \"nodes\": [\n"
       "    {\"name\": \"\", \"entry_count\": 0, \"operations\": {}, \"methods\": {}, "
       "\"direction_unknown\": {\"m\": 1}, \"virtual_peer\": false, \"health\": {\"operations\": "
       "{}, \"methods\": {}, \"direction_unknown\": {\"m\": " +
           kNoCalls +
           "}}},\n"
           "    {\"name\": \"api\", \"entry_count\": 9223372036854775807, \"operations\": "
           "{\"GET\": 7, \"q\": 0}, \"methods\": {\"query\": 7}, \"direction_unknown\": {}, "
           "\"virtual_peer\": false, \"health\": {\"operations\": {\"GET\": " +
           kNoCalls + ", \"q\": " + kNoCalls + "}, \"methods\": {\"query\": " + kNoCalls +
           "}, \"direction_unknown\": {}}},\n"
           "    {\"name\": \"db\", \"entry_count\": 0, \"operations\": {\"query\": 7}, "
           "\"methods\": {}, \"direction_unknown\": {}, \"virtual_peer\": false, \"health\": "
           "{\"operations\": {\"query\": " +
           kNoCalls +
           "}, \"methods\": {}, \"direction_unknown\": {}}}\n"
           "  ],\n"
           "  \"edges\": [\n"
           "    {\"from\": \"\", \"to\": \"db\", \"method\": \"m\", \"count\": 1, \"health\": " +
           kNoCalls +
           "},\n"
           "    {\"from\": \"api\", \"to\": \"db\", \"method\": \"query\", \"count\": 7, "
           "\"health\": " +
           kNoCalls +
           "}\n"
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
  EXPECT_EQ(empty.text(), "{\n  \"version\": 2,\n  \"nodes\": [],\n  \"edges\": []\n}\n");
}

Latency durations(std::initializer_list<std::int64_t> micros) {
  Latency latency(Latency::Mode::kExact);
  for (std::int64_t m : micros) latency.add(m);
  return latency;
}

// Calls with and without failures, durations and none, a virtual peer, error logs beyond the
// top five with ties, a duration sum beyond 64 bits, and a client whose name needs escapes.
TEST(GraphWriters, HealthInEveryFormat) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const CallFigures get_a{400, 3, 1, {{404, 3}}, {{"timeout", 1}}, durations({100, 2000})};
  const CallFigures get_b{6, 0, 0, {}, {}, durations({1500000})};
  const CallFigures ping{2, 0, 0, {}, {}, {}};
  const CallFigures query{3,
                          3,
                          3,
                          {{500, 2}, {503, 1}},
                          {{"a", 2}, {"b", 5}, {"c", 1}, {"d\"", 2}, {"e", 2}, {"f", 2}},
                          durations({kMax, kMax, kMax})};
  const std::string client = "w\\e\"b\n";
  DependencyGraph graph;
  graph.nodes = {{"api", 5, {{"GET /a", 400, get_a}, {"GET /b", 6, get_b}}, {{"query", 3}}, {}},
                 {"db", 0, {{"ping", 2, ping}, {"query", 3, query}}, {}, {}},
                 {client, 10, {}, {}, {{"GET /c", 1}}}};
  graph.edges = {{"api", "db", "ping", 2, ping},
                 {"api", "db", "query", 3, query},
                 {client, "api", "GET /a", 400, get_a},
                 {client, "api", "GET /b", 6, get_b},
                 {client, "api", "GET /c", 1}};
  graph.virtual_peers = {"db"};

  const std::string no_calls =
      R"({"calls": 0, "errors": 0, "with_error_logs": 0, "http_status": {}, "error_logs": [], )"
      R"("latency_micros": {"count": 0, "sum": 0, "min": null, "max": null, "p50": null, )"
      R"("p90": null, "p95": null, "p99": null}})";
  const std::string json_a =
      R"({"calls": 400, "errors": 3, "with_error_logs": 1, "http_status": {"404": 3}, )"
      R"("error_logs": [{"text": "timeout", "count": 1}], "latency_micros": {"count": 2, )"
      R"("sum": 2100, "min": 100, "max": 2000, "p50": 100, "p90": 2000, "p95": 2000, )"
      R"("p99": 2000}})";
  const std::string json_b =
      R"({"calls": 6, "errors": 0, "with_error_logs": 0, "http_status": {}, "error_logs": [], )"
      R"("latency_micros": {"count": 1, "sum": 1500000, "min": 1500000, "max": 1500000, )"
      R"("p50": 1500000, "p90": 1500000, "p95": 1500000, "p99": 1500000}})";
  const std::string json_ping =
      R"({"calls": 2, "errors": 0, "with_error_logs": 0, "http_status": {}, "error_logs": [], )"
      R"("latency_micros": {"count": 0, "sum": 0, "min": null, "max": null, "p50": null, )"
      R"("p90": null, "p95": null, "p99": null}})";
  const std::string m = "9223372036854775807";
  const std::string json_query =
      R"({"calls": 3, "errors": 3, "with_error_logs": 3, "http_status": {"500": 2, "503": 1}, )"
      R"("error_logs": [{"text": "b", "count": 5}, {"text": "a", "count": 2}, )"
      R"({"text": "d\"", "count": 2}, {"text": "e", "count": 2}, {"text": "f", "count": 2}], )"
      R"("latency_micros": {"count": 3, "sum": 27670116110564327421, "min": )" +
      m + ", \"max\": " + m + ", \"p50\": " + m + ", \"p90\": " + m + ", \"p95\": " + m +
      ", \"p99\": " + m + "}}";
  const std::string prometheus_api_db =
      R"(client="api",server="db",connection_type="virtual_node")";
  const std::string prometheus_w_api = R"(client="w\\e\"b\n",server="api",connection_type="")";
  std::string buckets;
  const char* const bounds[] = {"0.002", "0.004", "0.006", "0.008", "0.01", "0.05",
                                "0.1",   "0.2",   "0.4",   "0.8",   "1",    "1.4",
                                "2",     "5",     "10",    "15",    "+Inf"};
  for (const auto& [labels, at_most] : {std::pair{prometheus_api_db, "00000000000000003"},
                                        std::pair{prometheus_w_api, "22222222222233333"}}) {
    for (std::size_t i = 0; i < std::size(bounds); ++i) {
      buckets += "traces_service_graph_request_server_seconds_bucket{" + labels + ",le=\"" +
                 bounds[i] + "\"} " + at_most[i] + "\n";
    }
    buckets += "traces_service_graph_request_server_seconds_sum{" + labels + "} " +
               (labels == prometheus_api_db ? "27670116110564.327421" : "1.5021") + "\n" +
               "traces_service_graph_request_server_seconds_count{" + labels + "} 3\n";
  }

  const std::pair<ExportFormat, std::string> cases[] = {
      {ExportFormat::Dot,
       "digraph dependencies {\n"
       "  rankdir=LR;\n"
       "  node [shape=box];\n"
       "  n0 [label=\"api\\nentry count: 5\\ncalls: 406, errors: 0.7 %, p99: 1.5 s\"];\n"
       "  n1 [label=\"db\\nentry count: 0\\ncalls: 5, errors: 60.0 %, p99: 9223372036854.776 "
       "s\"];\n"
       "  n2 [label=\"w\\\\e\\\"b\\n\\nentry count: 10\"];\n"
       "  n0 -> n1 [label=\"ping (2)\\ncalls: 2, errors: 0.0 %, p99: -\", color=\"#2f9e44\", "
       "penwidth=2];\n"
       "  n0 -> n1 [label=\"query (3)\\ncalls: 3, errors: 100.0 %, p99: 9223372036854.776 s\", "
       "color=\"#e03131\", penwidth=2];\n"
       "  n2 -> n0 [label=\"GET /a (400)\\ncalls: 400, errors: 0.8 %, p99: 2 ms\", "
       "color=\"#b8860b\", penwidth=4];\n"
       "  n2 -> n0 [label=\"GET /b (6)\\ncalls: 6, errors: 0.0 %, p99: 1.5 s\", color=\"#2f9e44\", "
       "penwidth=2];\n"
       "  n2 -> n0 [label=\"GET /c (1)\"];\n"
       "}\n"},
      {ExportFormat::Mermaid,
       "flowchart LR\n"
       "  n0[\"api<br>entry count: 5<br>calls: 406, errors: 0.7 %, p99: 1.5 s\"]\n"
       "  n1[\"db<br>entry count: 0<br>calls: 5, errors: 60.0 %, p99: 9223372036854.776 s\"]\n"
       "  n2[\"w\\e#quot;b<br><br>entry count: 10\"]\n"
       "  n0 -->|\"ping (2)<br>calls: 2, errors: 0.0 %, p99: -\"| n1\n"
       "  n0 -->|\"query (3)<br>calls: 3, errors: 100.0 %, p99: 9223372036854.776 s\"| n1\n"
       "  n2 -->|\"GET /a (400)<br>calls: 400, errors: 0.8 %, p99: 2 ms\"| n0\n"
       "  n2 -->|\"GET /b (6)<br>calls: 6, errors: 0.0 %, p99: 1.5 s\"| n0\n"
       "  n2 -->|\"GET /c (1)\"| n0\n"
       "  linkStyle 0 stroke:#2f9e44,stroke-width:2px\n"
       "  linkStyle 1 stroke:#e03131,stroke-width:2px\n"
       "  linkStyle 2 stroke:#b8860b,stroke-width:4px\n"
       "  linkStyle 3 stroke:#2f9e44,stroke-width:2px\n"},
      {ExportFormat::Prometheus,
       "# HELP traces_service_graph_request_total Calls from the client to the server, over all "
       "methods.\n"
       "# TYPE traces_service_graph_request_total counter\n"
       "traces_service_graph_request_total{" +
           prometheus_api_db + "} 5\ntraces_service_graph_request_total{" + prometheus_w_api +
           "} 406\n"
           "# HELP traces_service_graph_request_failed_total Failed calls from the client to the "
           "server, over all methods.\n"
           "# TYPE traces_service_graph_request_failed_total counter\n"
           "traces_service_graph_request_failed_total{" +
           prometheus_api_db + "} 3\ntraces_service_graph_request_failed_total{" +
           prometheus_w_api +
           "} 3\n"
           "# HELP traces_service_graph_request_server_seconds Durations of the calls from the "
           "client to the server, in seconds.\n"
           "# TYPE traces_service_graph_request_server_seconds histogram\n" +
           buckets},
  };
  for (const auto& [format, expected] : cases) {
    StringSink out;
    EXPECT_TRUE(write_graph(out, graph, format));
    EXPECT_EQ(out.text(), expected);
  }
  // The figures in JSON, where the whole output's layout is pinned above.
  StringSink json;
  EXPECT_TRUE(write_json(json, graph));
  for (const std::string& piece :
       {"\"virtual_peer\": false, \"health\": {\"operations\": {\"GET /a\": " + json_a +
            ", \"GET /b\": " + json_b + "}, \"methods\": {\"query\": " + no_calls + "}",
        "\"virtual_peer\": true, \"health\": {\"operations\": {\"ping\": " + json_ping +
            ", \"query\": " + json_query + "}, \"methods\": {}",
        "\"method\": \"GET /c\", \"count\": 1, \"health\": " + no_calls + "}\n"}) {
    EXPECT_NE(json.text().find(piece), std::string::npos) << piece;
  }
  // Without edges: the three families' comments alone.
  StringSink empty;
  EXPECT_TRUE(write_prometheus(empty, DependencyGraph{}));
  std::string comments;
  std::istringstream lines(std::get<1>(cases[2]));
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("# ")) comments += line + "\n";
  }
  EXPECT_EQ(empty.text(), comments);
}

TEST(GraphWriters, DurationUnitsAtTheirBoundaries) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 \u00b5s"},       {999, "999 \u00b5s"},
      {-999, "-999 \u00b5s"}, {1000, "1 ms"},
      {1001, "1.001 ms"},     {1230, "1.23 ms"},
      {-1500, "-1.5 ms"},     {999999, "999.999 ms"},
      {1000000, "1 s"},       {1000499, "1 s"},
      {1000500, "1.001 s"},   {1999500, "2 s"},
      {60010000, "60.01 s"},  {kMin, "-9223372036854.776 s"},
  };
  for (const auto& [micros, text] : cases) EXPECT_EQ(duration_text(micros), text) << micros;
}

TEST(GraphWriters, EdgeColourAndWidthAtTheirBoundaries) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::string_view kGreen = "#2f9e44", kAmber = "#b8860b", kOrange = "#e8590c",
                             kRed = "#e03131";
  struct Case {
    std::int64_t calls, errors;
    std::string_view colour;
    int width;
  };
  const Case cases[] = {{1, 0, kGreen, 2},
                        {10, 0, kGreen, 3},
                        {100, 0, kGreen, 4},
                        {9999, 0, kGreen, 5},
                        {10000, 0, kGreen, 6},
                        {101, 1, kAmber, 4},
                        {100, 1, kOrange, 4},
                        {21, 1, kOrange, 3},
                        {20, 1, kRed, 3},
                        {5, 9, kRed, 2},
                        {5, -1, kGreen, 2},
                        {kMax, kMax / 100, kAmber, 6},
                        {kMax, kMax / 100 + 1, kOrange, 6},
                        {kMax, kMax / 20 + 1, kRed, 6}};
  for (const Case& c : cases) {
    EXPECT_EQ(edge_style(c.calls, c.errors), (EdgeStyle{c.colour, c.width})) << c.calls << " calls";
  }
}

}  // namespace
}  // namespace tracemill
