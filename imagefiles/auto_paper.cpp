// The paper's grid of the automatic method: the blocks' levels made smooth and the blocks under
// printed areas filled from their neighbours once the paper pass ends, then read along the rows
// that the decision divides by it (in straight lines between the blocks' centres, and beyond the
// outer ones where the light falls off).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "imagefiles/auto_threshold.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {
namespace {

#if defined(__x86_64__) && defined(__GNUC__)
// block_percentile's value by a count of ranks, for up to 64 samples (one register): each
// sample's count of samples above it, one comparison of all of them a sample; the percentile is
// the smallest with at most n / 10 above it. No branch on the samples' values: a selection's
// branches are mispredicted on every block, and a count of each value clears its table after.
__attribute__((target("avx512f,avx512bw"))) unsigned char block_percentile_avx512(
    const unsigned char* samples, std::size_t n) {
  const __mmask64 valid = n == 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
  const __m512i all = _mm512_maskz_loadu_epi8(valid, samples);
  const __m512i one = _mm512_set1_epi8(1);
  // Two counts, each of every other sample, added at the end: two chains of additions, not one.
  __m512i above = _mm512_setzero_si512(), also = _mm512_setzero_si512();  // at most 63: bytes
  std::size_t j = 0;
  for (; j + 2 <= n; j += 2) {
    const __m512i first = _mm512_set1_epi8(static_cast<char>(samples[j]));
    const __m512i second = _mm512_set1_epi8(static_cast<char>(samples[j + 1]));
    above = _mm512_mask_add_epi8(above, _mm512_cmplt_epu8_mask(all, first), above, one);
    also = _mm512_mask_add_epi8(also, _mm512_cmplt_epu8_mask(all, second), also, one);
  }
  if (j < n) {
    const __m512i last = _mm512_set1_epi8(static_cast<char>(samples[j]));
    above = _mm512_mask_add_epi8(above, _mm512_cmplt_epu8_mask(all, last), above, one);
  }
  const __mmask64 top = _mm512_mask_cmple_epu8_mask(valid, _mm512_add_epi8(above, also),
                                                    _mm512_set1_epi8(static_cast<char>(n / 10)));
  const __m512i kept = _mm512_mask_blend_epi8(top, _mm512_set1_epi8(static_cast<char>(255)), all);
  alignas(64) unsigned char lanes[64];
  _mm512_store_si512(lanes, kept);
  unsigned char least = 255;
  for (const unsigned char lane : lanes) least = std::min(least, lane);
  return least;
}
#endif

// The median of nine values by a network of 19 exchanges (no branches; the grid has a block for
// every letter of the page).
float median_of_nine(float* p) {
  const auto sort = [p](int a, int b) {
    const float low = std::min(p[a], p[b]);
    p[b] = std::max(p[a], p[b]);
    p[a] = low;
  };
  sort(1, 2), sort(4, 5), sort(7, 8), sort(0, 1), sort(3, 4), sort(6, 7), sort(1, 2), sort(4, 5);
  sort(7, 8), sort(0, 3), sort(5, 8), sort(4, 7), sort(3, 6), sort(1, 4), sort(2, 5), sort(4, 7);
  sort(4, 2), sort(6, 4), sort(4, 2);
  return p[4];
}

// The medians and the means of a row's inner blocks (all but its first and last), whose
// neighbourhoods lie inside the grid, from the rows above and below it: smoothed()'s values in
// the same order, with the same operations, in vectorised loops (a grid has a block for every
// letter of the page).
IMAGEFILES_VECTOR_CLONES void inner_medians(const float* up, const float* row, const float* down,
                                            int columns, float* out) {
  for (int x = 1; x + 1 < columns; ++x) {
    float around[9] = {up[x - 1],  up[x],       up[x + 1], row[x - 1], row[x],
                       row[x + 1], down[x - 1], down[x],   down[x + 1]};
    out[x] = median_of_nine(around);
  }
}

IMAGEFILES_VECTOR_CLONES void inner_means(const float* up, const float* row, const float* down,
                                          int columns, float* out) {
  for (int x = 1; x + 1 < columns; ++x) {
    float sum = 0;
    sum += up[x - 1], sum += up[x], sum += up[x + 1];
    sum += row[x - 1], sum += row[x], sum += row[x + 1];
    sum += down[x - 1], sum += down[x], sum += down[x + 1];
    out[x] = sum / 9;
  }
}

// Whether each inner block of a row (all but its first and last) is darker than half the
// brightest of its eight neighbours (without_ink_blocks), in a vectorised loop.
IMAGEFILES_VECTOR_CLONES void darker_than_neighbours(const float* up, const float* row,
                                                     const float* down, int columns,
                                                     unsigned char* dark) {
  for (int x = 1; x + 1 < columns; ++x) {
    const float around[8] = {up[x - 1],  up[x],       up[x + 1], row[x - 1],
                             row[x + 1], down[x - 1], down[x],   down[x + 1]};
    float brightest = 0;
    for (const float level : around) brightest = std::max(brightest, level);
    dark[x] = row[x] < brightest / 2;
  }
}

}  // namespace

// The grid smoothed: the median of each 3 x 3 neighbourhood, then its mean: one block of ink or
// of a stain's edge does not make the paper's level.
std::vector<float> smoothed(const std::vector<float>& grid, int rows, int columns) {
  const auto at = [&](const std::vector<float>& g, int y, int x) {
    return g[static_cast<std::size_t>(y) * columns + x];
  };
  // Beyond the grid's edges, light falling off towards the page's edge keeps falling, in a
  // straight line (repeated or mirrored, the outer blocks took their inner neighbours' brighter
  // paper, and a blank page's darkening edges came out as ink), down to half the outer block's
  // level at most (a dark block beside a bright one is no slope to follow); light that rises
  // towards the edge is held (paper taken a little dark is clipped at white, taken too bright it
  // is ink).
  const auto beyond = [](int i, int n, auto&& value) {
    if (n == 1 || (i >= 0 && i < n)) return value(std::clamp(i, 0, n - 1));
    const float edge = value(i < 0 ? 0 : n - 1);
    const float inner = value(i < 0 ? 1 : n - 2);
    return std::clamp(2 * edge - inner, edge / 2, edge);
  };
  const auto extended = [&](const std::vector<float>& g, int y, int x) {
    if (y >= 0 && y < rows && x >= 0 && x < columns) return at(g, y, x);
    return beyond(y, rows,
                  [&](int r) { return beyond(x, columns, [&](int c) { return at(g, r, c); }); });
  };
  // A row's inner blocks by the loops above, then its first and last; the grid's first and last
  // rows block by block.
  const auto inner = [&](int y) { return y > 0 && y + 1 < rows && columns > 2; };
  const auto step = [&](int y) { return inner(y) ? columns - 1 : 1; };
  const auto line = [&](const std::vector<float>& g, int y) {
    return g.data() + static_cast<std::size_t>(y) * columns;
  };
  std::vector<float> median(grid.size());
  for (int y = 0; y < rows; ++y) {
    if (inner(y)) {
      inner_medians(line(grid, y - 1), line(grid, y), line(grid, y + 1), columns,
                    median.data() + static_cast<std::size_t>(y) * columns);
    }
    for (int x = 0; x < columns; x += step(y)) {
      float around[9];
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) around[n++] = extended(grid, y + dy, x + dx);
      }
      median[static_cast<std::size_t>(y) * columns + x] = median_of_nine(around);
    }
  }
  std::vector<float> mean(grid.size());
  for (int y = 0; y < rows; ++y) {
    if (inner(y)) {
      inner_means(line(median, y - 1), line(median, y), line(median, y + 1), columns,
                  mean.data() + static_cast<std::size_t>(y) * columns);
    }
    for (int x = 0; x < columns; x += step(y)) {
      float sum = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          sum += extended(median, y + dy, x + dx);
        }
      }
      mean[static_cast<std::size_t>(y) * columns + x] = sum / 9;
    }
  }
  return mean;
}

// Blocks under a printed area wider than themselves (a black label, a filled box, a photograph):
// their 90th percentile is ink, not paper, and dividing by it would turn the area white. Light
// changes little from one block to the next (a shadow, a stain), print does: a block darker than
// half a neighbour's paper is taken for ink, and its paper is made again as the mean of the
// paper of its neighbours, from the area's edges inwards. The brightest block is never ink.
void without_ink_blocks(std::vector<float>& grid, int rows, int columns) {
  const std::size_t n = grid.size();
  enum : unsigned char { paper, ink, filled };
  std::vector<unsigned char> state(n, paper);
  const auto neighbours = [&](std::size_t b, auto&& visit) {
    const int y = static_cast<int>(b / static_cast<std::size_t>(columns));
    const int x = static_cast<int>(b % static_cast<std::size_t>(columns));
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        if ((dy != 0 || dx != 0) && y + dy >= 0 && y + dy < rows && x + dx >= 0 && x + dx < columns)
          visit(static_cast<std::size_t>(y + dy) * columns + (x + dx));
      }
    }
  };
  std::vector<std::size_t> waiting;
  std::vector<unsigned char> dark(static_cast<std::size_t>(columns));
  for (int y = 0; y < rows; ++y) {
    // The inner blocks of the inner rows in a vectorised loop, the others one by one.
    const bool inner = y > 0 && y + 1 < rows && columns > 2;
    const std::size_t row = static_cast<std::size_t>(y) * columns;
    if (inner) {
      darker_than_neighbours(grid.data() + row - columns, grid.data() + row,
                             grid.data() + row + columns, columns, dark.data());
    }
    for (int x = 0; x < columns; x += inner ? columns - 1 : 1) {
      float brightest = 0;
      neighbours(row + x, [&](std::size_t o) { brightest = std::max(brightest, grid[o]); });
      dark[x] = grid[row + x] < brightest / 2;
    }
    for (int x = 0; x < columns; ++x) {
      if (dark[x]) {
        state[row + x] = ink;
        waiting.push_back(row + x);
      }
    }
  }
  // Each round fills the ink blocks next to paper (or to blocks filled in an earlier round): at
  // least one a round, since the brightest block is paper.
  std::vector<std::pair<std::size_t, float>> round;
  while (!waiting.empty()) {
    round.clear();
    std::vector<std::size_t> later;
    for (const std::size_t b : waiting) {
      // The mean of the neighbours' paper, leaving out those darker than half the brightest:
      // further blocks of the area, not yet found (an area many blocks wide would otherwise fade
      // towards its middle, a ring at a time).
      float brightest = 0;
      neighbours(b, [&](std::size_t o) {
        if (state[o] != ink) brightest = std::max(brightest, grid[o]);
      });
      float sum = 0;
      int count = 0;
      neighbours(b, [&](std::size_t o) {
        if (state[o] != ink && grid[o] >= brightest / 2) {
          sum += grid[o];
          ++count;
        }
      });
      if (count == 0) {
        later.push_back(b);
      } else {
        round.emplace_back(b, sum / static_cast<float>(count));
      }
    }
    for (const auto& [b, level] : round) {
      grid[b] = level;
      state[b] = filled;
    }
    // Beyond the edge of an area: its inner blocks, darker than half the paper made for it.
    for (const auto& [b, level] : round) {
      neighbours(b, [&, level = level](std::size_t o) {
        if (state[o] == paper && grid[o] < level / 2) {
          state[o] = ink;
          later.push_back(o);
        }
      });
    }
    waiting.swap(later);
  }
}

namespace {

// below_percentile's slope along an axis where the block has a neighbour on each side, and its
// level taken below the percentile by the spread.
double slope_between(float before, float here, float after) {
  const double down = double(here) - before, up = double(after) - here;
  return down * up <= 0 ? 0.0 : std::min(std::abs(down), std::abs(up));
}

float below_by_spread(float here, double across, double along, double sigma) {
  const double spread = std::sqrt(sigma * sigma + (across * across + along * along) / 12);
  return std::max(1.0f, here - static_cast<float>(1.28 * spread));
}

// The inner blocks of a row (all but its first and last) whose rows above and below are `up` and
// `down`, in a vectorised loop (a block for every letter of the page).
IMAGEFILES_VECTOR_CLONES void below_inner(const float* up, const float* row, const float* down,
                                          int columns, double sigma, float* out) {
  for (int x = 1; x + 1 < columns; ++x) {
    out[x] = below_by_spread(row[x], slope_between(row[x - 1], row[x], row[x + 1]),
                             slope_between(up[x], row[x], down[x]), sigma);
  }
}

}  // namespace

// The paper's level from each block's 90th percentile: that of its samples' spread about the
// level, the noise's (1.28 deviations) and the light's across the block, which a slope of light
// spreads as evenly as a block wide (a dark corner's; the 90th percentile of an even spread of
// width s lies 0.4 s above its middle, and 1.28 of its deviation, s / sqrt(12), is 0.37 s).
// Without it, the paper on a steep slope came out too bright by a good part of a block's fall of
// light, and a blank page's dark corner black. The slope along an axis is the lesser change to
// the blocks on each side when both go the same way (light falls or rises evenly; a stain's or a
// shadow's edge, a block of ink, is a step on one side only, no slope), that to the one block
// there is at the grid's edge.
void below_percentile(std::vector<float>& grid, int rows, int columns, double sigma) {
  const std::vector<float> levels = grid;
  const auto at = [&](int y, int x) { return levels[static_cast<std::size_t>(y) * columns + x]; };
  const auto slope = [](bool has_before, float before, float here, bool has_after, float after) {
    if (has_before && has_after) return slope_between(before, here, after);
    const double down = double(here) - before, up = double(after) - here;
    if (!has_before) return has_after ? up : 0.0;
    return down;
  };
  for (int y = 0; y < rows; ++y) {
    // The inner blocks of the inner rows in a vectorised loop, then the others one by one.
    const bool inner = y > 0 && y + 1 < rows && columns > 2;
    const std::size_t row = static_cast<std::size_t>(y) * columns;
    if (inner) {
      below_inner(levels.data() + row - columns, levels.data() + row, levels.data() + row + columns,
                  columns, sigma, grid.data() + row);
    }
    for (int x = 0; x < columns; x += inner ? columns - 1 : 1) {
      const float here = at(y, x);
      const double across = slope(x > 0, x > 0 ? at(y, x - 1) : here, here, x + 1 < columns,
                                  x + 1 < columns ? at(y, x + 1) : here);
      const double along = slope(y > 0, y > 0 ? at(y - 1, x) : here, here, y + 1 < rows,
                                 y + 1 < rows ? at(y + 1, x) : here);
      grid[row + x] = below_by_spread(here, across, along, sigma);
    }
  }
}

double AutoStatistics::centre(int g) const {
  const double first = double(g) * block_;
  const double last = std::min(double(columns_), double(g + 1) * block_);
  return (first + last - 1) / 2;
}

namespace {

// The values of one row of the block grid (`grid_columns` blocks of `block` columns, the last
// taking the columns left over) for `n` columns from `first`, in runs of one block each.
template <typename T>
void along_blocks(const T* row, int block, int grid_columns, std::int64_t first, std::size_t n,
                  T* out) {
  std::int64_t g = std::min<std::int64_t>(first / block, grid_columns - 1);
  for (std::size_t i = 0; i < n;) {
    const std::int64_t block_end =
        g + 1 >= grid_columns ? first + static_cast<std::int64_t>(n) : (g + 1) * block;
    const std::size_t stop =
        std::min(n, static_cast<std::size_t>(std::max<std::int64_t>(block_end - first, 1)));
    std::fill(out + i, out + std::max(stop, i + 1), row[g]);
    i = std::max(stop, i + 1);
    ++g;
  }
}

// Each block's lightest level under the paper by four deviations of its noise (`noise`, variances):
// a vectorised loop (a block for every letter of the page; the rounding up and the square root
// need the wider instruction sets' copies).
IMAGEFILES_VECTOR_CLONES void lightest_levels(const float* noise, std::size_t n,
                                              unsigned char* out) {
  for (std::size_t g = 0; g < n; ++g) {
    const int deep = static_cast<int>(std::ceil(4 * std::sqrt(noise[g])));
    out[g] = static_cast<unsigned char>(std::clamp(255 - deep, 0, 255));
  }
}

}  // namespace

void AutoStatistics::noise_along(int y, std::int64_t first, std::size_t n, float* out) const {
  along_blocks(noise_grid_.data() + static_cast<std::size_t>(block_row(y)) * grid_columns_, block_,
               grid_columns_, first, n, out);
}

void AutoStatistics::lightest_along(int y, std::int64_t first, std::size_t n, unsigned char* out,
                                    unsigned char* quiet_out) const {
  const std::size_t row = static_cast<std::size_t>(block_row(y)) * grid_columns_;
  along_blocks(lightest_grid_.data() + row, block_, grid_columns_, first, n, out);
  along_blocks(quiet_lightest_grid_.data() + row, block_, grid_columns_, first, n, quiet_out);
}

void AutoStatistics::faint_limits() {
  const auto [quietest, loudest] = std::minmax_element(noise_grid_.begin(), noise_grid_.end());
  quietest_ = *quietest;
  loudest_ = *loudest;
  lightest_grid_.resize(faint_noise_grid_.size());
  lightest_levels(faint_noise_grid_.data(), faint_noise_grid_.size(), lightest_grid_.data());
  quiet_lightest_grid_.resize(noise_grid_.size());
  lightest_levels(noise_grid_.data(), noise_grid_.size(), quiet_lightest_grid_.data());
}

float AutoStatistics::least_paper(int r, int g) const {
  const auto level = [&](int rr, int gg) {
    return grid_[static_cast<std::size_t>(rr) * grid_columns_ + gg];
  };
  const float here = level(r, g);
  if (r > 0 && r + 1 < grid_rows_ && g > 0 && g + 1 < grid_columns_) return here;
  // How far the paper falls beyond the centre of an outer block to the page's edge, in the line
  // of its inner neighbour (as paper_along and PaperRow extend it): along an axis of `blocks`
  // whose last row or column is `last`, block i's centre at centre_of(i) and its level at
  // level_at(i). A rise takes no paper below the block's own.
  const auto fall = [&](int i, int blocks, double last, auto&& centre_of, auto&& level_at) {
    if (blocks == 1 || (i != 0 && i != blocks - 1)) return 0.0f;
    const int inner = i == 0 ? 1 : blocks - 2;
    const double out = i == 0 ? centre_of(0) : last - centre_of(i);
    const double spacing = std::abs(centre_of(i) - centre_of(inner));
    if (spacing <= 0) return 0.0f;
    return std::min(0.0f, static_cast<float>((here - level_at(inner)) * out / spacing));
  };
  const auto centre_of_row = [&](int row) {
    return (double(row) * block_ + std::min(double(rows_), double(row + 1) * block_) - 1) / 2;
  };
  const float across = fall(
      g, grid_columns_, columns_ - 1.0, [&](int c) { return centre(c); },
      [&](int c) { return level(r, c); });
  const float down =
      fall(r, grid_rows_, rows_ - 1.0, centre_of_row, [&](int row) { return level(row, g); });
  if (!light_.curved) return std::max(here + across + down, here / 2);
  // Where the light bends, the paper beyond the centre follows its curve (paper_along,
  // paper_beyond): the least of its change from the centre to the block's outer sides and
  // halfway there, in blocks.
  const auto reach = [&](int i, int blocks, double centre_at, double last, double out[3]) {
    int k = 0;
    out[k++] = centre_at;
    if (i == 0) out[k++] = 0;
    if (i == blocks - 1) out[k++] = last;
    return k;
  };
  double xs[3], ys[3];
  const double xc = centre(g) / block_, yc = centre_of_row(r) / block_;
  const int nx = reach(g, grid_columns_, xc, (columns_ - 1.0) / block_, xs);
  const int ny = reach(r, grid_rows_, yc, (rows_ - 1.0) / block_, ys);
  double change = 0;
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      for (const double t : {0.5, 1.0}) {
        const double x = xc + t * (xs[i] - xc), y = yc + t * (ys[j] - yc);
        change = std::min(change, light_.at(x, y) - light_.at(xc, yc));
      }
    }
  }
  return std::max(here + static_cast<float>(change), here / 2);
}

double AutoStatistics::mean_amplification(int top, int bottom, std::int64_t first,
                                          std::size_t n) const {
  // The paper as the decision divides by it (PaperRow): the reciprocals of the block rows' paper
  // interpolated between their centres, the curve followed beyond the outer ones; on 8 rows, the
  // most amplified row's mean (the block's whole mean left a blank page's vignetted corner, its
  // light followed in part, for writing).
  constexpr int lines = 8;
  std::vector<float> above(n), below(n);
  double most = 0;
  for (int i = 0; i < lines; ++i) {
    const int y = top + static_cast<int>((bottom - top) * (i + 0.5) / lines);
    const Between at = between_rows(y);
    float weight = at.weight;
    if (weight < 0 || weight > 1) {
      paper_beyond(y, first, n, above.data());
      weight = 0;
    } else {
      paper_along(at.above, first, n, above.data());
      paper_along(at.below, first, n, below.data());
    }
    double sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const double high = 255.0 / std::max(above[k], 1.0f);
      const double low = weight > 0 ? 255.0 / std::max(below[k], 1.0f) : high;
      const double factor = high + weight * (low - high);
      sum += factor * factor;
    }
    most = std::max(most, sum / double(n));
  }
  return most;
}

void AutoStatistics::fit_light_of_grid() {
  const double sigma =
      grid_.empty() ? 0 : std::sqrt(double(noise_grid_[0])) * std::max(grid_[0], 1.0f) / 255;
  light_ = fitted_light(grid_, grid_rows_, grid_columns_, block_, rows_, columns_, sigma);
}

void AutoStatistics::paper_beyond(int y, std::int64_t first, std::size_t n, float* out) const {
  const Between at = between_rows(y);
  const bool top = at.weight < 0;
  const int edge = top ? at.above : at.below;
  std::vector<float> inner(n);
  paper_along(edge, first, n, out);
  paper_along(top ? at.below : at.above, first, n, inner.data());
  const double row =
      (double(edge) * block_ + std::min(double(rows_), double(edge + 1) * block_) - 1) / 2 / block_;
  const double down = double(y) / block_;
  // How far y lies beyond the edge row's centre, in spacings of the two rows (as PaperRow
  // extends their reciprocals in a line).
  const double beyond = top ? -at.weight : at.weight - 1;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(first + static_cast<std::int64_t>(i)) / block_;
    const float change = static_cast<float>(light_.at(x, down) - light_.at(x, row));
    // No brighter than the line of the two rows (light falling faster than the curve at the
    // page's edge, as a vignette's corner does), down to half the edge row's paper.
    const double edge_reciprocal = 1.0 / std::max(out[i], 1.0f);
    const double step = std::max(0.0, edge_reciprocal - 1.0 / std::max(inner[i], 1.0f));
    const double line = 1.0 / (edge_reciprocal + beyond * step);
    const float lowest = std::min(out[i] + change, static_cast<float>(line));
    out[i] = std::clamp(lowest, out[i] / 2, out[i]);
  }
}

AutoStatistics::Between AutoStatistics::between_rows(int y) const {
  const auto centre_of_row = [&](int g) {
    return (double(g) * block_ + std::min(double(rows_), double(g + 1) * block_) - 1) / 2;
  };
  int above = std::clamp(static_cast<int>((y - (block_ - 1) / 2.0) / block_), 0, grid_rows_ - 1);
  if (above + 1 < grid_rows_ && y >= centre_of_row(above + 1)) ++above;
  // Below the last centre: between the last two rows, beyond the second.
  above = std::max(0, std::min(above, grid_rows_ - 2));
  const int below = std::min(above + 1, grid_rows_ - 1);
  const double span = centre_of_row(below) - centre_of_row(above);
  // Beyond the outer centres the weight leaves 0 to 1: the paper goes on in the line of the two
  // outer block rows where it falls towards the edge (PaperRow bounds it, and holds a rise).
  const float weight = span > 0 ? static_cast<float>((y - centre_of_row(above)) / span) : 0;
  return {above, below, weight};
}

void AutoStatistics::paper_along(int block_row, std::int64_t first, std::size_t n,
                                 float* out) const {
  const float* levels = grid_.data() + static_cast<std::size_t>(block_row) * grid_columns_;
  const std::int64_t end = first + static_cast<std::int64_t>(n);
  std::int64_t x = first;
  // The block whose centre is at or before x (-1 before the first); each stretch below ends at
  // the next centre, so that the next stretch is the next block's.
  int g = static_cast<int>(
      std::floor((static_cast<double>(x) - (block_ - 1) / 2.0) / static_cast<double>(block_)));
  g = std::clamp(g, -1, grid_columns_ - 1);
  if (g + 1 < grid_columns_ && static_cast<double>(x) >= centre(g + 1)) ++g;
  for (; x < end; g = std::min(g + 1, grid_columns_ - 1)) {
    std::int64_t stop = end;
    double from;
    double slope = 0;
    int edge = -1;  // beyond the outer centres: the block whose level bounds the line
    if (g < 0 || g + 1 >= grid_columns_) {
      // Beyond the outer centres, light falling off towards the page's edge keeps falling in the
      // line of the two outer blocks (held level, the paper there was too bright and a blank
      // page's edge came out black); light rising towards it is held, as smoothed() does.
      edge = g < 0 ? 0 : grid_columns_ - 1;
      const int inner = g < 0 ? std::min(1, grid_columns_ - 1) : std::max(0, grid_columns_ - 2);
      if (g < 0) stop = std::min(end, static_cast<std::int64_t>(std::ceil(centre(0))));
      if (inner != edge) slope = (levels[edge] - levels[inner]) / (centre(edge) - centre(inner));
      if (g < 0 ? slope < 0 : slope > 0) slope = 0;
      from = levels[edge] + slope * (static_cast<double>(x) - centre(edge));
      if (light_.curved) {
        // Where the light bends, along its curve from the outer block's level (its fall to the
        // page's edge is steeper than the line of the two outer blocks).
        const int count = static_cast<int>(std::max(stop, x + 1) - x);
        const double row = (double(block_row) * block_ +
                            std::min(double(rows_), double(block_row + 1) * block_) - 1) /
                           2 / block_;
        const double from_centre = light_.at(centre(edge) / block_, row);
        for (int i = 0; i < count; ++i) {
          const double at = static_cast<double>(x + i) / block_;
          const float change = static_cast<float>(light_.at(at, row) - from_centre);
          // No brighter than the line of the two outer blocks (a vignette's corner falls faster
          // than the curve).
          const float line =
              static_cast<float>(levels[edge] + slope * (double(x + i) - centre(edge)));
          out[x - first + i] =
              std::clamp(std::min(levels[edge] + change, line), levels[edge] / 2, levels[edge]);
        }
        x += count;
        continue;
      }
    } else {
      const double c0 = centre(g);
      const double c1 = centre(g + 1);
      stop = std::min(end, static_cast<std::int64_t>(std::ceil(c1)));
      slope = (levels[g + 1] - levels[g]) / (c1 - c0);
      from = levels[g] + slope * (static_cast<double>(x) - c0);
    }
    stop = std::max(stop, x + 1);
    const int count = static_cast<int>(stop - x);
    along_line(out + (x - first), count, from, slope);
    if (edge >= 0 && slope != 0) {
      // Down to half the outer block's level at most: a dark block beside a bright one (ink, a
      // stain's edge) is no slope to follow.
      const float low = levels[edge] / 2;
      for (float* o = out + (x - first); o < out + (x - first) + count; ++o) *o = std::max(*o, low);
    }
    x = stop;
  }
}

// By ranks in one register where the processor has AVX-512 and the block is small (every page
// but the coarsest), else by a selection: the same value.
unsigned char block_percentile(unsigned char* samples, std::size_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  if (avx512 && n <= 64) return block_percentile_avx512(samples, n);
#endif
  unsigned char* const nth = samples + (n - 1 - n / 10);
  std::nth_element(samples, nth, samples + n);
  return *nth;
}

}  // namespace imagefiles::detail
