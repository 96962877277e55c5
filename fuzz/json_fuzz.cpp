// Fuzzes JSON decoding. The first byte picks the block size the input is served in; the
// outcome must not depend on it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/byte_source.h"
#include "stats/file/json_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tracemill;
  if (size == 0) return 0;
  std::size_t block = data[0] % 16 + 1;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  auto small = decode_json(ByteSource::from_memory(bytes, block));
  auto whole = decode_json(ByteSource::from_memory(bytes));
  if (small.ok() != whole.ok()) std::abort();
  if (small.ok()) {
    if (!(small.value() == whole.value())) std::abort();
  } else {
    if (!(small.error() == whole.error())) std::abort();
    // Without a read failure, every error has a position.
    if (whole.error().line == 0) std::abort();
  }
  return 0;
}
