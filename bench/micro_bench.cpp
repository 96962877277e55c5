// Micro benchmarks of hot helpers: quoting text for the text form, hashing short keys.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/keyed_hash.h"
#include "base/sink.h"
#include "text_form/debug.h"

namespace {

// A sink that only counts, so the benchmark measures the quoting and not the copying.
class CountingSink final : public tracemill::Sink {
 public:
  bool write(std::string_view text) override {
    bytes_ += text.size();
    return true;
  }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

// Mostly plain ASCII, with quotes, backslashes, control characters and non-ASCII text mixed in.
std::string mixed_text() {
  std::string text;
  const char* pieces[] = {"GET /api/v1/orders/{id}",
                          " upstream \"payments\" timed out",
                          " C:\\spool\\out.log",
                          "\n\tat Orders.Get",
                          " Kartenpr\u00fcfung f\u00fcr M\u00fcller 12,50 \u20ac",
                          " \u65e5\u672c\u8a9e\u306e\u30a8\u30e9\u30fc"};
  while (text.size() < 4096) {
    for (const char* p : pieces) text += p;
  }
  return text;
}

void BM_WriteQuotedMixed(benchmark::State& state) {
  std::string text = mixed_text();
  CountingSink sink;
  for (auto _ : state) {
    tracemill::write_quoted(sink, text);
  }
  benchmark::DoNotOptimize(sink.bytes());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_WriteQuotedMixed);

void BM_WriteQuotedPlain(benchmark::State& state) {
  std::string text(4096, 'a');
  CountingSink sink;
  for (auto _ : state) {
    tracemill::write_quoted(sink, text);
  }
  benchmark::DoNotOptimize(sink.bytes());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_WriteQuotedPlain);

// Process and method names are 5 to 40 bytes long; the map lookups of graph building hash them.
void BM_SipHashShort(benchmark::State& state) {
  std::string key(static_cast<std::size_t>(state.range(0)), 'x');
  tracemill::KeyedHash<std::string> hash;
  std::size_t sum = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(key.data());
    sum += hash(key);
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(key.size()));
}
BENCHMARK(BM_SipHashShort)->Arg(8)->Arg(16)->Arg(32)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
