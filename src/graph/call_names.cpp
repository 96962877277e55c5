#include "graph/call_names.h"

#include <cstring>
#include <utility>

namespace tracemill {

namespace {

// Up to eight bytes of `text` as a number: its first eight, its last eight, or all of a
// shorter one (in any order: the number only chooses a cache slot).
std::uint64_t head_bytes(std::string_view text) {
  std::uint64_t w = 0;
  if (text.size() >= sizeof w) {
    std::memcpy(&w, text.data(), sizeof w);
  } else {
    for (char c : text) w = w << 8 | static_cast<unsigned char>(c);
  }
  return w;
}
std::uint64_t tail_bytes(std::string_view text) {
  if (text.size() < 8) return head_bytes(text);
  std::uint64_t w;
  std::memcpy(&w, text.data() + text.size() - 8, sizeof w);
  return w;
}

}  // namespace

CallNames::CallNames()
    : cache_(std::size_t{1} << kCacheBits, kNone), cache_seed_(next_hash_key().k0) {}

std::size_t CallNames::cache_slot(std::string_view process, std::string_view method) const {
  // Method names often share their start ("GET /api/v1/..."), process names less so.
  std::uint64_t h = (head_bytes(process) ^ cache_seed_) * 0x9E3779B97F4A7C15ULL;
  h ^= (tail_bytes(method) + (method.size() << 8 | process.size())) * 0xC2B2AE3D27D4EB4FULL;
  h ^= h >> 29;
  return static_cast<std::size_t>((h * 0x94D049BB133111EBULL) >> (64 - kCacheBits));
}

std::uint32_t CallNames::intern(std::string_view process, std::string_view method) {
  // Two ways per set, the one used last first.
  std::uint32_t* set = &cache_[cache_slot(process, method) & ~std::size_t{1}];
  auto is = [&](std::uint32_t call) {
    if (call == kNone) return false;
    const Entry& e = calls_[call];
    return e.process_size == process.size() && e.method_size == method.size() &&
           std::memcmp(e.names, process.data(), process.size()) == 0 &&
           std::memcmp(e.names + process.size(), method.data(), method.size()) == 0;
  };
  if (is(set[0])) return set[0];
  if (is(set[1])) {
    std::swap(set[0], set[1]);
    return set[0];
  }
  // One key for the pair: the process name's length keeps ("ab", "c") apart from ("a", "bc").
  const std::size_t length = process.size();
  key_.resize(sizeof length);
  std::memcpy(key_.data(), &length, sizeof length);
  key_.append(process);
  key_.append(method);
  auto [it, inserted] = by_key_.try_emplace(key_, static_cast<std::uint32_t>(calls_.size()));
  if (inserted) {
    auto [named, new_name] = process_by_name_.try_emplace(
        std::string(process), static_cast<std::uint32_t>(processes_.size()));
    if (new_name) processes_.push_back(&named->first);
    // The map's keys stay where they are for the life of the map.
    calls_.push_back(
        Entry{it->first.data() + sizeof length, process.size(), method.size(), named->second});
  }
  set[1] = set[0];
  set[0] = it->second;
  return it->second;
}

std::string_view CallNames::process(std::uint32_t call) const {
  return process_name(calls_[call].process);
}

std::string_view CallNames::method(std::uint32_t call) const {
  const Entry& e = calls_[call];
  return std::string_view(e.names + e.process_size, e.method_size);
}

}  // namespace tracemill
