// tracemill_gen: writes a seeded, realistic statistics file for benchmarks and tests.
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
#include "bench/self_check.h"

namespace {

using tracemill::bench::Format;
using tracemill::bench::GenOptions;
using tracemill::bench::Profile;

constexpr const char* kUsage =
    "usage: tracemill_gen [--seed N] [--size SIZE | --operations N]\n"
    "                     [--format json|json-pretty|bincode] [--profile typical|chains]\n"
    "                     [--repeat-keys PER_MILLE] [-o FILE]\n"
    "       tracemill_gen --self-check\n"
    "\n"
    "Writes a statistics file generated from the seed (default 1). SIZE (default 100M) is the\n"
    "approximate size of the compact JSON form, with K, M, G (powers of 1000) or Ki, Mi, Gi\n"
    "(powers of 1024); every format holds the same records for the same seed, profile and\n"
    "size. With --repeat-keys, that many operations in a thousand take the key of an earlier\n"
    "one. The file goes to FILE, or to standard output when FILE is - or absent.\n"
    "--self-check checks the generator and the encoders instead and says how that went.\n";

int usage_error(std::string_view message) {
  std::fprintf(stderr, "tracemill_gen: %.*s\n\n%s", static_cast<int>(message.size()),
               message.data(), kUsage);
  return 2;
}

bool parse_u64(std::string_view text, std::uint64_t& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
  GenOptions options;
  std::string path = "-";
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--self-check") return tracemill::bench::self_check();
    if (i + 1 >= argc) return usage_error("missing value after " + std::string(arg));
    std::string_view value = argv[++i];
    if (arg == "--seed") {
      if (!parse_u64(value, options.seed)) return usage_error("bad seed: " + std::string(value));
    } else if (arg == "--size") {
      auto size = tracemill::bench::parse_size(value);
      if (!size) return usage_error("bad size: " + std::string(value));
      options.size = *size;
    } else if (arg == "--operations") {
      std::uint64_t n = 0;
      if (!parse_u64(value, n)) return usage_error("bad operation count: " + std::string(value));
      options.operations = n;
    } else if (arg == "--format") {
      if (value == "json") {
        options.format = Format::Json;
      } else if (value == "json-pretty") {
        options.format = Format::JsonPretty;
      } else if (value == "bincode") {
        options.format = Format::Bincode;
      } else {
        return usage_error("unknown format: " + std::string(value));
      }
    } else if (arg == "--profile") {
      if (value == "typical") {
        options.profile = Profile::Typical;
      } else if (value == "chains") {
        options.profile = Profile::Chains;
      } else {
        return usage_error("unknown profile: " + std::string(value));
      }
    } else if (arg == "--repeat-keys") {
      if (!parse_u64(value, options.repeat_keys) || options.repeat_keys > 1000) {
        return usage_error("bad per mille: " + std::string(value));
      }
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
      std::fprintf(stderr, "tracemill_gen: cannot open %s: %s\n", path.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  tracemill::FdSink sink(fd, tracemill::FdSink::Buffering::None);
  auto summary = tracemill::bench::write_stats_file(options, sink);
  if (!summary.ok || (fd != 1 && ::close(fd) != 0 && sink.error() == 0)) {
    int err = sink.error() != 0 ? sink.error() : errno;
    std::fprintf(stderr, "tracemill_gen: writing %s failed: %s\n", path.c_str(),
                 std::strerror(err));
    return 1;
  }
  std::fprintf(stderr, "tracemill_gen: %llu operations, %llu call chains, %llu bytes\n",
               static_cast<unsigned long long>(summary.operations),
               static_cast<unsigned long long>(summary.call_chains),
               static_cast<unsigned long long>(summary.bytes));
  return 0;
}
