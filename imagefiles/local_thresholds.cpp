// The local thresholds of Sauvola, Niblack and Wolf, and Wolf's largest deviation over the image.
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
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imagefiles/binarisation_internal.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "imagefiles/running_window.h"

namespace imagefiles::detail {

namespace {

constexpr int largest_window = 65535;

}  // namespace

// ---- The formulas -----------------------------------------------------------------------------

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

namespace {

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

// The automatic method's global part: white wherever the sample is above `ceiling`.
void whiten_above(const unsigned char* line, std::size_t n, int ceiling, unsigned char* out) {
  for (std::size_t x = 0; x < n; ++x) out[x] = line[x] > ceiling ? 255 : out[x];
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same decisions, sixteen pixels a step, with AVX-512: the operations of decide_fast in the
// same order (so its error bound holds), without the compiler's long way of turning comparison
// masks into bytes. Leaves the last width % 16 pixels to decide_fast. Returns 0 when every pixel
// is decided, and otherwise a count that is not 0 (not the number left). `capped` (the automatic
// method): pixels above `ceiling` are white whatever their window, as whiten_above makes them, in
// the same step (rather than a second pass over the stretch), and sixteen such pixels are written
// so without it, as the paper around the strokes often is.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <Formula::Kind kind, bool capped>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"))) std::size_t decide_avx512(
    const unsigned char* line, const std::uint32_t* sums, const std::uint32_t* squares, int window,
    std::size_t width, const FastDecision& f, int ceiling, unsigned char* out) {
  const __m512d size = _mm512_set1_pd(f.size);
  const __m512d inverse_square_size = _mm512_set1_pd(f.inverse_square_size);
  const __m512 inverse_size = _mm512_set1_ps(static_cast<float>(f.inverse_size));
  const __m512 a1 = _mm512_set1_ps(static_cast<float>(f.a1));
  const __m512 a0 = _mm512_set1_ps(static_cast<float>(f.a0));
  const __m512 b1 = _mm512_set1_ps(static_cast<float>(f.b1));
  const __m512 b0 = _mm512_set1_ps(static_cast<float>(f.b0));
  const __m512 high = _mm512_set1_ps(static_cast<float>(f.tolerance));
  const __m128i one = _mm_set1_epi8(1);
  const __m128i top = _mm_set1_epi8(static_cast<char>(std::clamp(ceiling, 0, 255)));
  const __m128i white_bytes = _mm_set1_epi8(static_cast<char>(255));
  __mmask16 any = 0;
  std::size_t x = 0;
  for (; x + 16 <= width; x += 16) {
    if constexpr (capped) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + x));
      if (_mm_cmpgt_epu8_mask(bytes, top) == __mmask16(0xFFFF)) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), white_bytes);
        continue;
      }
    }
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
    __mmask16 white = _mm512_cmp_ps_mask(d, high, _CMP_GT_OQ);
    __mmask16 open = _mm512_cmp_ps_mask(_mm512_abs_ps(d), high, _CMP_NGT_UQ);  // NaN too
    if constexpr (capped) {
      const __mmask16 above =
          _mm_cmpgt_epu8_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line + x)), top);
      white = static_cast<__mmask16>(white | above);
      open = static_cast<__mmask16>(open & ~above);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     _mm_mask_blend_epi8(open, _mm_movm_epi8(white), one));
    any = static_cast<__mmask16>(any | open);
  }
  const std::size_t left =
      decide_fast<kind>(line + x, sums + x, squares + x, window, width - x, f, out + x);
  if constexpr (capped) whiten_above(line + x, width - x, ceiling, out + x);
  return (any != 0) + left;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// `ceiling`: the automatic method's, 255 for none (the local methods); the pixels above it are
// written white.
template <Formula::Kind kind, typename Sum>
std::size_t decide_stretch(const unsigned char* line, const RowSums<Sum>& r, std::size_t width,
                           const FastDecision& f, int ceiling, unsigned char* out) {
#if defined(__x86_64__) && defined(__GNUC__)
  if constexpr (std::is_same_v<Sum, std::uint32_t>) {
    static const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
    if (avx512 && ceiling >= 0 && ceiling < 255) {
      return decide_avx512<kind, true>(line, r.sums, r.squares, r.window, width, f, ceiling, out);
    }
    if (avx512 && ceiling >= 255) {
      return decide_avx512<kind, false>(line, r.sums, r.squares, r.window, width, f, ceiling, out);
    }
  }
#endif
  const std::size_t left = decide_fast<kind>(line, r.sums, r.squares, r.window, width, f, out);
  if (ceiling < 255) whiten_above(line, width, ceiling, out);
  return left;
}

}  // namespace

namespace {

FastDecision fast_decision(const Formula& formula, int window) {
  const double size = static_cast<double>(window) * window;
  // The fast threshold is within 3e-5 x |b1 m + b0| of the reference one (the single-precision
  // root, and the deviation of a nearly uniform window, where a variance off by 5e-11 moves the
  // root by up to 7e-6), plus about ten single-precision roundings (6e-8 each) of terms no larger
  // than `terms`. The bound is taken wider.
  const double b = std::abs(formula.b1) * 255 + std::abs(formula.b0);
  const double terms = 256 + std::abs(formula.a1) * 255 + std::abs(formula.a0) + 128 * b;
  return {formula.a1,
          formula.a0,
          formula.b1,
          formula.b0,
          4e-5 * b + 1e-6 * terms,
          size,
          1 / size,
          1 / (size * size),
          size * size * 65025 < 9007199254740992.0};
}

}  // namespace

template <typename Sum>
LocalDecider<Sum>::LocalDecider(const Formula& formula, int window)
    : formula_(formula), fast_(fast_decision(formula, window)) {
  for (int v = 0; v < 256; ++v) {
    flat_white_[v] = v > formula.ceiling || v > formula.threshold(v, 0) ? 255 : 0;
  }
}

template <typename Sum>
void LocalDecider<Sum>::decide(const unsigned char* line, const RowSums<Sum>& r, std::size_t width,
                               unsigned char* out) const {
  const FastDecision& fast = fast_;
  // A k so large that the bound overflows leaves every pixel to the reference computation.
  const bool trusted = fast.tolerance < 1;
  const auto fast_stretch =
      formula_.kind == Formula::sauvola   ? decide_stretch<Formula::sauvola, Sum>
      : formula_.kind == Formula::niblack ? decide_stretch<Formula::niblack, Sum>
                                          : decide_stretch<Formula::wolf, Sum>;
  // In stretches of 64 pixels, so that the few pixels left are found without a pass over the
  // whole row.
  constexpr std::size_t stretch = 64;
  for (std::size_t x = 0; x < width; x += stretch) {
    const std::size_t n = std::min(stretch, width - x);
    const RowSums<Sum> here{r.sums + x, r.squares + x, r.window};
    bool left = true;
    if (!trusted) {
      std::memset(out + x, undecided, n);
      if (formula_.ceiling < 255) whiten_above(line + x, n, formula_.ceiling, out + x);
    } else {
      left = fast_stretch(line + x, here, n, fast, formula_.ceiling, out + x) != 0;
    }
    if (left) decide_rest(line + x, here, n, formula_, fast, flat_white_, out + x);
  }
}

template class LocalDecider<std::uint32_t>;
template class LocalDecider<std::uint64_t>;

template <typename Sum>
void binarise_locally(unsigned char* output, const unsigned char* image, int rows, int columns,
                      int window, const Formula& formula) {
  const LocalDecider<Sum> decider(formula, window);
  const std::size_t width = static_cast<std::size_t>(columns);
  slide_window<Sum>(image, output, rows, columns, window,
                    [&](int, const unsigned char* line, const RowSums<Sum>& r, unsigned char* out) {
                      decider.decide(line, r, width, out);
                    });
}

template void binarise_locally<std::uint32_t>(unsigned char* output, const unsigned char* image,
                                              int rows, int columns, int window,
                                              const Formula& formula);

namespace {

// size^2 x variance of a window, from its sums: exact in 64 bits for the 32-bit sums (at most
// 181^2 x 181^2 x 255^2 < 2^63); in doubles, rounded, for the wider ones.
std::int64_t spread_of(std::int64_t size, std::int64_t s1, std::int64_t s2) {
  return size * s2 - s1 * s1;
}
double spread_of(double size, double s1, double s2) {
  return size * s2 - s1 * s1;
}

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

}  // namespace

template <typename Sum>
void WidestWindow<Sum>::row(int y, int first, const RowSums<Sum>& r, std::size_t width) {
  const auto size = static_cast<Spread<Sum>>(std::int64_t{r.window} * r.window);
  // Only a row that holds a wider window than the widest so far, or as wide and before it, is
  // looked at pixel by pixel.
  const Spread<Sum> row_widest = widest_in_row(r.sums, r.squares, r.window, width, size);
  if (row_widest < widest_ || (row_widest == widest_ && !before(y, first))) return;
  for (std::size_t x = 0; x < width; ++x) {
    const Spread<Sum> spread = spread_at(r, x, size);
    const std::int64_t column = first + static_cast<std::int64_t>(x);
    if (spread > widest_ || (spread == widest_ && before(y, column))) {
      widest_ = spread;
      row_ = y;
      column_ = column;
      sum_ = window_sum(r.sums, x, r.window);
      squares_ = window_sum(r.squares, x, r.window);
      size_ = static_cast<double>(size);
    }
  }
}

template <typename Sum>
void WidestWindow<Sum>::merge(const WidestWindow& other) {
  if (other.widest_ > widest_ || (other.widest_ == widest_ && before(other.row_, other.column_))) {
    *this = other;
  }
}

template <typename Sum>
double WidestWindow<Sum>::deviation() const {
  return mean_deviation(sum_, squares_, size_).deviation;
}

template class WidestWindow<std::uint32_t>;
template class WidestWindow<std::uint64_t>;

namespace {

// Wolf's first pass: the largest deviation over the image, as the reference computes it. The
// window of the largest spread (the first in reading order) is the one; its deviation is computed
// the reference way.
template <typename Sum>
double largest_deviation(const unsigned char* image, int rows, int columns, int window) {
  WidestWindow<Sum> widest;
  const std::size_t width = static_cast<std::size_t>(columns);
  slide_window<Sum>(image, nullptr, rows, columns, window,
                    [&](int y, const unsigned char*, const RowSums<Sum>& r, unsigned char*) {
                      widest.row(y, 0, r, width);
                    });
  return widest.deviation();
}

}  // namespace

// A loop rather than std::min_element, which keeps the position and is not vectorised.
IMAGEFILES_VECTOR_CLONES unsigned char smallest_sample(const unsigned char* image,
                                                       std::size_t count) {
  unsigned char smallest = 255;
  for (std::size_t p = 0; p < count; ++p) smallest = std::min(smallest, image[p]);
  return smallest;
}

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

namespace {

// Wolf's second pass, with the image's smallest sample and largest deviation given; an image where
// that deviation is 0 is uniform, a page with nothing on it, and all white.
void binarise_wolf_with(unsigned char* output, const unsigned char* image, int rows, int columns,
                        int window, double k, double minimum, double range) {
  if (range == 0) {
    std::memset(output, 255, static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
    return;
  }
  const Formula formula = make_formula(Formula::wolf, k, range, minimum);
  if (narrow_sums(window)) {
    binarise_locally<std::uint32_t>(output, image, rows, columns, window, formula);
  } else {
    binarise_locally<std::uint64_t>(output, image, rows, columns, window, formula);
  }
}

statut_image binarise_local(unsigned char* output, const unsigned char* image, int rows,
                            int columns, int window, double k, Formula::Kind kind) {
  const statut_image status = check_local(output, image, rows, columns, window, k);
  if (status != IMAGE_OK) return status;
  try {
    if (kind == Formula::wolf) {
      const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
      const double range = narrow_sums(window)
                               ? largest_deviation<std::uint32_t>(image, rows, columns, window)
                               : largest_deviation<std::uint64_t>(image, rows, columns, window);
      binarise_wolf_with(output, image, rows, columns, window, k, smallest_sample(image, count),
                         range);
      return IMAGE_OK;
    }
    const Formula formula = make_formula(kind, k, 127.5, 0);  // R: half the range of 8-bit samples
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

// Wolf's first pass over a region of the image.
template <typename Sum>
Widest widest_within(const unsigned char* image, int rows, int columns, int window, int top,
                     int left, int inner_rows, int inner_columns) {
  WidestWindow<Sum> widest;
  const std::size_t from = static_cast<std::size_t>(left);
  slide_window<Sum>(image, nullptr, rows, columns, window,
                    [&](int y, const unsigned char*, const RowSums<Sum>& r, unsigned char*) {
                      if (y < top || y - top >= inner_rows) return;
                      widest.row(y - top, 0,
                                 RowSums<Sum>{r.sums + from, r.squares + from, r.window},
                                 static_cast<std::size_t>(inner_columns));
                    });
  return widest.state();
}

}  // namespace

Widest widest_window_within(const unsigned char* image, int rows, int columns, int window, int top,
                            int left, int inner_rows, int inner_columns) {
  return narrow_sums(window) ? widest_within<std::uint32_t>(image, rows, columns, window, top, left,
                                                            inner_rows, inner_columns)
                             : widest_within<std::uint64_t>(image, rows, columns, window, top, left,
                                                            inner_rows, inner_columns);
}

double deviation_of(const Widest& widest, int window) {
  return narrow_sums(window) ? WidestWindow<std::uint32_t>(widest, window).deviation()
                             : WidestWindow<std::uint64_t>(widest, window).deviation();
}

statut_image binarise_wolf_given(unsigned char* output, const unsigned char* image, int rows,
                                 int columns, int window, double k, int minimum, double range) {
  const statut_image status = check_local(output, image, rows, columns, window, k);
  if (status != IMAGE_OK) return status;
  try {
    binarise_wolf_with(output, image, rows, columns, window, k, minimum, range);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

}  // namespace imagefiles::detail

statut_image binariser_sauvola(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                               int nb_colonnes, int fenetre, double k) {
  return imagefiles::detail::binarise_local(sortie, image, nb_lignes, nb_colonnes, fenetre, k,
                                            imagefiles::detail::Formula::sauvola);
}

statut_image binariser_niblack(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                               int nb_colonnes, int fenetre, double k) {
  return imagefiles::detail::binarise_local(sortie, image, nb_lignes, nb_colonnes, fenetre, k,
                                            imagefiles::detail::Formula::niblack);
}

statut_image binariser_wolf(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                            int nb_colonnes, int fenetre, double k) {
  return imagefiles::detail::binarise_local(sortie, image, nb_lignes, nb_colonnes, fenetre, k,
                                            imagefiles::detail::Formula::wolf);
}
