#include "bench/encode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

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

CChainStatsValue small_value() {
  CChainStatsValue v;
  v.count = 3;
  v.depth = 2;
  v.duration_micros = {10, -20};
  v.looped = {"q\"uote"};
  v.rooted = true;
  v.expect_root = {{"gw/GET /", 1}};
  v.cc_not_http_ok = -5;
  v.http_not_ok = {{503, 2}, {-1, 1}, {404, 9}};
  v.error_logs = {{"z\u00fc", 1}};
  return v;
}

TEST(EncodeJson, CompactRecord) {
  std::pair<CChainStatsKey, CChainStatsValue> pair{
      {{{"api", "GET /x", CallDirection::Unknown}}, "", false}, small_value()};
  std::string out;
  encode_json(pair, out, false);
  EXPECT_EQ(
      out,
      R"([{"call_chain":[{"process":"api","method":"GET /x","call_direction":"Unknown"}],)"
      R"("caching_process":"","is_leaf":false},)"
      R"({"count":3,"depth":2,"duration_micros":[10,-20],"start_dt_micros":[],)"
      R"("looped":["q\"uote"],"rooted":true,"expect_root":[{"proc_oper":"gw/GET /","count":1}],)"
      R"("cc_not_http_ok":-5,"cc_with_error_logs":0,"http_not_ok":{"-1":1,"404":9,"503":2},)"
      "\"error_logs\":{\"z\u00fc\":1}}]");
}

TEST(EncodeJson, PrettyRecord) {
  ProcOperStatsValue stats;
  stats.duration_micros = {7, std::numeric_limits<std::int64_t>::min()};
  stats.http_not_ok_codes = {{500, 4}};
  std::pair<std::vector<Call>, ProcOperStatsValue> pair{{{"a", "m", CallDirection::Inbound}}, stats};
  std::string out;
  encode_json(pair, out, true);
  EXPECT_EQ(out, R"([
  [
    {
      "process": "a",
      "method": "m",
      "call_direction": "Inbound"
    }
  ],
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
      "500": 4
    },
    "error_logs": {}
  }
])");
}

}  // namespace
}  // namespace tracemill::bench
