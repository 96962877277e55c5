// One description per record type: its name and its fields, in declaration order, as
// (name, member pointer) pairs. The JSON mapping, the binary decoder and the text form all walk
// this one list, so a field is added in one place and the codecs cannot drift apart.
//
// A record type T describes itself by specialising Record<T> right after its definition:
//
//   template <> struct Record<Version> {
//     static constexpr std::string_view name = "Version";
//     static constexpr auto fields = std::make_tuple(field("major", &Version::major),
//                                                    field("minor", &Version::minor));
//   };
#pragma once

#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tracemill {

template <class R, class T>
struct Field {
  using Rec = R;
  using Type = T;
  std::string_view name;
  T R::*member;

  const T& of(const R& rec) const { return rec.*member; }
  T& of(R& rec) const { return rec.*member; }
};

template <class R, class T>
constexpr Field<R, T> field(std::string_view name, T R::*member) {
  return {name, member};
}

template <class T>
struct Record;  // specialised by every record type

template <class T>
concept IsRecord = requires {
  Record<T>::name;
  Record<T>::fields;
};

template <IsRecord T>
constexpr std::size_t field_count() {
  return std::tuple_size_v<std::remove_cvref_t<decltype(Record<T>::fields)>>;
}

// Calls f(field) for every field of T in declaration order; stops early when f returns false
// (f may also return void). Returns false when it stopped early.
template <IsRecord T, class F>
constexpr bool for_each_field(F&& f) {
  return std::apply(
      [&](const auto&... fs) {
        bool go = true;
        [[maybe_unused]] auto one = [&](const auto& fd) {
          if (!go) return;
          if constexpr (std::is_void_v<decltype(f(fd))>) {
            f(fd);
          } else {
            go = static_cast<bool>(f(fd));
          }
        };
        (one(fs), ...);
        return go;
      },
      Record<T>::fields);
}

}  // namespace tracemill
