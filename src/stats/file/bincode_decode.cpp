// The binary decoder. One reader serves both uses, as in the JSON mapping: Reader<false> keeps
// the whole record; Reader<true> keeps what a ChainReceiver takes and runs the same reads and
// checks over everything else without storing it (Checked<T>).
#include "stats/file/bincode_decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
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

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

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
template <bool kStream>
class Reader {
 public:
  explicit Reader(ByteSource& source, ChainReceiver* receiver = nullptr)
      : source_(source),
        receiver_(receiver),
        health_(receiver != nullptr && receiver->wants_health()) {}

  BincodeError take_error() { return std::move(error_); }

  // --- values that are kept ---

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
      error_.offset = source_.offset() - 1;
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
      error_.offset = source_.offset() - sizeof index;
      return false;
    }
    out = static_cast<CallDirection>(index);
    return true;
  }

  bool read(std::string& out) {
    std::uint64_t length;
    if (!read_fixed(length)) return false;
    const char* p = source_.data();
    const std::uint64_t start = source_.offset();
    if (length > source_.available()) {
      // Read piece by piece as the blocks arrive: a length beyond the end of the input fails
      // there instead of being allocated up front.
      out.clear();
      return text_across(length, [&](std::string_view piece) { out.append(piece); }) &&
             utf8_ok(check_utf8(out), start);
    }
    std::string_view bytes(p, static_cast<std::size_t>(length));
    if (!utf8_ok(check_utf8(bytes), start)) return false;
    out.assign(bytes);
    source_.advance_to(p + length);
    return true;
  }

  // Lists and maps grow as their elements arrive; nothing is reserved from the declared
  // count, which a damaged or hostile file may set to anything.
  template <class T, class A>
  bool read(std::vector<T, A>& out) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
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
    return read_fields<T>(out, std::make_index_sequence<field_count<T>()>());
  }

  // --- values that are only checked ---

  template <FixedInteger T>
  bool read(Checked<T>) {
    return skip(sizeof(T));
  }

  bool read(Checked<bool>) {
    bool value;
    return read(value);
  }

  bool read(Checked<CallDirection>) {
    CallDirection value;
    return read(value);
  }

  bool read(Checked<std::string>) {
    std::uint64_t length;
    if (!read_fixed(length)) return false;
    const char* p = source_.data();
    const std::uint64_t start = source_.offset();
    if (length > source_.available()) {
      Utf8Checker utf8;
      return text_across(length, [&](std::string_view piece) { utf8.add(piece); }) &&
             utf8_ok(utf8.finish(), start);
    }
    if (!utf8_ok(check_utf8(std::string_view(p, static_cast<std::size_t>(length))), start)) {
      return false;
    }
    source_.advance_to(p + length);
    return true;
  }

  template <class T>
  bool read(Checked<std::vector<T>>) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    if constexpr (FixedInteger<T>) {
      return skip_elements(count, sizeof(T));
    } else {
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!read(Checked<T>{})) return false;
      }
      return true;
    }
  }

  template <class K, class V>
  bool read(Checked<HashMap<K, V>>) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    if constexpr (FixedInteger<K> && FixedInteger<V>) {
      return skip_elements(count, sizeof(K) + sizeof(V));
    } else {
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!read(Checked<K>{}) || !read(Checked<V>{})) return false;
      }
      return true;
    }
  }

  template <class A, class B>
  bool read(Checked<std::pair<A, B>>) {
    return read(Checked<A>{}) && read(Checked<B>{});
  }

  template <IsRecord T>
  bool read(Checked<T>) {
    return check_fields<T>(std::make_index_sequence<field_count<T>()>());
  }

  // --- lists and maps whose elements go to the receiver ---

  bool stream(HashMap<std::string, OperationStatsJson>&) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!read(key_)) return false;
      receiver_->operation(key_);
      if (!read(operation_)) return false;
    }
    return true;
  }

  bool stream(std::vector<std::pair<CChainStatsKey, CChainStatsValue>>&) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!read(pair_)) return false;
      if (health_) receiver_->errors(pair_.second.cc_not_http_ok, pair_.second.cc_with_error_logs);
      receiver_->chain(pair_.second.count);
    }
    return true;
  }

  // The trace ids are checked and counted.
  bool stream(std::vector<std::string>&) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!read(Checked<std::string>{})) return false;
    }
    receiver_->trace_ids(count);
    return true;
  }

  // The health fields of a value, element by element when the receiver wants them.
  bool stream(std::vector<std::int64_t>&) {
    if (!health_) return read(Checked<std::vector<std::int64_t>>{});
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    // Copied from the buffer a batch at a time; one that straddles its end is read alone.
    std::array<std::int64_t, DurationBatch::kSize> micros;
    while (count > 0) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, micros.size()));
      const std::size_t whole = source_.available() / sizeof(std::int64_t);
      if (whole == 0) {
        if (!read_fixed(micros[0])) return false;
        n = 1;
      } else {
        n = std::min(n, whole);
        const char* first = source_.data();
        std::memcpy(micros.data(), first, n * sizeof(std::int64_t));
        source_.advance_to(first + n * sizeof(std::int64_t));
        for (std::size_t i = 0; i < n; ++i) micros[i] = from_little_endian(micros[i]);
      }
      receiver_->durations(std::span(micros).first(n));
      count -= n;
    }
    return true;
  }

  bool stream(HashMap<std::int16_t, std::uint64_t>&) {
    if (!health_) return read(Checked<HashMap<std::int16_t, std::uint64_t>>{});
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::int16_t code;
      std::uint64_t calls;
      if (!read_fixed(code) || !read_fixed(calls)) return false;
      receiver_->http_status(code, calls);
    }
    return true;
  }

  bool stream(HashMap<std::string, std::uint64_t>&) {
    if (!health_) return read(Checked<HashMap<std::string, std::uint64_t>>{});
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      std::uint64_t occurrences;
      if (!read(text_) || !read_fixed(occurrences)) return false;
      receiver_->error_log(text_, occurrences);
    }
    return true;
  }

  // Each call is decoded over the one before, so that its texts keep their room.
  bool stream(std::vector<Call>&) {
    std::uint64_t count;
    if (!read_fixed(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (!read(call_)) return false;
      receiver_->call(call_);
    }
    return true;
  }

 private:
  template <IsRecord T, std::size_t... I>
  bool read_fields(T& out, std::index_sequence<I...>) {
    return (read_field<T, I>(out) && ...);
  }
  template <IsRecord T, std::size_t I>
  bool read_field(T& out) {
    const auto& field = std::get<I>(Record<T>::fields);
    using F = typename std::remove_cvref_t<decltype(field)>::Type;
    constexpr FieldUse use = kStream ? chain_field_use<T, I>() : FieldUse::Keep;
    if constexpr (use == FieldUse::Check) {
      return read(Checked<F>{});
    } else if constexpr (use == FieldUse::Stream) {
      return stream(field.of(out));
    } else {
      return read(field.of(out));
    }
  }
  template <IsRecord T, std::size_t... I>
  bool check_fields(std::index_sequence<I...>) {
    return (read(Checked<
                 typename std::remove_cvref_t<decltype(std::get<I>(Record<T>::fields))>::Type>{}) &&
            ...);
  }

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

  // Takes `n` bytes without looking at them; fails like any read when the input ends first.
  bool skip(std::uint64_t n) {
    for (;;) {
      std::size_t here = source_.available();
      if (n <= here) {
        source_.advance_to(source_.data() + n);
        return true;
      }
      n -= here;
      source_.advance_to(source_.limit());
      if (!refill()) return false;
    }
  }

  // `count` elements of `size` bytes each. A count whose bytes exceed the 64-bit range cannot
  // be satisfied by any input: skipping to the end gives the same error as reading them.
  bool skip_elements(std::uint64_t count, std::size_t size) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    return skip(count > kMax / size ? kMax : count * size);
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

  // Hands the `length` bytes of a text that does not fit in the buffer to `piece`, block by
  // block.
  template <class F>
  [[gnu::noinline]] bool text_across(std::uint64_t length, F&& piece) {
    std::uint64_t left = length;
    while (left > 0) {
      if (source_.available() == 0 && !refill()) return false;
      std::size_t take =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, source_.available()));
      piece(std::string_view(source_.data(), take));
      source_.advance_to(source_.data() + take);
      left -= take;
    }
    return true;
  }

  bool refill() {
    const std::uint64_t end = source_.offset();
    if (source_.refill()) return true;
    error_.offset = end;
    if (source_.error() != 0) {
      error_.kind = BincodeError::Kind::Os;
      error_.os_code = source_.error();
    } else {
      error_.kind = BincodeError::Kind::UnexpectedEof;
    }
    return false;
  }

  // `start`: the offset of the text's first byte.
  bool utf8_ok(const std::optional<Utf8Fault>& fault, std::uint64_t start) {
    if (!fault) return true;
    error_.kind = BincodeError::Kind::InvalidUtf8Encoding;
    error_.valid_up_to = fault->valid_up_to;
    error_.error_len = fault->error_len;
    error_.offset = start + fault->valid_up_to;
    return false;
  }

  ByteSource& source_;
  ChainReceiver* receiver_;
  const bool health_;  // the health fields go to the receiver
  std::string text_;   // the error log text being streamed
  BincodeError error_;
  // Decoding for a receiver: the operation key, the operation, the pair and the call being
  // decoded, reused for every one (the pair's calls go to the receiver, its list stays empty).
  std::string key_;
  OperationStatsJson operation_;
  std::pair<CChainStatsKey, CChainStatsValue> pair_;
  Call call_;
};

}  // namespace

Result<StatsRecJson, BincodeError> decode_bincode(ByteSource source) {
  StatsRecJson record;
  Reader<false> reader(source);
  bool ok = reader.read(record);
  source.close();
  if (!ok) return Err{reader.take_error()};
  return record;
}

std::optional<BincodeError> stream_bincode(ByteSource& source, ChainReceiver& receiver) {
  Reader<true> reader(source, &receiver);
  // Only `stats` of the top-level record is used, and it is streamed: the record stays empty.
  StatsRecJson top;
  if (!reader.read(top)) return reader.take_error();
  return std::nullopt;
}

}  // namespace tracemill
