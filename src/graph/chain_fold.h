// Folding the call chains of a statistics file while it is decoded, with the result the whole
// record would give.
//
// Decoding hands every call over as soon as it is decoded and closes each pair with its count
// (ChainReceiver); the fold interns each call at once, holds the chain being decoded as one
// word a call (call_word()), and when the pair closes repairs it and adds it to a target. What
// the whole-record path decides only at the end waits here, in memory of the size of the graph:
//  - Output: nothing may be printed before the whole file has decoded, so the chains whose
//    repair reports a contradiction are logged (their words as read, one per call) and their
//    reports written by finish().
//  - Duplicate operation keys: a later operation replaces an earlier one with the same key
//    entirely. Each operation is numbered in file order; a replaced one is marked, and its
//    logged chains are passed over.
//  - Counts beyond the signed 32-bit range: the run ends with the report of the first chain
//    counted that way, and with the diagnostics of the chains counted before it. Operations
//    may be taken in any order, so finish() takes the first operation (in file order) that is
//    not replaced and holds such a count first: its diagnostics before that chain are all that
//    is printed.
// When the record cannot be had this way, finish() reads the file a second time: when a
// replaced operation's chains have already been added to the target (the target is cleared and
// the final operations are added again), and when the log of diagnostics outgrew its
// allowance (its reports are written from the second reading instead). An input that cannot
// be read twice (a pipe) logs every chain instead of adding it (its calls go straight into the
// log), and builds the target from the log at the end: its memory then grows with the number
// of calls, one word each, still far below the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/keyed_hash.h"
#include "base/result.h"
#include "base/sink.h"
#include "graph/call_names.h"
#include "stats/call_chain/call.h"
#include "stats/file/chain_receiver.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Where the fold adds the repaired chains: the process graph, or another summary of them.
class ChainTarget {
 public:
  virtual ~ChainTarget() = default;
  // One repaired chain: calls[i] is call i as a word of the fold's CallNames (call_word()),
  // with its repaired direction. Requires: count <= 2147483647.
  virtual void add(const CallNames& names, std::span<const std::uint64_t> calls,
                   std::uint32_t count) = 0;
  // Forgets every chain added, for a second reading of the file.
  virtual void clear() = 0;

  // Whether the target takes the health fields of each pair's value. Then the fold hands them
  // over as they are decoded, before the chain's add(), which takes them with the chain
  // (ChainReceiver's durations() to errors() describe them); a pair that is not added has them
  // dropped. For a chain added only after the whole file (from a pipe), hold_health() keeps
  // them under a number and restore_health() brings them back before the add.
  virtual bool wants_health() const { return false; }
  virtual void durations(std::span<const std::int64_t> /*micros*/) {}
  virtual void http_status(std::int16_t /*code*/, std::uint64_t /*count*/) {}
  virtual void error_log(std::string_view /*text*/, std::uint64_t /*count*/) {}
  virtual void errors(std::int32_t /*not_http_ok*/, std::int32_t /*with_error_logs*/) {}
  virtual void drop_health() {}
  virtual std::uint64_t hold_health() { return 0; }
  virtual void restore_health(std::uint64_t /*held*/) {}
};

// How folding a file ended when the file decoded.
enum class FoldEnd {
  Complete,         // every chain of every final operation is in the target
  CountOutOfRange,  // a chain count beyond the signed 32-bit range ended it
};

// What a file holds, as a fold saw it: the entries of its trace_id list, its final operations
// (one per key) and their chains.
struct RecordCounts {
  std::uint64_t traces = 0;
  std::uint64_t operations = 0;
  std::uint64_t chains = 0;
  bool operator==(const RecordCounts&) const = default;
};

class ChainFold final : public ChainReceiver {
 public:
  // The log of diagnostics may hold this many bytes before a second reading takes its place.
  static constexpr std::size_t kDefaultLogAllowance = std::size_t{8} << 20;

  // Folds into `target`. `rereadable`: whether the file can be read a second time.
  ChainFold(ChainTarget& target, bool rereadable, std::size_t log_allowance = kDefaultLogAllowance);

  void operation(std::string_view key) override;
  void call(const Call& call) override;
  void chain(std::uint64_t count) override;

  void trace_ids(std::uint64_t count) override { traces_ = count; }
  // Of what was decoded.
  RecordCounts counts() const;

  // The health fields go straight to the target.
  bool wants_health() const override { return target_.wants_health(); }
  void durations(std::span<const std::int64_t> micros) override { target_.durations(micros); }
  void http_status(std::int16_t code, std::uint64_t count) override {
    target_.http_status(code, count);
  }
  void error_log(std::string_view text, std::uint64_t count) override {
    target_.error_log(text, count);
  }
  void errors(std::int32_t not_http_ok, std::int32_t with_error_logs) override {
    target_.errors(not_http_ok, with_error_logs);
  }

  // After the whole file decoded: completes the target and writes the repair reports of the
  // chains that count, or of those before the first count out of range, to `diagnostics`
  // (reading the file again where needed, see above). Returns the error of a second reading
  // that failed (the file changed meanwhile).
  Result<FoldEnd, LoadError> finish(StatsFile& file, Sink& diagnostics);

  const CallNames& names() const { return names_; }
  // How many repair reports finish() wrote.
  std::uint64_t reported_chains() const { return reported_; }

 private:
  class SecondReading;

  // The log: per logged chain, its operation's number, its count, its length, then its words
  // with the directions as read.
  // Logs the chain being decoded (chain_) with `count`, or drops the log when it would outgrow
  // its allowance.
  void log_chain(std::uint64_t count);
  // When every chain is logged, the chain being decoded is the log's last entry: opened with
  // its first call (or at its end when it has none), closed with its count.
  void open_logged_chain();
  // Forgets the calls of the chain being decoded.
  void drop_chain();
  // Repeats the logged chains of the operations `wanted` accepts: reports each chain's
  // repair, and adds it to the target when `add` is set. Repairs the logged words in place:
  // the log is replayed once.
  template <class Wanted>
  void replay_log(Wanted wanted, bool add, Sink& diagnostics);
  Result<FoldEnd, LoadError> read_again(StatsFile& file, std::uint64_t only, bool add, FoldEnd end,
                                        Sink& diagnostics);
  // The repair of one chain of a final operation, in place: its report to `diagnostics`, and
  // when `add` is set, the chain into the target.
  void repeat(std::span<std::uint64_t> chain, std::uint32_t count, bool add, Sink& diagnostics);

  ChainTarget& target_;
  const bool log_everything_;  // the file cannot be read twice: every chain is logged
  const std::size_t log_allowance_;
  CallNames names_;

  // Per operation, in file order: replaced by a later one with its key; holds a count beyond
  // the signed 32-bit range.
  std::vector<bool> replaced_;
  std::vector<bool> out_of_range_;
  std::vector<std::uint64_t> chains_of_;  // per operation, the pairs of its list
  std::uint64_t traces_ = 0;
  HashMap<std::string, std::uint64_t> latest_;  // operation key -> its latest operation
  bool any_replaced_ = false;
  bool operation_ended_ = false;  // the current operation met a count out of range

  std::vector<std::uint64_t> log_;
  bool log_dropped_ = false;  // outgrew its allowance: diagnostics come from a second reading
  // When every chain is logged and the target wants health: per logged chain in log order, the
  // number its health is held under.
  std::vector<std::uint64_t> held_health_;

  std::uint64_t reported_ = 0;

  // The chain being decoded, one word a call as read (unless every chain is logged).
  std::vector<std::uint64_t> chain_;
  std::vector<std::pair<std::size_t, std::uint64_t>> changed_;  // what its repair changed
  static constexpr std::size_t kNoChain = ~std::size_t{0};
  std::size_t logged_at_ = kNoChain;  // where the log entry of the chain being decoded starts
};

// The largest chain count graph building accepts: the signed 32-bit maximum.
inline constexpr std::uint64_t kMaxChainCount = 2147483647;

}  // namespace tracemill
