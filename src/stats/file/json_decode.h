// Decoding a JSON statistics document: into a whole StatsRecJson, or into a ChainReceiver.
#pragma once

#include <optional>

#include "base/byte_source.h"
#include "base/result.h"
#include "stats/file/chain_receiver.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Decodes one JSON document from `source` (consumed; read to its end on success) into a
// StatsRecJson, checking every field; stops at the first problem with its JsonError.
Result<StatsRecJson, JsonError> decode_json(ByteSource source);

// The same decoding and the same checks from the current position of `source`, handing the
// operations and chains to `receiver` as they are decoded instead of keeping them. Returns the
// error that stopped it, or nothing when the document was valid.
std::optional<JsonError> stream_json(ByteSource& source, ChainReceiver& receiver);

}  // namespace tracemill
