// The heights of a page's letters, from the connected components of its ink.

#include "imagefiles/letter_heights.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace imagefiles::detail {

int middle_mean_of(const std::vector<std::uint64_t>& counts) {
  const std::uint64_t total = std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
  if (total == 0) return 0;
  // Four times each count, so that the quartiles fall on whole numbers.
  const std::uint64_t low = total;
  const std::uint64_t high = 3 * total;
  std::uint64_t seen = 0;
  double sum = 0;
  for (std::size_t v = 0; v < counts.size(); ++v) {
    const std::uint64_t from = seen;
    seen += 4 * counts[v];
    const std::uint64_t begin = std::max(from, low);
    const std::uint64_t end = std::min(seen, high);
    const std::uint64_t inside = end > begin ? end - begin : 0;
    sum += static_cast<double>(v) * static_cast<double>(inside);
    if (seen >= high) break;
  }
  return static_cast<int>(std::lround(sum / static_cast<double>(2 * total)));
}

void LetterHeights::band(int first, int last, const unsigned char* samples,
                         std::vector<std::uint64_t>& heights) {
  parent_.clear();
  components_.clear();
  previous_.clear();
  const int grid_columns = static_cast<int>(grid_columns_);
  // A component that touches a side of the grid is cut: by the band, or by the page's edge,
  // where the "ink" is more often paper that the coarse paper does not follow (a steep dark
  // corner, whose whole area was read as one letter) than a letter.
  line_.resize(grid_columns_);
  for (int y = first; y < last; y += step_) {
    current_.clear();
    paper_.normalise(y, samples, line_.size(), first_, step_, line_.data());
    samples += line_.size();
    const unsigned char* line = line_.data();
    const int g = (y - first) / step_;
    const bool edge = y == first || y + step_ >= last;
    for (int x = 0; x < grid_columns;) {
      if (line[x] >= level_) {
        ++x;
        continue;
      }
      const int begin = x;
      while (x < grid_columns && line[x] < level_) ++x;
      const int label = static_cast<int>(parent_.size());
      parent_.push_back(label);
      const bool cut = edge || begin == 0 || x == grid_columns;
      components_.push_back({g, g, begin, x - 1, std::uint64_t(x - begin), cut});
      current_.push_back({begin, x, label});
    }
    // Runs of this row and of the one above that touch, diagonals included, are one component.
    std::size_t j = 0;
    for (const Run& run : current_) {
      while (j < previous_.size() && previous_[j].end < run.begin) ++j;
      for (std::size_t k = j; k < previous_.size() && previous_[k].begin <= run.end; ++k) {
        join(run.label, previous_[k].label);
      }
    }
    std::swap(previous_, current_);
  }
  for (std::size_t c = 0; c < components_.size(); ++c) {
    if (parent_[c] != static_cast<int>(c)) continue;
    const Component& k = components_[c];
    const std::int64_t height = std::int64_t{k.bottom - k.top + 1} * step_;
    const std::int64_t width = std::int64_t{k.right - k.left + 1} * step_;
    const std::int64_t area = static_cast<std::int64_t>(k.area) * step_ * step_;
    // Specks (smaller than a stroke's square, or not taller than a stroke), rules (far wider
    // than tall, or slanted: a thin line fills a tenth of its box, a letter far more) and, on
    // noisy pages, lines joined by stains are not letters.
    if (k.cut || height < 2 * stroke_ || area < 2 * std::int64_t{stroke_} * stroke_ ||
        width > 12 * height || 10 * area < width * height || height > tallest_ ||
        height >= std::int64_t(heights.size())) {
      continue;
    }
    // Counted once for each of its pixels: the letter height is that of the component the
    // median ink pixel lies in, which specks of noise (many, small) do not move.
    heights[static_cast<std::size_t>(height)] += static_cast<std::uint64_t>(area);
  }
}

int LetterHeights::find(int i) {
  while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
  return i;
}

void LetterHeights::join(int a, int b) {
  a = find(a);
  b = find(b);
  if (a == b) return;
  if (a > b) std::swap(a, b);
  parent_[b] = a;
  Component& into = components_[a];
  const Component& from = components_[b];
  into.top = std::min(into.top, from.top);
  into.bottom = std::max(into.bottom, from.bottom);
  into.left = std::min(into.left, from.left);
  into.right = std::max(into.right, from.right);
  into.area += from.area;
  into.cut = into.cut || from.cut;
}

}  // namespace imagefiles::detail
