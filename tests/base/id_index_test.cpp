#include "base/id_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>

namespace tracemill {
namespace {

// Keys shaped like the condenser's (two small numbers in the halves, which cluster) and spread
// ones, inserted through many doublings and looked up against an ordinary map: every key keeps
// the value it got first, and keys never inserted are absent.
TEST(IdIndex, AgreesWithAnOrdinaryMapThroughGrowth) {
  IdIndex index;
  std::map<std::uint64_t, std::uint32_t> reference;
  EXPECT_EQ(index.find(0), IdIndex::kFree);
  std::uint32_t next = 0;
  auto add = [&](std::uint64_t key) {
    const auto [value, added] = index.try_emplace(key, next);
    const auto [it, ref_added] = reference.try_emplace(key, next);
    ASSERT_EQ(added, ref_added) << key;
    ASSERT_EQ(value, it->second) << key;
    if (added) ++next;
  };
  for (std::uint64_t parent = 0; parent < 300; ++parent) {
    for (std::uint64_t call = 0; call < 40; call += 3) add(parent << 32 | call);
  }
  for (std::uint64_t k = 0; k < 5000; ++k) add(k * 0x9E37'79B9'7F4A'7C15);
  for (std::uint64_t parent = 0; parent < 300; parent += 7) add(parent << 32);  // again
  EXPECT_EQ(index.size(), reference.size());
  for (const auto& [key, value] : reference) ASSERT_EQ(index.find(key), value) << key;
  for (std::uint64_t parent = 0; parent < 300; ++parent) {
    ASSERT_EQ(index.find(parent << 32 | 1), IdIndex::kFree) << parent;
  }
}

}  // namespace
}  // namespace tracemill
