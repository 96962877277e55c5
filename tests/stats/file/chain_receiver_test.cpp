// Decoding for a receiver hands over the operations, each call and each count in file order, in
// both encodings; a file that stops decoding gives a prefix of them, with no call handed over
// before it is whole.
#include "stats/file/chain_receiver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/byte_source.h"
#include "graph/graph_testing.h"
#include "text_form/debug.h"

namespace tracemill::test_util {
namespace {

class Recorder final : public ChainReceiver {
 public:
  void operation(std::string_view key) override { events += "op " + std::string(key) + "\n"; }
  void call(const Call& call) override { events += compact_string(call) + "\n"; }
  void chain(std::uint64_t count) override { events += "count " + std::to_string(count) + "\n"; }
  std::string events;
};

TEST(ChainReceiver, TakesOperationsCallsAndCountsInFileOrder) {
  // A repeated key, an operation without chains, an empty chain and a count beyond the range
  // graph building accepts: decoding hands all of them over as they stand.
  const Operations operations = {
      {"b",
       {{{{"p", "x", I}, {"q", "y\n", O}, {"q", "z", U}}, 3},
        {{}, 0},
        {{{"p", "x", I}}, std::uint64_t{1} << 40}}},
      {"a", {}},
      {"b", {{{{"r", "w", U}, {"", "", I}}, 1}}},
  };
  std::string expected;
  for (const auto& [key, chains] : operations) {
    expected += "op " + key + "\n";
    for (const auto& [calls, count] : chains) {
      for (const Call& call : calls) expected += compact_string(call) + "\n";
      expected += "count " + std::to_string(count) + "\n";
    }
  }
  for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
    const std::string bytes = chains_file(operations, encoding);
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
      Recorder recorder;
      StatsFile file(encoding, ByteSource::from_memory(bytes.substr(0, size), 7, 0, true));
      const bool decoded = !file.stream(recorder).has_value();
      ASSERT_TRUE(decoded || size < bytes.size());
      EXPECT_EQ(recorder.events, decoded ? expected : expected.substr(0, recorder.events.size()))
          << size;
    }
  }
}

}  // namespace
}  // namespace tracemill::test_util
