// The trace formats tracemill-condense reads.
#pragma once

#include <optional>
#include <string_view>

namespace tracemill {

enum class TraceFormat { Otlp, Jaeger, Zipkin };

inline constexpr std::string_view kTraceFormatNames[] = {"otlp", "jaeger", "zipkin"};

constexpr std::string_view format_name(TraceFormat f) {
  return kTraceFormatNames[static_cast<int>(f)];
}

// "otlp", "jaeger" or "zipkin"; nothing for any other text.
constexpr std::optional<TraceFormat> trace_format(std::string_view name) {
  for (int i = 0; i < 3; ++i) {
    if (kTraceFormatNames[i] == name) return static_cast<TraceFormat>(i);
  }
  return std::nullopt;
}

}  // namespace tracemill
