#include "base/keyed_hash.h"

#include <cstdint>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace tracemill {
namespace {

TEST(KeyedHash, EveryHasherHasItsOwnKey) {
  KeyedHash<std::string> a;
  KeyedHash<std::string> b;
  EXPECT_EQ(a("process"), a("process"));
  EXPECT_NE(a("process"), b("process"));
  KeyedHash<std::int16_t> c;
  KeyedHash<std::int16_t> d;
  EXPECT_NE(c(404), d(404));
}

// The key is drawn at the first hash: a copy taken afterwards hashes alike (a copied map finds
// its keys), a copy taken before draws a key of its own.
TEST(KeyedHash, CopiesKeepADrawnKeyAndDrawTheirOwnOtherwise) {
  KeyedHash<std::string> unused;
  KeyedHash<std::string> early_copy = unused;
  KeyedHash<std::string> used;
  std::size_t first = used("process");
  KeyedHash<std::string> late_copy = used;
  EXPECT_EQ(late_copy("process"), first);
  EXPECT_EQ(used("process"), first);
  EXPECT_NE(early_copy("process"), unused("process"));

  HashMap<std::string, int> map{{"a", 1}, {"b", 2}};
  HashMap<std::string, int> copy = map;
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_EQ(copy.at("a"), 1);
  EXPECT_EQ(copy.at("b"), 2);
  HashMap<std::string, int> empty;
  HashMap<std::string, int> empty_copy = empty;
  empty_copy.emplace("c", 3);
  empty.emplace("c", 4);
  EXPECT_EQ(empty_copy.at("c"), 3);
  EXPECT_EQ(empty.at("c"), 4);
}

// Every byte of the input and its length matter, including across the 8-byte block boundary.
TEST(KeyedHash, NearbyInputsDoNotCollide) {
  KeyedHash<std::string> h;
  std::set<std::size_t> seen;
  std::string base(17, 'a');
  for (std::size_t len = 0; len <= base.size(); ++len) {
    EXPECT_TRUE(seen.insert(h(base.substr(0, len))).second) << "length " << len;
  }
  for (std::size_t i = 0; i < base.size(); ++i) {
    std::string changed = base;
    changed[i] = 'b';
    EXPECT_TRUE(seen.insert(h(changed)).second) << "byte " << i;
  }
  EXPECT_NE(h(std::string("\0", 1)), h(std::string()));
}

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
