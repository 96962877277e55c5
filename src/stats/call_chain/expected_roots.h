// An expected root of a call chain, with how often it was expected.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "base/record.h"

namespace tracemill {

struct ExpectRoot {
  std::string proc_oper;
  std::uint64_t count = 0;
  bool operator==(const ExpectRoot&) const = default;
};

template <>
struct Record<ExpectRoot> {
  static constexpr std::string_view name = "ExpectRoot";
  static constexpr auto fields = std::make_tuple(field("proc_oper", &ExpectRoot::proc_oper),
                                                 field("count", &ExpectRoot::count));
};

}  // namespace tracemill
