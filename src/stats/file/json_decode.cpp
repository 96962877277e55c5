// The JSON record mapping: decodes straight into the records, driven by their descriptions
// (Record<T>), checking every value against the declared type of its field.
#include "stats/file/json_decode.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "stats/file/json_reader.h"
#include "text_form/debug.h"

namespace tracemill {

namespace {

using Next = JsonReader::Next;

// The record's name, and its name in the array form ("struct Name with N elements").
template <IsRecord T>
const std::string& struct_name() {
  static const std::string name = "struct " + std::string(Record<T>::name);
  return name;
}
template <IsRecord T>
const std::string& struct_length_name() {
  static const std::string name =
      struct_name<T>() + " with " + std::to_string(field_count<T>()) + " elements";
  return name;
}

template <IsRecord T, std::size_t... I>
constexpr std::array<std::string_view, sizeof...(I)> field_names(std::index_sequence<I...>) {
  return {std::get<I>(Record<T>::fields).name...};
}
template <IsRecord T>
inline constexpr auto kFieldNames = field_names<T>(std::make_index_sequence<field_count<T>()>());

class Decoder {
 public:
  explicit Decoder(JsonReader& reader) : r_(reader) {}

  bool decode(std::uint64_t& v) { return unsigned_integer(v, "usize"); }
  bool decode(std::uint16_t& v) { return unsigned_integer(v, "u16"); }
  bool decode(std::int64_t& v) { return signed_integer(v, "i64"); }
  bool decode(std::int32_t& v) { return signed_integer(v, "i32"); }

  bool decode(bool& v) {
    int c = r_.peek();
    if (c == 't' || c == 'f') {
      r_.take();
      v = c == 't';
      return r_.read_ident(v ? "rue" : "alse");
    }
    return other_value(c, "a boolean");
  }

  bool decode(std::string& v) {
    int c = r_.peek();
    if (c == '"') {
      r_.take();
      std::string_view text;
      if (!r_.read_string(text)) return false;
      v.assign(text);
      return true;
    }
    return other_value(c, "a string");
  }

  bool decode(CallDirection& v);
  bool decode(std::pair<CChainStatsKey, CChainStatsValue>& v);
  bool decode(HashMap<std::int16_t, std::uint64_t>& v);

  // Elements are collected in a reused buffer and moved out once, so a list costs one
  // allocation of its exact size instead of a chain of regrowths. No element type contains a
  // list of its own type, so one buffer per type is never in use twice.
  template <class T>
  bool decode(std::vector<T>& v) {
    auto& scratch = std::get<std::vector<T>>(scratch_);
    scratch.clear();
    if (!list(scratch)) return false;
    v.assign(std::make_move_iterator(scratch.begin()), std::make_move_iterator(scratch.end()));
    return true;
  }

  template <class V>
  bool decode(HashMap<std::string, V>& map) {
    int c = r_.peek();
    if (c != '{') return other_value(c, "a map");
    if (!r_.enter()) return false;
    r_.take();
    std::string key;
    for (bool first = true;; first = false) {
      Next next = r_.next_member(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      std::string_view text;
      if (!r_.read_string(text)) return false;
      key.assign(text);
      if (!r_.read_colon()) return false;
      // Decoded in place; a repeated key starts again from an empty value.
      auto [entry, inserted] = map.try_emplace(std::move(key));
      if (!inserted) entry->second = V{};
      if (!decode(entry->second)) return false;
    }
    r_.take();
    r_.leave();
    return true;
  }

  template <IsRecord T>
  bool decode(T& rec) {
    int c = r_.peek();
    if (c == '{') {
      if (!r_.enter()) return false;
      r_.take();
      if (!record_object(rec)) return false;
      r_.leave();
      return true;
    }
    if (c == '[') {
      if (!r_.enter()) return false;
      r_.take();
      if (!record_array(rec)) return false;
      r_.leave();
      return true;
    }
    return other_value(c, struct_name<T>());
  }

 private:
  template <class T>
  bool list(std::vector<T>& v) {
    int c = r_.peek();
    if (c != '[') return other_value(c, "a sequence");
    if (!r_.enter()) return false;
    r_.take();
    for (bool first = true;; first = false) {
      Next next = r_.next_element(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      if (!decode(v.emplace_back())) return false;
    }
    r_.take();
    r_.leave();
    return true;
  }

  // Decoding of field I of T, one function per field, so a member name found at run time
  // dispatches by index.
  template <IsRecord T>
  using FieldDecoder = bool (*)(Decoder&, T&);
  template <IsRecord T, std::size_t I>
  static bool decode_field(Decoder& d, T& rec) {
    return d.decode(std::get<I>(Record<T>::fields).of(rec));
  }
  template <IsRecord T, std::size_t... I>
  static constexpr std::array<FieldDecoder<T>, sizeof...(I)> field_decoders(
      std::index_sequence<I...>) {
    return {&decode_field<T, I>...};
  }
  template <IsRecord T>
  static constexpr auto kFieldDecoders =
      field_decoders<T>(std::make_index_sequence<field_count<T>()>());

  template <IsRecord T>
  bool record_object(T& rec) {
    constexpr std::size_t n = field_count<T>();
    static_assert(n <= 32);
    std::uint32_t seen = 0;
    std::size_t guess = 0;  // members usually come in declaration order
    for (bool first = true;; first = false) {
      Next next = r_.next_member(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      std::string_view name;
      if (!r_.read_string(name)) return false;
      std::size_t index = n;
      for (std::size_t k = 0; k < n; ++k) {
        std::size_t at = guess + k < n ? guess + k : guess + k - n;
        if (kFieldNames<T>[at] == name) {
          index = at;
          break;
        }
      }
      if (index == n) {
        if (!r_.read_colon() || !r_.skip_value()) return false;
        continue;
      }
      if ((seen >> index & 1) != 0) {
        // Reported where the repeated name's value would start, normally at its ':'.
        r_.peek();
        return r_.fail("duplicate field `" + std::string(kFieldNames<T>[index]) + "`");
      }
      seen |= std::uint32_t{1} << index;
      guess = index + 1 < n ? index + 1 : 0;
      if (!r_.read_colon() || !kFieldDecoders<T>[index](*this, rec)) return false;
    }
    r_.take();  // '}'
    for (std::size_t k = 0; k < n; ++k) {
      if ((seen >> k & 1) == 0) {
        return r_.fail("missing field `" + std::string(kFieldNames<T>[k]) + "`");
      }
    }
    return true;
  }

  template <IsRecord T>
  bool record_array(T& rec) {
    constexpr std::size_t n = field_count<T>();
    for (std::size_t k = 0; k < n; ++k) {
      Next next = r_.next_element(k == 0);
      if (next == Next::Error) return false;
      if (next == Next::Close) {
        r_.take();
        return r_.fail("invalid length " + std::to_string(k) + ", expected " +
                       struct_length_name<T>());
      }
      if (!kFieldDecoders<T>[k](*this, rec)) return false;
    }
    return r_.close_array();
  }

  template <class U>
  bool unsigned_integer(U& v, std::string_view type) {
    JsonNumber n;
    if (!integer(n, type)) return false;
    if (n.kind == JsonNumber::Kind::Unsigned && n.u <= std::numeric_limits<U>::max()) {
      v = static_cast<U>(n.u);
      return true;
    }
    return out_of_range(n, type);
  }

  template <class S>
  bool signed_integer(S& v, std::string_view type) {
    JsonNumber n;
    if (!integer(n, type)) return false;
    if (n.kind == JsonNumber::Kind::Unsigned &&
        n.u <= static_cast<std::uint64_t>(std::numeric_limits<S>::max())) {
      v = static_cast<S>(n.u);
      return true;
    }
    if (n.kind == JsonNumber::Kind::Signed && n.i >= std::numeric_limits<S>::min()) {
      v = static_cast<S>(n.i);
      return true;
    }
    return out_of_range(n, type);
  }

  // Reads a number where an integer of `type` is expected; a float is a type error.
  bool integer(JsonNumber& n, std::string_view type) {
    int c = r_.peek();
    if (c != '-' && (c < '0' || c > '9')) return other_value(c, type);
    if (!r_.read_number(n)) return false;
    if (n.kind == JsonNumber::Kind::Float) {
      return r_.fail("invalid type: floating point `" + float_text(n.f) + "`, expected " +
                     std::string(type));
    }
    return true;
  }

  bool out_of_range(const JsonNumber& n, std::string_view type) {
    std::string text =
        n.kind == JsonNumber::Kind::Unsigned ? std::to_string(n.u) : std::to_string(n.i);
    return r_.fail("invalid value: integer `" + text + "`, expected " + std::string(type));
  }

  // The value starting with the peeked byte `c` is not what `expected` names: reads a
  // scalar completely to describe it (a syntax error inside it wins), not a container.
  bool other_value(int c, std::string_view expected) {
    std::string found;
    switch (c) {
      case JsonReader::kEnd:
        return r_.fail("EOF while parsing a value");
      case 'n':
      case 't':
      case 'f':
        r_.take();
        if (!r_.read_ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse")) return false;
        found = c == 'n' ? "null" : c == 't' ? "boolean `true`" : "boolean `false`";
        break;
      case '"': {
        r_.take();
        std::string_view text;
        if (!r_.read_string(text)) return false;
        StringSink out;
        out.write("string ");
        write_quoted(out, text);
        found = out.take();
        break;
      }
      case '[':
        found = "sequence";
        break;
      case '{':
        found = "map";
        break;
      default: {
        if (c != '-' && (c < '0' || c > '9')) return r_.fail("expected value");
        JsonNumber n;
        if (!r_.read_number(n)) return false;
        if (n.kind == JsonNumber::Kind::Float) {
          found = "floating point `" + float_text(n.f) + "`";
        } else {
          found =
              "integer `" +
              (n.kind == JsonNumber::Kind::Unsigned ? std::to_string(n.u) : std::to_string(n.i)) +
              "`";
        }
      }
    }
    return r_.fail("invalid type: " + found + ", expected " + std::string(expected));
  }

  bool direction_name(CallDirection& v) {
    std::string_view text;
    if (!r_.read_string(text)) return false;
    for (std::size_t k = 0; k < std::size(kCallDirectionNames); ++k) {
      if (text == kCallDirectionNames[k]) {
        v = static_cast<CallDirection>(k);
        return true;
      }
    }
    return r_.fail("unknown variant `" + std::string(text) +
                   "`, expected one of `Inbound`, `Outbound`, `Unknown`");
  }

  JsonReader& r_;
  std::tuple<std::vector<std::int64_t>, std::vector<std::uint64_t>, std::vector<std::string>,
             std::vector<Call>, std::vector<ExpectRoot>,
             std::vector<std::pair<CChainStatsKey, CChainStatsValue>>>
      scratch_;
};

bool Decoder::decode(CallDirection& v) {
  int c = r_.peek();
  if (c == '"') {
    r_.take();
    return direction_name(v);
  }
  if (c == JsonReader::kEnd) return r_.fail("EOF while parsing a value");
  if (c != '{') return r_.fail("expected value");
  // The object form: one member named after the direction, with the value null.
  if (!r_.enter()) return false;
  r_.take();
  c = r_.peek();
  if (c != '"') return other_value(c, "variant identifier");
  r_.take();
  if (!direction_name(v) || !r_.read_colon()) return false;
  c = r_.peek();
  if (c == 'n') {
    r_.take();
    if (!r_.read_ident("ull")) return false;
  } else {
    return other_value(c, "unit");
  }
  c = r_.peek();
  if (c == JsonReader::kEnd) return r_.fail("EOF while parsing an object");
  if (c != '}') return r_.fail("expected value");
  r_.take();
  r_.leave();
  return true;
}

bool Decoder::decode(std::pair<CChainStatsKey, CChainStatsValue>& v) {
  int c = r_.peek();
  if (c != '[') return other_value(c, "a tuple of size 2");
  if (!r_.enter()) return false;
  r_.take();
  for (int k = 0; k < 2; ++k) {
    Next next = r_.next_element(k == 0);
    if (next == Next::Error) return false;
    if (next == Next::Close) {
      r_.take();
      return r_.fail("invalid length " + std::to_string(k) + ", expected a tuple of size 2");
    }
    if (!(k == 0 ? decode(v.first) : decode(v.second))) return false;
  }
  if (!r_.close_array()) return false;
  r_.leave();
  return true;
}

// Member names are integers written inside the quotes.
bool Decoder::decode(HashMap<std::int16_t, std::uint64_t>& map) {
  int c = r_.peek();
  if (c != '{') return other_value(c, "a map");
  if (!r_.enter()) return false;
  r_.take();
  for (bool first = true;; first = false) {
    Next next = r_.next_member(first);
    if (next == Next::Error) return false;
    if (next == Next::Close) break;
    c = r_.peek_byte();
    if (c != '-' && (c < '0' || c > '9')) {
      return r_.fail("invalid value: expected key to be a number in quotes");
    }
    std::int16_t key = 0;
    if (!signed_integer(key, "i16")) return false;
    if (r_.peek_byte() != '"') return r_.fail("expected `\"`");
    r_.take();
    if (!r_.read_colon()) return false;
    std::uint64_t value = 0;
    if (!decode(value)) return false;
    map.insert_or_assign(key, value);
  }
  r_.take();
  r_.leave();
  return true;
}

}  // namespace

Result<StatsRecJson, JsonError> decode_json(ByteSource source) {
  JsonReader reader(source);
  if (reader.peek() != JsonReader::kEnd) reader.start_document();
  Decoder decoder(reader);
  StatsRecJson rec;
  if (!decoder.decode(rec) || !reader.end_document()) return Err{reader.take_error()};
  return rec;
}

}  // namespace tracemill
