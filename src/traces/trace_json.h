// The JSON shapes the trace readers walk: objects with known member names, arrays, and the
// scalar values spans are made of, over the strict reader of statistics files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "stats/file/json_reader.h"

namespace tracemill {

class TraceJson {
 public:
  using Next = JsonReader::Next;

  explicit TraceJson(ByteSource& source) : r_(source) {}

  JsonReader& reader() { return r_; }
  // The first byte of the next value, blanks skipped; JsonReader::kEnd at the end of input.
  int peek() { return r_.peek(); }
  bool fail(std::string_view message) { return r_.fail(message); }

  // Requires: '{' was peeked. Calls member(k) for each member named keys[k], with the reader
  // before its value; member() must read the value. Members of other names are skipped.
  template <std::size_t N, class F>
  bool object(const std::array<std::string_view, N>& keys, F&& member) {
    if (!r_.enter()) return false;
    r_.take();
    for (bool first = true;; first = false) {
      Next next = r_.next_member(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      std::string_view name;
      if (!r_.read_string(name)) return false;
      std::size_t index = N;
      for (std::size_t k = 0; k < N; ++k) {
        if (keys[k] == name) {
          index = k;
          break;
        }
      }
      if (!r_.read_colon()) return false;
      if (index == N) {
        if (!r_.skip_value()) return false;
      } else if (!member(index)) {
        return false;
      }
    }
    r_.take();
    r_.leave();
    return true;
  }

  // An object whose member names are data (Zipkin's tags, Jaeger's processes): member(name)
  // with the reader before the value. `name` lives until the reader moves on: the callback
  // copies what it needs first.
  template <class F>
  bool map(F&& member) {
    if (r_.peek() != '{') return fail("expected an object");
    if (!r_.enter()) return false;
    r_.take();
    for (bool first = true;; first = false) {
      Next next = r_.next_member(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      std::string_view name;
      if (!r_.read_string(name)) return false;
      name_.assign(name);
      if (!r_.read_colon() || !member(std::string_view(name_))) return false;
    }
    r_.take();
    r_.leave();
    return true;
  }

  // Requires: '[' was peeked. Calls element() for each element, before its value.
  template <class F>
  bool array(F&& element) {
    if (!r_.enter()) return false;
    r_.take();
    for (bool first = true;; first = false) {
      Next next = r_.next_element(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      if (!element()) return false;
    }
    r_.take();
    r_.leave();
    return true;
  }

  // An object or, when the value is something else, a failure saying what `what` must be.
  template <std::size_t N, class F>
  bool expect_object(std::string_view what, const std::array<std::string_view, N>& keys,
                     F&& member) {
    if (r_.peek() != '{') return wrong_value(what, " is not an object");
    return object(keys, member);
  }
  template <class F>
  bool expect_array(std::string_view what, F&& element) {
    if (r_.peek() != '[') return wrong_value(what, " is not an array");
    return array(element);
  }
  // At a value of the wrong kind: "WHAT is not ...", or the JSON error when no value starts
  // there at all.
  bool wrong_value(std::string_view what, std::string_view is_not);
  // An array, or null for an empty one.
  template <class F>
  bool optional_array(std::string_view what, F&& element) {
    if (r_.peek() == 'n') return null();
    return expect_array(what, element);
  }

  // A string value into `out`; null reads as empty. Anything else fails, naming `what`.
  bool text(std::string_view what, std::string& out);
  // A string value as a view that lives until the reader moves on.
  bool text_view(std::string_view what, std::string_view& out);
  // An integer written as a JSON number or as a string of decimal digits (with an optional
  // '-'), in the i64 range; null leaves `present` false. Anything else fails, naming `what`.
  bool integer(std::string_view what, std::int64_t& out, bool& present);
  // An unsigned integer as above, up to u64's range (OTLP's nanosecond times).
  bool unsigned_integer(std::string_view what, std::uint64_t& out, bool& present);
  // A scalar as text: a string as it is, a number in its shortest form, true or false; null
  // and containers are skipped and give the empty text.
  bool scalar_text(std::string& out);
  // A boolean, or the strings "true" and "false"; anything else is false and skipped.
  bool flag(bool& out);
  bool null();
  bool skip() { return r_.skip_value(); }

 private:
  JsonReader r_;
  std::string name_;
};

}  // namespace tracemill
