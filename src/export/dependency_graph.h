// The dependency graph of a statistics file: who calls whom, and how often.
//
// Nodes are the processes of the repaired call chains, each with its entry count (the summed
// counts of the chains whose first call is on it) and the three per-method sums of the process
// graph. An edge joins two neighbouring calls of a chain on different processes: from the first
// call's process to the second's, labelled with the second call's method; its count is the sum
// of the counts of every chain that holds that step. Every number is an exact sum below 2^63.
//
// The graph owns its names and is sorted by the bytes of its names, so that it prints the same
// way on every run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/id_index.h"
#include "base/keyed_hash.h"
#include "export/call_figures.h"
#include "export/latency_worker.h"
#include "graph/build_graph.h"
#include "graph/chain_fold.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

struct MethodSum {
  MethodSum() = default;
  MethodSum(std::string method_name, std::int64_t calls, CallFigures health = {})
      : method(std::move(method_name)), sum(calls), figures(std::move(health)) {}

  std::string method;
  std::int64_t sum = 0;
  // The health of the calls of this method in this direction: of the chains that end in it.
  CallFigures figures;
  bool operator==(const MethodSum&) const = default;
};

struct DependencyNode {
  std::string name;
  std::int64_t entry_count = 0;
  // Sorted by method; a method is listed once a call of it was added, with a count of 0 too.
  std::vector<MethodSum> operations;         // Inbound calls
  std::vector<MethodSum> methods;            // Outbound calls
  std::vector<MethodSum> direction_unknown;  // Unknown direction
  bool operator==(const DependencyNode&) const = default;
};

struct DependencyEdge {
  DependencyEdge() = default;
  DependencyEdge(std::string caller, std::string callee, std::string method_name,
                 std::int64_t chains, CallFigures health = {})
      : from(std::move(caller)),
        to(std::move(callee)),
        method(std::move(method_name)),
        count(chains),
        figures(std::move(health)) {}

  std::string from;
  std::string to;
  std::string method;
  std::int64_t count = 0;  // of the chains that hold the step
  // The health of the calls made over the edge: of the chains whose last step it is.
  CallFigures figures;
  bool operator==(const DependencyEdge&) const = default;
};

struct DependencyGraph {
  std::vector<DependencyNode> nodes;  // sorted by name
  std::vector<DependencyEdge> edges;  // sorted by (from, to, method)
  // The names of the nodes that sent no span of their own, sorted: peers that the client spans
  // of their callers named (a database, an uninstrumented service).
  std::vector<std::string> virtual_peers;
  bool operator==(const DependencyGraph&) const = default;
};

// The largest sum the graph holds: the signed 64-bit maximum, as in the process graph.
inline constexpr std::int64_t kMaxDependencySum = std::numeric_limits<std::int64_t>::max();

// Sums the repaired chains a ChainFold hands over, by the numbers of its CallNames (no name is
// looked at while adding). A sum that would pass `max_sum` is not wrapped: the target
// remembers it (overflowed()), and its graph is then not to be shown. `max_sum` is a test door.
class DependencyTarget final : public ChainTarget {
 public:
  // `latency`: whether the latency figures keep every duration (exact quantiles). The
  // durations go into the figures on a second thread once `thread_after` of them came
  // (LatencyWorker).
  explicit DependencyTarget(std::int64_t max_sum = kMaxDependencySum,
                            Latency::Mode latency = Latency::Mode::kSketch,
                            std::uint64_t thread_after = LatencyWorker::kDefaultStart);
  ~DependencyTarget() override;

  void add(const CallNames& names, std::span<const std::uint64_t> calls,
           std::uint32_t count) override;
  void clear() override;

  // The health of a pair: gathered while its value is decoded, taken by the add of its chain.
  bool wants_health() const override { return true; }
  void durations(std::span<const std::int64_t> micros) override;
  void http_status(std::int16_t code, std::uint64_t count) override;
  void error_log(std::string_view text, std::uint64_t count) override;
  void errors(std::int32_t not_http_ok, std::int32_t with_error_logs) override;
  void drop_health() override;
  std::uint64_t hold_health() override;
  void restore_health(std::uint64_t held) override;

  // Whether a sum passed the limit since the last clear().
  bool overflowed() const { return overflowed_; }
  // The sorted graph of everything added; `names` is the CallNames the chains were numbered in.
  // Sums that pass the limit while the figures of the parts are put together count as
  // overflowed() afterwards.
  DependencyGraph graph(const CallNames& names);

 private:
  void add_to(std::int64_t& sum, std::uint32_t count) {
    if (sum > max_sum_ - count) [[unlikely]] {
      overflowed_ = true;
      return;
    }
    sum += count;
  }
  void add_edge(std::uint32_t from_process, std::uint32_t to_call, std::uint32_t count);
  // The pending health, with the chain's count, into the figures of a call or an edge.
  struct Health;
  struct Pending;
  void take_health(Health& into, std::uint32_t count);
  // Adds `from` to `into`; false when a sum would pass the limit.
  bool add_health(Health& into, const Health& from) const;
  void clear_pending();
  Health& health_of(std::unique_ptr<Health>& slot);
  void note_virtual_peer(const CallNames& names, std::span<const std::uint64_t> calls);
  // The figures of `health` (none: zero), which is given up; `rank` and `by_rank` order the
  // error log texts by their bytes.
  CallFigures take_figures(std::unique_ptr<Health>& health, const std::vector<std::uint32_t>& rank,
                           const std::vector<std::uint32_t>& by_rank);

  static constexpr std::uint32_t kNone = ~std::uint32_t{0};
  // Per (process, method) number of CallNames.
  struct CallSums {
    std::array<std::int64_t, 3> sum{};  // indexed by CallDirection
    // The health of the chains that end in this call without an edge into it (first, or
    // after a call of its own process), per direction, once there is any; at the end also
    // that of the edges into it.
    std::array<std::unique_ptr<Health>, 3> health;
    std::uint8_t added = 0;  // a bit per direction added at all
    // The edge into this call met last, a cache in front of edge_of_: neighbouring calls
    // mostly repeat.
    std::uint32_t last_from = kNone;
    std::uint32_t last_edge = 0;
  };
  struct EdgeSum {
    std::uint32_t from_process;
    std::uint32_t to_call;
    std::int64_t count;
    // Of the chains whose last step this is, per direction of their last call: each duration
    // goes into one figure; the call's and the edge's are put together at the end.
    std::array<std::unique_ptr<Health>, 3> health;
  };

  const std::int64_t max_sum_;
  bool overflowed_ = false;
  std::vector<CallSums> calls_;
  std::vector<std::int64_t> entry_;  // per process number
  std::vector<EdgeSum> edges_;
  IdIndex edge_of_;  // from_process << 32 | to_call -> edges_ index

  const Latency::Mode latency_mode_;
  std::unique_ptr<Pending> pending_;            // the pair being decoded
  std::vector<std::unique_ptr<Pending>> held_;  // pairs added after the whole file
  std::unique_ptr<LatencyWorker> latency_worker_;
  HashMap<std::string, std::uint32_t> text_number_;  // error log texts, numbered
  std::vector<const std::string*> texts_;
  std::string text_key_;  // reused for lookups
  // Virtual peers: per process, whether a chain showed it other than as a peer its caller
  // named; per chain ending in a call that looks like a named peer, the hash of the chain
  // without that call and the peer's process; the hashes of the chains that end in an
  // outbound call. A peer is virtual when no chain is its candidates' prefix.
  std::vector<bool> not_peer_;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> peer_prefixes_;
  std::vector<std::uint64_t> outbound_chains_;
};

// A sum of the graph left the signed 64-bit range.
struct SumOutOfRange {
  bool operator==(const SumOutOfRange&) const = default;
};

struct StreamedDependencies {
  // The graph, or why there is none: a chain count beyond the signed 32-bit range, a sum
  // beyond the 64-bit one, or the error that stopped decoding.
  std::variant<DependencyGraph, CountOutOfRange, SumOutOfRange, LoadError> end;
  // How many chains that count contradict their call directions (their repair reports).
  std::uint64_t contradicting_chains = 0;
  RecordCounts counts;  // of a file that decoded
};

// Adds `other` to `graph`, both sorted: nodes of the same name, sums of the same method and
// edges of the same ends and method are summed, the others taken over in order. Returns false
// when a sum would pass `max_sum` (the graph is then not to be shown).
bool add_graph(DependencyGraph& graph, const DependencyGraph& other,
               std::int64_t max_sum = kMaxDependencySum);

// The part of `graph` within `depth` calls of the node named `service`: downstream, every edge
// from a node fewer than `depth` calls below the service; upstream, every edge into a node fewer
// than `depth` calls above it; the nodes these edges join, and the service itself. Empty when
// no node has that name.
std::optional<DependencyGraph> neighbourhood(const DependencyGraph& graph, std::string_view service,
                                             std::uint32_t depth);

// The same graph from a whole record (its operations already final): what decoding the file
// it came from gives, without the warning's count.
std::variant<DependencyGraph, CountOutOfRange, SumOutOfRange> record_dependencies(
    const StatsRecJson& record, Latency::Mode latency = Latency::Mode::kSketch);

// Decodes `file` once, folding every chain into the dependency graph as it is decoded, with the
// same repair, duplicate operations and count check as the process graph (see ChainFold), and
// the health of every pair to its chain's last call and the edge into it. `latency` says
// whether the latency figures keep every duration; `thread_after`, after how many durations
// they are added on a second thread.
StreamedDependencies stream_dependencies(
    StatsFile& file, std::size_t log_allowance = ChainFold::kDefaultLogAllowance,
    Latency::Mode latency = Latency::Mode::kSketch,
    std::uint64_t thread_after = LatencyWorker::kDefaultStart);

}  // namespace tracemill
