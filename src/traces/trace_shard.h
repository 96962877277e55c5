// Shares of the traces by trace id, for condensing one input in N processes: every trace falls
// into exactly one of the N shares, the same one on every machine and in every version.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tracemill {

// FNV-1a, 64 bits, of the bytes of `trace_id` (the normalised id: lowercase hex): the offset
// basis 14695981039346656037, each byte XORed in and then multiplied by 1099511628211, modulo
// 2^64.
constexpr std::uint64_t trace_id_hash(std::string_view trace_id) {
  std::uint64_t h = 14695981039346656037u;
  for (const char c : trace_id) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211u;
  }
  return h;
}

// Share `index` of `count`, counted from 1: the traces whose hash modulo `count` is index - 1.
struct TraceShard {
  std::uint32_t index = 1;
  std::uint32_t count = 1;
  constexpr bool holds(std::string_view trace_id) const {
    return trace_id_hash(trace_id) % count == index - 1;
  }
  bool operator==(const TraceShard&) const = default;
};

// "K/N" with 1 <= K <= N, both decimal without sign or leading blank (N at most 2^32 - 1);
// nothing for any other text.
std::optional<TraceShard> parse_trace_shard(std::string_view text);

}  // namespace tracemill
