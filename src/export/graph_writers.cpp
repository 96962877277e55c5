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
#include "export/baseline.h"
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

// "calls: C, errors: R %, p99: T" after `line_break` and `prefix`, or nothing without calls.
bool write_health_line(Sink& out, const HealthSummary& health, std::string_view line_break,
                       std::string_view prefix = {}) {
  if (health.calls <= 0) return true;
  const Wide calls = static_cast<Wide>(health.calls);
  // Tenths of a percent, rounded half up.
  const auto tenths = static_cast<std::uint64_t>(
      (2000 * failures_within(health.calls, health.errors) + calls) / (2 * calls));
  const char digit = static_cast<char>('0' + tenths % 10);
  return out.write(line_break) && out.write(prefix) && out.write("calls: ") &&
         write_number(out, health.calls) && out.write(", errors: ") &&
         write_unsigned(out, tenths / 10) && out.write(".") &&
         out.write(std::string_view(&digit, 1)) && out.write(" %, p99: ") &&
         out.write(health.p99 ? duration_text(*health.p99) : std::string("-"));
}

// `value` rounded to `decimals` decimals, without trailing zeros unless `keep_zeros`, and
// without the sign of a value that rounds to zero: "1.5", "0", "-0.25", "10.0".
std::string decimal_text(double value, int decimals, bool keep_zeros = false) {
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  std::string shown(text, result.ptr);
  if (!keep_zeros && shown.find('.') != std::string::npos) {
    shown.erase(shown.find_last_not_of('0') + 1);
    if (shown.back() == '.') shown.pop_back();
  }
  if (shown.starts_with('-') && shown.find_first_of("123456789") == std::string::npos) {
    shown.erase(0, 1);
  }
  return shown;
}

std::string_view presence_text(Presence presence) {
  switch (presence) {
    case Presence::New:
      return "new";
    case Presence::Gone:
      return "gone";
    case Presence::Kept:
      break;
  }
  return "kept";
}

// The line of a label that says what changed since the baseline, after `line_break`: "new
// since the baseline", "gone since the baseline", or "vs baseline: calls ×R, errors ±P pp,
// p99 ×R" with " (worse)" after what got worse (nothing when there is nothing to compare).
bool write_change_line(Sink& out, const FigureChange& change, std::string_view line_break) {
  if (change.status == Presence::New) {
    return out.write(line_break) && out.write("new since the baseline");
  }
  if (change.status == Presence::Gone) {
    return out.write(line_break) && out.write("gone since the baseline") &&
           write_health_line(out, change.before, line_break, "baseline ");
  }
  std::string text;
  auto part = [&](std::string_view piece) {
    text += text.empty() ? "vs baseline: " : ", ";
    text += piece;
  };
  if (const std::optional<double> r = change.calls_ratio()) {
    std::string piece = "calls \u00d7";
    piece += decimal_text(*r, 2);
    part(piece);
  }
  if (const std::optional<double> d = change.error_ratio_change()) {
    const std::string points = decimal_text(*d * 100, 1, true);
    std::string piece = "errors ";
    piece += points.starts_with('-') ? "" : "+";
    piece += points;
    piece += " pp";
    if (change.worse_errors()) piece += " (worse)";
    part(piece);
  }
  if (const std::optional<double> r = change.p99_ratio()) {
    std::string piece = "p99 \u00d7";
    piece += decimal_text(*r, 2);
    if (change.worse_p99()) piece += " (worse)";
    part(piece);
  }
  return text.empty() || (out.write(line_break) && out.write(text));
}

// What the dot and Mermaid writers draw of a node or an edge: of the graph, or of the union of
// the graph and its baseline.
struct DrawnNode {
  const std::string* name;
  std::int64_t entry_count;
  HealthSummary health;
  const FigureChange* change;  // none without a baseline
};
struct DrawnEdge {
  const std::string* from;
  const std::string* to;
  const std::string* method;
  std::int64_t count;
  HealthSummary health;
  const FigureChange* change;
};

std::vector<DrawnNode> drawn_nodes(const DependencyGraph& graph, const GraphChanges* changes) {
  std::vector<DrawnNode> drawn;
  if (changes == nullptr) {
    for (const DependencyNode& node : graph.nodes) {
      drawn.push_back({&node.name, node.entry_count, received_summary(node), nullptr});
    }
    return drawn;
  }
  for (const NodeChange& node : changes->nodes) {
    const FigureChange& change = node.received;
    drawn.push_back({&node.name, node.entry_count,
                     node.status == Presence::Gone ? HealthSummary{} : change.after, &change});
  }
  return drawn;
}

std::vector<DrawnEdge> drawn_edges(const DependencyGraph& graph, const GraphChanges* changes) {
  std::vector<DrawnEdge> drawn;
  if (changes == nullptr) {
    for (const DependencyEdge& edge : graph.edges) {
      drawn.push_back(
          {&edge.from, &edge.to, &edge.method, edge.count, summary_of(edge.figures), nullptr});
    }
    return drawn;
  }
  for (const EdgeChange& edge : changes->edges) {
    const FigureChange& change = edge.change;
    drawn.push_back({&edge.from, &edge.to, &edge.method, edge.count,
                     change.status == Presence::Gone ? HealthSummary{} : change.after, &change});
  }
  return drawn;
}

bool gone(const FigureChange* change) {
  return change != nullptr && change->status == Presence::Gone;
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
// health line and the change line.
bool write_dot_label_of(Sink& out, std::string_view name, std::string_view before,
                        std::int64_t number, std::string_view after, const HealthSummary& health,
                        const FigureChange* change) {
  StringSink label;
  write_dot_label(label, name);
  label.write(before);
  write_number(label, number);
  label.write(after);
  write_health_line(label, health, "\\n");
  if (change != nullptr) write_change_line(label, *change, "\\n");
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
          write_json_string(out, top[i]->first) && out.write("\", \"count\": ") &&
          write_number(out, top[i]->second) && out.write("}"))) {
      return false;
    }
  }
  const Latency& latency = figures.latency;
  if (!(out.write("], \"latency_micros\": {\"count\": ") && write_unsigned(out, latency.count()) &&
        out.write(", \"sum\": ") && out.write(latency.sum().to_decimal()))) {
    return false;
  }
  constexpr double kQuantiles[] = {0.5, 0.9, 0.95, 0.99};
  std::int64_t quantiles[std::size(kQuantiles)];
  latency.quantiles(kQuantiles, quantiles);
  const std::pair<std::string_view, std::int64_t> values[] = {
      {", \"min\": ", latency.min()}, {", \"max\": ", latency.max()},
      {", \"p50\": ", quantiles[0]},  {", \"p90\": ", quantiles[1]},
      {", \"p95\": ", quantiles[2]},  {", \"p99\": ", quantiles[3]}};
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
    const auto at_most = figures.latency.counts_at_most();
    for (std::size_t i = 0; i < at_most.size(); ++i) pair.at_most[i] += at_most[i];
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

// NAME{client="...",server="...",method="..."[,status="..."]} VALUE
bool write_change_series(Sink& out, std::string_view name, const EdgeChange& edge,
                         std::string_view status, std::string_view value) {
  return out.write(name) && out.write("{client=\"") && write_prometheus_label(out, edge.from) &&
         out.write("\",server=\"") && write_prometheus_label(out, edge.to) &&
         out.write("\",method=\"") && write_prometheus_label(out, edge.method) &&
         (status.empty() || (out.write("\",status=\"") && out.write(status))) &&
         out.write("\"} ") && out.write(value) && out.write("\n");
}

// Per edge and method of either graph: its presence, and the changes that can be measured.
bool write_prometheus_changes(Sink& out, const GraphChanges& changes) {
  if (!out.write("# HELP tracemill_baseline_edge_status 1 for the edge's status since the "
                 "baseline: new, gone or kept.\n# TYPE tracemill_baseline_edge_status gauge\n")) {
    return false;
  }
  for (const EdgeChange& edge : changes.edges) {
    if (!write_change_series(out, "tracemill_baseline_edge_status", edge,
                             presence_text(edge.change.status), "1")) {
      return false;
    }
  }
  struct Family {
    std::string_view name;
    std::string_view help;
    std::optional<double> (*value)(const FigureChange&);
    int decimals;
  };
  const Family families[] = {
      {"tracemill_baseline_calls_ratio", "Calls over the edge divided by the baseline's.",
       [](const FigureChange& c) { return c.calls_ratio(); }, 4},
      {"tracemill_baseline_error_ratio_change",
       "The share of failed calls minus the baseline's share.",
       [](const FigureChange& c) { return c.error_ratio_change(); }, 6},
      {"tracemill_baseline_p99_ratio", "The p99 of the durations divided by the baseline's.",
       [](const FigureChange& c) { return c.p99_ratio(); }, 4}};
  for (const Family& family : families) {
    if (!(out.write("# HELP ") && out.write(family.name) && out.write(" ") &&
          out.write(family.help) && out.write("\n# TYPE ") && out.write(family.name) &&
          out.write(" gauge\n"))) {
      return false;
    }
    for (const EdgeChange& edge : changes.edges) {
      const std::optional<double> value = family.value(edge.change);
      if (value &&
          !write_change_series(out, family.name, edge, {}, decimal_text(*value, family.decimals))) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool write_prometheus(Sink& out, const DependencyGraph& graph, const GraphChanges* changes) {
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
  return changes == nullptr || write_prometheus_changes(out, *changes);
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
  // Most names have nothing to escape: they go out whole.
  if (std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == '"' || byte == '\\';
      })) {
    return out.write(name);
  }
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

// Writes "n<i>", where nodes[i] is the node of that name; every end of an edge is a node.
bool write_node_id(Sink& out, const std::vector<DrawnNode>& nodes, const std::string& name) {
  auto it = std::lower_bound(
      nodes.begin(), nodes.end(), name,
      [](const DrawnNode& node, const std::string& key) { return *node.name < key; });
  return out.write("n") && write_number(out, it - nodes.begin());
}

}  // namespace

// Node IDs are generated, the names only labels: an ID of the name would need its own escapes,
// and Graphviz takes an ID beginning with % for one of its anonymous ones. What is gone since
// the baseline is drawn dashed.
bool write_dot(Sink& out, const DependencyGraph& graph, const GraphChanges* changes) {
  if (!out.write("digraph dependencies {\n  rankdir=LR;\n  node [shape=box];\n")) return false;
  const std::vector<DrawnNode> nodes = drawn_nodes(graph, changes);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const DrawnNode& node = nodes[i];
    if (!(out.write("  n") && write_number(out, static_cast<std::int64_t>(i)) &&
          out.write(" [label=") &&
          write_dot_label_of(out, *node.name, "\\nentry count: ", node.entry_count, "", node.health,
                             node.change) &&
          out.write(gone(node.change) ? ", style=dashed];\n" : "];\n"))) {
      return false;
    }
  }
  for (const DrawnEdge& edge : drawn_edges(graph, changes)) {
    if (!(out.write("  ") && write_node_id(out, nodes, *edge.from) && out.write(" -> ") &&
          write_node_id(out, nodes, *edge.to) && out.write(" [label=") &&
          write_dot_label_of(out, *edge.method, " (", edge.count, ")", edge.health, edge.change))) {
      return false;
    }
    if (edge.health.calls > 0) {
      const EdgeStyle style = edge_style(edge.health.calls, edge.health.errors);
      if (!(out.write(", color=\"") && out.write(style.color) && out.write("\", penwidth=") &&
            write_number(out, style.width))) {
        return false;
      }
    }
    if (!out.write(gone(edge.change) ? ", style=dashed];\n" : "];\n")) return false;
  }
  return out.write("}\n");
}

bool write_mermaid(Sink& out, const DependencyGraph& graph, const GraphChanges* changes) {
  const std::vector<DrawnNode> nodes = drawn_nodes(graph, changes);
  auto write_id = [&](const std::string& name) { return write_node_id(out, nodes, name); };
  if (!out.write("flowchart LR\n")) return false;
  for (const DrawnNode& node : nodes) {
    if (!(out.write("  ") && write_id(*node.name) && out.write("[\"") &&
          write_mermaid_label(out, *node.name) && out.write("<br>entry count: ") &&
          write_number(out, node.entry_count) && write_health_line(out, node.health, "<br>") &&
          (node.change == nullptr || write_change_line(out, *node.change, "<br>")) &&
          out.write("\"]\n"))) {
      return false;
    }
  }
  const std::vector<DrawnEdge> edges = drawn_edges(graph, changes);
  for (const DrawnEdge& edge : edges) {
    if (!(out.write("  ") && write_id(*edge.from) &&
          out.write(gone(edge.change) ? " -.->|\"" : " -->|\"") &&
          write_mermaid_label(out, *edge.method) && out.write(" (") &&
          write_number(out, edge.count) && out.write(")") &&
          write_health_line(out, edge.health, "<br>") &&
          (edge.change == nullptr || write_change_line(out, *edge.change, "<br>")) &&
          out.write("\"| ") && write_id(*edge.to) && out.write("\n"))) {
      return false;
    }
  }
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (gone(nodes[i].change) && !(out.write("  style n") && write_unsigned(out, i) &&
                                   out.write(" stroke-dasharray:5 5\n"))) {
      return false;
    }
  }
  // A link is styled by its number in the order of the links.
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const HealthSummary& health = edges[i].health;
    if (health.calls <= 0) continue;
    const EdgeStyle style = edge_style(health.calls, health.errors);
    if (!(out.write("  linkStyle ") && write_unsigned(out, i) && out.write(" stroke:") &&
          out.write(style.color) && out.write(",stroke-width:") && write_number(out, style.width) &&
          out.write("px\n"))) {
      return false;
    }
  }
  return true;
}

namespace {

// A number of the baseline block, or null: ratios with 4 decimals, error ratios with 6.
std::string json_decimal(std::optional<double> value, int decimals) {
  return value ? decimal_text(*value, decimals) : std::string("null");
}

std::string json_p99(const HealthSummary& side) {
  return side.p99 ? std::to_string(*side.p99) : std::string("null");
}

// The members of a change, without braces: "status": ..., "worse": [...].
bool write_json_change_members(Sink& out, const FigureChange& change) {
  const std::string worse = change.worse_errors() && change.worse_p99() ? "[\"errors\", \"p99\"]"
                            : change.worse_errors()                     ? "[\"errors\"]"
                            : change.worse_p99()                        ? "[\"p99\"]"
                                                                        : "[]";
  return out.write("\"status\": \"") && out.write(presence_text(change.status)) &&
         out.write("\", \"calls\": [") && write_number(out, change.before.calls) &&
         out.write(", ") && write_number(out, change.after.calls) &&
         out.write("], \"calls_ratio\": ") && out.write(json_decimal(change.calls_ratio(), 4)) &&
         out.write(", \"error_ratio\": [") &&
         out.write(json_decimal(FigureChange::error_ratio(change.before), 6)) && out.write(", ") &&
         out.write(json_decimal(FigureChange::error_ratio(change.after), 6)) &&
         out.write("], \"error_ratio_change\": ") &&
         out.write(json_decimal(change.error_ratio_change(), 6)) &&
         out.write(", \"p99_micros\": [") && out.write(json_p99(change.before)) &&
         out.write(", ") && out.write(json_p99(change.after)) && out.write("], \"p99_ratio\": ") &&
         out.write(json_decimal(change.p99_ratio(), 4)) && out.write(", \"worse\": ") &&
         out.write(worse);
}

// ,\n  "baseline": {"inputs": [...], "nodes": [...], "edges": [...]}, a node or an edge a line.
bool write_json_baseline(Sink& out, const GraphChanges& changes) {
  if (!out.write(",\n  \"baseline\": {\n    \"inputs\": [")) return false;
  for (std::size_t i = 0; i < changes.inputs.size(); ++i) {
    if (!(out.write(i == 0 ? "\"" : ", \"") && write_json_string(out, changes.inputs[i]) &&
          out.write("\""))) {
      return false;
    }
  }
  if (!out.write("],\n    \"nodes\": [")) return false;
  constexpr std::string_view kMaps[] = {"operations", "methods", "direction_unknown"};
  for (std::size_t i = 0; i < changes.nodes.size(); ++i) {
    const NodeChange& node = changes.nodes[i];
    if (!(out.write(i == 0 ? "\n      {\"name\": \"" : ",\n      {\"name\": \"") &&
          write_json_string(out, node.name) && out.write("\", \"status\": \"") &&
          out.write(presence_text(node.status)) && out.write("\""))) {
      return false;
    }
    for (std::size_t d = 0; d < 3; ++d) {
      if (!(out.write(", \"") && out.write(kMaps[d]) && out.write("\": {"))) return false;
      for (std::size_t m = 0; m < node.maps[d].size(); ++m) {
        if (!(out.write(m == 0 ? "\"" : ", \"") && write_json_string(out, node.maps[d][m].method) &&
              out.write("\": {") && write_json_change_members(out, node.maps[d][m].change) &&
              out.write("}"))) {
          return false;
        }
      }
      if (!out.write("}")) return false;
    }
    if (!out.write("}")) return false;
  }
  if (!out.write(changes.nodes.empty() ? "],\n    \"edges\": [" : "\n    ],\n    \"edges\": [")) {
    return false;
  }
  for (std::size_t i = 0; i < changes.edges.size(); ++i) {
    const EdgeChange& edge = changes.edges[i];
    if (!(out.write(i == 0 ? "\n      {\"from\": \"" : ",\n      {\"from\": \"") &&
          write_json_string(out, edge.from) && out.write("\", \"to\": \"") &&
          write_json_string(out, edge.to) && out.write("\", \"method\": \"") &&
          write_json_string(out, edge.method) && out.write("\", ") &&
          write_json_change_members(out, edge.change) && out.write("}"))) {
      return false;
    }
  }
  return out.write(changes.edges.empty() ? "]\n  }" : "\n    ]\n  }");
}

}  // namespace

bool write_json(Sink& out, const DependencyGraph& graph, const GraphChanges* changes) {
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
  return out.write(graph.edges.empty() ? "]" : "\n  ]") &&
         (changes == nullptr || write_json_baseline(out, *changes)) && out.write("\n}\n");
}

bool write_graph(Sink& out, const DependencyGraph& graph, ExportFormat format,
                 const GraphChanges* changes) {
  switch (format) {
    case ExportFormat::Dot:
      return write_dot(out, graph, changes);
    case ExportFormat::Mermaid:
      return write_mermaid(out, graph, changes);
    case ExportFormat::Json:
      return write_json(out, graph, changes);
    case ExportFormat::Prometheus:
      return write_prometheus(out, graph, changes);
    case ExportFormat::Html:
      return write_html(out, graph, ReportHeader{}, changes);
  }
  return false;
}

}  // namespace tracemill
