#include "stats/file/json_scan.h"

#if TRACEMILL_JSON_WIDE
#include <immintrin.h>

namespace tracemill::json_scan {
namespace {

[[gnu::target("avx2")]] inline std::uint64_t bits(__m256i x) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(x)));
}

[[gnu::target("avx2")]] inline ListBytes list_bytes_avx2(const char* p) {
  const __m256i zero = _mm256_set1_epi8('0');
  const __m256i nine = _mm256_set1_epi8(9);
  const __m256i comma = _mm256_set1_epi8(',');
  const __m256i minus = _mm256_set1_epi8('-');
  ListBytes m{0, 0, 0, 0};
  for (int k = 0; k < 2; ++k) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
    __m256i offset = _mm256_sub_epi8(v, zero);  // digits become 0 to 9, everything else larger
    const int shift = 32 * k;
    m.digit |= bits(_mm256_cmpeq_epi8(_mm256_min_epu8(offset, nine), offset)) << shift;
    m.comma |= bits(_mm256_cmpeq_epi8(v, comma)) << shift;
    m.minus |= bits(_mm256_cmpeq_epi8(v, minus)) << shift;
    m.zero |= bits(_mm256_cmpeq_epi8(v, zero)) << shift;
  }
  return m;
}

}  // namespace

[[gnu::target("avx2")]] std::size_t integer_run_avx2(const char* p, const char* end, bool first,
                                                     bool negatives) {
  const char* const start = p;
  while (p < end) {
    std::size_t n = elements_in_block(list_bytes_avx2(p), end - p, first, negatives);
    if (n == 0) break;
    p += n;
    first = false;
  }
  return static_cast<std::size_t>(p - start);
}

namespace {

[[gnu::target("avx512bw")]] inline ListBytes list_bytes_avx512(const char* p) {
  const __m512i v = _mm512_loadu_si512(p);
  const __m512i offset = _mm512_sub_epi8(v, _mm512_set1_epi8('0'));
  return {_mm512_cmple_epu8_mask(offset, _mm512_set1_epi8(9)),
          _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(',')),
          _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('-')),
          _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('0'))};
}

}  // namespace

[[gnu::target("avx512bw")]] std::size_t integer_run_avx512(const char* p, const char* end,
                                                           bool first, bool negatives) {
  const char* const start = p;
  while (p < end) {
    std::size_t n = elements_in_block(list_bytes_avx512(p), end - p, first, negatives);
    if (n == 0) break;
    p += n;
    first = false;
  }
  return static_cast<std::size_t>(p - start);
}

bool have_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool have_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw");
}

const IntegerRun kWideIntegerRun = have_avx512() ? integer_run_avx512
                                   : have_avx2() ? integer_run_avx2
                                                 : nullptr;

}  // namespace tracemill::json_scan

#endif
