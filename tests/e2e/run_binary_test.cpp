#include "e2e/run_binary.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace tracemill::e2e {
namespace {

TEST(RunBinary, EnvironmentIsControlled) {
  setenv("CLICOLOR_FORCE", "1", 1);
  RunOptions options{.binary = "/usr/bin/env", .environment = {{"A", "1"}, {"B", ""}}};
  for (const char* name :
       {"PATH", "HOME", "LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    options.environment[name] = std::nullopt;
  }
  RunResult r = run_binary(options);
  unsetenv("CLICOLOR_FORCE");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "A=1\nB=\n");
}

TEST(RunBinary, ReadsLargeOutputOnBothStreams) {
  RunResult r = run_binary(
      {.binary = "/bin/sh",
       .args = {"-c", "head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2; exit 3"}});
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_EQ(r.out, std::string(300000, '\0'));
  EXPECT_EQ(r.err, std::string(200000, '\0'));
}

// A mode that did not take effect would let the tests of failed writes pass without a failure.
TEST(RunBinary, StdoutModes) {
  RunResult closed = run_binary({.binary = "/bin/sh",
                                 .args = {"-c", "echo x || echo failed >&2"},
                                 .stdout_mode = StdoutMode::Closed});
  EXPECT_EQ(closed.out, "");
  EXPECT_NE(closed.err.find("failed"), std::string::npos) << closed.err;

  // SIGPIPE is back to its default in the child, so the write kills it.
  RunResult broken = run_binary(
      {.binary = "/bin/sh", .args = {"-c", "exec echo x"}, .stdout_mode = StdoutMode::BrokenPipe});
  EXPECT_EQ(broken.signal, SIGPIPE);
  EXPECT_EQ(broken.exit_status, std::nullopt);
}

}  // namespace
}  // namespace tracemill::e2e
