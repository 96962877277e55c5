// The top-level statistics record (StatsRecJson), the statistics of one operation
// (OperationStatsJson), and the loader that reads either from a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/keyed_hash.h"
#include "base/record.h"
#include "base/result.h"
#include "stats/call_chain/cchain_stats.h"
#include "stats/file/load_error.h"
#include "stats/proc_oper_stats.h"
#include "stats/stats_rec.h"

namespace tracemill {

struct OperationStatsJson {
  HashMap<std::string, ProcOperStatsValue> method;
  std::uint64_t num_traces = 0;
  std::uint64_t num_received_calls = 0;
  std::uint64_t num_outbound_calls = 0;
  std::uint64_t num_unknown_calls = 0;
  // The list may hold a key more than once; its order is kept.
  std::vector<std::pair<CChainStatsKey, CChainStatsValue>> call_chain;
  bool operator==(const OperationStatsJson&) const = default;
};

template <>
struct Record<OperationStatsJson> {
  static constexpr std::string_view name = "OperationStatsJson";
  static constexpr auto fields =
      std::make_tuple(field("method", &OperationStatsJson::method),
                      field("num_traces", &OperationStatsJson::num_traces),
                      field("num_received_calls", &OperationStatsJson::num_received_calls),
                      field("num_outbound_calls", &OperationStatsJson::num_outbound_calls),
                      field("num_unknown_calls", &OperationStatsJson::num_unknown_calls),
                      field("call_chain", &OperationStatsJson::call_chain));
};

struct StatsRecJson {
  Version version;
  std::vector<std::string> trace_id;
  std::vector<std::string> root_call;
  std::vector<std::uint64_t> num_spans;
  std::int32_t num_files = 0;
  std::uint64_t num_endpoints = 0;
  std::uint64_t num_incomplete_traces = 0;
  std::uint64_t num_call_chains = 0;
  std::uint64_t init_num_unrooted_cc = 0;
  std::uint64_t num_fixes = 0;
  std::uint64_t num_unrooted_cc_after_fixes = 0;
  std::vector<std::int64_t> start_dt;
  std::vector<std::int64_t> end_dt;
  std::vector<std::int64_t> duration_micros;
  std::vector<std::int64_t> time_to_respond_micros;
  std::vector<std::string> caching_processes;
  HashMap<std::string, OperationStatsJson> stats;
  bool operator==(const StatsRecJson&) const = default;

  // Opens `path`, decodes it by its extension ("json" or "bincode") and returns the record,
  // or the error that stopped it. A path without extension or with another one, or a path
  // that is not UTF-8, ends the run with a fatal report.
  static Result<StatsRecJson, LoadError> read_file(const std::filesystem::path& path);
};

template <>
struct Record<StatsRecJson> {
  static constexpr std::string_view name = "StatsRecJson";
  static constexpr auto fields = std::make_tuple(
      field("version", &StatsRecJson::version), field("trace_id", &StatsRecJson::trace_id),
      field("root_call", &StatsRecJson::root_call), field("num_spans", &StatsRecJson::num_spans),
      field("num_files", &StatsRecJson::num_files),
      field("num_endpoints", &StatsRecJson::num_endpoints),
      field("num_incomplete_traces", &StatsRecJson::num_incomplete_traces),
      field("num_call_chains", &StatsRecJson::num_call_chains),
      field("init_num_unrooted_cc", &StatsRecJson::init_num_unrooted_cc),
      field("num_fixes", &StatsRecJson::num_fixes),
      field("num_unrooted_cc_after_fixes", &StatsRecJson::num_unrooted_cc_after_fixes),
      field("start_dt", &StatsRecJson::start_dt), field("end_dt", &StatsRecJson::end_dt),
      field("duration_micros", &StatsRecJson::duration_micros),
      field("time_to_respond_micros", &StatsRecJson::time_to_respond_micros),
      field("caching_processes", &StatsRecJson::caching_processes),
      field("stats", &StatsRecJson::stats));
};

// The extension of the final name of `path`: the text after its last ".". Trailing "/"
// separators and "." components are ignored. There is none when the path has no final name
// (empty, "/", ".", ending in ".."), when the name holds no "." or only a leading one
// (".json"); a name ending in "." has the empty extension. The result views `path`.
std::optional<std::string_view> file_extension(std::string_view path);

// The debug form of a path's bytes, which may be any bytes: a double-quoted text in which the
// runs of valid UTF-8 are escaped like any text (and ' as \') and every byte that is not part
// of a valid character is written as \xHH.
std::string path_debug_form(std::string_view bytes);

}  // namespace tracemill
