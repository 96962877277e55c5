// Fuzzes reading OTLP JSON and condensing its spans (see trace_fuzz.h).
#include "trace_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tracemill::trace_fuzz::fuzz_traces(data, size, tracemill::TraceFormat::Otlp);
}
