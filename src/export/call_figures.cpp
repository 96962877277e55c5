#include "export/call_figures.h"

#include <algorithm>

namespace tracemill {

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
