// The health of a set of calls (the calls a method received or made, the calls over an edge):
// how many, how many failed, their HTTP statuses and error logs, and their latency. Summed from
// the statistics of the chains that end in those calls.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "export/latency.h"

namespace tracemill {

struct CallFigures {
  std::int64_t calls = 0;            // the chains' counts
  std::int64_t errors = 0;           // calls that failed (the chains' cc_not_http_ok)
  std::int64_t with_error_logs = 0;  // calls with error logs (cc_with_error_logs)
  // Calls per HTTP status that is not OK, sorted by status.
  std::vector<std::pair<std::int16_t, std::int64_t>> http_status;
  // Occurrences per error log text, sorted by the bytes of the text.
  std::vector<std::pair<std::string, std::int64_t>> error_logs;
  Latency latency;  // of the durations, in microseconds
  bool operator==(const CallFigures&) const = default;
};

// Adds `other` to `figures`. Returns false when a sum would pass `max_sum` in magnitude.
bool add_figures(CallFigures& figures, const CallFigures& other, std::int64_t max_sum);

// The error log texts that occurred most often, at most `n`, most frequent first, ties in the
// order of their bytes.
std::vector<std::pair<std::string, std::int64_t>> top_error_logs(const CallFigures& figures,
                                                                 std::size_t n = 5);

}  // namespace tracemill
