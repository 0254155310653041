#include "sample_scaling.h"

#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#define LVTGST_X86_VECTORS 1
#endif

namespace lvtgst {

uint16_t toSample(float value, double scale) {
  const double scaled = static_cast<double>(value) * scale;
  // NaN fails every comparison.
  if (!(scaled >= 0.0) || scaled == std::numeric_limits<double>::infinity()) return 0;
  if (scaled >= 65535.0) return 65535;
  // Half away from zero, as std::round, without its library call: below 2^16 the fraction of
  // a double is exact.
  const auto whole = static_cast<uint32_t>(scaled);
  const uint32_t rounded = whole + (scaled - static_cast<double>(whole) >= 0.5 ? 1u : 0u);
  return rounded == 0 ? uint16_t{1} : static_cast<uint16_t>(rounded);
}

namespace {

void storeLE(uint16_t sample, uint8_t* out) {
  out[0] = static_cast<uint8_t>(sample & 0xffu);
  out[1] = static_cast<uint8_t>(sample >> 8);
}

#if defined(__SSE2__)
// toSample for two doubles, as 32-bit integers in the low half of the result. The conversion is
// most of the element's own work per frame, and the compiler does not vectorise the mix of float
// input, double arithmetic and 16-bit output by itself.
__m128i twoSamples(__m128d values, __m128d scale) {
  const __m128d scaled = _mm_mul_pd(values, scale);
  const __m128d valid = _mm_and_pd(_mm_cmpge_pd(scaled, _mm_setzero_pd()),
                                   _mm_cmplt_pd(scaled, _mm_set1_pd(HUGE_VAL)));
  const __m128d bounded = _mm_min_pd(_mm_and_pd(scaled, valid), _mm_set1_pd(65535.0));
  const __m128i whole = _mm_cvttpd_epi32(bounded);
  const __m128d up = _mm_cmpge_pd(_mm_sub_pd(bounded, _mm_cvtepi32_pd(whole)), _mm_set1_pd(0.5));
  // The 64-bit masks narrowed to the two 32-bit lanes of the integers.
  const __m128i up32 = _mm_shuffle_epi32(_mm_castpd_si128(up), _MM_SHUFFLE(3, 3, 2, 0));
  const __m128i valid32 = _mm_shuffle_epi32(_mm_castpd_si128(valid), _MM_SHUFFLE(3, 3, 2, 0));
  __m128i rounded = _mm_sub_epi32(whole, up32);                                     // + 1 where up
  rounded = _mm_sub_epi32(rounded, _mm_cmpeq_epi32(rounded, _mm_setzero_si128()));  // 0 -> 1
  return _mm_and_si128(rounded, valid32);
}

// Four samples as 32-bit integers.
__m128i fourSamples(const float* values, __m128d scale) {
  const __m128 four = _mm_loadu_ps(values);
  const __m128i low = twoSamples(_mm_cvtps_pd(four), scale);
  const __m128i high = twoSamples(_mm_cvtps_pd(_mm_movehl_ps(four, four)), scale);
  return _mm_unpacklo_epi64(low, high);
}

// 0..65535 in 32-bit lanes to 16-bit lanes (SSE2 only packs with signed saturation).
__m128i narrow(__m128i a, __m128i b) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                         _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
}

void toSamplesSse2(const float* values, size_t count, double scale, uint8_t* out) {
  const __m128d scale2 = _mm_set1_pd(scale);
  for (size_t i = 0; i < count; i += 8) {
    const __m128i eight =
        narrow(fourSamples(values + i, scale2), fourSamples(values + i + 4, scale2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), eight);
  }
}

// The same four at a time where the processor has AVX (chosen at run time: the element is
// built for plain x86-64).
__attribute__((target("avx"))) __m128i narrowMask(__m256d mask) {
  const __m128 low = _mm_castpd_ps(_mm256_castpd256_pd128(mask));
  const __m128 high = _mm_castpd_ps(_mm256_extractf128_pd(mask, 1));
  return _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
}

__attribute__((target("avx"))) __m128i fourSamplesAvx(const float* values, __m256d scale) {
  const __m256d scaled = _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(values)), scale);
  const __m256d valid = _mm256_and_pd(_mm256_cmp_pd(scaled, _mm256_setzero_pd(), _CMP_GE_OQ),
                                      _mm256_cmp_pd(scaled, _mm256_set1_pd(HUGE_VAL), _CMP_LT_OQ));
  const __m256d bounded = _mm256_min_pd(_mm256_and_pd(scaled, valid), _mm256_set1_pd(65535.0));
  const __m128i whole = _mm256_cvttpd_epi32(bounded);
  const __m256d up = _mm256_cmp_pd(_mm256_sub_pd(bounded, _mm256_cvtepi32_pd(whole)),
                                   _mm256_set1_pd(0.5), _CMP_GE_OQ);
  __m128i rounded = _mm_sub_epi32(whole, narrowMask(up));                           // + 1 where up
  rounded = _mm_sub_epi32(rounded, _mm_cmpeq_epi32(rounded, _mm_setzero_si128()));  // 0 -> 1
  return _mm_and_si128(rounded, narrowMask(valid));
}

__attribute__((target("avx"))) void toSamplesAvx(const float* values, size_t count, double scale,
                                                 uint8_t* out) {
  const __m256d scale4 = _mm256_set1_pd(scale);
  for (size_t i = 0; i < count; i += 8) {
    const __m128i eight =
        narrow(fourSamplesAvx(values + i, scale4), fourSamplesAvx(values + i + 4, scale4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), eight);
  }
}
#endif

}  // namespace

void toSamplesLE(const float* values, size_t count, double scale, uint8_t* out) {
  size_t i = 0;
#if defined(LVTGST_X86_VECTORS)
  // Whole groups of eight; x86 is little-endian, so the 16-bit lanes are stored as they are.
  static const bool avx = __builtin_cpu_supports("avx");
  i = count - count % 8;
  if (avx) {
    toSamplesAvx(values, i, scale, out);
  } else {
    toSamplesSse2(values, i, scale, out);
  }
#endif
  for (; i < count; ++i) storeLE(toSample(values[i], scale), out + 2 * i);
}

}  // namespace lvtgst
