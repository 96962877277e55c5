#include "text_form/unicode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>

#include "text_form/unicode_tables.h"

namespace tracemill {
namespace {

struct Property {
  char32_t c;
  bool grapheme_extend;
  bool printable;
};

// Range edges (both sides), the categories that are not printable (Cc, Zs, Cf, Zl, Cs, Co, Cn),
// marks (Mn, Me) and U+200C (Cf and Grapheme_Extend), First/Last ranges of UnicodeData.txt
// (Hangul, CJK extensions B and H, the latter new in 15.0) and points in every plane that has
// any; beyond the code space nothing holds.
constexpr Property kProperties[] = {
    {0x0020, false, true},    {0x007F, false, false},  {0x009F, false, false},
    {0x00A1, false, true},    {0x00AD, false, false},  {0x02FF, false, true},
    {0x0300, true, true},     {0x036F, true, true},    {0x0370, false, true},
    {0x0377, false, true},    {0x0378, false, false},  {0x0488, true, true},
    {0x200C, true, false},    {0x200D, false, false},  {0x2028, false, false},
    {0xAC00, false, true},    {0xD7A3, false, true},   {0xD7A4, false, false},
    {0xD800, false, false},   {0xE000, false, false},  {0xFFFF, false, false},
    {0x2A6DF, false, true},   {0x2A6E0, false, false}, {0x323AF, false, true},
    {0xE0001, false, false},  {0xE01EF, true, true},   {0xE01F0, false, false},
    {0x110000, false, false},
};

TEST(Unicode, PropertiesAcrossPlanes) {
  for (const Property& p : kProperties) {
    EXPECT_EQ(is_grapheme_extend(p.c), p.grapheme_extend) << std::hex << std::uint32_t{p.c};
    EXPECT_EQ(is_printable(p.c), p.printable) << std::hex << std::uint32_t{p.c};
  }
}

// The lookup relies on the tables being strictly increasing boundaries that close every range.
TEST(Unicode, TablesAreWellFormed) {
  for (std::span<const std::uint32_t> table :
       {unicode_tables::kGraphemeExtend, unicode_tables::kNonPrintable}) {
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(table.size() % 2, 0U);
    EXPECT_LE(table.back(), 0x110000U);
    for (std::size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1], table[i]) << i;
  }
}

}  // namespace
}  // namespace tracemill
