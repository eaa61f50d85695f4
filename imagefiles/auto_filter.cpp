// The filter against the noise of the automatic method, each loop vectorised: Wiener's filter
// from the square's rows, from its columns' sums and from running totals (see auto_loops.h).

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "imagefiles/auto_loops.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {

namespace {

// Wiener's filter over Side x Side (wiener() below), its size known to the compiler, from the
// sums of the square's columns (`sums`, `squares`: n + Side - 1 of them, from the first filtered
// less Side / 2), Side added for each sample in a vectorised loop; a sample's square sums in 32
// bits (Side at most 7) and its variance in floats, exact enough for 49 samples.
template <std::size_t Side, typename Sum>
[[gnu::always_inline]] inline void wiener_of_columns(const Sum* sums, const Sum* squares,
                                                     const unsigned char* middle,
                                                     const float* noise, std::size_t n, int ceiling,
                                                     float above_ceiling, unsigned char* out) {
  const float reach = above_ceiling * above_ceiling;
  for (std::size_t i = 0; i < n; ++i) {
    Sum sum = 0;
    Sum square = 0;
    for (std::size_t k = 0; k < Side; ++k) {
      sum += sums[i + k];
      square += squares[i + k];
    }
    const float mean = static_cast<float>(sum) * (1.0f / (Side * Side));
    const float variance = static_cast<float>(square) * (1.0f / (Side * Side)) - mean * mean;
    const float sample = middle[i];
    const float kept = variance > noise[i] ? 1 - noise[i] / std::max(variance, 1e-6f) : 0.0f;
    const float value = std::clamp(mean + kept * (sample - mean) + 0.5f, 0.0f, 255.0f);
    const float over = static_cast<float>(std::max(int{middle[i]} - ceiling, 0));
    out[i] = over * over > reach * noise[i] ? middle[i] : static_cast<unsigned char>(value);
  }
}

// The same from the square's rows: each column's Side samples summed once, then as above.
template <std::size_t Side>
[[gnu::always_inline]] inline void wiener_of(const unsigned char* const* rows, const float* noise,
                                             std::size_t n, int ceiling, float above_ceiling,
                                             unsigned char* out) {
  int column_sums[filter_piece + Side - 1];
  int column_squares[filter_piece + Side - 1];
  for (std::size_t i = 0; i < n + Side - 1; ++i) {
    int sum = 0;
    int squares = 0;
    for (std::size_t k = 0; k < Side; ++k) {
      const int v = rows[k][i];
      sum += v;
      squares += v * v;
    }
    column_sums[i] = sum;
    column_squares[i] = squares;
  }
  wiener_of_columns<Side>(column_sums, column_squares, rows[Side / 2] + Side / 2, noise, n, ceiling,
                          above_ceiling, out);
}

}  // namespace

// A sample above `ceiling` by more than `above_ceiling` deviations of the noise is compared
// squared: no root a sample.
IMAGEFILES_VECTOR_CLONES void wiener(const unsigned char* const* rows, int radius,
                                     const float* noise, std::size_t n, int ceiling,
                                     float above_ceiling, unsigned char* out) {
  switch (radius) {
    case 1:
      return wiener_of<3>(rows, noise, n, ceiling, above_ceiling, out);
    case 2:
      return wiener_of<5>(rows, noise, n, ceiling, above_ceiling, out);
    default:
      return wiener_of<7>(rows, noise, n, ceiling, above_ceiling, out);
  }
}

namespace {

IMAGEFILES_VECTOR_CLONES void wiener_columns_plainly(const std::uint32_t* sums,
                                                     const std::uint32_t* squares, int radius,
                                                     const unsigned char* middle,
                                                     const float* noise, std::size_t n, int ceiling,
                                                     float above_ceiling, unsigned char* out) {
  switch (radius) {
    case 1:
      return wiener_of_columns<3>(sums, squares, middle, noise, n, ceiling, above_ceiling, out);
    case 2:
      return wiener_of_columns<5>(sums, squares, middle, noise, n, ceiling, above_ceiling, out);
    default:
      return wiener_of_columns<7>(sums, squares, middle, noise, n, ceiling, above_ceiling, out);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The same, sixteen samples a step, with AVX-512: wiener_of_columns's operations in the same order
// (the same floats), and sixteen samples that all lie far above the ceiling (the paper around the
// strokes, a third of the groups of a page of print) kept as they are without their square's sums
// nor its division. Returns how many samples it filtered (a multiple of 16).
template <std::size_t Side>
__attribute__((target("avx512f,avx512bw,avx512vl"))) std::size_t wiener_columns_avx512(
    const std::uint32_t* sums, const std::uint32_t* squares, const unsigned char* middle,
    const float* noise, std::size_t n, int ceiling, float above_ceiling, unsigned char* out) {
  const __m512 reach = _mm512_set1_ps(above_ceiling * above_ceiling);
  const __m512i top = _mm512_set1_epi32(ceiling);
  const __m512i zero = _mm512_setzero_si512();
  const __m512 inverse = _mm512_set1_ps(1.0f / (Side * Side));
  const __m512 least = _mm512_set1_ps(1e-6f);
  const __m512 one = _mm512_set1_ps(1.0f);
  const __m512 half = _mm512_set1_ps(0.5f);
  const __m512 white = _mm512_set1_ps(255.0f);
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(middle + i));
    const __m512i samples = _mm512_cvtepu8_epi32(bytes);
    const __m512 variances = _mm512_loadu_ps(noise + i);
    const __m512 over = _mm512_cvtepi32_ps(_mm512_max_epi32(_mm512_sub_epi32(samples, top), zero));
    const __mmask16 far =
        _mm512_cmp_ps_mask(_mm512_mul_ps(over, over), _mm512_mul_ps(reach, variances), _CMP_GT_OQ);
    if (far == __mmask16(0xFFFF)) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
      continue;
    }
    __m512i sum = _mm512_loadu_si512(sums + i);
    __m512i square = _mm512_loadu_si512(squares + i);
    for (std::size_t k = 1; k < Side; ++k) {
      sum = _mm512_add_epi32(sum, _mm512_loadu_si512(sums + i + k));
      square = _mm512_add_epi32(square, _mm512_loadu_si512(squares + i + k));
    }
    const __m512 mean = _mm512_mul_ps(_mm512_cvtepu32_ps(sum), inverse);
    const __m512 variance = _mm512_sub_ps(_mm512_mul_ps(_mm512_cvtepu32_ps(square), inverse),
                                          _mm512_mul_ps(mean, mean));
    const __mmask16 noisy = _mm512_cmp_ps_mask(variance, variances, _CMP_GT_OQ);
    const __m512 kept =
        _mm512_maskz_sub_ps(noisy, one, _mm512_div_ps(variances, _mm512_max_ps(variance, least)));
    const __m512 sample = _mm512_cvtepi32_ps(samples);
    const __m512 value =
        _mm512_add_ps(_mm512_add_ps(mean, _mm512_mul_ps(kept, _mm512_sub_ps(sample, mean))), half);
    const __m512 clamped = _mm512_min_ps(_mm512_max_ps(value, _mm512_setzero_ps()), white);
    const __m128i filtered = _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(clamped));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_mask_blend_epi8(far, filtered, bytes));
  }
  return i;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void wiener_columns(const std::uint32_t* sums, const std::uint32_t* squares, int radius,
                    const unsigned char* middle, const float* noise, std::size_t n, int ceiling,
                    float above_ceiling, unsigned char* out) {
  std::size_t done = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 = __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vl");
  if (avx512) {
    const auto filter = radius == 1   ? wiener_columns_avx512<3>
                        : radius == 2 ? wiener_columns_avx512<5>
                                      : wiener_columns_avx512<7>;
    done = filter(sums, squares, middle, noise, n, ceiling, above_ceiling, out);
  }
#endif
  if (done < n) {
    wiener_columns_plainly(sums + done, squares + done, radius, middle + done, noise + done,
                           n - done, ceiling, above_ceiling, out + done);
  }
}

// The square's sums are exact in 32 bits (at most 181 squared of 255 squared: under 2^31, so
// signed, which converts to floating point in vectors); its variance times its count squared,
// count x squares - sum^2, is exact in doubles (under 2^53), then a float as wiener's.
IMAGEFILES_VECTOR_CLONES void wiener_wide(const unsigned char* middle, const std::uint32_t* sums,
                                          const std::uint32_t* squares, int window,
                                          const float* noise, std::size_t n, int ceiling,
                                          float above_ceiling, unsigned char* out) {
  const std::size_t w = static_cast<std::size_t>(window);
  const double count = static_cast<double>(w * w);
  const float per_sample = 1.0f / static_cast<float>(count);
  const float per_square = per_sample * per_sample;
  const float reach = above_ceiling * above_ceiling;
  for (std::size_t i = 0; i < n; ++i) {
    const auto sum = static_cast<std::int32_t>(sums[i + w] - sums[i]);
    const auto square = static_cast<std::int32_t>(squares[i + w] - squares[i]);
    const float mean = static_cast<float>(sum) * per_sample;
    const double spread = count * square - static_cast<double>(sum) * sum;
    const float variance = static_cast<float>(spread) * per_square;
    const float sample = middle[i];
    const float kept = variance > noise[i] ? 1 - noise[i] / std::max(variance, 1e-6f) : 0.0f;
    const float value = std::clamp(mean + kept * (sample - mean) + 0.5f, 0.0f, 255.0f);
    const float over = static_cast<float>(std::max(int{middle[i]} - ceiling, 0));
    out[i] = over * over > reach * noise[i] ? middle[i] : static_cast<unsigned char>(value);
  }
}

}  // namespace imagefiles::detail
