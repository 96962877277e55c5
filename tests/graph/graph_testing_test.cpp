#include "graph/graph_testing.h"

#include <gtest/gtest.h>

#include <string>

namespace tracemill::test_util {
namespace {

constexpr const char* kText = R"(W(
    {
        "a": R {
            x: 1,
            m: {
                "p": 1,
                "q": 2,
            },
            l: [
                2,
                1,
            ],
        },
        "b": R {
            x: 2,
            m: {},
            l: [],
        },
    },
))";

// Map entries may come in any order; everything else must stay as it is.
TEST(CanonicalMapOrder, ReordersMapEntriesOnly) {
  const std::string reordered = R"(W(
    {
        "b": R {
            x: 2,
            m: {},
            l: [],
        },
        "a": R {
            x: 1,
            m: {
                "q": 2,
                "p": 1,
            },
            l: [
                2,
                1,
            ],
        },
    },
))";
  EXPECT_EQ(canonical_map_order(reordered), canonical_map_order(kText));

  auto changed = [](std::string t, const std::string& from, const std::string& to) {
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const std::string text = kText;
  const std::string q = "                \"q\": 2,\n";
  const std::string different[] = {
      // a record's fields swapped
      changed(changed(text, "            x: 1,\n            m: {\n", "            m: {\n"),
              "            },\n            l: [\n                2",
              "            },\n            x: 1,\n            l: [\n                2"),
      changed(text, "                2,\n                1,\n",
              "                1,\n                2,\n"),
      // an entry moved from one node's map to the other's
      changed(changed(text, q, ""), "            m: {},\n",
              "            m: {\n" + q + "            },\n"),
      changed(text, "                \"p\": 1,", "               \"p\": 1,"),
      changed(text, "\"p\": 1,", "\"p\": 1"),
      text + "\n",
  };
  for (const std::string& d : different) {
    EXPECT_NE(canonical_map_order(d), canonical_map_order(kText)) << d;
  }
}

}  // namespace
}  // namespace tracemill::test_util
