#include "graph/graph_testing.h"

#include <string>

#include <gtest/gtest.h>

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

  const std::string text = kText;
  auto changed = [&](std::string from, std::string to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const std::string different[] = {
      changed("            x: 1,\n            m: {\n                \"p\": 1,\n                \"q\": 2,\n            },\n",
              "            m: {\n                \"p\": 1,\n                \"q\": 2,\n            },\n            x: 1,\n"),
      changed("                2,\n                1,\n", "                1,\n                2,\n"),
      // an entry moved from one node's map to the other's
      R"(W(
    {
        "a": R {
            x: 1,
            m: {
                "p": 1,
            },
            l: [
                2,
                1,
            ],
        },
        "b": R {
            x: 2,
            m: {
                "q": 2,
            },
            l: [],
        },
    },
))",
      changed("                \"p\": 1,", "               \"p\": 1,"),
      changed("\"p\": 1,", "\"p\": 1"),
      text + "\n",
  };
  for (const std::string& d : different) {
    EXPECT_NE(canonical_map_order(d), canonical_map_order(kText)) << d;
  }
}

}  // namespace
}  // namespace tracemill::test_util
