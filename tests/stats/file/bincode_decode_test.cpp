#include "stats/file/bincode_decode.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "graph/graph_testing.h"
#include "stats/file/bincode_writer.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

using testing::encode;
using testing::text;
using testing::u32;
using testing::u64;

// Block sizes for the test door: one byte at a time, an odd size that splits every
// fixed-size value somewhere, and the real buffer size.
constexpr std::size_t kBlockSizes[] = {1, 3, ByteSource::kBufferSize};

constexpr std::string_view kEof =
    "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })";

Result<StatsRecJson, BincodeError> decode(const std::string& bytes,
                                          std::size_t block = ByteSource::kBufferSize,
                                          int fail_errno = 0) {
  return decode_bincode(ByteSource::from_memory(bytes, block, fail_errno));
}

// The debug form of the error, as the run shows it, or "ok".
std::string outcome(const std::string& bytes, std::size_t block = ByteSource::kBufferSize,
                    int fail_errno = 0) {
  auto result = decode(bytes, block, fail_errno);
  if (result) return "ok";
  return compact_string(LoadError{result.error()});
}

std::string zeros(std::size_t n) { return std::string(n, '\0'); }

// Overwrites bytes of `file` at `offset`.
std::string patched(std::string file, std::size_t offset, const std::string& bytes) {
  file.replace(offset, bytes.size(), bytes);
  return file;
}

// The 298-byte file of one operation "op" with one chain of the call (p, m, Outbound), built
// byte for byte.
std::string example_file() {
  std::string f = zeros(120);  // empty-record prefix
  f += u64(1);                 // count of stats
  f += u64(2) + "op";          // key
  f += u64(0);                 // count of method
  f += zeros(32);              // four counters
  f += u64(1);                 // count of call_chain
  f += u64(1);                 // count of the key's calls
  f += std::string("\x01\0\0\0\0\0\0\0p\x01\0\0\0\0\0\0\0m\x01\0\0\0", 22);  // the Call
  f += u64(0);                                                               // caching_process
  f += '\x01';                                                               // is_leaf
  f += u64(5);                                                               // count
  f += u64(0);                                                               // depth
  f += zeros(24);                                                            // three list counts
  f += '\x00';                                                               // rooted
  f += u64(0);                                                               // expect_root
  f += zeros(8);                                                             // two i32
  f += zeros(16);                                                            // two map counts
  return f;
}

constexpr std::size_t kIsLeafOffset = 224;
constexpr std::size_t kDirectionOffset = 212;

StatsRecJson example_record() {
  StatsRecJson rec = test_util::record_of({{"op", {{{{"p", "m", CallDirection::Outbound}}, 5}}}});
  rec.stats["op"].call_chain[0].first.is_leaf = true;
  return rec;
}

// A record with what generated files never hold: the ends of the integer ranges, multi-byte
// and empty texts, negative map keys, a text and an i64 list longer than the buffer.
StatsRecJson rich_record() {
  StatsRecJson rec;
  rec.version = {3, 65535};
  rec.trace_id = {"", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
                  std::string(9000, 'x') + "\xE2\x82\xAC"};
  rec.num_spans = {UINT64_MAX};
  rec.num_files = -7;
  rec.num_endpoints = 0x0102030405060708ULL;
  for (int i = 0; i < 1500; ++i) rec.start_dt.push_back(INT64_MIN + i * 977);
  rec.end_dt = {INT64_MAX};
  OperationStatsJson& op = rec.stats["GET /users"];
  op.method["m"].http_not_ok_codes = {{404, 2}, {-1, 3}, {500, UINT64_MAX}};
  op.method["m"].error_logs = {{"", 2}};
  auto& [key, value] = op.call_chain.emplace_back();
  key.call_chain = {Call{"frontend", "GET /users", CallDirection::Inbound},
                    Call{"db", "SELECT", CallDirection::Outbound}};
  value.cc_with_error_logs = INT32_MIN;
  rec.stats[""] = OperationStatsJson{};
  return rec;
}

// The example file built byte for byte, and the rich record through the test encoder with bytes
// after it, decode to their records at every block size.
TEST(BincodeDecode, DecodesAtEveryBlockSize) {
  const std::string file = example_file();
  ASSERT_EQ(file.size(), 298u);
  EXPECT_EQ(encode(example_record()), file) << "the test encoder writes the same bytes";
  const std::pair<std::string, StatsRecJson> cases[] = {
      {file, example_record()}, {encode(rich_record()) + "trailing", rich_record()}};
  for (const auto& [bytes, record] : cases) {
    for (std::size_t block : kBlockSizes) {
      auto result = decode(bytes, block);
      ASSERT_TRUE(result) << "block " << block << ": " << compact_string(LoadError{result.error()});
      EXPECT_TRUE(result.value() == record) << "block " << block;
    }
  }
}

TEST(BincodeDecode, TopLevelFieldsSitAtTheirOffsets) {
  std::string file = zeros(128);
  file = patched(file, 0, "\x01\x02\x03\x04");   // major 0x0201, minor 0x0403
  file = patched(file, 28, "\xFF\xFF\xFF\xFF");  // num_files -1
  for (std::size_t i = 0; i < 6; ++i) file = patched(file, 32 + 8 * i, u64(1000 + i));
  auto result = decode(file);
  ASSERT_TRUE(result);
  const StatsRecJson& r = result.value();
  EXPECT_EQ(r.version, (Version{0x0201, 0x0403}));
  EXPECT_EQ(r.num_files, -1);
  EXPECT_EQ((std::vector<std::uint64_t>{r.num_endpoints, r.num_incomplete_traces, r.num_call_chains,
                                        r.init_num_unrooted_cc, r.num_fixes,
                                        r.num_unrooted_cc_after_fixes}),
            (std::vector<std::uint64_t>{1000, 1001, 1002, 1003, 1004, 1005}));
}

TEST(BincodeDecode, EveryTruncationEndsInUnexpectedEof) {
  std::string file = encode(example_record());
  StatsRecJson rich = rich_record();
  rich.trace_id.pop_back();  // keep the file short enough to cut at every length
  rich.start_dt.resize(3);
  for (const std::string& whole : {file, encode(rich)}) {
    for (std::size_t block : kBlockSizes) {
      for (std::size_t n = 0; n < whole.size(); ++n) {
        ASSERT_EQ(outcome(whole.substr(0, n), block), kEof) << "length " << n << " block " << block;
      }
    }
  }
}

// A file whose first trace_id is the text `bytes`, followed by enough zeros to complete it.
std::string file_with_text(const std::string& bytes) {
  return zeros(4) + u64(1) + text(bytes) + zeros(128);
}

struct Failure {
  std::string bytes;
  std::string error;     // or "ok"
  std::uint64_t offset;  // of the offending byte; the end of the input for UnexpectedEof
};

// The first trace_id holds `bytes`, which are not UTF-8 from byte `valid_up_to` on.
Failure bad_text(const std::string& bytes, int valid_up_to, const char* len) {
  return {file_with_text(bytes),
          "InvalidUtf8Encoding(Utf8Error { valid_up_to: " + std::to_string(valid_up_to) +
              ", error_len: " + len + " })",
          20u + valid_up_to};
}

TEST(BincodeDecode, Failures) {
  const std::string example = example_file();
  const std::string long_ascii(9000, 'a');
  const std::string eof(kEof);
  const Failure cases[] = {
      {patched(example, kIsLeafOffset, "\x02"), "InvalidBoolEncoding(2)", kIsLeafOffset},
      {patched(example, kDirectionOffset, u32(2)), "ok", 0},  // Unknown
      {patched(example, kDirectionOffset, u32(3)),
       "Custom(\"invalid value: integer `3`, expected variant index 0 <= i < 3\")",
       kDirectionOffset},
      {patched(example, 136, "o\xC0"),
       "InvalidUtf8Encoding(Utf8Error { valid_up_to: 1, error_len: Some(1) })", 137},
      {patched(zeros(128), 4, u64(1ULL << 40)), eof, 128},    // trace_id count
      {patched(zeros(128), 80, u64(UINT64_MAX)), eof, 128},   // start_dt count
      {patched(zeros(128), 120, u64(1ULL << 40)), eof, 128},  // stats count
      {zeros(4) + u64(1) + u64(1ULL << 40) + std::string(20000, 'a'), eof, 20020},  // text length
      bad_text("a\xFF", 1, "Some(1)"),
      bad_text("a\xE2\x82", 1, "None"),
      bad_text("\xED\xA0\x80", 0, "Some(1)"),      // surrogate U+D800
      bad_text("\xC1\xBF", 0, "Some(1)"),          // last overlong two-byte lead
      bad_text("\xE0\x80\x80", 0, "Some(1)"),      // overlong three-byte form
      bad_text("\xF0\x80\x80\x80", 0, "Some(1)"),  // overlong four-byte form
      bad_text("\xF4\x90\x80\x80", 0, "Some(1)"),  // above U+10FFFF
      bad_text("ab\x80", 2, "Some(1)"),            // lone continuation byte
      bad_text("abcdefg\xFF", 7, "Some(1)"),       // last byte of one whole word
      bad_text("abcdefghij\xFF", 10, "Some(1)"),   // last byte, in the overlapping word
      bad_text("\xE2\x82\x41", 0, "Some(2)"),      // cut short by an 'A'
      bad_text("\xF0\x9F\x98\x41", 0, "Some(3)"),
      bad_text("\xE0\x80", 0, "Some(1)"),  // wrong second byte beats the end
      bad_text("\xF0\x9F\x98", 0, "None"),
      bad_text("\xC3\xA9\xE2\x82\xAC\xFF", 5, "Some(1)"),
      bad_text(long_ascii + "\xF0\x9F\x98\x80\xED\xBF\xBF", 9004, "Some(1)"),
      bad_text(long_ascii + "\xE2", 9000, "None"),
  };
  for (const Failure& c : cases) {
    for (std::size_t block : kBlockSizes) {
      auto result = decode(c.bytes, block);
      EXPECT_EQ(outcome(c.bytes, block), c.error) << "row " << &c - cases << ", block " << block;
      if (!result) {
        EXPECT_EQ(result.error().offset, c.offset) << "row " << &c - cases;
      }
    }
  }
  // Well-formed texts at the edges of the ranges (U+007F U+0080 U+07FF, U+0800 U+D7FF U+E000
  // U+FFFF, U+10000 U+10FFFF) come back byte for byte.
  for (std::string t : {"\x7F\xC2\x80\xDF\xBF", "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF",
                        "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"}) {
    auto result = decode(file_with_text(t));
    ASSERT_TRUE(result) << compact_string(LoadError{result.error()});
    EXPECT_EQ(result.value().trace_id, std::vector<std::string>{t});
  }
}

TEST(BincodeDecode, ReadErrorsCarryTheSystemError) {
  const std::string io_error =
      "Io(Os { code: 5, kind: Uncategorized, message: \"Input/output error\" })";
  for (std::size_t block : kBlockSizes) {
    EXPECT_EQ(outcome("", block, EIO), io_error);
    EXPECT_EQ(outcome(example_file().substr(0, 200), block, EIO), io_error);
  }
  // Nothing after the record is read, so a read error there goes unnoticed.
  EXPECT_EQ(outcome(zeros(128), 64, EIO), "ok");
}

}  // namespace
}  // namespace tracemill
