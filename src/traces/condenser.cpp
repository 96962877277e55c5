#include "traces/condenser.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

#include "base/fatal.h"
#include "base/id_index.h"
#include "stats/file/record_writer.h"

namespace tracemill {
namespace {

constexpr std::int64_t kNoStart = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint8_t kLongId = 0xFF;  // the id is an index into the long ids

// Texts interned once each: names, services, peers, error logs, operations. Id 0 is "".
class TextTable {
 public:
  TextTable() { intern(""); }
  std::uint32_t intern(std::string_view text) {
    auto found = ids_.find(text);
    if (found != ids_.end()) return found->second;
    if (texts_.size() >= kNone) fatal("more distinct texts than condensing can count");
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.emplace_back(text);
    ids_.emplace(std::string_view(texts_.back()), id);
    return id;
  }
  const std::string& operator[](std::uint32_t id) const { return texts_[id]; }
  std::size_t size() const { return texts_.size(); }

 private:
  std::deque<std::string> texts_;  // stable: the map's keys view them
  HashMap<std::string_view, std::uint32_t> ids_;
};

// A span as kept until the end: 64 bytes. Ids of up to 16 hex digits are kept as their value
// and length (leading zeros count); longer ones as an index into the long ids.
struct StoredIds {
  std::uint64_t id;
  std::uint64_t parent;
};
struct StoredOut {
  std::uint32_t pair;  // kNone: merged into another fragment
  std::uint32_t method;
  std::uint32_t seq;  // the place of (trace id, span id) among all spans
  std::uint32_t unused;
};
struct StoredSpan {
  std::uint32_t trace;
  std::uint32_t service;
  std::uint32_t name;
  std::uint32_t peer;
  // Until the trace is condensed: the ids. Afterwards: where the span's figures go.
  union {
    StoredIds ids;
    StoredOut out;
  };
  std::int64_t start;  // kNoStart when the span has none
  std::int64_t duration;
  std::int32_t http;
  std::uint32_t errors;  // index into the error log lists; 0: none
  std::uint8_t id_len;
  std::uint8_t parent_len;  // 0: no parent
  SpanKind kind;
  bool failed;
};
static_assert(sizeof(StoredSpan) == 64);

// Spans in blocks, so that the store never moves or doubles.
class SpanStore {
 public:
  static constexpr std::size_t kBlock = 4096;
  std::size_t size() const { return size_; }
  StoredSpan& operator[](std::size_t i) { return blocks_[i / kBlock][i % kBlock]; }
  const StoredSpan& operator[](std::size_t i) const { return blocks_[i / kBlock][i % kBlock]; }
  StoredSpan& push() {
    if (size_ % kBlock == 0) blocks_.push_back(std::make_unique<StoredSpan[]>(kBlock));
    return (*this)[size_++];
  }
  void clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    size_ = 0;
  }

 private:
  std::vector<std::unique_ptr<StoredSpan[]>> blocks_;
  std::size_t size_ = 0;
};

// The hex digits of an id; `longs` holds the ids longer than 16 digits.
std::string_view id_text(std::uint64_t value, std::uint8_t len,
                         const std::deque<std::string>& longs, char (&buf)[16]) {
  if (len == kLongId) return longs[value];
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = len - 1; i >= 0; --i) {
    buf[i] = kHex[value & 0xF];
    value >>= 4;
  }
  return {buf, len};
}

CallDirection direction_of(SpanKind kind) {
  switch (kind) {
    case SpanKind::Server:
    case SpanKind::Consumer:
      return CallDirection::Inbound;
    case SpanKind::Client:
    case SpanKind::Producer:
      return CallDirection::Outbound;
    default:
      return CallDirection::Unknown;
  }
}

bool calls_out(SpanKind kind) { return kind == SpanKind::Client || kind == SpanKind::Producer; }

// The figures of a pair or a method: spans are fewer than 2^32 (Condenser::add), and the maps
// exist only once a span has an entry for them, as few do.
struct Figures {
  std::uint32_t count = 0;
  std::uint32_t failed = 0;
  std::uint32_t with_error_logs = 0;
  std::uint32_t with_start = 0;
  struct Maps {
    HashMap<std::int16_t, std::uint64_t> http;     // per status of at least 400
    HashMap<std::uint32_t, std::uint64_t> errors;  // per error log text
  };
  std::unique_ptr<Maps> maps;
  Maps& entries() {
    if (!maps) maps = std::make_unique<Maps>();
    return *maps;
  }
  HashMap<std::int16_t, std::uint64_t> http_counts() const {
    return maps ? maps->http : HashMap<std::int16_t, std::uint64_t>{};
  }
};

// a + b, held within the i64 range.
std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b) {
    return std::numeric_limits<std::int64_t>::max();
  }
  if (b < 0 && a < std::numeric_limits<std::int64_t>::min() + 1 - b) {
    return std::numeric_limits<std::int64_t>::min() + 1;
  }
  return a + b;
}

// a - b, held within the i64 range: the time from b to a, however far apart.
std::int64_t saturating_sub(std::int64_t a, std::int64_t b) {
  std::int64_t difference = 0;
  if (!__builtin_sub_overflow(a, b, &difference)) return difference;
  return a > b ? std::numeric_limits<std::int64_t>::max()
               : std::numeric_limits<std::int64_t>::min() + 1;
}

struct PairAcc {
  std::uint32_t node;  // the chain, a node of the chain trie
  bool leaf;
  bool rooted;
  std::uint32_t op;  // text id of the operation
  Figures figures;
};

struct MethodAcc {
  std::uint32_t op;
  std::uint32_t text;  // "process/method" of the span's own call
  std::uint32_t last_trace = kNone;
  std::uint64_t traces = 0;
  Figures figures;
};

struct OpAcc {
  std::uint32_t op;  // text id of the operation
  std::uint64_t roots = 0;
  std::uint64_t by_direction[3] = {0, 0, 0};
};

struct TraceOut {
  std::uint32_t trace;  // index of the id text
  std::uint32_t root_call;
  std::uint64_t spans;
  std::int64_t start, end, respond;
};

}  // namespace

struct Condenser::Impl {
  bool virtual_peers;
  TextTable texts;
  std::deque<std::string> trace_ids;
  HashMap<std::string_view, std::uint32_t> trace_index;
  std::deque<std::string> long_ids;
  HashMap<std::string_view, std::uint32_t> long_index;
  std::vector<std::vector<std::uint32_t>> error_lists{1};
  SpanStore spans;

  // The chain trie: node 0 is the empty chain; node n is its parent's chain and one call.
  struct Call3 {
    std::uint32_t process, method;
    CallDirection direction;
    std::uint32_t text;  // "process/method"
  };
  std::vector<Call3> calls;
  IdIndex call_index[3];
  struct Node {
    std::uint32_t parent, call;
    // The pairs of this chain by (leaf, rooted): index 2 * leaf + rooted.
    std::uint32_t pair[4] = {kNone, kNone, kNone, kNone};
  };
  std::vector<Node> nodes{Node{kNone, kNone}};
  IdIndex node_index;
  IdIndex call_text;  // (process, method) -> "process/method"

  std::vector<PairAcc> pairs;
  std::vector<MethodAcc> methods;
  IdIndex method_index;
  std::vector<OpAcc> ops;
  IdIndex op_index;
  std::vector<TraceOut> traces_out;
  std::uint32_t next_seq = 0;
  std::uint32_t last_trace = kNone, last_service = kNone;  // of the span added last
  std::uint64_t incomplete = 0;
  std::vector<std::uint32_t> trace_order;  // the trace ids' indices in the order of their texts

  // A span on the way down a chain: its call, its chain, and the chain's operation.
  struct Step {
    std::uint32_t span, call, node, depth, op, op_acc;
    bool rooted;
  };
  // The working memory of condense_trace, kept from one trace to the next.
  struct Scratch {
    std::vector<std::uint32_t> parent, path, first_child, children, fill, pair_of, method_of;
    std::vector<std::uint8_t> unrooted, state;
    std::vector<Step> stack;
  } scratch;

  explicit Impl(bool peers) : virtual_peers(peers) {}

  void store_id(std::string_view hex, std::uint64_t& value, std::uint8_t& len) {
    if (hex.size() <= 16) {
      std::uint64_t v = 0;
      for (char c : hex) v = v << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
      value = v;
      len = static_cast<std::uint8_t>(hex.size());
      return;
    }
    auto found = long_index.find(hex);
    if (found == long_index.end()) {
      long_ids.emplace_back(hex);
      found = long_index
                  .emplace(std::string_view(long_ids.back()),
                           static_cast<std::uint32_t>(long_ids.size() - 1))
                  .first;
    }
    value = found->second;
    len = kLongId;
  }

  std::string_view id_of(std::uint64_t v, std::uint8_t len, char (&buf)[16]) const {
    return id_text(v, len, long_ids, buf);
  }
  // Compares two ids as texts.
  int compare_ids(std::uint64_t a, std::uint8_t alen, std::uint64_t b, std::uint8_t blen) const {
    char ba[16], bb[16];
    return id_of(a, alen, ba).compare(id_of(b, blen, bb));
  }

  std::uint32_t call_of(std::uint32_t process, std::uint32_t method, CallDirection d) {
    const std::uint64_t key = std::uint64_t{process} << 32 | method;
    const auto [id, added] =
        call_index[static_cast<int>(d)].try_emplace(key, static_cast<std::uint32_t>(calls.size()));
    if (added) calls.push_back({process, method, d, text_of_call(process, method)});
    return id;
  }
  std::uint32_t child_node(std::uint32_t parent, std::uint32_t call) {
    const std::uint64_t key = std::uint64_t{parent} << 32 | call;
    if (nodes.size() >= kNone) fatal("more distinct call chains than condensing can count");
    const auto [id, added] = node_index.try_emplace(key, static_cast<std::uint32_t>(nodes.size()));
    if (added) nodes.push_back(Node{parent, call});
    return id;
  }
  std::uint32_t text_of_call(std::uint32_t process, std::uint32_t method) {
    const std::uint64_t key = std::uint64_t{process} << 32 | method;
    const std::uint32_t known = call_text.find(key);
    if (known != IdIndex::kFree) return known;
    std::string text = texts[process];
    text += '/';
    text += texts[method];
    const std::uint32_t id = texts.intern(text);
    call_text.try_emplace(key, id);
    return id;
  }

  // Orders spans by id (as texts), then kind, then service (as texts): the order of the
  // lookups, of the places in the lists, and of every tie.
  bool id_less(const StoredSpan& a, const StoredSpan& b) const {
    if (a.id_len == b.id_len && a.id_len != kLongId) return a.ids.id < b.ids.id;
    return compare_ids(a.ids.id, a.id_len, b.ids.id, b.id_len) < 0;
  }
  bool span_less(const StoredSpan& a, const StoredSpan& b) const {
    if (id_less(a, b)) return true;
    if (id_less(b, a)) return false;
    if (a.kind != b.kind) return a.kind < b.kind;
    return texts[a.service] < texts[b.service];
  }
  // Earliest start first, spans without one last, then span_less.
  bool earlier(const StoredSpan& a, const StoredSpan& b) const {
    const bool ha = a.start != kNoStart, hb = b.start != kNoStart;
    if (ha != hb) return ha;
    if (a.start != b.start) return a.start < b.start;
    return span_less(a, b);
  }

  void condense_trace(std::uint32_t rank, std::vector<std::uint32_t>& local,
                      CondenseCounts& counts);
  void merge_fragments(std::vector<std::uint32_t>& local, CondenseCounts& counts);
  void merge_into(StoredSpan& into, const StoredSpan& from);
  void count(Figures& f, const StoredSpan& s, bool failed, std::int32_t http);
  // The calls of a chain of the trie.
  std::vector<Call> chain_of(std::uint32_t node) const;
  // The same into `chain`, reusing the memory of its calls.
  void chain_into(std::uint32_t node, std::vector<Call>& chain) const;
  // The record without its pairs and methods: those are built one at a time, pair_value()
  // and method_value() of the pairs and methods op_parts names per operation, in order.
  StatsRecJson top_record(std::int32_t inputs);
  // Writes `rec`, the top record, with its pairs and methods, as write_record would.
  bool write(Sink& sink, const StatsRecJson& rec, Encoding encoding);
  CChainStatsValue pair_value(std::uint32_t p);
  ProcOperStatsValue method_value(std::uint32_t m) const;
  HashMap<std::string, std::uint64_t> error_texts(const Figures& f) const;
  // The durations and starts of the spans of `group`, members[first[group]..first[group+1]).
  void fill_lists(const std::vector<std::uint32_t>& first,
                  const std::vector<std::uint32_t>& members, std::uint32_t group,
                  std::vector<std::int64_t>& durations, std::vector<std::int64_t>& starts) const;

  struct OpParts {
    std::vector<std::uint32_t> pairs;    // in the order of the list
    std::vector<std::uint32_t> methods;  // in the order of their texts
  };
  HashMap<std::string, OpParts> op_parts;
  std::vector<std::uint32_t> pair_order;
  std::vector<std::uint32_t> pair_first, pair_spans, method_first, method_spans;
  // Per text id, the last pair whose chain holds it as a process, and the last that found it
  // looped: each chain is walked once, whatever its length.
  std::vector<std::uint32_t> seen_in, looped_in, chain_path;
};

Condenser::Condenser(bool virtual_peers) : impl_(std::make_unique<Impl>(virtual_peers)) {}
Condenser::~Condenser() = default;

void Condenser::add(const Span& span) {
  Impl& m = *impl_;
  ++counts_.spans;
  if (m.spans.size() >= kNone - 1) fatal("more spans than condensing can count");
  StoredSpan& s = m.spans.push();
  // Spans of one trace and one service mostly come together: the last ones are kept at hand.
  if (m.last_trace == kNone || span.trace_id != m.trace_ids[m.last_trace]) {
    auto found = m.trace_index.find(span.trace_id);
    if (found == m.trace_index.end()) {
      m.trace_ids.emplace_back(span.trace_id);
      found = m.trace_index
                  .emplace(std::string_view(m.trace_ids.back()),
                           static_cast<std::uint32_t>(m.trace_ids.size() - 1))
                  .first;
    }
    m.last_trace = found->second;
  }
  s.trace = m.last_trace;
  const std::string_view service = span.service.empty() ? kUnknownService : span.service;
  if (m.last_service == kNone || service != m.texts[m.last_service]) {
    m.last_service = m.texts.intern(service);
  }
  s.service = m.last_service;
  s.name = m.texts.intern(span.name);
  s.peer = span.peer.empty() ? 0 : m.texts.intern(span.peer);
  m.store_id(span.span_id, s.ids.id, s.id_len);
  s.ids.parent = 0;
  s.parent_len = 0;
  if (!span.parent_id.empty()) m.store_id(span.parent_id, s.ids.parent, s.parent_len);
  s.start = span.start_micros ? std::max(*span.start_micros, kNoStart + 1) : kNoStart;
  s.duration = span.duration_micros;
  s.http =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(span.http_status, INT32_MIN, INT32_MAX));
  s.failed = span.failed || span.http_status >= 400;
  s.kind = span.kind;
  s.errors = 0;
  if (!span.error_logs.empty()) {
    std::vector<std::uint32_t> list;
    list.reserve(span.error_logs.size());
    for (const std::string& text : span.error_logs) list.push_back(m.texts.intern(text));
    std::sort(list.begin(), list.end());
    s.errors = static_cast<std::uint32_t>(m.error_lists.size());
    m.error_lists.push_back(std::move(list));
  }
}

void Condenser::Impl::merge_into(StoredSpan& into, const StoredSpan& from) {
  if (from.start != kNoStart) {
    const std::int64_t from_end = saturating_add(from.start, from.duration);
    if (into.start == kNoStart) {
      into.start = from.start;
      into.duration = from.duration;
    } else {
      const std::int64_t end = std::max(saturating_add(into.start, into.duration), from_end);
      into.start = std::min(into.start, from.start);
      into.duration = saturating_sub(end, into.start);
    }
  } else if (into.start == kNoStart) {
    into.duration = std::max(into.duration, from.duration);
  }
  auto first_text = [&](std::uint32_t& a, std::uint32_t b) {
    if (b != 0 && (a == 0 || texts[b] < texts[a])) a = b;
  };
  first_text(into.name, from.name);
  first_text(into.peer, from.peer);
  if (from.parent_len != 0 &&
      (into.parent_len == 0 ||
       compare_ids(from.ids.parent, from.parent_len, into.ids.parent, into.parent_len) < 0)) {
    into.ids.parent = from.ids.parent;
    into.parent_len = from.parent_len;
  }
  into.failed = into.failed || from.failed;
  into.http = std::max(into.http, from.http);
  if (from.errors != 0) {
    if (into.errors == 0) {
      into.errors = from.errors;
    } else if (into.errors != from.errors) {
      // Each text as often as the fragment that has it most often: the union of two sorted
      // multisets that keeps the larger count.
      const std::vector<std::uint32_t>& a = error_lists[into.errors];
      const std::vector<std::uint32_t>& b = error_lists[from.errors];
      std::vector<std::uint32_t> both;
      std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
      error_lists[into.errors] = std::move(both);
    }
  }
}

void Condenser::Impl::merge_fragments(std::vector<std::uint32_t>& local, CondenseCounts& counts) {
  std::sort(local.begin(), local.end(), [&](std::uint32_t x, std::uint32_t y) {
    const StoredSpan& a = spans[x];
    const StoredSpan& b = spans[y];
    if (a.id_len != b.id_len) return a.id_len < b.id_len;
    if (a.ids.id != b.ids.id) return a.ids.id < b.ids.id;
    if (a.service != b.service) return a.service < b.service;
    return a.kind < b.kind;
  });
  std::size_t kept = 0;
  for (std::size_t lo = 0; lo < local.size();) {
    // One id and service: the fragments of each kind merge; those without a kind join the
    // server side when there is one, else the first kind.
    const StoredSpan& first = spans[local[lo]];
    std::size_t hi = lo + 1;
    while (hi < local.size()) {
      const StoredSpan& s = spans[local[hi]];
      if (s.id_len != first.id_len || s.ids.id != first.ids.id || s.service != first.service) break;
      ++hi;
    }
    std::size_t kinded = lo;
    while (kinded < hi && spans[local[kinded]].kind == SpanKind::Absent) ++kinded;
    std::size_t absent_target = kinded < hi ? kinded : lo;
    for (std::size_t k = kinded; k < hi; ++k) {
      if (spans[local[k]].kind == SpanKind::Server) {
        absent_target = k;
        break;
      }
    }
    // Merge the fragments without a kind, then the runs of one kind, into their first span;
    // the spans kept move to the front only afterwards.
    for (std::size_t f = lo; f < kinded; ++f) {
      if (f == absent_target) continue;
      merge_into(spans[local[absent_target]], spans[local[f]]);
      spans[local[f]].out.pair = kNone;
      ++counts.fragments_merged;
    }
    if (absent_target < kinded) local[kept++] = local[absent_target];
    for (std::size_t k = kinded; k < hi;) {
      std::size_t end = k + 1;
      while (end < hi && spans[local[end]].kind == spans[local[k]].kind) ++end;
      for (std::size_t f = k + 1; f < end; ++f) {
        merge_into(spans[local[k]], spans[local[f]]);
        spans[local[f]].out.pair = kNone;
        ++counts.fragments_merged;
      }
      local[kept++] = local[k];
      k = end;
    }
    lo = hi;
  }
  local.resize(kept);
}

void Condenser::Impl::count(Figures& f, const StoredSpan& s, bool failed, std::int32_t http) {
  ++f.count;
  if (failed) ++f.failed;
  if (s.start != kNoStart) ++f.with_start;
  if (http >= 400 && http <= std::numeric_limits<std::int16_t>::max()) {
    ++f.entries().http[static_cast<std::int16_t>(http)];
  }
  if (s.errors != 0) {
    ++f.with_error_logs;
    for (std::uint32_t text : error_lists[s.errors]) ++f.entries().errors[text];
  }
}

void Condenser::Impl::condense_trace(std::uint32_t rank, std::vector<std::uint32_t>& local,
                                     CondenseCounts& counts) {
  merge_fragments(local, counts);
  std::sort(local.begin(), local.end(),
            [&](std::uint32_t x, std::uint32_t y) { return span_less(spans[x], spans[y]); });
  const std::size_t n = local.size();
  constexpr std::uint32_t kNoParent = kNone;

  // The span an id names: its server side when it has one, else its first (by kind, service).
  auto group = [&](std::uint64_t id, std::uint8_t len) {
    StoredSpan probe{};
    probe.ids.id = id;
    probe.id_len = len;
    auto lo = std::lower_bound(
        local.begin(), local.end(), probe,
        [&](std::uint32_t x, const StoredSpan& p) { return id_less(spans[x], p); });
    auto hi = lo;
    while (hi != local.end() && !id_less(probe, spans[*hi])) ++hi;
    return std::pair{static_cast<std::size_t>(lo - local.begin()),
                     static_cast<std::size_t>(hi - local.begin())};
  };
  auto first_of_kind = [&](std::pair<std::size_t, std::size_t> g, SpanKind kind) {
    for (std::size_t k = g.first; k < g.second; ++k) {
      if (spans[local[k]].kind == kind) return static_cast<std::uint32_t>(k);
    }
    return kNoParent;
  };

  std::vector<std::uint32_t>& parent = scratch.parent;
  std::vector<std::uint8_t>& unrooted = scratch.unrooted;
  parent.assign(n, kNoParent);
  unrooted.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const StoredSpan& s = spans[local[i]];
    if (s.kind == SpanKind::Server) {
      // Both sides of one call under one id: the server side is the client side's child.
      const std::uint32_t client = first_of_kind(group(s.ids.id, s.id_len), SpanKind::Client);
      if (client != kNoParent) {
        parent[i] = client;
        continue;
      }
    }
    if (s.parent_len == 0) continue;
    auto g = group(s.ids.parent, s.parent_len);
    if (g.first == g.second) {
      unrooted[i] = 1;  // the parent was lost
      continue;
    }
    const std::uint32_t server = first_of_kind(g, SpanKind::Server);
    parent[i] = server != kNoParent ? server : static_cast<std::uint32_t>(g.first);
  }

  // Cycles of parent links: each broken at its earliest span, which becomes an unrooted root.
  {
    std::vector<std::uint8_t>& state = scratch.state;  // 0 unseen, 1 on the current path, 2 done
    std::vector<std::uint32_t>& path = scratch.path;
    state.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      if (state[i] != 0) continue;
      path.clear();
      std::uint32_t j = static_cast<std::uint32_t>(i);
      while (j != kNoParent && state[j] == 0) {
        state[j] = 1;
        path.push_back(j);
        j = parent[j];
      }
      if (j != kNoParent && state[j] == 1) {
        std::size_t at = path.size();
        while (path[at - 1] != j) --at;
        std::uint32_t cut = path[at - 1];
        for (std::size_t k = at; k < path.size(); ++k) {
          if (earlier(spans[local[path[k]]], spans[local[cut]])) cut = path[k];
        }
        parent[cut] = kNoParent;
        unrooted[cut] = 1;
        ++counts.cycles_broken;
      }
      for (std::uint32_t p : path) state[p] = 2;
    }
  }

  // Children, as ranges of one array.
  std::vector<std::uint32_t>& first_child = scratch.first_child;
  first_child.assign(n + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (parent[i] != kNoParent) ++first_child[parent[i] + 1];
  }
  for (std::size_t i = 0; i < n; ++i) first_child[i + 1] += first_child[i];
  std::vector<std::uint32_t>& children = scratch.children;
  children.resize(first_child[n]);
  {
    std::vector<std::uint32_t>& fill = scratch.fill;
    fill.assign(first_child.begin(), first_child.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
      if (parent[i] != kNoParent) children[fill[parent[i]]++] = static_cast<std::uint32_t>(i);
    }
  }

  // The trace's own figures, and its earliest root.
  TraceOut out{rank, 0, n, 0, 0, 0};
  bool any_start = false;
  std::uint32_t earliest = kNoParent;
  bool incomplete_trace = false;
  for (std::size_t i = 0; i < n; ++i) {
    const StoredSpan& s = spans[local[i]];
    if (s.start != kNoStart) {
      const std::int64_t end = saturating_add(s.start, s.duration);
      out.start = any_start ? std::min(out.start, s.start) : s.start;
      out.end = any_start ? std::max(out.end, end) : end;
      any_start = true;
    } else {
      ++counts.without_start;
    }
    if (parent[i] == kNoParent) {
      if (unrooted[i]) incomplete_trace = true;
      if (earliest == kNoParent || earlier(s, spans[local[earliest]])) {
        earliest = static_cast<std::uint32_t>(i);
      }
    }
  }
  out.start = any_start ? out.start : 0;
  out.end = any_start ? out.end : 0;

  // Every chain, walked down from the roots without recursion.
  std::vector<Step>& stack = scratch.stack;
  std::vector<std::uint32_t>& pair_of = scratch.pair_of;
  std::vector<std::uint32_t>& method_of = scratch.method_of;
  pair_of.assign(n, 0);
  method_of.assign(n, 0);
  auto call_of_span = [&](const StoredSpan& s) {
    return call_of(s.service, s.name, direction_of(s.kind));
  };
  auto begin_chain = [&](std::uint32_t i, bool rooted) {
    const std::uint32_t call = call_of_span(spans[local[i]]);
    const std::uint32_t op = calls[call].text;
    const auto [acc, added] = op_index.try_emplace(op, static_cast<std::uint32_t>(ops.size()));
    if (added) ops.push_back({op});
    ++ops[acc].roots;
    stack.push_back({i, call, child_node(0, call), 1, op, acc, rooted});
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (parent[i] == kNoParent) begin_chain(static_cast<std::uint32_t>(i), !unrooted[i]);
    if (i == earliest) out.root_call = calls[call_of_span(spans[local[i]])].text;
    while (!stack.empty()) {
      const Step step = stack.back();
      stack.pop_back();
      const StoredSpan& s = spans[local[step.span]];
      const bool leaf = first_child[step.span] == first_child[step.span + 1];
      std::uint32_t node = step.node;
      if (leaf && virtual_peers && calls_out(s.kind) && s.peer != 0 && s.peer != s.service &&
          step.depth < kMaxChainCalls) {
        node = child_node(node, call_of(s.peer, s.name, CallDirection::Inbound));
      }
      // A request fails when either side saw it fail.
      bool failed = s.failed;
      std::int32_t http = s.http;
      if (parent[step.span] != kNoParent) {
        const StoredSpan& p = spans[local[parent[step.span]]];
        if (calls_out(p.kind) && p.service != s.service) {
          failed = failed || p.failed;
          if (http == 0) http = p.http;
        }
      }
      std::uint32_t& pair_at = nodes[node].pair[(leaf ? 2 : 0) + (step.rooted ? 1 : 0)];
      if (pair_at == kNone) {
        pair_at = static_cast<std::uint32_t>(pairs.size());
        pairs.push_back({node, leaf, step.rooted, step.op, {}});
      }
      const std::uint32_t pair_index = pair_at;
      count(pairs[pair_index].figures, s, failed, http);
      const std::uint32_t own = calls[step.call].text;
      const std::uint64_t method_key = std::uint64_t{step.op} << 32 | own;
      const auto [method_at, new_method] =
          method_index.try_emplace(method_key, static_cast<std::uint32_t>(methods.size()));
      if (new_method) methods.push_back({step.op, own, kNone, 0, {}});
      MethodAcc& method = methods[method_at];
      if (method.last_trace != rank) {
        method.last_trace = rank;
        ++method.traces;
      }
      count(method.figures, s, failed, http);
      ++ops[step.op_acc].by_direction[static_cast<int>(direction_of(s.kind))];
      pair_of[step.span] = pair_index;
      method_of[step.span] = method_at;
      for (std::uint32_t c = first_child[step.span]; c < first_child[step.span + 1]; ++c) {
        const std::uint32_t child = children[c];
        if (step.depth == kMaxChainCalls) {
          ++counts.chains_cut;
          incomplete_trace = true;
          begin_chain(child, false);
          continue;
        }
        const std::uint32_t call = call_of_span(spans[local[child]]);
        stack.push_back({child, call, child_node(step.node, call), step.depth + 1, step.op,
                         step.op_acc, step.rooted});
      }
    }
  }
  out.respond = spans[local[earliest]].duration;
  if (incomplete_trace) ++incomplete;
  traces_out.push_back(out);
  // The ids are no longer needed: the span now says where its figures went.
  for (std::size_t i = 0; i < n; ++i) {
    StoredSpan& s = spans[local[i]];
    s.out.pair = pair_of[i];
    s.out.method = method_of[i];
    s.out.seq = next_seq++;
  }
}

void Condenser::condense_traces() {
  Impl& m = *impl_;
  const auto n_traces = static_cast<std::uint32_t>(m.trace_ids.size());
  std::vector<std::uint32_t> order(n_traces);
  for (std::uint32_t t = 0; t < n_traces; ++t) order[t] = t;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return m.trace_ids[a] < m.trace_ids[b]; });
  {
    // The spans of each trace, trace by trace in the order of their ids.
    std::vector<std::uint32_t> rank(n_traces);
    for (std::uint32_t r = 0; r < n_traces; ++r) rank[order[r]] = r;
    std::vector<std::uint32_t> first(n_traces + 1, 0);
    for (std::size_t i = 0; i < m.spans.size(); ++i) ++first[rank[m.spans[i].trace] + 1];
    for (std::uint32_t r = 0; r < n_traces; ++r) first[r + 1] += first[r];
    std::vector<std::uint32_t> by_trace(m.spans.size());
    {
      std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
      for (std::size_t i = 0; i < m.spans.size(); ++i) {
        by_trace[fill[rank[m.spans[i].trace]]++] = static_cast<std::uint32_t>(i);
      }
    }
    std::vector<std::uint32_t> local;
    for (std::uint32_t r = 0; r < n_traces; ++r) {
      local.assign(by_trace.begin() + first[r], by_trace.begin() + first[r + 1]);
      m.condense_trace(r, local, counts_);
    }
  }
  m.trace_order = std::move(order);
  // What only the condensing of traces looks up goes before the lists are ordered.
  auto release = [](auto& x) { x = std::remove_reference_t<decltype(x)>(); };
  release(m.node_index);
  release(m.method_index);
  release(m.op_index);
  release(m.call_text);
  for (auto& index : m.call_index) release(index);
  release(m.long_index);
  release(m.long_ids);
  release(m.trace_index);
  m.scratch = {};
}

void Condenser::reset() {
  impl_ = std::make_unique<Impl>(impl_->virtual_peers);
  inputs_ = 0;
}

StatsRecJson Condenser::finish() {
  condense_traces();
  Impl& m = *impl_;
  StatsRecJson rec = m.top_record(inputs_);
  for (const auto& [op, parts] : m.op_parts) {
    OperationStatsJson& o = rec.stats[op];
    o.call_chain.reserve(parts.pairs.size());
    for (std::uint32_t p : parts.pairs) {
      o.call_chain.emplace_back(CChainStatsKey{m.chain_of(m.pairs[p].node), "", m.pairs[p].leaf},
                                m.pair_value(p));
    }
    for (std::uint32_t k : parts.methods) o.method[m.texts[m.methods[k].text]] = m.method_value(k);
  }
  reset();
  return rec;
}

bool Condenser::Impl::write(Sink& sink, const StatsRecJson& rec, Encoding encoding) {
  using detail::put_bincode;
  using detail::put_json;
  using detail::put_le;
  detail::SinkOut out(sink);
  out.text.reserve(detail::SinkOut::kFlushSize + detail::kListChunk * 21);
  std::string& text = out.text;
  const bool json = encoding == Encoding::Json;
  auto count = [&](std::size_t n) { put_le(text, static_cast<std::uint64_t>(n)); };
  // An element of a map or list; `first` tells whether a comma goes before it.
  auto key = [&](bool first, std::string_view name) {
    if (json) {
      if (!first) text.push_back(',');
      write_json_string(name, text);
      text.push_back(':');
    } else {
      put_bincode(name, out);
    }
  };
  auto value = [&](const auto& v) {
    return (json ? put_json(v, out, false, 0) : put_bincode(v, out)) && out.more();
  };
  auto chains = [&](const OpParts& parts) {
    if (json) {
      text.push_back('[');
    } else {
      count(parts.pairs.size());
    }
    CChainStatsKey chain_key;
    for (std::size_t k = 0; k < parts.pairs.size(); ++k) {
      const PairAcc& acc = pairs[parts.pairs[k]];
      chain_into(acc.node, chain_key.call_chain);
      chain_key.is_leaf = acc.leaf;
      if (json) text += k > 0 ? ",[" : "[";
      if (!value(chain_key)) return false;
      if (json) text.push_back(',');
      if (!value(pair_value(parts.pairs[k]))) return false;
      if (json) text.push_back(']');
    }
    if (json) text.push_back(']');
    return true;
  };
  auto method_map = [&](const OpParts& parts) {
    if (json) {
      text.push_back('{');
    } else {
      count(parts.methods.size());
    }
    for (std::size_t k = 0; k < parts.methods.size(); ++k) {
      const std::uint32_t m = parts.methods[k];
      if (json) {
        if (k > 0) text.push_back(',');
        write_json_string(texts[methods[m].text], text);
        text.push_back(':');
      } else {
        put_bincode(texts[methods[m].text], out);
      }
      if (!value(method_value(m))) return false;
    }
    if (json) text.push_back('}');
    return true;
  };
  static const OpParts kNoParts;
  auto operation = [&](const std::string& name, const OperationStatsJson& op) {
    auto found = op_parts.find(name);
    const OpParts& parts = found != op_parts.end() ? found->second : kNoParts;
    bool first = true;
    if (json) text.push_back('{');
    const bool complete = for_each_field<OperationStatsJson>([&](const auto& f) {
      if (json) key(first, f.name);
      first = false;
      using Member = decltype(f.member);
      if constexpr (std::is_same_v<Member, decltype(&OperationStatsJson::call_chain)>) {
        return chains(parts);
      } else if constexpr (std::is_same_v<Member, decltype(&OperationStatsJson::method)>) {
        return method_map(parts);
      } else {
        return value(f.of(op));
      }
    });
    if (json) text.push_back('}');
    return complete;
  };
  bool first = true;
  if (json) text.push_back('{');
  const bool complete = for_each_field<StatsRecJson>([&](const auto& f) {
    if (json) key(first, f.name);
    first = false;
    if constexpr (std::is_same_v<decltype(f.member), decltype(&StatsRecJson::stats)>) {
      if (json) {
        text.push_back('{');
      } else {
        count(rec.stats.size());
      }
      bool first_op = true;
      for (const auto* entry : detail::sorted_entries(rec.stats)) {
        key(first_op, entry->first);
        first_op = false;
        if (!operation(entry->first, entry->second) || !out.more()) return false;
      }
      if (json) text.push_back('}');
      return true;
    } else {
      return value(f.of(rec));
    }
  });
  if (!complete) return false;
  if (json) text += "}\n";
  return out.flush();
}

bool Condenser::finish_into(Sink& out, Encoding encoding) {
  condense_traces();
  const StatsRecJson top = impl_->top_record(inputs_);
  const bool ok = impl_->write(out, top, encoding);
  reset();
  return ok;
}

std::vector<Call> Condenser::Impl::chain_of(std::uint32_t node) const {
  std::vector<Call> chain;
  chain_into(node, chain);
  return chain;
}

void Condenser::Impl::chain_into(std::uint32_t node, std::vector<Call>& chain) const {
  std::size_t depth = 0;
  for (std::uint32_t n = node; n != 0; n = nodes[n].parent) ++depth;
  chain.resize(depth);
  for (; node != 0; node = nodes[node].parent) {
    const Call3& c = calls[nodes[node].call];
    Call& call = chain[--depth];
    call.process.assign(texts[c.process]);
    call.method.assign(texts[c.method]);
    call.call_direction = c.direction;
  }
}

StatsRecJson Condenser::Impl::top_record(std::int32_t inputs) {
  StatsRecJson rec;
  rec.version = {1, 0};
  rec.num_files = inputs;
  const std::size_t n_traces = traces_out.size();
  rec.trace_id.reserve(n_traces);
  rec.root_call.reserve(n_traces);
  rec.num_spans.reserve(n_traces);
  rec.start_dt.reserve(n_traces);
  rec.end_dt.reserve(n_traces);
  rec.duration_micros.reserve(n_traces);
  rec.time_to_respond_micros.reserve(n_traces);
  for (const TraceOut& t : traces_out) {
    rec.trace_id.push_back(trace_ids[trace_order[t.trace]]);
    rec.root_call.push_back(texts[t.root_call]);
    rec.num_spans.push_back(t.spans);
    rec.start_dt.push_back(t.start);
    rec.end_dt.push_back(t.end);
    rec.duration_micros.push_back(saturating_sub(t.end, t.start));
    rec.time_to_respond_micros.push_back(t.respond);
  }
  traces_out = {};
  trace_ids = {};
  trace_index = {};
  rec.num_incomplete_traces = incomplete;

  // Chains in the order of their calls' bytes: a preorder walk of the trie whose children are
  // sorted by (process, method, direction). A chain comes before the chains it begins.
  std::vector<std::uint32_t> node_rank(nodes.size(), 0);
  {
    const std::size_t n = nodes.size();
    std::vector<std::uint32_t> first(n + 1, 0);
    for (std::size_t i = 1; i < n; ++i) ++first[nodes[i].parent + 1];
    for (std::size_t i = 0; i < n; ++i) first[i + 1] += first[i];
    std::vector<std::uint32_t> kids(n > 0 ? n - 1 : 0);
    std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
    for (std::size_t i = 1; i < n; ++i)
      kids[fill[nodes[i].parent]++] = static_cast<std::uint32_t>(i);
    auto call_less = [&](std::uint32_t a, std::uint32_t b) {
      const Call3& x = calls[nodes[a].call];
      const Call3& y = calls[nodes[b].call];
      if (x.process != y.process) return texts[x.process] < texts[y.process];
      if (x.method != y.method) return texts[x.method] < texts[y.method];
      return x.direction < y.direction;
    };
    for (std::size_t i = 0; i < n; ++i) {
      std::sort(kids.begin() + first[i], kids.begin() + first[i + 1], call_less);
    }
    std::uint32_t next = 0;
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
      const std::uint32_t node = stack.back();
      stack.pop_back();
      node_rank[node] = next++;
      for (std::uint32_t k = first[node + 1]; k > first[node]; --k) stack.push_back(kids[k - 1]);
    }
  }

  // The operations, each with its chains in order and its methods in the order of their texts.
  pair_order.resize(pairs.size());
  for (std::uint32_t p = 0; p < pairs.size(); ++p) pair_order[p] = p;
  std::sort(pair_order.begin(), pair_order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const PairAcc& x = pairs[a];
    const PairAcc& y = pairs[b];
    if (x.node != y.node) return node_rank[x.node] < node_rank[y.node];
    if (x.leaf != y.leaf) return !x.leaf;
    return !x.rooted && y.rooted;
  });
  for (const OpAcc& acc : ops) {
    OperationStatsJson& o = rec.stats[texts[acc.op]];
    o.num_traces = acc.roots;
    o.num_received_calls = acc.by_direction[static_cast<int>(CallDirection::Inbound)];
    o.num_outbound_calls = acc.by_direction[static_cast<int>(CallDirection::Outbound)];
    o.num_unknown_calls = acc.by_direction[static_cast<int>(CallDirection::Unknown)];
  }
  for (std::uint32_t p : pair_order) {
    op_parts[texts[pairs[p].op]].pairs.push_back(p);
    if (!pairs[p].rooted) ++rec.init_num_unrooted_cc;
  }
  for (std::uint32_t m = 0; m < methods.size(); ++m)
    op_parts[texts[methods[m].op]].methods.push_back(m);
  for (auto& [op, parts] : op_parts) {
    std::sort(parts.methods.begin(), parts.methods.end(), [&](std::uint32_t a, std::uint32_t b) {
      return texts[methods[a].text] < texts[methods[b].text];
    });
  }
  rec.num_endpoints = rec.stats.size();
  rec.num_call_chains = pairs.size();
  rec.num_unrooted_cc_after_fixes = rec.init_num_unrooted_cc;

  // The spans of each pair and of each method, ordered by (start, duration, trace id, span
  // id): seq is the place of (trace id, span id). Spans without a start have no place in the
  // lists. Equal (start, duration) entries are equal in the lists, so the lists are the sorted
  // (start, duration) pairs of the spans: a merge of files rebuilds them from the files' lists
  // alone.
  {
    struct Entry {
      std::int64_t start;
      std::int64_t duration;
      std::uint32_t seq;
      std::uint32_t span;
    };
    std::vector<Entry> entries;
    std::size_t with_start = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      with_start += spans[i].out.pair != kNone && spans[i].start != kNoStart ? 1 : 0;
    }
    entries.reserve(with_start);
    for (std::size_t i = 0; i < spans.size(); ++i) {
      const StoredSpan& s = spans[i];
      if (s.out.pair != kNone && s.start != kNoStart) {
        entries.push_back({s.start, s.duration, s.out.seq, static_cast<std::uint32_t>(i)});
      }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.start != b.start) return a.start < b.start;
      return a.duration != b.duration ? a.duration < b.duration : a.seq < b.seq;
    });
    auto group = [&](std::size_t groups, auto group_of, std::vector<std::uint32_t>& first,
                     std::vector<std::uint32_t>& members) {
      first.assign(groups + 1, 0);
      for (const Entry& e : entries) ++first[group_of(spans[e.span]) + 1];
      for (std::size_t g = 0; g < groups; ++g) first[g + 1] += first[g];
      members.resize(entries.size());
      std::vector<std::uint32_t> fill(first.begin(), first.end() - 1);
      for (const Entry& e : entries) members[fill[group_of(spans[e.span])]++] = e.span;
    };
    group(
        pairs.size(), [](const StoredSpan& s) { return s.out.pair; }, pair_first, pair_spans);
    group(
        methods.size(), [](const StoredSpan& s) { return s.out.method; }, method_first,
        method_spans);
  }
  seen_in.assign(texts.size(), kNone);
  looped_in.assign(texts.size(), kNone);
  return rec;
}

namespace {

std::int32_t clamp32(std::uint64_t n) {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(n, INT32_MAX));
}

}  // namespace

HashMap<std::string, std::uint64_t> Condenser::Impl::error_texts(const Figures& f) const {
  HashMap<std::string, std::uint64_t> out;
  if (f.maps) {
    for (const auto& [text, n] : f.maps->errors) out.emplace(texts[text], n);
  }
  return out;
}

CChainStatsValue Condenser::Impl::pair_value(std::uint32_t p) {
  const PairAcc& acc = pairs[p];
  CChainStatsValue value;
  std::uint64_t depth = 0;
  std::uint32_t last = kNone;
  std::vector<std::uint32_t>& path = chain_path;
  path.clear();
  for (std::uint32_t node = acc.node; node != 0; node = nodes[node].parent) path.push_back(node);
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    // A process that occurs again after another came between has looped.
    const std::uint32_t process = calls[nodes[*it].call].process;
    if (process != last && seen_in[process] == p && looped_in[process] != p) {
      looped_in[process] = p;
      value.looped.push_back(texts[process]);
    }
    seen_in[process] = p;
    last = process;
    ++depth;
  }
  value.count = acc.figures.count;
  value.depth = depth;
  value.rooted = acc.rooted;
  value.cc_not_http_ok = clamp32(acc.figures.failed);
  value.cc_with_error_logs = clamp32(acc.figures.with_error_logs);
  value.http_not_ok = acc.figures.http_counts();
  value.error_logs = error_texts(acc.figures);
  fill_lists(pair_first, pair_spans, p, value.duration_micros, value.start_dt_micros);
  return value;
}

ProcOperStatsValue Condenser::Impl::method_value(std::uint32_t m) const {
  const MethodAcc& acc = methods[m];
  ProcOperStatsValue v;
  v.count = acc.figures.count;
  v.num_traces = acc.traces;
  v.num_not_http_ok = clamp32(acc.figures.failed);
  v.num_with_error_logs = clamp32(acc.figures.with_error_logs);
  v.http_not_ok_codes = acc.figures.http_counts();
  v.error_logs = error_texts(acc.figures);
  fill_lists(method_first, method_spans, m, v.duration_micros, v.start_dt_micros);
  return v;
}

void Condenser::Impl::fill_lists(const std::vector<std::uint32_t>& first,
                                 const std::vector<std::uint32_t>& members, std::uint32_t group,
                                 std::vector<std::int64_t>& durations,
                                 std::vector<std::int64_t>& starts) const {
  const std::uint32_t begin = first[group], end = first[group + 1];
  durations.reserve(end - begin);
  starts.reserve(end - begin);
  for (std::uint32_t k = begin; k < end; ++k) {
    const StoredSpan& s = spans[members[k]];
    durations.push_back(s.duration);
    starts.push_back(s.start);
  }
}

}  // namespace tracemill
