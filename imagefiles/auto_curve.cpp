// The light's curve on pages a few blocks across: the least-squares quadratic surface through the
// paper blocks' levels, which the grid is smoothed about and the paper follows beyond the outer
// blocks' centres where light falling off to the corners bends from one block to the next, or
// falls evenly and steeply across the page.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "imagefiles/auto_threshold.h"

namespace imagefiles::detail {
namespace {

// The normal equations' sums over the blocks, for the N terms used (N fixed, so that the loops
// unroll): their upper triangle only, the lower one mirrored after (the same products added in the
// same order).
template <int N>
void add_normal(const std::vector<float>& grid, int rows, int columns,
                const std::vector<double>& xs, const std::vector<double>& ys, const bool used[6],
                double a[6][7]) {
  for (int r = 0; r < rows; ++r) {
    for (int g = 0; g < columns; ++g) {
      const double x = xs[static_cast<std::size_t>(g)], y = ys[static_cast<std::size_t>(r)];
      const double all[6] = {1, x, y, x * x, x * y, y * y};
      double t[6];
      int n = 0;
      for (int k = 0; k < 6; ++k) {
        if (used[k]) t[n++] = all[k];
      }
      const double v = grid[static_cast<std::size_t>(r) * columns + g];
      for (int i = 0; i < N; ++i) {
        for (int j = i; j < N; ++j) a[i][j] += t[i] * t[j];
        a[i][N] += t[i] * v;
      }
    }
  }
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < i; ++j) a[i][j] = a[j][i];
  }
}

// The least-squares quadratic surface through the blocks' levels (at their centres, in blocks),
// its coefficients of 1, x, y, x^2, x y, y^2; the curved terms only where three blocks lie along
// an axis. False where the system is singular.
bool fit_light(const std::vector<float>& grid, int rows, int columns, const std::vector<double>& xs,
               const std::vector<double>& ys, double c[6]) {
  const bool across = columns >= 3, down = rows >= 3;
  const bool used[6] = {true, true, true, across, across && down, down};
  double a[6][7] = {};
  // No block: no equation (n 0, as before any block).
  const int n = rows > 0 && columns > 0 ? static_cast<int>(std::count(used, used + 6, true)) : 0;
  if (n > 0) {
    if (n == 6) {
      add_normal<6>(grid, rows, columns, xs, ys, used, a);
    } else if (n == 4) {
      add_normal<4>(grid, rows, columns, xs, ys, used, a);
    } else {
      add_normal<3>(grid, rows, columns, xs, ys, used, a);
    }
  }
  // Gaussian elimination with partial pivoting.
  for (int i = 0; i < n; ++i) {
    int pivot = i;
    for (int k = i + 1; k < n; ++k) {
      if (std::abs(a[k][i]) > std::abs(a[pivot][i])) pivot = k;
    }
    if (std::abs(a[pivot][i]) < 1e-9) return false;
    for (int j = 0; j <= n; ++j) std::swap(a[i][j], a[pivot][j]);
    for (int k = 0; k < n; ++k) {
      if (k == i) continue;
      const double f = a[k][i] / a[i][i];
      for (int j = i; j <= n; ++j) a[k][j] -= f * a[i][j];
    }
  }
  for (int i = 0, k = 0; k < 6; ++k) c[k] = used[k] ? a[i][n] / a[i][i] : 0, i += used[k];
  return true;
}

// The 90th percentile of a block's paper under the surface `c`, as block_percentile() reads it:
// the (n / 10 + 1)-th largest of its n samples at columns `xs` x rows `ys` (in blocks; up to 8
// of each, evenly among those read), each spread by the noise.
double surface_percentile(const LightCurve& light, const std::vector<double>& xs,
                          const std::vector<double>& ys, double sigma) {
  static constexpr std::size_t most = 8;
  const auto picked = [](const std::vector<double>& at, std::size_t k) {
    const std::size_t count = std::min(at.size(), most);
    return at[count > 1 ? k * (at.size() - 1) / (count - 1) : 0];
  };
  const std::size_t columns = std::min(xs.size(), most), rows = std::min(ys.size(), most);
  double levels[most * most];
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < columns; ++j) {
      levels[i * columns + j] = light.at(picked(xs, j), picked(ys, i));
    }
  }
  const std::size_t count = rows * columns;
  const std::size_t n = xs.size() * ys.size();
  // The rank's share below, half a sample into it (a sharp surface then gives that sample).
  const double wanted = (double(n - 1 - n / 10) + 0.5) / double(n);
  const auto [lo, hi] = std::minmax_element(levels, levels + count);
  const double spread = std::max(sigma, 0.5);
  double below = *lo - 2 * spread, above = *hi + 2 * spread;
  for (int step = 0; step < 40; ++step) {  // the share below t rises with t
    const double t = (below + above) / 2;
    double share = 0;
    for (std::size_t k = 0; k < count; ++k) {
      share += 0.5 * std::erfc((levels[k] - t) / (spread * std::sqrt(2.0)));
    }
    (share / double(count) < wanted ? below : above) = t;
  }
  return (below + above) / 2;
}

// The centres of `count` blocks of side `block` along an axis of `size` samples, in blocks.
std::vector<double> centres(int count, int block, int size) {
  std::vector<double> at(static_cast<std::size_t>(count));
  for (int g = 0; g < count; ++g) {
    at[static_cast<std::size_t>(g)] =
        (double(g) * block + std::min(double(size), double(g + 1) * block) - 1) / 2 / block;
  }
  return at;
}

// What the curve moves a 3 x 3 mean by (x^2 and y^2 average 2 / 3 over it): where the noise
// moves a block's percentile as far (a page many blocks across, 0.4 against 10 on the noisiest
// page generated; 10 to 30 against 1.5 on small vignetted pages), the light is taken as straight.
// Half a level at least: a page drawn without noise, flat, is not curved.
bool bends(const double c[6], double sigma) {
  return 2.0 / 3 * std::abs(c[3] + c[5]) > 1.28 * std::max(sigma, 0.5);
}

// Whether light falling evenly across the page, fitted to its `grid` at
// `xs` x `ys` (`light`), moves the blocks' percentiles as a bend does: its slope over a block above
// what the noise moves a block's percentile by, and six times the blocks' own spread about the
// surface (their deviation from it: light falling linearly to a third across a label lies on it
// within a deviation of the noise; a stain's or a shadow's edge, a page's uneven light, do not, 2
// to 40). Read where the step between sampled columns leaves a last narrow block, or on a block's
// few dozen samples, its percentile lies a good part of a block's fall from its centre (the dark
// edge of a label taken 3 to 8 levels too bright or too dark).
bool falls_evenly(const std::vector<float>& grid, int rows, int columns,
                  const std::vector<double>& xs, const std::vector<double>& ys,
                  const LightCurve& light, double sigma) {
  // Only on a page a few blocks across (a label, a word), where it was seen and judged: on an A4
  // page lit across, each block's search for its percentile made `auto` twenty times slower.
  constexpr int few_blocks = 16;
  if (rows > few_blocks || columns > few_blocks) return false;
  const double slope = std::hypot(light.c[1], light.c[2]);
  if (slope <= 1.28 * std::max(sigma, 0.5)) return false;
  double spread = 0;
  for (int r = 0; r < rows; ++r) {
    for (int g = 0; g < columns; ++g) {
      const double off = grid[static_cast<std::size_t>(r) * columns + g] -
                         light.at(xs[static_cast<std::size_t>(g)], ys[static_cast<std::size_t>(r)]);
      spread += off * off;
    }
  }
  return slope * slope > 36 * spread / double(grid.size());
}

}  // namespace

LightCurve fitted_light(const std::vector<float>& grid, int rows, int columns, int block,
                        int page_rows, int page_columns, double sigma) {
  LightCurve light;
  if (columns < 3 && rows < 3) return light;
  const std::vector<double> xs = centres(columns, block, page_columns);
  const std::vector<double> ys = centres(rows, block, page_rows);
  light.curved = fit_light(grid, rows, columns, xs, ys, light.c) && bends(light.c, sigma);
  return light;
}

std::vector<float> light_curve(std::vector<float>& grid, const std::vector<float>& percentiles,
                               int rows, int columns, int block, int page_rows, int page_columns,
                               double sigma, const SampledBlocks& sampled) {
  std::vector<float> curve;
  if (columns < 3 && rows < 3) return curve;
  const std::vector<double> xs = centres(columns, block, page_columns);
  const std::vector<double> ys = centres(rows, block, page_rows);
  LightCurve light;
  if (!fit_light(grid, rows, columns, xs, ys, light.c)) return curve;
  if (!bends(light.c, sigma) && !falls_evenly(grid, rows, columns, xs, ys, light, sigma))
    return curve;
  // Where each block's samples were read, in blocks: across, the sampled columns (a last block
  // narrower than their step is read on the column before it, ten samples from its centre on a
  // small page, where a vignette falls by ten levels); down, the sampled rows. A block of a few
  // dozen samples has its percentile at the third largest, far above the middle of their spread.
  std::vector<std::vector<double>> read_columns(static_cast<std::size_t>(columns));
  std::vector<std::vector<double>> read_rows(static_cast<std::size_t>(rows));
  for (int g = 0; g < columns; ++g) {
    const std::size_t k = static_cast<std::size_t>(g);
    for (double x = sampled.first[k]; x <= sampled.last[k]; x += sampled.across) {
      read_columns[k].push_back(x / block);
    }
  }
  for (int r = 0; r < rows; ++r) {
    for (int y = r * block; y < std::min(page_rows, (r + 1) * block); y += sampled.down) {
      read_rows[static_cast<std::size_t>(r)].push_back(double(y) / block);
    }
  }
  // A block's 90th percentile lies above the paper at its centre by the light's spread over its
  // samples as well as the noise's, which a slope from the next block reads short where the light
  // bends: an outer block of a vignette falls by two or three times its neighbour's difference,
  // and its paper came out too bright (the page's edge black, a blank page taken for written).
  // Each percentile is brought to its centre by the surface's spread there, and the surface fitted
  // again, until the surface settles (a few rounds).
  for (int round = 0; round < 4; ++round) {
    for (int r = 0; r < rows; ++r) {
      for (int g = 0; g < columns; ++g) {
        const double x = xs[static_cast<std::size_t>(g)], y = ys[static_cast<std::size_t>(r)];
        const double above = surface_percentile(light, read_columns[static_cast<std::size_t>(g)],
                                                read_rows[static_cast<std::size_t>(r)], sigma) -
                             light.at(x, y);
        const std::size_t i = static_cast<std::size_t>(r) * columns + g;
        grid[i] = std::max(1.0f, static_cast<float>(percentiles[i] - above));
      }
    }
    if (!fit_light(grid, rows, columns, xs, ys, light.c)) return curve;
  }
  curve.resize(grid.size());
  for (int r = 0; r < rows; ++r) {
    for (int g = 0; g < columns; ++g) {
      curve[static_cast<std::size_t>(r) * columns + g] = static_cast<float>(
          light.at(xs[static_cast<std::size_t>(g)], ys[static_cast<std::size_t>(r)]));
    }
  }
  return curve;
}

SampledBlocks AutoStatistics::sampled_blocks() const {
  SampledBlocks sampled;
  sampled.down = down_;
  sampled.across = across_;
  for (int g = 0; g < grid_columns_; ++g) {
    const std::size_t k = static_cast<std::size_t>(g);
    if (k < block_columns_.size()) {
      sampled.first.push_back(double(block_columns_[k].from) * across_);
      sampled.last.push_back(double(block_columns_[k].to - 1) * across_);
    } else {  // not read by columns: the block's own
      sampled.first.push_back(double(g) * block_);
      sampled.last.push_back(std::min(double(columns_), double(g + 1) * block_) - 1);
    }
  }
  return sampled;
}

}  // namespace imagefiles::detail
