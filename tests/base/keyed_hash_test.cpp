#include "base/keyed_hash.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace tracemill {
namespace {

// Each map has its own hashing key, so the standard equality (which reuses one map's cached
// hash codes in the other map's buckets) reported equal maps as different.
TEST(HashMap, EqualityIgnoresEachMapsOwnKeyAndOrder) {
  HashMap<std::string, std::int64_t> a;
  HashMap<std::string, std::int64_t> b;
  for (int i = 0; i < 100; ++i) a.emplace(std::to_string(i), i);
  for (int i = 99; i >= 0; --i) b.emplace(std::to_string(i), i);
  EXPECT_TRUE(a == b);
  b["42"] = 43;
  EXPECT_FALSE(a == b);
  b["42"] = 42;
  b.emplace("100", 100);
  EXPECT_FALSE(a == b);
  a.emplace("101", 100);
  EXPECT_FALSE(a == b);
}

}  // namespace
}  // namespace tracemill
