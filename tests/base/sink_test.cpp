#include "base/sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

namespace tracemill {
namespace {

// Reads what is in the pipe right now without blocking.
std::string drain(int fd) {
  std::string got;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
  return got;
}

TEST(FdSink, LineBufferingHandsOverCompletedLinesOnly) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  {
    FdSink sink(fds[1], FdSink::Buffering::Line);
    EXPECT_TRUE(sink.write("abc"));
    EXPECT_EQ(drain(fds[0]), "");
    EXPECT_TRUE(sink.write("d\nef"));
    EXPECT_EQ(drain(fds[0]), "abcd\n");
    EXPECT_TRUE(sink.write("\n\ngh"));
    EXPECT_EQ(drain(fds[0]), "ef\n\n");
    EXPECT_TRUE(sink.flush());
    EXPECT_EQ(drain(fds[0]), "gh");
  }
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(FdSink, FailedWriteIsRememberedAndStopsOutput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ::close(fds[0]);  // no reader: writes fail with EPIPE (SIGPIPE is ignored by the test main)
  signal(SIGPIPE, SIG_IGN);
  FdSink sink(fds[1], FdSink::Buffering::None);
  EXPECT_FALSE(sink.write("x"));
  EXPECT_EQ(sink.error(), EPIPE);
  EXPECT_FALSE(sink.write("y"));
  ::close(fds[1]);
}

}  // namespace
}  // namespace tracemill
