// Reading (and writing) bytes a word at a time in memory order, whatever the host's byte order.
//
// Word-at-a-time scanning finds "the first byte that ..." by carries that run from one byte to
// the next and by the lowest set bit of a mask. Both hold only when the word's least
// significant byte is the first byte in memory, which a plain load gives on little-endian hosts
// alone: load_le64() swaps the bytes on big-endian ones.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tracemill {

inline std::uint64_t byte_swap64(std::uint64_t w) {
  w = (w & 0x00000000FFFFFFFFULL) << 32 | (w & 0xFFFFFFFF00000000ULL) >> 32;
  w = (w & 0x0000FFFF0000FFFFULL) << 16 | (w & 0xFFFF0000FFFF0000ULL) >> 16;
  return (w & 0x00FF00FF00FF00FFULL) << 8 | (w & 0xFF00FF00FF00FF00ULL) >> 8;
}

// The eight bytes at `p` as a word whose least significant byte is p[0].
inline std::uint64_t load_le64(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = byte_swap64(w);
  return w;
}

// Stores `w` at `p` with its least significant byte first.
inline void store_le64(char* p, std::uint64_t w) {
  if constexpr (std::endian::native == std::endian::big) w = byte_swap64(w);
  std::memcpy(p, &w, sizeof w);
}

// Every byte of a word, marked in its high bit.
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

// The index (0 to 7) of the first byte marked in `marks` (high bits of a load_le64 word).
inline int first_marked(std::uint64_t marks) { return std::countr_zero(marks) / 8; }

}  // namespace tracemill
