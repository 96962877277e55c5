// Fuzzes merging: a trace file (any of the formats, read as far as it goes) is split by trace
// into parts, each condensed on its own, written in an encoding of its own, decoded and merged;
// the merge must give the bytes of the spans condensed together. So must the shares of
// --shard K/N merged. A hash of the bytes picks the number of parts (1 to 6), which part each
// trace goes to and the parts' encodings, so real trace files serve as seeds unchanged. Any
// fault is a trap.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "stats/file/record_writer.h"
#include "stats/record_merger.h"
#include "traces/condenser.h"
#include "traces/trace_reader.h"
#include "traces/trace_shard.h"

namespace tracemill {
namespace {

void require(bool holds) {
  if (!holds) __builtin_trap();
}

struct SpanList final : SpanConsumer {
  void add(const Span& span) override { spans.push_back(span); }
  std::vector<Span> spans;
};

template <class Keep>
std::string condensed(const std::vector<Span>& spans, Keep&& keep, int inputs, Encoding encoding) {
  Condenser condenser;
  for (const Span& s : spans) {
    if (keep(s)) condenser.add(s);
  }
  for (int i = 0; i < inputs; ++i) condenser.end_input();
  StringSink out;
  require(condenser.finish_into(out, encoding));
  return out.take();
}

void merge_one(RecordMerger& merger, std::string bytes, Encoding encoding) {
  Result<StatsRecJson, LoadError> rec =
      StatsFile(encoding, ByteSource::from_memory(std::move(bytes))).read();
  require(static_cast<bool>(rec));
  require(merger.add(std::move(rec).value()));
}

// The merged record as JSON: written by the merger itself, or built whole and then written.
std::string merged_json(RecordMerger& merger, bool whole) {
  StringSink out;
  require(whole ? write_record(out, merger.finish(), Encoding::Json)
                : merger.finish_into(out, Encoding::Json));
  require(merger.counts().shared_trace_ids == 0 && merger.counts().unsorted_lists == 0);
  return out.take();
}

}  // namespace
}  // namespace tracemill

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tracemill;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::uint64_t h = trace_id_hash(bytes);
  SpanList list;
  ByteSource source = ByteSource::from_memory(std::string(bytes));
  (void)read_traces(source, std::nullopt, list);
  const auto parts = static_cast<std::uint32_t>(h % 6 + 1);
  const auto part_of = [&](const Span& s) {
    return static_cast<std::uint32_t>(
               (trace_id_hash(s.trace_id) ^ (h >> 8)) * 0x9e3779b97f4a7c15u >> 40) %
           parts;
  };
  auto all = [](const Span&) { return true; };

  RecordMerger merger;
  for (std::uint32_t p = 0; p < parts; ++p) {
    const Encoding e = (h >> (16 + p)) & 1 ? Encoding::Bincode : Encoding::Json;
    merge_one(merger,
              condensed(
                  list.spans, [&](const Span& s) { return part_of(s) == p; }, 1, e),
              e);
  }
  require(merged_json(merger, true) ==
          condensed(list.spans, all, static_cast<int>(parts), Encoding::Json));

  for (std::uint32_t k = 1; k <= parts; ++k) {
    const TraceShard share{k, parts};
    merge_one(merger,
              condensed(
                  list.spans, [&](const Span& s) { return share.holds(s.trace_id); },
                  k == 1 ? 1 : 0, Encoding::Bincode),
              Encoding::Bincode);
  }
  require(merged_json(merger, false) == condensed(list.spans, all, 1, Encoding::Json));
  return 0;
}
