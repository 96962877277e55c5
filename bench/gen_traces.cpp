// tracemill_gen_traces: writes seeded, realistic traces as OTLP JSON lines, Jaeger JSON or
// Zipkin v2 JSON, for benchmarks of tracemill-condense.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/sink.h"
#include "bench/generator.h"
#include "bench/trace_formats.h"

namespace {

using tracemill::bench::TraceFormat;
using tracemill::bench::TraceGenerator;
using tracemill::bench::TraceGenOptions;

constexpr const char* kUsage =
    "usage: tracemill_gen_traces [--seed N] [--size SIZE | --traces N] [--services N]\n"
    "                            [--format otlp|jaeger|zipkin] [--spans-file PATH] [-o FILE]\n"
    "\n"
    "Writes traces generated from the seed (default 1): OTLP JSON lines (the default), Jaeger\n"
    "JSON or Zipkin v2 JSON. SIZE (default 100M) is the approximate size of the OTLP form, with\n"
    "K, M, G (powers of 1000) or Ki, Mi, Gi (powers of 1024); the number of traces is derived\n"
    "from it, so every format holds the same traces for the same seed, size and services.\n"
    "--services N (3 to 42) fixes the number of services, 20 to 40 by default. --spans-file\n"
    "writes the number of spans to PATH. The file goes to FILE, or to standard output when FILE\n"
    "is - or absent.\n";

int usage_error(std::string_view message) {
  std::fprintf(stderr, "tracemill_gen_traces: %.*s\n\n%s", static_cast<int>(message.size()),
               message.data(), kUsage);
  return 2;
}

bool parse_u64(std::string_view text, std::uint64_t& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
  TraceGenOptions options;
  std::string path = "-";
  std::string spans_path;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return usage_error("missing value after " + std::string(arg));
    std::string_view value = argv[++i];
    std::uint64_t n = 0;
    if (arg == "--seed") {
      if (!parse_u64(value, options.seed)) return usage_error("bad seed: " + std::string(value));
    } else if (arg == "--size") {
      auto size = tracemill::bench::parse_size(value);
      if (!size) return usage_error("bad size: " + std::string(value));
      options.size = *size;
    } else if (arg == "--traces") {
      if (!parse_u64(value, n)) return usage_error("bad trace count: " + std::string(value));
      options.traces = n;
    } else if (arg == "--services") {
      if (!parse_u64(value, n) || n < TraceGenerator::kMinServices ||
          n > TraceGenerator::kMaxServices) {
        return usage_error("bad number of services: " + std::string(value));
      }
      options.services = static_cast<std::size_t>(n);
    } else if (arg == "--format") {
      if (value == "otlp") {
        options.format = TraceFormat::Otlp;
      } else if (value == "jaeger") {
        options.format = TraceFormat::Jaeger;
      } else if (value == "zipkin") {
        options.format = TraceFormat::Zipkin;
      } else {
        return usage_error("unknown format: " + std::string(value));
      }
    } else if (arg == "--spans-file") {
      spans_path = value;
    } else if (arg == "-o" || arg == "--output") {
      path = value;
    } else {
      return usage_error("unknown option: " + std::string(arg));
    }
  }

  int fd = 1;
  if (path != "-") {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::fprintf(stderr, "tracemill_gen_traces: cannot open %s: %s\n", path.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  tracemill::FdSink sink(fd, tracemill::FdSink::Buffering::None);
  auto summary = tracemill::bench::write_traces_file(options, sink);
  if (!summary.ok || (fd != 1 && ::close(fd) != 0 && sink.error() == 0)) {
    int err = sink.error() != 0 ? sink.error() : errno;
    std::fprintf(stderr, "tracemill_gen_traces: writing %s failed: %s\n", path.c_str(),
                 std::strerror(err));
    return 1;
  }
  if (!spans_path.empty()) {
    std::FILE* f = std::fopen(spans_path.c_str(), "w");
    if (f == nullptr ||
        std::fprintf(f, "%llu\n", static_cast<unsigned long long>(summary.spans)) < 0 ||
        std::fclose(f) != 0) {
      std::fprintf(stderr, "tracemill_gen_traces: writing %s failed\n", spans_path.c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "tracemill_gen_traces: %llu traces, %llu spans (%llu failed), %llu bytes\n",
               static_cast<unsigned long long>(summary.traces),
               static_cast<unsigned long long>(summary.spans),
               static_cast<unsigned long long>(summary.failed_spans),
               static_cast<unsigned long long>(summary.bytes));
  return 0;
}
