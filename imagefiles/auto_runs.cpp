// The loops of auto's thin rules' runs (AutoRows::mark_faint()): sums and lightest samples along
// a row and across rows, each vectorised.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "imagefiles/auto_faint.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {
namespace {

// The `n` samples of each of `count` rows added to `sums`, and the lightest of them and
// `lightest` kept in `lightest`, a row at a time (a vectorised loop).
IMAGEFILES_VECTOR_CLONES void add_samples_plainly(const unsigned char* const* rows,
                                                  std::size_t count, std::size_t n,
                                                  std::uint16_t* sums, unsigned char* lightest) {
  for (std::size_t t = 0; t < count; ++t) {
    const unsigned char* samples = rows[t];
    for (std::size_t i = 0; i < n; ++i) {
      sums[i] = static_cast<std::uint16_t>(sums[i] + samples[i]);
      lightest[i] = std::max(lightest[i], samples[i]);
    }
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
#if !defined(__clang__)
// GCC 12 takes the undefined vectors inside its own AVX-512 intrinsics for uninitialised variables.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The same, 64 columns at a time over all the rows, their sums and lightest held in registers
// (rather than loaded and stored again for each row); the last columns by masked loads.
__attribute__((target("avx512f,avx512bw"))) void add_samples_avx512(
    const unsigned char* const* rows, std::size_t count, std::size_t n, std::uint16_t* sums,
    unsigned char* lightest) {
  for (std::size_t i = 0; i < n; i += 64) {
    const __mmask64 kept = n - i >= 64 ? ~__mmask64{0} : (__mmask64{1} << (n - i)) - 1;
    const auto low = static_cast<__mmask32>(kept);
    const auto high = static_cast<__mmask32>(kept >> 32);
    __m512i sum_low = _mm512_maskz_loadu_epi16(low, sums + i);
    __m512i sum_high = _mm512_maskz_loadu_epi16(high, sums + i + 32);
    __m512i most = _mm512_maskz_loadu_epi8(kept, lightest + i);
    for (std::size_t t = 0; t < count; ++t) {
      const __m512i v = _mm512_maskz_loadu_epi8(kept, rows[t] + i);
      most = _mm512_max_epu8(most, v);
      sum_low = _mm512_add_epi16(sum_low, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(v)));
      sum_high = _mm512_add_epi16(sum_high, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1)));
    }
    _mm512_mask_storeu_epi16(sums + i, low, sum_low);
    _mm512_mask_storeu_epi16(sums + i + 32, high, sum_high);
    _mm512_mask_storeu_epi8(lightest + i, kept, most);
  }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

// The sums of the `n` runs of `run` samples from each of `samples`' first `n`, into `sums`;
// `spans` (n + run - 1 of them) spent: each made the sum of the `span` from it, `span` doubled at
// each pass, and a run is the spans of its length's binary digits end to end (a few passes along
// the row rather than a running sum, a sample after the other). The spans of one sample are the
// samples themselves, and those of two are summed from them (no pass to copy them first).
IMAGEFILES_VECTOR_CLONES void run_sums(const unsigned char* samples, std::size_t n, std::size_t run,
                                       std::uint16_t* spans, std::uint16_t* sums) {
  const std::size_t total = n + run - 1;
  std::size_t offset = 0;
  if (run & 1) {
    for (std::size_t i = 0; i < n; ++i) sums[i] = samples[i];
    offset = 1;
  } else {
    std::fill(sums, sums + n, 0);
  }
  if (run < 2) return;
  for (std::size_t j = 0; j + 2 <= total; ++j) {
    spans[j] = static_cast<std::uint16_t>(samples[j] + samples[j + 1]);
  }
  for (std::size_t span = 2; span <= run; span *= 2) {
    if (run & span) {
      for (std::size_t i = 0; i < n; ++i) {
        sums[i] = static_cast<std::uint16_t>(sums[i] + spans[i + offset]);
      }
      offset += span;
    }
    if (2 * span > run) break;
    // Forwards, each reads one not yet rewritten.
    for (std::size_t j = 0; j + 2 * span <= total; ++j) {
      spans[j] = static_cast<std::uint16_t>(spans[j] + spans[j + span]);
    }
  }
}

// The `n` samples of each of `count` rows added to `sums` (in 16 bits), and the lightest of them
// and `lightest` kept in `lightest`.
void add_samples(const unsigned char* const* rows, std::size_t count, std::size_t n,
                 std::uint16_t* sums, unsigned char* lightest) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  if (avx512) return add_samples_avx512(rows, count, n, sums, lightest);
#endif
  add_samples_plainly(rows, count, n, sums, lightest);
}

// The lightest of each of the `n` runs of `run` samples of `samples` (n + run - 1 of them), into
// `out`, through `spans` (as many): each made the lightest of the `span` from it, `span` doubled
// at each pass up to the run's length, and a run is two such spans, overlapping (as
// darkest_around()). The spans of two are taken from the samples (no pass to copy them first).
IMAGEFILES_VECTOR_CLONES void lightest_of_runs(const unsigned char* samples, std::size_t n,
                                               std::size_t run, unsigned char* spans,
                                               unsigned char* out) {
  const std::size_t total = n + run - 1;
  if (run < 2) {
    std::copy(samples, samples + n, out);
    return;
  }
  for (std::size_t j = 0; j + 1 < total; ++j) spans[j] = std::max(samples[j], samples[j + 1]);
  spans[total - 1] = samples[total - 1];
  std::size_t span = 2;
  for (; 2 * span <= run; span *= 2) {
    for (std::size_t j = 0; j + span < total; ++j) spans[j] = std::max(spans[j], spans[j + span]);
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = std::max(spans[i], spans[i + run - span]);
}

}  // namespace imagefiles::detail
