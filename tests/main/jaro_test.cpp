#include "main/jaro.h"

#include <gtest/gtest.h>

#include <string_view>

namespace tracemill {
namespace {

TEST(Jaro, Similarity) {
  struct Case {
    std::u32string_view a, b;
    double expected;
  };
  const Case cases[] = {
      {U"outpt", U"output", 17.0 / 18.0},
      {U"o", U"output", 13.0 / 18.0},
      {U"foo", U"output", 0.5},
      {U"foo", U"help", 0.0},
      {U"", U"", 1.0},
      {U"", U"output", 0.0},
      {U"a", U"a", 1.0},
      // The window for lengths 1 and 2 is 0: "a" may only match position 0.
      {U"a", U"xa", 0.0},
      {U"a", U"ax", 2.5 / 3.0},
      // b matched at 0 after a at 1: one transposition, (1 + 1 + 3/4) / 3.
      {U"abcd", U"bacd", 11.0 / 12.0},
      // Characters, not bytes: the accented letter is one position.
      {U"h\u00e9llo", U"hello", 13.0 / 15.0},
      {U"e", U"help", 0.75},
      {U"e", U"version", 5.0 / 7.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(jaro_similarity(c.a, c.b), c.expected)
        << std::u32string(c.a).size() << " vs " << std::u32string(c.b).size();
  }
}

}  // namespace
}  // namespace tracemill
