// The streaming run against the whole-record path on any bytes. The first byte sets up the
// streaming run: bit 0 whether the input can be read a second time, bit 1 whether waiting
// diagnostics may use memory or must come from a second reading, bits 2-7 the read block
// (1 to 63 bytes, or the real buffer for 0). Any difference is a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "graph/path_equivalence.h"

inline int fuzz_stream(const std::uint8_t* data, std::size_t size, tracemill::Encoding encoding) {
  using namespace tracemill;
  if (size == 0) return 0;
  const bool rereadable = (data[0] & 1) != 0;
  const std::size_t allowance = (data[0] & 2) != 0 ? ChainFold::kDefaultLogAllowance : 0;
  const std::size_t block = data[0] >> 2 == 0 ? ByteSource::kBufferSize : data[0] >> 2;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string difference =
      test_util::path_difference(bytes, encoding, block, rereadable, allowance);
  if (!difference.empty()) {
    std::fprintf(stderr, "%s\n", difference.c_str());
    std::abort();
  }
  return 0;
}
