// The paper's brightness of a page over a coarse grid, for the measure of the page's scale.

#ifndef IMAGEFILES_COARSE_PAPER_H
#define IMAGEFILES_COARSE_PAPER_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace imagefiles::detail {

// `n` samples divided by the paper's brightness, into 0 to 255: sample g's paper lies `weight[g]`
// of the way from `from` to `from` + `step` (page_scale.cpp: a vectorised loop).
void divide_by_paper(const unsigned char* samples, std::size_t n, float from, float step,
                     const float* weight, unsigned char* out);

// The paper's brightness over a coarse grid of the page (at most 16 x 16 blocks, whatever the
// size of the writing, so that a block is larger than the letters of any page but a poster),
// each block's 90th percentile of up to 32 x 32 samples spread over it (one in two of a small
// block's rows and columns, at least 8); and samples of the page
// divided by it, so that a shadow or a dark corner does not move the global split. The grid is
// gathered a row at a time.
class CoarsePaper {
 public:
  CoarsePaper(int rows, int columns) : rows_(rows), columns_(columns) {
    grid_rows_ = std::min(16, rows);
    grid_columns_ = std::min(16, columns);
    counts_.assign(static_cast<std::size_t>(grid_rows_) * grid_columns_ * 256, 0);
    sample_rows_ = spread(rows, grid_rows_);
    sample_columns_ = spread(columns, grid_columns_);
  }

  // `n` samples of row `y` of the page from column `first`; rows in order.
  void gather(int y, std::int64_t first, const unsigned char* samples, std::size_t n) {
    while (next_ < sample_rows_.size() && sample_rows_[next_].at < y) ++next_;
    const std::int64_t end = first + static_cast<std::int64_t>(n);
    for (std::size_t r = next_; r < sample_rows_.size() && sample_rows_[r].at == y; ++r) {
      std::uint32_t* counts =
          counts_.data() + static_cast<std::size_t>(sample_rows_[r].block) * grid_columns_ * 256;
      for (const Sample& c : sample_columns_) {
        if (c.at >= first && c.at < end) ++counts[c.block * 256 + samples[c.at - first]];
      }
    }
  }

  // The grid, once every row has been gathered.
  void end() {
    paper_.resize(static_cast<std::size_t>(grid_rows_) * grid_columns_);
    for (int by = 0; by < grid_rows_; ++by) {
      const std::int64_t height =
          std::int64_t{by + 1} * rows_ / grid_rows_ - std::int64_t{by} * rows_ / grid_rows_;
      const std::int64_t ny = std::min(per_cell(height), height);
      for (int bx = 0; bx < grid_columns_; ++bx) {
        const std::int64_t width = std::int64_t{bx + 1} * columns_ / grid_columns_ -
                                   std::int64_t{bx} * columns_ / grid_columns_;
        const std::int64_t nx = std::min(per_cell(width), width);
        const std::uint32_t* counts =
            counts_.data() + (static_cast<std::size_t>(by) * grid_columns_ + bx) * 256;
        const std::int64_t above = ny * nx / 10;
        std::int64_t seen = 0;
        int v = 255;
        for (; v > 1; --v) {
          seen += counts[v];
          if (seen > above) break;
        }
        paper_[static_cast<std::size_t>(by) * grid_columns_ + bx] = static_cast<float>(v);
      }
    }
    counts_ = {};
  }

  // `n` samples of row `y`, sample g from column first + g x step, divided by the paper's
  // brightness, into `out`.
  void normalise(int y, const unsigned char* samples, std::size_t n, std::int64_t first, int step,
                 unsigned char* out) {
    // Where each sample falls between the blocks' centres, once for all the rows of these
    // columns (the division and rounding cost more than the rest of the measure).
    if (first != table_first_ || step != table_step_ || n != table_weight_.size()) {
      table_weight_.resize(n);
      runs_.clear();
      for (std::size_t g = 0; g < n; ++g) {
        const Between b =
            between(first + static_cast<std::int64_t>(g) * step, columns_, grid_columns_);
        table_weight_[g] = b.weight;
        if (runs_.empty() || runs_.back().first != b.first || runs_.back().side != b.side) {
          runs_.push_back({g, b.first, b.second, b.side});
        }
      }
      table_first_ = first;
      table_step_ = step;
    }
    const Between down = between(y, rows_, grid_rows_);
    float level[16];
    for (int bx = 0; bx < grid_columns_; ++bx) {
      const Line line = line_of(at(down.first, bx), at(down.second, bx), down.side);
      level[bx] = line.from + line.step * down.weight;
    }
    // In runs of samples between the same two blocks.
    for (std::size_t r = 0; r < runs_.size(); ++r) {
      const Run& run = runs_[r];
      const std::size_t end = r + 1 < runs_.size() ? runs_[r + 1].start : n;
      const Line line = line_of(level[run.first], level[run.second], run.side);
      divide_by_paper(samples + run.start, end - run.start, line.from, line.step,
                      table_weight_.data() + run.start, out + run.start);
    }
  }

 private:
  // Where a sample lies between the centres of two blocks (weight 0 at the first, 1 at the
  // second), or beyond the outer centres (side -1 before the first block's, 1 after the last's,
  // the weight then below 0 or above 1).
  struct Between {
    int first, second;
    float weight;
    int side;
  };
  // The paper along the line from block level `a` (weight 0) to `b` (weight 1): from + step x
  // weight. Beyond the outer centres, light that falls towards the page's edge keeps falling in
  // their line (held level, the paper in a dark corner was too bright, and a blank page's noise
  // there was read as writing), by at most the outer block's own level a block (half of it at
  // the edge: a dark block beside a bright one is no slope to follow); light that rises towards
  // the edge is held.
  struct Line {
    float from, step;
  };
  static Line line_of(float a, float b, int side) {
    if (side == 0) return {a, b - a};
    const float edge = side < 0 ? a : b;
    const float fall = std::min(side < 0 ? b - a : a - b, edge);
    if (fall <= 0) return {edge, 0};
    return side < 0 ? Line{a, fall} : Line{b + fall, -fall};
  }
  struct Sample {
    int at;     // the row or column
    int block;  // its block along that axis
  };
  static std::int64_t per_cell(std::int64_t size) {
    return std::clamp<std::int64_t>(size / 2, 8, 32);
  }
  // Up to 32 positions in each of `cells` equal parts of `size`, at the middles of equal steps.
  static std::vector<Sample> spread(int size, int cells) {
    std::vector<Sample> samples;
    for (int cell = 0; cell < cells; ++cell) {
      const std::int64_t first = std::int64_t{cell} * size / cells;
      const std::int64_t end = std::int64_t{cell + 1} * size / cells;
      const std::int64_t n = std::min<std::int64_t>(per_cell(end - first), end - first);
      for (std::int64_t i = 0; i < n; ++i) {
        samples.push_back({static_cast<int>(first + (2 * i + 1) * (end - first) / (2 * n)), cell});
      }
    }
    return samples;
  }
  // Where `i` falls between the centres of the blocks of an axis.
  static Between between(std::int64_t i, int size, int blocks) {
    const float at =
        (static_cast<float>(i) + 0.5f) * static_cast<float>(blocks) / static_cast<float>(size) -
        0.5f;
    if (blocks == 1) return {0, 0, 0, 0};
    const int first = std::clamp(static_cast<int>(std::floor(at)), 0, blocks - 2);
    const int side = at < 0 ? -1 : at > static_cast<float>(blocks - 1) ? 1 : 0;
    return {first, first + 1, at - static_cast<float>(first), side};
  }
  float at(int by, int bx) const {
    return paper_[static_cast<std::size_t>(by) * grid_columns_ + bx];
  }

  int rows_, columns_, grid_rows_, grid_columns_;
  std::vector<std::uint32_t> counts_;
  std::vector<Sample> sample_rows_, sample_columns_;
  std::size_t next_ = 0;
  std::vector<float> paper_;
  // Where each sample falls between the blocks' centres: its weight (4 bytes a column: a table
  // holds a sampled row, up to millions of columns), and the runs of samples between the same two
  // blocks (a grid has at most 16 a side).
  struct Run {
    std::size_t start;
    int first, second, side;
  };
  std::vector<float> table_weight_;
  std::vector<Run> runs_;
  std::int64_t table_first_ = -1;
  int table_step_ = 0;
};

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_COARSE_PAPER_H
