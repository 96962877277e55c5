#include "traces/span.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tracemill {
namespace {

TEST(NormaliseId, HexKeptAsWrittenOtherwiseBase64) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"5B8EFFF798038103", "5b8efff798038103"},  // hex in any case, lowercased
      {"00ab", "00ab"},                          // leading zeros are part of the id
      {"AQIDBA==", "01020304"},                  // base64 with padding
      {"AQIDBA", "01020304"},                    // and without
      {"-_8=", "fbff"},                          // the URL-safe alphabet
      {"+/8=", "fbff"},
      {"O6VWCcPN5JZJzXfR+dzZNg==", "3ba55609c3cde49649cd77d1f9dcd936"},
      {"", std::nullopt},
      {"ab!d", std::nullopt},  // neither
      {"G", std::nullopt},     // one base64 digit is no byte
      {"GA", "18"},
      {"GB", std::nullopt},    // bits left over that are not zero
      {"====", std::nullopt},  // padding only
  };
  for (const auto& [id, expected] : cases) {
    EXPECT_EQ(normalise_id(id), expected) << id;
  }
}

}  // namespace
}  // namespace tracemill
