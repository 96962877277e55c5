// Reading trace files: OTLP JSON (a document with resourceSpans, the batches form that trace
// queries return, or JSON lines of either, one export request a line), Jaeger JSON ({"data":
// [...]} or a single trace object) and Zipkin v2 JSON (a list of spans, or a list of such
// lists), each span handed on in its normalised form.
#pragma once

#include <optional>

#include "base/byte_source.h"
#include "stats/file/load_error.h"
#include "traces/span.h"
#include "traces/trace_format.h"

namespace tracemill {

// Where the spans of a file go. The span handed to add() lives for the call only.
class SpanConsumer {
 public:
  virtual ~SpanConsumer() = default;
  virtual void add(const Span& span) = 0;
};

// Reads every span of one input from `source` and hands each to `out`, in the format given,
// or recognised from the content when `format` is empty. A gzip-compressed input (recognised
// by its first bytes) is read inflated; a broken compressed stream is an error without
// position, even when the JSON went wrong before the fault. Returns the error that stopped the
// reading (broken JSON, a document in none of the formats, a span without a trace or span id,
// an id neither hex nor base64, a time that is not an integer), with its line and column;
// spans handed on before it stay handed on. Members the formats do not name, unknown span
// kinds and attributes of other value types are accepted and ignored.
std::optional<JsonError> read_traces(ByteSource& source, std::optional<TraceFormat> format,
                                     SpanConsumer& out);

}  // namespace tracemill
