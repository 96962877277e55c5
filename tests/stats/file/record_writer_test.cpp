#include "stats/file/record_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "bench/generator.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

template <class T>
using Limits = std::numeric_limits<T>;

StatsRecJson generated(bench::Profile profile, int operations) {
  bench::StatsGenerator generator(9, profile);
  StatsRecJson record = generator.header(static_cast<std::uint64_t>(operations));
  for (int i = 0; i < operations; ++i) record.stats.insert(generator.next_operation());
  return record;
}

// The values at the ends of every range, texts that need escapes or are not ASCII, empty
// lists and maps, and a chain key that occurs twice.
StatsRecJson edge_record() {
  StatsRecJson r;
  r.version = {0, Limits<std::uint16_t>::max()};
  r.trace_id = {"", "q\" b\\ n\n t\t r\r b\b f\f", std::string("nul\0\x01\x1f\x7f", 7),
                "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"};
  r.num_spans = {Limits<std::uint64_t>::max(), 0};
  r.num_files = Limits<std::int32_t>::min();
  r.num_endpoints = Limits<std::uint64_t>::max();
  r.start_dt = {Limits<std::int64_t>::min(), Limits<std::int64_t>::max(), -1, 0};
  r.end_dt = {Limits<std::int64_t>::max()};
  r.caching_processes = {"cache \"1\""};

  ProcOperStatsValue stats;
  stats.count = Limits<std::uint64_t>::max();
  stats.duration_micros = {Limits<std::int64_t>::min()};
  stats.num_not_http_ok = Limits<std::int32_t>::min();
  stats.num_with_error_logs = Limits<std::int32_t>::max();
  stats.http_not_ok_codes = {{Limits<std::int16_t>::min(), 1},
                             {-1, Limits<std::uint64_t>::max()},
                             {Limits<std::int16_t>::max(), 0}};
  stats.error_logs = {{"", 0}, {"\xE2\x82\xAC\n", 5}};
  OperationStatsJson& operation = r.stats[""];
  operation.method = {{"m\"\\", stats}, {"empty", {}}};
  operation.num_unknown_calls = Limits<std::uint64_t>::max();

  CChainStatsKey key{{{"p", "GET /", CallDirection::Inbound},
                      {"\xC3\xA9", "", CallDirection::Outbound},
                      {"", "m", CallDirection::Unknown}},
                     "c",
                     true};
  CChainStatsValue value;
  value.count = 7;
  value.looped = {"", "x"};
  value.rooted = true;
  value.expect_root = {{"p/GET /", Limits<std::uint64_t>::max()}, {"", 0}};
  value.cc_not_http_ok = Limits<std::int32_t>::max();
  value.http_not_ok = {{Limits<std::int16_t>::min(), 2}, {404, 1}};
  value.error_logs = {{"timeout", 3}};
  operation.call_chain = {{key, value}, {key, {}}, {{}, value}};

  r.stats["\xF0\x9F\x98\x80"];  // every list and map empty
  return r;
}

StatsRecJson decoded(Encoding encoding, std::string bytes) {
  auto result = StatsFile(encoding, ByteSource::from_memory(std::move(bytes))).read();
  EXPECT_TRUE(result) << compact_string(result.error());
  return result ? std::move(result).value() : StatsRecJson{};
}

TEST(RecordWriter, EveryFormDecodesToTheWrittenRecord) {
  const std::pair<const char*, StatsRecJson> records[] = {
      {"empty", StatsRecJson{}},
      {"edge values", edge_record()},
      {"generated, typical", generated(bench::Profile::Typical, 4)},
      {"generated, chains", generated(bench::Profile::Chains, 3)},
  };
  for (const auto& [name, record] : records) {
    std::string json, pretty, bincode;
    encode_json(record, json, false);
    encode_json(record, pretty, true);
    encode_bincode(record, bincode);
    StringSink json_file, bincode_file;
    ASSERT_TRUE(write_record(json_file, record, Encoding::Json));
    ASSERT_TRUE(write_record(bincode_file, record, Encoding::Bincode));
    // A file is the value's encoding, JSON with a final line feed.
    EXPECT_EQ(json_file.text(), json + "\n") << name;
    EXPECT_EQ(bincode_file.text(), bincode) << name;
    EXPECT_TRUE(decoded(Encoding::Json, json_file.text()) == record) << name << ", JSON";
    EXPECT_TRUE(decoded(Encoding::Json, pretty) == record) << name << ", pretty JSON";
    EXPECT_TRUE(decoded(Encoding::Bincode, bincode) == record) << name << ", binary";
  }
}

// Fails every write from the `fail_at`-th on (counting from 1; 0: never) and keeps what it was
// given before.
class FailingSink final : public Sink {
 public:
  explicit FailingSink(std::size_t fail_at) : fail_at_(fail_at) {}
  bool write(std::string_view text) override {
    ++writes;
    if (fail_at_ != 0 && writes >= fail_at_) return false;
    largest = std::max(largest, text.size());
    received.append(text);
    return true;
  }
  std::size_t writes = 0;
  std::size_t largest = 0;
  std::string received;

 private:
  std::size_t fail_at_;
};

// Long enough that each of its long number list, text list and map alone is more than the
// largest piece a write may hand on.
StatsRecJson large_record() {
  StatsRecJson r;
  r.start_dt.assign(200'000, Limits<std::int64_t>::min());
  r.trace_id.assign(20'000, "0123456789abcdef");
  ProcOperStatsValue& stats = r.stats["op"].method["m"];
  for (int i = 0; i < 20'000; ++i) stats.error_logs.emplace("error " + std::to_string(i), i);
  return r;
}

TEST(RecordWriter, HandsTheFileOnInBoundedPiecesAndStopsAtAFailedWrite) {
  // The buffer is handed on once it passes 64 KiB, so no piece is much larger.
  constexpr std::size_t kLargestPiece = 128 << 10;
  const StatsRecJson record = large_record();
  for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
    std::string whole;
    if (encoding == Encoding::Json) {
      encode_json(record, whole, false);
      whole += '\n';
    } else {
      encode_bincode(record, whole);
    }
    const auto name = encoding == Encoding::Json ? "JSON" : "binary";
    FailingSink complete(0);
    EXPECT_TRUE(write_record(complete, record, encoding));
    EXPECT_TRUE(complete.received == whole) << name;
    EXPECT_GT(complete.writes, whole.size() / kLargestPiece) << name;
    EXPECT_LE(complete.largest, kLargestPiece) << name;
    for (std::size_t fail_at : {std::size_t{1}, std::size_t{3}}) {
      FailingSink failing(fail_at);
      EXPECT_FALSE(write_record(failing, record, encoding)) << name;
      EXPECT_EQ(failing.writes, fail_at) << name << ": no write after the failed one";
    }
  }
}

}  // namespace
}  // namespace tracemill
