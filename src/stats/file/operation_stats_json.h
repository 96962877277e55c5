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

#include "base/byte_source.h"
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

class ChainReceiver;

// The two encodings of a statistics file, chosen by the file-name extension.
enum class Encoding { Json, Bincode };

// An open statistics file: its bytes and the encoding its extension selects. Decoding it once,
// whole or as a stream of chains, reads it to the end; rewind() starts a second reading.
class StatsFile {
 public:
  // Opens `path` read-only. A path that is not UTF-8 ends the run with a fatal report; a file
  // that cannot be opened is the returned operating-system error; then a path without
  // extension, or with one other than "json" and "bincode", ends the run with a fatal report.
  // (A missing file is therefore reported whatever its name.)
  static Result<StatsFile, LoadError> open(const std::filesystem::path& path);
  // Test door: `source` holds a file in `encoding`.
  StatsFile(Encoding encoding, ByteSource source)
      : encoding_(encoding), source_(std::move(source)) {}

  Encoding encoding() const { return encoding_; }
  // Decodes the whole record. The file is closed when this returns.
  Result<StatsRecJson, LoadError> read() &&;
  // Decodes from the current position, handing operations and chains to `receiver`; returns the
  // error that stopped decoding, if any.
  std::optional<LoadError> stream(ChainReceiver& receiver);
  // Back to the first byte, for a second reading. Only a regular file can be read twice: false
  // for a pipe or a terminal.
  bool rewind() { return source_.rewind(); }
  bool rereadable() const { return source_.rereadable(); }

 private:
  Encoding encoding_;
  ByteSource source_;
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
