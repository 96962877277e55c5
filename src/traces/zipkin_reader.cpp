// Zipkin v2 JSON: a list of spans, or a list of such lists (one per trace).
#include <array>

#include "traces/format_readers.h"

namespace tracemill::trace_read {

bool ZipkinReader::list() {
  return j_.array([&] {
    if (j_.peek() == '[') return j_.array([&] { return span(); });
    return span();
  });
}

bool ZipkinReader::endpoint(std::string& service) {
  static constexpr std::array<std::string_view, 1> kKeys = {"serviceName"};
  if (j_.peek() == 'n') return j_.null();
  return j_.expect_object("an endpoint", kKeys,
                          [&](std::size_t) { return j_.text("serviceName", service); });
}

bool ZipkinReader::span() {
  enum {
    kTraceId,
    kId,
    kParent,
    kName,
    kKind,
    kTimestamp,
    kDuration,
    kLocal,
    kRemote,
    kTagsKey,
    kN
  };
  static constexpr std::array<std::string_view, kN> kKeys = {
      "traceId",   "id",       "parentId",      "name",           "kind",
      "timestamp", "duration", "localEndpoint", "remoteEndpoint", "tags"};
  clear(span_);
  bool ok = j_.expect_object("a span", kKeys, [&](std::size_t k) {
    switch (k) {
      case kTraceId:
        return read_id(j_, "traceId", span_.trace_id);
      case kId:
        return read_id(j_, "id", span_.span_id);
      case kParent:
        return read_id(j_, "parentId", span_.parent_id);
      case kName:
        return j_.text("name", span_.name);
      case kKind: {
        std::string_view kind;
        if (!j_.text_view("kind", kind)) return false;
        span_.kind = kind_named(kind);
        return true;
      }
      case kTimestamp: {
        std::int64_t v = 0;
        bool present = false;
        if (!j_.integer("timestamp", v, present)) return false;
        if (present) span_.start_micros = v;
        return true;
      }
      case kDuration: {
        bool present = false;
        return j_.integer("duration", span_.duration_micros, present);
      }
      case kLocal:
        return endpoint(span_.service);
      case kRemote:
        return endpoint(span_.peer);
      default:
        if (j_.peek() == 'n') return j_.null();
        return j_.map([&](std::string_view tag) {
          if (tag == "error") {
            if (!j_.scalar_text(value_)) return false;
            span_.failed = true;
            if (!value_.empty()) span_.error_logs.push_back(value_);
            return true;
          }
          if (tag == "http.status_code") {
            if (!j_.scalar_text(value_)) return false;
            span_.http_status = status_from_text(value_);
            return true;
          }
          return j_.skip();
        });
    }
  });
  if (!ok || !finish_span(j_, span_)) return false;
  out_.add(span_);
  return true;
}

}  // namespace tracemill::trace_read
