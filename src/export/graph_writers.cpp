#include "export/graph_writers.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tracemill {
namespace {

// Writes `text`, each byte for which `escape` gives a replacement replaced by it, the runs
// between replacements as one slice each. Only ASCII bytes are ever replaced, so every
// character of more than one byte passes whole.
template <class Escape>
bool write_with(Sink& out, std::string_view text, Escape escape) {
  std::size_t run = 0;
  char buffer[16];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string_view replacement = escape(static_cast<unsigned char>(text[i]), buffer);
    if (replacement.empty()) continue;
    if (!(out.write(text.substr(run, i - run)) && out.write(replacement))) return false;
    run = i + 1;
  }
  return out.write(text.substr(run));
}

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

// `prefix` followed by "u{hex}" in `buffer`.
std::string_view shown_control(unsigned char c, char* buffer, std::string_view prefix) {
  char* p = std::copy(prefix.begin(), prefix.end(), buffer);
  *p++ = 'u';
  *p++ = '{';
  p = std::to_chars(p, p + 2, c, 16).ptr;
  *p++ = '}';
  return std::string_view(buffer, static_cast<std::size_t>(p - buffer));
}

bool write_number(Sink& out, std::int64_t value) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return out.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

bool write_dot_text(Sink& out, std::string_view name, std::string_view control_prefix) {
  return write_with(out, name, [&](unsigned char c, char* buffer) -> std::string_view {
    if (c == '"') return "\\\"";
    if (c == '\\') return "\\\\";
    if (c == '\n') return "\\n";
    if (is_control(c)) return shown_control(c, buffer, control_prefix);
    return {};
  });
}

bool write_quoted_dot_id(Sink& out, std::string_view name) {
  return out.write("\"") && write_dot_id(out, name) && out.write("\"");
}

bool write_json_method_sums(Sink& out, std::string_view key, const std::vector<MethodSum>& sums) {
  if (!(out.write(", \"") && out.write(key) && out.write("\": {"))) return false;
  for (std::size_t i = 0; i < sums.size(); ++i) {
    if (!(out.write(i == 0 ? "\"" : ", \"") && write_json_string(out, sums[i].method) &&
          out.write("\": ") && write_number(out, sums[i].sum))) {
      return false;
    }
  }
  return out.write("}");
}

}  // namespace

std::optional<ExportFormat> export_format(std::string_view name) {
  if (name == "dot") return ExportFormat::Dot;
  if (name == "mermaid") return ExportFormat::Mermaid;
  if (name == "json") return ExportFormat::Json;
  return std::nullopt;
}

// In a dot ID only \" is an escape; any other backslash stays, so a single backslash before
// another character than \ or " can only come from an escape written here.
bool write_dot_id(Sink& out, std::string_view name) { return write_dot_text(out, name, "\\"); }

// A label is an escString: \\ shows a backslash, \n breaks the line, \N, \G, ... would name the
// node or graph, so every backslash of the name is doubled.
bool write_dot_label(Sink& out, std::string_view name) { return write_dot_text(out, name, "\\\\"); }

bool write_mermaid_label(Sink& out, std::string_view name) {
  return write_with(out, name, [](unsigned char c, char* buffer) -> std::string_view {
    switch (c) {
      case '"':
        return "#quot;";
      case '#':
        return "#35;";
      case '&':
        return "#amp;";
      case '<':
        return "#lt;";
      case '>':
        return "#gt;";
      case '|':
        return "#124;";
      case '`':
        return "#96;";
      case '\n':
        return "<br>";
      default:
        return is_control(c) ? shown_control(c, buffer, "\\") : std::string_view{};
    }
  });
}

bool write_json_string(Sink& out, std::string_view name) {
  return write_with(out, name, [](unsigned char c, char* buffer) -> std::string_view {
    switch (c) {
      case '"':
        return "\\\"";
      case '\\':
        return "\\\\";
      case '\b':
        return "\\b";
      case '\f':
        return "\\f";
      case '\n':
        return "\\n";
      case '\r':
        return "\\r";
      case '\t':
        return "\\t";
      default:
        break;
    }
    if (c >= 0x20) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    std::copy(std::begin(escape), std::end(escape), buffer);
    return std::string_view(buffer, sizeof escape);
  });
}

bool write_dot(Sink& out, const DependencyGraph& graph) {
  if (!out.write("digraph dependencies {\n  rankdir=LR;\n  node [shape=box];\n")) return false;
  for (const DependencyNode& node : graph.nodes) {
    if (!(out.write("  ") && write_quoted_dot_id(out, node.name) && out.write(" [label=\"") &&
          write_dot_label(out, node.name) && out.write("\\nentry count: ") &&
          write_number(out, node.entry_count) && out.write("\"];\n"))) {
      return false;
    }
  }
  for (const DependencyEdge& edge : graph.edges) {
    if (!(out.write("  ") && write_quoted_dot_id(out, edge.from) && out.write(" -> ") &&
          write_quoted_dot_id(out, edge.to) && out.write(" [label=\"") &&
          write_dot_label(out, edge.method) && out.write(" (") && write_number(out, edge.count) &&
          out.write(")\"];\n"))) {
      return false;
    }
  }
  return out.write("}\n");
}

bool write_mermaid(Sink& out, const DependencyGraph& graph) {
  // Node n<i> is graph.nodes[i]; every end of an edge is a node.
  auto write_id = [&](const std::string& name) {
    auto it = std::lower_bound(
        graph.nodes.begin(), graph.nodes.end(), name,
        [](const DependencyNode& node, const std::string& key) { return node.name < key; });
    return out.write("n") && write_number(out, it - graph.nodes.begin());
  };
  if (!out.write("flowchart LR\n")) return false;
  for (const DependencyNode& node : graph.nodes) {
    if (!(out.write("  ") && write_id(node.name) && out.write("[\"") &&
          write_mermaid_label(out, node.name) && out.write("<br>entry count: ") &&
          write_number(out, node.entry_count) && out.write("\"]\n"))) {
      return false;
    }
  }
  for (const DependencyEdge& edge : graph.edges) {
    if (!(out.write("  ") && write_id(edge.from) && out.write(" -->|\"") &&
          write_mermaid_label(out, edge.method) && out.write(" (") &&
          write_number(out, edge.count) && out.write(")\"| ") && write_id(edge.to) &&
          out.write("\n"))) {
      return false;
    }
  }
  return true;
}

bool write_json(Sink& out, const DependencyGraph& graph) {
  if (!out.write("{\n  \"version\": 1,\n  \"nodes\": [")) return false;
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const DependencyNode& node = graph.nodes[i];
    if (!(out.write(i == 0 ? "\n    {\"name\": \"" : ",\n    {\"name\": \"") &&
          write_json_string(out, node.name) && out.write("\", \"entry_count\": ") &&
          write_number(out, node.entry_count) &&
          write_json_method_sums(out, "operations", node.operations) &&
          write_json_method_sums(out, "methods", node.methods) &&
          write_json_method_sums(out, "direction_unknown", node.direction_unknown) &&
          out.write("}"))) {
      return false;
    }
  }
  if (!out.write(graph.nodes.empty() ? "],\n  \"edges\": [" : "\n  ],\n  \"edges\": [")) {
    return false;
  }
  for (std::size_t i = 0; i < graph.edges.size(); ++i) {
    const DependencyEdge& edge = graph.edges[i];
    if (!(out.write(i == 0 ? "\n    {\"from\": \"" : ",\n    {\"from\": \"") &&
          write_json_string(out, edge.from) && out.write("\", \"to\": \"") &&
          write_json_string(out, edge.to) && out.write("\", \"method\": \"") &&
          write_json_string(out, edge.method) && out.write("\", \"count\": ") &&
          write_number(out, edge.count) && out.write("}"))) {
      return false;
    }
  }
  return out.write(graph.edges.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

bool write_graph(Sink& out, const DependencyGraph& graph, ExportFormat format) {
  switch (format) {
    case ExportFormat::Dot:
      return write_dot(out, graph);
    case ExportFormat::Mermaid:
      return write_mermaid(out, graph);
    case ExportFormat::Json:
      return write_json(out, graph);
  }
  return false;
}

}  // namespace tracemill
