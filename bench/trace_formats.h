// Writes generated traces as OTLP JSON lines, Jaeger JSON or Zipkin v2 JSON, streamed: one
// trace is built, encoded and dropped at a time (OTLP keeps the few traces of one line), so
// memory stays at a few MiB whatever the size.
//
// - OTLP: one export request {"resourceSpans":[...]} per line, as a collector's file exporter
//   writes them: one to six traces per line, grouped by resource (service.name and a few other
//   attributes) and scope; now and then a trace's spans are split over two lines.
// - Jaeger: {"data":[...]} with one object per trace, its processes listed in the trace.
// - Zipkin: a list of spans. The two sides of an HTTP or gRPC call share one span id, the server
//   side marked "shared": true, as Zipkin instruments them; a consumer has an id of its own,
//   child of its producer. The server side's children name the shared id as parent.
// HTTP status codes are `http.response.status_code` in OTLP and `http.status_code` in the other
// two; a failed span carries status code 2 and an `exception` event in OTLP, the `error` tag and
// an `event: error` log in Jaeger, the `error` tag with the message in Zipkin.
#pragma once

#include <cstdint>
#include <optional>

#include "base/sink.h"
#include "bench/trace_generator.h"

namespace tracemill::bench {

enum class TraceFormat { Otlp, Jaeger, Zipkin };

struct TraceGenOptions {
  std::uint64_t seed = 1;
  // Approximate size in bytes of the OTLP form; every format holds the same traces.
  std::uint64_t size = 100'000'000;
  // When set, the exact number of traces; `size` is then ignored.
  std::optional<std::uint64_t> traces;
  std::size_t services = 0;  // 0: chosen by the seed (20 to 40)
  TraceFormat format = TraceFormat::Otlp;
};

struct TraceGenSummary {
  bool ok = false;  // false when a write to the sink failed
  std::uint64_t traces = 0;
  std::uint64_t spans = 0;
  std::uint64_t failed_spans = 0;
  std::uint64_t bytes = 0;
};

// How many traces make an OTLP file of about `size` bytes (at least 1), estimated from a sample
// drawn from the generator's sample stream.
std::uint64_t traces_for_size(const TraceGenerator& gen, std::uint64_t size);

// Generates one trace file into `out`; it ends with a line feed.
TraceGenSummary write_traces_file(const TraceGenOptions& options, Sink& out);

}  // namespace tracemill::bench
