// The loops of auto's thin rules' runs (AutoRows::mark_faint()): sums and lightest samples along
// a row and across rows, and the candidates and marks they give, each vectorised.

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

namespace {

// How dark a thin rule's mark (near) and the lightest of its run (palest) may be, for a sample
// whose noise allows `lightest` (four deviations): two deviations, no lighter than a third of the
// way from the paper to the ceiling (on a page without noise, two deviations are a grey level,
// and the paper's unevenness, a shadow's steps or a smudge, is no rule: a quarter let a real
// page's smudges in); and half that.
struct RuleLimits {
  unsigned char near, palest;
};
inline RuleLimits rule_limits(unsigned char lightest, int ceiling) {
  const auto faintest = static_cast<unsigned char>(255 - (255 - ceiling) / 3);
  const auto near = std::min(static_cast<unsigned char>((255 + lightest) / 2), faintest);
  // Unsigned: a shift in bytes, not a signed division in 16 bits.
  return {near, static_cast<unsigned char>(255u - (255u - near) / 2u)};
}

}  // namespace

IMAGEFILES_VECTOR_CLONES void run_candidates(const unsigned char* middle,
                                             const unsigned char* const* rows, std::size_t n,
                                             std::size_t along, int floor, int ceiling,
                                             const unsigned char* lightest, unsigned char* out) {
  const std::size_t quarter = along / 2;
  const unsigned char* here = middle + along;
  // The rows' pointers held apart from `out` (else reloaded at each sample).
  const unsigned char* above = rows[0];
  const unsigned char* below = rows[1];
  const unsigned char* nearer_above = rows[2];
  const unsigned char* nearer_below = rows[3];
  // Above the floor as a byte compared, not a sample widened to 32 bits.
  if (floor >= 255) {
    std::fill(out, out + n, 0);
    return;
  }
  const auto above_floor = static_cast<unsigned char>(std::max(floor + 1, 0));
  for (std::size_t i = 0; i < n; ++i) {
    const RuleLimits limits = rule_limits(lightest[i], ceiling);
    const unsigned char v = here[i];
    const unsigned char lying = std::max(std::max(here[i - along], here[i + along]),
                                         std::max(here[i - quarter], here[i + quarter]));
    const unsigned char standing =
        std::max(std::max(above[i], below[i]), std::max(nearer_above[i], nearer_below[i]));
    out[i] = static_cast<unsigned char>((v >= above_floor) & (v <= limits.near) &
                                        (std::min(lying, standing) <= limits.palest));
  }
}

IMAGEFILES_VECTOR_CLONES void run_marks(
    const unsigned char* candidates, const std::uint16_t* const* lying,
    const unsigned char* lying_lightest, const std::uint16_t* standing,
    const unsigned char* standing_lightest, std::size_t n, std::size_t valley, std::size_t run,
    int floor, int ceiling, bool to_mean, const unsigned char* lightest, const unsigned char* quiet,
    unsigned char* __restrict marks) {
  const auto count = static_cast<std::uint32_t>(run);
  const std::uint32_t paper = 255 * count;
  const std::uint32_t print = count * static_cast<std::uint32_t>(floor);
  // The sums' paper under 255 for each level of the noise: none, or the runs' count (a product,
  // not a choice: the loop stays vectorised).
  const std::uint32_t below_paper = to_mean ? count : 0;
  // The rows' pointers held apart from `marks` (else reloaded at each sample).
  const std::uint16_t* here = lying[0];
  const std::uint16_t* above = lying[1];
  const std::uint16_t* below = lying[2];
  const std::uint16_t* farther_above = lying[3];
  const std::uint16_t* farther_below = lying[4];
  for (std::size_t i = 0; i < n; ++i) {
    const RuleLimits limits = rule_limits(lightest[i], ceiling);
    const std::uint32_t most = count * limits.near;
    // 10 (top - s) >= tenths (paper - s) on both sides, for the sums of `run` samples.
    // 0 or 1, combined with `&`: no branch in the vectorised loop.
    const auto climbs = [&](std::uint32_t s, std::uint32_t a, std::uint32_t b, std::uint32_t tenths,
                            std::uint32_t top) -> unsigned {
      return 10 * std::min(a, b) >= tenths * top + (10 - tenths) * s;
    };
    // The paper's mean lies 1.28 deviations of the noise (a quarter of 255 - quiet) under 255,
    // its 90th percentile: 0.32 (255 - quiet), rounded, = (8 (255 - quiet) + 12) / 25, the
    // division by 25 a product and a shift (exact up to 255; vectors have no division). The
    // page's noise, not the block's: the edges of show-through's letters lift a block's own
    // measure, and a paper taken too low lets their stems climb back.
    const std::uint32_t top = paper - below_paper * (((8 * (255u - quiet[i]) + 12) * 2622) >> 16);
    const auto rule = [&](std::uint32_t s, std::uint32_t a, std::uint32_t b,
                          unsigned char pale) -> unsigned {
      return (s > print) & (s <= most) & (pale <= limits.palest) & climbs(s, a, b, 7, top);
    };
    const unsigned lies = rule(here[i], farther_above[i], farther_below[i], lying_lightest[i]) &
                          climbs(here[i], above[i], below[i], 4, paper);
    const unsigned stands =
        rule(standing[i + valley], standing[i], standing[i + 2 * valley], standing_lightest[i]);
    marks[i] |= static_cast<unsigned char>(5 * ((candidates[i] != 0) & (lies | stands)));
  }
}

}  // namespace imagefiles::detail
