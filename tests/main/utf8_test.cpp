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

// A text cut into pieces anywhere, even inside a character, has the fault of the whole.
TEST(Utf8, CheckerOverPiecesFindsTheFaultOfTheWhole) {
  const std::string_view texts[] = {
      "ab\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z",  // valid
      "ab\xe2\x82",                               // ends inside a character
      "ab\xe2\x28\xa1yz",                         // bad second byte (then ASCII, not hex digits)
      "\xf0\x9f\x98\x41",                         // bad fourth byte
      "a\xed\xa0\x80",                            // surrogate
      "\xc3\xa9\x80",                             // stray continuation byte
  };
  for (std::string_view text : texts) {
    for (std::size_t first = 0; first <= text.size(); ++first) {
      for (std::size_t second = first; second <= text.size(); ++second) {
        Utf8Checker checker;
        checker.add(text.substr(0, first));
        checker.add(text.substr(first, second - first));
        checker.add(text.substr(second));
        EXPECT_EQ(checker.finish(), check_utf8(text))
            << testing::PrintToString(std::string(text)) << " cut at " << first << ", " << second;
      }
    }
  }
}

}  // namespace
}  // namespace tracemill
