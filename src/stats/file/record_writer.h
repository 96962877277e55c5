// Writers of statistics records: JSON (compact or pretty) and the positional binary encoding,
// the forms the decoders beside them read. Both walk the one field description per record
// (Record<T> in base/record.h), so they follow the record types without a list of their own.
//
// Map entries are written in ascending key order. The maps are hashed with random keys, so
// their iteration order changes from run to run; sorting makes the output a function of the
// value alone.
//
// write_record() streams a whole file into a Sink through a bounded buffer; the encode_*
// functions append a value (a whole record or any piece of one) to a caller's string.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/record.h"
#include "base/sink.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Writes `record` into `out` as a whole statistics file in `encoding`: compact JSON followed by
// one line feed, or the binary encoding (nothing after the record). The text is gathered in a
// buffer that is handed to `out` whenever it passes 64 KiB, checked after every list element
// and map entry, so memory stays bounded whatever the size of the record's lists and maps
// (beyond the buffer: one pointer per entry of the map being written, to sort it). Returns
// false when a write to `out` failed; nothing more is written after the failed write.
bool write_record(Sink& out, const StatsRecJson& record, Encoding encoding);

// Appends `text` as a JSON string: a double quote, the text with `"`, `\` and the control
// bytes 00 to 1F escaped (short escapes where JSON has one, \u00XX otherwise), a double quote.
// Every other byte, non-ASCII UTF-8 included, is copied as it is.
void write_json_string(std::string_view text, std::string& out);

namespace detail {

// Where the encoders write: they append to `text` and call more() after each list element and
// map entry; more() may hand the text on, and says whether to go on.

// A caller's string, never handed on.
struct StringOut {
  std::string& text;
  static constexpr bool more() { return true; }
};

// A buffer handed to a sink once it holds kFlushSize bytes.
class SinkOut {
 public:
  static constexpr std::size_t kFlushSize = std::size_t{64} << 10;
  explicit SinkOut(Sink& sink) : sink_(sink) {}
  bool more() { return text.size() < kFlushSize || flush(); }
  // Hands `text` to the sink and empties it; false when the sink failed.
  bool flush();

  std::string text;

 private:
  Sink& sink_;
};

// Number lists are written this many elements at a time between calls of more().
inline constexpr std::size_t kListChunk = 1024;

template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};

template <class T>
concept IntegerList = IsVector<T>::value && std::is_integral_v<typename T::value_type> &&
    !std::is_same_v<typename T::value_type, bool>;
template <class T>
concept Pair = requires {
  typename T::first_type;
  typename T::second_type;
};
template <class T>
concept Map = requires {
  typename T::key_type;
  typename T::mapped_type;
};

// The entries of `map` in ascending key order.
template <Map M>
std::vector<const typename M::value_type*> sorted_entries(const M& map) {
  std::vector<const typename M::value_type*> entries;
  entries.reserve(map.size());
  for (const auto& entry : map) entries.push_back(&entry);
  std::sort(entries.begin(), entries.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });
  return entries;
}

template <class I>
void put_le(std::string& out, I value) {
  using U = std::make_unsigned_t<I>;
  auto bits = static_cast<U>(value);
  char bytes[sizeof(I)];
  for (std::size_t i = 0; i < sizeof(I); ++i) {
    bytes[i] = static_cast<char>(static_cast<unsigned char>(bits & 0xFF));
    bits = static_cast<U>(bits >> 8);
  }
  out.append(bytes, sizeof(I));
}

template <class I>
void put_decimal(std::string& out, I value) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  out.append(buf, static_cast<std::size_t>(end - buf));
}

inline void put_newline(std::string& out, int depth) {
  out.push_back('\n');
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

// The JSON form of `value` (see encode_json_at); false when out.more() said stop.
template <class T, class Out>
bool put_json(const T& value, Out& out, bool pretty, int depth) {
  std::string& text = out.text;
  if constexpr (std::is_same_v<T, bool>) {
    text.append(value ? "true" : "false");
  } else if constexpr (std::is_enum_v<T>) {
    write_json_string(enum_name(value), text);
  } else if constexpr (std::is_integral_v<T>) {
    put_decimal(text, value);
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    write_json_string(value, text);
  } else if constexpr (IntegerList<T>) {
    // Lists of numbers make up most of a statistics file: write them straight into room
    // reserved for the longest possible form instead of appending piece by piece.
    if (value.empty()) {
      text.append("[]");
      return true;
    }
    const std::size_t indent = pretty ? static_cast<std::size_t>(depth + 1) * 2 + 1 : 0;
    text.push_back('[');
    for (std::size_t begin = 0; begin < value.size(); begin += kListChunk) {
      const std::size_t end = std::min(value.size(), begin + kListChunk);
      const std::size_t old = text.size();
      text.resize(old + (end - begin) * (21 + indent));  // a comma, the indent, 20 digits
      char* p = text.data() + old;
      for (std::size_t i = begin; i < end; ++i) {
        if (i > 0) *p++ = ',';
        if (pretty) {
          *p++ = '\n';
          p = std::fill_n(p, indent - 1, ' ');
        }
        p = std::to_chars(p, p + 20, value[i]).ptr;
      }
      text.resize(static_cast<std::size_t>(p - text.data()));
      if (!out.more()) return false;
    }
    if (pretty) put_newline(text, depth);
    text.push_back(']');
  } else if constexpr (IsVector<T>::value || Pair<T>) {
    text.push_back('[');
    bool first = true;
    auto element = [&](const auto& e) {
      if (!first) text.push_back(',');
      first = false;
      if (pretty) put_newline(text, depth + 1);
      return put_json(e, out, pretty, depth + 1);
    };
    if constexpr (Pair<T>) {
      if (!(element(value.first) && element(value.second))) return false;
    } else {
      for (const auto& e : value) {
        if (!(element(e) && out.more())) return false;
      }
    }
    if (pretty && !first) put_newline(text, depth);
    text.push_back(']');
  } else if constexpr (Map<T>) {
    text.push_back('{');
    bool first = true;
    for (const auto* entry : sorted_entries(value)) {
      if (!first) text.push_back(',');
      first = false;
      if (pretty) put_newline(text, depth + 1);
      if constexpr (std::is_integral_v<typename T::key_type>) {
        text.push_back('"');
        put_decimal(text, entry->first);
        text.push_back('"');
      } else {
        write_json_string(entry->first, text);
      }
      text.append(pretty ? ": " : ":");
      if (!(put_json(entry->second, out, pretty, depth + 1) && out.more())) return false;
    }
    if (pretty && !first) put_newline(text, depth);
    text.push_back('}');
  } else {
    static_assert(IsRecord<T>, "no JSON form for this type");
    text.push_back('{');
    bool first = true;
    const bool complete = for_each_field<T>([&](const auto& f) {
      if (!first) text.push_back(',');
      first = false;
      if (pretty) put_newline(text, depth + 1);
      write_json_string(f.name, text);
      text.append(pretty ? ": " : ":");
      return put_json(f.of(value), out, pretty, depth + 1);
    });
    if (!complete) return false;
    if (pretty && !first) put_newline(text, depth);
    text.push_back('}');
  }
  return true;
}

// The binary form of `value` (see encode_bincode); false when out.more() said stop.
template <class T, class Out>
bool put_bincode(const T& value, Out& out) {
  std::string& text = out.text;
  if constexpr (std::is_same_v<T, bool>) {
    text.push_back(value ? '\1' : '\0');
  } else if constexpr (std::is_enum_v<T>) {
    put_le(text, static_cast<std::uint32_t>(value));
  } else if constexpr (std::is_integral_v<T>) {
    put_le(text, value);
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    std::string_view bytes(value);
    put_le(text, static_cast<std::uint64_t>(bytes.size()));
    text.append(bytes);
  } else if constexpr (IntegerList<T>) {
    // As for JSON: the numbers straight into reserved room, a chunk between calls of more().
    using I = typename T::value_type;
    using U = std::make_unsigned_t<I>;
    put_le(text, static_cast<std::uint64_t>(value.size()));
    for (std::size_t begin = 0; begin < value.size(); begin += kListChunk) {
      const std::size_t end = std::min(value.size(), begin + kListChunk);
      const std::size_t old = text.size();
      text.resize(old + (end - begin) * sizeof(I));
      char* p = text.data() + old;
      for (std::size_t i = begin; i < end; ++i) {
        auto bits = static_cast<U>(value[i]);
        for (std::size_t b = 0; b < sizeof(I); ++b) {
          *p++ = static_cast<char>(static_cast<unsigned char>(bits & 0xFF));
          bits = static_cast<U>(bits >> 8);
        }
      }
      if (!out.more()) return false;
    }
  } else if constexpr (IsVector<T>::value) {
    put_le(text, static_cast<std::uint64_t>(value.size()));
    for (const auto& e : value) {
      if (!(put_bincode(e, out) && out.more())) return false;
    }
  } else if constexpr (Pair<T>) {
    return put_bincode(value.first, out) && put_bincode(value.second, out);
  } else if constexpr (Map<T>) {
    put_le(text, static_cast<std::uint64_t>(value.size()));
    for (const auto* entry : sorted_entries(value)) {
      if (!(put_bincode(entry->first, out) && put_bincode(entry->second, out) && out.more())) {
        return false;
      }
    }
  } else {
    static_assert(IsRecord<T>, "no binary form for this type");
    return for_each_field<T>([&](const auto& f) { return put_bincode(f.of(value), out); });
  }
  return true;
}

}  // namespace detail

// Appends the JSON form of `value`. In the pretty form every member and element starts on a
// line of its own, indented by two blanks per level; `depth` is the level of `value` itself
// (0 at the top), so a value can be written in place inside an enclosing document. Records are
// objects with their field names as member names, pairs are two-element arrays, maps from
// integers write their keys as decimal integers in quotes, enumerations their enum_name().
template <class T>
void encode_json_at(const T& value, std::string& out, bool pretty, int depth) {
  detail::StringOut to{out};
  detail::put_json(value, to, pretty, depth);
}

// Appends the JSON form of `value` as a whole document (without a final line feed).
template <class T>
void encode_json(const T& value, std::string& out, bool pretty) {
  encode_json_at(value, out, pretty, 0);
}

// Appends the binary form of `value`: integers little-endian in their own width, booleans as
// one byte, enumerations as their index in 4 bytes, texts, lists and maps with a u64 count in
// front, pairs and records as their components in order with nothing between them.
template <class T>
void encode_bincode(const T& value, std::string& out) {
  detail::StringOut to{out};
  detail::put_bincode(value, to);
}

}  // namespace tracemill
