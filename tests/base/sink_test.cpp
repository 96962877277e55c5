#include "base/sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>

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
    // What each write hands over.
    for (auto [text, handed] : {std::pair{"abc", ""}, {"d\nef", "abcd\n"}, {"\n\ngh", "ef\n\n"}}) {
      EXPECT_TRUE(sink.write(text));
      EXPECT_EQ(drain(fds[0]), handed) << text;
    }
    EXPECT_TRUE(sink.flush());
    EXPECT_EQ(drain(fds[0]), "gh");
  }
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(FdSink, BlockBufferingHandsOverFullBlocksAndCompleteLinesOnRequest) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const int fd = fileno(file);
  // Everything handed to the system so far.
  auto written = [fd] {
    std::string got(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    EXPECT_EQ(::pread(fd, got.data(), got.size(), 0), static_cast<ssize_t>(got.size()));
    return got;
  };
  const std::string block(FdSink::kBlockSize, 'x');
  const std::string almost(FdSink::kBlockSize - 1, 'y');
  {
    FdSink sink(fd, FdSink::Buffering::Block);
    EXPECT_TRUE(sink.write("ab\ncd\ne"));
    EXPECT_EQ(written(), "");
    sink.flush_lines();  // what line buffering would have let out by now
    EXPECT_EQ(written(), "ab\ncd\n");
    sink.flush_lines();
    EXPECT_EQ(written(), "ab\ncd\n");
    EXPECT_TRUE(sink.write(block));  // does not fit beside "e": both are handed over
    EXPECT_EQ(written(), "ab\ncd\ne" + block);
    EXPECT_TRUE(sink.write("f"));
    EXPECT_TRUE(sink.write(almost));  // exactly full: kept
    EXPECT_EQ(written().size(), 7 + FdSink::kBlockSize);
    EXPECT_TRUE(sink.write("z"));
    EXPECT_EQ(written(), "ab\ncd\ne" + block + "f" + almost);
  }
  EXPECT_EQ(written(), "ab\ncd\ne" + block + "f" + almost + "z");  // the destructor flushes
  std::fclose(file);
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
