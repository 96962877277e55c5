#include "export/latency_worker.h"

#include <algorithm>
#include <system_error>

#include "base/fatal.h"

namespace tracemill {

namespace {

// A piece of work in the ring: a header word (kind << 32 | number of durations), the addresses
// of the figure it adds to and of the one it takes from, then the durations.
std::uint64_t word_of(Latency* figure) { return reinterpret_cast<std::uintptr_t>(figure); }

Latency* figure_of(std::uint64_t word) {
  return reinterpret_cast<Latency*>(static_cast<std::uintptr_t>(word));
}

}  // namespace

LatencyWorker::LatencyWorker(std::uint64_t start_after) : start_after_(start_after) {}

LatencyWorker::~LatencyWorker() {
  if (!thread_.joinable()) return;
  send(kStop, nullptr, nullptr, {});
  thread_.join();
}

void LatencyWorker::add(Latency& figure, std::span<const std::int64_t> micros) {
  if (micros.empty()) return;
  if (!thread_.joinable()) {
    handed_over_ += micros.size();
    if (handed_over_ < start_after_) {
      figure.add(micros);
      return;
    }
    ring_ = std::make_unique<WordRing>();
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread to be had (a limit on threads): the work goes on here, as for small files.
      ring_.reset();
      start_after_ = ~std::uint64_t{0};
      figure.add(micros);
      return;
    }
  }
  send(kAdd, &figure, nullptr, micros);
}

void LatencyWorker::merge(Latency& into, std::unique_ptr<Latency> from) {
  if (!thread_.joinable()) {
    into.merge(*from);
    return;
  }
  send(kMerge, &into, from.release(), {});
}

void LatencyWorker::free(std::unique_ptr<Latency> figure) {
  if (thread_.joinable()) send(kFree, nullptr, figure.release(), {});
}

void LatencyWorker::finish() {
  if (thread_.joinable()) ring_->wait_until_taken();
}

void LatencyWorker::send(Kind kind, Latency* to, Latency* from,
                         std::span<const std::int64_t> micros) {
  WordRing& ring = *ring_;
  ring.put(std::uint64_t{kind} << 32 | micros.size());
  ring.put(word_of(to));
  ring.put(word_of(from));
  // The signed durations as the unsigned words of the same bits.
  ring.put(std::span(reinterpret_cast<const std::uint64_t*>(micros.data()), micros.size()));
  // Published in pieces of some size, so that the thread, when it has caught up, sleeps until
  // there is some work, not at every pair (waking it costs this thread a system call).
  if (kind == kStop || ring.unpublished() >= kPublishWords) ring.publish();
}

void LatencyWorker::run() {
  name_thread("latency");
  WordRing& ring = *ring_;
  for (;;) {
    const std::uint64_t head = ring.get();
    Latency* to = figure_of(ring.get());
    Latency* from = figure_of(ring.get());
    switch (static_cast<Kind>(head >> 32)) {
      case kAdd:
        for (std::size_t left = head & 0xFFFFFFFF; left != 0;) {
          const std::span<const std::uint64_t> run = ring.get_run(left);
          const std::span micros(reinterpret_cast<const std::int64_t*>(run.data()), run.size());
          to->add(micros);
          left -= run.size();
        }
        break;
      case kMerge:
        to->merge(*from);
        delete from;
        break;
      case kFree:
        delete from;
        break;
      case kStop:
        ring.release();
        return;
    }
    ring.release();
  }
}

}  // namespace tracemill
