// Folding the call chains of a statistics file while it is decoded, with the result the whole
// record would give.
//
// Decoding hands every chain over as soon as its pair is decoded (ChainReceiver); the fold
// repairs it and adds it to a target at once. What the whole-record path decides only at the
// end waits here, in memory of the size of the graph:
//  - Output: nothing may be printed before the whole file has decoded, so the chains whose
//    repair reports a contradiction are logged (their call numbers and directions, a few words
//    per call) and their reports written by finish().
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
// be read twice (a pipe) logs every chain instead of adding it, and builds the target from the
// log at the end: its memory then grows with the number of calls, still far below the record.
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
  // One repaired chain: calls[i] numbers the (process, method) of call i in the fold's
  // CallNames, directions[i] is its repaired direction. Requires: count <= 2147483647.
  virtual void add(const CallNames& names, std::span<const std::uint32_t> calls,
                   std::span<const CallDirection> directions, std::uint32_t count) = 0;
  // Forgets every chain added, for a second reading of the file.
  virtual void clear() = 0;
};

// How folding a file ended when the file decoded.
enum class FoldEnd {
  Complete,         // every chain of every final operation is in the target
  CountOutOfRange,  // a chain count beyond the signed 32-bit range ended it
};

class ChainFold final : public ChainReceiver {
 public:
  // The log of diagnostics may hold this many bytes before a second reading takes its place.
  static constexpr std::size_t kDefaultLogAllowance = std::size_t{8} << 20;

  // Folds into `target`. `rereadable`: whether the file can be read a second time.
  ChainFold(ChainTarget& target, bool rereadable, std::size_t log_allowance = kDefaultLogAllowance);

  void operation(std::string_view key) override;
  void chain(std::span<const Call> calls, std::uint64_t count) override;

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

  // The log: per logged chain, its operation's number, its count, its length, then per call
  // the call's number shifted left by two bits with its direction as read in the low bits.
  void log_chain(std::span<const Call> calls, std::uint64_t count);
  // Repeats the logged chains of the operations `wanted` accepts: reports each chain's
  // repair, and adds it to the target when `add` is set.
  template <class Wanted>
  void replay_log(Wanted wanted, bool add, Sink& diagnostics);
  Result<FoldEnd, LoadError> read_again(StatsFile& file, std::uint64_t only, bool add, FoldEnd end,
                                        Sink& diagnostics);
  // The repair of one chain of a final operation: its report to `diagnostics`, and when
  // `add` is set, the chain into the target.
  void repeat(std::span<const Call> calls, std::span<const std::uint32_t> ids, std::uint32_t count,
              bool add, Sink& diagnostics);
  void intern(std::span<const Call> calls);

  ChainTarget& target_;
  const bool log_everything_;  // the file cannot be read twice: every chain is logged
  const std::size_t log_allowance_;
  CallNames names_;

  // Per operation, in file order: replaced by a later one with its key; holds a count beyond
  // the signed 32-bit range.
  std::vector<bool> replaced_;
  std::vector<bool> out_of_range_;
  HashMap<std::string, std::uint64_t> latest_;  // operation key -> its latest operation
  bool any_replaced_ = false;
  bool operation_ended_ = false;  // the current operation met a count out of range

  std::vector<std::uint64_t> log_;
  bool log_dropped_ = false;  // outgrew its allowance: diagnostics come from a second reading

  std::uint64_t reported_ = 0;

  std::vector<std::uint32_t> ids_;
  std::vector<CallDirection> directions_;
  std::vector<Call> calls_;  // a logged chain made whole again
};

// The largest chain count graph building accepts: the signed 32-bit maximum.
inline constexpr std::uint64_t kMaxChainCount = 2147483647;

}  // namespace tracemill
