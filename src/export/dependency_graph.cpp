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
        maps[d]->push_back(MethodSum{std::string(names.method(call)), sums.sum[d]});
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
                                         std::string(names.method(edge.to_call)), edge.count});
  }
  std::sort(graph.edges.begin(), graph.edges.end(),
            [](const DependencyEdge& a, const DependencyEdge& b) {
              return std::tie(a.from, a.to, a.method) < std::tie(b.from, b.to, b.method);
            });
  return graph;
}

namespace {

// Takes nothing: the repair reports are only counted.
class NoReport final : public Sink {
 public:
  bool write(std::string_view) override { return false; }
};

}  // namespace

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
