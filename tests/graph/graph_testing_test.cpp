// canonical_map_order decides what the graph comparisons of other tests accept: map entries may
// come in any order, anything else that differs must still differ.
#include "graph/graph_testing.h"

#include <gtest/gtest.h>

#include <string>

namespace tracemill::test_util {
namespace {

std::string changed(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

TEST(CanonicalMapOrder, ReordersMapEntriesOnly) {
  const std::string a =
      "  \"a\": R {\n   x: 1,\n   m: {\n    \"p\": 1,\n    \"q\": 2,\n   },\n   l: [\n    2,\n"
      "    1,\n   ],\n  },\n";
  const std::string b = "  \"b\": R {\n   x: 2,\n   m: {},\n  },\n";
  const std::string text = "W(\n {\n" + a + b + " },\n)";
  const std::string reordered = "W(\n {\n" + b +
                                changed(a, "\"p\": 1,\n    \"q\": 2,", "\"q\": 2,\n    \"p\": 1,") +
                                " },\n)";
  EXPECT_EQ(canonical_map_order(reordered), canonical_map_order(text));
  const std::string different[] = {
      changed(text, "   x: 2,\n   m: {},\n", "   m: {},\n   x: 2,\n"),  // a record's fields
      changed(text, "    2,\n    1,\n", "    1,\n    2,\n"),            // a list's items
      // an entry moved from one node's map to the other's
      changed(changed(text, "    \"q\": 2,\n", ""), "   m: {},\n",
              "   m: {\n    \"q\": 2,\n   },\n"),
      changed(text, "    \"p\"", "   \"p\""),
      changed(text, "\"p\": 1,", "\"p\": 1"),
      text + "\n",
  };
  for (const std::string& d : different) {
    EXPECT_NE(canonical_map_order(d), canonical_map_order(text)) << d;
  }
}

}  // namespace
}  // namespace tracemill::test_util
