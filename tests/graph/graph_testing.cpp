#include "graph/graph_testing.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "bench/encode.h"
#include "text_form/debug.h"

namespace tracemill::test_util {
namespace {

using Lines = std::vector<std::string_view>;

std::size_t indent_of(std::string_view line) {
  std::size_t n = line.find_first_not_of(' ');
  return n == std::string_view::npos ? line.size() : n;
}

bool opens_block(std::string_view line) {
  return line.ends_with('{') || line.ends_with('(') || line.ends_with('[');
}

bool opens_map(std::string_view line) {
  std::string_view content = line.substr(indent_of(line));
  return content == "{" || content.ends_with(": {");
}

bool closes_block(std::string_view line) {
  std::string_view content = line.substr(indent_of(line));
  return !content.empty() && (content[0] == '}' || content[0] == ')' || content[0] == ']');
}

// One past the last line of the item starting at lines[i]: the item's line alone, or the
// block it opens up to its closing line at the same indentation (or the end of the text).
std::size_t item_end(const Lines& lines, std::size_t i) {
  if (!opens_block(lines[i])) return i + 1;
  std::size_t indent = indent_of(lines[i]);
  for (std::size_t j = i + 1; j < lines.size(); ++j) {
    if (indent_of(lines[j]) == indent && closes_block(lines[j])) return j + 1;
  }
  return lines.size();
}

std::string canonical_item(const Lines& lines, std::size_t begin, std::size_t end);

// The items in [begin, end) canonicalised one by one, sorted when `sort` is set.
std::string canonical_items(const Lines& lines, std::size_t begin, std::size_t end, bool sort) {
  std::vector<std::string> items;
  for (std::size_t i = begin; i < end;) {
    std::size_t stop = std::min(item_end(lines, i), end);
    items.push_back(canonical_item(lines, i, stop));
    i = stop;
  }
  if (sort) std::sort(items.begin(), items.end());
  std::string out;
  for (const std::string& item : items) out += item;
  return out;
}

std::string canonical_item(const Lines& lines, std::size_t begin, std::size_t end) {
  std::string out(lines[begin]);
  out += '\n';
  if (end - begin < 2) return out;
  bool closed = closes_block(lines[end - 1]) && indent_of(lines[end - 1]) == indent_of(lines[begin]);
  std::size_t inner_end = closed ? end - 1 : end;
  out += canonical_items(lines, begin + 1, inner_end, opens_map(lines[begin]));
  if (closed) {
    out += lines[end - 1];
    out += '\n';
  }
  return out;
}

}  // namespace

StatsRecJson record_of(const Operations& operations) {
  StatsRecJson record;
  for (const auto& [key, chains] : operations) {
    OperationStatsJson& operation = record.stats[key] = {};
    for (const auto& [calls, count] : chains) {
      auto& [chain_key, value] = operation.call_chain.emplace_back();
      chain_key.call_chain = calls;
      value.count = count;
    }
  }
  return record;
}

std::string file_of(const OperationList& operations, Encoding encoding, Layout layout,
                    const StatsRecJson& head) {
  StatsRecJson top = head;
  top.stats.clear();
  std::string out;
  if (encoding == Encoding::Bincode) {
    bench::encode_bincode(top, out);
    out.resize(out.size() - 8);  // the count of the empty `stats`
    bench::detail::put_le(out, static_cast<std::uint64_t>(operations.size()));
    for (const auto& [key, operation] : operations) {
      bench::encode_bincode(key, out);
      bench::encode_bincode(operation, out);
    }
    return out;
  }
  std::string stats = "{";
  for (const auto& [key, operation] : operations) {
    if (stats.size() > 1) stats += ',';
    bench::write_json_string(key, stats);
    stats += ':';
    bench::encode_json(operation, stats, false);
  }
  stats += '}';
  if (layout == Layout::Array) {
    out = "[";
    for_each_field<StatsRecJson>([&](const auto& field) {
      if (out.size() > 1) out += ',';
      if (field.name == "stats") {
        out += stats;
      } else {
        bench::encode_json(field.of(top), out, false);
      }
    });
    return out + "]";
  }
  std::string members;
  bench::encode_json(top, members, false);
  members.resize(members.size() - std::string_view(",\"stats\":{}}").size());  // no stats
  if (layout == Layout::StatsFirst) return "{\"stats\":" + stats + "," + members.substr(1) + "}";
  return members + ",\"stats\":" + stats + "}";
}

std::string chains_file(const Operations& operations, Encoding encoding) {
  OperationList list;
  for (const auto& [key, chains] : operations) {
    list.emplace_back(key, record_of({{key, chains}}).stats.at(key));
  }
  return file_of(list, encoding);
}

ProcessNode node(std::string name, MethodCounts operations, MethodCounts methods,
                 MethodCounts direction_unknown) {
  return {std::move(name), ProcessNodeType::Unknown, std::move(operations), std::move(methods),
          std::move(direction_unknown)};
}

ProcessNodes graph_of(std::vector<ProcessNode> nodes) {
  ProcessNodes graph;
  for (ProcessNode& n : nodes) {
    std::string key = n.name;
    graph.nodes.emplace(std::move(key), std::move(n));
  }
  return graph;
}

std::string canonical_map_order(std::string_view text) {
  bool ends_in_line_feed = text.ends_with('\n');
  Lines lines;
  while (!text.empty()) {
    std::size_t newline = text.find('\n');
    lines.push_back(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
  }
  std::string out = canonical_items(lines, 0, lines.size(), false);
  if (!ends_in_line_feed && !out.empty()) out.pop_back();
  return out;
}

}  // namespace tracemill::test_util

namespace tracemill {

void PrintTo(const Call& call, std::ostream* os) { *os << compact_string(call); }

void PrintTo(const ProcessNodes& graph, std::ostream* os) {
  StringSink out;
  Formatter f(out, Form::Pretty);
  write_debug(f, graph);
  *os << "\n" << out.text();
}

}  // namespace tracemill
