// The row loops of the automatic method, each vectorised: see auto_loops.h. The filter against the
// noise has its own file, auto_filter.cpp.

#include "imagefiles/auto_loops.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {
namespace {

// A sample divided by the paper's brightness: multiplied by 255 / paper, which lies `weight` of
// the way from `above` to `above` + `step`.
inline unsigned char normalised_sample(unsigned char in, float above, float step, float weight) {
  const float v = static_cast<float>(in) * (above + weight * step);
  return static_cast<unsigned char>(std::min(v, 255.0f));
}

// `n` samples divided by the paper's brightness (a vectorised loop).
IMAGEFILES_VECTOR_CLONES void normalise_plainly(const unsigned char* in, std::size_t n,
                                                const float* above, const float* step, float weight,
                                                unsigned char* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = normalised_sample(in[i], above[i], step[i], weight);
}

#if defined(__x86_64__) && defined(__GNUC__)
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The same, sixteen samples a step with AVX-512: normalised_sample's operations in the same order
// (the same floats), each sample widened to 32 bits and each result narrowed back to a byte in one
// instruction, rather than the compiler's unpacking and packing through 16 bits (a fifth faster).
// Returns how many samples it divided (a multiple of 16), and their smallest result in `smallest`.
__attribute__((target("avx512f,avx512bw"))) std::size_t normalise_avx512(
    const unsigned char* in, std::size_t n, const float* above, const float* step, float weight,
    unsigned char* out, unsigned char* smallest) {
  const __m512 w = _mm512_set1_ps(weight);
  const __m512 top = _mm512_set1_ps(255.0f);
  __m128i least = _mm_set1_epi8(static_cast<char>(255));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m512 factor =
        _mm512_add_ps(_mm512_loadu_ps(above + i), _mm512_mul_ps(w, _mm512_loadu_ps(step + i)));
    const __m512 sample = _mm512_cvtepi32_ps(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
    const __m512 v = _mm512_min_ps(_mm512_mul_ps(sample, factor), top);
    const __m128i bytes = _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    least = _mm_min_epu8(least, bytes);
  }
  alignas(16) unsigned char lanes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), least);
  *smallest = *std::min_element(lanes, lanes + 16);
  return i;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// The samples divided, with AVX-512 where the processor has it, the rest by the plain loop; the
// smallest result.
unsigned char normalise(const unsigned char* in, std::size_t n, const float* above,
                        const float* step, float weight, unsigned char* out) {
  std::size_t done = 0;
  unsigned char smallest = 255;
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  if (avx512) done = normalise_avx512(in, n, above, step, weight, out, &smallest);
#endif
  if (done < n) {
    normalise_plainly(in + done, n - done, above + done, step + done, weight, out + done);
    smallest = std::min(smallest, *std::min_element(out + done, out + n));
  }
  return smallest;
}

}  // namespace

void ask_for(const unsigned char* row, std::size_t n) {
#if defined(__GNUC__)
  for (std::size_t at = 0; at < n; at += 64) __builtin_prefetch(row + at, 0, 2);
#else
  (void)row;
  (void)n;
#endif
}

void normalise_row(const unsigned char* in, std::size_t n, const float* above, const float* step,
                   float weight, unsigned char* out) {
  normalise(in, n, above, step, weight, out);
}

unsigned char normalise_smallest(const unsigned char* in, std::size_t n, const float* above,
                                 const float* step, float weight, unsigned char* out) {
  return normalise(in, n, above, step, weight, out);
}

namespace {

// The same in plain loops: a vectorised loop a block.
IMAGEFILES_VECTOR_CLONES void add_to_blocks_plainly(const unsigned char* samples, std::size_t n,
                                                    std::size_t column, std::size_t block,
                                                    std::size_t blocks, std::uint32_t* sums,
                                                    std::uint64_t* squares) {
  for (std::size_t at = 0; at < n;) {
    const std::size_t b = std::min((column + at) / block, blocks - 1);
    const std::size_t end =
        std::min(at + 32768, b + 1 == blocks ? n : std::min(n, (b + 1) * block - column));
    std::uint32_t sum = 0;
    std::uint32_t sum_of_squares = 0;
    for (std::size_t i = at; i < end; ++i) {
      const std::uint32_t v = samples[i];
      sum += v;
      sum_of_squares += v * v;
    }
    sums[b] += sum;
    squares[b] += sum_of_squares;
    at = end;
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#if !defined(__clang__)
// GCC 12 takes the undefined vectors inside its own AVX-512 intrinsics for uninitialised variables.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// 32 samples at a time: their sums and squares in pairs (multiply-adds of 16-bit lanes), the
// block's last samples by a masked load (nothing read beyond them), one reduction a block.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void add_to_blocks_avx512(
    const unsigned char* samples, std::size_t n, std::size_t column, std::size_t block,
    std::size_t blocks, std::uint32_t* sums, std::uint64_t* squares) {
  const __m512i ones = _mm512_set1_epi16(1);
  for (std::size_t at = 0; at < n;) {
    const std::size_t b = std::min((column + at) / block, blocks - 1);
    const std::size_t end =
        std::min(at + 32768, b + 1 == blocks ? n : std::min(n, (b + 1) * block - column));
    __m512i sum = _mm512_setzero_si512();
    __m512i sum_of_squares = _mm512_setzero_si512();
    for (std::size_t i = at; i < end; i += 32) {
      const __mmask32 kept = end - i >= 32 ? ~__mmask32{0} : (__mmask32{1} << (end - i)) - 1;
      const __m512i v = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(kept, samples + i));
      sum = _mm512_add_epi32(sum, _mm512_madd_epi16(v, ones));
      sum_of_squares = _mm512_add_epi32(sum_of_squares, _mm512_madd_epi16(v, v));
    }
    // At most 32,768 squares of bytes: the 32-bit sum does not wrap.
    sums[b] += static_cast<std::uint32_t>(_mm512_reduce_add_epi32(sum));
    squares[b] += static_cast<std::uint32_t>(_mm512_reduce_add_epi32(sum_of_squares));
    at = end;
  }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

// Adds the `n` samples from page column `column` to the sums and sums of squares of their blocks
// (of `block` columns; the last, `blocks` - 1, takes the columns left over): one call a row, in
// parts of at most 32,768 samples, whose squares sum in 32 bits (the blocks of a strip millions of
// samples long are wider). The blocks are narrow (a few dozen samples): the masked loads of
// AVX-512 spare each a loop over its last samples one by one.
void add_to_blocks(const unsigned char* samples, std::size_t n, std::size_t column,
                   std::size_t block, std::size_t blocks, std::uint32_t* sums,
                   std::uint64_t* squares) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 = __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vl");
  if (avx512) return add_to_blocks_avx512(samples, n, column, block, blocks, sums, squares);
#endif
  add_to_blocks_plainly(samples, n, column, block, blocks, sums, squares);
}

// Whether any of `n` samples is white in `out` though at or below `ceiling` (a vectorised
// reduction): the local threshold's veto, which ink_where_flat looks at.
IMAGEFILES_VECTOR_CLONES bool any_vetoed(const unsigned char* line, std::size_t n, int ceiling,
                                         const unsigned char* out) {
  unsigned char any = 0;
  for (std::size_t x = 0; x < n; ++x) any |= (line[x] <= ceiling) & (out[x] == 255);
  return any != 0;
}

// Ink where the window varies no more than the noise: the window's spread, size x squares -
// sum^2, exact in 64 bits, for the few samples vetoed.
void ink_where_flat(const unsigned char* line, const std::uint32_t* sums,
                    const std::uint32_t* squares, int window, const float* noise, std::size_t n,
                    int ceiling, float flat, unsigned char* out) {
  const auto size = static_cast<std::int64_t>(window) * window;
  const double squared_size = static_cast<double>(size) * static_cast<double>(size);
  for (std::size_t x = 0; x < n; ++x) {
    if (line[x] > ceiling || out[x] != 255) continue;
    const std::int64_t sum = sums[x + window] - sums[x];
    const std::int64_t square = squares[x + window] - squares[x];
    const double spread = static_cast<double>(size * square - sum * sum);
    // The window's level, not the sample alone, and below the threshold by more than the noise
    // could take it (the variance's allowance): noisy paper is flat too, and in a deep shadow its
    // samples below the threshold, and even its mean, are only the noise's.
    const double allowance = static_cast<double>(flat) * noise[x];
    const double below = static_cast<double>(ceiling * size - sum);
    if (below >= 0 && below * below >= allowance * squared_size &&
        spread <= allowance * squared_size)
      out[x] = 0;
  }
}

IMAGEFILES_VECTOR_CLONES void no_ink_within_noise(const unsigned char* line, const float* noise,
                                                  std::size_t n, float deviations, float side,
                                                  unsigned char* out) {
  const float share = deviations * deviations / (side * side);
  for (std::size_t x = 0; x < n; ++x) {
    const float below_paper = 255.0f - static_cast<float>(line[x]);
    out[x] = below_paper * below_paper < share * noise[x] ? 255 : out[x];
  }
}

namespace {

// `n` points of a straight line from `from`, `slope` apart (a vectorised loop: its count and
// index in 32 bits, which convert to doubles in vectors).
IMAGEFILES_VECTOR_CLONES void along_line_plainly(float* out, int n, double from, double slope) {
  for (int i = 0; i < n; ++i) out[i] = static_cast<float>(from + slope * static_cast<double>(i));
}

#if defined(__x86_64__) && defined(__GNUC__)
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The same, eight points a step with AVX-512, the last ones by a masked store: a line between
// two blocks' centres is a few dozen points, which the loop above takes one by one before its
// vectors start.
__attribute__((target("avx512f,avx512vl"))) void along_line_avx512(float* out, int n, double from,
                                                                   double slope) {
  const __m512d start = _mm512_set1_pd(from);
  const __m512d step = _mm512_set1_pd(slope);
  __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i eight = _mm256_set1_epi32(8);
  for (int i = 0; i < n; i += 8) {
    const __mmask8 kept = n - i >= 8 ? __mmask8(0xFF) : static_cast<__mmask8>((1u << (n - i)) - 1);
    const __m512d point = _mm512_add_pd(start, _mm512_mul_pd(step, _mm512_cvtepi32_pd(index)));
    _mm256_mask_storeu_ps(out + i, kept, _mm512_cvtpd_ps(point));
    index = _mm256_add_epi32(index, eight);
  }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void along_line(float* out, int n, double from, double slope) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  if (avx512) return along_line_avx512(out, n, from, slope);
#endif
  along_line_plainly(out, n, from, slope);
}

// Levels of the paper made 255 / level (a vectorised loop).
IMAGEFILES_VECTOR_CLONES void reciprocals(float* levels, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) levels[i] = 255.0f / std::max(levels[i], 1.0f);
}

namespace {

// mark_paper's whole stretches in a vectorised loop over the row (rather than a call a stretch);
// returns where they end.
IMAGEFILES_VECTOR_CLONES std::size_t mark_paper_plainly(const unsigned char* row, std::size_t n,
                                                        const int* ceilings, unsigned char* marks) {
  std::size_t from = 0;
  for (; from + filter_stretch <= n; from += filter_stretch) {
    unsigned char smallest = 255;
    for (std::size_t i = 0; i < filter_stretch; ++i) smallest = std::min(smallest, row[from + i]);
    marks[from / filter_stretch] = smallest > ceilings[from / filter_stretch];
  }
  return from;
}

#if defined(__x86_64__) && defined(__GNUC__)
static_assert(filter_stretch == 64, "a stretch is one vector of AVX-512");
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The same with AVX-512: a stretch is one vector, whose comparison's mask is all ones (no
// reduction of its smallest sample); a ceiling below 0 or from 255 up needs no comparison.
__attribute__((target("avx512f,avx512bw"))) std::size_t mark_paper_avx512(
    const unsigned char* row, std::size_t n, const int* ceilings, unsigned char* __restrict marks) {
  std::size_t from = 0;
  for (; from + filter_stretch <= n; from += filter_stretch) {
    const int ceiling = ceilings[from / filter_stretch];
    bool paper = ceiling < 0;
    if (ceiling >= 0 && ceiling < 255) {
      const __m512i top = _mm512_set1_epi8(static_cast<char>(ceiling));
      paper = _mm512_cmpgt_epu8_mask(_mm512_loadu_si512(row + from), top) == ~__mmask64{0};
    }
    marks[from / filter_stretch] = paper;
  }
  return from;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void mark_paper(const unsigned char* row, std::size_t n, const int* ceilings,
                unsigned char* marks) {
  std::size_t from = 0;
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  from = avx512 ? mark_paper_avx512(row, n, ceilings, marks)
                : mark_paper_plainly(row, n, ceilings, marks);
#else
  from = mark_paper_plainly(row, n, ceilings, marks);
#endif
  if (from < n) {
    marks[from / filter_stretch] =
        smallest_sample(row + from, n - from) > ceilings[from / filter_stretch];
  }
}

// For each stretch of filter_stretch samples of the `n` of `row`, whether any lies above `low`
// and at most `high`: a vectorised loop over the whole row (one unsigned comparison a sample)
// rather than a call a stretch.
IMAGEFILES_VECTOR_CLONES void mark_between(const unsigned char* row, std::size_t n, int low,
                                           int high, unsigned char* marks) {
  // Samples above `low` by 1 to `span`, in bytes: one unsigned comparison.
  const unsigned char span = static_cast<unsigned char>(std::clamp(high - low, 0, 255));
  const unsigned char base = static_cast<unsigned char>(std::clamp(low + 1, 0, 255));
  const bool none = high <= low || low >= 255;
  std::size_t from = 0;
  for (; from + filter_stretch <= n; from += filter_stretch) {
    unsigned char found = 0;
    for (std::size_t i = 0; i < filter_stretch; ++i) {
      found |= static_cast<unsigned char>(row[from + i] - base) < span;
    }
    marks[from / filter_stretch] = !none && found;
  }
  if (from < n) {
    unsigned char found = 0;
    for (std::size_t i = from; i < n; ++i)
      found |= static_cast<unsigned char>(row[i] - base) < span;
    marks[from / filter_stretch] = !none && found;
  }
}

namespace {

// The top of the valley of sample i + reach of `middle` (faint_marks()): the lightest of the
// darker ends, `reach` away, of the four directions.
inline unsigned char valley_top(const unsigned char* above, const unsigned char* middle,
                                const unsigned char* below, std::size_t i, std::size_t reach) {
  const unsigned char across = std::min(middle[i], middle[i + 2 * reach]);
  const unsigned char down = std::min(above[i + reach], below[i + reach]);
  const unsigned char falling = std::min(above[i], below[i + 2 * reach]);
  const unsigned char rising = std::min(above[i + 2 * reach], below[i]);
  return std::max(std::max(across, down), std::max(falling, rising));
}

}  // namespace

// The marks of the samples that may lie on a faint thin stroke (a vectorised loop).
IMAGEFILES_VECTOR_CLONES void faint_marks(const unsigned char* above, const unsigned char* middle,
                                          const unsigned char* below, std::size_t n,
                                          std::size_t reach, int ceiling,
                                          const unsigned char* lightest, unsigned char* marks) {
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char v = middle[i + reach];
    marks[i] =
        static_cast<unsigned char>((v > ceiling) & (v <= lightest[i]) &
                                   (valley_top(above, middle, below, i, reach) >= lowest_top(v)));
  }
}

// The same and the wider valley's in one pass (each row read once, and the lowest top worked out
// once, rather than a pass for each and one to add them).
IMAGEFILES_VECTOR_CLONES void faint_marks_wider(
    const unsigned char* __restrict above, const unsigned char* __restrict middle,
    const unsigned char* __restrict below, const unsigned char* __restrict wider_above,
    const unsigned char* __restrict wider_middle, const unsigned char* __restrict wider_below,
    std::size_t n, std::size_t reach, int ceiling, const unsigned char* __restrict lightest,
    unsigned char deep, unsigned char* __restrict marks) {
  // Above the ceiling as a byte compared, not a sample widened to 32 bits.
  if (ceiling >= 255) {
    std::fill(marks, marks + n, 0);
    return;
  }
  const auto least = static_cast<unsigned char>(std::max(ceiling + 1, 0));
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char v = middle[i + reach];
    const unsigned char limit = lightest[i];
    const unsigned char low = lowest_top(v);
    // 0 or 1, combined with `&`: no branch in the vectorised loop.
    const unsigned narrow =
        static_cast<unsigned>(v <= limit) &
        static_cast<unsigned>(valley_top(above, middle, below, i, reach) >= low);
    const unsigned wider = static_cast<unsigned>(v <= std::min(limit, deep)) &
                           static_cast<unsigned>(valley_top(wider_above, wider_middle, wider_below,
                                                            i, reach + 1) >= low);
    marks[i] = static_cast<unsigned char>(static_cast<unsigned>(v >= least) & (narrow | wider));
  }
}

}  // namespace imagefiles::detail
