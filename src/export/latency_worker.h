// LatencyWorker: adds durations to latency figures on a thread of its own while the file decodes.
//
// Counting a duration into its bucket is most of what the health figures cost, and it needs
// nothing the decoding thread still has to do; so the figures go to a second thread, through a
// WordRing, as three kinds of work: add these durations to a figure, merge a figure into
// another (and free it), free a figure. The thread does them in the order they
// were handed over, so every figure ends as if the calls had added to it at once. Until
// `start_after` durations have been handed over, the work is done at once on the calling
// thread: small files never start a thread.
//
// The figures handed over belong to the worker until finish(): the caller must not read, move
// or free them before, and must keep them where they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>

#include "base/word_ring.h"
#include "export/latency.h"

namespace tracemill {

class LatencyWorker {
 public:
  static constexpr std::uint64_t kDefaultStart = std::uint64_t{1} << 16;

  explicit LatencyWorker(std::uint64_t start_after = kDefaultStart);
  ~LatencyWorker();
  LatencyWorker(const LatencyWorker&) = delete;
  LatencyWorker& operator=(const LatencyWorker&) = delete;

  // Adds `micros` to `figure`.
  void add(Latency& figure, std::span<const std::int64_t> micros);
  // Merges `from` into `into`, then frees `from`.
  void merge(Latency& into, std::unique_ptr<Latency> from);
  void free(std::unique_ptr<Latency> figure);
  // Returns once every piece of work handed over is done; the figures are the caller's again.
  void finish();

  // Whether the thread has started (for tests).
  bool threaded() const { return thread_.joinable(); }

 private:
  enum Kind : std::uint64_t { kAdd, kMerge, kFree, kStop };
  // How much work is handed over at once (finish() hands over the rest).
  static constexpr std::size_t kPublishWords = std::size_t{1} << 13;

  // Hands over one piece of work: its kind, the figure it adds to, the figure it takes from,
  // and for kAdd its durations.
  void send(Kind kind, Latency* to, Latency* from, std::span<const std::int64_t> micros);
  void run();

  std::uint64_t start_after_;
  std::uint64_t handed_over_ = 0;
  std::unique_ptr<WordRing> ring_;  // once the thread starts
  std::thread thread_;
};

}  // namespace tracemill
