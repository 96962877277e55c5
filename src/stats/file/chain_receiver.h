// ChainReceiver: what a statistics file is decoded into when only its call chains are wanted.
//
// Decoding for a receiver checks every field of the file exactly as decoding the whole record
// does (the same errors at the same places), but keeps only what graph building reads: the key
// of each operation and, for each pair of its call_chain list, the calls of the key and the
// count of the value. Each is handed over as soon as it is decoded, a call at a time, so nothing
// of the record accumulates, not even the calls of one chain. A receiver sees only a prefix of
// the file's chains when decoding fails, possibly ending in calls of a pair never closed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/record.h"
#include "stats/call_chain/call.h"
#include "stats/call_chain/cchain_stats.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

class ChainReceiver {
 public:
  virtual ~ChainReceiver() = default;
  // An entry of the `stats` map begins; the pairs of its call_chain list follow. The view
  // lives until the call returns.
  virtual void operation(std::string_view key) = 0;
  // The next call of the current pair's chain, in chain order. The call lives until the call
  // returns; decoding reuses it for the next.
  virtual void call(const Call& call) = 0;
  // The current pair ends, the next of the current operation's call_chain list in list order:
  // its calls are those handed to call() since the last chain() or operation(), its count is
  // the value's.
  virtual void chain(std::uint64_t count) = 0;

  // Whether the receiver takes the health fields of each value too: then, between the pair's
  // calls and its chain(), the elements of duration_micros go to durations() in order (in one
  // or more batches), every entry of
  // http_not_ok and error_logs to http_status() and error_log() (a key may come again: the
  // later entry replaces the earlier, as in the record), and last errors() gives
  // cc_not_http_ok and cc_with_error_logs. Asked once, when decoding starts.
  virtual bool wants_health() const { return false; }
  // The number of entries of the record's trace_id list, once it is decoded.
  virtual void trace_ids(std::uint64_t /*count*/) {}
  virtual void durations(std::span<const std::int64_t> /*micros*/) {}
  virtual void http_status(std::int16_t /*code*/, std::uint64_t /*count*/) {}
  virtual void error_log(std::string_view /*text*/, std::uint64_t /*count*/) {}
  virtual void errors(std::int32_t /*not_http_ok*/, std::int32_t /*with_error_logs*/) {}
};

// The durations of a list on their way to a receiver, in batches of up to kSize.
class DurationBatch {
 public:
  static constexpr std::size_t kSize = 256;
  void add(std::int64_t micros, ChainReceiver& receiver) {
    if (n_ == kSize) flush(receiver);
    micros_[n_++] = micros;
  }
  void flush(ChainReceiver& receiver) {
    if (n_ != 0) receiver.durations(std::span(micros_).first(n_));
    n_ = 0;
  }

 private:
  std::array<std::int64_t, kSize> micros_;
  std::size_t n_ = 0;
};

// What decoding for a receiver does with a field.
enum class FieldUse {
  Check,   // decoded and checked, nothing kept
  Keep,    // decoded into the record as usual
  Stream,  // a list or map whose elements go to the receiver one by one
};

namespace detail {
template <auto Wanted, class R, class T>
constexpr bool is_member(T R::*member) {
  if constexpr (std::is_same_v<decltype(Wanted), T R::*>) {
    return member == Wanted;
  } else {
    return false;
  }
}
}  // namespace detail

// The records on the way from the top of the file to the chains: only their listed fields are
// used. Every other record met while streaming a field (each call of a chain) is kept whole.
template <class T>
inline constexpr bool kOnChainPath =
    std::is_same_v<T, StatsRecJson> || std::is_same_v<T, OperationStatsJson> ||
    std::is_same_v<T, CChainStatsKey> || std::is_same_v<T, CChainStatsValue>;

// The use of field I of T when decoding for a receiver.
template <IsRecord T, std::size_t I>
constexpr FieldUse chain_field_use() {
  constexpr auto member = std::get<I>(Record<T>::fields).member;
  if constexpr (!kOnChainPath<T>) {
    return FieldUse::Keep;
  } else if constexpr (detail::is_member<&StatsRecJson::trace_id>(member) ||
                       detail::is_member<&StatsRecJson::stats>(member) ||
                       detail::is_member<&OperationStatsJson::call_chain>(member) ||
                       detail::is_member<&CChainStatsKey::call_chain>(member)) {
    return FieldUse::Stream;
  } else if constexpr (detail::is_member<&CChainStatsValue::count>(member) ||
                       detail::is_member<&CChainStatsValue::cc_not_http_ok>(member) ||
                       detail::is_member<&CChainStatsValue::cc_with_error_logs>(member)) {
    return FieldUse::Keep;
  } else if constexpr (detail::is_member<&CChainStatsValue::duration_micros>(member) ||
                       detail::is_member<&CChainStatsValue::http_not_ok>(member) ||
                       detail::is_member<&CChainStatsValue::error_logs>(member)) {
    // Streamed when the receiver wants_health(), else only checked.
    return FieldUse::Stream;
  } else {
    return FieldUse::Check;
  }
}

// A value of type T that is decoded and checked but not kept.
template <class T>
struct Checked {};

}  // namespace tracemill
