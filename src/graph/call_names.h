// The numbering of the (process, method) pairs of the calls a run meets, shared by the fold of
// the chains, their repair and the graphs built from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/keyed_hash.h"
#include "stats/call_chain/call.h"

namespace tracemill {

// The distinct (process, method) pairs of the calls seen, numbered from 0 in order of first
// sight, and the distinct process names, numbered the same way. Numbers stay valid for the
// life of the table.
class CallNames {
 public:
  CallNames();

  // The number of the pair, made when it is new.
  std::uint32_t intern(std::string_view process, std::string_view method);

  std::size_t size() const { return calls_.size(); }
  std::string_view process(std::uint32_t call) const;
  std::string_view method(std::uint32_t call) const;
  // The number of the call's process name, in [0, process_count()).
  std::uint32_t process_id(std::uint32_t call) const { return calls_[call].process; }
  std::size_t process_count() const { return processes_.size(); }
  std::string_view process_name(std::uint32_t process) const { return *processes_[process]; }

 private:
  struct Entry {
    const char* names;  // the process name, then the method, in the map's key
    std::size_t process_size;
    std::size_t method_size;
    std::uint32_t process;
  };
  // A cache in front of the map: per set of two slots, the numbers of the two pairs met last
  // whose names fall there, or kNone. A hit, confirmed by comparing both names, spares building
  // the key and the keyed hash; the set is chosen by a cheap hash seeded per table, so input
  // cannot aim at a set, and a miss costs little more than the map alone.
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};
  static constexpr int kCacheBits = 14;
  std::size_t cache_slot(std::string_view process, std::string_view method) const;
  std::vector<std::uint32_t> cache_;
  std::uint64_t cache_seed_;

  HashMap<std::string, std::uint32_t> by_key_;
  HashMap<std::string, std::uint32_t> process_by_name_;
  std::vector<Entry> calls_;
  std::vector<const std::string*> processes_;
  std::string key_;  // reused for lookups
};

// One call of a chain as one word: the number of its (process, method) pair in a CallNames,
// shifted left by two bits, with its direction in the low two bits. A chain held this way costs
// eight bytes a call, whatever the length of its names.
constexpr std::uint64_t call_word(std::uint32_t call, CallDirection direction) {
  return std::uint64_t{call} << 2 | static_cast<std::uint64_t>(direction);
}
constexpr std::uint32_t word_call(std::uint64_t word) {
  return static_cast<std::uint32_t>(word >> 2);
}
constexpr CallDirection word_direction(std::uint64_t word) {
  return static_cast<CallDirection>(word & 3);
}

}  // namespace tracemill
