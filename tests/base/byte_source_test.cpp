#include "base/byte_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

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
