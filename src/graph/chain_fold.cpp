#include "graph/chain_fold.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "graph/fix_callchain.h"

namespace tracemill {

ChainFold::ChainFold(ChainTarget& target, bool rereadable, std::size_t log_allowance)
    : target_(target), log_everything_(!rereadable), log_allowance_(log_allowance) {}

void ChainFold::operation(std::string_view key) {
  const std::uint64_t number = replaced_.size();
  replaced_.push_back(false);
  out_of_range_.push_back(false);
  chains_of_.push_back(0);
  operation_ended_ = false;
  auto [it, inserted] = latest_.try_emplace(std::string(key), number);
  if (!inserted) {
    replaced_[it->second] = true;
    it->second = number;
    any_replaced_ = true;
  }
}

void ChainFold::call(const Call& call) {
  // The chains after a count out of range in this operation are not even interned.
  if (operation_ended_) return;
  const std::uint64_t word =
      call_word(names_.intern(call.process, call.method), call.call_direction);
  if (log_everything_) {
    open_logged_chain();
    log_.push_back(word);
  } else {
    chain_.push_back(word);
  }
}

RecordCounts ChainFold::counts() const {
  RecordCounts counts{traces_, latest_.size(), 0};
  for (std::size_t i = 0; i < chains_of_.size(); ++i) {
    if (!replaced_[i]) counts.chains += chains_of_[i];
  }
  return counts;
}

void ChainFold::chain(std::uint64_t count) {
  // Only an operation opens a chain list; decoding guarantees one has begun.
  ++chains_of_.back();
  if (operation_ended_) {
    target_.drop_health();
    return;
  }
  if (count > kMaxChainCount) {
    // The chains after it in this operation can never count: the operation either ends the
    // run here or is replaced.
    out_of_range_.back() = true;
    operation_ended_ = true;
    drop_chain();
    target_.drop_health();
    return;
  }
  if (log_everything_) {
    open_logged_chain();
    log_[logged_at_ + 1] = count;
    log_[logged_at_ + 2] = log_.size() - logged_at_ - 3;
    logged_at_ = kNoChain;
    if (target_.wants_health()) held_health_.push_back(target_.hold_health());
    return;
  }
  // The first reading repairs chains only for their directions and whether they contradict
  // themselves; the reports come at the end.
  changed_.clear();
  if (repair_directions(names_, chain_, changed_)) {
    // The log keeps the chain as it came.
    for (auto& [i, word] : changed_) std::swap(chain_[i], word);
    log_chain(count);
    for (auto& [i, word] : changed_) std::swap(chain_[i], word);
  }
  target_.add(names_, chain_, static_cast<std::uint32_t>(count));
  chain_.clear();
}

void ChainFold::open_logged_chain() {
  if (logged_at_ != kNoChain) return;
  logged_at_ = log_.size();
  log_.insert(log_.end(), {replaced_.size() - 1, 0, 0});
}

void ChainFold::drop_chain() {
  chain_.clear();
  if (logged_at_ != kNoChain) log_.resize(logged_at_);
  logged_at_ = kNoChain;
}

void ChainFold::log_chain(std::uint64_t count) {
  if (log_dropped_) return;
  const std::size_t words = 3 + chain_.size();
  if ((log_.size() + words) * sizeof(std::uint64_t) > log_allowance_) {
    log_dropped_ = true;
    std::vector<std::uint64_t>().swap(log_);
    return;
  }
  log_.insert(log_.end(), {replaced_.size() - 1, count, chain_.size()});
  log_.insert(log_.end(), chain_.begin(), chain_.end());
}

void ChainFold::repeat(std::span<std::uint64_t> chain, std::uint32_t count, bool add,
                       Sink& diagnostics) {
  if (fix_callchain(names_, chain, diagnostics)) ++reported_;
  if (add) target_.add(names_, chain, count);
}

template <class Wanted>
void ChainFold::replay_log(Wanted wanted, bool add, Sink& diagnostics) {
  // Only a log of every chain holds health, and only then are chains added from it.
  const bool with_health = add && !held_health_.empty();
  for (std::size_t at = 0, chain = 0; at < log_.size(); ++chain) {
    const std::uint64_t operation = log_[at];
    const auto count = static_cast<std::uint32_t>(log_[at + 1]);
    const std::size_t length = log_[at + 2];
    at += 3;
    if (wanted(operation)) {
      if (with_health) target_.restore_health(held_health_[chain]);
      repeat(std::span<std::uint64_t>(log_).subspan(at, length), count, add, diagnostics);
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

  void call(const Call& call) override {
    if (!wanted_) return;
    fold_.chain_.push_back(
        call_word(fold_.names_.intern(call.process, call.method), call.call_direction));
  }

  void chain(std::uint64_t count) override {
    if (wanted_ && count > kMaxChainCount) wanted_ = false;
    if (wanted_) {
      fold_.repeat(fold_.chain_, static_cast<std::uint32_t>(count), add_, diagnostics_);
    } else if (add_) {
      fold_.target_.drop_health();
    }
    fold_.chain_.clear();
  }

  // Only a reading that adds chains takes their health again.
  bool wants_health() const override { return add_ && fold_.target_.wants_health(); }
  void durations(std::span<const std::int64_t> micros) override { fold_.target_.durations(micros); }
  void http_status(std::int16_t code, std::uint64_t count) override {
    fold_.target_.http_status(code, count);
  }
  void error_log(std::string_view text, std::uint64_t count) override {
    fold_.target_.error_log(text, count);
  }
  void errors(std::int32_t not_http_ok, std::int32_t with_error_logs) override {
    fold_.target_.errors(not_http_ok, with_error_logs);
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
