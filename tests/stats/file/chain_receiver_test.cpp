// Decoding for a receiver hands over the operations, each call and each count in file order, in
// both encodings; a file that stops decoding gives a prefix of them, with no call handed over
// before it is whole.
#include "stats/file/chain_receiver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "graph/graph_testing.h"
#include "stats/file/record_writer.h"
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

// A receiver of the health fields: every duration, in order, and the count of trace ids.
class HealthRecorder final : public ChainReceiver {
 public:
  void operation(std::string_view) override {}
  void call(const Call&) override {}
  void chain(std::uint64_t) override { ++chains; }
  bool wants_health() const override { return true; }
  void durations(std::span<const std::int64_t> micros) override {
    EXPECT_FALSE(micros.empty());
    durations_seen.insert(durations_seen.end(), micros.begin(), micros.end());
  }
  void trace_ids(std::uint64_t count) override { traces = count; }
  std::vector<std::int64_t> durations_seen;
  std::uint64_t traces = 0;
  int chains = 0;
};

// Durations of every form reach the receiver as they stand: signs, zero, the longest numbers
// the bulk reading takes and the first it leaves to the reader, the i64 extremes, lists longer
// than a batch, in both encodings and in JSON with and without blanks between the elements.
TEST(ChainReceiver, HandsOverEveryDurationAndCountsTheTraceIds) {
  std::vector<std::int64_t> micros = {-5,
                                      0,
                                      1,
                                      999'999'999'999'999'999,
                                      -999'999'999'999'999'999,
                                      1'000'000'000'000'000'000,
                                      std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max(),
                                      10};
  for (std::int64_t i = 0; i < 1500; ++i) micros.push_back(i * 7919 - 3000);
  StatsRecJson record;
  record.trace_id = {"01", "02", "03"};
  std::pair<CChainStatsKey, CChainStatsValue> pair;
  pair.first.call_chain = {Call{"p", "m", CallDirection::Inbound}};
  pair.second.count = 1;
  for (const std::vector<std::int64_t>& list :
       {std::vector<std::int64_t>{}, std::vector<std::int64_t>{7}, micros}) {
    pair.second.duration_micros = list;
    record.stats["op"].call_chain.push_back(pair);
  }
  std::vector<std::int64_t> expected;
  for (const auto& [key, value] : record.stats["op"].call_chain) {
    expected.insert(expected.end(), value.duration_micros.begin(), value.duration_micros.end());
  }
  for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
    StringSink out;
    ASSERT_TRUE(write_record(out, record, encoding));
    std::vector<std::string> forms = {out.text()};
    if (encoding == Encoding::Json) {  // no name holds a blank
      std::string compact;
      for (char c : out.text()) {
        if (c != ' ' && c != '\n') compact += c;
      }
      forms.push_back(compact);
    }
    // Blocks of odd sizes put numbers across the ends of the buffer.
    for (const std::string& bytes : forms) {
      for (std::size_t block : {ByteSource::kBufferSize, std::size_t{7}, std::size_t{4099}}) {
        HealthRecorder recorder;
        StatsFile file(encoding, ByteSource::from_memory(bytes, block));
        ASSERT_FALSE(file.stream(recorder).has_value());
        EXPECT_EQ(recorder.chains, 3);
        EXPECT_EQ(recorder.traces, 3u);
        EXPECT_EQ(recorder.durations_seen, expected) << bytes.size() << " in blocks of " << block;
      }
    }
  }
}

}  // namespace
}  // namespace tracemill::test_util
