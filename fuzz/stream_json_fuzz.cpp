// Fuzzes the streaming run on JSON against the whole-record path (see stream_fuzz.h).
#include "stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_stream(data, size, tracemill::Encoding::Json);
}
