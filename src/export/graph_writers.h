// The text forms of the dependency graph: a Graphviz digraph, a Mermaid flowchart, JSON and
// Prometheus metrics (and through write_graph() the HTML page of export/html_report.h). Each writes
// the graph in its sorted order, so equal graphs give equal bytes, and escapes names so that any
// UTF-8 name gives valid output. Every writer returns false once a write to the sink failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/sink.h"
#include "export/baseline.h"
#include "export/dependency_graph.h"

namespace tracemill {

enum class ExportFormat { Dot, Mermaid, Json, Prometheus, Html };

// The format of that name: "dot", "mermaid", "json", "prometheus" or "html".
std::optional<ExportFormat> export_format(std::string_view name);

// digraph dependencies { rankdir=LR; node [shape=box]; n0 [label="..."]; n0 -> n1 ... }, nodes
// n0, n1, ... in sorted order with their names in the labels. A node or an edge with calls has
// the line "calls: C, errors: R %, p99: T" in its label (a node: of the calls it received), and
// such an edge the colour and pen width of edge_style().
bool write_dot(Sink& out, const DependencyGraph& graph, const GraphChanges* changes = nullptr);
// flowchart LR; nodes n0, n1, ... in sorted order with their names as labels; labels as in dot,
// then "linkStyle I stroke:#rrggbb,stroke-width:Npx" for every edge I with calls.
bool write_mermaid(Sink& out, const DependencyGraph& graph, const GraphChanges* changes = nullptr);
// {"version": 2, "nodes": [...], "edges": [...]}, a node or an edge a line, with its health.
bool write_json(Sink& out, const DependencyGraph& graph, const GraphChanges* changes = nullptr);
// The Prometheus text exposition format: per (client, server), over every method of the edges
// between them, the counters traces_service_graph_request_total and
// traces_service_graph_request_failed_total and the histogram
// traces_service_graph_request_server_seconds (buckets at Latency::kBounds).
bool write_prometheus(Sink& out, const DependencyGraph& graph,
                      const GraphChanges* changes = nullptr);
// With `changes` (the graph against a baseline), dot and Mermaid draw the union of both graphs,
// what is gone dashed, each label with a line of what changed ("new since the baseline", "gone
// since the baseline" and its baseline health, or "vs baseline: calls ×1.5, errors +2.0 pp
// (worse), p99 ×1.25 (worse)"); JSON adds the "baseline" block; Prometheus adds the families
// tracemill_baseline_edge_status, _calls_ratio, _error_ratio_change and _p99_ratio per client,
// server and method. Html is the page of export/html_report.h with an empty header.
bool write_graph(Sink& out, const DependencyGraph& graph, ExportFormat format,
                 const GraphChanges* changes = nullptr);

// A name as it stands between the double quotes of each form (the writers' pieces). ASCII
// control characters other than the line feed are shown as \u{hex} in dot and Mermaid.
//  - dot label: \" and \\ escaped, a line feed as \n (a line break), \\u{hex} so that Graphviz
//    shows \u{hex}. The writer splits a quoted string longer than Graphviz reads into pieces
//    joined with "+".
//  - Mermaid label: " # & < > | ` as entity codes (#quot; #35; ...), a line feed as <br>, and
//    every other character that is not printable (U+2028 and U+2029, which end a line in
//    JavaScript, among them) as its decimal entity code (#8232;).
//  - JSON: RFC 8259 (\" \\ \b \f \n \r \t, \u00XX for the other controls).
bool write_dot_label(Sink& out, std::string_view name);
bool write_mermaid_label(Sink& out, std::string_view name);
bool write_json_string(Sink& out, std::string_view name);

// A duration for labels: "850 µs" below a millisecond, "1.25 ms" below a second, else "2.5 s",
// with at most three decimals (seconds rounded to the millisecond, half up) and no trailing
// zeros; negative durations with a leading "-".
std::string duration_text(std::int64_t micros);

// How an edge with calls is drawn: its colour by the share of failed calls (none, below 1 %,
// below 5 %, from 5 %) and its width, 2 for fewer than 10 calls and one more per power of ten,
// at most 6 (from 10,000 calls).
struct EdgeStyle {
  std::string_view color;  // "#rrggbb"
  int width = 0;
  bool operator==(const EdgeStyle&) const = default;
};
EdgeStyle edge_style(std::int64_t calls, std::int64_t errors);

}  // namespace tracemill
