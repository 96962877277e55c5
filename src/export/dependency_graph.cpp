#include "export/dependency_graph.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

namespace tracemill {

void DependencyTarget::add(const CallNames& names, std::span<const std::uint64_t> calls,
                           std::uint32_t count) {
  if (calls.empty()) return;
  std::uint32_t previous = names.process_id(word_call(calls[0]));
  if (previous >= entry_.size()) entry_.resize(previous + std::size_t{1});
  add_to(entry_[previous], count);
  for (const std::uint64_t word : calls) {
    const std::uint32_t call = word_call(word);
    if (call >= calls_.size()) calls_.resize(call + std::size_t{1});
    CallSums& sums = calls_[call];
    const auto d = static_cast<std::size_t>(word_direction(word));
    add_to(sums.sum[d], count);
    sums.added |= static_cast<std::uint8_t>(1u << d);
    const std::uint32_t process = names.process_id(call);
    if (process == previous) continue;
    if (sums.last_from == previous) {
      add_to(edges_[sums.last_edge].count, count);
    } else {
      add_edge(previous, call, count);
    }
    previous = process;
  }
}

void DependencyTarget::add_edge(std::uint32_t from_process, std::uint32_t to_call,
                                std::uint32_t count) {
  const std::uint64_t key = std::uint64_t{from_process} << 32 | to_call;
  auto [it, inserted] = edge_of_.try_emplace(key, static_cast<std::uint32_t>(edges_.size()));
  if (inserted) edges_.push_back(EdgeSum{from_process, to_call, 0});
  add_to(edges_[it->second].count, count);
  CallSums& sums = calls_[to_call];
  sums.last_from = from_process;
  sums.last_edge = it->second;
}

void DependencyTarget::clear() {
  overflowed_ = false;
  calls_.clear();
  entry_.clear();
  edges_.clear();
  edge_of_.clear();
}

DependencyGraph DependencyTarget::graph(const CallNames& names) const {
  DependencyGraph graph;
  std::vector<std::size_t> node_of(names.process_count(), kNone);
  for (std::uint32_t call = 0; call < calls_.size(); ++call) {
    const CallSums& sums = calls_[call];
    if (sums.added == 0) continue;
    const std::uint32_t process = names.process_id(call);
    if (node_of[process] == kNone) {
      node_of[process] = graph.nodes.size();
      DependencyNode& node = graph.nodes.emplace_back();
      node.name = names.process_name(process);
      if (process < entry_.size()) node.entry_count = entry_[process];
    }
    DependencyNode& node = graph.nodes[node_of[process]];
    std::vector<MethodSum>* maps[] = {&node.operations, &node.methods, &node.direction_unknown};
    for (std::size_t d = 0; d < 3; ++d) {
      if ((sums.added >> d & 1) != 0) {
        maps[d]->push_back(MethodSum{std::string(names.method(call)), sums.sum[d], {}});
      }
    }
  }
  auto by_method = [](const MethodSum& a, const MethodSum& b) { return a.method < b.method; };
  for (DependencyNode& node : graph.nodes) {
    for (auto* map : {&node.operations, &node.methods, &node.direction_unknown}) {
      std::sort(map->begin(), map->end(), by_method);
    }
  }
  std::sort(graph.nodes.begin(), graph.nodes.end(),
            [](const DependencyNode& a, const DependencyNode& b) { return a.name < b.name; });

  graph.edges.reserve(edges_.size());
  for (const EdgeSum& edge : edges_) {
    graph.edges.push_back(DependencyEdge{std::string(names.process_name(edge.from_process)),
                                         std::string(names.process(edge.to_call)),
                                         std::string(names.method(edge.to_call)), edge.count, {}});
  }
  std::sort(graph.edges.begin(), graph.edges.end(),
            [](const DependencyEdge& a, const DependencyEdge& b) {
              return std::tie(a.from, a.to, a.method) < std::tie(b.from, b.to, b.method);
            });
  return graph;
}

namespace {

bool add_sum(std::int64_t& sum, std::int64_t more, std::int64_t max_sum) {
  if (sum > max_sum - more) return false;
  sum += more;
  return true;
}

// Merges the sorted `from` into the sorted `into`; `add(a, b)` sums two equal elements into a
// and says whether that stayed in range.
template <class T, class Less, class Add>
bool merge_sorted(std::vector<T>& into, const std::vector<T>& from, Less less, Add add) {
  std::vector<T> merged;
  merged.reserve(into.size() + from.size());
  bool in_range = true;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < into.size() || j < from.size()) {
    if (j == from.size() || (i < into.size() && less(into[i], from[j]))) {
      merged.push_back(std::move(into[i++]));
    } else if (i == into.size() || less(from[j], into[i])) {
      merged.push_back(from[j++]);
    } else {
      merged.push_back(std::move(into[i++]));
      in_range = add(merged.back(), from[j++]) && in_range;
    }
  }
  into = std::move(merged);
  return in_range;
}

// Takes nothing: the repair reports are only counted.
class NoReport final : public Sink {
 public:
  bool write(std::string_view) override { return false; }
};

}  // namespace

bool add_graph(DependencyGraph& graph, const DependencyGraph& other, std::int64_t max_sum) {
  auto add_sums = [max_sum](std::vector<MethodSum>& into, const std::vector<MethodSum>& from) {
    return merge_sorted(
        into, from, [](const MethodSum& a, const MethodSum& b) { return a.method < b.method; },
        [max_sum](MethodSum& a, const MethodSum& b) { return add_sum(a.sum, b.sum, max_sum); });
  };
  const bool nodes = merge_sorted(
      graph.nodes, other.nodes,
      [](const DependencyNode& a, const DependencyNode& b) { return a.name < b.name; },
      [&](DependencyNode& a, const DependencyNode& b) {
        const bool entry = add_sum(a.entry_count, b.entry_count, max_sum);
        const bool inbound = add_sums(a.operations, b.operations);
        const bool outbound = add_sums(a.methods, b.methods);
        const bool unknown = add_sums(a.direction_unknown, b.direction_unknown);
        return entry && inbound && outbound && unknown;
      });
  const bool edges = merge_sorted(
      graph.edges, other.edges,
      [](const DependencyEdge& a, const DependencyEdge& b) {
        return std::tie(a.from, a.to, a.method) < std::tie(b.from, b.to, b.method);
      },
      [max_sum](DependencyEdge& a, const DependencyEdge& b) {
        return add_sum(a.count, b.count, max_sum);
      });
  return nodes && edges;
}

std::optional<DependencyGraph> neighbourhood(const DependencyGraph& graph, std::string_view service,
                                             std::uint32_t depth) {
  const std::vector<DependencyNode>& nodes = graph.nodes;
  auto node_of = [&nodes](std::string_view name) {
    auto it = std::lower_bound(
        nodes.begin(), nodes.end(), name,
        [](const DependencyNode& node, std::string_view key) { return node.name < key; });
    return static_cast<std::size_t>(it - nodes.begin());
  };
  const std::size_t start = node_of(service);
  if (start == nodes.size() || nodes[start].name != service) return std::nullopt;

  // Per edge its ends, and per node the edges out of it and into it.
  const std::size_t n = nodes.size();
  std::vector<std::pair<std::size_t, std::size_t>> ends;
  std::vector<std::vector<std::size_t>> out(n), in(n);
  for (std::size_t e = 0; e < graph.edges.size(); ++e) {
    ends.emplace_back(node_of(graph.edges[e].from), node_of(graph.edges[e].to));
    out[ends.back().first].push_back(e);
    in[ends.back().second].push_back(e);
  }
  std::vector<bool> keep_edge(graph.edges.size(), false);
  std::vector<bool> keep_node(n, false);
  keep_node[start] = true;
  // Breadth first from the service, once along the edges and once against them.
  for (const bool downstream : {true, false}) {
    std::vector<bool> reached(n, false);
    std::vector<std::size_t> level = {start};
    reached[start] = true;
    for (std::uint32_t step = 0; step < depth && !level.empty(); ++step) {
      std::vector<std::size_t> next;
      for (const std::size_t node : level) {
        for (const std::size_t e : downstream ? out[node] : in[node]) {
          keep_edge[e] = true;
          const std::size_t other = downstream ? ends[e].second : ends[e].first;
          keep_node[other] = true;
          if (!reached[other]) {
            reached[other] = true;
            next.push_back(other);
          }
        }
      }
      level = std::move(next);
    }
  }
  DependencyGraph part;
  for (std::size_t i = 0; i < n; ++i) {
    if (keep_node[i]) part.nodes.push_back(nodes[i]);
  }
  for (std::size_t e = 0; e < graph.edges.size(); ++e) {
    if (keep_edge[e]) part.edges.push_back(graph.edges[e]);
  }
  return part;
}

StreamedDependencies stream_dependencies(StatsFile& file, std::size_t log_allowance) {
  StreamedDependencies run;
  DependencyTarget target;
  ChainFold fold(target, file.rereadable(), log_allowance);
  if (std::optional<LoadError> error = file.stream(fold)) {
    run.end = std::move(*error);
    return run;
  }
  NoReport reports;
  Result<FoldEnd, LoadError> end = fold.finish(file, reports);
  if (!end) {
    run.end = std::move(end).error();
    return run;
  }
  run.contradicting_chains = fold.reported_chains();
  if (end.value() == FoldEnd::CountOutOfRange) {
    run.end = CountOutOfRange{};
  } else if (target.overflowed()) {
    run.end = SumOutOfRange{};
  } else {
    run.end = target.graph(fold.names());
  }
  return run;
}

}  // namespace tracemill
