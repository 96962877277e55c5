// A call chain's identity (CChainStatsKey) and its statistics (CChainStatsValue).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/keyed_hash.h"
#include "base/record.h"
#include "stats/call_chain/call.h"
#include "stats/call_chain/expected_roots.h"

namespace tracemill {

struct CChainStatsKey {
  std::vector<Call> call_chain;
  std::string caching_process;
  bool is_leaf = false;
  bool operator==(const CChainStatsKey&) const = default;
};

template <>
struct Record<CChainStatsKey> {
  static constexpr std::string_view name = "CChainStatsKey";
  static constexpr auto fields =
      std::make_tuple(field("call_chain", &CChainStatsKey::call_chain),
                      field("caching_process", &CChainStatsKey::caching_process),
                      field("is_leaf", &CChainStatsKey::is_leaf));
};

struct CChainStatsValue {
  std::uint64_t count = 0;
  std::uint64_t depth = 0;
  std::vector<std::int64_t> duration_micros;
  std::vector<std::int64_t> start_dt_micros;
  std::vector<std::string> looped;
  bool rooted = false;
  std::vector<ExpectRoot> expect_root;
  std::int32_t cc_not_http_ok = 0;
  std::int32_t cc_with_error_logs = 0;
  HashMap<std::int16_t, std::uint64_t> http_not_ok;
  HashMap<std::string, std::uint64_t> error_logs;
  bool operator==(const CChainStatsValue&) const = default;
};

template <>
struct Record<CChainStatsValue> {
  static constexpr std::string_view name = "CChainStatsValue";
  static constexpr auto fields = std::make_tuple(
      field("count", &CChainStatsValue::count), field("depth", &CChainStatsValue::depth),
      field("duration_micros", &CChainStatsValue::duration_micros),
      field("start_dt_micros", &CChainStatsValue::start_dt_micros),
      field("looped", &CChainStatsValue::looped), field("rooted", &CChainStatsValue::rooted),
      field("expect_root", &CChainStatsValue::expect_root),
      field("cc_not_http_ok", &CChainStatsValue::cc_not_http_ok),
      field("cc_with_error_logs", &CChainStatsValue::cc_with_error_logs),
      field("http_not_ok", &CChainStatsValue::http_not_ok),
      field("error_logs", &CChainStatsValue::error_logs));
};

}  // namespace tracemill
