// Decoding a JSON statistics document into a StatsRecJson.
#pragma once

#include "base/byte_source.h"
#include "base/result.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Decodes one JSON document from `source` (consumed; read to its end on success) into a
// StatsRecJson, checking every field; stops at the first problem with its JsonError.
Result<StatsRecJson, JsonError> decode_json(ByteSource source);

}  // namespace tracemill
