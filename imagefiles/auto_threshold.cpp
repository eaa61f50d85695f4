// The automatic method, for pages photographed or scanned under uneven light, at any scale.
//
// Every size follows the page's own scale (ScaleMeasure: its stroke width and letter height): the
// local window is about one letter high, and the paper's blocks a little more. Paper lit unevenly
// (a shadow, a phone's light falling off, a stain) is first brought to one level: each sample is
// divided by the brightness of the paper around it, estimated as the 90th percentile of each
// block, smoothed over the blocks around and interpolated between block centres. On that
// normalised page, a pixel is ink when both a global threshold (halfway between the levels of
// ink and paper that Otsu's split gives) and a local one (Wolf's, k 0.5, with the largest block
// deviation) call it ink: the global one keeps blotches of paper white and the local one the
// show-through and noise between strokes.
//
// This file learns the page (AutoStatistics), with its noise measured in auto_noise.cpp;
// auto_decision.cpp decides its rows.

#include "imagefiles/auto_threshold.h"

#include "imagefiles/auto_loops.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace imagefiles::detail {
namespace {

// Rows of the page the statistics pass reads: one in four.
constexpr int statistics_step = 4;
// The statistics pass divides rows by the paper in pieces of this many columns, and keeps the
// paper rows of at most `kept_pieces` of them.
constexpr std::size_t piece = std::size_t{1} << 16;
// The most blocks in a row of the grid: beyond, on a strip millions of samples long, the blocks
// grow, so that the grid, the paper pass's samples and the block sums of a row of blocks keep
// within a few megabytes whatever the width (a page narrower than 500,000 samples never gets
// there).
constexpr std::int64_t most_grid_columns = 1 << 14;
constexpr std::size_t kept_pieces = 2;
// How far above its block's paper, in deviations of the noise, a sample shows a light mark: far
// beyond the noise's largest (a block's brightest sample of Gaussian noise lies within 4 of them).
constexpr double light_marks = 8;

// A block's writing is found beyond this many standard errors of its noise's estimates: one
// block in millions of blank paper goes beyond five.
constexpr double stray_errors = 5;

// A sample of a row read for the blank page's test lies in a mark where, within three samples on
// each side, the row climbs from it by `valley_deviations` deviations of the noise, and it lies
// `below_most` below the fourth lightest of those six: Gaussian noise digs such a valley about
// once in 10^9 samples (a 48 MP page's statistics pass reads 12 million); a fall of the light
// climbs on one side only.
constexpr double valley_deviations = 7;
constexpr double below_most = 6;
// A faint stroke (ink a fifth below the paper, under noise of a tenth of that) is shallower, but
// goes on in the next row read: valleys of 5 deviations, 4.5 below the fourth lightest, in two
// rows read one above the other within two columns (each about once in 10^5 samples of Gaussian
// noise, the pair once in 2 x 10^9).
constexpr double shallow_deviations = 5;
constexpr double shallow_below = 4.5;

// Whether the sums of squared differences of next neighbours and of neighbours a stroke apart
// (squares, fourth powers, count; then the same far apart) show writing, and its variance `left`:
// noise makes both alike, strokes the second larger. Half their difference is writing where it
// passes five standard errors and a grey level's variance.
bool shows_writing(const double sums[6], double& left) {
  left = 0;
  if (sums[2] <= 1 || sums[5] <= 1) return false;
  const double near = sums[0] / sums[2], far = sums[3] / sums[5];
  const double near_error = (sums[1] / sums[2] - near * near) / sums[2];
  const double far_error = (sums[4] / sums[5] - far * far) / sums[5];
  left = (far - near) / 2;
  const double error = std::sqrt(std::max(near_error + far_error, 0.0)) / 2;
  return left >= 1 && left > stray_errors * error;
}

}  // namespace

AutoStatistics::AutoStatistics(int rows, int columns)
    : rows_(rows), columns_(columns), scale_(rows, columns) {}

bool AutoStatistics::wanted(int pass, int y) const {
  if (pass < ScaleMeasure::passes) return true;
  if (pass == ScaleMeasure::passes) return (y % block_) % down_ == 0;
  return y % statistics_step == 0;
}

void AutoStatistics::gather(int pass, int y, std::int64_t first, const unsigned char* samples,
                            std::size_t n) {
  if (pass < ScaleMeasure::passes) return scale_.gather(pass, y, first, samples, n);
  if (!wanted(pass, y)) return;
  const std::size_t width = static_cast<std::size_t>(columns_);
  const std::size_t begin = static_cast<std::size_t>(first);
  const std::size_t end = begin + n;
  const bool row_ends = end == width;
  if (pass == ScaleMeasure::passes) {
    // The paper pass: this row's samples; at the end of a block row, each block's percentile.
    const std::size_t per_row = (width + across_ - 1) / across_;
    if (begin == 0) samples_.resize(static_cast<std::size_t>(sampled_rows_ + 1) * per_row);
    if (columns_ > 1) {
      add_differences(samples, begin, n);
      // Every other row of the pass is enough (a sum of them for each column: its cost).
      if ((y % block_ / down_) % 2 == 0) add_block_differences(samples, begin, n);
    } else if (n == 1) {
      // A single column has no pairs of columns: the noise from the rows sampled, in pairs
      // one above the other.
      if (pair_open_) count_pair(0, pair_first_, samples[0]);
      pair_open_ = true;
      pair_first_ = samples[0];
    }
    // The step in a local: a member would be read again after each byte stored (it may alias).
    const std::size_t across = static_cast<std::size_t>(across_);
    unsigned char* into = samples_.data() + static_cast<std::size_t>(sampled_rows_) * per_row;
    for (std::size_t k = (begin + across - 1) / across; k * across < end; ++k) {
      into[k] = samples[k * across - begin];
    }
    if (!row_ends) return;
    ++sampled_rows_;
    const int block_row = y / block_;
    const int last_wanted = std::min(rows_ - 1, (block_row + 1) * block_ - 1);
    if (y + down_ <= last_wanted) return;
    // Each block's sampled columns, the same on every block row (found once: a division each).
    if (block_columns_.empty()) {
      for (int g = 0; g < grid_columns_; ++g) {
        const std::size_t to =
            (std::min(width, static_cast<std::size_t>(g + 1) * block_) + across_ - 1) / across_;
        // A last block narrower than the step of the sampled columns has none of its own: the
        // page's last, just before it (it had no samples, its percentile 0, and was filled with
        // its neighbour's paper: too bright on the fall of a dark corner, which came out black).
        const std::size_t from =
            std::min((static_cast<std::size_t>(g) * block_ + across_ - 1) / across_, to - 1);
        block_columns_.push_back({from, to});
        sampled_columns_ += to - from;  // the last block may share a column with the one before
      }
    }
    // Each block's samples put together (a few dozen on a page of small letters), those of the
    // whole block row before any percentile: a block read whole just after its bytes were stored
    // waits for them.
    const std::size_t rows = static_cast<std::size_t>(sampled_rows_);
    block_samples_.resize(rows * sampled_columns_);
    unsigned char* block = block_samples_.data();
    const unsigned char* const sampled = samples_.data();
    for (const BlockColumns& columns : block_columns_) {
      const std::size_t from = columns.from, to = columns.to;  // as above
      for (std::size_t r = 0; r < rows; ++r) {
        const unsigned char* line = sampled + r * per_row;
        block = std::copy(line + from, line + to, block);
      }
    }
    block = block_samples_.data();
    for (int g = 0; g < grid_columns_; ++g) {
      const BlockColumns& columns = block_columns_[static_cast<std::size_t>(g)];
      const std::size_t n = rows * (columns.to - columns.from);
      grid_[static_cast<std::size_t>(block_row) * grid_columns_ + g] =
          static_cast<float>(block_percentile(block, n));
      block += n;
    }
    block_noise(block_row);
    sampled_rows_ = 0;
    return;
  }
  // The statistics pass: the samples divided by the paper's brightness, a piece at a time.
  for (std::size_t x = begin; x < end;) {
    const std::size_t chunk = x / piece;
    const std::size_t stop = std::min(end, (chunk + 1) * piece);
    const std::size_t m = stop - x;
    // The pieces' paper rows are kept from row to row, up to a number of them (a wider page
    // has them made again on each row).
    PaperRow& paper = paper_rows_[chunk % paper_rows_.size()];
    const std::int64_t chunk_first = static_cast<std::int64_t>(chunk * piece);
    if (paper.first() != chunk_first) {
      paper = PaperRow(chunk_first, std::min(piece, width - chunk * piece));
    }
    smallest_ =
        std::min<int>(smallest_, paper.normalise_smallest(*this, y, samples + (x - begin),
                                                          line_.data(), x - chunk * piece, m));
    if ((y / statistics_step) % 2 == 0)
      tally_.add(line_.data(), m);  // the histogram: one row in eight
    // Each block's moments, from the part of it here.
    add_to_blocks(line_.data(), m, x, static_cast<std::size_t>(moment_block_), block_sums_.size(),
                  block_sums_.data(), block_squares_.data());
    // The blank page's test (end_band): once a block has writing, no longer.
    if (flat_widest_ < 1) {
      add_quarters(line_.data(), m, x);
      std::copy(line_.data(), line_.data() + m, row_.data() + x);  // see below
      // As read, for find_valley (until it finds one).
      if (!valley_)
        std::copy(samples + (x - begin), samples + (x - begin) + m, read_row_.data() + x);
    }
    x = stop;
  }
  if (!row_ends) return;
  // While no block has writing by its variance (end_band), the lagged differences of the row.
  if (flat_widest_ < 1) {
    add_lagged_differences();
    if (!valley_) find_valley();
  }
  if ((band_samples_ += width) >= (std::uint64_t{1} << 30)) {
    tally_.add_to(histogram_);  // the tally counts in 32 bits
    tally_ = Tally{};
    band_samples_ = 0;
  }
  ++band_rows_read_;
  // A band of blocks ends every block_ rows; the rows left over join the last band.
  const int band_blocks = std::max(1, rows_ / moment_block_);
  const auto band_of = [&](int row) { return std::min(row / moment_block_, band_blocks - 1); };
  // The sums so far at the last row read in each of the band's first three quarters.
  const int next = y + statistics_step;
  const int band_top = band_of(y) * moment_block_;
  const int band_rows = band_of(y) + 1 == band_blocks ? rows_ - band_top : moment_block_;
  for (int q = 0; q < 3 && flat_widest_ < 1; ++q) {
    const int quarter_end = (q + 1) * band_rows;
    if (4 * (y - band_top) < quarter_end && 4 * (next - band_top) >= quarter_end) {
      for (std::size_t b = 0; b < block_sums_.size(); ++b)
        band_quarter_sums_[3 * b + static_cast<std::size_t>(q)] = block_sums_[b];
      quarter_rows_[q] = band_rows_read_;
    }
  }
  if (next >= rows_ || band_of(next) != band_of(y)) end_band(band_of(y));
}

void AutoStatistics::add_quarters(const unsigned char* samples, std::size_t n, std::size_t column) {
  const std::size_t width = static_cast<std::size_t>(columns_);
  const std::size_t size = static_cast<std::size_t>(moment_block_);
  const std::size_t blocks = block_sums_.size();
  for (std::size_t b = std::min(column / size, blocks - 1); b < blocks; ++b) {
    const std::size_t first = b * size;
    if (first >= column + n) break;
    const std::size_t block_width = b + 1 == blocks ? width - first : size;
    for (std::size_t q = 0; q < 3; ++q) {
      const std::size_t from = std::max(first + q * block_width / 4, column);
      const std::size_t to = std::min(first + (q + 1) * block_width / 4, column + n);
      std::uint32_t sum = 0;
      for (std::size_t i = from; i < to; ++i) sum += samples[i - column];
      quarter_sums_[3 * b + q] += sum;
    }
  }
}

double AutoStatistics::slope_variance(std::size_t b, std::size_t block_width) const {
  // Half the change between the halves' means, the change over a quarter of the block (d: its
  // slope adds 4 d^2 / 3 to the variance), at most the larger change between an outer quarter
  // and its inner neighbour that goes the same way: a step, as a solid area's edge through the
  // block's middle, moves the halves apart but neither pair of quarters, and is no slope.
  // A fall that curves (vignetting, over blocks a third of a small page) bends too: the lesser
  // of the quarters' two second differences when both bend the same way (a quadratic bends
  // both alike; a solid area's edge bends once, or one way then back) is its bend c, whose
  // curve adds c^2 / 2.8125 to the variance (four quarters' means of a Legendre P2 term).
  const auto lesser = [](const double means[4]) {
    const double half = (means[2] + means[3] - means[0] - means[1]) / 4;
    const double outer = half > 0 ? std::max(means[1] - means[0], means[3] - means[2])
                                  : std::min(means[1] - means[0], means[3] - means[2]);
    const double slope =
        half * outer <= 0 ? 0.0 : (half > 0 ? std::min(half, outer) : std::max(half, outer));
    const double first = means[2] - 2 * means[1] + means[0];
    const double second = means[3] - 2 * means[2] + means[1];
    const double bend = first * second <= 0 ? 0.0 : std::min(std::fabs(first), std::fabs(second));
    return 4 * slope * slope / 3 + bend * bend / 2.8125;
  };
  const double rows = double(band_rows_read_), total = double(block_sums_[b]);
  double across = 0, down = 0;
  if (block_width >= 4) {
    double means[4], rest = total;
    for (std::size_t q = 0; q < 4; ++q) {
      const double columns = double((q + 1) * block_width / 4 - q * block_width / 4);
      const double sum = q < 3 ? double(quarter_sums_[3 * b + q]) : rest;
      rest -= sum;
      means[q] = sum / (rows * columns);
    }
    across = lesser(means);
  }
  const int* ends = quarter_rows_;
  if (ends[0] > 0 && ends[1] > ends[0] && ends[2] > ends[1] && band_rows_read_ > ends[2]) {
    const double sums[3] = {double(band_quarter_sums_[3 * b]),
                            double(band_quarter_sums_[3 * b + 1]),
                            double(band_quarter_sums_[3 * b + 2])};
    const double width = double(block_width);
    const double means[4] = {sums[0] / (double(ends[0]) * width),
                             (sums[1] - sums[0]) / (double(ends[1] - ends[0]) * width),
                             (sums[2] - sums[1]) / (double(ends[2] - ends[1]) * width),
                             (total - sums[2]) / ((rows - double(ends[2])) * width)};
    down = lesser(means);
  }
  return across + down;
}

void AutoStatistics::find_valley() {
  // In the samples as read: within a few samples the paper changes by little, and the noise's
  // deviation is the page's (the division would amplify both alike). Paper between two specks of
  // salt climbs to both: the sample must also lie below most of its six neighbours (the fourth
  // lightest), as a stroke three samples wide does at its middle.
  const std::size_t width = static_cast<std::size_t>(columns_);
  if (width < 7) return;
  const double deviation = std::max(sigma_, 1.0);
  const int depth = static_cast<int>(std::ceil(valley_deviations * deviation));
  const int below = static_cast<int>(std::ceil(below_most * deviation));
  const int shallow_depth = static_cast<int>(std::ceil(shallow_deviations * deviation));
  const int shallow_under = static_cast<int>(std::ceil(shallow_below * deviation));
  const unsigned char* row = read_row_.data();
  shallow_here_.clear();
  for (std::size_t i = 3; i + 3 < width; ++i) {
    const int v = row[i];
    if (v + shallow_depth > 255) continue;
    const int left = std::max({row[i - 3], row[i - 2], row[i - 1]});
    const int right = std::max({row[i + 1], row[i + 2], row[i + 3]});
    if (std::min(left, right) - v < shallow_depth) continue;
    unsigned char around[6] = {row[i - 3], row[i - 2], row[i - 1],
                               row[i + 1], row[i + 2], row[i + 3]};
    std::nth_element(around, around + 2, around + 6);  // the fourth lightest, third darkest
    const int under = around[2] - v;
    if (std::min(left, right) - v >= depth && under >= below) {
      valley_ = true;
      return;
    }
    if (under < shallow_under) continue;
    shallow_here_.push_back(i);
    // The last row's shallow valleys, in order of their columns (a few at most).
    const auto near = std::lower_bound(shallow_.begin(), shallow_.end(), i - 2);
    if (near != shallow_.end() && *near <= i + 2) {
      valley_ = true;
      return;
    }
  }
  shallow_.swap(shallow_here_);
}

void AutoStatistics::add_lagged_differences() {
  // Each block's squared differences of next neighbours and of neighbours lag_ apart, and their
  // squares (for the standard errors), along the row divided by the paper.
  const std::size_t width = static_cast<std::size_t>(columns_);
  const std::size_t size = static_cast<std::size_t>(moment_block_);
  const std::size_t blocks = lag_sums_.size() / 4;
  const std::size_t far = static_cast<std::size_t>(lag_);
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t from = b * size;
    const std::size_t to = b + 1 == blocks ? width : std::min(width, from + size);
    double near1 = 0, near2 = 0, near4 = 0, far1 = 0, far2 = 0, far4 = 0;
    std::size_t near_n = 0, far_n = 0;
    for (std::size_t i = from; i < to && i + 1 < width; ++i) {
      const double d = double(row_[i]) - double(row_[i + 1]);
      near1 += d;
      near2 += d * d;
      near4 += d * d * d * d;
      ++near_n;
    }
    for (std::size_t i = from; i < to && i + far < width; ++i) {
      const double d = double(row_[i]) - double(row_[i + far]);
      far1 += d;
      far2 += d * d;
      far4 += d * d * d * d;
      ++far_n;
    }
    // About their mean along the piece of row: a slope of the light differs by s next and by
    // lag_ s apart, as strokes do, and would count as writing; a stroke's edges, down and up,
    // cancel in the mean, and the noise's telescope to its two ends'.
    if (near_n > 0) near2 -= near1 * near1 / double(near_n);
    if (far_n > 0) far2 -= far1 * far1 / double(far_n);
    double* sums = lag_sums_.data() + 4 * b;
    sums[0] += near2, sums[1] += near4, sums[2] += far2, sums[3] += far4;
    lag_counts_[2 * b] += double(near_n);
    lag_counts_[2 * b + 1] += double(far_n);
  }
}

void AutoStatistics::light_on_dark() {
  // Nothing darker than the paper, yet two classes of samples far apart, the lighter far brighter
  // than the paper anywhere: light writing on a dark ground (a negative, a slide), whose marks
  // the division by the paper clips. (Paper in a shadow is a darker class, not a lighter one.)
  // Each pair of neighbours counts its darker sample, light only inside a mark two samples wide,
  // not at a light speck of noise; the marks cover one pair in a hundred at least. Without a paper
  // to divide by, Otsu's split of those samples decides, dark as ink.
  std::uint64_t histogram[256] = {};
  std::uint64_t count = 0;
  for (int v = 0; v < 256; ++v) {
    histogram[v] = sampled_[0][v] + sampled_[1][v] + sampled_[2][v] + sampled_[3][v];
    count += histogram[v];
  }
  if (count == 0) return;
  const int level = otsu_level(histogram, count);
  double dark = 0, light = 0, n_dark = 0, n_light = 0;
  for (int v = 0; v < 256; ++v) {
    (v <= level ? dark : light) += double(v) * double(histogram[v]);
    (v <= level ? n_dark : n_light) += double(histogram[v]);
  }
  if (n_dark == 0 || n_light == 0) return;
  light /= n_light;
  dark /= n_dark;
  const double paper = *std::max_element(grid_.begin(), grid_.end()) + 1.28 * sigma_;
  const double apart = light_marks * std::max(sigma_, 1.0);
  if (light - dark > apart && light - paper > apart && n_light >= 0.01 * (n_dark + n_light)) {
    whole_level_ = level + 1;
    blank_ = false;
    std::fill(grid_.begin(), grid_.end(), 255.0f);
    light_ = LightCurve{};
  }
}

void AutoStatistics::end_band(int band) {
  const std::size_t width = static_cast<std::size_t>(columns_);
  const std::size_t size = static_cast<std::size_t>(moment_block_);
  // The rows of the band (the last takes the rows left over), and their rows of paper blocks.
  const int bands = std::max(1, rows_ / moment_block_);
  const int last_row = band + 1 == bands ? rows_ - 1 : (band + 1) * moment_block_ - 1;
  const int top = std::min(band * moment_block_ / block_, grid_rows_ - 1);
  const int bottom = std::min(last_row / block_, grid_rows_ - 1);
  // The last block takes the columns left over.
  const std::size_t blocks = std::max<std::size_t>(1, width / size);
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t first = b * size;
    const std::size_t block_width = b + 1 == blocks ? width - first : size;
    // The rows of the band that were read.
    const double n = double(band_rows_read_) * double(block_width);
    if (n == 0) continue;
    const double mean = double(block_sums_[b]) / n;
    const double squares = double(block_squares_[b]);
    // The deviation of the block's content: its variance less the noise's, amplified as the
    // division by the paper amplifies it (a dark, noisy block is no wide range of ink), under
    // the darkest paper block it covers.
    const auto column_of = [&](std::size_t x) {
      return static_cast<int>(std::min<std::size_t>(x / static_cast<std::size_t>(block_),
                                                    static_cast<std::size_t>(grid_columns_ - 1)));
    };
    float level = 255;
    for (int r = top; r <= bottom; ++r) {
      for (int g = column_of(first); g <= column_of(first + block_width - 1); ++g) {
        level = std::min(level, least_paper(r, g));
      }
    }
    const double factor = 255.0 / std::max(level, 1.0f);
    const double variance = squares / n - mean * mean;
    const double noise = sigma_ * sigma_ * factor * factor;
    // For the blank page's test, where the light bends, the noise amplified as on average over
    // the block (the paper following the curve beyond the outer centres), not as at its darkest
    // paper: over a page whose every block touches an edge, that took off more noise than the
    // blocks held, and words were lost.
    const double own_noise =
        light_.curved ? sigma_ * sigma_ *
                            mean_amplification(band * moment_block_, last_row,
                                               static_cast<std::int64_t>(first), block_width)
                      : noise;
    widest_ = std::max(widest_, variance - noise);
    // Light falling across the block (vignetting the paper's grid follows only in part) spreads
    // it as writing does. Writing loses little by the slope taken off (its quarters differ by a
    // fraction of its range).
    if (flat_widest_ < 1)
      flat_widest_ = std::max(flat_widest_, variance - slope_variance(b, block_width) - own_noise);
    // The noise's whole variance taken off is more than is there: the division clips the paper's
    // noise at white (its level is about the noise's mean: a third of the variance is kept). A
    // page photographed in the dark, whose writing deviates less than its amplified noise, was
    // taken for blank. Measured in the block itself, the noise needs no model: next neighbours
    // differ by the noise alone, whatever the division clipped, and so do neighbours a stroke
    // apart, unless the block holds strokes (a slope of the light, over a stroke, adds little).
    // Half their mean squares' difference is the writing's variance: writing where it passes
    // five standard errors and a grey level's deviation. (Only while the rule above finds none.)
    if (flat_widest_ < 1 && 4 * b + 3 < lag_sums_.size()) {
      const double* sums = lag_sums_.data() + 4 * b;
      const double near_n = lag_counts_[2 * b], far_n = lag_counts_[2 * b + 1];
      const double block[6] = {sums[0], sums[1], near_n, sums[2], sums[3], far_n};
      double left = 0;
      if (shows_writing(block, left)) strokes_ = std::max(strokes_, left);
      likeliest_ = std::max(likeliest_, left);
      for (int k = 0; k < 6; ++k) lag_page_[k] += block[k];
    }
  }
  std::fill(lag_sums_.begin(), lag_sums_.end(), 0.0);
  std::fill(lag_counts_.begin(), lag_counts_.end(), 0.0);
  std::fill(block_sums_.begin(), block_sums_.end(), 0);
  std::fill(block_squares_.begin(), block_squares_.end(), 0);
  std::fill(quarter_sums_.begin(), quarter_sums_.end(), 0);
  band_rows_read_ = 0;
  std::fill(std::begin(quarter_rows_), std::end(quarter_rows_), 0);
}

void AutoStatistics::end(int pass) {
  if (pass < ScaleMeasure::passes) {
    scale_.end(pass);
    if (pass + 1 < ScaleMeasure::passes) return;
    // The window about one letter high (the default on a page with no writing), the blocks a
    // little more: larger than a letter, so that their 90th percentile is paper (the 3 x 3 median
    // of the grid passes over a block inside a blot of ink), and no larger, so that the paper
    // follows light that falls off over a distance of the page's, not the letters': blocks of two
    // letter heights, on large writing, were too coarse for a dark corner and took its noise for
    // ink.
    const int measured = scale_.scale().window;
    window_ = measured == 0 ? 15 : std::min(measured, widest_window);
    // A third of the stroke width: the half-width of a line thinner than the strokes, within
    // which its valley climbs back to the paper, and far less than the blur of show-through.
    const int stroke = scale_.scale().stroke;
    reach_ = stroke == 0 ? 0 : std::min((stroke + 2) / 3, window_ / 2 - 1);
    reach_ = std::max(reach_, 0);
    // A thin rule's run looks for its valley's climb a stroke and a half away: where a page's
    // rules outnumber its print's strokes, the width measured is the rules', and a sample at a
    // rule's edge, half a stroke off its middle, climbs back only past the far edge and the blur
    // (three quarters of a stroke lost the blurred rules of such forms whole at twice and four
    // times the letters). A valley within a fifth of the window, as a rule's is (a quarter took a
    // smudge of the real `text`): with small print, that fifth is the distance, or a reach and one.
    run_reach_ =
        stroke == 0 ? 0 : std::max(reach_ + 1, std::min((3 * stroke + 1) / 2, window_ / 5 - 1));
    run_reach_ = std::clamp(run_reach_, 0, std::max(0, window_ / 2 - 1));
    const auto widest_grid =
        static_cast<int>((std::int64_t{columns_} + most_grid_columns - 1) / most_grid_columns);
    block_ = std::max({16, window_ + 2, widest_grid});
    // Blocks of two letter heights for the deviations (each is one window's range of ink,
    // wherever the paper's blocks fall) and for the paper's sampling, 8 x 8 samples of each (4 x
    // 4 of a paper block): their passes take no longer on the smaller paper blocks.
    moment_block_ = std::max({16, 2 * window_ + 2, widest_grid});
    down_ = std::max(1, moment_block_ / 8);
    across_ = std::max(1, moment_block_ / 8);
    block_columns_.clear();  // found again for these blocks
    sampled_columns_ = 0;
    grid_rows_ = (rows_ + block_ - 1) / block_;
    grid_columns_ = (columns_ + block_ - 1) / block_;
    grid_.assign(static_cast<std::size_t>(grid_rows_) * grid_columns_, 0);
    measured_grid_.assign(grid_.size(), 0);
    column_apart_.assign(static_cast<std::size_t>(columns_), 0);
    apart_rows_ = 0;
    return;
  }
  if (pass == ScaleMeasure::passes) {
    samples_ = {};
    // The noise's standard deviation, from the median difference of neighbours (that of two
    // samples of Gaussian noise is 0.954 of it; the edges of strokes, a few pairs, do not move
    // it). The 90th percentile of noisy paper lies 1.28 of it above the paper's level: taken off,
    // so that paper in a dark, noisy region comes out at 255 on average, not below.
    std::uint64_t differences[256];
    for (int d = 0; d < 256; ++d) {
      differences[d] =
          differences_[0][d] + differences_[1][d] + differences_[2][d] + differences_[3][d];
    }
    // Whole levels of difference took noise of deviation 1.4 for 1.05, and the noise left over
    // for writing: blank pages came out part black (noise_deviation reads within the unit).
    sigma_ = noise_deviation(differences);
    without_ink_blocks(grid_, grid_rows_, grid_columns_);
    const std::vector<float> percentiles = grid_;
    below_percentile(grid_, grid_rows_, grid_columns_, sigma_);
    // Smoothed about the light's curve: on a page a few blocks across, light falling off to the
    // corners bends by a good part of its fall from one block to the next, and the 3 x 3 median
    // and mean took a vignette's bright middle down and its dark edges up (the word lost in the
    // middle, the edges made ink). A curve the grid lies on passes through unchanged.
    const std::vector<float> curve = light_curve(grid_, percentiles, grid_rows_, grid_columns_,
                                                 block_, rows_, columns_, sigma_, sampled_blocks());
    // No brighter than the brightest block read (the curve's peak may lie between blocks).
    const float brightest = *std::max_element(grid_.begin(), grid_.end());
    for (std::size_t g = 0; g < curve.size(); ++g) grid_[g] -= curve[g];
    grid_ = smoothed(grid_, grid_rows_, grid_columns_);
    for (std::size_t g = 0; g < curve.size(); ++g)
      grid_[g] = std::clamp(grid_[g] + curve[g], 1.0f, brightest);
    // The noise's variance in each block, amplified as the block's samples are by the division
    // by the paper (once a block, not once a stretch of the filter).
    noise_grid_.resize(grid_.size());
    faint_noise_grid_.resize(grid_.size());
    for (std::size_t g = 0; g < grid_.size(); ++g) {
      const float factor = 255.0f / std::max(grid_[g], 1.0f);
      noise_grid_[g] = static_cast<float>(sigma_ * sigma_) * factor * factor;
      faint_noise_grid_[g] =
          std::max(static_cast<float>(sigma_ * sigma_), measured_grid_[g]) * factor * factor;
    }
    measured_grid_ = {};
    column_apart_ = {};
    faint_limits();
    fit_light_of_grid();
    const std::size_t column_blocks =
        static_cast<std::size_t>(std::max(1, columns_ / moment_block_));
    block_sums_.assign(column_blocks, 0);
    block_squares_.assign(column_blocks, 0);
    quarter_sums_.assign(3 * column_blocks, 0);
    band_quarter_sums_.assign(3 * column_blocks, 0);
    lag_sums_.assign(4 * column_blocks, 0.0);
    lag_counts_.assign(2 * column_blocks, 0.0);
    row_.resize(static_cast<std::size_t>(columns_));
    read_row_.resize(static_cast<std::size_t>(columns_));
    // A stroke apart (two samples at least: the next is the noise's own lag).
    lag_ = std::max(2, scale_.scale().stroke);
    line_.resize(std::min(piece, static_cast<std::size_t>(columns_)));
    const std::size_t pieces = (static_cast<std::size_t>(columns_) + piece - 1) / piece;
    for (std::size_t c = 0; c < std::min(pieces, kept_pieces); ++c) {
      const std::size_t first = c * piece;
      paper_rows_.emplace_back(static_cast<std::int64_t>(first),
                               std::min(piece, static_cast<std::size_t>(columns_) - first));
    }
    return;
  }
  tally_.add_to(histogram_);
  std::uint64_t count = 0;
  for (const std::uint64_t n : histogram_) count += n;
  double range = std::sqrt(std::max(widest_, 0.0));
  // Less than a grey level of deviation beyond the noise's is no writing: what is left of the
  // noise where its estimate falls a little short (a blank page whose noise is a fraction of a
  // level, its samples three values).
  blank_ = std::sqrt(std::max(flat_widest_, 0.0)) < 1;
  // Small writing under such noise is too little in any one block to pass five of its standard
  // errors (letters 14 pixels tall in the dark: two to four), and the page was taken for blank;
  // the whole page's sums pass them many times over. Its range is then the widest block's.
  double page_left = 0;
  if (blank_ && strokes_ == 0 && (shows_writing(lag_page_, page_left) || valley_)) {
    strokes_ = std::max({likeliest_, page_left, 1.0});
  }
  if (blank_ && strokes_ > 0) {
    // Writing that only the lagged differences show (end_band): its deviation is Wolf's range.
    blank_ = false;
    range = std::sqrt(strokes_);
  }
  if (blank_) light_on_dark();
  formula_ = make_formula(Formula::wolf, 0.5, blank_ ? 1 : range, smallest_);
  formula_.ceiling = halfway_level(histogram_, otsu_level(histogram_, count));
  block_sums_ = {};
  block_squares_ = {};
  quarter_sums_ = {};
  band_quarter_sums_ = {};
  lag_sums_ = {};
  lag_counts_ = {};
  row_ = {};
  read_row_ = {};
  shallow_ = {};
  shallow_here_ = {};
  line_ = {};
  paper_rows_ = {};
}

namespace {

statut_image binarise_automatically(unsigned char* output, const unsigned char* image, int rows,
                                    int columns) {
  const statut_image status = check_local(output, image, rows, columns, 15, 0.5);
  if (status != IMAGE_OK) return status;
  try {
    const std::size_t width = static_cast<std::size_t>(columns);
    AutoStatistics statistics(rows, columns);
    for (int pass = 0; pass < AutoStatistics::passes; ++pass) {
      for (int y = 0; y < rows; ++y) {
        if (statistics.wanted(pass, y))
          statistics.gather(pass, y, 0, image + static_cast<std::size_t>(y) * width, width);
      }
      statistics.end(pass);
    }
    if (statistics.blank()) {
      std::memset(output, 255, static_cast<std::size_t>(rows) * width);  // nothing on the page
      return IMAGE_OK;
    }
    // Each output row is written once the rows its window needs have been fed: `output` may be
    // `image`.
    AutoRows decide(statistics, rows, whole_row(columns));
    int decided = 0;
    for (int y = 0; y < rows; ++y) {
      if (y + 1 < rows) ask_for(image + static_cast<std::size_t>(y + 1) * width, width);
      decide.feed(image + static_cast<std::size_t>(y) * width);
      while (decide.next(output + static_cast<std::size_t>(decided) * width)) ++decided;
    }
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

}  // namespace
}  // namespace imagefiles::detail

statut_image binariser_auto(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                            int nb_colonnes) {
  return imagefiles::detail::binarise_automatically(sortie, image, nb_lignes, nb_colonnes);
}
