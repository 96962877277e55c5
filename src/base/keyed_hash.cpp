#include "base/keyed_hash.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "base/build_config.h"
#include "base/words.h"

#if TRACEMILL_HAVE_GETRANDOM
#include <sys/random.h>
#endif

namespace tracemill {
namespace {

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

// Fills `key` from the system's entropy source: getrandom() where the C library has it, else
// (or when it fails, as on a kernel without it) /dev/urandom. False when neither gives the bytes.
bool random_key(HashKey& key) {
#if TRACEMILL_HAVE_GETRANDOM
  if (getrandom(&key, sizeof key, 0) == static_cast<ssize_t>(sizeof key)) return true;
#endif
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = read(fd, &key, sizeof key);
  } while (n < 0 && errno == EINTR);
  close(fd);
  return n == static_cast<ssize_t>(sizeof key);
}

HashKey process_key() {
  HashKey key{};
  if (!random_key(key)) {
    // No entropy source: fall back to the clock and an address, still varying per run.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    key.k0 = static_cast<std::uint64_t>(now.tv_nsec) ^ reinterpret_cast<std::uintptr_t>(&key);
    key.k1 = static_cast<std::uint64_t>(now.tv_sec) * 0x9e3779b97f4a7c15ULL;
  }
  return key;
}

}  // namespace

std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, const void* bytes, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
             k1 ^ 0x7465646279746573ULL};
  std::size_t full = n & ~static_cast<std::size_t>(7);
  for (std::size_t i = 0; i < full; i += 8) {
    // SipHash reads its words least significant byte first, on every host.
    std::uint64_t m = load_le64(reinterpret_cast<const char*>(p) + i);
    s.v3 ^= m;
    s.round();
    s.v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(n) << 56;
  for (std::size_t i = full; i < n; ++i) {
    last |= static_cast<std::uint64_t>(p[i]) << (8 * (i - full));
  }
  s.v3 ^= last;
  s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

HashKey next_hash_key() {
  static const HashKey base = process_key();
  // Maps are made on several threads at once (a merge decodes inputs side by side).
  static std::atomic<std::uint64_t> counter{0};
  const std::uint64_t n = counter.fetch_add(1, std::memory_order_relaxed) + 1;
  // Each map's key is the process key hashed with a counter: distinct and unpredictable.
  return HashKey{siphash13(base.k0, base.k1, &n, sizeof n),
                 siphash13(base.k1, base.k0, &n, sizeof n)};
}

}  // namespace tracemill
