#include "bench/generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "stats/file/record_writer.h"

namespace tracemill::bench {
namespace {

std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// Independent random streams derived from one seed.
constexpr std::uint64_t kWorldStream = 0x5EED'0001;
constexpr std::uint64_t kOperationStream = 0x5EED'0002;
constexpr std::uint64_t kSampleStream = 0x5EED'0003;
constexpr std::uint64_t kHeaderStream = 0x5EED'0004;

constexpr std::int64_t kEpochMicros = 1'767'225'600'000'000;  // 2026-01-01T00:00:00Z
constexpr std::uint64_t kSampleOperations = 96;
constexpr std::size_t kFlushBytes = 1 << 20;

enum class Kind { Edge, Service, Database, Cache, Queue };

struct ProcessSeed {
  const char* name;
  Kind kind;
  const char* noun;  // the resource the process deals in, for its method names
};

// Names are sample data; a few are non-ASCII on purpose.
constexpr ProcessSeed kProcessSeeds[] = {
    {"api-gateway", Kind::Edge, "order"},
    {"web-frontend", Kind::Edge, "page"},
    {"mobile-bff", Kind::Edge, "screen"},
    {"\u65e5\u672c-gateway", Kind::Edge, "order"},  // "nihon-gateway" in Japanese script
    {"orders", Kind::Service, "order"},
    {"payments", Kind::Service, "payment"},
    {"inventory", Kind::Service, "stock"},
    {"shipping", Kind::Service, "shipment"},
    {"users", Kind::Service, "user"},
    {"auth", Kind::Service, "token"},
    {"catalog", Kind::Service, "product"},
    {"search", Kind::Service, "query"},
    {"recommendations", Kind::Service, "suggestion"},
    {"cart", Kind::Service, "cart"},
    {"checkout", Kind::Service, "checkout"},
    {"notifications", Kind::Service, "notification"},
    {"email-sender", Kind::Service, "mail"},
    {"billing", Kind::Service, "invoice"},
    {"ledger", Kind::Service, "entry"},
    {"fraud-check", Kind::Service, "verdict"},
    {"pricing", Kind::Service, "price"},
    {"reviews", Kind::Service, "review"},
    {"media", Kind::Service, "image"},
    {"geo", Kind::Service, "location"},
    {"tax", Kind::Service, "rate"},
    {"loyalty", Kind::Service, "points"},
    {"audit", Kind::Service, "event"},
    {"reporting", Kind::Service, "report"},
    {"scheduler", Kind::Service, "job"},
    {"z\u00e4hlwerk", Kind::Service, "counter"},
    {"caf\u00e9-menu", Kind::Service, "menu"},
    {"pr\u00e9f\u00e9rences", Kind::Service, "setting"},
    {"postgres-main", Kind::Database, "orders"},
    {"postgres-replica", Kind::Database, "products"},
    {"mongo-events", Kind::Database, "events"},
    {"redis-sessions", Kind::Cache, "session"},
    {"memcached", Kind::Cache, "price"},
    {"kafka", Kind::Queue, "order"},
    {"rabbitmq", Kind::Queue, "mail"},
    {"elasticsearch", Kind::Database, "products"},
};

constexpr std::string_view kVerbs[] = {"GET", "GET", "GET", "POST", "PUT", "DELETE", "PATCH"};
constexpr std::string_view kSubResources[] = {"",         "/items", "/status", "/history",
                                              "/summary", "/lines", "/notes"};

// Error-log texts: quotes, backslashes, control characters and non-ASCII text on purpose.
constexpr std::string_view kErrorLogs[] = {
    "upstream timed out after 30000 ms calling \"payments\"",
    "connection refused: 10.0.3.17:5432",
    "C:\\Program Files\\agent\\spool\\out.log: permission denied",
    "Zahlung fehlgeschlagen: Kartenpr\u00fcfung abgelehnt f\u00fcr Kunde M\u00fcller",
    "prix invalide: 12,50 \u20ac (attendu > 0 \u20ac)",
    "caf\u00e9 menu entry not found",
    "\u65e5\u672c\u8a9e\u306e\u30a8\u30e9\u30fc: \u30bf\u30a4\u30e0\u30a2\u30a6\u30c8",
    "stack trace:\n  at Orders.Get(Orders.cs:42)\n\tat Db.Query(Db.cs:7)",
    "json parse error near \"{\\\"id\\\": 17,}\"",
    "terminal noise \x07\x1b[31mred\x1b[0m in log line",
    "NullPointerException in OrderMapper.map()",
    "quota exceeded for tenant \"acme\" (limit 100/s)",
    "deadlock detected; transaction rolled back",
    "TLS handshake failed: certificate expired",
};

constexpr std::int16_t kHttpCodes[] = {400, 401, 403, 404, 404, 404, 409,
                                       429, 500, 500, 502, 503, 503, 504};

template <class T, std::size_t N>
const T& pick(Rng& rng, const T (&items)[N]) {
  return items[rng.below(N)];
}

std::string capitalised(std::string_view word) {
  std::string s(word);
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string plural(std::string_view noun) {
  std::string s(noun);
  if (s.ends_with('s')) return s;
  if (s.ends_with('y')) return s.substr(0, s.size() - 1) + "ies";
  return s + "s";
}

std::vector<std::string> make_methods(Rng& rng, const ProcessSeed& seed) {
  std::string noun = seed.noun;
  std::string nouns = plural(noun);
  std::string type = capitalised(noun);
  std::vector<std::string> all;
  switch (seed.kind) {
    case Kind::Edge:
    case Kind::Service:
      all = {"GET /api/v1/" + nouns,
             "GET /api/v1/" + nouns + "/{id}",
             "POST /api/v1/" + nouns,
             "PUT /api/v1/" + nouns + "/{id}",
             "DELETE /api/v1/" + nouns + "/{id}",
             type + "Service/Get" + type,
             type + "Service/List" + capitalised(nouns),
             type + "Service/Update" + type,
             "handle " + noun + ".created",
             "handle " + noun + ".updated"};
      break;
    case Kind::Database:
      all = {"SELECT " + noun, "INSERT " + noun, "UPDATE " + noun,
             "DELETE " + noun, "BEGIN",          "COMMIT"};
      break;
    case Kind::Cache:
      all = {"GET " + noun + ":{id}", "SET " + noun + ":{id}", "MGET " + noun + ":*",
             "DEL " + noun + ":{id}"};
      break;
    case Kind::Queue:
      all = {"publish " + noun + ".created", "publish " + noun + ".updated",
             "consume " + noun + ".created"};
      break;
  }
  // Keep a seeded subset (at least two) in a seeded order.
  for (std::size_t i = all.size(); i > 1; --i) std::swap(all[i - 1], all[rng.below(i)]);
  all.resize(std::max<std::size_t>(2, rng.range(all.size() / 2, all.size())));
  return all;
}

std::string proc_oper(const GenProcess& p, std::size_t method) {
  return p.name + "/" + p.methods[method];
}

// Durations in microseconds: mostly milliseconds, with a long tail.
std::int64_t duration_micros(Rng& rng) {
  std::uint64_t r = rng.below(100);
  if (r < 70) return static_cast<std::int64_t>(rng.range(150, 20'000));
  if (r < 95) return static_cast<std::int64_t>(rng.range(20'000, 500'000));
  return static_cast<std::int64_t>(rng.range(500'000, 30'000'000));
}

// Chain counts: mostly small, sometimes large; never above the signed 32-bit range.
std::uint64_t chain_count(Rng& rng) {
  std::uint64_t r = rng.below(100);
  if (r < 60) return rng.range(1, 20);
  if (r < 90) return rng.range(21, 1'000);
  if (r < 99) return rng.range(1'001, 100'000);
  return rng.range(100'001, 50'000'000);
}

void fill_timings(Rng& rng, std::size_t n, std::vector<std::int64_t>& durations,
                  std::vector<std::int64_t>& starts) {
  durations.reserve(n);
  starts.reserve(n);
  auto t = kEpochMicros + static_cast<std::int64_t>(rng.below(86'400'000'000ULL * 30));
  for (std::size_t i = 0; i < n; ++i) {
    durations.push_back(duration_micros(rng));
    t += static_cast<std::int64_t>(rng.range(1, 60'000'000));
    starts.push_back(t);
  }
}

template <class Map>
void fill_http_codes(Rng& rng, std::size_t n, std::uint64_t max_count, Map& codes) {
  for (std::size_t i = 0; i < n; ++i) codes[pick(rng, kHttpCodes)] += rng.range(1, max_count);
}

template <class Map>
void fill_error_logs(Rng& rng, std::size_t n, std::uint64_t max_count, Map& logs) {
  for (std::size_t i = 0; i < n; ++i)
    logs[std::string(pick(rng, kErrorLogs))] += rng.range(1, max_count);
}

std::int32_t small_i32(Rng& rng, std::uint64_t at_most) {
  return static_cast<std::int32_t>(rng.below(std::min<std::uint64_t>(at_most, 1'000'000) + 1));
}

std::string hex_id(Rng& rng) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id(32, '0');
  std::uint64_t a = rng.next();
  std::uint64_t b = rng.next();
  for (std::size_t i = 0; i < 16; ++i) {
    id[i] = kHex[(a >> (4 * i)) & 0xF];
    id[16 + i] = kHex[(b >> (4 * i)) & 0xF];
  }
  return id;
}

}  // namespace

Rng::Rng(std::uint64_t seed) {
  std::uint64_t state = seed;
  for (auto& s : s_) s = splitmix64(state);
}

std::uint64_t Rng::next() {
  std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

StatsGenerator::StatsGenerator(std::uint64_t seed, Profile profile)
    : seed_(seed), profile_(profile), rng_(seed ^ kOperationStream) {
  Rng rng(seed ^ kWorldStream);
  for (const auto& ps : kProcessSeeds) {
    processes_.push_back({ps.name, make_methods(rng, ps), {}});
    if (ps.kind == Kind::Edge) entries_.push_back(processes_.size() - 1);
  }
  // Edges and services call 2 to 6 others; stores and queues call nobody, except that a queue
  // delivers to a service now and then.
  std::vector<std::size_t> services;
  for (std::size_t i = 0; i < std::size(kProcessSeeds); ++i) {
    if (kProcessSeeds[i].kind == Kind::Service) services.push_back(i);
  }
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    Kind kind = kProcessSeeds[i].kind;
    std::size_t n = kind == Kind::Queue                               ? 1
                    : (kind == Kind::Database || kind == Kind::Cache) ? 0
                                                                      : rng.range(2, 6);
    auto& callees = processes_[i].callees;
    while (callees.size() < n) {
      std::size_t c = kind == Kind::Edge || kind == Kind::Queue
                          ? services[rng.below(services.size())]
                          : rng.below(processes_.size());
      if (c == i || kProcessSeeds[c].kind == Kind::Edge) continue;
      if (std::find(callees.begin(), callees.end(), c) == callees.end()) callees.push_back(c);
    }
  }
}

StatsRecJson StatsGenerator::header(std::uint64_t operations) const {
  Rng rng(seed_ ^ kHeaderStream);
  StatsRecJson rec;
  rec.version = {1, 3};
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(operations, 200));
  for (std::size_t i = 0; i < n; ++i) {
    rec.trace_id.push_back(hex_id(rng));
    const auto& entry = processes_[entries_[rng.below(entries_.size())]];
    rec.root_call.push_back(proc_oper(entry, rng.below(entry.methods.size())));
    rec.num_spans.push_back(rng.range(2, 400));
    std::vector<std::int64_t> durations;
    std::vector<std::int64_t> starts;
    fill_timings(rng, 1, durations, starts);
    rec.start_dt.push_back(starts[0]);
    rec.end_dt.push_back(starts[0] + durations[0]);
    rec.duration_micros.push_back(durations[0]);
    rec.time_to_respond_micros.push_back(durations[0] / 2 + 1);
  }
  rec.num_files =
      static_cast<std::int32_t>(std::min<std::uint64_t>(operations / 10 + 1, 1'000'000));
  rec.num_endpoints = operations;
  rec.num_incomplete_traces = operations / 7;
  rec.num_call_chains = operations * (profile_ == Profile::Chains ? 175 : 17);
  rec.init_num_unrooted_cc = rec.num_call_chains / 9;
  rec.num_fixes = rec.init_num_unrooted_cc / 2;
  rec.num_unrooted_cc_after_fixes = rec.init_num_unrooted_cc - rec.num_fixes;
  for (const auto& ps : kProcessSeeds) {
    if (ps.kind == Kind::Cache) rec.caching_processes.emplace_back(ps.name);
  }
  return rec;
}

std::pair<std::string, OperationStatsJson> StatsGenerator::next_operation() {
  return make_operation(rng_, next_index_++);
}

std::uint64_t StatsGenerator::operations_for_size(std::uint64_t size) const {
  std::string text;
  encode_json(header(0), text, false);
  if (size <= text.size()) return 0;
  std::uint64_t body = size - text.size();
  Rng rng(seed_ ^ kSampleStream);
  std::uint64_t sample = 0;
  for (std::uint64_t i = 0; i < kSampleOperations; ++i) {
    auto [key, op] = make_operation(rng, i);
    text.clear();
    write_json_string(key, text);
    encode_json(op, text, false);
    sample += text.size() + 2;  // the colon and the comma
  }
  std::uint64_t mean = std::max<std::uint64_t>(1, sample / kSampleOperations);
  return std::max<std::uint64_t>(1, (body + mean / 2) / mean);
}

std::pair<std::string, OperationStatsJson> StatsGenerator::make_operation(
    Rng& rng, std::uint64_t index) const {
  const bool chains = profile_ == Profile::Chains;
  std::size_t entry = entries_[rng.below(entries_.size())];

  std::string key(pick(rng, kVerbs));
  key += " /api/v";
  key += static_cast<char>('1' + rng.below(3));
  key += '/';
  key += plural(kProcessSeeds[4 + rng.below(28)].noun);
  key += '/';
  key += std::to_string(index);
  key += pick(rng, kSubResources);

  OperationStatsJson op;
  HashMap<std::string, std::uint64_t> seen;  // proc_oper -> summed count, for `method`
  std::size_t chain_total = chains ? rng.range(50, 300) : rng.range(4, 30);
  op.call_chain.reserve(chain_total);
  for (std::size_t c = 0; c < chain_total; ++c) {
    CChainStatsKey ckey;
    CChainStatsValue value;
    std::size_t length = chains ? rng.range(4, 12) : rng.range(2, 12);
    value.count = chain_count(rng);

    // Build the calls: the received first call carries the operation's own route.
    std::size_t current = entry;
    bool all_unknown = rng.chance(80);
    ckey.call_chain.push_back({processes_[entry].name, key, CallDirection::Inbound});
    while (ckey.call_chain.size() < length) {
      const auto& proc = processes_[current];
      if (proc.callees.empty() || rng.chance(100)) {
        ckey.call_chain.push_back(
            {proc.name, proc.methods[rng.below(proc.methods.size())], CallDirection::Outbound});
        continue;
      }
      std::size_t callee = proc.callees[rng.below(proc.callees.size())];
      const auto& target = processes_[callee];
      const std::string& method = target.methods[rng.below(target.methods.size())];
      ckey.call_chain.push_back({proc.name, method, CallDirection::Outbound});
      if (ckey.call_chain.size() < length) {
        ckey.call_chain.push_back({target.name, method, CallDirection::Inbound});
        current = callee;
      }
    }
    for (auto& call : ckey.call_chain) {
      if (all_unknown || rng.chance(20)) call.call_direction = CallDirection::Unknown;
    }
    if (rng.chance(15)) {
      // A contradiction the repair reports: a received call on the same process, or a call
      // made at a change of process.
      std::size_t i = rng.below(ckey.call_chain.size());
      bool change = i == 0 || ckey.call_chain[i].process != ckey.call_chain[i - 1].process;
      ckey.call_chain[i].call_direction = change ? CallDirection::Outbound : CallDirection::Inbound;
    }
    for (const auto& call : ckey.call_chain) {
      switch (call.call_direction) {
        case CallDirection::Inbound:
          op.num_received_calls += value.count;
          break;
        case CallDirection::Outbound:
          op.num_outbound_calls += value.count;
          break;
        case CallDirection::Unknown:
          op.num_unknown_calls += value.count;
          break;
      }
      seen[call.process + "/" + call.method] += value.count;
      if (call.process == "redis-sessions" || call.process == "memcached") {
        ckey.caching_process = call.process;
      }
    }
    ckey.is_leaf = rng.chance(700);

    value.depth = rng.chance(950) ? length : rng.range(1, length);
    std::size_t timings = chains ? rng.below(3) : rng.range(5, 200);
    fill_timings(rng, timings, value.duration_micros, value.start_dt_micros);
    if (rng.chance(30)) value.looped.push_back(ckey.call_chain[rng.below(length)].process);
    value.rooted = rng.chance(900);
    if (!value.rooted) {
      for (std::size_t i = rng.range(1, 3); i > 0; --i) {
        const auto& root = processes_[entries_[rng.below(entries_.size())]];
        value.expect_root.push_back(
            {proc_oper(root, rng.below(root.methods.size())), rng.range(1, value.count)});
      }
    }
    if (rng.chance(chains ? 20 : 200)) {
      fill_http_codes(rng, rng.range(1, 3), value.count, value.http_not_ok);
      value.cc_not_http_ok = small_i32(rng, value.count);
    }
    if (rng.chance(chains ? 10 : 100)) {
      fill_error_logs(rng, rng.range(1, 2), value.count, value.error_logs);
      value.cc_with_error_logs = small_i32(rng, value.count);
    }
    op.num_traces += value.count;
    op.call_chain.emplace_back(std::move(ckey), std::move(value));
  }

  // One entry per process and method seen in the chains, in a seeded order.
  std::vector<std::pair<std::string, std::uint64_t>> methods(seen.begin(), seen.end());
  std::sort(methods.begin(), methods.end());
  for (auto& [name, count] : methods) {
    ProcOperStatsValue stats;
    stats.count = count;
    stats.num_traces = rng.range(std::max<std::uint64_t>(1, count / 2), count);
    fill_timings(rng, chains ? rng.below(3) : rng.range(5, 50), stats.duration_micros,
                 stats.start_dt_micros);
    if (rng.chance(chains ? 20 : 150)) {
      fill_http_codes(rng, rng.range(1, 3), count, stats.http_not_ok_codes);
      stats.num_not_http_ok = small_i32(rng, count);
    }
    if (rng.chance(chains ? 10 : 80)) {
      fill_error_logs(rng, rng.range(1, 3), count, stats.error_logs);
      stats.num_with_error_logs = small_i32(rng, count);
    }
    op.method.emplace(std::move(name), std::move(stats));
  }
  return {std::move(key), std::move(op)};
}

GenSummary write_stats_file(const GenOptions& options, Sink& out) {
  StatsGenerator gen(options.seed, options.profile);
  GenSummary summary;
  summary.operations =
      options.operations ? *options.operations : gen.operations_for_size(options.size);
  const bool json = options.format != Format::Bincode;
  const bool pretty = options.format == Format::JsonPretty;

  std::string buf;
  buf.reserve(kFlushBytes + (1 << 16));
  bool ok = true;
  auto flush = [&] {
    ok = ok && out.write(buf);
    summary.bytes += buf.size();
    buf.clear();
  };

  // Every top-level field but `stats`, then `stats` one operation at a time.
  StatsRecJson head = gen.header(summary.operations);
  if (json) buf.push_back('{');
  bool first = true;
  for_each_field<StatsRecJson>([&](const auto& f) {
    if (f.name == "stats") return;
    if (json) {
      if (!first) buf.push_back(',');
      if (pretty) detail::put_newline(buf, 1);
      write_json_string(f.name, buf);
      buf.append(pretty ? ": " : ":");
      encode_json_at(f.of(head), buf, pretty, 1);
    } else {
      encode_bincode(f.of(head), buf);
    }
    first = false;
  });
  if (json) {
    buf.push_back(',');
    if (pretty) detail::put_newline(buf, 1);
    buf.append(pretty ? "\"stats\": {" : "\"stats\":{");
  } else {
    detail::put_le(buf, summary.operations);
  }

  // Repeated keys come from a stream of their own, so the operations stay those of the seed.
  Rng repeats(options.seed ^ 0x9e3779b97f4a7c15ULL);
  std::vector<std::string> keys;
  for (std::uint64_t i = 0; i < summary.operations && ok; ++i) {
    auto [key, op] = gen.next_operation();
    if (options.repeat_keys > 0) {
      if (!keys.empty() && repeats.chance(options.repeat_keys)) {
        key = keys[repeats.below(keys.size())];
      } else {
        keys.push_back(key);
      }
    }
    summary.call_chains += op.call_chain.size();
    if (json) {
      if (i > 0) buf.push_back(',');
      if (pretty) detail::put_newline(buf, 2);
      write_json_string(key, buf);
      buf.append(pretty ? ": " : ":");
      encode_json_at(op, buf, pretty, 2);
    } else {
      encode_bincode(key, buf);
      encode_bincode(op, buf);
    }
    if (buf.size() >= kFlushBytes) flush();
  }
  if (json) {
    if (pretty && summary.operations > 0) detail::put_newline(buf, 1);
    buf.push_back('}');
    if (pretty) detail::put_newline(buf, 0);
    buf.append("}\n");
  }
  flush();
  summary.ok = ok;
  return summary;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t number = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  static constexpr std::pair<std::string_view, std::uint64_t> kUnits[] = {{"", 1},
                                                                          {"K", 1'000},
                                                                          {"M", 1'000'000},
                                                                          {"G", 1'000'000'000},
                                                                          {"Ki", 1ULL << 10},
                                                                          {"Mi", 1ULL << 20},
                                                                          {"Gi", 1ULL << 30}};
  for (const auto& [name, factor] : kUnits) {
    if (unit != name) continue;
    if (number > std::numeric_limits<std::uint64_t>::max() / factor) return std::nullopt;
    return number * factor;
  }
  return std::nullopt;
}

}  // namespace tracemill::bench
