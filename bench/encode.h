// Encoders for statistics records: JSON (compact or pretty) and the positional binary
// encoding. Both walk the one field description per record (Record<T> in base/record.h), so
// they follow the record types without a list of their own.
//
// Map entries are written in ascending key order. The maps are hashed with random keys, so
// their iteration order changes from run to run; sorting makes the output a function of the
// value alone, which the seeded generator and the tests rely on.
#pragma once

#include <algorithm>
#include <charconv>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/keyed_hash.h"
#include "base/record.h"

namespace tracemill::bench {
namespace detail {

template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};

template <class T>
struct IsIntegerList : std::false_type {};
template <class T, class A>
requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) struct IsIntegerList<std::vector<T, A>>
    : std::true_type {
};

template <class T>
struct IsPair : std::false_type {};
template <class A, class B>
struct IsPair<std::pair<A, B>> : std::true_type {};

template <class T>
struct IsMap : std::false_type {};
template <class K, class V, class H, class E, class A>
struct IsMap<std::unordered_map<K, V, H, E, A>> : std::true_type {};
template <class K, class V>
struct IsMap<HashMap<K, V>> : std::true_type {};

// The entries of `map` in ascending key order.
template <class M>
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

}  // namespace detail

// Appends `text` as a JSON string: a double quote, the text with `"`, `\` and the control
// bytes 00 to 1F escaped (short escapes where JSON has one, \u00XX otherwise), a double quote.
// Every other byte, non-ASCII UTF-8 included, is copied as it is.
inline void write_json_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default: {
        char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(esc, sizeof esc);
      }
    }
  }
  out.append(text.data() + run, text.size() - run);
  out.push_back('"');
}

// Appends the JSON form of `value`. In the pretty form every member and element starts on a
// line of its own, indented by two blanks per level; `depth` is the level of `value` itself
// (0 at the top), so a value can be written in place inside an enclosing document. Records are
// objects with their field names as member names, pairs are two-element arrays, maps from
// integers write their keys as decimal integers in quotes, enumerations their enum_name().
template <class T>
void encode_json_at(const T& value, std::string& out, bool pretty, int depth) {
  using detail::put_newline;
  if constexpr (std::is_same_v<T, bool>) {
    out.append(value ? "true" : "false");
  } else if constexpr (std::is_enum_v<T>) {
    write_json_string(enum_name(value), out);
  } else if constexpr (std::is_integral_v<T>) {
    detail::put_decimal(out, value);
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    write_json_string(value, out);
  } else if constexpr (detail::IsIntegerList<T>::value) {
    // Lists of numbers make up most of a statistics file: write them straight into room
    // reserved for the longest possible form instead of appending piece by piece.
    if (value.empty()) {
      out.append("[]");
      return;
    }
    const std::size_t indent = pretty ? static_cast<std::size_t>(depth + 1) * 2 + 1 : 0;
    const std::size_t old = out.size();
    out.resize(old + value.size() * (21 + indent) + indent + 2);
    char* p = out.data() + old;
    *p++ = '[';
    bool first = true;
    for (auto e : value) {
      if (!first) *p++ = ',';
      first = false;
      if (pretty) {
        *p++ = '\n';
        p = std::fill_n(p, indent - 1, ' ');
      }
      p = std::to_chars(p, p + 20, e).ptr;
    }
    if (pretty) {
      *p++ = '\n';
      p = std::fill_n(p, indent - 3, ' ');
    }
    *p++ = ']';
    out.resize(static_cast<std::size_t>(p - out.data()));
  } else if constexpr (detail::IsVector<T>::value || detail::IsPair<T>::value) {
    out.push_back('[');
    bool first = true;
    auto element = [&](const auto& e) {
      if (!first) out.push_back(',');
      first = false;
      if (pretty) put_newline(out, depth + 1);
      encode_json_at(e, out, pretty, depth + 1);
    };
    if constexpr (detail::IsPair<T>::value) {
      element(value.first);
      element(value.second);
    } else {
      for (const auto& e : value) element(e);
    }
    if (pretty && !first) put_newline(out, depth);
    out.push_back(']');
  } else if constexpr (detail::IsMap<T>::value) {
    out.push_back('{');
    bool first = true;
    for (const auto* entry : detail::sorted_entries(value)) {
      if (!first) out.push_back(',');
      first = false;
      if (pretty) put_newline(out, depth + 1);
      if constexpr (std::is_integral_v<typename T::key_type>) {
        out.push_back('"');
        detail::put_decimal(out, entry->first);
        out.push_back('"');
      } else {
        write_json_string(entry->first, out);
      }
      out.append(pretty ? ": " : ":");
      encode_json_at(entry->second, out, pretty, depth + 1);
    }
    if (pretty && !first) put_newline(out, depth);
    out.push_back('}');
  } else {
    static_assert(IsRecord<T>, "no JSON form for this type");
    out.push_back('{');
    bool first = true;
    for_each_field<T>([&](const auto& f) {
      if (!first) out.push_back(',');
      first = false;
      if (pretty) put_newline(out, depth + 1);
      write_json_string(f.name, out);
      out.append(pretty ? ": " : ":");
      encode_json_at(f.of(value), out, pretty, depth + 1);
    });
    if (pretty && !first) put_newline(out, depth);
    out.push_back('}');
  }
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
  if constexpr (std::is_same_v<T, bool>) {
    out.push_back(value ? '\1' : '\0');
  } else if constexpr (std::is_enum_v<T>) {
    detail::put_le(out, static_cast<std::uint32_t>(value));
  } else if constexpr (std::is_integral_v<T>) {
    detail::put_le(out, value);
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    std::string_view text(value);
    detail::put_le(out, static_cast<std::uint64_t>(text.size()));
    out.append(text);
  } else if constexpr (detail::IsVector<T>::value) {
    detail::put_le(out, static_cast<std::uint64_t>(value.size()));
    for (const auto& e : value) encode_bincode(e, out);
  } else if constexpr (detail::IsPair<T>::value) {
    encode_bincode(value.first, out);
    encode_bincode(value.second, out);
  } else if constexpr (detail::IsMap<T>::value) {
    detail::put_le(out, static_cast<std::uint64_t>(value.size()));
    for (const auto* entry : detail::sorted_entries(value)) {
      encode_bincode(entry->first, out);
      encode_bincode(entry->second, out);
    }
  } else {
    static_assert(IsRecord<T>, "no binary form for this type");
    for_each_field<T>([&](const auto& f) { encode_bincode(f.of(value), out); });
  }
}

}  // namespace tracemill::bench
