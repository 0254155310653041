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

// Sixteen at a time in single precision where the processor has AVX2 and FMA, with the same
// results as the double arithmetic above: for a scale that is a float, value * scale is exactly
// p + e, p the float product and e its rounding error (one fused multiply-subtract). Rounding
// p + e half away from zero: n = trunc(p) and f = p - n are exact, and since |e| is at most half
// of p's last place, on whose grid f lies, f + e >= 0.5 exactly when f > 0.5, or f == 0.5 and
// e >= 0. A value that is NaN, negative or infinite gives 0, as above.
__attribute__((target("avx2,fma"))) inline __m256i eightSamplesFma(const float* values,
                                                                   __m256 scale) {
  const __m256 v = _mm256_loadu_ps(values);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 valid = _mm256_and_ps(_mm256_cmp_ps(v, zero, _CMP_GE_OQ),
                                     _mm256_cmp_ps(v, _mm256_set1_ps(HUGE_VALF), _CMP_NEQ_OQ));
  const __m256 p = _mm256_mul_ps(v, scale);
  const __m256 e = _mm256_fmsub_ps(v, scale, p);
  const __m256 bounded = _mm256_min_ps(p, _mm256_set1_ps(65535.0f));
  const __m256i whole = _mm256_cvttps_epi32(bounded);
  const __m256 f = _mm256_sub_ps(bounded, _mm256_cvtepi32_ps(whole));
  const __m256 up = _mm256_or_ps(
      _mm256_cmp_ps(f, half, _CMP_GT_OQ),
      _mm256_and_ps(_mm256_cmp_ps(f, half, _CMP_EQ_OQ), _mm256_cmp_ps(e, zero, _CMP_GE_OQ)));
  __m256i rounded = _mm256_sub_epi32(whole, _mm256_castps_si256(up));  // + 1 where up
  rounded = _mm256_sub_epi32(rounded, _mm256_cmpeq_epi32(rounded, _mm256_setzero_si256()));
  return _mm256_and_si256(rounded, _mm256_castps_si256(valid));
}

__attribute__((target("avx2,fma"))) void toSamplesFma(const float* values, size_t count,
                                                      float scale, uint8_t* out) {
  const __m256 scale8 = _mm256_set1_ps(scale);
  for (size_t i = 0; i < count; i += 16) {
    const __m256i low = eightSamplesFma(values + i, scale8);
    const __m256i high = eightSamplesFma(values + i + 8, scale8);
    // packus works within 128-bit lanes: put the four quarters back in order.
    const __m256i packed =
        _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), _MM_SHUFFLE(3, 1, 2, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), packed);
  }
  _mm256_zeroupper();
}

// Whether value * scale is exact in double for every float value, as the single precision path
// needs: scale is a float, far enough from the ends of the range that no product overflows in
// double or loses bits to underflow where a sample depends on them.
bool scaleFitsFloat(double scale) {
  return static_cast<double>(static_cast<float>(scale)) == scale && scale >= 0x1p-40 &&
         scale <= 0x1p40;
}
#endif

}  // namespace

void toSamplesLE(const float* values, size_t count, double scale, uint8_t* out) {
  size_t i = 0;
#if defined(LVTGST_X86_VECTORS)
  // Whole groups; x86 is little-endian, so the 16-bit lanes are stored as they are.
  static const bool avx = __builtin_cpu_supports("avx");
  static const bool fma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (fma && scaleFitsFloat(scale)) {
    i = count - count % 16;
    toSamplesFma(values, i, static_cast<float>(scale), out);
  } else {
    i = count - count % 8;
    if (avx) {
      toSamplesAvx(values, i, scale, out);
    } else {
      toSamplesSse2(values, i, scale, out);
    }
  }
#endif
  for (; i < count; ++i) storeLE(toSample(values[i], scale), out + 2 * i);
}

}  // namespace lvtgst
