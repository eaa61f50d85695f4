// auto's statistics as bytes and back: what the decision needs, for another process of the same
// build (imagefiles.dask sends them to the workers of a cluster), checked on the way back as if
// they came from anywhere.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "imagefiles/auto_threshold.h"

namespace imagefiles::detail {

namespace {

// The decision's state, field after field in this build's own layout (the bytes go to processes
// of the same build only).
constexpr char saved_tag[8] = {'a', 'u', 't', 'o', ' ', 'v', '6', '\0'};

template <typename T>
void put(std::string& bytes, const T& value) {
  bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
bool take(const std::string& bytes, std::size_t& at, T* value, std::size_t count = 1) {
  if (count > (bytes.size() - at) / sizeof(T)) return false;
  std::memcpy(value, bytes.data() + at, count * sizeof(T));
  at += count * sizeof(T);
  return true;
}

}  // namespace

std::string AutoStatistics::saved() const {
  std::string bytes(saved_tag, sizeof saved_tag);
  for (const int value :
       {rows_, columns_, window_, block_, grid_rows_, grid_columns_, reach_, run_reach_})
    put(bytes, value);
  put(bytes, static_cast<unsigned char>(blank_));
  put(bytes, whole_level_);
  // The formula is Wolf's: its numbers only (an enumeration is no field to read from bytes).
  const Formula& f = formula_;
  for (const double value : {f.k, f.range, f.minimum, f.a1, f.a0, f.b1, f.b0}) put(bytes, value);
  put(bytes, f.ceiling);
  bytes.append(reinterpret_cast<const char*>(grid_.data()), grid_.size() * sizeof(float));
  bytes.append(reinterpret_cast<const char*>(noise_grid_.data()),
               noise_grid_.size() * sizeof(float));
  bytes.append(reinterpret_cast<const char*>(faint_noise_grid_.data()),
               faint_noise_grid_.size() * sizeof(float));
  return bytes;
}

bool AutoStatistics::restore(const std::string& bytes) {
  std::size_t at = 0;
  char tag[sizeof saved_tag];
  int fields[8];
  unsigned char blank = 0;
  int whole_level = 0;
  double numbers[7];
  int ceiling = 0;
  if (!take(bytes, at, tag, sizeof tag) || std::memcmp(tag, saved_tag, sizeof tag) != 0 ||
      !take(bytes, at, fields, 8) || !take(bytes, at, &blank) || !take(bytes, at, &whole_level) ||
      !take(bytes, at, numbers, 7) || !take(bytes, at, &ceiling)) {
    return false;
  }
  Formula formula{};
  formula.kind = Formula::wolf;
  std::tie(formula.k, formula.range, formula.minimum, formula.a1, formula.a0, formula.b1,
           formula.b0) =
      std::tie(numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5], numbers[6]);
  formula.ceiling = ceiling;
  const auto [rows, columns, window, block, grid_rows, grid_columns, reach, run_reach] = fields;
  // The grids' sizes follow from the page's and the block's, as end() makes them.
  if (rows != rows_ || columns != columns_ || window < 3 || window > widest_window ||
      window % 2 == 0 || reach < 0 || reach > std::max(0, window / 2 - 1) || run_reach < 0 ||
      run_reach > std::max(0, window / 2 - 1) || blank > 1 || whole_level < 0 ||
      whole_level > 256 || (blank == 1 && whole_level > 0) || block < 16 ||
      grid_rows != (rows_ + block - 1) / block || grid_columns != (columns_ + block - 1) / block) {
    return false;
  }
  const std::size_t cells = static_cast<std::size_t>(grid_rows) * std::size_t(grid_columns);
  if (bytes.size() - at != 3 * cells * sizeof(float)) return false;
  // Numbers as end() makes them: the decision divides by the paper and takes roots of the rest.
  for (const double value : {formula.k, formula.range, formula.minimum, formula.a1, formula.a0,
                             formula.b1, formula.b0}) {
    if (!std::isfinite(value)) return false;
  }
  if (formula.range <= 0 || formula.ceiling < 0 || formula.ceiling > 256) return false;
  std::vector<float> grid(cells), noise(cells), faint_noise(cells);
  take(bytes, at, grid.data(), cells);
  take(bytes, at, noise.data(), cells);
  take(bytes, at, faint_noise.data(), cells);
  for (std::size_t i = 0; i < cells; ++i) {
    // The faint strokes' noise is the page's where no block's own is louder (end()).
    if (!(grid[i] >= 1 && grid[i] <= 255) || !(noise[i] >= 0 && std::isfinite(noise[i])) ||
        !(faint_noise[i] >= noise[i] && std::isfinite(faint_noise[i])))
      return false;
  }
  grid_ = std::move(grid);
  noise_grid_ = std::move(noise);
  faint_noise_grid_ = std::move(faint_noise);
  window_ = window;
  reach_ = reach;
  run_reach_ = run_reach;
  block_ = block;
  grid_rows_ = grid_rows;
  grid_columns_ = grid_columns;
  faint_limits();  // from the grids, once their sizes are known
  fit_light_of_grid();
  blank_ = blank == 1;
  whole_level_ = whole_level;
  formula_ = formula;
  return true;
}

}  // namespace imagefiles::detail
