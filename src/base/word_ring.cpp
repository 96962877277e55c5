#include "base/word_ring.h"

#include <thread>

namespace tracemill {

namespace {

// Yields before sleeping: the other side is usually about to go on.
constexpr int kYields = 64;

}  // namespace

template <class Ready>
void WordRing::wait(std::atomic<bool>& sleeps, Ready ready) {
  for (int i = 0; i < kYields; ++i) {
    std::this_thread::yield();
    if (ready()) return;
  }
  std::unique_lock lock(mutex_);
  // Marked before ready() is asked again: the other side either sees the mark and wakes this
  // one, or made its change before and ready() sees it.
  sleeps.store(true, std::memory_order_seq_cst);
  woken_.wait(lock, ready);
  sleeps.store(false, std::memory_order_relaxed);
}

void WordRing::wake() {
  const std::lock_guard lock(mutex_);
  woken_.notify_all();
}

void WordRing::wait_for_room() {
  publish();  // the getting side may be waiting for these
  auto room = [this] {
    free_until_ = taken_.load(std::memory_order_seq_cst) + words_.size();
    return put_at_ != free_until_;
  };
  if (!room()) wait(putter_sleeps_, room);
}

void WordRing::wait_until_taken() {
  publish();
  auto taken = [this] { return taken_.load(std::memory_order_seq_cst) == put_at_; };
  if (!taken()) wait(putter_sleeps_, taken);
}

void WordRing::wait_for_words() {
  release();  // the putting side may be waiting for room
  auto ready = [this] {
    visible_until_ = published_.load(std::memory_order_seq_cst);
    return get_at_ != visible_until_;
  };
  if (!ready()) wait(getter_sleeps_, ready);
}

}  // namespace tracemill
