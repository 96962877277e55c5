// The three text forms of the dependency graph: a Graphviz digraph, a Mermaid flowchart and
// JSON. Each writes the graph in its sorted order, so equal graphs give equal bytes, and
// escapes names so that any UTF-8 name gives valid output. Every writer returns false once a
// write to the sink failed.
#pragma once

#include <optional>
#include <string_view>

#include "base/sink.h"
#include "export/dependency_graph.h"

namespace tracemill {

enum class ExportFormat { Dot, Mermaid, Json };

// The format of that name: "dot", "mermaid" or "json".
std::optional<ExportFormat> export_format(std::string_view name);

// digraph dependencies { rankdir=LR; node [shape=box]; n0 [label="..."]; n0 -> n1 ... }, nodes
// n0, n1, ... in sorted order with their names in the labels.
bool write_dot(Sink& out, const DependencyGraph& graph);
// flowchart LR; nodes n0, n1, ... in sorted order with their names as labels.
bool write_mermaid(Sink& out, const DependencyGraph& graph);
// {"version": 1, "nodes": [...], "edges": [...]}, a node or an edge a line.
bool write_json(Sink& out, const DependencyGraph& graph);
bool write_graph(Sink& out, const DependencyGraph& graph, ExportFormat format);

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

}  // namespace tracemill
