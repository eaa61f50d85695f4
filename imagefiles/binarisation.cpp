// Binarisation of greymap rasters in memory: a fixed threshold, Otsu's global threshold, and the
// local thresholds of Sauvola, Niblack and Wolf.
//
// The local methods share one running-window core (sums of the samples and of their squares over
// the window, in exact integers) and differ only in their formula. Their results must equal those
// of the usual floating-point formula on the window's mean and deviation; deciding every pixel with
// that formula costs three divisions and a square root a pixel, so each pixel is first decided by a
// cheaper computation with a proven error bound, and only the pixels that fall within that bound of
// their threshold are computed the reference way. This file is compiled without FMA contraction and
// without errno from the square root: neither changes a result, and the first would.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

// The loops that carry most of the time get a copy for each level of the x86-64 vector
// instruction sets, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__)
#define IMAGEFILES_VECTOR_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define IMAGEFILES_VECTOR_CLONES
#endif

namespace {

constexpr int largest_window = 65535;

// ---- Fixed threshold --------------------------------------------------------------------------

// Two loops: with one pointer the compiler vectorises the loop without checking that input and
// output overlap; with two it checks, and would run the in-place call one byte at a time.
IMAGEFILES_VECTOR_CLONES
void threshold_in_place(unsigned char* pixels, std::size_t count, unsigned char level) {
  for (std::size_t p = 0; p < count; ++p) pixels[p] = pixels[p] >= level ? 255 : 0;
}

IMAGEFILES_VECTOR_CLONES
void threshold_copy(unsigned char* __restrict output, const unsigned char* __restrict input,
                    std::size_t count, unsigned char level) {
  for (std::size_t p = 0; p < count; ++p) output[p] = input[p] >= level ? 255 : 0;
}

// A raster larger than the caches is written with non-temporal stores: the output goes to memory
// without first being read into the cache, which saves a third of the memory traffic.
constexpr std::size_t streamed = std::size_t{8} << 20;

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx512f,avx512bw"))) void stream_avx512(unsigned char* output,
                                                               const unsigned char* input,
                                                               std::size_t count,
                                                               unsigned char level) {
  std::size_t p = 0;
  for (; p < count && reinterpret_cast<std::uintptr_t>(output + p) % 64 != 0; ++p) {
    output[p] = input[p] >= level ? 255 : 0;
  }
  const __m512i threshold = _mm512_set1_epi8(static_cast<char>(level));
  for (; p + 64 <= count; p += 64) {
    const __m512i x = _mm512_loadu_si512(input + p);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(output + p),
                        _mm512_movm_epi8(_mm512_cmpge_epu8_mask(x, threshold)));
  }
  _mm_sfence();
  for (; p < count; ++p) output[p] = input[p] >= level ? 255 : 0;
}
#endif

// False where the processor has no such stores (the caller then uses the plain loops).
bool threshold_streamed(unsigned char* output, const unsigned char* input, std::size_t count,
                        unsigned char level) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  if (avx512) {
    stream_avx512(output, input, count, level);
    return true;
  }
#endif
#if defined(__SSE2__)
  std::size_t p = 0;
  for (; p < count && reinterpret_cast<std::uintptr_t>(output + p) % 16 != 0; ++p) {
    output[p] = input[p] >= level ? 255 : 0;
  }
  const __m128i threshold = _mm_set1_epi8(static_cast<char>(level));
  for (; p + 16 <= count; p += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + p));
    // x >= level exactly where max(x, level) is x.
    _mm_stream_si128(reinterpret_cast<__m128i*>(output + p),
                     _mm_cmpeq_epi8(_mm_max_epu8(x, threshold), x));
  }
  _mm_sfence();
  for (; p < count; ++p) output[p] = input[p] >= level ? 255 : 0;
  return true;
#else
  (void)output;
  (void)input;
  (void)count;
  (void)level;
  return false;
#endif
}

// ---- Otsu -------------------------------------------------------------------------------------

// A histogram in four tables, so that runs of equal samples do not wait on one counter; each
// table counts in 32 bits.
struct Tally {
  std::uint32_t h[4][256] = {};

  void add(const unsigned char* samples, std::size_t count) {
    std::size_t p = 0;
    for (; p + 4 <= count; p += 4) {
      ++h[0][samples[p]];
      ++h[1][samples[p + 1]];
      ++h[2][samples[p + 2]];
      ++h[3][samples[p + 3]];
    }
    for (; p < count; ++p) ++h[0][samples[p]];
  }
  void add_to(std::uint64_t total[256]) const {
    for (int v = 0; v < 256; ++v) total[v] += std::uint64_t{h[0][v]} + h[1][v] + h[2][v] + h[3][v];
  }
};

// The histogram of a raster, in blocks whose counts fit 32 bits.
void histogram(const unsigned char* image, std::size_t count, std::uint64_t total[256]) {
  constexpr std::size_t block = std::size_t{1} << 30;
  for (std::size_t start = 0; start < count; start += block) {
    Tally tally;
    tally.add(image + start, std::min(count - start, block));
    tally.add_to(total);
  }
}

// The level that maximises the between-class variance, as the usual implementation computes it,
// operation for operation (its bins whose class weight is within FLT_EPSILON of 0 or 1 are
// skipped, and its running class mean is rescaled even on those): the highest sample of the dark
// class, 0 when no level splits the histogram.
int otsu_level(const std::uint64_t h[256], std::size_t count) {
  const double scale = 1. / static_cast<double>(count);
  double mu = 0;
  for (int i = 0; i < 256; ++i) mu += i * static_cast<double>(h[i]);
  mu *= scale;
  double mu1 = 0;
  double q1 = 0;
  double max_sigma = 0;
  int max_val = 0;
  const double epsilon = std::numeric_limits<float>::epsilon();
  for (int i = 0; i < 256; ++i) {
    const double p_i = static_cast<double>(h[i]) * scale;
    mu1 *= q1;
    q1 += p_i;
    const double q2 = 1. - q1;
    if (std::min(q1, q2) < epsilon || std::max(q1, q2) > 1. - epsilon) continue;
    mu1 = (mu1 + i * p_i) / q1;
    const double mu2 = (mu - q1 * mu1) / q2;
    const double sigma = q1 * q2 * (mu1 - mu2) * (mu1 - mu2);
    if (sigma > max_sigma) {
      max_sigma = sigma;
      max_val = i;
    }
  }
  return max_val;
}

// ---- The running window -----------------------------------------------------------------------

// Index `i` of an axis of `size` samples mirrored at both ends without repeating the edge sample
// (... 2 1 | 0 1 2 ... n-1 | n-2 ...), as often as a window wider than the axis needs.
std::int64_t mirror(std::int64_t i, std::int64_t size) {
  if (size == 1) return 0;
  const std::int64_t period = 2 * (size - 1);
  i %= period;
  if (i < 0) i += period;
  return i < size ? i : period - i;
}

// The window sums of one row: for each column, the sum of the samples and of their squares over
// the window centred on it, as differences of running totals. `Sum` is unsigned, and the totals
// may wrap: each difference is exact as long as the window sums themselves fit.
template <typename Sum>
struct RowSums {
  const Sum* sums;     // window sum of column x: sums[x + window] - sums[x]
  const Sum* squares;  // the same for the squares
  int window;
};

// One step of the running totals over n columns: where `enter` is given, the column sums first
// move one row down (`enter` comes into the window, `leave` goes out); then
// totals[j + 1] = totals[j] + sums[j], and the same for the squares, totals[0] being given. Each
// total depends on the one before; in vectors, the totals within a vector come from shifts and
// additions, and only the carry from one vector to the next waits on the one before.
template <typename Sum>
void advance_plainly(const unsigned char* enter, const unsigned char* leave, Sum* sums,
                     Sum* squares, Sum* totals, Sum* total_squares, std::size_t n) {
  Sum sum = totals[0];
  Sum square = total_squares[0];
  for (std::size_t j = 0; j < n; ++j) {
    if (enter != nullptr) {
      const Sum in = enter[j];
      const Sum out = leave[j];
      sums[j] += in - out;
      squares[j] += (in - out) * (in + out);  // in^2 - out^2, modulo the width of Sum
    }
    totals[j + 1] = sum += sums[j];
    total_squares[j + 1] = square += squares[j];
  }
}

template <typename Sum>
void advance(const unsigned char* enter, const unsigned char* leave, Sum* sums, Sum* squares,
             Sum* totals, Sum* total_squares, std::size_t n) {
  advance_plainly(enter, leave, sums, squares, totals, total_squares, n);
}

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
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

#if defined(__SSE2__)
// Four columns a step (where AVX-512 is, sixteen).
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
  const __m128i zero = _mm_setzero_si128();
  __m128i carry = _mm_set1_epi32(static_cast<int>(totals[0]));
  __m128i more_carry = _mm_set1_epi32(static_cast<int>(total_squares[0]));
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + j));
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(squares + j));
    if (enter != nullptr) {
      std::uint32_t in4;
      std::uint32_t out4;
      std::memcpy(&in4, enter + j, 4);
      std::memcpy(&out4, leave + j, 4);
      const __m128i in16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(in4)), zero);
      const __m128i out16 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(out4)), zero);
      // Squares of bytes fit 16 bits.
      const __m128i in2 = _mm_unpacklo_epi16(_mm_mullo_epi16(in16, in16), zero);
      const __m128i out2 = _mm_unpacklo_epi16(_mm_mullo_epi16(out16, out16), zero);
      v = _mm_add_epi32(
          v, _mm_sub_epi32(_mm_unpacklo_epi16(in16, zero), _mm_unpacklo_epi16(out16, zero)));
      w = _mm_add_epi32(w, _mm_sub_epi32(in2, out2));
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

// Runs over the rows of a rows x columns raster and hands each row's window sums to
// `decide(row, original, sums, output)`, which writes that row of `output` (null when the caller
// only reads). `output` may be `image`: the rows still needed once overwritten are kept in a
// band of window / 2 + 2 rows. Memory: O(window x columns), never the whole picture.
template <typename Sum, typename Decide>
void slide_window(const unsigned char* image, unsigned char* output, int rows, int columns,
                  int window, Decide&& decide) {
  const int half = window / 2;
  const std::size_t width = static_cast<std::size_t>(columns);
  const bool in_place = output == image;
  const int band_rows = in_place ? std::min(rows, half + 2) : 0;
  std::vector<unsigned char> band(static_cast<std::size_t>(band_rows) * width);
  int overwritten = -1;  // rows up to this one hold output, their samples are in the band
  const auto original = [&](std::int64_t row) -> const unsigned char* {
    if (row <= overwritten) return band.data() + static_cast<std::size_t>(row % band_rows) * width;
    return image + static_cast<std::size_t>(row) * width;
  };

  // Column sums over the window's rows, kept with `half` columns of margin on each side for the
  // mirrored borders. The first row's window: how many times each row enters it, then each
  // distinct row once.
  const std::size_t margin = static_cast<std::size_t>(half);
  const std::size_t extended = width + 2 * margin;
  std::vector<Sum> column_sums(extended);
  std::vector<Sum> column_squares(extended);
  {
    std::vector<Sum> times(static_cast<std::size_t>(std::min(rows, half + 1)));
    for (std::int64_t dy = -half; dy <= half; ++dy) ++times[mirror(dy, rows)];
    for (std::size_t row = 0; row < times.size(); ++row) {
      const unsigned char* line = original(static_cast<std::int64_t>(row));
      for (std::size_t x = 0; x < width; ++x) {
        column_sums[margin + x] += times[row] * line[x];
        column_squares[margin + x] += times[row] * Sum{line[x]} * line[x];
      }
    }
  }
  std::vector<std::size_t> mirrored(2 * margin);  // where each margin column comes from
  for (std::size_t j = 0; j < margin; ++j) {
    mirrored[j] = margin + mirror(std::int64_t(j) - half, columns);
    mirrored[margin + j] = margin + mirror(std::int64_t(width + j), columns);
  }
  std::vector<Sum> totals(extended + 1);
  std::vector<Sum> total_squares(extended + 1);
  Sum* const sums = column_sums.data();
  Sum* const squares = column_squares.data();
  const auto fill_margin = [&](std::size_t from, std::size_t to) {
    for (std::size_t j = 0; j < margin; ++j) {
      sums[to + j] = sums[mirrored[from + j]];
      squares[to + j] = squares[mirrored[from + j]];
    }
  };
  // Each row: the columns that the left margin mirrors move down first; then the margin is
  // filled and totalled, then the rest of the row is moved down and totalled in the same pass,
  // then the right margin.
  const std::size_t first = std::min(width, margin + 1);
  std::vector<Sum> scratch(2 * (first + 1));

  for (int row = 0; row < rows; ++row) {
    const unsigned char* enter = nullptr;
    const unsigned char* leave = nullptr;
    if (row > 0) {
      enter = original(mirror(std::int64_t{row} + half, rows));
      leave = original(mirror(std::int64_t{row} - 1 - half, rows));
      advance(enter, leave, sums + margin, squares + margin, scratch.data(),
              scratch.data() + first + 1, first);
      enter += first;
      leave += first;
    }
    fill_margin(0, 0);
    advance<Sum>(nullptr, nullptr, sums, squares, totals.data(), total_squares.data(),
                 margin + first);
    advance(enter, leave, sums + margin + first, squares + margin + first,
            totals.data() + margin + first, total_squares.data() + margin + first, width - first);
    fill_margin(margin, margin + width);
    advance<Sum>(nullptr, nullptr, sums + margin + width, squares + margin + width,
                 totals.data() + margin + width, total_squares.data() + margin + width, margin);

    const unsigned char* line = original(row);
    unsigned char* out = nullptr;
    if (output != nullptr) {
      out = output + static_cast<std::size_t>(row) * width;
      if (in_place) {
        std::memcpy(band.data() + static_cast<std::size_t>(row % band_rows) * width, line, width);
        line = band.data() + static_cast<std::size_t>(row % band_rows) * width;
        overwritten = row;
      }
    }
    decide(row, line, RowSums<Sum>{totals.data(), total_squares.data(), window}, out);
  }
}

// ---- The formulas -----------------------------------------------------------------------------

// A local method: its threshold T from the window's mean m and deviation s, both as the reference
// computes them, and the same threshold as T = a1 m + a0 + (b1 m + b0) s, for the fast decision.
struct Formula {
  enum Kind { sauvola, niblack, wolf } kind;
  double k;
  double range;    // Sauvola's R; Wolf's largest deviation over the image
  double minimum;  // Wolf's smallest sample
  double a1, a0, b1, b0;
  int ceiling = 255;  // a sample above it is white whatever the window (the automatic method)

  double threshold(double m, double s) const {
    switch (kind) {
      case sauvola:
        return m * (1 + k * ((s / range) - 1));
      case niblack:
        return m - k * s;
      case wolf:
        return m - k * (1 - s / range) * (m - minimum);
    }
    return m;
  }
};

Formula make_formula(Formula::Kind kind, double k, double range, double minimum) {
  Formula f{kind, k, range, minimum, 1, 0, 0, 0};
  switch (kind) {
    case Formula::sauvola:
      f.a1 = 1 - k;
      f.b1 = k / range;
      break;
    case Formula::niblack:
      f.b0 = -k;
      break;
    case Formula::wolf:
      f.a1 = 1 - k;
      f.a0 = k * minimum;
      f.b1 = k / range;
      f.b0 = -k * minimum / range;
      break;
  }
  return f;
}

// The reference computation of one pixel's mean and deviation: the window sums (exact integers)
// divided by the window's size, and the deviation from the mean of the squares less the square of
// the mean, never below 0.
struct MeanDeviation {
  double mean;
  double deviation;
};

MeanDeviation mean_deviation(double sum, double squares, double size) {
  const double m = sum / size;
  const double g2 = squares / size;
  const double variance = std::max(g2 - m * m, 0.0);
  return {m, std::sqrt(variance)};
}

// The fast pass's mark of a pixel it cannot decide.
constexpr unsigned char undecided = 1;

struct FastDecision {
  double a1, a0, b1, b0;
  double tolerance;  // a bound on |fast T - reference T|
  double size;       // pixels in the window
  double inverse_size;
  double inverse_square_size;
  bool exact_spread;  // size x squares - sums^2 is computed exactly: 0 means a single value
};

// The window sum of column x from the running totals, as a signed integer (exact: the sums fit),
// which every vector instruction set converts to double.
template <typename Sum>
using Signed = std::make_signed_t<Sum>;

template <typename Sum>
double window_sum(const Sum* totals, std::size_t x, int window) {
  return static_cast<double>(
      static_cast<Signed<Sum>>(static_cast<Sum>(totals[x + window] - totals[x])));
}

// Decides a stretch of a row: 255 or 0 where the pixel is further than the tolerance from the
// fast threshold, `undecided` elsewhere (NaN included); returns how many pixels are undecided. The
// deviation comes from the exact integer size^2 x variance (computed in doubles: exact while it
// stays below 2^53, and within 3e-11 of size^2 x variance beyond), the rest in single precision.
// No branch: the loop is vectorised. Each method's threshold keeps only its own terms.
template <Formula::Kind kind, typename Sum>
IMAGEFILES_VECTOR_CLONES std::size_t decide_fast(const unsigned char* __restrict line,
                                                 const Sum* __restrict sums,
                                                 const Sum* __restrict squares, int window,
                                                 std::size_t width, const FastDecision& f,
                                                 unsigned char* __restrict out) {
  const double size = f.size;
  const double inverse_square_size = f.inverse_square_size;
  const float inverse_size = static_cast<float>(f.inverse_size);
  const float a1 = static_cast<float>(f.a1);
  const float a0 = static_cast<float>(f.a0);
  const float b1 = static_cast<float>(f.b1);
  const float b0 = static_cast<float>(f.b0);
  const float tolerance = static_cast<float>(f.tolerance);
  unsigned left = 0;
  for (std::size_t x = 0; x < width; ++x) {
    const auto s1 = static_cast<Signed<Sum>>(static_cast<Sum>(sums[x + window] - sums[x]));
    const auto s2 = static_cast<Signed<Sum>>(static_cast<Sum>(squares[x + window] - squares[x]));
    const double spread =
        size * static_cast<double>(s2) - static_cast<double>(s1) * static_cast<double>(s1);
    const float m = static_cast<float>(s1) * inverse_size;
    const float s = std::sqrt(static_cast<float>(spread * inverse_square_size));
    float t;
    if constexpr (kind == Formula::sauvola) {
      t = m * (a1 + b1 * s);
    } else if constexpr (kind == Formula::niblack) {
      t = m + b0 * s;
    } else {
      t = a1 * m + a0 + (b1 * m + b0) * s;
    }
    const float d = line[x] - t;
    const unsigned char white = d > tolerance;
    const unsigned char open = !(d > tolerance) & !(d < -tolerance);
    out[x] = static_cast<unsigned char>((0 - white) | open);
    left += open;
  }
  return left;
}

// The pixels that the fast pass left, by the reference computation; a window of one value (mean
// that value, deviation 0 exactly) takes the decision worked out once for each value.
template <typename Sum>
void decide_rest(const unsigned char* line, const RowSums<Sum>& r, std::size_t width,
                 const Formula& formula, const FastDecision& f, const unsigned char flat_white[256],
                 unsigned char* out) {
  for (std::size_t x = 0; x < width; ++x) {
    if (out[x] != undecided) continue;
    const double s1 = window_sum(r.sums, x, r.window);
    const double s2 = window_sum(r.squares, x, r.window);
    if (f.exact_spread && f.size * s2 - s1 * s1 == 0) {
      out[x] = flat_white[line[x]];
    } else {
      const MeanDeviation md = mean_deviation(s1, s2, f.size);
      out[x] = line[x] > formula.threshold(md.mean, md.deviation) ? 255 : 0;
    }
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same decisions, sixteen pixels a step, with AVX-512: the operations of decide_fast in the
// same order (so its error bound holds), without the compiler's long way of turning comparison
// masks into bytes. Leaves the last width % 16 pixels to decide_fast. Returns 0 when every pixel
// is decided, and otherwise a count that is not 0 (not the number left).
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <Formula::Kind kind>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))) std::size_t decide_avx512(
    const unsigned char* line, const std::uint32_t* sums, const std::uint32_t* squares, int window,
    std::size_t width, const FastDecision& f, unsigned char* out) {
  const __m512d size = _mm512_set1_pd(f.size);
  const __m512d inverse_square_size = _mm512_set1_pd(f.inverse_square_size);
  const __m512 inverse_size = _mm512_set1_ps(static_cast<float>(f.inverse_size));
  const __m512 a1 = _mm512_set1_ps(static_cast<float>(f.a1));
  const __m512 a0 = _mm512_set1_ps(static_cast<float>(f.a0));
  const __m512 b1 = _mm512_set1_ps(static_cast<float>(f.b1));
  const __m512 b0 = _mm512_set1_ps(static_cast<float>(f.b0));
  const __m512 high = _mm512_set1_ps(static_cast<float>(f.tolerance));
  const __m128i one = _mm_set1_epi8(1);
  __mmask16 any = 0;
  std::size_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m512i s1 =
        _mm512_sub_epi32(_mm512_loadu_si512(sums + x + window), _mm512_loadu_si512(sums + x));
    const __m512i s2 =
        _mm512_sub_epi32(_mm512_loadu_si512(squares + x + window), _mm512_loadu_si512(squares + x));
    const auto variance = [&](__m256i a, __m256i b) __attribute__((target("avx512f,avx512dq"))) {
      const __m512d s1d = _mm512_cvtepi32_pd(a);
      const __m512d spread =
          _mm512_sub_pd(_mm512_mul_pd(size, _mm512_cvtepi32_pd(b)), _mm512_mul_pd(s1d, s1d));
      return _mm512_cvtpd_ps(_mm512_mul_pd(spread, inverse_square_size));
    };
    const __m256 v0 = variance(_mm512_castsi512_si256(s1), _mm512_castsi512_si256(s2));
    const __m256 v1 = variance(_mm512_extracti64x4_epi64(s1, 1), _mm512_extracti64x4_epi64(s2, 1));
    const __m512 s = _mm512_sqrt_ps(_mm512_insertf32x8(_mm512_castps256_ps512(v0), v1, 1));
    const __m512 m = _mm512_mul_ps(_mm512_cvtepi32_ps(s1), inverse_size);
    __m512 t;
    if constexpr (kind == Formula::sauvola) {
      t = _mm512_mul_ps(m, _mm512_add_ps(a1, _mm512_mul_ps(b1, s)));
    } else if constexpr (kind == Formula::niblack) {
      t = _mm512_add_ps(m, _mm512_mul_ps(b0, s));
    } else {
      t = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(a1, m), a0),
                        _mm512_mul_ps(_mm512_add_ps(_mm512_mul_ps(b1, m), b0), s));
    }
    const __m512 p = _mm512_cvtepi32_ps(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line + x))));
    const __m512 d = _mm512_sub_ps(p, t);
    const __mmask16 white = _mm512_cmp_ps_mask(d, high, _CMP_GT_OQ);
    const __mmask16 open = _mm512_cmp_ps_mask(_mm512_abs_ps(d), high, _CMP_NGT_UQ);  // NaN too
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     _mm_mask_blend_epi8(open, _mm_movm_epi8(white), one));
    any = static_cast<__mmask16>(any | open);
  }
  return (any != 0) +
         decide_fast<kind>(line + x, sums + x, squares + x, window, width - x, f, out + x);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

template <Formula::Kind kind, typename Sum>
std::size_t decide_stretch(const unsigned char* line, const RowSums<Sum>& r, std::size_t width,
                           const FastDecision& f, unsigned char* out) {
#if defined(__x86_64__) && defined(__GNUC__)
  if constexpr (std::is_same_v<Sum, std::uint32_t>) {
    static const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
    if (avx512) return decide_avx512<kind>(line, r.sums, r.squares, r.window, width, f, out);
  }
#endif
  return decide_fast<kind>(line, r.sums, r.squares, r.window, width, f, out);
}

// The automatic method's global part: white wherever the sample is above `ceiling`.
void whiten_above(const unsigned char* line, std::size_t n, int ceiling, unsigned char* out) {
  for (std::size_t x = 0; x < n; ++x) out[x] = line[x] > ceiling ? 255 : out[x];
}

template <typename Sum>
void binarise_locally(unsigned char* output, const unsigned char* image, int rows, int columns,
                      int window, const Formula& formula) {
  const double size = static_cast<double>(window) * window;
  // The fast threshold is within 3e-5 x |b1 m + b0| of the reference one (the single-precision
  // root, and the deviation of a nearly uniform window, where a variance off by 5e-11 moves the
  // root by up to 7e-6), plus about ten single-precision roundings (6e-8 each) of terms no larger
  // than `terms`. The bound is taken wider.
  const double b = std::abs(formula.b1) * 255 + std::abs(formula.b0);
  const double terms = 256 + std::abs(formula.a1) * 255 + std::abs(formula.a0) + 128 * b;
  const FastDecision fast{formula.a1,
                          formula.a0,
                          formula.b1,
                          formula.b0,
                          4e-5 * b + 1e-6 * terms,
                          size,
                          1 / size,
                          1 / (size * size),
                          size * size * 65025 < 9007199254740992.0};
  unsigned char flat_white[256];
  for (int v = 0; v < 256; ++v) {
    flat_white[v] = v > formula.ceiling || v > formula.threshold(v, 0) ? 255 : 0;
  }
  // A k so large that the bound overflows leaves every pixel to the reference computation.
  const bool trusted = fast.tolerance < 1;
  const std::size_t width = static_cast<std::size_t>(columns);
  const auto fast_stretch = formula.kind == Formula::sauvola ? decide_stretch<Formula::sauvola, Sum>
                            : formula.kind == Formula::niblack
                                ? decide_stretch<Formula::niblack, Sum>
                                : decide_stretch<Formula::wolf, Sum>;

  slide_window<Sum>(image, output, rows, columns, window,
                    [&](int, const unsigned char* line, const RowSums<Sum>& r, unsigned char* out) {
                      // In stretches of 64 pixels, so that the few pixels left are found without
                      // a pass over the whole row.
                      constexpr std::size_t stretch = 64;
                      for (std::size_t x = 0; x < width; x += stretch) {
                        const std::size_t n = std::min(stretch, width - x);
                        const RowSums<Sum> here{r.sums + x, r.squares + x, r.window};
                        bool left = true;
                        if (!trusted) {
                          std::memset(out + x, undecided, n);
                        } else {
                          left = fast_stretch(line + x, here, n, fast, out + x) != 0;
                        }
                        if (formula.ceiling < 255)
                          whiten_above(line + x, n, formula.ceiling, out + x);
                        if (left)
                          decide_rest(line + x, here, n, formula, fast, flat_white, out + x);
                      }
                    });
}

// size^2 x variance of a window, from its sums: exact in 64 bits for the 32-bit sums (at most
// 181^2 x 181^2 x 255^2 < 2^63); in doubles, rounded, for the wider ones.
std::int64_t spread_of(std::int64_t size, std::int64_t s1, std::int64_t s2) {
  return size * s2 - s1 * s1;
}
double spread_of(double size, double s1, double s2) {
  return size * s2 - s1 * s1;
}

template <typename Sum>
using Spread = std::conditional_t<std::is_same_v<Sum, std::uint32_t>, std::int64_t, double>;

template <typename Sum>
Spread<Sum> spread_at(const RowSums<Sum>& r, std::size_t x, Spread<Sum> size) {
  return spread_of(size,
                   static_cast<Spread<Sum>>(static_cast<Signed<Sum>>(
                       static_cast<Sum>(r.sums[x + r.window] - r.sums[x]))),
                   static_cast<Spread<Sum>>(static_cast<Signed<Sum>>(
                       static_cast<Sum>(r.squares[x + r.window] - r.squares[x]))));
}

// The largest spread of a row (a vectorised maximum).
template <typename Sum>
IMAGEFILES_VECTOR_CLONES Spread<Sum> widest_in_row(const Sum* sums, const Sum* squares, int window,
                                                   std::size_t width, Spread<Sum> size) {
  Spread<Sum> widest = -1;
  const RowSums<Sum> r{sums, squares, window};
  for (std::size_t x = 0; x < width; ++x) {
    const Spread<Sum> spread = spread_at(r, x, size);
    widest = spread > widest ? spread : widest;
  }
  return widest;
}

// Wolf's first pass: the largest deviation over the image, as the reference computes it. The
// window of the largest spread is the one; its deviation is computed the reference way.
template <typename Sum>
double largest_deviation(const unsigned char* image, int rows, int columns, int window) {
  const auto size = static_cast<Spread<Sum>>(std::int64_t{window} * window);
  const std::size_t width = static_cast<std::size_t>(columns);
  Spread<Sum> widest = -1;
  double at_sum = 0;
  double at_squares = 0;
  slide_window<Sum>(image, nullptr, rows, columns, window,
                    [&](int, const unsigned char*, const RowSums<Sum>& r, unsigned char*) {
                      if (widest_in_row(r.sums, r.squares, r.window, width, size) <= widest) {
                        return;
                      }
                      for (std::size_t x = 0; x < width; ++x) {
                        const Spread<Sum> spread = spread_at(r, x, size);
                        if (spread > widest) {
                          widest = spread;
                          at_sum = window_sum(r.sums, x, r.window);
                          at_squares = window_sum(r.squares, x, r.window);
                        }
                      }
                    });
  return mean_deviation(at_sum, at_squares, static_cast<double>(size)).deviation;
}

// A loop rather than std::min_element, which keeps the position and is not vectorised.
IMAGEFILES_VECTOR_CLONES unsigned char smallest_sample(const unsigned char* image,
                                                       std::size_t count) {
  unsigned char smallest = 255;
  for (std::size_t p = 0; p < count; ++p) smallest = std::min(smallest, image[p]);
  return smallest;
}

// Window sums fit a signed 32-bit integer up to a window of 181 (181^2 x 255^2 < 2^31); wider
// ones take 64 bits.
bool narrow_sums(int window) {
  return window <= 181;
}

statut_image check_local(const unsigned char* output, const unsigned char* image, int rows,
                         int columns, int window, double k) {
  if (output == nullptr || image == nullptr || window < 3 || window > largest_window ||
      window % 2 == 0 || !std::isfinite(k)) {
    return IMAGE_PARAMETRE_INVALIDE;
  }
  if (rows < 1 || columns < 1 ||
      !imagefiles::detail::raster_bytes(std::int64_t{rows} * columns,
                                        imagefiles::detail::greymap)) {
    return IMAGE_TAILLE_HORS_LIMITES;
  }
  return IMAGE_OK;
}

statut_image binarise_local(unsigned char* output, const unsigned char* image, int rows,
                            int columns, int window, double k, Formula::Kind kind) {
  const statut_image status = check_local(output, image, rows, columns, window, k);
  if (status != IMAGE_OK) return status;
  try {
    double range = 127.5;  // half the range of 8-bit samples
    double minimum = 0;
    if (kind == Formula::wolf) {
      const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
      minimum = smallest_sample(image, count);
      range = narrow_sums(window) ? largest_deviation<std::uint32_t>(image, rows, columns, window)
                                  : largest_deviation<std::uint64_t>(image, rows, columns, window);
      if (range == 0) {
        // Every window holds one value: the image is uniform, a page with nothing on it.
        std::memset(output, 255, count);
        return IMAGE_OK;
      }
    }
    const Formula formula = make_formula(kind, k, range, minimum);
    if (narrow_sums(window)) {
      binarise_locally<std::uint32_t>(output, image, rows, columns, window, formula);
    } else {
      binarise_locally<std::uint64_t>(output, image, rows, columns, window, formula);
    }
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

// ---- The automatic method --------------------------------------------------------------------
//
// Paper lit unevenly (a shadow, a phone's light falling off, a stain) is first brought to one
// level: each sample is divided by the brightness of the paper around it, estimated as the 90th
// percentile of blocks of 32 x 32 pixels, smoothed over the blocks around and interpolated between
// block centres. On that normalised page, a pixel is ink when both a global threshold (halfway
// between the levels of ink and paper that Otsu's split gives) and a local one (Wolf's, window 15,
// k 0.5, with the largest deviation of the 32 x 32 blocks) call it ink: the global one keeps
// blotches of paper white and the local one the show-through and noise between strokes. The page
// is written over with its normalised self, then binarised in place.

constexpr int block = 32;

// The global threshold: halfway between the ink and the paper, the ink's level the 10th percentile
// of the samples at or below Otsu's level and the paper's the median of those above. Otsu's level
// itself lies nearer the paper on a page of text, whose ink is a small class: strokes came out
// thicker than they are.
int halfway(const std::uint64_t histogram_of[256], int otsu) {
  std::uint64_t dark = 0;
  std::uint64_t light = 0;
  for (int v = 0; v < 256; ++v) (v <= otsu ? dark : light) += histogram_of[v];
  if (dark == 0 || light == 0) return otsu;
  const auto level_at = [&](int from, std::uint64_t rank) {
    for (int v = from; v < 256; ++v) {
      if (rank < histogram_of[v]) return v;
      rank -= histogram_of[v];
    }
    return 255;
  };
  const int ink = level_at(0, dark / 10);
  const int paper = level_at(otsu + 1, light / 2);
  return (ink + paper) / 2;
}

// The paper's brightness for each block: the 90th percentile of the block's samples.
std::vector<float> paper_of_blocks(const unsigned char* image, int rows, int columns, int grid_rows,
                                   int grid_columns) {
  std::vector<float> grid(static_cast<std::size_t>(grid_rows) * grid_columns);
  std::vector<std::uint16_t> counts(static_cast<std::size_t>(grid_columns) * 256);
  const std::size_t width = static_cast<std::size_t>(columns);
  for (int band = 0; band < grid_rows; ++band) {
    std::fill(counts.begin(), counts.end(), 0);
    const int first = band * block;
    const int last = std::min(rows, first + block);
    // Every other row and every fourth column: a percentile of 128 samples is as good as one of
    // 1,024 for the paper's level.
    for (int y = first; y < last; y += 2) {
      const unsigned char* line = image + static_cast<std::size_t>(y) * width;
      for (std::size_t x = 0; x < width; x += 4) ++counts[(x / block) * 256 + line[x]];
    }
    for (int g = 0; g < grid_columns; ++g) {
      const int in_block =
          ((last - first + 1) / 2) * ((std::min(columns, (g + 1) * block) - g * block + 3) / 4);
      const int above = in_block / 10;  // samples allowed above the percentile
      int seen = 0;
      int v = 255;
      for (; v > 0; --v) {
        seen += counts[static_cast<std::size_t>(g) * 256 + v];
        if (seen > above) break;
      }
      grid[static_cast<std::size_t>(band) * grid_columns + g] = static_cast<float>(v);
    }
  }
  return grid;
}

// The grid smoothed: the median of each 3 x 3 neighbourhood (edges repeated), then its mean (edges
// mirrored): one block of ink or of a stain's edge does not make the paper's level.
std::vector<float> smoothed(const std::vector<float>& grid, int rows, int columns) {
  const auto at = [&](const std::vector<float>& g, int y, int x) {
    return g[static_cast<std::size_t>(y) * columns + x];
  };
  const auto repeat = [](int i, int n) { return std::clamp(i, 0, n - 1); };
  const auto mirror101 = [](int i, int n) {
    if (n == 1) return 0;
    if (i < 0) return -i;
    return i >= n ? 2 * n - 2 - i : i;
  };
  std::vector<float> median(grid.size());
  std::vector<float> mean(grid.size());
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      float around[9];
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx)
          around[n++] = at(grid, repeat(y + dy, rows), repeat(x + dx, columns));
      }
      std::nth_element(around, around + 4, around + 9);
      median[static_cast<std::size_t>(y) * columns + x] = around[4];
    }
  }
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      float sum = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          sum += at(median, mirror101(y + dy, rows), mirror101(x + dx, columns));
        }
      }
      mean[static_cast<std::size_t>(y) * columns + x] = sum / 9;
    }
  }
  return mean;
}

// Where a pixel falls between block centres, along one axis: the two blocks and the second's
// weight.
struct Between {
  int first;
  int second;
  float weight;
};

Between between(int i, int size, int blocks) {
  const float at =
      (static_cast<float>(i) + 0.5f) * static_cast<float>(blocks) / static_cast<float>(size) - 0.5f;
  const float clamped = std::clamp(at, 0.0f, static_cast<float>(blocks - 1));
  const int first = static_cast<int>(clamped);
  return {first, std::min(first + 1, blocks - 1), clamped - static_cast<float>(first)};
}

// The sum of `n` samples and of their squares (a vectorised reduction).
struct Moments {
  std::uint64_t sum;
  std::uint64_t squares;
};

inline Moments moments(const unsigned char* samples, std::size_t n) {
  std::uint64_t sum = 0;
  std::uint64_t squares = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t v = samples[i];
    sum += v;
    squares += v * v;
  }
  return {sum, squares};
}

// A row of the paper's brightness, between block centres: straight lines from one centre to the
// next, so that each stretch is a ramp (a vectorised loop) rather than a lookup a pixel.
struct Ramp {
  std::size_t begin;
  std::size_t end;
  int first;  // the block centres it goes between
  int second;
};

void interpolate_row(const float* grid_row, const std::vector<Ramp>& ramps, const float* weights,
                     float* out) {
  for (const Ramp& r : ramps) {
    const float from = grid_row[r.first];
    const float step = grid_row[r.second] - from;
    for (std::size_t i = r.begin; i < r.end; ++i) out[i] = from + step * weights[i];
  }
}

// One row of samples divided by the paper's brightness around them, into 0 to 255.
IMAGEFILES_VECTOR_CLONES void normalise_row(const unsigned char* line, const float* paper,
                                            std::size_t width, unsigned char* out) {
  for (std::size_t x = 0; x < width; ++x) {
    const float v = 255.0f * static_cast<float>(line[x]) / std::max(paper[x], 1.0f);
    out[x] = static_cast<unsigned char>(std::min(v, 255.0f));
  }
}

statut_image binarise_automatically(unsigned char* output, const unsigned char* image, int rows,
                                    int columns) {
  const statut_image status = check_local(output, image, rows, columns, 15, 0.5);
  if (status != IMAGE_OK) return status;
  try {
    const int grid_rows = (rows + block - 1) / block;
    const int grid_columns = (columns + block - 1) / block;
    const std::vector<float> paper = smoothed(
        paper_of_blocks(image, rows, columns, grid_rows, grid_columns), grid_rows, grid_columns);
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<Between> across(width);
    for (int x = 0; x < columns; ++x)
      across[static_cast<std::size_t>(x)] = between(x, columns, grid_columns);
    std::vector<float> weights(width);
    std::vector<Ramp> ramps;
    for (std::size_t x = 0; x < width; ++x) {
      weights[x] = across[x].weight;
      if (ramps.empty() || ramps.back().first != across[x].first) {
        ramps.push_back({x, x, across[x].first, across[x].second});
      }
      ramps.back().end = x + 1;
    }
    std::vector<float> grid_row(static_cast<std::size_t>(grid_columns));
    std::vector<float> paper_row(width);
    // The normalised page, with its histogram, its smallest sample, and the deviation of each whole
    // 32 x 32 block (of all the page when none is whole).
    std::uint64_t histogram_of[256] = {};
    Tally tally;
    std::vector<std::uint64_t> block_sums(static_cast<std::size_t>(grid_columns));
    std::vector<std::uint64_t> block_squares(static_cast<std::size_t>(grid_columns));
    const bool whole_blocks = rows >= block && columns >= block;
    double widest = 0;
    std::uint64_t all_sum = 0;
    std::uint64_t all_squares = 0;
    int smallest = 255;
    for (int y = 0; y < rows; ++y) {
      const Between down = between(y, rows, grid_rows);
      for (int g = 0; g < grid_columns; ++g) {
        grid_row[static_cast<std::size_t>(g)] =
            paper[static_cast<std::size_t>(down.first) * grid_columns + g] * (1 - down.weight) +
            paper[static_cast<std::size_t>(down.second) * grid_columns + g] * down.weight;
      }
      interpolate_row(grid_row.data(), ramps, weights.data(), paper_row.data());
      unsigned char* out = output + static_cast<std::size_t>(y) * width;
      normalise_row(image + static_cast<std::size_t>(y) * width, paper_row.data(), width, out);
      smallest = std::min<int>(smallest, smallest_sample(out, width));
      tally.add(out, width);  // while the row is in the cache; a raster's counts fit 32 bits
      if (whole_blocks) {
        for (std::size_t g = 0; g < static_cast<std::size_t>(columns / block); ++g) {
          const Moments row = moments(out + g * block, block);
          block_sums[g] += row.sum;
          block_squares[g] += row.squares;
        }
      } else {
        const Moments row = moments(out, width);
        all_sum += row.sum;
        all_squares += row.squares;
      }
      if (whole_blocks && y % block == block - 1) {
        for (int g = 0; g + 1 <= columns / block; ++g) {
          const double n = double(block) * block;
          const double mean = double(block_sums[static_cast<std::size_t>(g)]) / n;
          widest = std::max(widest,
                            double(block_squares[static_cast<std::size_t>(g)]) / n - mean * mean);
        }
        std::fill(block_sums.begin(), block_sums.end(), 0);
        std::fill(block_squares.begin(), block_squares.end(), 0);
      }
    }
    if (!whole_blocks) {
      const double n = double(rows) * columns;
      const double mean = double(all_sum) / n;
      widest = double(all_squares) / n - mean * mean;
    }
    const double range = std::sqrt(std::max(widest, 0.0));
    const std::size_t count = static_cast<std::size_t>(rows) * width;
    tally.add_to(histogram_of);
    if (range == 0) {
      std::memset(output, 255, count);  // a page with nothing on it
      return IMAGE_OK;
    }
    Formula formula = make_formula(Formula::wolf, 0.5, range, smallest);
    formula.ceiling = halfway(histogram_of, otsu_level(histogram_of, count));
    binarise_locally<std::uint32_t>(output, output, rows, columns, 15, formula);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

}  // namespace

statut_image binariser_auto(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                            int nb_colonnes) {
  return binarise_automatically(sortie, image, nb_lignes, nb_colonnes);
}

void binariser(unsigned char* sortie, const unsigned char* image, size_t nb_pixels, int seuil) {
  if (sortie == nullptr || image == nullptr) return;
  if (seuil > 255) {
    std::memset(sortie, 0, nb_pixels);
    return;
  }
  const auto level = static_cast<unsigned char>(std::max(seuil, 0));
  if (nb_pixels >= streamed && threshold_streamed(sortie, image, nb_pixels, level)) return;
  if (sortie == image) {
    threshold_in_place(sortie, nb_pixels, level);
  } else {
    threshold_copy(sortie, image, nb_pixels, level);
  }
}

int calculer_seuil_otsu(const unsigned char* image, size_t nb_pixels) {
  if (image == nullptr || nb_pixels == 0) return 1;
  std::uint64_t h[256] = {};
  histogram(image, nb_pixels, h);
  return otsu_level(h, nb_pixels) + 1;
}

statut_image binariser_sauvola(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                               int nb_colonnes, int fenetre, double k) {
  return binarise_local(sortie, image, nb_lignes, nb_colonnes, fenetre, k, Formula::sauvola);
}

statut_image binariser_niblack(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                               int nb_colonnes, int fenetre, double k) {
  return binarise_local(sortie, image, nb_lignes, nb_colonnes, fenetre, k, Formula::niblack);
}

statut_image binariser_wolf(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                            int nb_colonnes, int fenetre, double k) {
  return binarise_local(sortie, image, nb_lignes, nb_colonnes, fenetre, k, Formula::wolf);
}
