#include "export/dependency_graph.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "graph/fix_callchain.h"

namespace tracemill {

// The health gathered for one call or edge.
struct DependencyTarget::Health {
  explicit Health(Latency::Mode mode) : latency(mode) {}
  std::int64_t calls = 0;
  std::int64_t errors = 0;
  std::int64_t with_error_logs = 0;
  std::vector<std::pair<std::int16_t, std::int64_t>> http;   // sorted by code
  std::vector<std::pair<std::uint32_t, std::int64_t>> logs;  // sorted by text number
  Latency latency;
};

// The health fields of the pair being decoded. Durations wait in a short buffer and go to the
// figures together at the add; a longer list is gathered in a figure of its own on the way, so
// that memory stays bounded however long the list.
struct DependencyTarget::Pending {
  static constexpr std::size_t kBuffered = 1024;

  std::vector<std::int64_t> durations;
  std::unique_ptr<Latency> spilled;
  std::int32_t not_http_ok = 0;
  std::int32_t with_error_logs = 0;
  // As read: a key may come again, and the later entry counts.
  std::vector<std::pair<std::int16_t, std::uint64_t>> http;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> logs;
};

DependencyTarget::DependencyTarget(std::int64_t max_sum, Latency::Mode latency,
                                   std::uint64_t thread_after)
    : max_sum_(max_sum),
      latency_mode_(latency),
      pending_(std::make_unique<Pending>()),
      latency_worker_(std::make_unique<LatencyWorker>(thread_after)) {}

// The worker stops first: the figures it may still be adding to are freed after it.
DependencyTarget::~DependencyTarget() { latency_worker_.reset(); }

namespace {

// Sorts the entries `read` by key, keeping the later of two equal keys. They are few: an
// insertion sort, which keeps equal keys in order and allocates nothing.
template <class K>
void keep_last_per_key(std::vector<std::pair<K, std::uint64_t>>& read) {
  if (read.size() < 2) return;
  for (std::size_t i = 1; i < read.size(); ++i) {
    const std::pair<K, std::uint64_t> entry = read[i];
    std::size_t at = i;
    for (; at > 0 && entry.first < read[at - 1].first; --at) read[at] = read[at - 1];
    read[at] = entry;
  }
  std::size_t out = 0;
  for (std::size_t i = 0; i < read.size(); ++i) {
    if (i + 1 < read.size() && read[i + 1].first == read[i].first) continue;
    read[out++] = read[i];
  }
  read.resize(out);
}

// Adds `n` to the entry of `key` in the sorted `entries`; false when the sum would pass `max`.
template <class K>
bool add_entry(std::vector<std::pair<K, std::int64_t>>& entries, K key, std::uint64_t n,
               std::int64_t max) {
  auto it = std::lower_bound(entries.begin(), entries.end(), key,
                             [](const auto& entry, K k) { return entry.first < k; });
  if (it == entries.end() || it->first != key) it = entries.insert(it, {key, 0});
  if (n > static_cast<std::uint64_t>(max - it->second)) return false;
  it->second += static_cast<std::int64_t>(n);
  return true;
}

// A hash of a chain's words (repaired directions included), to match a chain with another's
// prefix. Equal chains hash alike; a collision can only mistake a node's virtual-peer mark.
std::uint64_t chain_hash(std::span<const std::uint64_t> words) {
  std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ words.size();
  for (const std::uint64_t w : words) {
    h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
    h ^= h >> 29;
  }
  return h;
}

}  // namespace

void DependencyTarget::durations(std::span<const std::int64_t> micros) {
  Pending& p = *pending_;
  if (p.durations.size() + micros.size() > Pending::kBuffered) {
    if (!p.spilled) p.spilled = std::make_unique<Latency>(latency_mode_);
    latency_worker_->add(*p.spilled, p.durations);
    p.durations.clear();
  }
  if (micros.size() > Pending::kBuffered) {
    latency_worker_->add(*p.spilled, micros);
  } else {
    p.durations.insert(p.durations.end(), micros.begin(), micros.end());
  }
}

void DependencyTarget::clear_pending() {
  Pending& p = *pending_;
  p.durations.clear();
  if (p.spilled) latency_worker_->free(std::move(p.spilled));
  p.not_http_ok = 0;
  p.with_error_logs = 0;
  p.http.clear();
  p.logs.clear();
}

void DependencyTarget::http_status(std::int16_t code, std::uint64_t count) {
  pending_->http.emplace_back(code, count);
}

void DependencyTarget::error_log(std::string_view text, std::uint64_t count) {
  text_key_.assign(text);  // looked up without a string of its own: most texts come again
  auto it = text_number_.find(text_key_);
  if (it == text_number_.end()) {
    it = text_number_.emplace(text_key_, static_cast<std::uint32_t>(texts_.size())).first;
    texts_.push_back(&it->first);
  }
  pending_->logs.emplace_back(it->second, count);
}

void DependencyTarget::errors(std::int32_t not_http_ok, std::int32_t with_error_logs) {
  pending_->not_http_ok = not_http_ok;
  pending_->with_error_logs = with_error_logs;
}

void DependencyTarget::drop_health() { clear_pending(); }

std::uint64_t DependencyTarget::hold_health() {
  held_.push_back(std::move(pending_));
  pending_ = std::make_unique<Pending>();
  return held_.size() - 1;
}

void DependencyTarget::restore_health(std::uint64_t held) {
  if (held < held_.size() && held_[held]) pending_ = std::move(held_[held]);
}

DependencyTarget::Health& DependencyTarget::health_of(std::unique_ptr<Health>& slot) {
  if (!slot) slot = std::make_unique<Health>(latency_mode_);
  return *slot;
}

void DependencyTarget::take_health(Health& into, std::uint32_t count) {
  Pending& p = *pending_;
  bool in_range = add_checked(into.calls, count, max_sum_) &&
                  add_checked(into.errors, p.not_http_ok, max_sum_) &&
                  add_checked(into.with_error_logs, p.with_error_logs, max_sum_);
  keep_last_per_key(p.http);
  for (const auto& [code, n] : p.http) {
    in_range = add_entry(into.http, code, n, max_sum_) && in_range;
  }
  keep_last_per_key(p.logs);
  for (const auto& [text, n] : p.logs) {
    in_range = add_entry(into.logs, text, n, max_sum_) && in_range;
  }
  latency_worker_->add(into.latency, p.durations);
  if (p.spilled) latency_worker_->merge(into.latency, std::move(p.spilled));
  if (!in_range) overflowed_ = true;
}

bool DependencyTarget::add_health(Health& into, const Health& from) const {
  into.latency.merge(from.latency);
  bool in_range = add_checked(into.calls, from.calls, max_sum_);
  in_range = add_checked(into.errors, from.errors, max_sum_) && in_range;
  in_range = add_checked(into.with_error_logs, from.with_error_logs, max_sum_) && in_range;
  in_range = add_entries(into.http, from.http, max_sum_) && in_range;
  return add_entries(into.logs, from.logs, max_sum_) && in_range;
}

void DependencyTarget::note_virtual_peer(const CallNames& names,
                                         std::span<const std::uint64_t> calls) {
  const std::size_t n = calls.size();
  if (not_peer_.size() < names.process_count()) not_peer_.resize(names.process_count(), false);
  for (std::size_t i = 0; i + 1 < n; ++i) not_peer_[names.process_id(word_call(calls[i]))] = true;
  const std::uint64_t last = calls[n - 1];
  const std::uint32_t process = names.process_id(word_call(last));
  if (word_direction(last) == CallDirection::Outbound) {
    outbound_chains_.push_back(chain_hash(calls));
  }
  if (n >= 2) {
    const std::uint64_t before = calls[n - 2];
    if (word_direction(last) == CallDirection::Inbound &&
        word_direction(before) == CallDirection::Outbound &&
        names.process_id(word_call(before)) != process &&
        names.method(word_call(before)) == names.method(word_call(last))) {
      peer_prefixes_.emplace_back(chain_hash(calls.first(n - 1)), process);
      return;
    }
  }
  not_peer_[process] = true;
}

void DependencyTarget::add(const CallNames& names, std::span<const std::uint64_t> calls,
                           std::uint32_t count) {
  if (calls.empty()) {
    clear_pending();  // a chain without calls has no call to give its health to
    return;
  }
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
  // The pair's health belongs to the chain's last call, and to the edge into it: it goes to
  // the edge, whose figures the call takes at the end.
  const std::uint64_t last = calls.back();
  CallSums& sums = calls_[word_call(last)];
  const auto d = static_cast<std::size_t>(word_direction(last));
  const bool over_edge =
      calls.size() >= 2 &&
      names.process_id(word_call(calls[calls.size() - 2])) != names.process_id(word_call(last));
  take_health(health_of(over_edge ? edges_[sums.last_edge].health[d] : sums.health[d]), count);
  clear_pending();
  note_virtual_peer(names, calls);
}

void DependencyTarget::add_edge(std::uint32_t from_process, std::uint32_t to_call,
                                std::uint32_t count) {
  const std::uint64_t key = std::uint64_t{from_process} << 32 | to_call;
  const auto [edge, inserted] =
      edge_of_.try_emplace(key, static_cast<std::uint32_t>(edges_.size()));
  if (inserted) edges_.push_back(EdgeSum{from_process, to_call, 0, {}});
  add_to(edges_[edge].count, count);
  CallSums& sums = calls_[to_call];
  sums.last_from = from_process;
  sums.last_edge = edge;
}

void DependencyTarget::clear() {
  latency_worker_->finish();
  overflowed_ = false;
  calls_.clear();
  entry_.clear();
  edges_.clear();
  edge_of_ = IdIndex();
  clear_pending();
  held_.clear();
  not_peer_.clear();
  peer_prefixes_.clear();
  outbound_chains_.clear();
}

CallFigures DependencyTarget::take_figures(std::unique_ptr<Health>& health,
                                           const std::vector<std::uint32_t>& rank,
                                           const std::vector<std::uint32_t>& by_rank) {
  CallFigures figures;
  if (!health) {
    figures.latency = Latency(latency_mode_);
    return figures;
  }
  figures.calls = health->calls;
  figures.errors = health->errors;
  figures.with_error_logs = health->with_error_logs;
  figures.http_status = std::move(health->http);
  // The texts in the order of their bytes: by rank.
  for (auto& [text, n] : health->logs) text = rank[text];
  std::sort(health->logs.begin(), health->logs.end());
  figures.error_logs.reserve(health->logs.size());
  for (const auto& [r, n] : health->logs) figures.error_logs.emplace_back(*texts_[by_rank[r]], n);
  figures.latency = std::move(health->latency);
  health.reset();
  return figures;
}

DependencyGraph DependencyTarget::graph(const CallNames& names) {
  latency_worker_->finish();
  // A call's figures take those of the edges into it, direction by direction; an edge's take
  // those of its directions together, in its first slot.
  for (EdgeSum& edge : edges_) {
    std::unique_ptr<Health>* whole = nullptr;
    for (std::size_t d = 0; d < 3; ++d) {
      std::unique_ptr<Health>& part = edge.health[d];
      if (!part) continue;
      if (!add_health(health_of(calls_[edge.to_call].health[d]), *part)) overflowed_ = true;
      if (whole == nullptr) {
        whole = &part;
      } else {
        if (!add_health(**whole, *part)) overflowed_ = true;
        part.reset();
      }
    }
    if (whole != nullptr && whole != &edge.health[0]) edge.health[0] = std::move(*whole);
  }
  // The error log texts ranked by their bytes.
  std::vector<std::uint32_t> by_rank(texts_.size());
  std::iota(by_rank.begin(), by_rank.end(), 0u);
  std::sort(by_rank.begin(), by_rank.end(),
            [this](std::uint32_t a, std::uint32_t b) { return *texts_[a] < *texts_[b]; });
  std::vector<std::uint32_t> rank(texts_.size());
  for (std::uint32_t r = 0; r < by_rank.size(); ++r) rank[by_rank[r]] = r;

  // The calls that were added, by process name and then method: the order of the nodes and of
  // their maps.
  auto by_process_then = [&names](std::uint32_t a_process, std::uint32_t b_process, auto rest) {
    return a_process != b_process ? names.process_name(a_process) < names.process_name(b_process)
                                  : rest();
  };
  std::vector<std::uint32_t> order;
  for (std::uint32_t call = 0; call < calls_.size(); ++call) {
    if (calls_[call].added != 0) order.push_back(call);
  }
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return by_process_then(names.process_id(a), names.process_id(b),
                           [&] { return names.method(a) < names.method(b); });
  });
  DependencyGraph graph;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::uint32_t call = order[i];
    CallSums& sums = calls_[call];
    const std::uint32_t process = names.process_id(call);
    if (i == 0 || names.process_id(order[i - 1]) != process) {
      DependencyNode& node = graph.nodes.emplace_back();
      node.name = names.process_name(process);
      if (process < entry_.size()) node.entry_count = entry_[process];
      // Each map's room, from the node's calls.
      std::size_t sizes[3] = {};
      for (std::size_t j = i; j < order.size() && names.process_id(order[j]) == process; ++j) {
        for (std::size_t d = 0; d < 3; ++d) sizes[d] += calls_[order[j]].added >> d & 1;
      }
      node.operations.reserve(sizes[0]);
      node.methods.reserve(sizes[1]);
      node.direction_unknown.reserve(sizes[2]);
    }
    DependencyNode& node = graph.nodes.back();
    std::vector<MethodSum>* maps[] = {&node.operations, &node.methods, &node.direction_unknown};
    for (std::size_t d = 0; d < 3; ++d) {
      if ((sums.added >> d & 1) != 0) {
        maps[d]->emplace_back(std::string(names.method(call)), sums.sum[d],
                              take_figures(sums.health[d], rank, by_rank));
      }
    }
  }

  std::vector<std::uint32_t> edge_order(edges_.size());
  std::iota(edge_order.begin(), edge_order.end(), 0u);
  std::sort(edge_order.begin(), edge_order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const EdgeSum& x = edges_[a];
    const EdgeSum& y = edges_[b];
    return by_process_then(x.from_process, y.from_process, [&] {
      return by_process_then(names.process_id(x.to_call), names.process_id(y.to_call),
                             [&] { return names.method(x.to_call) < names.method(y.to_call); });
    });
  });
  graph.edges.reserve(edges_.size());
  for (const std::uint32_t e : edge_order) {
    EdgeSum& edge = edges_[e];
    graph.edges.emplace_back(std::string(names.process_name(edge.from_process)),
                             std::string(names.process(edge.to_call)),
                             std::string(names.method(edge.to_call)), edge.count,
                             take_figures(edge.health[0], rank, by_rank));
  }

  // A process is a virtual peer when every chain holds it only as a peer its caller's client
  // span named: last, received, after an outbound call of the same method on another process,
  // whose own chain (the chain without the peer) the file does not hold.
  std::vector<std::uint64_t> outbound = outbound_chains_;
  std::sort(outbound.begin(), outbound.end());
  std::vector<std::uint8_t> peer(names.process_count(), 0);  // 1: a peer so far, 2: not
  for (const auto& [prefix, process] : peer_prefixes_) {
    const bool own_chain = std::binary_search(outbound.begin(), outbound.end(), prefix);
    if (own_chain || (process < not_peer_.size() && not_peer_[process])) {
      peer[process] = 2;
    } else if (peer[process] == 0) {
      peer[process] = 1;
    }
  }
  for (std::uint32_t process = 0; process < peer.size(); ++process) {
    if (peer[process] == 1) graph.virtual_peers.emplace_back(names.process_name(process));
  }
  std::sort(graph.virtual_peers.begin(), graph.virtual_peers.end());
  return graph;
}

namespace {

// Takes nothing: the repair reports are only counted.
class NoReport final : public Sink {
 public:
  bool write(std::string_view) override { return false; }
};

}  // namespace

bool add_graph(DependencyGraph& graph, const DependencyGraph& other, std::int64_t max_sum) {
  // A peer stays virtual where no graph holds it as a node of its own.
  auto is_node = [](const DependencyGraph& g, const std::string& name) {
    return std::binary_search(
        g.nodes.begin(), g.nodes.end(), name, [](const auto& a, const auto& b) {
          if constexpr (std::is_same_v<std::decay_t<decltype(a)>, DependencyNode>) {
            return a.name < b;
          } else {
            return a < b.name;
          }
        });
  };
  auto is_virtual = [](const DependencyGraph& g, const std::string& name) {
    return std::binary_search(g.virtual_peers.begin(), g.virtual_peers.end(), name);
  };
  std::vector<std::string> peers;
  std::set_union(graph.virtual_peers.begin(), graph.virtual_peers.end(),
                 other.virtual_peers.begin(), other.virtual_peers.end(), std::back_inserter(peers));
  std::erase_if(peers, [&](const std::string& name) {
    return (is_node(graph, name) && !is_virtual(graph, name)) ||
           (is_node(other, name) && !is_virtual(other, name));
  });
  auto add_sums = [max_sum](std::vector<MethodSum>& into, const std::vector<MethodSum>& from) {
    return merge_sorted(
        into, from, [](const MethodSum& a, const MethodSum& b) { return a.method < b.method; },
        [max_sum](MethodSum& a, const MethodSum& b) {
          const bool sum = add_checked(a.sum, b.sum, max_sum);
          return add_figures(a.figures, b.figures, max_sum) && sum;
        });
  };
  const bool nodes = merge_sorted(
      graph.nodes, other.nodes,
      [](const DependencyNode& a, const DependencyNode& b) { return a.name < b.name; },
      [&](DependencyNode& a, const DependencyNode& b) {
        const bool entry = add_checked(a.entry_count, b.entry_count, max_sum);
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
        const bool count = add_checked(a.count, b.count, max_sum);
        return add_figures(a.figures, b.figures, max_sum) && count;
      });
  graph.virtual_peers = std::move(peers);
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
  for (const std::string& peer : graph.virtual_peers) {
    if (keep_node[node_of(peer)]) part.virtual_peers.push_back(peer);
  }
  return part;
}

std::variant<DependencyGraph, CountOutOfRange, SumOutOfRange> record_dependencies(
    const StatsRecJson& record, Latency::Mode latency) {
  CallNames names;
  DependencyTarget target(kMaxDependencySum, latency);
  std::vector<std::uint64_t> words;
  std::vector<std::pair<std::size_t, std::uint64_t>> changed;
  for (const auto& [key, operation] : record.stats) {
    for (const auto& [chain, value] : operation.call_chain) {
      if (value.count > kMaxChainCount) return CountOutOfRange{};
      words.clear();
      for (const Call& call : chain.call_chain) {
        words.push_back(call_word(names.intern(call.process, call.method), call.call_direction));
      }
      changed.clear();
      repair_directions(names, words, changed);
      // One at a time, where decoding hands them over in batches.
      for (const std::int64_t& micros : value.duration_micros) target.durations({&micros, 1});
      for (const auto& [code, n] : value.http_not_ok) target.http_status(code, n);
      for (const auto& [text, n] : value.error_logs) target.error_log(text, n);
      target.errors(value.cc_not_http_ok, value.cc_with_error_logs);
      target.add(names, words, static_cast<std::uint32_t>(value.count));
    }
  }
  DependencyGraph graph = target.graph(names);
  if (target.overflowed()) return SumOutOfRange{};
  return graph;
}

StreamedDependencies stream_dependencies(StatsFile& file, std::size_t log_allowance,
                                         Latency::Mode latency, std::uint64_t thread_after) {
  StreamedDependencies run;
  DependencyTarget target(kMaxDependencySum, latency, thread_after);
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
  run.counts = fold.counts();
  if (end.value() == FoldEnd::CountOutOfRange) {
    run.end = CountOutOfRange{};
  } else if (DependencyGraph graph = target.graph(fold.names()); target.overflowed()) {
    run.end = SumOutOfRange{};
  } else {
    run.end = std::move(graph);
  }
  return run;
}

}  // namespace tracemill
