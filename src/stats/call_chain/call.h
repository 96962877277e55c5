// One call of a call chain: which process, which method, in which direction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "base/record.h"

namespace tracemill {

// The numbers are the values' indices in the binary encoding.
enum class CallDirection : std::uint32_t { Inbound = 0, Outbound = 1, Unknown = 2 };

inline constexpr std::string_view kCallDirectionNames[] = {"Inbound", "Outbound", "Unknown"};

constexpr std::string_view enum_name(CallDirection d) {
  return kCallDirectionNames[static_cast<std::uint32_t>(d)];
}

struct Call {
  std::string process;
  std::string method;
  CallDirection call_direction = CallDirection::Unknown;
  bool operator==(const Call&) const = default;
};

template <>
struct Record<Call> {
  static constexpr std::string_view name = "Call";
  static constexpr auto fields =
      std::make_tuple(field("process", &Call::process), field("method", &Call::method),
                      field("call_direction", &Call::call_direction));
};

}  // namespace tracemill
