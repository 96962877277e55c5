#include "graph/graph_testing.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "stats/file/record_writer.h"
#include "text_form/debug.h"

namespace tracemill::test_util {
namespace {

using Lines = std::vector<std::string_view>;

std::size_t indent_of(std::string_view line) {
  return std::min(line.find_first_not_of(' '), line.size());
}

// The lines from lines[i] on that are indented at least `min_indent`, as items: a line, the
// lines below it indented deeper, and the line closing it at its own indentation.
std::vector<std::string> items(const Lines& lines, std::size_t& i, std::size_t min_indent) {
  std::vector<std::string> out;
  while (i < lines.size() && indent_of(lines[i]) >= min_indent) {
    const std::string_view line = lines[i++];
    const std::size_t indent = indent_of(line);
    std::string item = std::string(line) + '\n';
    std::vector<std::string> inner = items(lines, i, indent + 1);
    // A map block: its entries in sorted order.
    if (line.substr(indent) == "{" || line.ends_with(": {")) std::sort(inner.begin(), inner.end());
    for (const std::string& s : inner) item += s;
    if (!inner.empty() && i < lines.size() && indent_of(lines[i]) == indent &&
        std::string_view("})]").find(lines[i].substr(indent, 1)) != std::string_view::npos) {
      item += std::string(lines[i++]) + '\n';
    }
    out.push_back(std::move(item));
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
    encode_bincode(top, out);
    out.resize(out.size() - 8);  // the count of the empty `stats`
    detail::put_le(out, static_cast<std::uint64_t>(operations.size()));
    for (const auto& [key, operation] : operations) {
      encode_bincode(key, out);
      encode_bincode(operation, out);
    }
    return out;
  }
  std::string stats = "{";
  for (const auto& [key, operation] : operations) {
    if (stats.size() > 1) stats += ',';
    write_json_string(key, stats);
    stats += ':';
    encode_json(operation, stats, false);
  }
  stats += '}';
  if (layout == Layout::Array) {
    out = "[";
    for_each_field<StatsRecJson>([&](const auto& field) {
      if (out.size() > 1) out += ',';
      if (field.name == "stats") {
        out += stats;
      } else {
        encode_json(field.of(top), out, false);
      }
    });
    return out + "]";
  }
  std::string members;
  encode_json(top, members, false);
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
  // The pair's key is copied from the name before the node is moved into it.
  for (ProcessNode& n : nodes) graph.nodes.emplace(n.name, std::move(n));
  return graph;
}

std::string canonical_map_order(std::string_view text) {
  Lines lines;
  for (std::size_t at = 0; at != std::string_view::npos;) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    at = end == std::string_view::npos ? end : end + 1;
  }
  std::size_t i = 0;
  std::string out;
  for (const std::string& item : items(lines, i, 0)) out += item;
  out.pop_back();  // the line feed after the last line, which the text does not have
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
