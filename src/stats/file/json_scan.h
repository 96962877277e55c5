// The byte-scanning kernels of the JSON reader: finding the end of a plain run of string bytes,
// and taking the plainly valid elements of an integer list in bulk.
//
// Each kernel has a vector form (SSE2, wherever the compiler targets it, which every x86-64
// compiler does) and a plain form that any host runs, word at a time where that helps; the
// reader uses the vector form when there is one (and on x86-64 the list kernel uses 64- or
// 32-byte vectors when the processor has them), and the tests hold the forms to the same
// results. Both read up to 64 bytes from where they start, which may be past `end`: the read
// buffer keeps that much padding after its bytes (ByteSource::kPadding), and nothing read past
// `end` changes a result.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/words.h"

#if defined(__SSE2__) && !defined(TRACEMILL_NO_SIMD)
#include <emmintrin.h>
#define TRACEMILL_JSON_VECTOR 1
#else
#define TRACEMILL_JSON_VECTOR 0
#endif
// Wider vectors where the processor has them, chosen when the program runs (GCC and Clang).
#if TRACEMILL_JSON_VECTOR && defined(__x86_64__) && defined(__GNUC__)
#define TRACEMILL_JSON_WIDE 1
#else
#define TRACEMILL_JSON_WIDE 0
#endif

namespace tracemill::json_scan {

// The bytes a string's plain run stops at: the closing quote, a backslash, a control byte.
struct StringRun {
  const char* stop;  // the first such byte in [p, end), or end
  bool ascii;        // every byte before `stop` is below 0x80
};

// High bit set in each byte of the little-endian word w that is '"', '\\' or below 0x20;
// exact for the lowest marked byte (borrows only spoil bytes after it).
inline std::uint64_t special_bytes(std::uint64_t w) {
  std::uint64_t quote = w ^ (kOnes * '"');
  std::uint64_t slash = w ^ (kOnes * '\\');
  std::uint64_t t =
      ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((w - kOnes * 0x20) & ~w);
  return t & kHighBits;
}

inline StringRun string_run_plain(const char* p, const char* end) {
  std::uint64_t high = 0;
  while (end - p >= 8) {
    std::uint64_t w = load_le64(p);
    std::uint64_t hit = special_bytes(w);
    if (hit != 0) {
      int n = first_marked(hit);
      // Only the bytes before the hit count for the ASCII test.
      if (n > 0) high |= w & (~std::uint64_t{0} >> (64 - 8 * n));
      return {p + n, (high & kHighBits) == 0};
    }
    high |= w;
    p += 8;
  }
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20) break;
    high |= c;
    ++p;
  }
  return {p, (high & kHighBits) == 0};
}

#if TRACEMILL_JSON_VECTOR
inline StringRun string_run_vector(const char* p, const char* end) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i slash = _mm_set1_epi8('\\');
  const __m128i control = _mm_set1_epi8(0x1F);
  unsigned high = 0;
  for (;;) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, slash)),
                                   _mm_cmpeq_epi8(_mm_min_epu8(v, control), v));
    auto hits = static_cast<unsigned>(_mm_movemask_epi8(special));
    auto highs = static_cast<unsigned>(_mm_movemask_epi8(v));
    std::ptrdiff_t left = end - p;
    if (left < 16) hits |= 1u << left;  // `end` stops the run like a special byte
    if (hits != 0) {
      int n = std::countr_zero(hits);
      high |= highs & ((1u << n) - 1);
      return {p + n, high == 0};
    }
    high |= highs;
    p += 16;
  }
}
#endif

inline StringRun string_run(const char* p, const char* end) {
#if TRACEMILL_JSON_VECTOR
  return string_run_vector(p, end);
#else
  return string_run_plain(p, end);
#endif
}

// --- integer lists ---

// Bit i of each mask tells about byte i of 64 bytes.
struct ListBytes {
  std::uint64_t digit;
  std::uint64_t comma;
  std::uint64_t minus;
  std::uint64_t zero;
};

inline ListBytes list_bytes_plain(const char* p) {
  ListBytes m{0, 0, 0, 0};
  for (int i = 0; i < 64; ++i) {
    const char c = p[i];
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (c >= '0' && c <= '9') m.digit |= bit;
    if (c == ',') m.comma |= bit;
    if (c == '-') m.minus |= bit;
    if (c == '0') m.zero |= bit;
  }
  return m;
}

#if TRACEMILL_JSON_VECTOR
inline ListBytes list_bytes_vector(const char* p) {
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i minus = _mm_set1_epi8('-');
  ListBytes m{0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    __m128i offset = _mm_sub_epi8(v, zero);  // digits become 0 to 9, everything else larger
    auto digit = static_cast<std::uint64_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(offset, nine), offset)));
    auto commas = static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)));
    auto minuses = static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, minus)));
    auto zeros = static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    m.digit |= digit << (16 * k);
    m.comma |= commas << (16 * k);
    m.minus |= minuses << (16 * k);
    m.zero |= zeros << (16 * k);
  }
  return m;
}
#endif

// How many bytes from `p` hold elements of a list of integers that are plainly valid, so that
// taking them in bulk is what reading them one by one would do: each element an optional "-"
// (when `negatives`), then 1 to 18 digits without a leading zero, "-0" excluded, and the
// elements joined by single commas with nothing else between. When `first`, `p` is where the
// first element starts (just after "["); otherwise `p` is at the comma after an element. The
// count ends just before a comma, so every element taken was followed by a comma; anything
// else (blanks, the last element, longer numbers, anything invalid) is left to the reader.
//
// The bytes are classified 64 at a time at a fixed stride, so that one block's work does not
// wait for the block before: every rule looks backwards (at the byte before, or the digits
// before), and the little it needs of the block before is carried over. A fault is marked on
// a byte of its element or on the comma that ends it, so every comma before the first mark and
// the first byte that is neither digit, comma nor minus ends valid elements; the count ends at
// the last such comma.
struct ListCarry {
  std::uint64_t begin = 0;      // bit 0: an element begins at the block's first byte
  std::uint64_t minus = 0;      // bit 0: the byte before the block is a minus
  std::uint64_t lead_zero = 0;  // bit 0: the byte before the block is an element's leading 0
  int digits = 0;               // digits that end the block before (at most 18 without a mark)
};

// The marks of one block (of which the first `available` bytes are input) and the carry for
// the next; the stop is the lowest byte that ends the run (a mark or a foreign byte), 64 when
// the whole block is fine. Returns the stop.
inline int list_block(const ListBytes& m, std::ptrdiff_t available, bool negatives,
                      ListCarry& carry, std::uint64_t& commas) {
  const std::uint64_t in =
      available >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << available) - 1;
  const std::uint64_t d = m.digit & in;
  const std::uint64_t c = m.comma & in;
  const std::uint64_t mi = negatives ? m.minus & in : 0;
  const std::uint64_t begins = (c << 1) | carry.begin;
  const std::uint64_t after_minus = (mi << 1) | carry.minus;
  const std::uint64_t lead_zero = begins & m.zero & d;
  std::uint64_t bad = ~(d | c | mi);   // a foreign byte (or the end of the input)
  bad |= begins & ~(d | mi);           // an element begins with a digit or a minus,
  bad |= mi & ~begins;                 // a minus only there,
  bad |= after_minus & (~d | m.zero);  // followed by a digit other than 0 ("-0" is a float),
  bad |= ((lead_zero << 1) | carry.lead_zero) & d;  // no digit after a leading zero,
  std::uint64_t run = d & (d << 1);                 // and no 19th digit in a row: runs of 2,
  run &= run << 2;                                  // 4,
  run &= run << 4;                                  // 8,
  run &= run << 8;                                  // 16
  bad |= run & (d << 16) & (d << 17) & (d << 18);
  if (carry.digits > 0 && carry.digits + std::countr_one(d) >= 19) {
    bad |= std::uint64_t{1} << (18 - carry.digits);  // a run from the block before
  }
  const int stop = std::countr_zero(bad);
  commas = stop == 64 ? c : c & ((std::uint64_t{1} << stop) - 1);
  carry.begin = c >> 63;
  carry.minus = mi >> 63;
  carry.lead_zero = lead_zero >> 63;
  carry.digits = std::countl_one(d);
  return stop;
}

// The loop over blocks; inlined into each form, so that a form compiled for wider vectors
// has its classification inlined too.
template <class Classify>
[[gnu::always_inline]] inline std::size_t integer_run_with(Classify classify, const char* p,
                                                           const char* end, bool first,
                                                           bool negatives) {
  if (p >= end || (!first && *p != ',')) return 0;
  ListCarry carry;
  carry.begin = first ? 1 : 0;
  std::size_t taken = 0;
  for (std::size_t offset = 0;; offset += 64) {
    std::uint64_t commas;
    const int stop = list_block(classify(p + offset), end - (p + offset), negatives, carry, commas);
    if (commas != 0) taken = offset + 63 - static_cast<std::size_t>(std::countl_zero(commas));
    if (stop < 64) return taken;
  }
}

// The value of the `n` (1 to 8) decimal digits at the low end of `word` (load_le64 of them),
// eight at a time: pairs, then fours, then eight.
inline std::uint64_t digits_value(std::uint64_t word, std::size_t n) {
  word = (word & 0x0F0F0F0F0F0F0F0FULL) << (8 * (8 - n));  // missing digits read as leading 0s
  word = (word * 10 + (word >> 8)) & 0x00FF00FF00FF00FFULL;
  word = (word * 100 + (word >> 16)) & 0x0000FFFF0000FFFFULL;
  return (word * 10000 + (word >> 32)) & 0xFFFFFFFFULL;
}

// Calls take(value) for each element of a run that integer_run() took, in order: an optional
// minus, 1 to 18 digits, commas between (and one first unless the run starts a list). Reads up
// to 16 bytes past the run's end; nothing there changes a value.
template <class Take>
inline void for_each_integer(std::string_view run, Take take) {
  static constexpr std::uint64_t kPow10[9] = {1,      10,      100,      1000,     10000,
                                              100000, 1000000, 10000000, 100000000};
  auto first_comma = [](std::uint64_t word) {
    const std::uint64_t x = word ^ (kOnes * ',');
    const std::uint64_t commas = (x - kOnes) & ~x & kHighBits;
    return commas == 0 ? std::size_t{8} : static_cast<std::size_t>(first_marked(commas));
  };
  const char* p = run.data();
  const char* const end = p + run.size();
  while (p < end) {
    if (*p == ',') ++p;
    const bool negative = *p == '-';
    if (negative) ++p;
    const auto left = static_cast<std::size_t>(end - p);
    const std::uint64_t word = load_le64(p);
    std::size_t n = std::min(first_comma(word), left);
    std::uint64_t value;
    if (n < 8 || left == 8) {
      value = digits_value(word, n);
    } else {
      const std::uint64_t next = load_le64(p + 8);
      n = std::min(8 + first_comma(next), left);
      if (n < 16 || left == 16 || p[16] == ',') {
        value = digits_value(word, 8) * kPow10[n - 8] + (n > 8 ? digits_value(next, n - 8) : 0);
      } else {
        while (n < left && p[n] != ',') ++n;
        value = 0;
        for (std::size_t i = 0; i < n; ++i) value = value * 10 + static_cast<unsigned>(p[i] - '0');
      }
    }
    p += n;
    const auto v = static_cast<std::int64_t>(value);  // at most 18 digits
    take(negative ? -v : v);
  }
}

inline std::size_t integer_run_plain(const char* p, const char* end, bool first, bool negatives) {
  return integer_run_with(list_bytes_plain, p, end, first, negatives);
}

#if TRACEMILL_JSON_VECTOR
inline std::size_t integer_run_vector(const char* p, const char* end, bool first, bool negatives) {
  return integer_run_with(list_bytes_vector, p, end, first, negatives);
}
#endif

#if TRACEMILL_JSON_WIDE
// The same with 32- and 64-byte vectors (json_scan.cpp). Requires a processor with AVX2, or
// with AVX-512BW.
std::size_t integer_run_avx2(const char* p, const char* end, bool first, bool negatives);
std::size_t integer_run_avx512(const char* p, const char* end, bool first, bool negatives);
bool have_avx2();
bool have_avx512();
// The widest of them the processor has, chosen when the program starts; null for neither.
using IntegerRun = std::size_t (*)(const char* p, const char* end, bool first, bool negatives);
extern const IntegerRun kWideIntegerRun;
#endif

inline std::size_t integer_run(const char* p, const char* end, bool first, bool negatives) {
#if TRACEMILL_JSON_WIDE
  if (kWideIntegerRun != nullptr) return kWideIntegerRun(p, end, first, negatives);
#endif
#if TRACEMILL_JSON_VECTOR
  return integer_run_vector(p, end, first, negatives);
#else
  return integer_run_plain(p, end, first, negatives);
#endif
}

// --- literals ---

// Up to 32 known bytes, such as a member name with its closing quote and colon.
struct Literal {
  char bytes[32] = {};
  std::size_t length = 0;
};

// A literal of `text` followed by `suffix`; requires their length to be at most 32.
constexpr Literal make_literal(std::string_view text, std::string_view suffix = "") {
  Literal literal;
  for (char c : text) literal.bytes[literal.length++] = c;
  for (char c : suffix) literal.bytes[literal.length++] = c;
  return literal;
}

inline bool starts_with_plain(const char* p, const Literal& literal) {
  return std::memcmp(p, literal.bytes, literal.length) == 0;
}

#if TRACEMILL_JSON_VECTOR
inline bool starts_with_vector(const char* p, const Literal& literal) {
  auto equal = [&](int k) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(literal.bytes + 16 * k));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
  };
  const std::uint32_t wanted =
      literal.length >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << literal.length) - 1;
  std::uint32_t same = equal(0);
  if (literal.length > 16) same |= equal(1) << 16;
  return (same & wanted) == wanted;
}
#endif

// Whether the bytes at `p` (with at least literal.length bytes of input there) begin with the
// literal.
inline bool starts_with(const char* p, const Literal& literal) {
#if TRACEMILL_JSON_VECTOR
  return starts_with_vector(p, literal);
#else
  return starts_with_plain(p, literal);
#endif
}

// --- digits ---

// The number of leading bytes of the little-endian word w that are ASCII digits.
inline int leading_digits(std::uint64_t w) {
  // A byte is a digit when its high nibble is 3 and adding 6 keeps it so; a carry out of a
  // non-digit byte can only spoil the bytes after it.
  std::uint64_t t = (w & (kOnes * 0xF0)) | (((w + kOnes * 0x06) & (kOnes * 0xF0)) >> 4);
  std::uint64_t bad = t ^ (kOnes * 0x33);
  return bad == 0 ? 8 : std::countr_zero(bad) / 8;
}

// The value of the first n (1 to 8) digit bytes of the little-endian word w.
inline std::uint64_t digits_value(std::uint64_t w, int n) {
  // Shifting the digits up leaves zero digits in front of them.
  std::uint64_t v = (w & 0x0F0F0F0F0F0F0F0FULL) << (8 * (8 - n));
  v = (v * 2561) >> 8 & 0x00FF00FF00FF00FFULL;
  v = (v * 6553601) >> 16 & 0x0000FFFF0000FFFFULL;
  return (v * 42949672960001ULL) >> 32;
}

}  // namespace tracemill::json_scan
