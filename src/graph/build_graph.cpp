#include "graph/build_graph.h"

#include <array>
#include <cstdint>
#include <vector>

#include "base/fatal.h"
#include "graph/fix_callchain.h"

namespace tracemill {

void report_count_out_of_range() {
  fatal("called `Result::unwrap()` on an `Err` value: TryFromIntError(())");
}

Result<ProcessNodes, CountOutOfRange> fold_record(const StatsRecJson& record, Sink& diagnostics) {
  ProcessNodes graph;
  // Only the directions are repaired; the calls are added with them, so no name is copied.
  std::vector<CallDirection> directions;
  for (const auto& [operation, stats] : record.stats) {
    for (const auto& [key, value] : stats.call_chain) {
      if (value.count > kMaxChainCount) return Err{CountOutOfRange{}};
      fix_callchain(key.call_chain, directions, diagnostics);
      graph.add_call_chain(key.call_chain, directions, static_cast<std::int32_t>(value.count));
    }
  }
  return graph;
}

ProcessNodes build_graph(const StatsRecJson& record, Sink& diagnostics) {
  Result<ProcessNodes, CountOutOfRange> graph = fold_record(record, diagnostics);
  if (!graph) report_count_out_of_range();
  return std::move(graph).value();
}

namespace {

// The sums of the graph while it is built: per (process, method) pair of CallNames, one sum per
// direction, with a mark for the directions that have been added at all (a count of 0 still
// makes the entry).
class GraphTarget final : public ChainTarget {
 public:
  void add(const CallNames&, std::span<const std::uint64_t> calls, std::uint32_t count) override {
    for (const std::uint64_t word : calls) {
      const std::uint32_t call = word_call(word);
      if (call >= sums_.size()) sums_.resize(call + std::size_t{1});
      Sums& sums = sums_[call];
      const auto d = static_cast<std::size_t>(word_direction(word));
      add_to_sum(sums.sum[d], static_cast<std::int32_t>(count));
      sums.added |= static_cast<std::uint8_t>(1u << d);
    }
  }

  void clear() override { sums_.clear(); }

  ProcessNodes graph(const CallNames& names) const {
    ProcessNodes graph;
    for (std::uint32_t call = 0; call < sums_.size(); ++call) {
      const Sums& sums = sums_[call];
      if (sums.added == 0) continue;
      auto [it, inserted] = graph.nodes.try_emplace(std::string(names.process(call)));
      ProcessNode& node = it->second;
      if (inserted) node.name = it->first;
      MethodCounts* maps[] = {&node.operations, &node.methods, &node.direction_unknown};
      for (std::size_t d = 0; d < 3; ++d) {
        if ((sums.added >> d & 1) != 0) maps[d]->emplace(names.method(call), sums.sum[d]);
      }
    }
    return graph;
  }

 private:
  struct Sums {
    std::array<std::int64_t, 3> sum{};  // indexed by CallDirection
    std::uint8_t added = 0;
  };
  std::vector<Sums> sums_;
};

}  // namespace

StreamedGraph stream_graph(StatsFile& file, Sink& diagnostics, std::size_t log_allowance) {
  GraphTarget target;
  ChainFold fold(target, file.rereadable(), log_allowance);
  if (std::optional<LoadError> error = file.stream(fold)) return std::move(*error);
  Result<FoldEnd, LoadError> end = fold.finish(file, diagnostics);
  if (!end) return std::move(end).error();
  if (end.value() == FoldEnd::CountOutOfRange) return CountOutOfRange{};
  return target.graph(fold.names());
}

}  // namespace tracemill
