#include "bench/generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <string>

#include "base/sink.h"
#include "bench/encode.h"
#include "stats/file/bincode_decode.h"
#include "stats/file/json_decode.h"
#include "text_form/debug.h"

namespace tracemill::bench {
namespace {

constexpr Format kFormats[] = {Format::Json, Format::JsonPretty, Format::Bincode};

std::string generate(std::uint64_t seed, std::uint64_t operations, Format format,
                     Profile profile = Profile::Typical) {
  GenOptions options;
  options.seed = seed;
  options.operations = operations;
  options.format = format;
  options.profile = profile;
  StringSink sink;
  GenSummary summary = write_stats_file(options, sink);
  EXPECT_TRUE(summary.ok);
  EXPECT_EQ(summary.operations, operations);
  EXPECT_EQ(summary.bytes, sink.text().size());
  return sink.take();
}

TEST(Generator, SameSeedSameBytesOtherSeedOtherBytes) {
  for (Format format : kFormats) {
    for (Profile profile : {Profile::Typical, Profile::Chains}) {
      std::string a = generate(7, 5, format, profile);
      EXPECT_EQ(a, generate(7, 5, format, profile));
      EXPECT_NE(a, generate(8, 5, format, profile));
    }
  }
}

// With no or one operation the streamed file must be exactly the encoding of the whole record,
// so the header, the `stats` framing and the operation agree with the encoders in every format.
TEST(Generator, StreamedFileEqualsWholeRecordEncoding) {
  for (Profile profile : {Profile::Typical, Profile::Chains}) {
    for (std::uint64_t operations : {0u, 1u}) {
      StatsGenerator gen(11, profile);
      StatsRecJson rec = gen.header(operations);
      if (operations == 1) rec.stats.insert(gen.next_operation());

      std::string json;
      encode_json(rec, json, false);
      EXPECT_EQ(generate(11, operations, Format::Json, profile), json + "\n");
      std::string pretty;
      encode_json(rec, pretty, true);
      EXPECT_EQ(generate(11, operations, Format::JsonPretty, profile), pretty + "\n");
      std::string bin;
      encode_bincode(rec, bin);
      EXPECT_EQ(generate(11, operations, Format::Bincode, profile), bin);
    }
  }
}

// Every format of one generated file decodes, through the tool's own decoders, to the records
// the generator made: encoders, generator and decoders agree field by field.
TEST(Generator, EveryFormatDecodesToTheGeneratedRecords) {
  for (Profile profile : {Profile::Typical, Profile::Chains}) {
    StatsGenerator gen(3, profile);
    StatsRecJson expected = gen.header(6);
    for (int i = 0; i < 6; ++i) expected.stats.insert(gen.next_operation());
    for (Format format : kFormats) {
      for (std::size_t block : {std::size_t{5}, ByteSource::kBufferSize}) {
        ByteSource source = ByteSource::from_memory(generate(3, 6, format, profile), block);
        if (format == Format::Bincode) {
          auto decoded = decode_bincode(std::move(source));
          ASSERT_TRUE(decoded.ok()) << compact_string(decoded.error());
          EXPECT_TRUE(decoded.value() == expected);
        } else {
          auto decoded = decode_json(std::move(source));
          ASSERT_TRUE(decoded.ok()) << compact_string(decoded.error());
          EXPECT_TRUE(decoded.value() == expected);
        }
      }
    }
  }
}

// Repairable directions follow the rule "a change of process is received, a step on the same
// process is not"; the generator must keep most chains consistent but not all of them.
bool consistent(const std::vector<Call>& chain) {
  std::string_view previous;
  for (const Call& call : chain) {
    bool change = call.process != previous;
    if (change && call.call_direction == CallDirection::Outbound) return false;
    if (!change && call.call_direction == CallDirection::Inbound) return false;
    previous = call.process;
  }
  return true;
}

TEST(Generator, RecordsStayWithinTheirRanges) {
  for (Profile profile : {Profile::Typical, Profile::Chains}) {
    StatsGenerator gen(5, profile);
    std::set<std::string> keys;
    std::uint64_t chains = 0;
    std::uint64_t inconsistent = 0;
    for (int i = 0; i < 60; ++i) {
      auto [key, op] = gen.next_operation();
      EXPECT_TRUE(keys.insert(key).second) << "duplicate key " << key;
      for (const auto& [ckey, value] : op.call_chain) {
        ++chains;
        EXPECT_LE(value.count, std::uint64_t{std::numeric_limits<std::int32_t>::max()});
        EXPECT_GE(ckey.call_chain.size(), 2u);
        EXPECT_LE(ckey.call_chain.size(), 12u);
        EXPECT_EQ(value.duration_micros.size(), value.start_dt_micros.size());
        if (!consistent(ckey.call_chain)) ++inconsistent;
      }
      std::uint64_t received = 0;
      for (const auto& [name, stats] : op.method) received += stats.count;
      EXPECT_EQ(received, op.num_received_calls + op.num_outbound_calls + op.num_unknown_calls);
    }
    EXPECT_GT(inconsistent, 0u);
    EXPECT_LT(inconsistent * 20, chains);  // under 5 %
  }
}

TEST(Generator, SizeDecidesTheOperationCount) {
  for (Profile profile : {Profile::Typical, Profile::Chains}) {
    GenOptions options;
    options.seed = 2;
    options.profile = profile;
    options.size = 4'000'000;
    StringSink sink;
    GenSummary summary = write_stats_file(options, sink);
    EXPECT_GT(summary.operations, 10u);
    EXPECT_GT(sink.text().size(), 3'000'000u);
    EXPECT_LT(sink.text().size(), 5'000'000u);
  }
}

TEST(ParseSize, UnitsAndRejects) {
  struct Case {
    std::string_view text;
    std::optional<std::uint64_t> size;
  };
  const Case cases[] = {
      {"1500", 1500},
      {"100K", 100'000},
      {"100M", 100'000'000},
      {"1G", 1'000'000'000},
      {"64Ki", 65'536},
      {"1Mi", 1'048'576},
      {"2Gi", 2'147'483'648},
      {"", std::nullopt},
      {"M", std::nullopt},
      {"10MB", std::nullopt},
      {"-1", std::nullopt},
      {"18446744073709551615", 18'446'744'073'709'551'615ULL},
      {"18446744073709552G", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_size(c.text), c.size) << c.text;
}

}  // namespace
}  // namespace tracemill::bench
