// The noise of the automatic method's page, measured in the paper pass: the page's from the
// differences of next neighbours (their median, for the filter and the windows' rule), and each
// block's around it from samples two apart (for the faint strokes' marks, where a photograph's
// grain is louder than the page's). auto_threshold.cpp gathers the pass and ends it.

#include "imagefiles/auto_threshold.h"

#include "imagefiles/binarisation_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace imagefiles::detail {
namespace {

// A block's noise is louder than the page's beyond this many standard errors of its estimate: one
// block in a thousand of even noise goes beyond three.
constexpr double louder_errors = 3;

// For the `n` samples from `samples + 2`, how far each lies from the one two before it, at most
// `cap`, added to `sums` (in bytes: no wider lanes for the difference).
IMAGEFILES_VECTOR_CLONES void add_two_apart(const unsigned char* samples, std::size_t n,
                                            unsigned char cap, std::uint16_t* sums) {
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char a = samples[i + 2];
    const unsigned char b = samples[i];
    const auto d = static_cast<unsigned char>(a > b ? a - b : b - a);
    sums[i] = static_cast<std::uint16_t>(sums[i] + std::min(d, cap));
  }
}

}  // namespace

void AutoStatistics::add_differences(const unsigned char* samples, std::size_t column,
                                     std::size_t n) {
  // The pairs of columns 4 j and 4 j + 1; one cut between two pieces is finished by the second.
  std::size_t i = 0;
  if (column % 4 == 1 && pair_open_) count_pair(0, pair_first_, samples[0]);
  pair_open_ = false;
  // Four tables in turn, so that equal differences in a row do not wait on each other.
  for (i = (4 - column % 4) % 4; i + 13 < n; i += 16) {
    for (int t = 0; t < 4; ++t) count_pair(t, samples[i + 4 * t], samples[i + 4 * t + 1]);
  }
  for (; i + 1 < n; i += 4) count_pair(0, samples[i], samples[i + 1]);
  if (i + 1 == n) {
    pair_open_ = true;
    pair_first_ = samples[i];
  }
}

void AutoStatistics::add_block_differences(const unsigned char* samples, std::size_t column,
                                           std::size_t n) {
  // The pairs of samples two apart: the grain of a photograph spans two samples, whose next
  // neighbours differ by half its variance (the page's noise, from next neighbours, is the
  // filter's: a sample against its neighbours). Each pair counted in its second's block, from its
  // second's piece: the two samples before a piece are kept from the piece before.
  for (std::size_t i = 0; i < std::min<std::size_t>(2, n); ++i) {
    if (column + i >= 2) {
      const int d = std::abs(int{samples[i]} - int{block_carry_[i]});
      column_apart_[column + i] =
          static_cast<std::uint16_t>(column_apart_[column + i] + std::min(d, block_cap));
    }
  }
  if (n > 2) {
    add_two_apart(samples, n - 2, static_cast<unsigned char>(block_cap),
                  column_apart_.data() + column + 2);
  }
  if (column + n == static_cast<std::size_t>(columns_)) ++apart_rows_;
  if (n >= 2) {
    block_carry_[0] = samples[n - 2];
    block_carry_[1] = samples[n - 1];
  } else if (n == 1) {
    block_carry_[0] = block_carry_[1];
    block_carry_[1] = samples[0];
  }
}

void AutoStatistics::block_noise(int block_row) {
  // Each block's noise from its pairs and those of the blocks beside it (a block's few dozen
  // pairs alone stray far), from their mean difference: 1.128 deviations of Gaussian noise (its
  // pairs' differences are capped at block_cap, beyond the noise that matters, so that strokes'
  // edges count little). The sums cleared for the next block row.
  const std::size_t columns = static_cast<std::size_t>(grid_columns_);
  const std::size_t block = static_cast<std::size_t>(block_);
  const std::size_t width = static_cast<std::size_t>(columns_);
  const auto sum_of = [&](std::size_t g) {
    std::uint64_t sum = 0;
    for (std::size_t c = g * block; c < std::min(width, (g + 1) * block); ++c)
      sum += column_apart_[c];
    return sum;
  };
  const auto pairs_of = [&](std::size_t g) {
    const std::size_t first = std::max<std::size_t>(g * block, 2);
    const std::size_t end = std::min(width, (g + 1) * block);
    return end > first ? static_cast<std::uint64_t>(end - first) * apart_rows_ : 0;
  };
  std::uint64_t sums[3] = {0, 0, columns > 0 ? sum_of(0) : 0};
  std::uint64_t counts[3] = {0, 0, columns > 0 ? pairs_of(0) : 0};
  for (std::size_t g = 0; g < columns; ++g) {
    // The window of three blocks moved on by one.
    sums[0] = sums[1], sums[1] = sums[2], counts[0] = counts[1], counts[1] = counts[2];
    sums[2] = g + 1 < columns ? sum_of(g + 1) : 0;
    counts[2] = g + 1 < columns ? pairs_of(g + 1) : 0;
    const std::uint64_t pairs = counts[0] + counts[1] + counts[2];
    // Louder than the page's only beyond the estimate's error: the mean of n such differences
    // strays by 0.755 / sqrt(n) of itself (the noise as even as on the generated pages took a
    // tenth of the blocks 15% louder, and lost their faintest rules).
    const double lower =
        pairs == 0 ? 0
                   : double(sums[0] + sums[1] + sums[2]) / double(pairs) / 1.128 *
                         (1 - louder_errors * 0.755 / std::sqrt(static_cast<double>(pairs)));
    measured_grid_[static_cast<std::size_t>(block_row) * columns + g] =
        static_cast<float>(std::max(lower, 0.0) * std::max(lower, 0.0));
  }
  std::fill(column_apart_.begin(), column_apart_.end(), 0);
  apart_rows_ = 0;
}

}  // namespace imagefiles::detail
