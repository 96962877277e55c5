// A span as every trace format is read into: the fields condensing uses, normalised.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tracemill {

// Absent is a span that names no kind (a local span, OTLP's unspecified kind). A kind that no
// format defines is read as Internal: a kind, but neither side of a call.
enum class SpanKind : std::uint8_t { Absent, Internal, Server, Client, Producer, Consumer };

struct Span {
  std::string trace_id;   // lowercase hex
  std::string span_id;    // lowercase hex
  std::string parent_id;  // lowercase hex; empty: the span names no parent
  std::string service;    // never empty: "unknown_service" when the input names none
  std::string name;
  std::string peer;  // the service or database called, when the span names one
  SpanKind kind = SpanKind::Absent;
  std::optional<std::int64_t> start_micros;  // since the Unix epoch
  std::int64_t duration_micros = 0;
  bool failed = false;
  std::int64_t http_status = 0;  // 0: none given
  std::vector<std::string> error_logs;

  bool operator==(const Span&) const = default;
};

inline constexpr std::string_view kUnknownService = "unknown_service";

// The form ids are compared in: an id of hex digits only, lowercased and otherwise kept as it
// is (leading zeros too); any other id decoded as base64 (standard or URL-safe alphabet,
// padding optional) and written as lowercase hex. Nothing when it is neither, or when base64
// decodes to no bytes.
std::optional<std::string> normalise_id(std::string_view id);
// The same into `out`, reusing its memory; false (and `out` unspecified) when it is neither.
bool normalise_id(std::string_view id, std::string& out);

}  // namespace tracemill
