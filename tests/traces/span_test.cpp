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

// The hex test reads eight bytes at a time: every byte value at every place of ids of every
// length around a word's, against a byte-by-byte reading. A hex id stays as it is (lowercased);
// anything else is read as base64, where a valid text gives other digits or nothing.
TEST(NormaliseId, EveryByteAtEveryPlaceOfShortAndLongIds) {
  auto is_hex = [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  };
  for (std::size_t length : {1, 7, 8, 9, 15, 16, 17, 32}) {
    for (std::size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string id(length, length % 2 ? 'f' : '0');
        id[at] = static_cast<char>(byte);
        const auto got = normalise_id(id);
        if (is_hex(static_cast<unsigned char>(byte))) {
          std::string lower = id;
          lower[at] = static_cast<char>(byte | 0x20);
          ASSERT_EQ(got, lower) << length << " " << at << " " << byte;
        } else {
          ASSERT_NE(got, id) << length << " " << at << " " << byte;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tracemill
