#include "bench/encode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

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

TEST(EncodeBincode, EmptyRecordIs128ZeroBytes) {
  std::string out;
  encode_bincode(StatsRecJson{}, out);
  EXPECT_EQ(out, std::string(128, '\0'));
}

TEST(EncodeBincode, OneOperationWithOneChain) {
  StatsRecJson rec;
  OperationStatsJson op;
  CChainStatsKey key;
  key.call_chain.push_back({"p", "m", CallDirection::Outbound});
  key.is_leaf = true;
  CChainStatsValue value;
  value.count = 5;
  op.call_chain.emplace_back(key, value);
  rec.stats.emplace("op", op);

  std::string want(120, '\0');                         // 0-119: empty-record prefix
  want += le(1, 8);                                    // 120-127: count of stats
  want += le(2, 8) + "op";                             // 128-137: key
  want += le(0, 8);                                    // 138-145: count of method
  want += std::string(32, '\0');                       // 146-177: four counters
  want += le(1, 8);                                    // 178-185: count of call_chain pairs
  want += le(1, 8);                                    // 186-193: count of the key's calls
  want += le(1, 8) + "p" + le(1, 8) + "m" + le(1, 4);  // 194-215: the call, Outbound
  want += le(0, 8);                                    // 216-223: caching_process
  want += '\1';                                        // 224: is_leaf
  want += le(5, 8);                                    // 225-232: count
  want += std::string(8 + 24, '\0');                   // 233-264: depth, three list counts
  want += '\0';                                        // 265: rooted
  want += std::string(8 + 8 + 16, '\0');  // 266-297: expect_root, two i32, two map counts
  ASSERT_EQ(want.size(), 298u);

  std::string out;
  encode_bincode(rec, out);
  EXPECT_EQ(out, want);
}

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
      {"plain", R"("plain")"},
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
  OperationStatsJson op;
  op.num_traces = 1;
  op.call_chain.emplace_back(CChainStatsKey{{{"a", "m", CallDirection::Inbound}}, "c", true},
                             CChainStatsValue{});
  op.call_chain.back().second.http_not_ok = {{500, 4}};
  op.call_chain.back().second.start_dt_micros = {7, std::numeric_limits<std::int64_t>::min()};
  op.method.emplace("a/m", ProcOperStatsValue{});
  std::string out;
  encode_json(op, out, true);
  EXPECT_EQ(out, R"({
  "method": {
    "a/m": {
      "count": 0,
      "num_traces": 0,
      "duration_micros": [],
      "start_dt_micros": [],
      "num_not_http_ok": 0,
      "num_with_error_logs": 0,
      "http_not_ok_codes": {},
      "error_logs": {}
    }
  },
  "num_traces": 1,
  "num_received_calls": 0,
  "num_outbound_calls": 0,
  "num_unknown_calls": 0,
  "call_chain": [
    [
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
        "depth": 0,
        "duration_micros": [],
        "start_dt_micros": [
          7,
          -9223372036854775808
        ],
        "looped": [],
        "rooted": false,
        "expect_root": [],
        "cc_not_http_ok": 0,
        "cc_with_error_logs": 0,
        "http_not_ok": {
          "500": 4
        },
        "error_logs": {}
      }
    ]
  ]
})");
}

}  // namespace
}  // namespace tracemill::bench
