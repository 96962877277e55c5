#include "traces/trace_shard.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace tracemill {
namespace {

// The published FNV-1a 64 test vectors: the shares must never change.
TEST(TraceShard, HashIsFnv1a64) {
  EXPECT_EQ(trace_id_hash(""), 0xcbf29ce484222325u);
  EXPECT_EQ(trace_id_hash("a"), 0xaf63dc4c8601ec8cu);
  EXPECT_EQ(trace_id_hash("foobar"), 0x85944171f73967e8u);
  EXPECT_EQ(trace_id_hash("\xff"), 0xaf64724c8602eb6eu);  // bytes are unsigned
  EXPECT_TRUE((TraceShard{1, 1}.holds("anything")));
  EXPECT_TRUE((TraceShard{7, 7}.holds("foobar")));  // 0x85944171f73967e8 % 7 == 6
}

TEST(TraceShard, Parse) {
  const struct {
    std::string_view text;
    std::optional<TraceShard> shard;
  } cases[] = {
      {"1/4", TraceShard{1, 4}}, {"4294967295/4294967295", TraceShard{4294967295u, 4294967295u}},
      {"0/0", std::nullopt},     {"0/4", std::nullopt},
      {"5/4", std::nullopt},     {"x", std::nullopt},
      {"/4", std::nullopt},      {"+1/4", std::nullopt},
      {"1/4 ", std::nullopt},    {"1/4294967296", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_trace_shard(c.text), c.shard) << c.text;
}

}  // namespace
}  // namespace tracemill
