// Every form of each scanning kernel gives the plain form's result, and the plain forms keep
// their promises, on random text made of the bytes that matter to them; bytes after the end
// never change a result.
#include "stats/file/json_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/generator.h"

namespace tracemill::json_scan {
namespace {

// `text` followed by 64 bytes of `after`, so that the kernels' wide reads stay in bounds.
std::string padded(const std::string& text, char after) { return text + std::string(64, after); }

TEST(JsonScan, StringRunsStopAtTheFirstSpecialByte) {
  bench::Rng rng(1);
  const std::string alphabet = std::string("ab\"\\\x01\x1f\x20\x7f\x80\xc3\xff", 11);
  for (int round = 0; round < 4000; ++round) {
    std::string text(rng.below(71), ' ');
    for (char& c : text) c = alphabet[rng.below(alphabet.size())];
    for (char after : {'"', 'a', '\x80'}) {
      const std::string bytes = padded(text, after);
      const char* end = bytes.data() + text.size();
      std::size_t stop = 0;
      bool ascii = true;
      while (stop < text.size() && text[stop] != '"' && text[stop] != '\\' &&
             static_cast<unsigned char>(text[stop]) >= 0x20) {
        ascii = ascii && static_cast<unsigned char>(text[stop]) < 0x80;
        ++stop;
      }
      StringRun plain = string_run_plain(bytes.data(), end);
      EXPECT_EQ(plain.stop - bytes.data(), static_cast<std::ptrdiff_t>(stop));
      EXPECT_EQ(plain.ascii, ascii);
#if TRACEMILL_JSON_VECTOR
      StringRun vector = string_run_vector(bytes.data(), end);
      EXPECT_EQ(vector.stop, plain.stop);
      EXPECT_EQ(vector.ascii, plain.ascii);
#endif
    }
  }
}

// Whether [p, p + n) is a run of elements as the integer kernels promise: each element
// (after a comma unless `first`) an optional "-", 1 to 18 digits without a leading zero and
// not "-0", and a comma right after the run.
bool plainly_valid_run(const char* p, std::size_t n, bool first, bool negatives) {
  const char* end = p + n;
  while (p < end) {
    if (!first && *p++ != ',') return false;
    first = false;
    bool negative = negatives && p < end && *p == '-';
    if (negative) ++p;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    const std::size_t count = static_cast<std::size_t>(p - digits);
    if (count == 0 || count > 18 || (*digits == '0' && (count > 1 || negative))) return false;
  }
  return *end == ',';
}

using IntegerRunForm = std::size_t (*)(const char*, const char*, bool, bool);

TEST(JsonScan, IntegerRunsTakeOnlyPlainlyValidElements) {
  std::vector<std::pair<const char*, IntegerRunForm>> forms;
#if TRACEMILL_JSON_VECTOR
  forms.emplace_back("vector", integer_run_vector);
#endif
#if TRACEMILL_JSON_WIDE
  if (have_avx2()) forms.emplace_back("avx2", integer_run_avx2);
  if (have_avx512()) forms.emplace_back("avx512", integer_run_avx512);
#endif
  bench::Rng rng(2);
  std::size_t taken_in_total = 0;
  for (int round = 0; round < 20000; ++round) {
    // Mostly well-formed lists, with now and then a byte that breaks them.
    std::string text;
    const bool first = rng.chance(300);
    const std::uint64_t elements = rng.below(40);
    for (std::uint64_t e = 0; e < elements; ++e) {
      if (e > 0 || !first) text += rng.chance(990) ? "," : " ";
      if (rng.chance(200)) text += '-';
      const std::uint64_t digits = rng.chance(950) ? 1 + rng.below(17) : 1 + rng.below(22);
      for (std::uint64_t d = 0; d < digits; ++d) {
        text += static_cast<char>('0' + rng.below(10));
      }
      if (rng.chance(10)) text += "-.e]\n0"[rng.below(6)];
    }
    text += rng.chance(500) ? "," : "]";
    const std::size_t cut = rng.below(text.size() + 1);  // where the buffer ends
    for (bool negatives : {false, true}) {
      const std::string bytes = padded(text, ',');
      const char* end = bytes.data() + cut;
      const std::size_t plain = integer_run_plain(bytes.data(), end, first, negatives);
      ASSERT_LE(plain, cut);
      ASSERT_TRUE(plain == 0 || plainly_valid_run(bytes.data(), plain, first, negatives))
          << text.substr(0, plain);
      // The run's values, read in bulk with digits after it, against reading them one by one.
      const std::string run = padded(text.substr(0, plain), "7,"[round % 2]);
      std::vector<std::int64_t> bulk;
      for_each_integer(std::string_view(run.data(), plain),
                       [&](std::int64_t v) { bulk.push_back(v); });
      std::vector<std::int64_t> one_by_one;
      for (std::size_t i = first ? 0 : 1; i < plain;) {
        std::size_t next = run.find(',', i);
        next = next == std::string::npos || next > plain ? plain : next;
        one_by_one.push_back(std::stoll(run.substr(i, next - i)));
        i = next + 1;
      }
      ASSERT_EQ(bulk, one_by_one) << run;
      taken_in_total += plain;
      for (const auto& [name, form] : forms) {
        ASSERT_EQ(form(bytes.data(), end, first, negatives), plain) << name << ": " << text;
      }
    }
  }
  EXPECT_GT(taken_in_total, 500'000u) << "the kernels take too little to be worth testing";
}

TEST(JsonScan, LiteralsMatchTheirBytesExactly) {
  const Literal literals[] = {make_literal("count", "\":"), make_literal("Outbound", "\""),
                              make_literal("cc_with_error_logs_and_more_xx", "\":")};
  for (const Literal& literal : literals) {
    std::string text(literal.bytes, literal.length);
    for (std::size_t at = 0; at <= literal.length; ++at) {
      std::string other = padded(text, 'x');
      if (at < literal.length) other[at] ^= 1;
      const bool same = at == literal.length;
      EXPECT_EQ(starts_with_plain(other.data(), literal), same) << at;
#if TRACEMILL_JSON_VECTOR
      EXPECT_EQ(starts_with_vector(other.data(), literal), same) << at;
#endif
    }
  }
}

}  // namespace
}  // namespace tracemill::json_scan
