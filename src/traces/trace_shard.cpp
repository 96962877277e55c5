#include "traces/trace_shard.h"

#include <charconv>
#include <cstdint>

namespace tracemill {
namespace {

std::optional<std::uint32_t> decimal(std::string_view text) {
  std::uint32_t n = 0;
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

}  // namespace

std::optional<TraceShard> parse_trace_shard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::optional<std::uint32_t> k = decimal(text.substr(0, slash));
  const std::optional<std::uint32_t> n = decimal(text.substr(slash + 1));
  if (!k || !n || *k < 1 || *k > *n) return std::nullopt;
  return TraceShard{*k, *n};
}

}  // namespace tracemill
