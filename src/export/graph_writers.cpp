#include "export/graph_writers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "export/html_report.h"
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

bool write_unsigned(Sink& out, std::uint64_t value) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return out.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

// Products of two sums, which pass 64 bits.
__extension__ typedef unsigned __int128 Wide;

// Failed calls as a share of `calls` (> 0), the failures held within [0, calls].
Wide failures_within(std::int64_t calls, std::int64_t errors) {
  return static_cast<Wide>(std::clamp<std::int64_t>(errors, 0, calls));
}

// The health a label shows: calls, failures and the durations (none without a duration).
struct LabelHealth {
  std::int64_t calls = 0;
  std::int64_t errors = 0;
  const Latency* latency = nullptr;
};

std::int64_t saturated_sum(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::numeric_limits<std::int64_t>::max();
  return sum;
}

// A node's own health: of the calls it received, over all their methods; `merged` holds the
// durations of several methods.
LabelHealth node_health(const DependencyNode& node, Latency& merged) {
  LabelHealth health;
  for (const MethodSum& sum : node.operations) {
    const CallFigures& figures = sum.figures;
    health.calls = saturated_sum(health.calls, figures.calls);
    health.errors = saturated_sum(health.errors, figures.errors);
    if (figures.latency.count() == 0) continue;
    if (health.latency == nullptr) {
      health.latency = &figures.latency;
      continue;
    }
    if (health.latency != &merged) merged = *health.latency;
    merged.merge(figures.latency);
    health.latency = &merged;
  }
  return health;
}

LabelHealth edge_health(const DependencyEdge& edge) {
  const CallFigures& figures = edge.figures;
  return {figures.calls, figures.errors, figures.latency.count() > 0 ? &figures.latency : nullptr};
}

// "calls: C, errors: R %, p99: T" after `line_break`, or nothing without calls.
bool write_health_line(Sink& out, const LabelHealth& health, std::string_view line_break) {
  if (health.calls <= 0) return true;
  const Wide calls = static_cast<Wide>(health.calls);
  // Tenths of a percent, rounded half up.
  const auto tenths = static_cast<std::uint64_t>(
      (2000 * failures_within(health.calls, health.errors) + calls) / (2 * calls));
  const char digit = static_cast<char>('0' + tenths % 10);
  return out.write(line_break) && out.write("calls: ") && write_number(out, health.calls) &&
         out.write(", errors: ") && write_unsigned(out, tenths / 10) && out.write(".") &&
         out.write(std::string_view(&digit, 1)) && out.write(" %, p99: ") &&
         out.write(health.latency == nullptr ? std::string_view("-")
                                             : duration_text(health.latency->quantile(0.99)));
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

// A label of a name and the figures after it: "NAME\nentry count: 3", "METHOD (5)", then the
// health line.
bool write_dot_label_of(Sink& out, std::string_view name, std::string_view before,
                        std::int64_t number, std::string_view after, const LabelHealth& health) {
  StringSink label;
  write_dot_label(label, name);
  label.write(before);
  write_number(label, number);
  label.write(after);
  write_health_line(label, health, "\\n");
  return write_dot_pieces(out, label.text());
}

// Micro-seconds in decimal (a leading '-' when negative) as seconds: "1.234567", "0.002", "1".
std::string seconds_of_micros(std::string micros) {
  const bool negative = micros.starts_with('-');
  if (negative) micros.erase(0, 1);
  if (micros.size() < 7) micros.insert(0, 7 - micros.size(), '0');
  std::string fraction = micros.substr(micros.size() - 6);
  fraction.erase(fraction.find_last_not_of('0') + 1);
  micros.resize(micros.size() - 6);
  if (!fraction.empty()) micros += "." + fraction;
  return negative && micros != "0" ? "-" + micros : micros;
}

bool write_json_figures(Sink& out, const CallFigures& figures) {
  if (!(out.write("{\"calls\": ") && write_number(out, figures.calls) &&
        out.write(", \"errors\": ") && write_number(out, figures.errors) &&
        out.write(", \"with_error_logs\": ") && write_number(out, figures.with_error_logs) &&
        out.write(", \"http_status\": {"))) {
    return false;
  }
  for (std::size_t i = 0; i < figures.http_status.size(); ++i) {
    if (!(out.write(i == 0 ? "\"" : ", \"") && write_number(out, figures.http_status[i].first) &&
          out.write("\": ") && write_number(out, figures.http_status[i].second))) {
      return false;
    }
  }
  if (!out.write("}, \"error_logs\": [")) return false;
  const auto top = top_error_logs(figures);
  for (std::size_t i = 0; i < top.size(); ++i) {
    if (!(out.write(i == 0 ? "{\"text\": \"" : ", {\"text\": \"") &&
          write_json_string(out, top[i].first) && out.write("\", \"count\": ") &&
          write_number(out, top[i].second) && out.write("}"))) {
      return false;
    }
  }
  const Latency& latency = figures.latency;
  if (!(out.write("], \"latency_micros\": {\"count\": ") && write_unsigned(out, latency.count()) &&
        out.write(", \"sum\": ") && out.write(latency.sum().to_decimal()))) {
    return false;
  }
  const std::pair<std::string_view, std::int64_t> values[] = {
      {", \"min\": ", latency.min()},          {", \"max\": ", latency.max()},
      {", \"p50\": ", latency.quantile(0.5)},  {", \"p90\": ", latency.quantile(0.9)},
      {", \"p95\": ", latency.quantile(0.95)}, {", \"p99\": ", latency.quantile(0.99)}};
  for (const auto& [key, value] : values) {
    if (!(out.write(key) &&
          (latency.count() == 0 ? out.write("null") : write_number(out, value)))) {
      return false;
    }
  }
  return out.write("}}");
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

// `opening` ("KEY": {), then per method its health, then }.
bool write_json_method_health(Sink& out, std::string_view opening,
                              const std::vector<MethodSum>& sums) {
  if (!out.write(opening)) return false;
  for (std::size_t i = 0; i < sums.size(); ++i) {
    if (!(out.write(i == 0 ? "\"" : ", \"") && write_json_string(out, sums[i].method) &&
          out.write("\": ") && write_json_figures(out, sums[i].figures))) {
      return false;
    }
  }
  return out.write("}");
}

// A label value of the exposition format: backslash, double quote and line feed escaped.
bool write_prometheus_label(Sink& out, std::string_view value) {
  return write_with(out, value,
                    [](unsigned char c, std::string_view, char*, std::size_t&) -> std::string_view {
                      if (c == '\\') return "\\\\";
                      if (c == '"') return "\\\"";
                      if (c == '\n') return "\\n";
                      return {};
                    });
}

// The calls between a client and a server, over the methods of their edges.
struct ServicePair {
  const std::string* client = nullptr;
  const std::string* server = nullptr;
  bool virtual_server = false;
  Int128 calls;
  Int128 errors;
  std::uint64_t durations = 0;
  Int128 micros;
  std::array<std::uint64_t, Latency::kBounds.size()> at_most{};
};

std::vector<ServicePair> service_pairs(const DependencyGraph& graph) {
  std::vector<ServicePair> pairs;
  for (const DependencyEdge& edge : graph.edges) {
    if (pairs.empty() || *pairs.back().client != edge.from || *pairs.back().server != edge.to) {
      ServicePair& pair = pairs.emplace_back();
      pair.client = &edge.from;
      pair.server = &edge.to;
      pair.virtual_server =
          std::binary_search(graph.virtual_peers.begin(), graph.virtual_peers.end(), edge.to);
    }
    ServicePair& pair = pairs.back();
    const CallFigures& figures = edge.figures;
    pair.calls.add(figures.calls);
    pair.errors.add(figures.errors);
    pair.durations += figures.latency.count();
    pair.micros.add(figures.latency.sum());
    for (std::size_t i = 0; i < Latency::kBounds.size(); ++i) {
      pair.at_most[i] += figures.latency.count_at_most(Latency::kBounds[i]);
    }
  }
  return pairs;
}

// NAME{client="...",server="...",connection_type="..."[,le="..."]} VALUE
bool write_series(Sink& out, std::string_view name, const ServicePair& pair, std::string_view le,
                  std::string_view value) {
  return out.write(name) && out.write("{client=\"") && write_prometheus_label(out, *pair.client) &&
         out.write("\",server=\"") && write_prometheus_label(out, *pair.server) &&
         out.write(pair.virtual_server ? "\",connection_type=\"virtual_node\""
                                       : "\",connection_type=\"\"") &&
         (le.empty() || (out.write(",le=\"") && out.write(le) && out.write("\""))) &&
         out.write("} ") && out.write(value) && out.write("\n");
}

}  // namespace

bool write_prometheus(Sink& out, const DependencyGraph& graph) {
  const std::vector<ServicePair> pairs = service_pairs(graph);
  constexpr std::string_view kTotal = "traces_service_graph_request_total";
  constexpr std::string_view kFailed = "traces_service_graph_request_failed_total";
  constexpr std::string_view kSeconds = "traces_service_graph_request_server_seconds";
  if (!out.write("# HELP traces_service_graph_request_total Calls from the client to the server, "
                 "over all methods.\n# TYPE traces_service_graph_request_total counter\n")) {
    return false;
  }
  for (const ServicePair& pair : pairs) {
    if (!write_series(out, kTotal, pair, {}, pair.calls.to_decimal())) return false;
  }
  if (!out.write("# HELP traces_service_graph_request_failed_total Failed calls from the client "
                 "to the server, over all methods.\n"
                 "# TYPE traces_service_graph_request_failed_total counter\n")) {
    return false;
  }
  for (const ServicePair& pair : pairs) {
    if (!write_series(out, kFailed, pair, {}, pair.errors.to_decimal())) return false;
  }
  if (!out.write("# HELP traces_service_graph_request_server_seconds Durations of the calls from "
                 "the client to the server, in seconds.\n"
                 "# TYPE traces_service_graph_request_server_seconds histogram\n")) {
    return false;
  }
  std::array<std::string, Latency::kBounds.size()> bounds;
  for (std::size_t i = 0; i < bounds.size(); ++i) {
    bounds[i] = seconds_of_micros(std::to_string(Latency::kBounds[i]));
  }
  const std::string bucket = std::string(kSeconds) + "_bucket";
  for (const ServicePair& pair : pairs) {
    for (std::size_t i = 0; i < bounds.size(); ++i) {
      if (!write_series(out, bucket, pair, bounds[i], std::to_string(pair.at_most[i]))) {
        return false;
      }
    }
    const std::string count = std::to_string(pair.durations);
    if (!(write_series(out, bucket, pair, "+Inf", count) &&
          write_series(out, std::string(kSeconds) + "_sum", pair, {},
                       seconds_of_micros(pair.micros.to_decimal())) &&
          write_series(out, std::string(kSeconds) + "_count", pair, {}, count))) {
      return false;
    }
  }
  return true;
}

std::optional<ExportFormat> export_format(std::string_view name) {
  if (name == "dot") return ExportFormat::Dot;
  if (name == "mermaid") return ExportFormat::Mermaid;
  if (name == "json") return ExportFormat::Json;
  if (name == "prometheus") return ExportFormat::Prometheus;
  if (name == "html") return ExportFormat::Html;
  return std::nullopt;
}

std::string duration_text(std::int64_t micros) {
  std::string text = micros < 0 ? "-" : "";
  const std::uint64_t magnitude =
      micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : static_cast<std::uint64_t>(micros);
  if (magnitude < 1000) return text + std::to_string(magnitude) + " \u00b5s";
  std::uint64_t thousandths = magnitude;  // of a millisecond
  std::string_view unit = " ms";
  if (magnitude >= 1'000'000) {
    thousandths = magnitude / 1000 + (magnitude % 1000 >= 500 ? 1 : 0);  // of a second
    unit = " s";
  }
  text += std::to_string(thousandths / 1000);
  if (const std::uint64_t decimals = thousandths % 1000; decimals != 0) {
    std::string digits = std::to_string(1000 + decimals).substr(1);
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text.append(unit);
}

EdgeStyle edge_style(std::int64_t calls, std::int64_t errors) {
  int width = 2;
  for (std::int64_t n = calls; n >= 10 && width < 6; n /= 10) ++width;
  std::string_view color = "#2f9e44";  // green: no call failed
  if (calls > 0 && errors > 0) {
    const Wide failed = failures_within(calls, errors);
    const Wide all = static_cast<Wide>(calls);
    color = failed * 100 < all  ? "#b8860b"   // amber: below 1 %
            : failed * 20 < all ? "#e8590c"   // orange: below 5 %
                                : "#e03131";  // red: from 5 %
  }
  return {color, width};
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
  Latency merged;
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const DependencyNode& node = graph.nodes[i];
    if (!(out.write("  n") && write_number(out, static_cast<std::int64_t>(i)) &&
          out.write(" [label=") &&
          write_dot_label_of(out, node.name, "\\nentry count: ", node.entry_count, "",
                             node_health(node, merged)) &&
          out.write("];\n"))) {
      return false;
    }
  }
  for (const DependencyEdge& edge : graph.edges) {
    if (!(out.write("  ") && write_node_id(out, graph, edge.from) && out.write(" -> ") &&
          write_node_id(out, graph, edge.to) && out.write(" [label=") &&
          write_dot_label_of(out, edge.method, " (", edge.count, ")", edge_health(edge)))) {
      return false;
    }
    if (edge.figures.calls > 0) {
      const EdgeStyle style = edge_style(edge.figures.calls, edge.figures.errors);
      if (!(out.write(", color=\"") && out.write(style.color) && out.write("\", penwidth=") &&
            write_number(out, style.width))) {
        return false;
      }
    }
    if (!out.write("];\n")) return false;
  }
  return out.write("}\n");
}

bool write_mermaid(Sink& out, const DependencyGraph& graph) {
  auto write_id = [&](const std::string& name) { return write_node_id(out, graph, name); };
  if (!out.write("flowchart LR\n")) return false;
  Latency merged;
  for (const DependencyNode& node : graph.nodes) {
    if (!(out.write("  ") && write_id(node.name) && out.write("[\"") &&
          write_mermaid_label(out, node.name) && out.write("<br>entry count: ") &&
          write_number(out, node.entry_count) &&
          write_health_line(out, node_health(node, merged), "<br>") && out.write("\"]\n"))) {
      return false;
    }
  }
  for (const DependencyEdge& edge : graph.edges) {
    if (!(out.write("  ") && write_id(edge.from) && out.write(" -->|\"") &&
          write_mermaid_label(out, edge.method) && out.write(" (") &&
          write_number(out, edge.count) && out.write(")") &&
          write_health_line(out, edge_health(edge), "<br>") && out.write("\"| ") &&
          write_id(edge.to) && out.write("\n"))) {
      return false;
    }
  }
  // A link is styled by its number in the order of the links.
  for (std::size_t i = 0; i < graph.edges.size(); ++i) {
    const CallFigures& figures = graph.edges[i].figures;
    if (figures.calls <= 0) continue;
    const EdgeStyle style = edge_style(figures.calls, figures.errors);
    if (!(out.write("  linkStyle ") && write_unsigned(out, i) && out.write(" stroke:") &&
          out.write(style.color) && out.write(",stroke-width:") && write_number(out, style.width) &&
          out.write("px\n"))) {
      return false;
    }
  }
  return true;
}

bool write_json(Sink& out, const DependencyGraph& graph) {
  if (!out.write("{\n  \"version\": 2,\n  \"nodes\": [")) return false;
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const DependencyNode& node = graph.nodes[i];
    if (!(out.write(i == 0 ? "\n    {\"name\": \"" : ",\n    {\"name\": \"") &&
          write_json_string(out, node.name) && out.write("\", \"entry_count\": ") &&
          write_number(out, node.entry_count) &&
          write_json_method_sums(out, "operations", node.operations) &&
          write_json_method_sums(out, "methods", node.methods) &&
          write_json_method_sums(out, "direction_unknown", node.direction_unknown) &&
          out.write(
              std::binary_search(graph.virtual_peers.begin(), graph.virtual_peers.end(), node.name)
                  ? ", \"virtual_peer\": true, \"health\": {"
                  : ", \"virtual_peer\": false, \"health\": {") &&
          write_json_method_health(out, "\"operations\": {", node.operations) &&
          write_json_method_health(out, ", \"methods\": {", node.methods) &&
          write_json_method_health(out, ", \"direction_unknown\": {", node.direction_unknown) &&
          out.write("}}"))) {
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
          write_number(out, edge.count) && out.write(", \"health\": ") &&
          write_json_figures(out, edge.figures) && out.write("}"))) {
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
    case ExportFormat::Prometheus:
      return write_prometheus(out, graph);
    case ExportFormat::Html:
      return write_html(out, graph, ReportHeader{});
  }
  return false;
}

}  // namespace tracemill
