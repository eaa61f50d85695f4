// The light's curve on pages a few blocks across: the least-squares quadratic surface through the
// paper blocks' levels, which the grid is smoothed about and the paper follows beyond the outer
// blocks' centres where light falling off to the corners bends from one block to the next.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "imagefiles/auto_threshold.h"

namespace imagefiles::detail {
namespace {

// The least-squares quadratic surface through the blocks' levels (at their centres, in blocks),
// its coefficients of 1, x, y, x^2, x y, y^2; the curved terms only where three blocks lie along
// an axis. False where the system is singular.
bool fit_light(const std::vector<float>& grid, int rows, int columns, const std::vector<double>& xs,
               const std::vector<double>& ys, double c[6]) {
  const bool across = columns >= 3, down = rows >= 3;
  const bool used[6] = {true, true, true, across, across && down, down};
  double a[6][7] = {};
  int n = 0;
  for (int r = 0; r < rows; ++r) {
    for (int g = 0; g < columns; ++g) {
      const double x = xs[static_cast<std::size_t>(g)], y = ys[static_cast<std::size_t>(r)];
      const double all[6] = {1, x, y, x * x, x * y, y * y};
      double t[6];
      n = 0;
      for (int k = 0; k < 6; ++k) {
        if (used[k]) t[n++] = all[k];
      }
      const double v = grid[static_cast<std::size_t>(r) * columns + g];
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) a[i][j] += t[i] * t[j];
        a[i][n] += t[i] * v;
      }
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

// The 90th percentile of a block's paper under the surface `c`: its samples spread over the
// block's area (8 x 8 points from `first` to `last` in blocks along each axis) and by the noise.
double surface_percentile(const LightCurve& light, double x0, double x1, double y0, double y1,
                          double sigma) {
  constexpr int points = 8;
  double levels[points * points];
  for (int i = 0; i < points; ++i) {
    for (int j = 0; j < points; ++j) {
      levels[i * points + j] =
          light.at(x0 + (x1 - x0) * (j + 0.5) / points, y0 + (y1 - y0) * (i + 0.5) / points);
    }
  }
  const auto [lo, hi] = std::minmax_element(levels, levels + points * points);
  const double spread = std::max(sigma, 0.5);
  double below = *lo - 2 * spread, above = *hi + 2 * spread;
  for (int step = 0; step < 40; ++step) {  // the share below t rises with t
    const double t = (below + above) / 2;
    double share = 0;
    for (const double v : levels) share += 0.5 * std::erfc((v - t) / (spread * std::sqrt(2.0)));
    (share / (points * points) < 0.9 ? below : above) = t;
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
                               double sigma) {
  std::vector<float> curve;
  if (columns < 3 && rows < 3) return curve;
  // Block g's first and last sample along an axis of `size` samples, in blocks.
  const auto first = [](int g) { return double(g); };
  const auto last = [block](int g, int size) {
    return (std::min(double(size), double(g + 1) * block) - 1) / block;
  };
  const std::vector<double> xs = centres(columns, block, page_columns);
  const std::vector<double> ys = centres(rows, block, page_rows);
  LightCurve light;
  if (!fit_light(grid, rows, columns, xs, ys, light.c) || !bends(light.c, sigma)) return curve;
  // A block's 90th percentile lies above the paper at its centre by the light's spread over it
  // as well as the noise's, which a slope from the next block reads short where the light
  // bends: an outer block of a vignette falls by two or three times its neighbour's difference,
  // and its paper came out too bright (the page's edge black, a blank page taken for written).
  // Each percentile is brought to its centre by the surface's spread there, and the surface fitted
  // again, until the surface settles (a few rounds).
  for (int round = 0; round < 4; ++round) {
    for (int r = 0; r < rows; ++r) {
      for (int g = 0; g < columns; ++g) {
        const double x = xs[static_cast<std::size_t>(g)], y = ys[static_cast<std::size_t>(r)];
        const double above = surface_percentile(light, first(g), last(g, page_columns), first(r),
                                                last(r, page_rows), sigma) -
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

}  // namespace imagefiles::detail
