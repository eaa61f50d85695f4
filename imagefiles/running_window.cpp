// The running window's vector paths: the running totals of a row, four columns a step with SSE2 and
// sixteen with AVX-512.

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imagefiles/running_window.h"

namespace imagefiles::detail {

namespace {

#if defined(__x86_64__) && defined(__GNUC__)
#if !defined(__clang__)
// GCC 12 takes the undefined vectors inside its own AVX-512 intrinsics for uninitialised variables.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Sixteen columns a step: four shifts and additions within the vector, then the carry.
template <bool slide>
__attribute__((target("avx512f"))) void advance_avx512(
    const unsigned char* enter, const unsigned char* leave, std::uint32_t* sums,
    std::uint32_t* squares, std::uint32_t* totals, std::uint32_t* total_squares, std::size_t n) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i last = _mm512_set1_epi32(15);
  const auto within = [&](__m512i v) __attribute__((target("avx512f"))) {
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 15));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 14));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 12));
    return _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 8));
  };
  __m512i carry = _mm512_set1_epi32(static_cast<int>(totals[0]));
  __m512i more_carry = _mm512_set1_epi32(static_cast<int>(total_squares[0]));
  std::size_t j = 0;
  for (; j + 16 <= n; j += 16) {
    __m512i v = _mm512_loadu_si512(sums + j);
    __m512i w = _mm512_loadu_si512(squares + j);
    if constexpr (slide) {
      const __m512i in =
          _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(enter + j)));
      const __m512i out =
          _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(leave + j)));
      const __m512i change = _mm512_sub_epi32(in, out);
      v = _mm512_add_epi32(v, change);
      w = _mm512_add_epi32(w, _mm512_mullo_epi32(change, _mm512_add_epi32(in, out)));
      _mm512_storeu_si512(sums + j, v);
      _mm512_storeu_si512(squares + j, w);
    }
    v = within(v);
    w = within(w);
    _mm512_storeu_si512(totals + j + 1, _mm512_add_epi32(v, carry));
    _mm512_storeu_si512(total_squares + j + 1, _mm512_add_epi32(w, more_carry));
    carry = _mm512_add_epi32(carry, _mm512_permutexvar_epi32(last, v));
    more_carry = _mm512_add_epi32(more_carry, _mm512_permutexvar_epi32(last, w));
  }
  advance_plainly(slide ? enter + j : nullptr, slide ? leave + j : nullptr, sums + j, squares + j,
                  totals + j, total_squares + j, n - j);
}

// The column sums alone moved down, sixteen columns a step.
__attribute__((target("avx512f"))) void move_down_avx512(const unsigned char* enter,
                                                         const unsigned char* leave,
                                                         std::uint32_t* sums,
                                                         std::uint32_t* squares, std::size_t n) {
  std::size_t j = 0;
  for (; j + 16 <= n; j += 16) {
    const __m512i in =
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(enter + j)));
    const __m512i out =
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(leave + j)));
    const __m512i change = _mm512_sub_epi32(in, out);
    _mm512_storeu_si512(sums + j, _mm512_add_epi32(_mm512_loadu_si512(sums + j), change));
    _mm512_storeu_si512(squares + j,
                        _mm512_add_epi32(_mm512_loadu_si512(squares + j),
                                         _mm512_mullo_epi32(change, _mm512_add_epi32(in, out))));
  }
  move_down_plainly(enter + j, leave + j, sums + j, squares + j, n - j);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

#if defined(__SSE2__)
namespace {

// What four column sums and their sums of squares gain as enter[0..3] come into the window and
// leave[0..3] go out of it.
struct Deltas {
  __m128i sums, squares;
};
Deltas deltas_of_four(const unsigned char* enter, const unsigned char* leave) {
  const __m128i zero = _mm_setzero_si128();
  std::uint32_t in4;
  std::uint32_t out4;
  std::memcpy(&in4, enter, 4);
  std::memcpy(&out4, leave, 4);
  const __m128i in16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(in4)), zero);
  const __m128i out16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(out4)), zero);
  // Squares of bytes fit 16 bits.
  const __m128i in2 = _mm_unpacklo_epi16(_mm_mullo_epi16(in16, in16), zero);
  const __m128i out2 = _mm_unpacklo_epi16(_mm_mullo_epi16(out16, out16), zero);
  return {_mm_sub_epi32(_mm_unpacklo_epi16(in16, zero), _mm_unpacklo_epi16(out16, zero)),
          _mm_sub_epi32(in2, out2)};
}

}  // namespace

template <>
void advance(const unsigned char* enter, const unsigned char* leave, std::uint32_t* sums,
             std::uint32_t* squares, std::uint32_t* totals, std::uint32_t* total_squares,
             std::size_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 = __builtin_cpu_supports("avx512f");
  if (avx512) {
    return enter != nullptr
               ? advance_avx512<true>(enter, leave, sums, squares, totals, total_squares, n)
               : advance_avx512<false>(enter, leave, sums, squares, totals, total_squares, n);
  }
#endif
  const auto within = [](__m128i v) {
    v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
    return _mm_add_epi32(v, _mm_slli_si128(v, 8));
  };
  __m128i carry = _mm_set1_epi32(static_cast<int>(totals[0]));
  __m128i more_carry = _mm_set1_epi32(static_cast<int>(total_squares[0]));
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + j));
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(squares + j));
    if (enter != nullptr) {
      const Deltas d = deltas_of_four(enter + j, leave + j);
      v = _mm_add_epi32(v, d.sums);
      w = _mm_add_epi32(w, d.squares);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + j), v);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(squares + j), w);
    }
    v = within(v);
    w = within(w);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(totals + j + 1), _mm_add_epi32(v, carry));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(total_squares + j + 1),
                     _mm_add_epi32(w, more_carry));
    carry = _mm_add_epi32(carry, _mm_shuffle_epi32(v, 0xFF));
    more_carry = _mm_add_epi32(more_carry, _mm_shuffle_epi32(w, 0xFF));
  }
  for (; j < n; ++j) {
    if (enter != nullptr) {
      const std::uint32_t in = enter[j];
      const std::uint32_t out = leave[j];
      sums[j] += in - out;
      squares[j] += in * in - out * out;
    }
    totals[j + 1] = totals[j] + sums[j];
    total_squares[j + 1] = total_squares[j] + squares[j];
  }
}
#endif

}  // namespace imagefiles::detail

#if defined(__SSE2__)
namespace imagefiles::detail {

template <>
void move_down(const unsigned char* enter, const unsigned char* leave, std::uint32_t* sums,
               std::uint32_t* squares, std::size_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 = __builtin_cpu_supports("avx512f");
  if (avx512) return move_down_avx512(enter, leave, sums, squares, n);
#endif
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const Deltas d = deltas_of_four(enter + j, leave + j);
    __m128i* const s = reinterpret_cast<__m128i*>(sums + j);
    __m128i* const q = reinterpret_cast<__m128i*>(squares + j);
    _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), d.sums));
    _mm_storeu_si128(q, _mm_add_epi32(_mm_loadu_si128(q), d.squares));
  }
  move_down_plainly(enter + j, leave + j, sums + j, squares + j, n - j);
}

}  // namespace imagefiles::detail
#endif
