// Running out of memory, as the built tool reports it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>

#include "bench/encode.h"
#include "e2e/run_binary.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill::e2e {
namespace {

// A process name of 1 GiB, all but its length a hole in a sparse file, read under a 64 MiB
// address-space limit: the name grows until an allocation fails. The file ends inside the
// name, so a run that does not run out of memory fails differently.
TEST(Run, OutOfMemory) {
#if defined(TRACEMILL_NO_ALLOC_HOOK) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer builds keep their own allocation functions and reports";
#endif
  StatsRecJson record;
  record.stats["GET /users"].call_chain.push_back(
      {{{Call{"@@@@@@@@", "query", CallDirection::Unknown}}, "", false}, {}});
  std::string bytes;
  bench::encode_bincode(record, bytes);
  // A text is its length as 8 bytes, least significant first, then its bytes: 8 becomes 2^30.
  std::size_t at = bytes.find("@@@@@@@@");
  ASSERT_EQ(bytes.substr(at - 8, 8), std::string("\x08\0\0\0\0\0\0\0", 8));
  bytes.replace(at - 8, bytes.npos, std::string("\0\0\0\x40\0\0\0\0", 8));
  TempDir dir;
  std::filesystem::path file = dir.write_file("huge.bincode", bytes);
  std::filesystem::resize_file(file, at + (std::uint64_t{1} << 30));
  RunResult r = run_binary({.args = {file.string()}, .address_space_limit = 64 << 20});
  EXPECT_EQ(r.signal, SIGABRT) << r.err;
  EXPECT_TRUE(std::regex_match(r.err, std::regex("memory allocation of [0-9]+ bytes failed\n")))
      << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace tracemill::e2e
