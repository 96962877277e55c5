// Fuzzes the three writers of the dependency graph with arbitrary names. The input is split at
// the byte 0xFF (which no UTF-8 text holds) into names; the pieces that are valid UTF-8 (as every
// name of a statistics file is) become the nodes, methods and edges of a graph; a piece that
// starts with 0xFE is its rest repeated to more than 20,000 bytes. Then:
//  - the JSON parses, and gives back every name, count and edge in order;
//  - the DOT is read by Graphviz's own parser where it is linked in (and otherwise checked for
//    quoted pieces that parser reads), with every node, edge and label back;
//  - every Mermaid node and edge is one line, with no character that ends a line in JavaScript
//    and no double quote inside a label;
//  - every Prometheus series gives back the client and server of an edge.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "base/utf8.h"
#include "export/graph_writers.h"
#include "traces/trace_json.h"

#if TRACEMILL_FUZZ_CGRAPH
#include <graphviz/cgraph.h>
#endif

namespace {

using namespace tracemill;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

DependencyGraph graph_of(std::string_view data) {
  std::vector<std::string> names;
  while (names.size() < 24) {
    const std::size_t end = data.find('\xff');
    std::string_view piece = data.substr(0, end);
    // A piece that starts with 0xFE stands for its rest repeated past the longest quoted
    // string Graphviz reads, so that long labels are cut at every kind of place.
    std::string repeated;
    if (piece.starts_with('\xfe') && piece.size() > 1) {
      while (repeated.size() < 20000) repeated += piece.substr(1);
      piece = repeated;
    }
    if (!check_utf8(piece)) names.emplace_back(piece);
    if (end == std::string_view::npos) break;
    data.remove_prefix(end + 1);
  }
  DependencyGraph graph;
  if (names.empty()) return graph;
  std::set<std::string> processes(names.begin(), names.end());
  std::vector<std::string> sorted(processes.begin(), processes.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    DependencyNode node{sorted[i], static_cast<std::int64_t>(i * 3), {}, {}, {}};
    std::map<std::string, std::int64_t> methods;
    for (std::size_t j = i; j < i + 3; ++j) methods[names[j % names.size()]] += 1;
    for (const auto& [method, sum] : methods) {
      // Health on some methods only: a label line of figures, or none.
      CallFigures figures;
      figures.calls = sum * static_cast<std::int64_t>(i % 2);
      figures.errors = figures.calls / 2;
      if (figures.calls != 0) figures.latency.add(sum * 1500);
      node.operations.push_back({method, sum, figures});
    }
    node.methods = node.operations;
    graph.nodes.push_back(std::move(node));
  }
  std::set<std::tuple<std::string, std::string, std::string>> edges;
  for (std::size_t i = 0; i < names.size(); ++i) {
    edges.insert({names[i], names[(i * 5 + 1) % names.size()], names[(i + 2) % names.size()]});
  }
  std::int64_t count = 1;
  for (const auto& [from, to, method] : edges) {
    CallFigures figures;
    figures.calls = count % 3 == 0 ? 0 : count * 7;
    figures.errors = count % 2;
    figures.latency.add(count * 900);
    graph.edges.push_back({from, to, method, count++, figures});
  }
  // The servers of every third edge are virtual peers.
  std::set<std::string> peers;
  for (std::size_t i = 0; i < graph.edges.size(); i += 3) peers.insert(graph.edges[i].to);
  graph.virtual_peers.assign(peers.begin(), peers.end());
  return graph;
}

// The JSON gives back the graph's names and numbers, in order.
void check_json(const DependencyGraph& graph, const std::string& text) {
  ByteSource source = ByteSource::from_memory(text);
  TraceJson json(source);
  std::size_t node = 0;
  std::size_t edge = 0;
  auto method_map = [&](const std::vector<MethodSum>& sums) {
    std::size_t at = 0;
    const bool read = json.map([&](std::string_view method) {
      bool present = false;
      std::int64_t sum = 0;
      check(at < sums.size() && sums[at].method == method);
      check(json.integer("sum", sum, present) && sum == sums[at].sum);
      ++at;
      return true;
    });
    return read && at == sums.size();
  };
  constexpr std::array<std::string_view, 3> kTop = {"version", "nodes", "edges"};
  constexpr std::array<std::string_view, 5> kNode = {"name", "entry_count", "operations", "methods",
                                                     "direction_unknown"};
  constexpr std::array<std::string_view, 4> kEdge = {"from", "to", "method", "count"};
  const bool read = json.expect_object("graph", kTop, [&](std::size_t member) {
    if (member == 0) return json.skip();
    if (member == 1) {
      return json.expect_array("nodes", [&] {
        check(node < graph.nodes.size());
        const DependencyNode& n = graph.nodes[node++];
        return json.expect_object("node", kNode, [&](std::size_t field) {
          std::string name;
          std::int64_t number = 0;
          bool present = false;
          switch (field) {
            case 0:
              check(json.text("name", name) && name == n.name);
              return true;
            case 1:
              check(json.integer("entry_count", number, present) && number == n.entry_count);
              return true;
            case 2:
              return method_map(n.operations);
            case 3:
              return method_map(n.methods);
            default:
              return method_map(n.direction_unknown);
          }
        });
      });
    }
    return json.expect_array("edges", [&] {
      check(edge < graph.edges.size());
      const DependencyEdge& e = graph.edges[edge++];
      return json.expect_object("edge", kEdge, [&](std::size_t field) {
        std::string name;
        std::int64_t count = 0;
        bool present = false;
        if (field == 3) {
          check(json.integer("count", count, present) && count == e.count);
          return true;
        }
        check(json.text("end", name));
        check(name == (field == 0 ? e.from : field == 1 ? e.to : e.method));
        return true;
      });
    });
  });
  check(read && json.reader().end_document());
  check(node == graph.nodes.size() && edge == graph.edges.size());
}

// What a label shows of a name: ASCII controls other than the line feed as \u{hex}.
std::string shown(const std::string& name) {
  std::string text;
  for (const char byte : name) {
    const auto c = static_cast<unsigned char>(byte);
    if ((c < 0x20 && c != '\n') || c == 0x7F) {
      char escape[16];
      std::snprintf(escape, sizeof escape, "\\u{%x}", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

// An escString as Graphviz shows it: \\ a backslash, \" a quote, \n a line feed.
std::string label_text(std::string_view label) {
  std::string text;
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '\\' && i + 1 < label.size()) {
      ++i;
      text += label[i] == 'n' ? '\n' : label[i];
    } else {
      text += label[i];
    }
  }
  return text;
}

// A label is the expected text, followed by a line of figures when there are calls.
bool label_is(const std::string& label, const std::string& expected, bool with_figures) {
  return with_figures ? label.starts_with(expected + "\ncalls: ") : label == expected;
}

bool has_calls(const DependencyNode& node) {
  std::int64_t calls = 0;
  for (const MethodSum& m : node.operations) calls += m.figures.calls;
  return calls > 0;
}

std::string node_label(const DependencyNode& node) {
  return shown(node.name) + "\nentry count: " + std::to_string(node.entry_count);
}

std::string edge_label(const DependencyEdge& edge) {
  return shown(edge.method) + " (" + std::to_string(edge.count) + ")";
}

#if TRACEMILL_FUZZ_CGRAPH

void check_dot(const DependencyGraph& graph, const std::string& text) {
  Agraph_t* g = agmemread(text.c_str());
  check(g != nullptr);
  check(agnnodes(g) == static_cast<int>(graph.nodes.size()));
  check(agnedges(g) == static_cast<int>(graph.edges.size()));
  std::map<std::string, std::string> name_of;  // node ID -> name
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    std::string id = "n" + std::to_string(i);
    Agnode_t* n = agnode(g, id.data(), 0);
    check(n != nullptr);
    char key[] = "label";
    check(
        label_is(label_text(agget(n, key)), node_label(graph.nodes[i]), has_calls(graph.nodes[i])));
    name_of[id] = graph.nodes[i].name;
  }
  std::multiset<std::tuple<std::string, std::string, std::string>> read, expected;
  for (Agnode_t* n = agfstnode(g); n != nullptr; n = agnxtnode(g, n)) {
    for (Agedge_t* e = agfstout(g, n); e != nullptr; e = agnxtout(g, e)) {
      char key[] = "label";
      // The line of figures that may follow is the writers' test's to check.
      std::string label = label_text(agget(e, key));
      if (const std::size_t line = label.rfind('\n');
          line != std::string::npos && label.compare(line, 8, "\ncalls: ") == 0 &&
          label.find(" %, p99: ", line) != std::string::npos) {
        label.resize(line);
      }
      read.insert({name_of[agnameof(agtail(e))], name_of[agnameof(aghead(e))], label});
    }
  }
  for (const DependencyEdge& e : graph.edges) expected.insert({e.from, e.to, edge_label(e)});
  check(read == expected);
  agclose(g);
}

#else

// Without Graphviz's parser: every statement is one line, every quoted piece short enough for
// it, and the pieces of each label joined give the label back.
void check_dot(const DependencyGraph& graph, const std::string& text) {
  std::vector<std::string> labels;
  std::size_t at = text.find('\n', text.find("node [shape=box];")) + 1;
  while (at < text.size() && text.compare(at, 2, "}\n") != 0) {
    const std::size_t end = text.find('\n', at);
    check(end != std::string::npos);
    const std::string_view line(text.data() + at, end - at);
    const std::size_t open = line.find("[label=");
    check(open != std::string_view::npos);
    std::string label;
    std::size_t p = open + 7;
    for (;;) {
      check(p < line.size() && line[p] == '"');
      std::size_t q = p + 1;
      while (q < line.size() && line[q] != '"') q += line[q] == '\\' ? 2 : 1;
      check(q < line.size() && q - p - 1 <= 16384);
      label += line.substr(p + 1, q - p - 1);
      if (line.compare(q + 1, 3, " + ") != 0) {
        // Other attributes may follow: a colour and a width.
        check(line.substr(q + 1) == "];" ||
              (line.compare(q + 1, 2, ", ") == 0 && line.ends_with("];")));
        break;
      }
      p = q + 4;
    }
    labels.push_back(label_text(label));
    at = end + 1;
  }
  check(labels.size() == graph.nodes.size() + graph.edges.size());
  for (std::size_t i = 0; i < graph.nodes.size(); ++i)
    check(labels[i] == node_label(graph.nodes[i]));
  for (std::size_t i = 0; i < graph.edges.size(); ++i) {
    check(labels[graph.nodes.size() + i] == edge_label(graph.edges[i]));
  }
}

#endif

// Every node and edge of the Mermaid output on a line of its own, nothing in a label that ends
// a line or closes it.
void check_mermaid(const DependencyGraph& graph, const std::string& text) {
  for (std::string_view end : {"\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
    check(text.find(end) == std::string::npos);
  }
  std::size_t labelled = 0;
  std::size_t line_start = text.find('\n') + 1;
  while (line_start < text.size()) {
    const std::size_t end = text.find('\n', line_start);
    const std::string_view line(text.data() + line_start, end - line_start);
    line_start = end + 1;
    if (line.starts_with("  linkStyle ")) continue;
    // A node line holds two quotes, an edge line two: the label's own.
    check(std::count(line.begin(), line.end(), '"') == 2);
    ++labelled;
  }
  check(labelled == graph.nodes.size() + graph.edges.size());
}

// A Prometheus label value read back: \\, \" and \n undone. `at` is after the opening quote
// and ends after the closing one.
std::string label_value(std::string_view line, std::size_t& at) {
  std::string value;
  for (; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\') {
      ++at;
      check(at < line.size() && (line[at] == '\\' || line[at] == '"' || line[at] == 'n'));
      value += line[at] == 'n' ? '\n' : line[at];
    } else {
      value += line[at];
    }
  }
  check(at < line.size());
  ++at;
  return value;
}

// Every series line gives back a client and a server that an edge joins, every edge's pair has
// its series, and nothing but comments and series are there.
void check_prometheus(const DependencyGraph& graph, const std::string& text) {
  std::set<std::pair<std::string, std::string>> pairs, expected;
  for (const DependencyEdge& e : graph.edges) expected.insert({e.from, e.to});
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    const std::size_t end = text.find('\n', line_start);
    check(end != std::string::npos);
    const std::string_view line(text.data() + line_start, end - line_start);
    line_start = end + 1;
    if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) continue;
    std::size_t at = line.find("{client=\"");
    check(at != std::string_view::npos && line.starts_with("traces_service_graph_request_"));
    at += 9;
    std::string client = label_value(line, at);
    check(line.compare(at, 9, ",server=\"") == 0);
    at += 9;
    std::string server = label_value(line, at);
    const bool peer =
        std::binary_search(graph.virtual_peers.begin(), graph.virtual_peers.end(), server);
    const std::string_view type =
        peer ? ",connection_type=\"virtual_node\"" : ",connection_type=\"\"";
    check(line.compare(at, type.size(), type) == 0);
    pairs.insert({std::move(client), std::move(server)});
  }
  check(pairs == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const DependencyGraph graph =
      graph_of(std::string_view(reinterpret_cast<const char*>(data), size));
  StringSink json, dot, mermaid, prometheus;
  check(write_json(json, graph) && write_dot(dot, graph) && write_mermaid(mermaid, graph) &&
        write_prometheus(prometheus, graph));
  check_json(graph, json.text());
  check_dot(graph, dot.text());
  check_mermaid(graph, mermaid.text());
  check_prometheus(graph, prometheus.text());
  return 0;
}
