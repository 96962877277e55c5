#include "export/call_figures.h"

#include <algorithm>

namespace tracemill {

bool add_counts(CallFigures& figures, const CallFigures& other, std::int64_t max_sum) {
  bool in_range = add_checked(figures.calls, other.calls, max_sum);
  in_range = add_checked(figures.errors, other.errors, max_sum) && in_range;
  in_range = add_checked(figures.with_error_logs, other.with_error_logs, max_sum) && in_range;
  in_range = add_entries(figures.http_status, other.http_status, max_sum) && in_range;
  return add_entries(figures.error_logs, other.error_logs, max_sum) && in_range;
}

bool add_figures(CallFigures& figures, const CallFigures& other, std::int64_t max_sum) {
  figures.latency.merge(other.latency);
  return add_counts(figures, other, max_sum);
}

std::vector<const std::pair<std::string, std::int64_t>*> top_error_logs(const CallFigures& figures,
                                                                        std::size_t n) {
  std::vector<const std::pair<std::string, std::int64_t>*> top;
  top.reserve(figures.error_logs.size());
  for (const auto& entry : figures.error_logs) top.push_back(&entry);
  auto more_often = [](const auto* a, const auto* b) {
    return a->second != b->second ? a->second > b->second : a->first < b->first;
  };
  const std::size_t kept = std::min(n, top.size());
  std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(kept), top.end(),
                    more_often);
  top.resize(kept);
  return top;
}

}  // namespace tracemill
