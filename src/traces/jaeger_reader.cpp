// Jaeger JSON: {"data": [trace, ...]} or one trace object; a trace is {traceID, spans,
// processes}, and a span names its process by processID (or carries it inline as process).
#include <array>

#include "traces/format_readers.h"

namespace tracemill::trace_read {
namespace {

enum Tag { kKind, kError, kHttpStatus, kPeerService, kDbType, kTags };
constexpr std::array<std::string_view, kTags> kTagNames = {"span.kind", "error", "http.status_code",
                                                           "peer.service", "db.type"};

}  // namespace

bool JaegerReader::trace_list_element() {
  static constexpr std::array<std::string_view, 3> kKeys = kTraceKeys;
  bool ok = j_.expect_object("a trace", kKeys, [&](std::size_t k) { return trace_member(k); });
  if (!ok) return false;
  finish_trace();
  return true;
}

bool JaegerReader::trace_member(std::size_t key) {
  switch (key) {
    case 0:  // the spans carry the trace id themselves
      return j_.skip();
    case 1:
      return j_.optional_array("spans", [&] { return span(); });
    default:
      if (j_.peek() == 'n') return j_.null();
      return j_.map([&](std::string_view id) {
        processes_.emplace_back(std::string(id), std::string());
        return process(processes_.back().second);
      });
  }
}

void JaegerReader::finish_trace() {
  for (std::size_t i = 0; i < pending_used_; ++i) {
    Pending& p = pending_[i];
    if (p.span.service.empty()) {
      // The last definition of a process id counts, as for any repeated member.
      for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
        if (it->first == p.process_id) {
          p.span.service = it->second;
          break;
        }
      }
      if (p.span.service.empty()) p.span.service = kUnknownService;
    }
    out_.add(p.span);
  }
  pending_used_ = 0;
  processes_.clear();
}

bool JaegerReader::process(std::string& service) {
  static constexpr std::array<std::string_view, 1> kKeys = {"serviceName"};
  if (j_.peek() == 'n') return j_.null();
  return j_.expect_object("a process", kKeys,
                          [&](std::size_t) { return j_.text("serviceName", service); });
}

bool JaegerReader::span() {
  enum {
    kTraceId,
    kSpanId,
    kParent,
    kName,
    kRefs,
    kStart,
    kDuration,
    kTagsKey,
    kLogs,
    kProcessId,
    kProcess,
    kN
  };
  static constexpr std::array<std::string_view, kN> kKeys = {
      "traceID",  "spanID", "parentSpanID", "operationName", "references", "startTime",
      "duration", "tags",   "logs",         "processID",     "process"};
  if (pending_used_ == pending_.size()) pending_.emplace_back();
  Pending& p = pending_[pending_used_];
  Span& s = p.span;
  clear(s);
  p.process_id.clear();
  std::size_t refs = 0;
  int http_rank = kTags, peer_rank = kTags;
  bool ok = j_.expect_object("a span", kKeys, [&](std::size_t k) {
    switch (k) {
      case kTraceId:
        return read_id(j_, "traceID", s.trace_id);
      case kSpanId:
        return read_id(j_, "spanID", s.span_id);
      case kParent:
        return read_id(j_, "parentSpanID", s.parent_id);
      case kName:
        return j_.text("operationName", s.name);
      case kRefs:
        return j_.optional_array("references", [&] {
          static constexpr std::array<std::string_view, 3> kRefKeys = {"refType", "traceID",
                                                                       "spanID"};
          if (refs == references_.size()) references_.emplace_back();
          Reference& ref = references_[refs++];
          ref.type.clear();
          ref.trace_id.clear();
          ref.span_id.clear();
          return j_.expect_object("a reference", kRefKeys, [&](std::size_t r) {
            if (r == 0) return j_.text("refType", ref.type);
            return read_id(j_, r == 1 ? "traceID" : "spanID", r == 1 ? ref.trace_id : ref.span_id);
          });
        });
      case kStart: {
        std::int64_t v = 0;
        bool present = false;
        if (!j_.integer("startTime", v, present)) return false;
        if (present) s.start_micros = v;
        return true;
      }
      case kDuration: {
        bool present = false;
        return j_.integer("duration", s.duration_micros, present);
      }
      case kTagsKey:
        return tags(s, http_rank, peer_rank);
      case kLogs:
        return j_.optional_array("logs", [&] { return log(s); });
      case kProcessId:
        return j_.text("processID", p.process_id);
      default:
        return process(s.service);
    }
  });
  if (!ok) return false;
  // The parent: the first same-trace CHILD_OF reference, else the first same-trace
  // FOLLOWS_FROM, else parentSpanID.
  for (std::string_view type : {"CHILD_OF", "FOLLOWS_FROM"}) {
    bool found = false;
    for (std::size_t i = 0; i < refs && !found; ++i) {
      const Reference& ref = references_[i];
      if (ref.type == type && ref.trace_id == s.trace_id && !ref.span_id.empty()) {
        s.parent_id = ref.span_id;
        found = true;
      }
    }
    if (found) break;
  }
  // The service comes from the processes of the trace, which may follow the spans: it is
  // filled in at the end of the trace (finish_span leaves it empty when there is a process id).
  const bool named = !s.service.empty();
  if (!finish_span(j_, s)) return false;
  if (!named) s.service.clear();
  ++pending_used_;
  return true;
}

bool JaegerReader::tags(Span& s, int& http_rank, int& peer_rank) {
  static constexpr std::array<std::string_view, 2> kKeys = {"key", "value"};
  return j_.optional_array("tags", [&] {
    key_.clear();
    value_.clear();
    bool ok = j_.expect_object("a tag", kKeys, [&](std::size_t k) {
      if (k == 0) return j_.text("key", key_);
      value_.present = true;
      if (!j_.scalar_text(value_.text)) return false;
      value_.integer = status_from_text(value_.text);
      return true;
    });
    if (!ok || !value_.present) return ok;
    int tag = 0;
    while (tag < kTags && kTagNames[static_cast<std::size_t>(tag)] != key_) ++tag;
    switch (tag) {
      case kKind:
        s.kind = kind_named(value_.text);
        break;
      case kError:
        if (value_.text == "true") s.failed = true;
        break;
      case kHttpStatus:
        if (value_.integer != 0 && tag < http_rank) {
          s.http_status = value_.integer;
          http_rank = tag;
        }
        break;
      case kPeerService:
      case kDbType:
        if (!value_.text.empty() && tag < peer_rank) {
          s.peer = value_.text;
          peer_rank = tag;
        }
        break;
      default:
        break;
    }
    return true;
  });
}

// A log whose field event is "error" is an error log: its message, else error.object, else
// error.kind.
bool JaegerReader::log(Span& s) {
  static constexpr std::array<std::string_view, 1> kKeys = {"fields"};
  static constexpr std::array<std::string_view, 2> kFieldKeys = {"key", "value"};
  event_.clear();
  message_.clear();
  object_.clear();
  kind_.clear();
  bool ok = j_.expect_object("a log", kKeys, [&](std::size_t) {
    return j_.optional_array("fields", [&] {
      key_.clear();
      value_.clear();
      bool read = j_.expect_object("a log field", kFieldKeys, [&](std::size_t k) {
        if (k == 0) return j_.text("key", key_);
        return j_.scalar_text(value_.text);
      });
      if (!read) return false;
      if (key_ == "event") event_ = value_.text;
      if (key_ == "message") message_ = value_.text;
      if (key_ == "error.object") object_ = value_.text;
      if (key_ == "error.kind") kind_ = value_.text;
      return true;
    });
  });
  if (!ok) return false;
  if (event_ == "error") {
    const std::string& text = !message_.empty() ? message_ : !object_.empty() ? object_ : kind_;
    if (!text.empty()) s.error_logs.push_back(text);
  }
  return true;
}

}  // namespace tracemill::trace_read
