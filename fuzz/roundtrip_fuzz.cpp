// Fuzzes the writers against the decoders: the input is decoded as JSON and, separately, in the
// binary encoding; every record that decodes is written in both encodings (as write_record
// writes files) and in pretty JSON, and each of those must decode to the same record again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/byte_source.h"
#include "base/sink.h"
#include "stats/file/operation_stats_json.h"
#include "stats/file/record_writer.h"

namespace {

using namespace tracemill;

void require_same(Encoding encoding, std::string bytes, const StatsRecJson& record) {
  auto again = StatsFile(encoding, ByteSource::from_memory(std::move(bytes))).read();
  if (!again || !(again.value() == record)) __builtin_trap();
}

void round_trip(const StatsRecJson& record) {
  for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
    StringSink file;
    if (!write_record(file, record, encoding)) __builtin_trap();
    require_same(encoding, file.take(), record);
  }
  std::string pretty;
  encode_json(record, pretty, true);
  require_same(Encoding::Json, std::move(pretty), record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
    auto record = StatsFile(encoding, ByteSource::from_memory(bytes)).read();
    if (record) round_trip(record.value());
  }
  return 0;
}
