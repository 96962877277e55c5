// Generated files decode, through the tool's own decoders, to the records the generator made:
// encoders, generator and decoders agree field by field. The generator's other promises are
// checked by `tracemill_gen --self-check`.
#include "bench/generator.h"

#include <gtest/gtest.h>

#include "base/sink.h"
#include "text_form/debug.h"

namespace tracemill::bench {
namespace {

TEST(Generator, EveryFormatDecodesToTheGeneratedRecords) {
  for (Profile profile : {Profile::Typical, Profile::Chains}) {
    StatsGenerator gen(3, profile);
    StatsRecJson expected = gen.header(6);
    for (int i = 0; i < 6; ++i) expected.stats.insert(gen.next_operation());
    for (Format format : {Format::Json, Format::JsonPretty, Format::Bincode}) {
      StringSink file;
      ASSERT_TRUE(
          write_stats_file({.seed = 3, .operations = 6, .format = format, .profile = profile}, file)
              .ok);
      const Encoding encoding = format == Format::Bincode ? Encoding::Bincode : Encoding::Json;
      for (std::size_t block : {std::size_t{5}, ByteSource::kBufferSize}) {
        auto decoded = StatsFile(encoding, ByteSource::from_memory(file.text(), block)).read();
        ASSERT_TRUE(decoded) << compact_string(decoded.error());
        EXPECT_TRUE(decoded.value() == expected) << "format " << static_cast<int>(format);
      }
    }
  }
}

}  // namespace
}  // namespace tracemill::bench
