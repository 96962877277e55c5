#include "graph/chain_fold.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "graph/fix_callchain.h"

namespace tracemill {

namespace {

// Takes nothing: the first write fails, so a report written to it stops at once. The first
// reading repairs chains only for their directions and whether they contradict themselves.
class NoReport final : public Sink {
 public:
  bool write(std::string_view) override { return false; }
};

}  // namespace

ChainFold::ChainFold(ChainTarget& target, bool rereadable, std::size_t log_allowance)
    : target_(target), log_everything_(!rereadable), log_allowance_(log_allowance) {}

void ChainFold::operation(std::string_view key) {
  const std::uint64_t number = replaced_.size();
  replaced_.push_back(false);
  out_of_range_.push_back(false);
  operation_ended_ = false;
  auto [it, inserted] = latest_.try_emplace(std::string(key), number);
  if (!inserted) {
    replaced_[it->second] = true;
    it->second = number;
    any_replaced_ = true;
  }
}

void ChainFold::chain(std::span<const Call> calls, std::uint64_t count) {
  // Only an operation opens a chain list; decoding guarantees one has begun.
  if (operation_ended_) return;
  if (count > kMaxChainCount) {
    // The chains after it in this operation can never count: the operation either ends the
    // run here or is replaced.
    out_of_range_.back() = true;
    operation_ended_ = true;
    return;
  }
  if (log_everything_) {
    log_chain(calls, count);
    return;
  }
  NoReport no_report;
  bool contradicted = fix_callchain(calls, directions_, no_report);
  intern(calls);
  target_.add(names_, ids_, directions_, static_cast<std::uint32_t>(count));
  if (contradicted) log_chain(calls, count);
}

void ChainFold::intern(std::span<const Call> calls) {
  ids_.resize(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    ids_[i] = names_.intern(calls[i].process, calls[i].method);
  }
}

void ChainFold::log_chain(std::span<const Call> calls, std::uint64_t count) {
  if (log_dropped_) return;
  const std::size_t words = 3 + calls.size();
  if (!log_everything_ && (log_.size() + words) * sizeof(std::uint64_t) > log_allowance_) {
    log_dropped_ = true;
    std::vector<std::uint64_t>().swap(log_);
    return;
  }
  if (log_everything_) intern(calls);  // the fold interned them already otherwise
  log_.push_back(replaced_.size() - 1);
  log_.push_back(count);
  log_.push_back(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    log_.push_back(std::uint64_t{ids_[i]} << 2 |
                   static_cast<std::uint64_t>(calls[i].call_direction));
  }
}

void ChainFold::repeat(std::span<const Call> calls, std::span<const std::uint32_t> ids,
                       std::uint32_t count, bool add, Sink& diagnostics) {
  if (fix_callchain(calls, directions_, diagnostics)) ++reported_;
  if (add) target_.add(names_, ids, directions_, count);
}

template <class Wanted>
void ChainFold::replay_log(Wanted wanted, bool add, Sink& diagnostics) {
  for (std::size_t at = 0; at < log_.size();) {
    const std::uint64_t operation = log_[at];
    const auto count = static_cast<std::uint32_t>(log_[at + 1]);
    const std::size_t length = log_[at + 2];
    at += 3;
    if (wanted(operation)) {
      calls_.resize(length);
      ids_.resize(length);
      for (std::size_t i = 0; i < length; ++i) {
        const std::uint64_t word = log_[at + i];
        ids_[i] = static_cast<std::uint32_t>(word >> 2);
        calls_[i].process.assign(names_.process(ids_[i]));
        calls_[i].method.assign(names_.method(ids_[i]));
        calls_[i].call_direction = static_cast<CallDirection>(word & 3);
      }
      repeat(calls_, ids_, count, add, diagnostics);
    }
    at += length;
  }
}

// The receiver of a second reading: numbers the operations again and repeats the chains of
// the final ones (or of one of them) as they come, up to a count out of range.
class ChainFold::SecondReading final : public ChainReceiver {
 public:
  SecondReading(ChainFold& fold, std::uint64_t only, bool add, Sink& diagnostics)
      : fold_(fold), only_(only), add_(add), diagnostics_(diagnostics) {}

  void operation(std::string_view) override {
    ++number_;
    const std::vector<bool>& replaced = fold_.replaced_;
    // A file that changed since the first reading may hold more operations; they do not count.
    wanted_ =
        number_ < replaced.size() && !replaced[number_] && (only_ == kAll || number_ == only_);
  }

  void chain(std::span<const Call> calls, std::uint64_t count) override {
    if (!wanted_) return;
    if (count > kMaxChainCount) {
      wanted_ = false;
      return;
    }
    if (add_) fold_.intern(calls);
    fold_.repeat(calls, fold_.ids_, static_cast<std::uint32_t>(count), add_, diagnostics_);
  }

  static constexpr std::uint64_t kAll = ~std::uint64_t{0};

 private:
  ChainFold& fold_;
  const std::uint64_t only_;
  const bool add_;
  Sink& diagnostics_;
  std::uint64_t number_ = ~std::uint64_t{0};
  bool wanted_ = false;
};

Result<FoldEnd, LoadError> ChainFold::read_again(StatsFile& file, std::uint64_t only, bool add,
                                                 FoldEnd end, Sink& diagnostics) {
  if (add) target_.clear();
  if (!file.rewind()) return Err{LoadError{OsError{ESPIPE}}};
  SecondReading reading(*this, only, add, diagnostics);
  if (std::optional<LoadError> error = file.stream(reading)) return Err{std::move(*error)};
  return end;
}

Result<FoldEnd, LoadError> ChainFold::finish(StatsFile& file, Sink& diagnostics) {
  const bool log_complete = !log_dropped_;
  // The first final operation holding a count out of range ends the run.
  for (std::uint64_t op = 0; op < replaced_.size(); ++op) {
    if (!out_of_range_[op] || replaced_[op]) continue;
    if (!log_complete) return read_again(file, op, false, FoldEnd::CountOutOfRange, diagnostics);
    replay_log([op](std::uint64_t logged) { return logged == op; }, false, diagnostics);
    return FoldEnd::CountOutOfRange;
  }
  auto is_final = [this](std::uint64_t op) { return !replaced_[op]; };
  if (log_everything_) {
    // Nothing was added while reading: the target is built from the log.
    replay_log(is_final, true, diagnostics);
  } else if (any_replaced_) {
    // Replaced operations were added: build the target again from the final ones.
    return read_again(file, SecondReading::kAll, true, FoldEnd::Complete, diagnostics);
  } else if (!log_complete) {
    return read_again(file, SecondReading::kAll, false, FoldEnd::Complete, diagnostics);
  } else {
    replay_log(is_final, false, diagnostics);
  }
  return FoldEnd::Complete;
}

}  // namespace tracemill
