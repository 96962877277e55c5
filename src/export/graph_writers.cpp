#include "export/graph_writers.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/utf8.h"
#include "text_form/unicode.h"

namespace tracemill {
namespace {

// Writes `text`, each byte for which `escape` gives a replacement replaced by it, the runs
// between replacements as one slice each. `escape(c, rest, buffer, length)` sees the byte and
// the text from it on; a replacement stands for `length` bytes (1 unless it sets more: a
// whole character). Bytes of a character that is not replaced pass whole.
template <class Escape>
bool write_with(Sink& out, std::string_view text, Escape escape) {
  std::size_t run = 0;
  char buffer[16];
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    const std::string_view replacement =
        escape(static_cast<unsigned char>(text[i]), text.substr(i), buffer, length);
    if (replacement.empty()) {
      ++i;
      continue;
    }
    if (!(out.write(text.substr(run, i - run)) && out.write(replacement))) return false;
    i += length;
    run = i;
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

// Graphviz reads no quoted string longer than 16,384 bytes: a longer one is written as pieces
// joined by DOT's "+", cut where no escape and no character is cut.
constexpr std::size_t kDotPieceBytes = 16000;

// `quoted`, the text between the quotes, as one or more quoted strings.
bool write_dot_pieces(Sink& out, std::string_view quoted) {
  if (!out.write("\"")) return false;
  while (quoted.size() > kDotPieceBytes) {
    std::size_t end = kDotPieceBytes;
    auto cuts_escape = [&](std::size_t at) {
      std::size_t backslashes = 0;
      while (backslashes < at && quoted[at - 1 - backslashes] == '\\') ++backslashes;
      return backslashes % 2 == 1;
    };
    while ((static_cast<unsigned char>(quoted[end]) & 0xC0) == 0x80 || cuts_escape(end)) --end;
    if (!(out.write(quoted.substr(0, end)) && out.write("\" + \""))) return false;
    quoted.remove_prefix(end);
  }
  return out.write(quoted) && out.write("\"");
}

// A label of a name and the figures after it: "NAME\nentry count: 3", "METHOD (5)".
bool write_dot_label_of(Sink& out, std::string_view name, std::string_view before,
                        std::int64_t number, std::string_view after) {
  StringSink label;
  write_dot_label(label, name);
  label.write(before);
  write_number(label, number);
  label.write(after);
  return write_dot_pieces(out, label.text());
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

// A label is an escString: \\ shows a backslash, \n breaks the line, \N, \G, ... would name the
// node or graph, so every backslash of the name is doubled.
bool write_dot_label(Sink& out, std::string_view name) {
  return write_with(
      out, name,
      [](unsigned char c, std::string_view, char* buffer, std::size_t&) -> std::string_view {
        if (c == '"') return "\\\"";
        if (c == '\\') return "\\\\";
        if (c == '\n') return "\\n";
        if (is_control(c)) return shown_control(c, buffer, "\\\\");
        return {};
      });
}

bool write_mermaid_label(Sink& out, std::string_view name) {
  return write_with(out, name,
                    [](unsigned char c, std::string_view rest, char* buffer,
                       std::size_t& length) -> std::string_view {
                      if (c >= 0x80) {
                        // JavaScript ends lines at U+2028 and U+2029 too: those, and every other
                        // character that is not printable, become entity codes.
                        std::optional<Utf8Char> decoded = decode_utf8_char(rest);
                        if (!decoded || is_printable(decoded->value)) return {};
                        length = decoded->length;
                        char* p = buffer;
                        *p++ = '#';
                        p = std::to_chars(p, p + 8, static_cast<std::uint32_t>(decoded->value)).ptr;
                        *p++ = ';';
                        return std::string_view(buffer, static_cast<std::size_t>(p - buffer));
                      }
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
                          return is_control(c) ? shown_control(c, buffer, "\\")
                                               : std::string_view{};
                      }
                    });
}

bool write_json_string(Sink& out, std::string_view name) {
  return write_with(
      out, name,
      [](unsigned char c, std::string_view, char* buffer, std::size_t&) -> std::string_view {
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

namespace {

// Writes "n<i>", where graph.nodes[i] is the node of that name; every end of an edge is a node.
bool write_node_id(Sink& out, const DependencyGraph& graph, const std::string& name) {
  auto it = std::lower_bound(
      graph.nodes.begin(), graph.nodes.end(), name,
      [](const DependencyNode& node, const std::string& key) { return node.name < key; });
  return out.write("n") && write_number(out, it - graph.nodes.begin());
}

}  // namespace

// Node IDs are generated, the names only labels: an ID of the name would need its own escapes,
// and Graphviz takes an ID beginning with % for one of its anonymous ones.
bool write_dot(Sink& out, const DependencyGraph& graph) {
  if (!out.write("digraph dependencies {\n  rankdir=LR;\n  node [shape=box];\n")) return false;
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const DependencyNode& node = graph.nodes[i];
    if (!(out.write("  n") && write_number(out, static_cast<std::int64_t>(i)) &&
          out.write(" [label=") &&
          write_dot_label_of(out, node.name, "\\nentry count: ", node.entry_count, "") &&
          out.write("];\n"))) {
      return false;
    }
  }
  for (const DependencyEdge& edge : graph.edges) {
    if (!(out.write("  ") && write_node_id(out, graph, edge.from) && out.write(" -> ") &&
          write_node_id(out, graph, edge.to) && out.write(" [label=") &&
          write_dot_label_of(out, edge.method, " (", edge.count, ")") && out.write("];\n"))) {
      return false;
    }
  }
  return out.write("}\n");
}

bool write_mermaid(Sink& out, const DependencyGraph& graph) {
  auto write_id = [&](const std::string& name) { return write_node_id(out, graph, name); };
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
