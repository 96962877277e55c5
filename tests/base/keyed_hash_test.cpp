#include "base/keyed_hash.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace tracemill {
namespace {

// Every map hashes with its own key, so equal contents must compare equal however each map
// placed them (the standard comparison assumes one hashing for both maps and fails here).
TEST(HashMap, EqualityIgnoresEachMapsHashing) {
  for (int round = 0; round < 20; ++round) {
    HashMap<std::string, int> a{{"x", 1}, {"y", 2}, {"z", 3}, {"", 4}};
    HashMap<std::string, int> b{{"", 4}, {"z", 3}, {"y", 2}, {"x", 1}};
    EXPECT_TRUE(a == b);
    b["y"] = 5;
    EXPECT_FALSE(a == b);
    b.erase("y");
    EXPECT_FALSE(a == b);
    b["w"] = 2;
    EXPECT_FALSE(a == b);
    HashMap<std::int16_t, std::uint64_t> c{{-1, 1}, {404, 2}}, d{{404, 2}, {-1, 1}};
    EXPECT_TRUE(c == d);
  }
}

}  // namespace
}  // namespace tracemill
