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
  const char* what;
};

// Range edges, First/Last ranges of UnicodeData.txt, and points in every plane that has any.
constexpr Property kProperties[] = {
    {0x0020, false, true, "the blank, Zs but printable"},
    {0x007F, false, false, "DEL, Cc"},
    {0x009F, false, false, "last C1 control"},
    {0x00A1, false, true, "inverted exclamation mark"},
    {0x00AD, false, false, "soft hyphen, Cf"},
    {0x02FF, false, true, "just below the combining marks"},
    {0x0300, true, true, "first combining mark, Mn"},
    {0x036F, true, true, "last of the block"},
    {0x0370, false, true, "Greek, after the block"},
    {0x0377, false, true, "assigned before the hole"},
    {0x0378, false, false, "unassigned, Cn"},
    {0x0488, true, true, "combining enclosing mark, Me"},
    {0x200C, true, false, "zero width non-joiner: Cf and Grapheme_Extend"},
    {0x200D, false, false, "zero width joiner: Cf only"},
    {0x2028, false, false, "line separator, Zl"},
    {0xAC00, false, true, "first Hangul syllable (a First/Last range)"},
    {0xD7A3, false, true, "last Hangul syllable"},
    {0xD7A4, false, false, "after the Hangul range, Cn"},
    {0xD800, false, false, "first surrogate, Cs"},
    {0xE000, false, false, "first private use, Co"},
    {0xFFFF, false, false, "noncharacter, Cn"},
    {0x2A6DF, false, true, "CJK extension B end"},
    {0x2A6E0, false, false, "after extension B, Cn"},
    {0x323AF, false, true, "CJK extension H end (new in 15.0)"},
    {0xE0001, false, false, "language tag, Cf"},
    {0xE01EF, true, true, "variation selector 256, Mn"},
    {0xE01F0, false, false, "after the variation selectors, Cn"},
    {0x110000, false, false, "beyond the code space"},
};

TEST(Unicode, PropertiesAcrossPlanes) {
  for (const Property& p : kProperties) {
    SCOPED_TRACE(p.what);
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
