#include "bench/encode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "stats/file/operation_stats_json.h"

namespace tracemill::bench {
namespace {

// Little-endian bytes of an unsigned value, written out independently of the encoder.
std::string le(std::uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    value >>= 8;
  }
  return bytes;
}

// The layout of a whole record is checked against a hand-built file in the decoder's test.
TEST(EncodeBincode, SignedValuesAndMapOrder) {
  ProcOperStatsValue v;
  v.num_not_http_ok = -1;
  v.duration_micros = {-2};
  v.http_not_ok_codes = {{503, 7}, {-1, 1}};  // written in ascending key order
  v.error_logs = {{"b", 2}, {"a", 1}};
  std::string want = le(0, 8) + le(0, 8) + le(1, 8) + le(0xFFFFFFFFFFFFFFFE, 8) + le(0, 8) +
                     le(0xFFFFFFFF, 4) + le(0, 4) +  // i32 fields
                     le(2, 8) + le(0xFFFF, 2) + le(1, 8) + le(503, 2) + le(7, 8) + le(2, 8) +
                     le(1, 8) + "a" + le(1, 8) + le(1, 8) + "b" + le(2, 8);
  std::string out;
  encode_bincode(v, out);
  EXPECT_EQ(out, want);
}

TEST(EncodeJson, StringEscapes) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir\\", R"("C:\\dir\\")"},
      {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"caf\u00e9 \u20ac \u65e5\u672c", "\"caf\u00e9 \u20ac \u65e5\u672c\""},
  };
  for (const auto& c : cases) {
    std::string out;
    write_json_string(c.text, out);
    EXPECT_EQ(out, c.json) << c.text;
  }
}

// Compact and pretty forms of one value: records, a pair, lists, maps (in key order) and a
// bool, nested.
TEST(EncodeJson, CompactAndPrettyRecord) {
  ProcOperStatsValue stats;
  stats.duration_micros = {7, std::numeric_limits<std::int64_t>::min()};
  stats.http_not_ok_codes = {{500, 4}, {-1, 1}};
  std::pair<CChainStatsKey, ProcOperStatsValue> pair{
      {{{"a", "m", CallDirection::Inbound}}, "c", true}, stats};
  std::string compact;
  encode_json(pair, compact, false);
  EXPECT_EQ(
      compact,
      R"([{"call_chain":[{"process":"a","method":"m","call_direction":"Inbound"}],)"
      R"("caching_process":"c","is_leaf":true},{"count":0,"num_traces":0,)"
      R"("duration_micros":[7,-9223372036854775808],"start_dt_micros":[],"num_not_http_ok":0,)"
      R"("num_with_error_logs":0,"http_not_ok_codes":{"-1":1,"500":4},"error_logs":{}}])");
  std::string pretty;
  encode_json(pair, pretty, true);
  EXPECT_EQ(pretty, R"([
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
])");
}

}  // namespace
}  // namespace tracemill::bench
