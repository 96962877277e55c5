#include "stats/record_merger.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <queue>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/fatal.h"
#include "base/words.h"
#include "stats/file/chain_receiver.h"
#include "stats/file/record_writer.h"

namespace tracemill {
namespace {

using Numbers = std::vector<std::int64_t>;

// Frees what a container holds. `list = {}` would not: for a vector or a map it picks the
// assignment from an empty initializer list, which keeps the room.
template <class T>
void release(T& container) {
  T().swap(container);
}

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

// The decoders grow their lists as the elements arrive: held until the end, the room beyond
// the elements would be memory the merged record does not need.
template <class T>
void drop_room(std::vector<T>& list) {
  if (list.capacity() > list.size() + list.size() / 8 + 16) list.shrink_to_fit();
}

// The texts of one record's per-trace list, back to back: a text's own allocation would cost
// more than most of its texts (trace ids are 32 bytes).
class Texts {
 public:
  Texts() = default;
  explicit Texts(std::vector<std::string>&& list) {
    std::size_t total = 0;
    for (const std::string& text : list) total += text.size();
    bytes_.reserve(total);
    ends_.reserve(list.size());
    for (const std::string& text : list) {
      bytes_ += text;
      ends_.push_back(bytes_.size());
    }
    release(list);
  }
  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(begin, ends_[i] - begin);
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;
};

// The per-trace lists of one record, each entry of trace_id with the entries of the other
// lists at its place.
struct TraceRun {
  Texts trace_id, root_call;
  std::vector<std::uint64_t> num_spans;
  Numbers start_dt, end_dt, duration_micros, time_to_respond_micros;
};

// A trace's place: its record's run and its place there.
struct TracePlace {
  std::uint32_t run, at;
};

// One record's (start, duration) entries of a pair or a method, in order, packed: per entry
// the rise of its start over the entry before (the first: over 0; as unsigned 64-bit
// arithmetic, exact whatever the values) and its duration zigzagged, each in as many bytes as
// it needs (little-endian), after one byte that holds the two lengths. Starts close together
// and durations of a few milliseconds take 6 to 8 bytes an entry instead of 16. Each number
// is written and read as a whole word (the buffer keeps a word of room after its bytes), so
// packing and unpacking take no branch on the lengths.
class PackedRun {
 public:
  PackedRun(const Numbers& d, const Numbers& s) : size_(d.size()) {
    std::size_t bytes = 0;
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
      bytes += 1 + length(static_cast<std::uint64_t>(s[i]) - previous) + length(zigzag(d[i]));
      previous = static_cast<std::uint64_t>(s[i]);
    }
    bytes_.resize(bytes + 8);
    char* p = bytes_.data();
    previous = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
      const std::uint64_t rise = static_cast<std::uint64_t>(s[i]) - previous;
      const std::uint64_t z = zigzag(d[i]);
      const std::size_t n = length(rise);
      const std::size_t m = length(z);
      *p = static_cast<char>(n | m << 4);
      store_le64(p + 1, rise);
      store_le64(p + 1 + n, z);
      p += 1 + n + m;
      previous = static_cast<std::uint64_t>(s[i]);
    }
    if (!d.empty()) {
      first_ = {s.front(), d.front()};
      last_ = {s.back(), d.back()};
    }
  }

  std::size_t size() const { return size_; }
  // The first and the last entry, as (start, duration).
  std::pair<std::int64_t, std::int64_t> first() const { return first_; }
  std::pair<std::int64_t, std::int64_t> last() const { return last_; }

  // The entries one after another.
  class Reader {
   public:
    explicit Reader(const PackedRun& run) : p_(run.bytes_.data()) {}
    void next(std::int64_t& start, std::int64_t& duration) {
      const auto lengths = static_cast<unsigned char>(*p_);
      const std::size_t n = lengths & 15u;
      const std::size_t m = lengths >> 4;
      start_ += load_le64(p_ + 1) & kLowBytes[n];
      const std::uint64_t z = load_le64(p_ + 1 + n) & kLowBytes[m];
      p_ += 1 + n + m;
      start = static_cast<std::int64_t>(start_);
      duration = static_cast<std::int64_t>(z >> 1) ^ -static_cast<std::int64_t>(z & 1);
    }

   private:
    const char* p_;
    std::uint64_t start_ = 0;
  };

 private:
  static constexpr std::uint64_t kLowBytes[9] = {0,
                                                 0xFF,
                                                 0xFFFF,
                                                 0xFFFFFF,
                                                 0xFFFFFFFF,
                                                 0xFFFFFFFFFF,
                                                 0xFFFFFFFFFFFF,
                                                 0xFFFFFFFFFFFFFF,
                                                 ~std::uint64_t{0}};
  static std::uint64_t zigzag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
  }
  // The bytes `v` needs: 0 for 0.
  static std::size_t length(std::uint64_t v) {
    return static_cast<std::size_t>(std::bit_width(v) + 7) / 8;
  }

  std::vector<char> bytes_;
  std::size_t size_;
  std::pair<std::int64_t, std::int64_t> first_{}, last_{};
};

// The durations and starts of one pair or method: one packed run per record, each in (start,
// duration) order, joined by finish().
struct Runs {
  std::vector<PackedRun> runs;

  // The two lists of one record, packed and freed; `sorted` tells whether they were in
  // (start, duration) order (they are sorted otherwise).
  static PackedRun pack(Numbers& d, Numbers& s, bool& sorted) {
    sorted = true;
    for (std::size_t i = 1; i < d.size() && sorted; ++i) {
      sorted = !entry_less(s[i], d[i], s[i - 1], d[i - 1]);
    }
    if (!sorted) {
      std::vector<std::pair<std::int64_t, std::int64_t>> pairs(d.size());
      for (std::size_t i = 0; i < d.size(); ++i) pairs[i] = {s[i], d[i]};
      std::sort(pairs.begin(), pairs.end());
      for (std::size_t i = 0; i < d.size(); ++i) std::tie(s[i], d[i]) = pairs[i];
    }
    PackedRun run(d, s);
    release(d);
    release(s);
    return run;
  }
  void add(PackedRun&& run) {
    if (run.size() != 0) runs.push_back(std::move(run));
  }

  std::size_t size() const {
    std::size_t total = 0;
    for (const PackedRun& run : runs) total += run.size();
    return total;
  }

  // Calls take(start, duration) for every entry of every run, in (start, duration) order.
  template <class Take>
  void for_each(Take take) const {
    const std::size_t k = runs.size();
    std::vector<std::size_t> order(k);
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto by_first = [&](std::size_t a, std::size_t b) { return runs[a].first() < runs[b].first(); };
    std::sort(order.begin(), order.end(), by_first);
    bool apart = true;  // each run begins at or after the end of the one before: hourly files
    for (std::size_t i = 1; i < k; ++i) {
      apart = apart && !(runs[order[i]].first() < runs[order[i - 1]].last());
    }
    std::int64_t start = 0;
    std::int64_t duration = 0;
    if (apart) {
      for (const std::size_t r : order) {
        PackedRun::Reader reader(runs[r]);
        for (std::size_t i = 0; i < runs[r].size(); ++i) {
          reader.next(start, duration);
          take(start, duration);
        }
      }
      return;
    }
    // The head of each run in a heap, smallest (start, duration) on top.
    struct Head {
      std::int64_t start, duration;
      std::size_t left;
      PackedRun::Reader reader;
    };
    auto later = [](const Head& a, const Head& b) {
      return entry_less(b.start, b.duration, a.start, a.duration);
    };
    std::vector<Head> heads;
    for (const PackedRun& run : runs) {
      Head& h = heads.emplace_back(Head{0, 0, run.size() - 1, PackedRun::Reader(run)});
      h.reader.next(h.start, h.duration);
    }
    std::make_heap(heads.begin(), heads.end(), later);
    while (!heads.empty()) {
      std::pop_heap(heads.begin(), heads.end(), later);
      Head& h = heads.back();
      take(h.start, h.duration);
      if (h.left == 0) {
        heads.pop_back();
        continue;
      }
      --h.left;
      h.reader.next(h.start, h.duration);
      std::push_heap(heads.begin(), heads.end(), later);
    }
  }

  // Joins the runs into `d` and `s`.
  void finish(Numbers& d, Numbers& s) {
    d.clear();
    s.clear();
    d.reserve(size());
    s.reserve(size());
    for_each([&](std::int64_t start, std::int64_t duration) {
      s.push_back(start);
      d.push_back(duration);
    });
    release(runs);
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
  std::vector<std::string> caching_processes;
  std::vector<TraceRun> traces;   // per record
  bool trace_runs_sorted = true;  // each record's trace ids ascending
  HashMap<std::string, OpAcc> ops;
  std::string key_bytes;  // scratch

  void merge_pair(OpAcc& op, CChainStatsKey&& key, CChainStatsValue&& value, PackedRun&& run);
  // The traces in ascending order of their ids, equal ids in the order they came in: the
  // records' sorted runs merged, or (for records of other writers) a stable sort.
  std::vector<TracePlace> trace_order() const;
  // The same, with the entries whose id an earlier entry has counted into `counts`.
  std::vector<TracePlace> counted_trace_order(MergeCounts& counts) const;
  std::string_view trace_id(TracePlace p) const { return traces[p.run].trace_id[p.at]; }
};

std::vector<TracePlace> RecordMerger::Impl::trace_order() const {
  std::vector<TracePlace> order;
  std::size_t total = 0;
  for (const TraceRun& run : traces) total += run.trace_id.size();
  order.reserve(total);
  if (!trace_runs_sorted) {
    for (std::uint32_t r = 0; r < traces.size(); ++r) {
      for (std::uint32_t at = 0; at < traces[r].trace_id.size(); ++at) order.push_back({r, at});
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](TracePlace a, TracePlace b) { return trace_id(a) < trace_id(b); });
    return order;
  }
  // The head of each run, with the first 8 bytes of its id as a number that orders as the
  // bytes do (std::string compares bytes as unsigned): most comparisons end there. Of equal
  // ids the earlier record's first.
  struct Head {
    std::uint64_t prefix;
    TracePlace place;
  };
  auto head_at = [&](TracePlace place) {
    const std::string_view id = trace_id(place);
    unsigned char bytes[8] = {};
    std::memcpy(bytes, id.data(), std::min<std::size_t>(id.size(), 8));
    std::uint64_t prefix = 0;
    for (const unsigned char b : bytes) prefix = prefix << 8 | b;
    return Head{prefix, place};
  };
  auto later = [&](const Head& a, const Head& b) {
    if (a.prefix != b.prefix) return a.prefix > b.prefix;
    const int c = trace_id(a.place).compare(trace_id(b.place));
    return c != 0 ? c > 0 : a.place.run > b.place.run;
  };
  std::priority_queue<Head, std::vector<Head>, decltype(later)> heads(later);
  for (std::uint32_t r = 0; r < traces.size(); ++r) {
    if (traces[r].trace_id.size() != 0) heads.push(head_at({r, 0}));
  }
  while (!heads.empty()) {
    TracePlace place = heads.top().place;
    heads.pop();
    order.push_back(place);
    if (++place.at < traces[place.run].trace_id.size()) heads.push(head_at(place));
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
  release(from);
}

}  // namespace

void RecordMerger::Impl::merge_pair(OpAcc& op, CChainStatsKey&& key, CChainStatsValue&& value,
                                    PackedRun&& run) {
  key_bytes.clear();
  encode_bincode(key, key_bytes);
  key_bytes.push_back(value.rooted ? '\1' : '\0');
  const auto [it, fresh] =
      op.pair_index.try_emplace(key_bytes, static_cast<std::uint32_t>(op.pairs.size()));
  if (fresh) op.pairs.emplace_back().key = std::move(key);
  PairAcc& acc = op.pairs[it->second];
  CChainStatsValue& v = acc.value;
  acc.lists.add(std::move(run));
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
}

// What preparing leaves: the record with its lists taken out, its per-trace lists
// gathered, and the packed lists of its methods and pairs in the order add() meets them (the
// order of record.stats, then of each operation's method map and call_chain list).
struct RecordMerger::Prepared::Parts {
  bool matches = false;  // the lists that belong together have the same lengths
  StatsRecJson rest;
  TraceRun traces;
  bool trace_ids_sorted = false;
  std::vector<PackedRun> runs;
  std::uint64_t unsorted_lists = 0;
};

RecordMerger::Prepared::Prepared(StatsRecJson&& record) : parts_(std::make_unique<Parts>()) {
  Parts& p = *parts_;
  p.matches = lists_match(record);
  p.rest = std::move(record);
  record = {};
  if (!p.matches) return;
  StatsRecJson& r = p.rest;
  if (r.trace_id.size() > std::numeric_limits<std::uint32_t>::max()) {
    fatal("more traces in a record than a merge can count");
  }
  p.trace_ids_sorted = std::is_sorted(r.trace_id.begin(), r.trace_id.end());
  TraceRun& run = p.traces;
  run.trace_id = Texts(std::move(r.trace_id));
  run.root_call = Texts(std::move(r.root_call));
  run.num_spans = std::move(r.num_spans);
  run.start_dt = std::move(r.start_dt);
  run.end_dt = std::move(r.end_dt);
  run.duration_micros = std::move(r.duration_micros);
  run.time_to_respond_micros = std::move(r.time_to_respond_micros);
  drop_room(run.num_spans);
  drop_room(run.start_dt);
  drop_room(run.end_dt);
  drop_room(run.duration_micros);
  drop_room(run.time_to_respond_micros);
  auto pack = [&p](Numbers& d, Numbers& s) {
    bool sorted = true;
    p.runs.push_back(Runs::pack(d, s, sorted));
    if (!sorted) ++p.unsorted_lists;
  };
  for (auto& [name, op] : r.stats) {
    for (auto& [method, v] : op.method) pack(v.duration_micros, v.start_dt_micros);
    for (auto& [key, v] : op.call_chain) pack(v.duration_micros, v.start_dt_micros);
  }
}

RecordMerger::Prepared::Prepared(Prepared&&) noexcept = default;
RecordMerger::Prepared& RecordMerger::Prepared::operator=(Prepared&&) noexcept = default;
RecordMerger::Prepared::~Prepared() = default;

bool RecordMerger::add(StatsRecJson&& record) { return add(Prepared(std::move(record))); }

bool RecordMerger::add(Prepared&& prepared) {
  if (!prepared.parts_) fatal("a prepared record was added twice or moved from");
  Prepared::Parts& p = *prepared.parts_;
  if (!p.matches) return false;
  StatsRecJson& record = p.rest;
  Impl& m = *impl_;
  ++counts_.records;
  counts_.unsorted_lists += p.unsorted_lists;
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
  m.trace_runs_sorted = m.trace_runs_sorted && p.trace_ids_sorted;
  if (m.traces.size() == std::numeric_limits<std::uint32_t>::max()) {
    fatal("more records than a merge can count");
  }
  m.traces.push_back(std::move(p.traces));
  append(m.caching_processes, std::move(record.caching_processes));
  std::size_t next_run = 0;
  for (auto& [name, op] : record.stats) {
    OpAcc& acc = m.ops[name];
    acc.num_traces = add_u64(acc.num_traces, op.num_traces);
    acc.received = add_u64(acc.received, op.num_received_calls);
    acc.outbound = add_u64(acc.outbound, op.num_outbound_calls);
    acc.unknown = add_u64(acc.unknown, op.num_unknown_calls);
    for (auto& [method, v] : op.method) {
      MethodAcc& ma = acc.methods[method];
      ma.lists.add(std::move(p.runs[next_run++]));
      ProcOperStatsValue& to = ma.value;
      to.count = add_u64(to.count, v.count);
      to.num_traces = add_u64(to.num_traces, v.num_traces);
      to.num_not_http_ok = add_i32(to.num_not_http_ok, v.num_not_http_ok);
      to.num_with_error_logs = add_i32(to.num_with_error_logs, v.num_with_error_logs);
      add_counts(to.http_not_ok_codes, std::move(v.http_not_ok_codes));
      add_counts(to.error_logs, std::move(v.error_logs));
    }
    for (auto& [key, v] : op.call_chain) {
      m.merge_pair(acc, std::move(key), std::move(v), std::move(p.runs[next_run++]));
    }
  }
  prepared.parts_.reset();
  return true;
}

StatsRecJson RecordMerger::top_record() {
  Impl& m = *impl_;
  StatsRecJson rec;
  rec.version = m.version;
  rec.num_files = m.num_files;
  rec.num_incomplete_traces = m.num_incomplete_traces;
  rec.num_fixes = m.num_fixes;

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
  release(acc.pair_index);
  std::sort(acc.pairs.begin(), acc.pairs.end(), pair_less);
  op.call_chain.reserve(acc.pairs.size());
  for (PairAcc& p : acc.pairs) {
    p.lists.finish(p.value.duration_micros, p.value.start_dt_micros);
    op.call_chain.emplace_back(std::move(p.key), std::move(p.value));
  }
  acc = {};
  return op;
}

// The entries of a map with text keys, in the order of their keys.
template <class V>
std::vector<std::pair<const std::string*, V*>> by_key(HashMap<std::string, V>& map) {
  std::vector<std::pair<const std::string*, V*>> entries;
  entries.reserve(map.size());
  for (auto& [key, value] : map) entries.emplace_back(&key, &value);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return *a.first < *b.first; });
  return entries;
}

// Writes pieces of a statistics file as write_record writes them, into `out`.
struct PieceWriter {
  PieceWriter(bool as_json, detail::SinkOut& into) : json(as_json), out(into) {}
  bool json;
  detail::SinkOut& out;

  bool value(const auto& v) {
    return json ? detail::put_json(v, out, false, 0) : detail::put_bincode(v, out);
  }
  // A record of type T: field(f) writes the value of each field f.
  template <class T, class Field>
  bool record(Field field) {
    std::string& text = out.text;
    if (json) text.push_back('{');
    bool first = true;
    const bool complete = for_each_field<T>([&](const auto& f) {
      if (json) {
        if (!first) text.push_back(',');
        write_json_string(f.name, text);
        text.push_back(':');
      }
      first = false;
      return field(f);
    });
    if (json) text.push_back('}');
    return complete;
  }
  // A map with text keys whose entries are `entries`, in order: put(v) writes each value.
  template <class V, class Put>
  bool text_map(const std::vector<std::pair<const std::string*, V*>>& entries, Put put) {
    std::string& text = out.text;
    if (json) {
      text.push_back('{');
    } else {
      detail::put_le(text, static_cast<std::uint64_t>(entries.size()));
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (json) {
        if (i > 0) text.push_back(',');
        write_json_string(*entries[i].first, text);
        text.push_back(':');
      } else {
        detail::put_bincode(*entries[i].first, out);
      }
      if (!(put(*entries[i].second) && out.more())) return false;
    }
    if (json) text.push_back('}');
    return true;
  }
  // A list of `n` elements: put(i) writes element i.
  template <class Put>
  bool list(std::size_t n, Put put) {
    std::string& text = out.text;
    if (json) {
      text.push_back('[');
    } else {
      detail::put_le(text, static_cast<std::uint64_t>(n));
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (json && i > 0) text.push_back(',');
      if (!(put(i) && out.more())) return false;
    }
    if (json) text.push_back(']');
    return true;
  }
  // One of the two lists of `lists`, in the chunks the writers use between calls of more(),
  // each written straight into room reserved for it. The durations come first; when there are
  // few enough, their starts are kept as the runs are joined, and the list of starts that
  // follows is written from them instead of joining the runs again.
  bool numbers(const Runs& lists, bool starts) {
    std::string& text = out.text;
    if (json) {
      text.push_back('[');
    } else {
      detail::put_le(text, static_cast<std::uint64_t>(lists.size()));
    }
    std::array<std::int64_t, detail::kListChunk> chunk;
    std::size_t n = 0;
    bool any = false;
    bool going = true;
    auto put_chunk = [&] {
      const std::size_t old = text.size();
      text.resize(old + n * (json ? 21 : 8));  // a comma and 20 digits, or 8 bytes
      char* p = text.data() + old;
      for (std::size_t i = 0; i < n; ++i) {
        if (json) {
          if (any || i > 0) *p++ = ',';
          p = std::to_chars(p, p + 20, chunk[i]).ptr;
        } else {
          store_le64(p, static_cast<std::uint64_t>(chunk[i]));
          p += 8;
        }
      }
      text.resize(static_cast<std::size_t>(p - text.data()));
      any = any || n > 0;
      n = 0;
      going = going && out.more();
    };
    auto put = [&](std::int64_t v) {
      chunk[n++] = v;
      if (n == chunk.size()) put_chunk();
    };
    if (starts && kept_for == &lists) {
      for (const std::int64_t start : kept_starts) put(start);
      kept_for = nullptr;
    } else {
      const bool keep = !starts && lists.size() <= kKeptStarts;
      kept_starts.clear();
      lists.for_each([&](std::int64_t start, std::int64_t duration) {
        if (keep) kept_starts.push_back(start);
        put(starts ? start : duration);
      });
      kept_for = keep ? &lists : nullptr;
    }
    if (n > 0) put_chunk();
    if (json) text.push_back(']');
    return going;
  }
  static constexpr std::size_t kKeptStarts = std::size_t{1} << 18;
  const Runs* kept_for = nullptr;
  std::vector<std::int64_t> kept_starts;
  // A method's or pair's value `v`, whose durations and starts are in `lists`.
  template <class V>
  bool with_lists(const V& v, const Runs& lists) {
    return record<V>([&](const auto& f) {
      if (detail::is_member<&V::duration_micros>(f.member)) return numbers(lists, false);
      if (detail::is_member<&V::start_dt_micros>(f.member)) return numbers(lists, true);
      return value(f.of(v));
    });
  }
};

// Writes the merged operation of `acc` as write_record writes an operation, each pair's and
// method's lists straight from their runs, and frees each as it is written; `acc` is left
// empty. False when a write failed.
bool put_operation(OpAcc& acc, PieceWriter& w) {
  using detail::is_member;
  OperationStatsJson shell;
  shell.num_traces = acc.num_traces;
  shell.num_received_calls = acc.received;
  shell.num_outbound_calls = acc.outbound;
  shell.num_unknown_calls = acc.unknown;
  const bool complete = w.record<OperationStatsJson>([&](const auto& f) {
    if (is_member<&OperationStatsJson::method>(f.member)) {
      return w.text_map(by_key(acc.methods), [&](MethodAcc& ma) {
        const bool written = w.with_lists(ma.value, ma.lists);
        release(ma.lists.runs);
        return written;
      });
    }
    if (is_member<&OperationStatsJson::call_chain>(f.member)) {
      release(acc.pair_index);
      std::sort(acc.pairs.begin(), acc.pairs.end(), pair_less);
      return w.list(acc.pairs.size(), [&](std::size_t i) {
        PairAcc& p = acc.pairs[i];
        std::string& text = w.out.text;
        if (w.json) text.push_back('[');
        if (!w.value(p.key)) return false;
        if (w.json) text.push_back(',');
        const bool written = w.with_lists(p.value, p.lists);
        if (w.json) text.push_back(']');
        release(p.lists.runs);
        return written;
      });
    }
    return w.value(f.of(shell));
  });
  acc = {};
  return complete;
}

}  // namespace

std::vector<TracePlace> RecordMerger::Impl::counted_trace_order(MergeCounts& counts) const {
  std::vector<TracePlace> order = trace_order();
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (trace_id(order[i]) == trace_id(order[i - 1])) ++counts.shared_trace_ids;
  }
  return order;
}

StatsRecJson RecordMerger::finish() {
  StatsRecJson rec = top_record();
  Impl& m = *impl_;
  for (const TracePlace p : m.counted_trace_order(counts_)) {
    const TraceRun& run = m.traces[p.run];
    rec.trace_id.emplace_back(run.trace_id[p.at]);
    rec.root_call.emplace_back(run.root_call[p.at]);
    rec.num_spans.push_back(run.num_spans[p.at]);
    rec.start_dt.push_back(run.start_dt[p.at]);
    rec.end_dt.push_back(run.end_dt[p.at]);
    rec.duration_micros.push_back(run.duration_micros[p.at]);
    rec.time_to_respond_micros.push_back(run.time_to_respond_micros[p.at]);
  }
  for (auto& [name, acc] : impl_->ops) rec.stats.emplace(name, take_operation(acc));
  impl_ = std::make_unique<Impl>();
  return rec;
}

bool RecordMerger::finish_into(Sink& sink, Encoding encoding) {
  const StatsRecJson top = top_record();
  const std::vector<TracePlace> traces = impl_->counted_trace_order(counts_);
  detail::SinkOut out(sink);
  PieceWriter w{encoding == Encoding::Json, out};
  // A per-trace list, its entries in trace id order: `of(run, at)` is one.
  auto trace_list = [&](auto of) {
    return w.list(traces.size(), [&](std::size_t i) {
      return w.value(of(impl_->traces[traces[i].run], traces[i].at));
    });
  };
  // Every field as write_record writes it, but the per-trace lists straight from the inputs'
  // runs, and `stats` an operation at a time, each merged when it is written and dropped after.
  const bool complete = w.record<StatsRecJson>([&](const auto& f) {
    using detail::is_member;
    if constexpr (std::is_same_v<decltype(f.member), decltype(&StatsRecJson::stats)>) {
      return w.text_map(by_key(impl_->ops), [&](OpAcc& acc) { return put_operation(acc, w); });
    } else {
      if (is_member<&StatsRecJson::trace_id>(f.member)) {
        return trace_list([](const TraceRun& r, std::uint32_t at) { return r.trace_id[at]; });
      }
      if (is_member<&StatsRecJson::root_call>(f.member)) {
        return trace_list([](const TraceRun& r, std::uint32_t at) { return r.root_call[at]; });
      }
      if (is_member<&StatsRecJson::num_spans>(f.member)) {
        return trace_list([](const TraceRun& r, std::uint32_t at) { return r.num_spans[at]; });
      }
      if (is_member<&StatsRecJson::start_dt>(f.member)) {
        return trace_list([](const TraceRun& r, std::uint32_t at) { return r.start_dt[at]; });
      }
      if (is_member<&StatsRecJson::end_dt>(f.member)) {
        return trace_list([](const TraceRun& r, std::uint32_t at) { return r.end_dt[at]; });
      }
      if (is_member<&StatsRecJson::duration_micros>(f.member)) {
        return trace_list(
            [](const TraceRun& r, std::uint32_t at) { return r.duration_micros[at]; });
      }
      if (is_member<&StatsRecJson::time_to_respond_micros>(f.member)) {
        return trace_list(
            [](const TraceRun& r, std::uint32_t at) { return r.time_to_respond_micros[at]; });
      }
      return w.value(f.of(top)) && out.more();
    }
  });
  impl_ = std::make_unique<Impl>();
  if (!complete) return false;
  if (w.json) out.text += "\n";
  return out.flush();
}

}  // namespace tracemill
