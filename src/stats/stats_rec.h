// Version of a statistics record.
#pragma once

#include <cstdint>
#include <string_view>
#include <tuple>

#include "base/record.h"

namespace tracemill {

struct Version {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  bool operator==(const Version&) const = default;
};

template <>
struct Record<Version> {
  static constexpr std::string_view name = "Version";
  static constexpr auto fields =
      std::make_tuple(field("major", &Version::major), field("minor", &Version::minor));
};

}  // namespace tracemill
