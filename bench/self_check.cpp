// tracemill_gen --self-check: the generator and the encoders keep their promises (same seed,
// same bytes; the streamed file is the encoding of the whole record; records within their
// ranges; sizes; exact encoder output). That every format decodes to the generated records is
// checked by the unit tests, which use the generator.
#include "bench/self_check.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "base/sink.h"
#include "bench/generator.h"
#include "stats/file/record_writer.h"

namespace tracemill::bench {
namespace {

int failures = 0;
int checks = 0;

void check(bool ok, const std::string& what) {
  ++checks;
  if (ok) return;
  ++failures;
  std::fprintf(stderr, "tracemill_gen self-check FAILED: %s\n", what.c_str());
}

std::string generate(std::uint64_t seed, std::uint64_t operations, Format format, Profile profile) {
  GenOptions options;
  options.seed = seed;
  options.operations = operations;
  options.format = format;
  options.profile = profile;
  StringSink sink;
  GenSummary summary = write_stats_file(options, sink);
  check(summary.ok && summary.operations == operations && summary.bytes == sink.text().size(),
        "the summary of a generated file");
  return sink.take();
}

// The rule of repairable directions: a change of process is received, a further call on the
// same process is not.
bool consistent(const std::vector<Call>& chain) {
  std::string_view previous;
  for (const Call& call : chain) {
    bool change = call.process != previous;
    if (change && call.call_direction == CallDirection::Outbound) return false;
    if (!change && call.call_direction == CallDirection::Inbound) return false;
    previous = call.process;
  }
  return true;
}

void generator_checks() {
  for (Profile profile : {Profile::Typical, Profile::Chains}) {
    const std::string name = profile == Profile::Typical ? "typical" : "chains";
    for (Format format : {Format::Json, Format::JsonPretty, Format::Bincode}) {
      std::string a = generate(7, 5, format, profile);
      check(a == generate(7, 5, format, profile), name + ": same seed, same bytes");
      check(a != generate(8, 5, format, profile), name + ": another seed, other bytes");
    }
    // With no or one operation the streamed file is exactly the encoding of the whole record.
    for (std::uint64_t operations : {0u, 1u}) {
      StatsGenerator gen(11, profile);
      StatsRecJson rec = gen.header(operations);
      if (operations == 1) rec.stats.insert(gen.next_operation());
      std::string json, pretty, bin;
      encode_json(rec, json, false);
      encode_json(rec, pretty, true);
      encode_bincode(rec, bin);
      check(generate(11, operations, Format::Json, profile) == json + "\n" &&
                generate(11, operations, Format::JsonPretty, profile) == pretty + "\n" &&
                generate(11, operations, Format::Bincode, profile) == bin,
            name + ": the streamed file is the encoding of the whole record");
    }
    StatsGenerator gen(5, profile);
    std::set<std::string> keys;
    std::uint64_t chains = 0, inconsistent = 0;
    bool in_range = true;
    for (int i = 0; i < 60; ++i) {
      auto [key, op] = gen.next_operation();
      in_range = keys.insert(key).second && in_range;
      for (const auto& [ckey, value] : op.call_chain) {
        ++chains;
        in_range = in_range && value.count <= std::numeric_limits<std::int32_t>::max() &&
                   ckey.call_chain.size() >= 2 && ckey.call_chain.size() <= 12 &&
                   value.duration_micros.size() == value.start_dt_micros.size();
        if (!consistent(ckey.call_chain)) ++inconsistent;
      }
      std::uint64_t received = 0;
      for (const auto& [method, stats] : op.method) received += stats.count;
      in_range = in_range &&
                 received == op.num_received_calls + op.num_outbound_calls + op.num_unknown_calls;
    }
    check(in_range, name + ": unique keys, counts and lengths within their ranges");
    check(inconsistent > 0 && inconsistent * 20 < chains,
          name + ": some but under 5 % of the chains need a reported repair");
    GenOptions options;
    options.seed = 2;
    options.profile = profile;
    options.size = 4'000'000;
    StringSink sink;
    GenSummary summary = write_stats_file(options, sink);
    check(
        summary.operations > 10 && sink.text().size() > 3'000'000 && sink.text().size() < 5'000'000,
        name + ": --size decides the number of operations");
  }
  const std::pair<const char*, std::optional<std::uint64_t>> sizes[] = {
      {"1500", 1500},
      {"100K", 100'000},
      {"100M", 100'000'000},
      {"1G", 1'000'000'000},
      {"64Ki", 65'536},
      {"1Mi", 1'048'576},
      {"2Gi", 2'147'483'648},
      {"", std::nullopt},
      {"M", std::nullopt},
      {"10MB", std::nullopt},
      {"-1", std::nullopt},
      {"18446744073709551615", 18'446'744'073'709'551'615ULL},
      {"18446744073709552G", std::nullopt},
  };
  for (const auto& [text, size] : sizes) {
    check(parse_size(text) == size, "parse_size " + std::string(text));
  }
}

// Little-endian bytes of an unsigned value, written out independently of the encoder.
std::string le(std::uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i, value >>= 8) bytes.push_back(static_cast<char>(value & 0xFF));
  return bytes;
}

void encoder_checks() {
  ProcOperStatsValue v;
  v.num_not_http_ok = -1;
  v.duration_micros = {-2};
  v.http_not_ok_codes = {{503, 7}, {-1, 1}};  // written in ascending key order
  v.error_logs = {{"b", 2}, {"a", 1}};
  std::string bin;
  encode_bincode(v, bin);
  check(bin == le(0, 8) + le(0, 8) + le(1, 8) + le(0xFFFFFFFFFFFFFFFE, 8) + le(0, 8) +
                   le(0xFFFFFFFF, 4) + le(0, 4) + le(2, 8) + le(0xFFFF, 2) + le(1, 8) + le(503, 2) +
                   le(7, 8) + le(2, 8) + le(1, 8) + "a" + le(1, 8) + le(1, 8) + "b" + le(2, 8),
        "binary form of signed values and map order");

  const std::pair<std::string, std::string> strings[] = {
      {"say \"hi\" C:\\dir\\", R"("say \"hi\" C:\\dir\\")"},
      {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"caf\u00e9 \u20ac", "\"caf\u00e9 \u20ac\""},
  };
  for (const auto& [text, json] : strings) {
    std::string out;
    write_json_string(text, out);
    check(out == json, "JSON string " + json);
  }

  ProcOperStatsValue stats;
  stats.duration_micros = {7, std::numeric_limits<std::int64_t>::min()};
  stats.http_not_ok_codes = {{500, 4}, {-1, 1}};
  std::pair<CChainStatsKey, ProcOperStatsValue> pair{
      {{{"a", "m", CallDirection::Inbound}}, "c", true}, stats};
  std::string compact, pretty;
  encode_json(pair, compact, false);
  encode_json(pair, pretty, true);
  check(compact ==
            R"([{"call_chain":[{"process":"a","method":"m","call_direction":"Inbound"}],)"
            R"("caching_process":"c","is_leaf":true},{"count":0,"num_traces":0,)"
            R"("duration_micros":[7,-9223372036854775808],"start_dt_micros":[],)"
            R"("num_not_http_ok":0,"num_with_error_logs":0,"http_not_ok_codes":{"-1":1,"500":4},)"
            R"("error_logs":{}}])",
        "compact JSON of a record pair");
  check(pretty == R"([
  {
    "call_chain": [
      {
        "process": "a",
        "method": "m",
        "call_direction": "Inbound"
      }
    ],
    "caching_process": "c",
    "is_leaf": true
  },
  {
    "count": 0,
    "num_traces": 0,
    "duration_micros": [
      7,
      -9223372036854775808
    ],
    "start_dt_micros": [],
    "num_not_http_ok": 0,
    "num_with_error_logs": 0,
    "http_not_ok_codes": {
      "-1": 1,
      "500": 4
    },
    "error_logs": {}
  }
])",
        "pretty JSON of a record pair");
}

}  // namespace

int self_check() {
  generator_checks();
  encoder_checks();
  if (failures == 0) std::fprintf(stderr, "tracemill_gen self-check: %d checks passed\n", checks);
  return failures == 0 ? 0 : 1;
}

}  // namespace tracemill::bench
