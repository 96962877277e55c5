// tracemill: read a statistics file, repair the call directions of its call chains and fold
// them into a process graph.
//
// The one header of the tracemill library. Include it as <tracemill/tracemill.h> and link
// tracemill::tracemill (CMake: find_package(tracemill CONFIG)) or `pkg-config --libs tracemill`;
// it needs C++20. The headers below tracemill/ other than this one come with it and are not
// meant to be included on their own: they may be split or renamed between minor versions.
//
// Four calls and one class cover the uses:
//   load_file(path)               the whole statistics record, every field checked;
//   stream_file(path, sink)       the process graph, the file decoded once without building
//                                 the record (what the tracemill program does);
//   write_graph(sink, graph)      the graph as the tracemill program prints it;
//   write_record(sink, record, encoding)
//                                 a statistics record as a file that load_file reads back;
//   Condenser                     spans in (one by one, or whole trace files through
//                                 read_traces), the statistics record out (what the
//                                 tracemill-condense program does);
//   RecordMerger                  records of disjoint sets of traces in, the record of all
//                                 their traces out (tracemill-condense --merge); TraceShard
//                                 picks the traces of one share (--shard K/N).
// The text form of any other value the library returns, a LoadError for one, is
// compact_string(value) (one line) or write_debug(Formatter&, value).
//
// Ownership: every returned value (record, graph, error) owns all its data and refers to
// nothing else; sinks are borrowed for the length of a call, files are closed before it
// returns.
//
// Errors from the file (it cannot be opened or read, or does not decode) come back as a
// LoadError value. What the library treats as unsupported ends the process with a report on
// standard error and exit status 101, as the program does: a path that is not UTF-8, a file
// that opens but whose name ends in neither ".json" nor ".bincode", and a per-method sum
// beyond the signed 64-bit range.
//
// Maps (HashMap) are unordered and are hashed with keys drawn at random for each process, so
// their order differs from run to run. Everything is in namespace tracemill.
#pragma once

#include <filesystem>
#include <utility>
#include <variant>

#include "tracemill/base/result.h"
#include "tracemill/base/sink.h"
#include "tracemill/graph/build_graph.h"
#include "tracemill/graph/process_node.h"
#include "tracemill/graph/write_graph.h"
#include "tracemill/stats/file/load_error.h"
#include "tracemill/stats/file/operation_stats_json.h"
#include "tracemill/stats/file/record_writer.h"
#include "tracemill/stats/record_merger.h"
#include "tracemill/text_form/debug.h"
#include "tracemill/traces/condenser.h"
#include "tracemill/traces/span.h"
#include "tracemill/traces/trace_reader.h"
#include "tracemill/traces/trace_shard.h"

namespace tracemill {

// Reads the statistics file at `path` whole, decoding it by its extension ("json" or
// "bincode"). Returns the record (StatsRecJson, declared in stats/file/operation_stats_json.h)
// or the error that stopped reading it. The file is closed when this returns.
// build_graph(record, diagnostics) then folds the record into the same graph stream_file gives.
inline Result<StatsRecJson, LoadError> load_file(const std::filesystem::path& path) {
  return StatsRecJson::read_file(path);
}

// Reads the statistics file at `path` once, repairing each call chain and folding it into the
// process graph as soon as it is decoded; the record is never built. Returns one of
//  - ProcessNodes: the graph. The chains whose repair found a contradiction have been
//    reported on `diagnostics` (the lines the program prints before the graph);
//  - CountOutOfRange: a chain count beyond the signed 32-bit range stopped the building; only
//    the reports of the chains counted before it were written;
//  - LoadError: the file could not be opened, read or decoded; nothing was written.
inline StreamedGraph stream_file(const std::filesystem::path& path, Sink& diagnostics) {
  Result<StatsFile, LoadError> file = StatsFile::open(path);
  if (!file) return StreamedGraph(std::in_place_type<LoadError>, std::move(file).error());
  return stream_graph(file.value(), diagnostics);
}

// write_graph(Sink& out, const ProcessNodes& graph), declared in graph/write_graph.h: the
// graph in the pretty text form and one line feed; false when a write to `out` failed.
// StringSink collects text in a string; FdSink writes to a file descriptor (base/sink.h).

// write_record(Sink& out, const StatsRecJson& record, Encoding encoding), declared in
// stats/file/record_writer.h: `record` as a whole statistics file, compact JSON and one line
// feed (Encoding::Json) or the binary encoding (Encoding::Bincode), which load_file and
// stream_file read back to an equal record when the file is named *.json or *.bincode. Map
// entries come out in ascending key order, so the bytes depend on the record alone. The text is
// handed to `out` in pieces of about 64 KiB as it is written, never built whole; false when a
// write to `out` failed. Writing the file (a temporary renamed over the target, say) is the
// caller's business: FdSink with Buffering::None over an open descriptor writes through.

// Condensing traces (traces/condenser.h, traces/trace_reader.h, traces/span.h):
//   Condenser condenser;                        // virtual peers on; Condenser(false): off
//   condenser.add(span);                        // a Span: ids as lowercase hex, times in µs
//   read_traces(source, std::nullopt, condenser);  // or a whole file: OTLP, Jaeger or Zipkin
//                                               // JSON, gzip or not, from a ByteSource
//   condenser.end_input();                      // once per input, for num_files
//   StatsRecJson record = condenser.finish();   // or condenser.finish_into(sink, encoding)
// The record is the same for any order of the spans and inputs. finish() holds every chain's
// calls; finish_into() writes the file write_record would write while building one chain at a
// time, for traces with many long chains. read_traces returns the JsonError that stopped
// it, with line and column. counts() tells what was merged or left out.

// Merging records and condensing in shares (stats/record_merger.h, traces/trace_shard.h):
//   RecordMerger merger;
//   if (!merger.add(std::move(record))) ...      // false: lists that belong together differ
//                                               // in length; nothing of it merged
//   StatsRecJson all = merger.finish();         // merger.counts(): what did not simply add
//   TraceShard share{k, n};                     // or parse_trace_shard("k/n")
//   if (share.holds(span.trace_id)) condenser.add(span);
// For records of disjoint sets of traces, finish() gives the record condensing all their
// spans together gives, whatever the order of the records. Count the inputs (end_input) in one
// share only, so that the shares merged count each input once, as tracemill-condense does.

}  // namespace tracemill
