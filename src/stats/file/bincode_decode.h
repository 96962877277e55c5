// Decoding the positional binary encoding of a StatsRecJson.
//
// Every value is read in file order by the rule of its type: little-endian integers, booleans
// as one byte 0 or 1, texts and lists and maps as a u64 length or count followed by their
// contents, CallDirection as a u32 index, records as their fields in declaration order. Bytes
// after the record are not read.
#pragma once

#include <optional>

#include "base/byte_source.h"
#include "base/result.h"
#include "stats/file/chain_receiver.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Decodes one StatsRecJson from `source` (consumed: the file is closed when this returns).
// Stops at the first problem and returns its error; nothing partly decoded is kept.
Result<StatsRecJson, BincodeError> decode_bincode(ByteSource source);

// The same decoding and the same checks from the current position of `source`, handing the
// operations and chains to `receiver` as they are decoded instead of keeping them. Returns the
// error that stopped it, or nothing when the record was complete.
std::optional<BincodeError> stream_bincode(ByteSource& source, ChainReceiver& receiver);

}  // namespace tracemill
