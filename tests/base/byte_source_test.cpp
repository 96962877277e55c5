#include "base/byte_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "base/gzip_member.h"
#include "e2e/run_binary.h"

namespace tracemill {
namespace {

// Takes everything the source delivers, block by block.
std::string drain(ByteSource& source, std::size_t* blocks = nullptr) {
  std::string got;
  while (source.refill()) {
    got.append(source.data(), source.available());
    if (blocks) ++*blocks;
    source.advance_to(source.limit());
  }
  return got;
}

TEST(ByteSource, MemoryDoorServesBlocksThenEndOrError) {
  struct Case {
    std::size_t block;
    int fail;
    std::size_t blocks;
  } cases[] = {{1, 0, 10}, {3, 0, 4}, {10, 0, 1}, {8192, EIO, 1}};
  for (const Case& c : cases) {
    ByteSource source = ByteSource::from_memory("0123456789", c.block, c.fail);
    std::size_t blocks = 0;
    EXPECT_EQ(drain(source, &blocks), "0123456789");
    EXPECT_EQ(blocks, c.blocks);
    EXPECT_EQ(source.error(), c.fail);
    EXPECT_FALSE(source.refill()) << "the end stays the end";
  }
}

using test_util::gzip;

// Enough varied text that the inflated bytes fill several buffers.
std::string long_text() {
  std::string text;
  for (int i = 0; text.size() < 3 * ByteSource::kBufferSize; ++i) {
    text += "line " + std::to_string(i * 7919 % 100003) + "\n";
  }
  return text;
}

TEST(ByteSource, InflatesGzipInputAndLeavesOtherInputAlone) {
  const std::string member = gzip("hello, gzip\n");
  std::string bad_crc = member, bad_method = member;
  bad_crc[bad_crc.size() - 6] ^= 0x20;
  bad_method[2] = 7;
  const std::string text = long_text();
  struct Case {
    const char* name;
    std::string input;
    bool inflating;
    std::string output;  // what is served before the end or the error
    std::string stream_error;
    int fail = 0;
  } cases[] = {
      {"plain", "0123456789", false, "0123456789", ""},
      {"empty", "", false, "", ""},
      {"1f alone", "\x1f", false, "\x1f", ""},
      {"1f not followed by 8b", "\x1f\x8c\x08", false, "\x1f\x8c\x08", ""},
      {"one member", member, true, "hello, gzip\n", ""},
      {"member of nothing", gzip(""), true, "", ""},
      {"two members", member + gzip("second"), true, "hello, gzip\nsecond", ""},
      {"empty member between", member + gzip("") + member, true, "hello, gzip\nhello, gzip\n", ""},
      {"long", gzip(text), true, text, ""},
      {"garbage after a member", member + "xyz", true, "hello, gzip\n", "incorrect header check"},
      {"wrong checksum", bad_crc, true, "hello, gzip\n", "incorrect data check"},
      {"unknown method", bad_method, true, "", "unknown compression method"},
      // A failing read is the system's error, not the stream's.
      {"read error", member, true, "hello, gzip\n", "", EIO},
  };
  for (const Case& c : cases) {
    for (std::size_t block : {std::size_t{1}, std::size_t{7}, ByteSource::kBufferSize}) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      ByteSource source = ByteSource::from_memory(c.input, block, c.fail);
      EXPECT_EQ(source.inflate_if_gzip(), c.inflating);
      // Bytes that inflate_if_gzip() read and left in place are taken first.
      std::string got(source.data(), source.available());
      source.advance_to(source.limit());
      got += drain(source);
      EXPECT_EQ(got, c.output);
      EXPECT_EQ(source.offset(), c.output.size());
      EXPECT_EQ(source.stream_error(), c.stream_error);
      EXPECT_EQ(source.error(), c.fail);
      EXPECT_FALSE(source.refill()) << "a failure or the end stays";
    }
  }
}

// Wherever a member is cut, from just after the magic on, the end is reported as a truncated
// stream, never as a clean end.
TEST(ByteSource, GzipCutAtAnyLengthIsAnError) {
  const std::string text = "cut me anywhere, cut me anywhere";
  const std::string member = gzip(text);
  for (std::size_t n = 2; n < member.size(); ++n) {
    ByteSource source = ByteSource::from_memory(member.substr(0, n), 5);
    ASSERT_TRUE(source.inflate_if_gzip());
    const std::string got = drain(source);
    EXPECT_EQ(text.substr(0, got.size()), got) << n;
    EXPECT_EQ(source.stream_error(), "gzip stream truncated") << "cut at " << n;
  }
}

TEST(ByteSource, RewindInflatesAgain) {
  ByteSource source = ByteSource::from_memory(gzip("one") + gzip("two"), 3);
  ASSERT_TRUE(source.inflate_if_gzip());
  EXPECT_EQ(drain(source), "onetwo");
  ASSERT_TRUE(source.rewind());
  EXPECT_EQ(drain(source), "onetwo");
  EXPECT_EQ(source.stream_error(), "");
}

TEST(ByteSource, MoveKeepsBytesNotYetTaken) {
  ByteSource source = ByteSource::from_memory("abcdef", 4);
  ASSERT_TRUE(source.refill());
  source.advance_to(source.data() + 1);
  ByteSource moved(std::move(source));
  EXPECT_EQ(std::string(moved.data(), moved.available()), "bcd");
  moved.advance_to(moved.limit());
  EXPECT_EQ(drain(moved), "ef");
}

TEST(ByteSource, ReadsAFileInFullBuffers) {
  e2e::TempDir dir;
  const std::string content(ByteSource::kBufferSize * 2 + 5, 'x');
  ByteSource file(::open(dir.write_file("f", content).c_str(), O_RDONLY));
  std::size_t blocks = 0;
  EXPECT_EQ(drain(file, &blocks), content);
  EXPECT_EQ(blocks, 3u);
  EXPECT_EQ(file.error(), 0);
}

}  // namespace
}  // namespace tracemill
