#include "base/word_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

namespace tracemill {
namespace {

// A numbered stream through rings smaller and larger than the pieces put, put and got in
// pieces of random sizes: every word arrives once, in order, however the two sides meet
// (full, empty, asleep).
TEST(WordRing, EveryWordArrivesOnceInOrder) {
  for (std::size_t size : {std::size_t{4}, std::size_t{64}, WordRing::kDefaultWords}) {
    SCOPED_TRACE(size);
    constexpr std::uint64_t kWords = 300'000;
    WordRing ring(size);
    std::thread putter([&] {
      std::mt19937_64 random(size);
      std::vector<std::uint64_t> piece;
      for (std::uint64_t next = 0; next < kWords;) {
        if (random() % 2 == 0) {
          ring.put(next++);
        } else {
          piece.clear();
          for (std::uint64_t n = random() % 200; n != 0 && next < kWords; --n) {
            piece.push_back(next++);
          }
          ring.put(piece);
        }
        if (random() % 8 == 0) ring.publish();
      }
      ring.wait_until_taken();
    });
    std::mt19937_64 random(size + 1);
    std::uint64_t expected = 0;
    bool in_order = true;
    while (expected < kWords) {
      if (random() % 2 == 0) {
        in_order = ring.get() == expected++ && in_order;
      } else {
        for (const std::uint64_t word : ring.get_run(1 + random() % 300)) {
          in_order = word == expected++ && in_order;
        }
      }
      if (random() % 16 == 0) ring.release();
    }
    ring.release();
    putter.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(expected, kWords);
  }
}

}  // namespace
}  // namespace tracemill
