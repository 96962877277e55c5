// WordRing: a ring of 64-bit words from one thread to another.
//
// One thread puts words, the other gets them, in order. What is put becomes visible to the
// other side at publish(); a side that finds the ring full (or empty) publishes what it has
// (or returns what it took), yields a few times and then sleeps until the other side wakes it.
// A piece of work longer than the ring passes in parts, so any amount of data streams through
// the ring's fixed memory.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

namespace tracemill {

class WordRing {
 public:
  // 2 MiB: room for a few milliseconds of work, so that a putting side rarely waits while the
  // getting side's processor is busy with something else for a moment.
  static constexpr std::size_t kDefaultWords = std::size_t{1} << 18;

  // `words` must be a power of two.
  explicit WordRing(std::size_t words = kDefaultWords) : words_(words, 0), mask_(words - 1) {}

  // --- the putting side ---
  void put(std::uint64_t word) {
    if (put_at_ == free_until_) wait_for_room();
    words_[put_at_++ & mask_] = word;
  }
  void put(std::span<const std::uint64_t> words) {
    while (!words.empty()) {
      if (put_at_ == free_until_) wait_for_room();
      const std::size_t n = std::min(
          {words.size(), static_cast<std::size_t>(free_until_ - put_at_), room_to_end(put_at_)});
      std::memcpy(&words_[put_at_ & mask_], words.data(), n * sizeof(std::uint64_t));
      put_at_ += n;
      words = words.subspan(n);
    }
  }
  // The number of words put since the last publish().
  std::size_t unpublished() const {
    return static_cast<std::size_t>(put_at_ - published_.load(std::memory_order_relaxed));
  }
  // Makes everything put so far visible to the getting side.
  void publish() {
    published_.store(put_at_, std::memory_order_seq_cst);
    if (getter_sleeps_.load(std::memory_order_seq_cst)) wake();
  }
  // Publishes, then waits until the getting side has given back every word put.
  void wait_until_taken();

  // --- the getting side ---
  std::uint64_t get() {
    if (get_at_ == visible_until_) wait_for_words();
    return words_[get_at_++ & mask_];
  }
  // Up to `most` (at least 1) words in one piece, waiting for one. The run stays readable
  // until the next get or release.
  std::span<const std::uint64_t> get_run(std::size_t most) {
    if (get_at_ == visible_until_) wait_for_words();
    const std::size_t n =
        std::min({most, static_cast<std::size_t>(visible_until_ - get_at_), room_to_end(get_at_)});
    const std::span<const std::uint64_t> run(&words_[get_at_ & mask_], n);
    get_at_ += n;
    return run;
  }
  // Gives the words got so far back to the putting side (a get that has to wait does too).
  void release() {
    taken_.store(get_at_, std::memory_order_seq_cst);
    if (putter_sleeps_.load(std::memory_order_seq_cst)) wake();
  }

 private:
  std::size_t room_to_end(std::uint64_t at) const { return words_.size() - (at & mask_); }
  void wait_for_room();
  void wait_for_words();
  // Yields a few times, then sleeps (marked by `sleeps`) until ready() holds.
  template <class Ready>
  void wait(std::atomic<bool>& sleeps, Ready ready);
  void wake();

  std::vector<std::uint64_t> words_;
  const std::uint64_t mask_;
  // Each only grows; a word's place in the ring is its number & mask_.
  std::atomic<std::uint64_t> published_{0};
  std::atomic<std::uint64_t> taken_{0};
  std::atomic<bool> getter_sleeps_{false};
  std::atomic<bool> putter_sleeps_{false};
  std::mutex mutex_;
  std::condition_variable woken_;
  // The putting side's own.
  std::uint64_t put_at_ = 0;
  std::uint64_t free_until_ = words_.size();
  // The getting side's own.
  std::uint64_t get_at_ = 0;
  std::uint64_t visible_until_ = 0;
};

}  // namespace tracemill
