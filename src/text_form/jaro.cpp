#include "text_form/jaro.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tracemill {

double jaro_similarity(std::u32string_view a, std::u32string_view b) {
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  if (a.size() == 1 && b.size() == 1) return a[0] == b[0] ? 1.0 : 0.0;

  // Both lengths are at least 1 and not both 1, so the window is never negative.
  std::size_t window = std::max(a.size(), b.size()) / 2 - 1;
  std::vector<bool> matched(b.size(), false);
  std::size_t matches = 0;
  std::size_t transpositions = 0;
  std::size_t previous = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::size_t first = i > window ? i - window : 0;
    std::size_t last = std::min(b.size() - 1, i + window);
    for (std::size_t j = first; j <= last; ++j) {
      if (matched[j] || a[i] != b[j]) continue;
      matched[j] = true;
      ++matches;
      if (j < previous) ++transpositions;
      previous = j;
      break;
    }
  }
  if (matches == 0) return 0.0;
  double m = static_cast<double>(matches);
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) +
          static_cast<double>(matches - transpositions) / m) /
         3.0;
}

}  // namespace tracemill
