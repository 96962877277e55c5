#include "base/utf8.h"

#include <gtest/gtest.h>

namespace tracemill {
namespace {

TEST(Utf8, DecodesValidAndRejectsMalformedText) {
  struct Case {
    std::string_view text;
    std::optional<std::u32string> expected;
  };
  const Case cases[] = {
      {"", U""},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", U"\u00e9\u20ac\U0001F600"},
      {"\xf4\x8f\xbf\xbf", U"\U0010FFFF"},
      {"\xc0\x80", std::nullopt},          // overlong NUL
      {"\xe0\x80\x80", std::nullopt},      // overlong three-byte form
      {"\xed\xa0\x80", std::nullopt},      // surrogate
      {"\xf4\x90\x80\x80", std::nullopt},  // above U+10FFFF
      {"a\xe2\x82", std::nullopt},         // truncated at the end
      {"\xe2\x28\xa1", std::nullopt},      // bad continuation byte
      {"\x80", std::nullopt},              // stray continuation byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode_utf8(c.text), c.expected) << testing::PrintToString(std::string(c.text));
  }
}

}  // namespace
}  // namespace tracemill
