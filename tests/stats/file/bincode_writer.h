// Test helper: writes values in the positional binary encoding, either piece by piece (to
// build files byte for byte, faulty ones included) or a whole record at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/keyed_hash.h"
#include "base/record.h"
#include "stats/call_chain/call.h"

namespace tracemill::testing {

template <class T>
std::string little_endian(T value) {
  std::string out;
  auto bits = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return out;
}

inline std::string u64(std::uint64_t v) { return little_endian(v); }
inline std::string u32(std::uint32_t v) { return little_endian(v); }
// A text as its length and its bytes, which need not be UTF-8.
inline std::string text(std::string_view bytes) { return u64(bytes.size()) + std::string(bytes); }

class BincodeWriter {
 public:
  const std::string& bytes() const { return out_; }

  template <class T>
    requires std::is_integral_v<T>
  void write(T v) {
    if constexpr (std::is_same_v<T, bool>) {
      out_ += v ? '\x01' : '\x00';
    } else {
      out_ += little_endian(v);
    }
  }
  void write(CallDirection d) { out_ += u32(static_cast<std::uint32_t>(d)); }
  void write(const std::string& s) { out_ += text(s); }
  template <class T>
  void write(const std::vector<T>& items) {
    out_ += u64(items.size());
    for (const T& item : items) write(item);
  }
  template <class K, class V>
  void write(const HashMap<K, V>& map) {
    out_ += u64(map.size());
    for (const auto& [k, v] : map) {
      write(k);
      write(v);
    }
  }
  template <class A, class B>
  void write(const std::pair<A, B>& p) {
    write(p.first);
    write(p.second);
  }
  template <IsRecord T>
  void write(const T& rec) {
    for_each_field<T>([&](const auto& fd) { write(fd.of(rec)); });
  }

 private:
  std::string out_;
};

template <class T>
std::string encode(const T& value) {
  BincodeWriter w;
  w.write(value);
  return w.bytes();
}

}  // namespace tracemill::testing
