// Statistics of one process and method.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/keyed_hash.h"
#include "base/record.h"

namespace tracemill {

struct ProcOperStatsValue {
  std::uint64_t count = 0;
  std::uint64_t num_traces = 0;
  std::vector<std::int64_t> duration_micros;
  std::vector<std::int64_t> start_dt_micros;
  std::int32_t num_not_http_ok = 0;
  std::int32_t num_with_error_logs = 0;
  HashMap<std::int16_t, std::uint64_t> http_not_ok_codes;
  HashMap<std::string, std::uint64_t> error_logs;
  bool operator==(const ProcOperStatsValue&) const = default;
};

template <>
struct Record<ProcOperStatsValue> {
  static constexpr std::string_view name = "ProcOperStatsValue";
  static constexpr auto fields =
      std::make_tuple(field("count", &ProcOperStatsValue::count),
                      field("num_traces", &ProcOperStatsValue::num_traces),
                      field("duration_micros", &ProcOperStatsValue::duration_micros),
                      field("start_dt_micros", &ProcOperStatsValue::start_dt_micros),
                      field("num_not_http_ok", &ProcOperStatsValue::num_not_http_ok),
                      field("num_with_error_logs", &ProcOperStatsValue::num_with_error_logs),
                      field("http_not_ok_codes", &ProcOperStatsValue::http_not_ok_codes),
                      field("error_logs", &ProcOperStatsValue::error_logs));
};

}  // namespace tracemill
