// The JSON record mapping: decodes straight into the records, driven by their descriptions
// (Record<T>), checking every value against the declared type of its field.
//
// One decoder serves both uses. Decoder<false> keeps the whole record. Decoder<true> keeps only
// what a ChainReceiver takes (chain_field_use() decides, field by field) and checks everything
// else through the same code: Checked<T> runs the reading and the checks of a T without storing
// it, so both uses accept the same documents and fail with the same errors at the same places.
#include "stats/file/json_decode.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "stats/file/json_reader.h"
#include "stats/file/json_scan.h"
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

// Each field name as it most often stands after the opening quote of a member: the name, the
// closing quote and the colon.
template <IsRecord T, std::size_t... I>
constexpr std::array<json_scan::Literal, sizeof...(I)> member_literals(std::index_sequence<I...>) {
  return {json_scan::make_literal(std::get<I>(Record<T>::fields).name, "\":")...};
}
template <IsRecord T>
inline constexpr auto kMemberLiterals =
    member_literals<T>(std::make_index_sequence<field_count<T>()>());

// The direction names with their closing quote.
inline constexpr json_scan::Literal kDirectionLiterals[] = {
    json_scan::make_literal(kCallDirectionNames[0], "\""),
    json_scan::make_literal(kCallDirectionNames[1], "\""),
    json_scan::make_literal(kCallDirectionNames[2], "\"")};

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};

// Whether decoding a U may decode a std::vector<T> somewhere inside it.
template <class T, class U>
constexpr bool holds_list_of();
template <class T, IsRecord U, std::size_t... I>
constexpr bool any_field_holds_list_of(std::index_sequence<I...>) {
  return (holds_list_of<
              T, typename std::remove_cvref_t<decltype(std::get<I>(Record<U>::fields))>::Type>() ||
          ...);
}
template <class T, class U>
constexpr bool holds_list_of() {
  if constexpr (IsVector<U>::value) {
    return std::is_same_v<U, std::vector<T>> || holds_list_of<T, typename U::value_type>();
  } else if constexpr (requires { typename U::mapped_type; }) {
    return holds_list_of<T, typename U::mapped_type>();
  } else if constexpr (requires { typename U::first_type; }) {
    return holds_list_of<T, typename U::first_type>() ||
           holds_list_of<T, typename U::second_type>();
  } else if constexpr (IsRecord<U>) {
    return any_field_holds_list_of<T, U>(std::make_index_sequence<field_count<U>()>());
  } else {
    return false;
  }
}

// The element types of the record's lists, one reused buffer each.
using ListScratch = std::tuple<std::vector<std::int64_t>, std::vector<std::uint64_t>,
                               std::vector<std::string>, std::vector<Call>, std::vector<ExpectRoot>,
                               std::vector<std::pair<CChainStatsKey, CChainStatsValue>>>;

// A list is collected in the buffer of its element type and moved out when it is complete, so
// the buffer must not be in use twice at once: no element type may hold a list of itself.
template <class... L>
constexpr bool no_list_holds_itself(std::tuple<L...>*) {
  return (!holds_list_of<typename L::value_type, typename L::value_type>() && ...);
}
static_assert(no_list_holds_itself(static_cast<ListScratch*>(nullptr)),
              "a list element type holds a list of its own type: give it its own buffer");

template <bool kStream>
class Decoder {
 public:
  explicit Decoder(JsonReader& reader, ChainReceiver* receiver = nullptr)
      : r_(reader), receiver_(receiver), health_(receiver != nullptr && receiver->wants_health()) {}

  // --- values that are kept ---

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

  template <class T>
  bool decode(std::vector<T>& v) {
    // Collected in a reused buffer and moved out once, so a list costs one allocation of its
    // exact size instead of a chain of regrowths.
    auto& scratch = std::get<std::vector<T>>(scratch_);
    scratch.clear();
    auto element = [&] { return decode(scratch.emplace_back()); };
    bool read;
    if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) {
      // As for checked lists, the plainly valid elements are read in bulk.
      read = list(element, [&](bool first) {
        return skim_integers(first, std::is_signed_v<T>,
                             [&](std::int64_t value) { scratch.push_back(static_cast<T>(value)); });
      });
    } else {
      read = list(element);
    }
    if (!read) return false;
    v.assign(std::make_move_iterator(scratch.begin()), std::make_move_iterator(scratch.end()));
    return true;
  }

  template <class V>
  bool decode(HashMap<std::string, V>& map) {
    std::string key;
    return string_map(
        [&](std::string_view text) {
          key.assign(text);
          return true;
        },
        [&] {
          // Decoded in place; a repeated key starts again from an empty value.
          auto [entry, inserted] = map.try_emplace(std::move(key));
          if (!inserted) entry->second = V{};
          return decode(entry->second);
        });
  }

  bool decode(HashMap<std::int16_t, std::uint64_t>& map) {
    return i16_map([&](std::int16_t key) {
      std::uint64_t value = 0;
      if (!decode(value)) return false;
      map.insert_or_assign(key, value);
      return true;
    });
  }

  template <class A, class B>
  bool decode(std::pair<A, B>& v) {
    return pair([&] { return decode(v.first); }, [&] { return decode(v.second); });
  }

  template <IsRecord T>
  bool decode(T& rec) {
    return record<T, false>(&rec);
  }

  // --- values that are only checked ---

  template <class S>
  requires std::is_arithmetic_v<S> || std::is_enum_v<S>
  bool decode(Checked<S>) {
    S v{};
    return decode(v);
  }

  bool decode(Checked<std::string>) {
    int c = r_.peek();
    if (c == '"') {
      r_.take();
      return r_.check_string();
    }
    return other_value(c, "a string");
  }

  template <class T>
  bool decode(Checked<std::vector<T>>) {
    if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>) {
      // Most of a file: the plainly valid elements are taken in bulk (up to 18 digits, within
      // the range of both types), the rest one by one.
      return list(
          [&] { return decode(Checked<T>{}); },
          [&](bool first) { return !r_.skim_integers(first, std::is_signed_v<T>).empty(); });
    } else {
      return list([&] { return decode(Checked<T>{}); });
    }
  }

  template <class V>
  bool decode(Checked<HashMap<std::string, V>>) {
    return string_map([](std::string_view) { return true; }, [&] { return decode(Checked<V>{}); });
  }

  bool decode(Checked<HashMap<std::int16_t, std::uint64_t>>) {
    return i16_map([&](std::int16_t) { return decode(Checked<std::uint64_t>{}); });
  }

  template <class A, class B>
  bool decode(Checked<std::pair<A, B>>) {
    return pair([&] { return decode(Checked<A>{}); }, [&] { return decode(Checked<B>{}); });
  }

  template <IsRecord T>
  bool decode(Checked<T>) {
    return record<T, true>(nullptr);
  }

  // --- lists and maps whose elements go to the receiver ---

  bool stream(HashMap<std::string, OperationStatsJson>&) {
    return string_map(
        [&](std::string_view key) {
          receiver_->operation(key);
          return true;
        },
        [&] { return decode(operation_); });
  }

  bool stream(std::vector<std::pair<CChainStatsKey, CChainStatsValue>>&) {
    return list([&] {
      if (!decode(pair_)) return false;
      if (health_) receiver_->errors(pair_.second.cc_not_http_ok, pair_.second.cc_with_error_logs);
      receiver_->chain(pair_.second.count);
      return true;
    });
  }

  // The health fields of a value, element by element when the receiver wants them.
  // The trace ids are checked and counted.
  bool stream(std::vector<std::string>&) {
    std::uint64_t count = 0;
    if (!list([&] {
          ++count;
          return decode(Checked<std::string>{});
        })) {
      return false;
    }
    receiver_->trace_ids(count);
    return true;
  }

  // Durations go over in batches; the plainly valid ones are read in bulk.
  bool stream(std::vector<std::int64_t>&) {
    if (!health_) return decode(Checked<std::vector<std::int64_t>>{});
    const bool read = list(
        [&] {
          std::int64_t micros = 0;
          if (!decode(micros)) return false;
          durations_.add(micros, *receiver_);
          return true;
        },
        [&](bool first) {
          return skim_integers(first, true,
                               [&](std::int64_t micros) { durations_.add(micros, *receiver_); });
        });
    durations_.flush(*receiver_);
    return read;
  }

  bool stream(HashMap<std::int16_t, std::uint64_t>&) {
    if (!health_) return decode(Checked<HashMap<std::int16_t, std::uint64_t>>{});
    return i16_map([&](std::int16_t code) {
      std::uint64_t count = 0;
      if (!decode(count)) return false;
      receiver_->http_status(code, count);
      return true;
    });
  }

  bool stream(HashMap<std::string, std::uint64_t>&) {
    if (!health_) return decode(Checked<HashMap<std::string, std::uint64_t>>{});
    return string_map(
        [&](std::string_view text) {
          text_.assign(text);
          return true;
        },
        [&] {
          std::uint64_t count = 0;
          if (!decode(count)) return false;
          receiver_->error_log(text_, count);
          return true;
        });
  }

  // Each call is decoded over the one before, so that its texts keep their room.
  bool stream(std::vector<Call>&) {
    return list([&] {
      if (!decode(call_)) return false;
      receiver_->call(call_);
      return true;
    });
  }

 private:
  // Before an element of a list of integers (`negatives`: signed ones): takes the plainly valid
  // elements from there on at once, calling take(value) for each; whether it took any.
  template <class Take>
  bool skim_integers(bool first, bool negatives, Take take) {
    const std::string_view run = r_.skim_integers(first, negatives);
    json_scan::for_each_integer(run, take);
    return !run.empty();
  }

  // The shapes. Each reads the brackets, separators and positions of its shape and calls back
  // for the parts; keeping and checking differ only in the callbacks.

  // An array: element() for each element. Before each element, skim(first) may take
  // elements in bulk; it returns whether it took any.
  template <class F, class S = bool (*)(bool)>
  bool list(
      F&& element, S&& skim = [](bool) { return false; }) {
    int c = r_.peek();
    if (c != '[') return other_value(c, "a sequence");
    if (!r_.enter()) return false;
    r_.take();
    for (bool first = true;; first = false) {
      if (skim(first)) first = false;
      Next next = r_.next_element(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      if (!element()) return false;
    }
    r_.take();
    r_.leave();
    return true;
  }

  // An object read as a map: member() for each member, after its opening quote.
  template <class M>
  bool map(M&& member) {
    int c = r_.peek();
    if (c != '{') return other_value(c, "a map");
    if (!r_.enter()) return false;
    r_.take();
    for (bool first = true;; first = false) {
      Next next = r_.next_member(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      if (!member()) return false;
    }
    r_.take();
    r_.leave();
    return true;
  }

  // A map from text: key(name) as soon as the name is read (the view lives until the reader
  // moves on), then value() after the colon.
  template <class K, class V>
  bool string_map(K&& key, V&& value) {
    return map([&] {
      std::string_view text;
      return r_.read_string(text) && key(text) && r_.read_colon() && value();
    });
  }

  // A map from i16: member names are integers written inside the quotes; entry(key) reads the
  // value after the colon.
  template <class E>
  bool i16_map(E&& entry) {
    return map([&] {
      int c = r_.peek_byte();
      if (c != '-' && (c < '0' || c > '9')) {
        return r_.fail("invalid value: expected key to be a number in quotes");
      }
      std::int16_t key = 0;
      if (!signed_integer(key, "i16")) return false;
      if (r_.peek_byte() != '"') return r_.fail("expected `\"`");
      r_.take();
      return r_.read_colon() && entry(key);
    });
  }

  // An array of exactly two elements.
  template <class A, class B>
  bool pair(A&& first, B&& second) {
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
      if (!(k == 0 ? first() : second())) return false;
    }
    if (!r_.close_array()) return false;
    r_.leave();
    return true;
  }

  // A record, in object or array form. With kCheck every field is checked and `rec` is unused
  // (null); otherwise each field is kept, checked or streamed as the decoder's use says.
  template <IsRecord T, bool kCheck>
  bool record(T* rec) {
    int c = r_.peek();
    if (c == '{') {
      if (!r_.enter()) return false;
      r_.take();
      if (!record_object<T, kCheck>(rec)) return false;
      r_.leave();
      return true;
    }
    if (c == '[') {
      if (!r_.enter()) return false;
      r_.take();
      if (!record_array<T, kCheck>(rec)) return false;
      r_.leave();
      return true;
    }
    return other_value(c, struct_name<T>());
  }

  // Field I of T, one function per field, so a member name found at run time dispatches by
  // index.
  template <IsRecord T>
  using FieldDecoder = bool (*)(Decoder&, T*);
  template <IsRecord T, bool kCheck, std::size_t I>
  static bool decode_field(Decoder& d, T* rec) {
    const auto& field = std::get<I>(Record<T>::fields);
    using F = typename std::remove_cvref_t<decltype(field)>::Type;
    constexpr FieldUse use = kCheck    ? FieldUse::Check
                             : kStream ? chain_field_use<T, I>()
                                       : FieldUse::Keep;
    if constexpr (use == FieldUse::Check) {
      return d.decode(Checked<F>{});
    } else if constexpr (use == FieldUse::Stream) {
      return d.stream(field.of(*rec));
    } else {
      return d.decode(field.of(*rec));
    }
  }
  template <IsRecord T, bool kCheck, std::size_t... I>
  static constexpr std::array<FieldDecoder<T>, sizeof...(I)> field_decoders(
      std::index_sequence<I...>) {
    return {&decode_field<T, kCheck, I>...};
  }
  template <IsRecord T, bool kCheck>
  static constexpr auto kFieldDecoders =
      field_decoders<T, kCheck>(std::make_index_sequence<field_count<T>()>());

  template <IsRecord T, bool kCheck>
  bool record_object(T* rec) {
    constexpr std::size_t n = field_count<T>();
    static_assert(n <= 32);
    std::uint32_t seen = 0;
    std::size_t guess = 0;  // members usually come in declaration order
    for (bool first = true;; first = false) {
      Next next = r_.next_member(first);
      if (next == Next::Error) return false;
      if (next == Next::Close) break;
      std::size_t index = n;
      // The expected member written plainly is taken with its colon at once; the position is
      // then the one reading the name and looking at the colon would leave.
      const bool with_colon = r_.take_literal(kMemberLiterals<T>[guess]);
      if (with_colon) {
        index = guess;
      } else {
        std::string_view name;
        if (!r_.read_string(name)) return false;
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
      }
      if ((seen >> index & 1) != 0) {
        // Reported where the repeated name's value would start, normally at its ':'.
        if (!with_colon) r_.peek();
        return r_.fail("duplicate field `" + std::string(kFieldNames<T>[index]) + "`");
      }
      seen |= std::uint32_t{1} << index;
      guess = index + 1 < n ? index + 1 : 0;
      if (!(with_colon || r_.read_colon()) || !kFieldDecoders<T, kCheck>[index](*this, rec)) {
        return false;
      }
    }
    r_.take();  // '}'
    for (std::size_t k = 0; k < n; ++k) {
      if ((seen >> k & 1) == 0) {
        return r_.fail("missing field `" + std::string(kFieldNames<T>[k]) + "`");
      }
    }
    return true;
  }

  template <IsRecord T, bool kCheck>
  bool record_array(T* rec) {
    constexpr std::size_t n = field_count<T>();
    for (std::size_t k = 0; k < n; ++k) {
      Next next = r_.next_element(k == 0);
      if (next == Next::Error) return false;
      if (next == Next::Close) {
        r_.take();
        return r_.fail("invalid length " + std::to_string(k) + ", expected " +
                       struct_length_name<T>());
      }
      if (!kFieldDecoders<T, kCheck>[k](*this, rec)) return false;
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
    for (std::size_t k = 0; k < std::size(kDirectionLiterals); ++k) {
      if (r_.take_literal(kDirectionLiterals[k])) {
        v = static_cast<CallDirection>(k);
        return true;
      }
    }
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
  ChainReceiver* receiver_;
  const bool health_;  // the health fields go to the receiver
  DurationBatch durations_;
  std::string text_;  // the error log text being streamed
  ListScratch scratch_;
  // Decoding for a receiver: the operation, the pair and the call being decoded, reused for
  // every one (the pair's calls go to the receiver, its list stays empty).
  OperationStatsJson operation_;
  std::pair<CChainStatsKey, CChainStatsValue> pair_;
  Call call_;
};

template <bool kStream>
bool Decoder<kStream>::decode(CallDirection& v) {
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

// Decodes the document into `rec` with `decoder`, then checks that only whitespace follows.
template <bool kStream>
bool decode_document(JsonReader& reader, Decoder<kStream>& decoder, StatsRecJson& rec) {
  if (reader.peek() != JsonReader::kEnd) reader.start_document();
  return decoder.decode(rec) && reader.end_document();
}

}  // namespace

Result<StatsRecJson, JsonError> decode_json(ByteSource source) {
  JsonReader reader(source);
  Decoder<false> decoder(reader);
  StatsRecJson rec;
  if (!decode_document(reader, decoder, rec)) return Err{reader.take_error()};
  return rec;
}

std::optional<JsonError> stream_json(ByteSource& source, ChainReceiver& receiver) {
  JsonReader reader(source);
  Decoder<true> decoder(reader, &receiver);
  // Only `stats` of the top-level record is used, and it is streamed: the record stays empty.
  StatsRecJson top;
  if (!decode_document(reader, decoder, top)) return reader.take_error();
  return std::nullopt;
}

}  // namespace tracemill
