// Fuzzes the binary decoder: any bytes must decode or fail with an error, without a crash, a
// sanitizer report or a large allocation, whatever the refill block size.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_source.h"
#include "stats/file/bincode_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tracemill;
  // A second decode takes the same bytes in blocks of 1 to 5 bytes, so fixed-size values and
  // texts also arrive split across refills.
  std::size_t block = 1 + size % 5;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  auto whole = decode_bincode(ByteSource::from_memory(bytes, ByteSource::kBufferSize));
  auto split = decode_bincode(ByteSource::from_memory(bytes, block));
  // The outcome must not depend on how the input is split into blocks.
  if (whole.ok() != split.ok()) __builtin_trap();
  if (whole.ok() ? !(whole.value() == split.value()) : !(whole.error() == split.error())) {
    __builtin_trap();
  }
  return 0;
}
