#include "stats/record_merger.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <queue>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "stats/file/record_writer.h"

namespace tracemill {
namespace {

using Numbers = std::vector<std::int64_t>;

std::uint64_t add_u64(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

std::int32_t add_i32(std::int32_t a, std::int32_t b) {
  const std::int64_t sum = std::int64_t{a} + b;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX));
}

template <class K>
void add_counts(HashMap<K, std::uint64_t>& into, HashMap<K, std::uint64_t>&& from) {
  if (into.empty()) {
    into = std::move(from);
    return;
  }
  for (auto& [key, n] : from) {
    std::uint64_t& to = into[key];
    to = add_u64(to, n);
  }
}

bool entry_less(std::int64_t s1, std::int64_t d1, std::int64_t s2, std::int64_t d2) {
  return s1 != s2 ? s1 < s2 : d1 < d2;
}

// The durations and starts of one pair or method: one run per record, each in (start,
// duration) order, joined by finish().
struct Runs {
  std::vector<Numbers> durations, starts;

  // Takes the two lists of one record; false when one is unsorted (it is sorted then).
  bool add(Numbers&& d, Numbers&& s) {
    if (d.empty()) return true;
    bool sorted = true;
    for (std::size_t i = 1; i < d.size() && sorted; ++i) {
      sorted = !entry_less(s[i], d[i], s[i - 1], d[i - 1]);
    }
    if (!sorted) {
      std::vector<std::pair<std::int64_t, std::int64_t>> pairs(d.size());
      for (std::size_t i = 0; i < d.size(); ++i) pairs[i] = {s[i], d[i]};
      std::sort(pairs.begin(), pairs.end());
      for (std::size_t i = 0; i < d.size(); ++i) std::tie(s[i], d[i]) = pairs[i];
    }
    // The decoders grow their lists as the elements arrive: held until finish(), the room
    // beyond the elements would be memory the merged record does not need.
    if (d.capacity() > d.size() + d.size() / 8 + 16) d.shrink_to_fit();
    if (s.capacity() > s.size() + s.size() / 8 + 16) s.shrink_to_fit();
    durations.push_back(std::move(d));
    starts.push_back(std::move(s));
    return sorted;
  }

  // Joins the runs into `d` and `s`, every number copied at most once.
  void finish(Numbers& d, Numbers& s) {
    const std::size_t k = durations.size();
    if (k == 0) return;
    if (k == 1) {
      d = std::move(durations[0]);
      s = std::move(starts[0]);
      return;
    }
    std::vector<std::size_t> order(k);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return entry_less(starts[a][0], durations[a][0], starts[b][0], durations[b][0]);
    });
    std::size_t total = 0;
    bool apart = true;  // each run begins at or after the end of the one before: hourly files
    for (std::size_t i = 0; i < k; ++i) {
      total += durations[order[i]].size();
      if (i > 0) {
        const Numbers &ps = starts[order[i - 1]], &pd = durations[order[i - 1]];
        apart =
            apart && !entry_less(starts[order[i]][0], durations[order[i]][0], ps.back(), pd.back());
      }
    }
    d.clear();
    s.clear();
    d.reserve(total);
    s.reserve(total);
    if (apart) {
      for (std::size_t r : order) {
        d.insert(d.end(), durations[r].begin(), durations[r].end());
        s.insert(s.end(), starts[r].begin(), starts[r].end());
        Numbers().swap(durations[r]);
        Numbers().swap(starts[r]);
      }
    } else {
      // The head of each run in a heap, smallest (start, duration) on top.
      struct Head {
        std::int64_t start, duration;
        std::size_t run, at;
      };
      auto later = [](const Head& a, const Head& b) {
        return entry_less(b.start, b.duration, a.start, a.duration);
      };
      std::priority_queue<Head, std::vector<Head>, decltype(later)> heads(later);
      for (std::size_t r = 0; r < k; ++r) heads.push({starts[r][0], durations[r][0], r, 0});
      while (!heads.empty()) {
        Head h = heads.top();
        heads.pop();
        d.push_back(h.duration);
        s.push_back(h.start);
        if (++h.at < durations[h.run].size()) {
          h.start = starts[h.run][h.at];
          h.duration = durations[h.run][h.at];
          heads.push(h);
        }
      }
    }
    durations = {};
    starts = {};
  }
};

struct PairAcc {
  CChainStatsKey key;
  CChainStatsValue value;  // lists empty until finish()
  Runs lists;
};

struct MethodAcc {
  ProcOperStatsValue value;  // lists empty until finish()
  Runs lists;
};

struct OpAcc {
  HashMap<std::string, MethodAcc> methods;
  std::uint64_t num_traces = 0, received = 0, outbound = 0, unknown = 0;
  std::vector<PairAcc> pairs;
  HashMap<std::string, std::uint32_t> pair_index;  // the bincode of (key, rooted)
};

// The list order of the condenser: the chains call by call (process, method, direction, a
// chain before the longer ones it begins), then non-leaves first, then unrooted first; the
// caching process last, which the condenser leaves empty.
bool pair_less(const PairAcc& a, const PairAcc& b) {
  const auto call_key = [](const Call& c) {
    return std::tie(c.process, c.method, c.call_direction);
  };
  const std::vector<Call>&x = a.key.call_chain, &y = b.key.call_chain;
  for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
    if (call_key(x[i]) != call_key(y[i])) return call_key(x[i]) < call_key(y[i]);
  }
  if (x.size() != y.size()) return x.size() < y.size();
  return std::tie(a.key.is_leaf, a.value.rooted, a.key.caching_process) <
         std::tie(b.key.is_leaf, b.value.rooted, b.key.caching_process);
}

}  // namespace

struct RecordMerger::Impl {
  bool any = false;
  Version version;
  std::int32_t num_files = 0;
  std::uint64_t num_incomplete_traces = 0, num_fixes = 0;
  std::vector<std::string> trace_id, root_call, caching_processes;
  std::vector<std::uint32_t> trace_run_ends;  // where each record's traces end in trace_id
  bool trace_runs_sorted = true;              // each record's trace ids ascending
  std::vector<std::uint64_t> num_spans;
  Numbers start_dt, end_dt, duration_micros, time_to_respond_micros;
  HashMap<std::string, OpAcc> ops;
  std::string key_bytes;  // scratch

  bool merge_pair(OpAcc& op, CChainStatsKey&& key, CChainStatsValue&& value);
  // The places of trace_id in ascending order, equal ids in the order they came in: the
  // records' sorted runs merged, or (for records of other writers) a stable sort.
  std::vector<std::uint32_t> trace_order() const;
};

std::vector<std::uint32_t> RecordMerger::Impl::trace_order() const {
  std::vector<std::uint32_t> order;
  order.reserve(trace_id.size());
  if (!trace_runs_sorted) {
    order.resize(trace_id.size());
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return trace_id[a] < trace_id[b]; });
    return order;
  }
  struct Head {
    std::uint32_t at, end;  // the run's next place and its end; runs come in input order
  };
  auto later = [&](const Head& a, const Head& b) {
    const int c = trace_id[a.at].compare(trace_id[b.at]);
    return c != 0 ? c > 0 : a.at > b.at;
  };
  std::priority_queue<Head, std::vector<Head>, decltype(later)> heads(later);
  std::uint32_t begin = 0;
  for (std::uint32_t end : trace_run_ends) {
    if (begin < end) heads.push({begin, end});
    begin = end;
  }
  while (!heads.empty()) {
    Head h = heads.top();
    heads.pop();
    order.push_back(h.at);
    if (++h.at < h.end) heads.push(h);
  }
  return order;
}

RecordMerger::RecordMerger() : impl_(std::make_unique<Impl>()) {}
RecordMerger::~RecordMerger() = default;

namespace {

bool lists_match(const StatsRecJson& r) {
  const std::size_t n = r.trace_id.size();
  if (r.root_call.size() != n || r.num_spans.size() != n || r.start_dt.size() != n ||
      r.end_dt.size() != n || r.duration_micros.size() != n ||
      r.time_to_respond_micros.size() != n) {
    return false;
  }
  for (const auto& [name, op] : r.stats) {
    for (const auto& [method, v] : op.method) {
      if (v.duration_micros.size() != v.start_dt_micros.size()) return false;
    }
    for (const auto& [key, v] : op.call_chain) {
      if (v.duration_micros.size() != v.start_dt_micros.size()) return false;
    }
  }
  return true;
}

template <class T>
void append(std::vector<T>& into, std::vector<T>&& from) {
  if (into.empty()) {
    into = std::move(from);
  } else {
    into.insert(into.end(), std::make_move_iterator(from.begin()),
                std::make_move_iterator(from.end()));
  }
  from = {};
}

// Puts `list` in the order of `order`: entry i becomes list[order[i]].
template <class T>
void permute(std::vector<T>& list, const std::vector<std::uint32_t>& order) {
  std::vector<T> out;
  out.reserve(list.size());
  for (std::uint32_t i : order) out.push_back(std::move(list[i]));
  list = std::move(out);
}

}  // namespace

bool RecordMerger::Impl::merge_pair(OpAcc& op, CChainStatsKey&& key, CChainStatsValue&& value) {
  key_bytes.clear();
  encode_bincode(key, key_bytes);
  key_bytes.push_back(value.rooted ? '\1' : '\0');
  const auto [it, fresh] =
      op.pair_index.try_emplace(key_bytes, static_cast<std::uint32_t>(op.pairs.size()));
  if (fresh) op.pairs.emplace_back().key = std::move(key);
  PairAcc& acc = op.pairs[it->second];
  CChainStatsValue& v = acc.value;
  const bool sorted =
      acc.lists.add(std::move(value.duration_micros), std::move(value.start_dt_micros));
  if (fresh) {
    v = std::move(value);
  } else {
    v.count = add_u64(v.count, value.count);
    v.cc_not_http_ok = add_i32(v.cc_not_http_ok, value.cc_not_http_ok);
    v.cc_with_error_logs = add_i32(v.cc_with_error_logs, value.cc_with_error_logs);
    add_counts(v.http_not_ok, std::move(value.http_not_ok));
    add_counts(v.error_logs, std::move(value.error_logs));
    for (ExpectRoot& e : value.expect_root) {
      auto same = std::find_if(v.expect_root.begin(), v.expect_root.end(),
                               [&](const ExpectRoot& x) { return x.proc_oper == e.proc_oper; });
      if (same == v.expect_root.end()) {
        v.expect_root.push_back(std::move(e));
      } else {
        same->count = add_u64(same->count, e.count);
      }
    }
  }
  v.duration_micros.clear();
  v.start_dt_micros.clear();
  return sorted;
}

bool RecordMerger::add(StatsRecJson&& record) {
  if (!lists_match(record)) return false;
  Impl& m = *impl_;
  ++counts_.records;
  if (!m.any) {
    m.any = true;
    m.version = record.version;
  } else if (record.version != m.version) {
    ++counts_.other_versions;
  }
  if (record.num_fixes != 0) ++counts_.repaired_records;
  m.num_files = add_i32(m.num_files, record.num_files);
  m.num_incomplete_traces = add_u64(m.num_incomplete_traces, record.num_incomplete_traces);
  m.num_fixes = add_u64(m.num_fixes, record.num_fixes);
  m.trace_runs_sorted =
      m.trace_runs_sorted && std::is_sorted(record.trace_id.begin(), record.trace_id.end());
  append(m.trace_id, std::move(record.trace_id));
  m.trace_run_ends.push_back(static_cast<std::uint32_t>(m.trace_id.size()));
  append(m.root_call, std::move(record.root_call));
  append(m.num_spans, std::move(record.num_spans));
  append(m.start_dt, std::move(record.start_dt));
  append(m.end_dt, std::move(record.end_dt));
  append(m.duration_micros, std::move(record.duration_micros));
  append(m.time_to_respond_micros, std::move(record.time_to_respond_micros));
  append(m.caching_processes, std::move(record.caching_processes));
  for (auto& [name, op] : record.stats) {
    OpAcc& acc = m.ops[name];
    acc.num_traces = add_u64(acc.num_traces, op.num_traces);
    acc.received = add_u64(acc.received, op.num_received_calls);
    acc.outbound = add_u64(acc.outbound, op.num_outbound_calls);
    acc.unknown = add_u64(acc.unknown, op.num_unknown_calls);
    for (auto& [method, v] : op.method) {
      MethodAcc& ma = acc.methods[method];
      if (!ma.lists.add(std::move(v.duration_micros), std::move(v.start_dt_micros))) {
        ++counts_.unsorted_lists;
      }
      ProcOperStatsValue& to = ma.value;
      to.count = add_u64(to.count, v.count);
      to.num_traces = add_u64(to.num_traces, v.num_traces);
      to.num_not_http_ok = add_i32(to.num_not_http_ok, v.num_not_http_ok);
      to.num_with_error_logs = add_i32(to.num_with_error_logs, v.num_with_error_logs);
      add_counts(to.http_not_ok_codes, std::move(v.http_not_ok_codes));
      add_counts(to.error_logs, std::move(v.error_logs));
    }
    for (auto& [key, v] : op.call_chain) {
      if (!m.merge_pair(acc, std::move(key), std::move(v))) ++counts_.unsorted_lists;
    }
    op = {};
  }
  record = {};
  return true;
}

StatsRecJson RecordMerger::top_record() {
  Impl& m = *impl_;
  StatsRecJson rec;
  rec.version = m.version;
  rec.num_files = m.num_files;
  rec.num_incomplete_traces = m.num_incomplete_traces;
  rec.num_fixes = m.num_fixes;

  // The per-trace lists in trace id order; entries of one id keep the order they came in.
  if (!std::is_sorted(m.trace_id.begin(), m.trace_id.end())) {
    const std::vector<std::uint32_t> order = m.trace_order();
    permute(m.trace_id, order);
    permute(m.root_call, order);
    permute(m.num_spans, order);
    permute(m.start_dt, order);
    permute(m.end_dt, order);
    permute(m.duration_micros, order);
    permute(m.time_to_respond_micros, order);
  }
  for (std::size_t i = 1; i < m.trace_id.size(); ++i) {
    if (m.trace_id[i] == m.trace_id[i - 1]) ++counts_.shared_trace_ids;
  }
  rec.trace_id = std::move(m.trace_id);
  rec.root_call = std::move(m.root_call);
  rec.num_spans = std::move(m.num_spans);
  rec.start_dt = std::move(m.start_dt);
  rec.end_dt = std::move(m.end_dt);
  rec.duration_micros = std::move(m.duration_micros);
  rec.time_to_respond_micros = std::move(m.time_to_respond_micros);
  std::sort(m.caching_processes.begin(), m.caching_processes.end());
  m.caching_processes.erase(std::unique(m.caching_processes.begin(), m.caching_processes.end()),
                            m.caching_processes.end());
  rec.caching_processes = std::move(m.caching_processes);
  for (const auto& [name, acc] : m.ops) {
    rec.num_call_chains += acc.pairs.size();
    for (const PairAcc& p : acc.pairs) rec.init_num_unrooted_cc += p.value.rooted ? 0 : 1;
  }
  rec.num_endpoints = m.ops.size();
  rec.num_unrooted_cc_after_fixes = rec.init_num_unrooted_cc;
  return rec;
}

namespace {

// The merged operation of `acc`, which is left empty.
OperationStatsJson take_operation(OpAcc& acc) {
  OperationStatsJson op;
  op.num_traces = acc.num_traces;
  op.num_received_calls = acc.received;
  op.num_outbound_calls = acc.outbound;
  op.num_unknown_calls = acc.unknown;
  for (auto& [method, ma] : acc.methods) {
    ma.lists.finish(ma.value.duration_micros, ma.value.start_dt_micros);
    op.method.emplace(method, std::move(ma.value));
  }
  acc.pair_index = {};
  std::sort(acc.pairs.begin(), acc.pairs.end(), pair_less);
  op.call_chain.reserve(acc.pairs.size());
  for (PairAcc& p : acc.pairs) {
    p.lists.finish(p.value.duration_micros, p.value.start_dt_micros);
    op.call_chain.emplace_back(std::move(p.key), std::move(p.value));
  }
  acc = {};
  return op;
}

}  // namespace

StatsRecJson RecordMerger::finish() {
  StatsRecJson rec = top_record();
  for (auto& [name, acc] : impl_->ops) rec.stats.emplace(name, take_operation(acc));
  impl_ = std::make_unique<Impl>();
  return rec;
}

bool RecordMerger::finish_into(Sink& sink, Encoding encoding) {
  const StatsRecJson top = top_record();
  std::vector<std::pair<const std::string*, OpAcc*>> ops;
  ops.reserve(impl_->ops.size());
  for (auto& [name, acc] : impl_->ops) ops.emplace_back(&name, &acc);
  std::sort(ops.begin(), ops.end(),
            [](const auto& a, const auto& b) { return *a.first < *b.first; });
  detail::SinkOut out(sink);
  std::string& text = out.text;
  const bool json = encoding == Encoding::Json;
  auto value = [&](const auto& v) {
    return (json ? detail::put_json(v, out, false, 0) : detail::put_bincode(v, out)) && out.more();
  };
  bool first = true;
  if (json) text.push_back('{');
  // Every field as write_record writes it, but `stats` an operation at a time, each merged
  // when it is written and dropped after it.
  const bool complete = for_each_field<StatsRecJson>([&](const auto& f) {
    if (json) {
      if (!first) text.push_back(',');
      write_json_string(f.name, text);
      text.push_back(':');
    }
    first = false;
    if constexpr (std::is_same_v<decltype(f.member), decltype(&StatsRecJson::stats)>) {
      if (json) {
        text.push_back('{');
      } else {
        detail::put_le(text, static_cast<std::uint64_t>(ops.size()));
      }
      for (std::size_t k = 0; k < ops.size(); ++k) {
        if (json) {
          if (k > 0) text.push_back(',');
          write_json_string(*ops[k].first, text);
          text.push_back(':');
        } else {
          detail::put_bincode(*ops[k].first, out);
        }
        if (!value(take_operation(*ops[k].second))) return false;
      }
      if (json) text.push_back('}');
      return true;
    } else {
      return value(f.of(top));
    }
  });
  impl_ = std::make_unique<Impl>();
  if (!complete) return false;
  if (json) text += "}\n";
  return out.flush();
}

}  // namespace tracemill
