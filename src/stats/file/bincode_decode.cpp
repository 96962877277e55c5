#include "stats/file/bincode_decode.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/keyed_hash.h"
#include "base/record.h"
#include "base/utf8.h"
#include "stats/call_chain/call.h"

namespace tracemill {
namespace {

// Room reserved before the first element of a list or map, whatever count the input declares:
// a corrupt count then costs at most this much before the input runs out.
constexpr std::size_t kMaxReserveBytes = std::size_t{1} << 20;

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

template <class T>
std::size_t reserve_hint(std::uint64_t count) {
  constexpr std::size_t kMost = std::max<std::size_t>(kMaxReserveBytes / sizeof(T), 1);
  return static_cast<std::size_t>(std::min<std::uint64_t>(count, kMost));
}

template <class T>
T from_little_endian(T value) {
  if constexpr (kLittleEndianHost || sizeof(T) == 1) {
    return value;
  } else {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    std::reverse(bytes, bytes + sizeof(T));
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
}

template <class T>
concept FixedInteger = std::is_integral_v<T> && !std::is_same_v<T, bool>;

// Walks integers stored at any alignment in a byte buffer, reading each with memcpy.
template <class T>
struct UnalignedIterator {
  using iterator_category = std::forward_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = const T*;
  using reference = T;

  const char* at;

  T operator*() const {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
  }
  UnalignedIterator& operator++() {
    at += sizeof(T);
    return *this;
  }
  UnalignedIterator operator++(int) {
    UnalignedIterator before = *this;
    at += sizeof(T);
    return before;
  }
  friend difference_type operator-(UnalignedIterator a, UnalignedIterator b) {
    return (a.at - b.at) / static_cast<difference_type>(sizeof(T));
  }
  friend bool operator==(UnalignedIterator a, UnalignedIterator b) { return a.at == b.at; }
};

// Decodes values in file order from the source's buffer. Every read returns false on the
// first failure, which error() then holds; the caller stops there.
class Reader {
 public:
  explicit Reader(ByteSource& source) : source_(source) {}

  BincodeError take_error() { return std::move(error_); }

  template <FixedInteger T>
  bool read(T& out) {
    return read_fixed(out);
  }

  bool read(bool& out) {
    std::uint8_t byte;
    if (!read_fixed(byte)) return false;
    if (byte > 1) {
      error_.kind = BincodeError::Kind::InvalidBoolEncoding;
      error_.bool_byte = byte;
      return false;
    }
    out = byte == 1;
    return true;
  }

  bool read(CallDirection& out) {
    std::uint32_t index;
    if (!read_fixed(index)) return false;
    if (index >= 3) {
      error_.kind = BincodeError::Kind::Custom;
      error_.message = "invalid value: integer `" + std::to_string(index) +
                       "`, expected variant index 0 <= i < 3";
      return false;
    }
    out = static_cast<CallDirection>(index);
    return true;
  }

  bool read(std::string& out) {
    std::uint64_t length;
    if (!read_fixed(length)) return false;
    const char* p = source_.data();
    if (length > source_.available()) return read_text_across(out, length);
    std::string_view bytes(p, static_cast<std::size_t>(length));
    if (auto fault = check_utf8(bytes)) return fail_utf8(*fault);
    out.assign(bytes);
    source_.advance_to(p + length);
    return true;
  }

  template <class T, class A>
  bool read(std::vector<T, A>& out) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    out.reserve(reserve_hint<T>(count));
    if constexpr (FixedInteger<T> && kLittleEndianHost) {
      return read_integers(out, count);
    } else {
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!read(out.emplace_back())) return false;
      }
      return true;
    }
  }

  template <class K, class V>
  bool read(HashMap<K, V>& out) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    // Most maps of a file are empty; reserving for none would still allocate buckets.
    if (count == 0) return true;
    out.reserve(reserve_hint<typename HashMap<K, V>::value_type>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
      K key;
      if (!read(key)) return false;
      // Decoded in place; a key seen before gets the later entry's value.
      auto [slot, inserted] = out.try_emplace(std::move(key));
      if (!inserted) slot->second = V{};
      if (!read(slot->second)) return false;
    }
    return true;
  }

  template <class A, class B>
  bool read(std::pair<A, B>& out) {
    return read(out.first) && read(out.second);
  }

  template <IsRecord T>
  bool read(T& out) {
    return for_each_field<T>([&](const auto& fd) { return read(fd.of(out)); });
  }

 private:
  template <class T>
  bool read_fixed(T& out) {
    const char* p = source_.data();
    if (source_.available() >= sizeof(T)) [[likely]] {
      std::memcpy(&out, p, sizeof(T));
      source_.advance_to(p + sizeof(T));
    } else if (!read_across(&out, sizeof(T))) {
      return false;
    }
    out = from_little_endian(out);
    return true;
  }

  // Integers stored exactly as the host holds them: copied from the buffer in bulk.
  template <class T, class A>
  bool read_integers(std::vector<T, A>& out, std::uint64_t count) {
    while (count > 0) {
      std::size_t whole = source_.available() / sizeof(T);
      if (whole == 0) {
        // One element straddles the end of the buffer.
        if (!read_fixed(out.emplace_back())) return false;
        --count;
        continue;
      }
      std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, whole));
      // Appended straight from the buffer: resize() would first zero what is then copied over.
      const char* first = source_.data();
      const char* last = first + take * sizeof(T);
      out.insert(out.end(), UnalignedIterator<T>{first}, UnalignedIterator<T>{last});
      source_.advance_to(last);
      count -= take;
    }
    return true;
  }

  // Fills `n` bytes at `out` from what is left in the buffer and the blocks that follow.
  [[gnu::noinline, gnu::cold]] bool read_across(void* out, std::size_t n) {
    auto* dst = static_cast<char*>(out);
    while (n > 0) {
      if (source_.available() == 0 && !refill()) return false;
      std::size_t take = std::min(n, source_.available());
      std::memcpy(dst, source_.data(), take);
      source_.advance_to(source_.data() + take);
      dst += take;
      n -= take;
    }
    return true;
  }

  // A text longer than what is buffered, read piece by piece as the blocks arrive, so a
  // length beyond the end of the input fails there instead of being allocated up front.
  [[gnu::noinline]] bool read_text_across(std::string& out, std::uint64_t length) {
    out.reserve(reserve_hint<char>(length));
    std::uint64_t left = length;
    while (left > 0) {
      if (source_.available() == 0 && !refill()) return false;
      std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, source_.available()));
      out.append(source_.data(), take);
      source_.advance_to(source_.data() + take);
      left -= take;
    }
    if (auto fault = check_utf8(out)) return fail_utf8(*fault);
    return true;
  }

  bool refill() {
    if (source_.refill()) return true;
    if (source_.error() != 0) {
      error_.kind = BincodeError::Kind::Os;
      error_.os_code = source_.error();
    } else {
      error_.kind = BincodeError::Kind::UnexpectedEof;
    }
    return false;
  }

  bool fail_utf8(const Utf8Fault& fault) {
    error_.kind = BincodeError::Kind::InvalidUtf8Encoding;
    error_.valid_up_to = fault.valid_up_to;
    error_.error_len = fault.error_len;
    return false;
  }

  ByteSource& source_;
  BincodeError error_;
};

}  // namespace

Result<StatsRecJson, BincodeError> decode_bincode(ByteSource source) {
  StatsRecJson record;
  Reader reader(source);
  bool ok = reader.read(record);
  source.close();
  if (!ok) return Err{reader.take_error()};
  return record;
}

}  // namespace tracemill
