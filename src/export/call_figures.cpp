#include "export/call_figures.h"

#include <algorithm>

namespace tracemill {
namespace {

bool add_checked(std::int64_t& a, std::int64_t b, std::int64_t max) {
  if ((b > 0 && a > max - b) || (b < 0 && a < -max - b)) return false;
  a += b;
  return true;
}

// Adds the sorted entries of `from` to the sorted `into`, key by key.
template <class K>
bool add_entries(std::vector<std::pair<K, std::int64_t>>& into,
                 const std::vector<std::pair<K, std::int64_t>>& from, std::int64_t max) {
  std::vector<std::pair<K, std::int64_t>> sum;
  sum.reserve(into.size() + from.size());
  bool in_range = true;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < into.size() || j < from.size()) {
    if (j == from.size() || (i < into.size() && into[i].first < from[j].first)) {
      sum.push_back(std::move(into[i++]));
    } else if (i == into.size() || from[j].first < into[i].first) {
      sum.push_back(from[j++]);
    } else {
      sum.push_back(std::move(into[i++]));
      in_range = add_checked(sum.back().second, from[j++].second, max) && in_range;
    }
  }
  into = std::move(sum);
  return in_range;
}

}  // namespace

bool add_figures(CallFigures& figures, const CallFigures& other, std::int64_t max_sum) {
  bool in_range = add_checked(figures.calls, other.calls, max_sum);
  in_range = add_checked(figures.errors, other.errors, max_sum) && in_range;
  in_range = add_checked(figures.with_error_logs, other.with_error_logs, max_sum) && in_range;
  in_range = add_entries(figures.http_status, other.http_status, max_sum) && in_range;
  in_range = add_entries(figures.error_logs, other.error_logs, max_sum) && in_range;
  figures.latency.merge(other.latency);
  return in_range;
}

std::vector<std::pair<std::string, std::int64_t>> top_error_logs(const CallFigures& figures,
                                                                 std::size_t n) {
  std::vector<std::pair<std::string, std::int64_t>> top = figures.error_logs;
  auto more_often = [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  };
  const std::size_t kept = std::min(n, top.size());
  std::partial_sort(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(kept), top.end(),
                    more_often);
  top.resize(kept);
  return top;
}

}  // namespace tracemill
