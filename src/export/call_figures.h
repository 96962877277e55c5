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

// sum += more; false (sum unchanged) when the result would leave [-max, max].
inline bool add_checked(std::int64_t& sum, std::int64_t more, std::int64_t max) {
  if ((more > 0 && sum > max - more) || (more < 0 && sum < -max - more)) return false;
  sum += more;
  return true;
}

// Walks the sorted `first` and `second` together, in order: both(a, b) for elements of equal
// keys, only_first(a) and only_second(b) for the others.
template <class A, class B, class Less, class Both, class OnlyFirst, class OnlySecond>
void walk_sorted(A& first, B& second, Less less, Both both, OnlyFirst only_first,
                 OnlySecond only_second) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < first.size() || j < second.size()) {
    if (j == second.size() || (i < first.size() && less(first[i], second[j]))) {
      only_first(first[i++]);
    } else if (i == first.size() || less(second[j], first[i])) {
      only_second(second[j++]);
    } else {
      both(first[i++], second[j++]);
    }
  }
}

// Merges the sorted `from` into the sorted `into`; `add(a, b)` sums two equal elements into a
// and says whether that stayed in range. Returns whether every sum did.
template <class T, class Less, class Add>
bool merge_sorted(std::vector<T>& into, const std::vector<T>& from, Less less, Add add) {
  if (from.empty()) return true;
  if (into.empty()) {
    into = from;
    return true;
  }
  std::vector<T> merged;
  merged.reserve(into.size() + from.size());
  bool in_range = true;
  walk_sorted(
      into, from, less,
      [&](T& a, const T& b) {
        merged.push_back(std::move(a));
        in_range = add(merged.back(), b) && in_range;
      },
      [&](T& a) { merged.push_back(std::move(a)); }, [&](const T& b) { merged.push_back(b); });
  into = std::move(merged);
  return in_range;
}

// Adds the sorted entries of `from` to the sorted `into`, key by key; false when a sum would
// leave [-max, max].
template <class K>
bool add_entries(std::vector<std::pair<K, std::int64_t>>& into,
                 const std::vector<std::pair<K, std::int64_t>>& from, std::int64_t max) {
  return merge_sorted(
      into, from, [](const auto& a, const auto& b) { return a.first < b.first; },
      [max](auto& a, const auto& b) { return add_checked(a.second, b.second, max); });
}

// Adds `other` to `figures`. Returns false when a sum would pass `max_sum` in magnitude.
bool add_figures(CallFigures& figures, const CallFigures& other, std::int64_t max_sum);
// The same for every figure but the latency.
bool add_counts(CallFigures& figures, const CallFigures& other, std::int64_t max_sum);

// The error log texts that occurred most often, at most `n`, most frequent first, ties in the
// order of their bytes: entries of `figures`.
std::vector<const std::pair<std::string, std::int64_t>*> top_error_logs(const CallFigures& figures,
                                                                        std::size_t n = 5);

}  // namespace tracemill
