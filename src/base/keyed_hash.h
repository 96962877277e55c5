// Randomly keyed hashing for every hash map of the program.
//
// Each hasher draws its own 128-bit SipHash key before it hashes the first time (every new map
// constructs one), derived from random bytes read once per process. A hostile input therefore
// cannot force collisions, and nothing can come to depend on the iteration order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>

namespace tracemill {

// SipHash-1-3 of `bytes` under the key (k0, k1).
std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, const void* bytes, std::size_t n);

struct HashKey {
  std::uint64_t k0;
  std::uint64_t k1;
};
// A fresh key: different for every call, unpredictable from outside the process.
HashKey next_hash_key();

// The key is drawn when the hasher first hashes: most maps of a record stay empty and never
// hash at all. A copy made before that draws its own key later, as if constructed then.
// The all-zero key marks "not drawn yet", so the hasher (and every map) stays 16 bytes.
template <class K>
class KeyedHash {
 public:
  std::size_t operator()(const K& k) const {
    if ((key_.k0 | key_.k1) == 0) [[unlikely]] {
      key_ = next_hash_key();
      // A drawn key of all zeros (one chance in 2^128) would be drawn again at every call.
      if ((key_.k0 | key_.k1) == 0) key_.k1 = 1;
    }
    if constexpr (std::is_integral_v<K>) {
      return siphash13(key_.k0, key_.k1, &k, sizeof k);
    } else {
      std::string_view bytes(k);
      return siphash13(key_.k0, key_.k1, bytes.data(), bytes.size());
    }
  }

 private:
  mutable HashKey key_{};
};

// Every map of the program. Two maps hash the same key differently, so equality looks each key
// of one map up in the other: the standard comparison assumes both maps hash alike.
template <class K, class V>
class HashMap : public std::unordered_map<K, V, KeyedHash<K>> {
 public:
  using std::unordered_map<K, V, KeyedHash<K>>::unordered_map;

  friend bool operator==(const HashMap& a, const HashMap& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, value] : a) {
      auto found = b.find(key);
      if (found == b.end() || !(found->second == value)) return false;
    }
    return true;
  }
};

}  // namespace tracemill
