// The automatic method in two parts: its statistics of the page, gathered over the rows in
// passes, and its decision of each row, which needs only the rows of one window. The whole-image
// function and the bands run both, so that their results are the same byte for byte.

#ifndef IMAGEFILES_AUTO_THRESHOLD_H
#define IMAGEFILES_AUTO_THRESHOLD_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "imagefiles/auto_faint.h"
#include "imagefiles/auto_loops.h"
#include "imagefiles/binarisation_internal.h"
#include "imagefiles/internal.h"
#include "imagefiles/running_window.h"

namespace imagefiles::detail {

// The paper's grid once its blocks are read (auto_paper.cpp): the blocks under a printed area
// wider than themselves given their neighbours' paper, and the grid smoothed (a 3 x 3 median,
// then a mean, the light falling off towards the page's edges kept falling).
void without_ink_blocks(std::vector<float>& grid, int rows, int columns);
// Each block's 90th percentile brought down to the paper's level under noise of deviation `sigma`
// and the slope of light across the block.
void below_percentile(std::vector<float>& grid, int rows, int columns, double sigma);
// A block's 90th percentile: the value below which lie at most n - 1 - n / 10 of its `n` samples
// (n at least 1), that is the (n / 10 + 1)-th largest. `samples` may be reordered.
unsigned char block_percentile(unsigned char* samples, std::size_t n);
std::vector<float> smoothed(const std::vector<float>& grid, int rows, int columns);
// The light's least-squares quadratic surface through the paper blocks' levels, where it bends
// (auto_curve.cpp): x and y in blocks (a column / the block's side, a row / the block's side).
struct LightCurve {
  bool curved = false;  // the light bends from block to block: the paper follows the surface
  double c[6] = {};     // of 1, x, y, x^2, x y, y^2
  double at(double x, double y) const {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * x + c[4] * x * y + c[5] * y * y;
  }
};
// The surface through `grid` (rows x columns blocks of side `block` over a page of page_rows x
// page_columns), curved where it moves a 3 x 3 mean by 1.28 deviations `sigma` of the noise.
LightCurve fitted_light(const std::vector<float>& grid, int rows, int columns, int block,
                        int page_rows, int page_columns, double sigma);
// Where a block's percentile was read: its first and last sampled column (in samples, `across`
// apart), the same on every block row, and the step of its sampled rows from the block row's first.
struct SampledBlocks {
  std::vector<double> first, last;  // one of each per block column
  int across = 1, down = 1;
};
// Where the light bends so, or falls evenly across the page by more than the noise a block:
// `grid` (the blocks' percentiles less the noise's part) fitted to the surface with each
// percentile, `percentiles`, brought to its block's centre by the surface's spread over the
// samples it was read from (`sampled`); the surface at the blocks' centres (empty where the light
// is flat or uneven).
std::vector<float> light_curve(std::vector<float>& grid, const std::vector<float>& percentiles,
                               int rows, int columns, int block, int page_rows, int page_columns,
                               double sigma, const SampledBlocks& sampled);

class AutoStatistics;

// The paper's brightness over `n` columns of the page from `first`, row after row: kept at the
// centres of the block rows above and below, refreshed as the rows pass them; and rows of samples
// divided by it.
class PaperRow {
 public:
  PaperRow(std::int64_t first, std::size_t n) : first_(first), above_(n), below_(n), step_(n) {}
  std::int64_t first() const { return first_; }
  // `count` samples of row `y` from its column `from` (counted from first()), divided by the
  // paper's brightness, into 0 to 255.
  void normalise(const AutoStatistics& statistics, int y, const unsigned char* samples,
                 unsigned char* out, std::size_t from, std::size_t count);
  // The same, giving the smallest result.
  unsigned char normalise_smallest(const AutoStatistics& statistics, int y,
                                   const unsigned char* samples, unsigned char* out,
                                   std::size_t from, std::size_t count);

 private:
  float refresh(const AutoStatistics& statistics, int y);  // the rows for `y`; gives its weight
  std::int64_t first_;
  int above_row_ = -1;
  int below_row_ = -1;
  bool beyond_ = false;  // the rows are beyond the outer block rows' centres (bounded steps)
  std::vector<float> above_;
  std::vector<float> below_;
  std::vector<float> step_;  // below - above; all three as 255 / the paper's brightness
};

// What `auto` learns of a page before it decides a pixel, in passes over its rows (each pass:
// every row in order to gather(), then end()): the page's scale (the passes of ScaleMeasure), the
// paper's brightness over blocks of the page's scale, and the histogram, smallest sample and
// largest block deviation of the page divided by that brightness. Memory: the block grid and a
// row's samples. Throws std::bad_alloc.
class AutoStatistics {
 public:
  AutoStatistics(int rows, int columns);
  static constexpr int passes = ScaleMeasure::passes + 2;
  // The widest window whose sums fit 32 bits (binarisation_internal.h).
  static constexpr int widest_window = 181;
  // Whether gather() uses row `y` in `pass` (the whole-image function skips the others).
  bool wanted(int pass, int y) const;
  // `n` samples of row `y` from column `first`: the pieces of a row in the order of the columns.
  void gather(int pass, int y, std::int64_t first, const unsigned char* samples, std::size_t n);
  void end(int pass);

  // Once every pass has ended:
  // What the decision needs once every pass has ended, as bytes for another process of the same
  // build (the workers of a cluster), and back into statistics made for a page of the same size.
  // restore() refuses (false) bytes that do not describe such a page: a grid of another size, a
  // window out of range. Throws std::bad_alloc.
  std::string saved() const;
  bool restore(const std::string& bytes);

  int rows() const { return rows_; }
  int window() const { return window_; }
  // How far a faint thin stroke's valley climbs back to the paper (AutoRows): a third of the
  // stroke width, at most window / 2 - 1 (the rows the decision has); 0: none looked for.
  int reach() const { return reach_; }
  // How far a faint thin rule's valley climbs back along its run (AutoRows): three quarters of
  // the stroke width, at least a reach and one, at most window / 2 - 1.
  int run_reach() const { return run_reach_; }
  bool blank() const { return blank_; }  // nothing on the page: every pixel is paper
  // A page of light marks on a dark ground, with no paper to divide by: the level below which a
  // sample is ink (Otsu's threshold of the page, as calculer_seuil_otsu gives it); 0 otherwise.
  // The paper is then 255 everywhere: the samples are decided as they are.
  int whole_level() const { return whole_level_; }
  const Formula& formula() const { return formula_; }
  // The variance of the page's noise, divided by the paper's brightness as the samples are (the
  // noise of a dark region is amplified with it), block by block: for `n` columns of row `y`
  // from `first`, into `out`.
  void noise_along(int y, std::int64_t first, std::size_t n, float* out) const;
  // The row of blocks of row `y`, whose noise noise_along gives.
  int block_row(int y) const { return std::min(y / block_, grid_rows_ - 1); }
  int block() const { return block_; }  // their side (the last row and column take the rest)
  // The least of those variances over the page.
  float quietest() const { return quietest_; }
  float loudest() const { return loudest_; }  // and the largest (the filter's square, AutoRows)
  // The lightest sample that a faint stroke's mark may be (AutoRows), darker than the paper (255)
  // by four deviations of the noise, block by block: for `n` columns of row `y` from `first`;
  // into `quiet_out`, the same from the page's noise alone (the paper's mean, which a block's
  // own measure, lifted by the edges of writing, would take too low).
  void lightest_along(int y, std::int64_t first, std::size_t n, unsigned char* out,
                      unsigned char* quiet_out) const;
  // Where row `y` falls between the centres of the block rows: the rows above and below it and
  // the weight of the one below.
  struct Between {
    int above, below;
    float weight;
  };
  Between between_rows(int y) const;
  // The paper's brightness at the centre of block row `block_row`, for `n` columns from `first`
  // (in straight lines between the centres of the blocks), into `out`.
  void paper_along(int block_row, std::int64_t first, std::size_t n, float* out) const;
  // Whether the paper follows the light's curve beyond the outer block rows' centres (PaperRow).
  bool curved() const { return light_.curved; }
  // The paper of row `y`, beyond the centre of the outer block row, for `n` columns from
  // `first`: the outer block row's paper changed as the light's curve changes from it to `y`, or
  // the line of the two outer rows where that falls further (at most to half, held where it
  // rises), into `out`. Only where curved().
  void paper_beyond(int y, std::int64_t first, std::size_t n, float* out) const;

 private:
  double centre(int g) const;  // of block column g, in columns
  // The least paper that block (r, g)'s samples are divided by: its own level, or at an edge of
  // the page, that of the paper extended to it.
  float least_paper(int r, int g) const;
  // The mean of (255 / paper)^2 over rows top to bottom, `n` columns from `first`, the paper
  // as the decision divides by it, where the light bends.
  double mean_amplification(int top, int bottom, std::int64_t first, std::size_t n) const;
  void end_band(int band);  // a band of blocks read: their deviations
  // light_, from the grid and the noise's grid (as restore() has them: the noise's deviation is
  // the first block's noise_grid_ undone).
  // Where each block's percentile was read (light_curve).
  SampledBlocks sampled_blocks() const;
  void fit_light_of_grid();
  void faint_limits();   // quietest_ and lightest_grid_, from noise_grid_
  void light_on_dark();  // a blank page that is light marks on a dark ground: whole_level_
  void add_differences(const unsigned char* samples, std::size_t column, std::size_t n);
  // A pair of neighbours into table `t`: their difference (the noise), their darker (light marks).
  void count_pair(int t, unsigned char a, unsigned char b) {
    ++differences_[t][std::abs(int{a} - int{b})];
    ++sampled_[t][std::min(a, b)];
  }

  int rows_, columns_;
  ScaleMeasure scale_;
  int window_ = 15;
  int reach_ = 0;
  int run_reach_ = 0;
  int block_ = 32;         // the paper's blocks
  int moment_block_ = 32;  // the blocks of the deviations (Wolf's range): twice as wide
  int grid_rows_ = 0, grid_columns_ = 0;
  // The paper pass: the samples of the block row under way, every `across_`-th column of every
  // `down_`-th row.
  int down_ = 1, across_ = 1;
  std::vector<unsigned char> samples_;
  struct BlockColumns {
    std::size_t from, to;  // in samples_' rows
  };
  std::vector<BlockColumns> block_columns_;   // each block's, found on the first block row
  std::size_t sampled_columns_ = 0;           // theirs together
  std::vector<unsigned char> block_samples_;  // each block's samples together, block after block
  int sampled_rows_ = 0;
  std::vector<float> grid_;
  LightCurve light_;  // the paper beyond the outer blocks' centres follows it where curved
  std::vector<float> noise_grid_;  // the noise's variance in each block, as noise_along gives it
  float quietest_ = 0;
  float loudest_ = 0;
  std::vector<unsigned char> lightest_grid_;        // as lightest_along gives it
  std::vector<unsigned char> quiet_lightest_grid_;  // and from the page's noise
  // The noise where each block lies (its variance, amplified as noise_grid_'s), for the faint
  // strokes' marks: the page's noise where it is no less, else the block's own, measured
  // around it (block_noise()).
  std::vector<float> faint_noise_grid_;
  // The differences of samples two apart on every other row of the paper pass, at most block_cap
  // (a deviation of the noise up to about 10 is read; strokes' edges count little), summed for
  // each column over the block row under way (apart_rows_ rows), and the noise's variance thus
  // measured around each block of the page (before the division).
  static constexpr int block_cap = 15;
  void add_block_differences(const unsigned char* samples, std::size_t column, std::size_t n);
  void block_noise(int block_row);
  std::vector<std::uint16_t> column_apart_;
  std::uint64_t apart_rows_ = 0;
  std::vector<float> measured_grid_;
  unsigned char block_carry_[2] = {};  // the two samples before the next piece
  // The statistics pass.
  Tally tally_;
  std::uint64_t histogram_[256] = {};
  int smallest_ = 255;
  // Each block's sums over the band of blocks under way.
  std::vector<std::uint32_t> block_sums_;
  std::vector<std::uint64_t> block_squares_;
  std::uint64_t band_samples_ = 0;
  int band_rows_read_ = 0;
  double widest_ = 0;
  // The same blocks' sums over their first three quarters of columns, and at the end of each of
  // the band's first three quarters of rows (with the rows read by then): the light's slope
  // across a block, taken off its variance before it counts as writing (flat_widest_, the blank
  // page's test; widest_ stays the writing's range).
  void add_quarters(const unsigned char* samples, std::size_t n, std::size_t column);
  double slope_variance(std::size_t b, std::size_t block_width) const;
  std::vector<std::uint32_t> quarter_sums_;       // three a block
  std::vector<std::uint32_t> band_quarter_sums_;  // three a block
  int quarter_rows_[3] = {};
  double flat_widest_ = 0;
  // Writing that the noise's whole variance hides (a page photographed in the dark, end_band):
  // each block's squared differences of next neighbours and of neighbours lag_ apart (a stroke
  // width), their squares, and their counts, over the row samples row_ (divided by the paper),
  // while no block has writing by its variance; the largest writing's variance found (0: none).
  void add_lagged_differences();
  std::vector<unsigned char> row_;
  std::vector<double> lag_sums_;    // four a block
  std::vector<double> lag_counts_;  // two a block
  int lag_ = 2;
  double strokes_ = 0;
  // A mark too small for either sums (a digit, a tick on a small page) is deep: the samples of
  // the rows read, as read_row_ holds them before the division, that lie in a valley of the row
  // deeper than the noise digs one (looked for while no block has writing, until one is found).
  void find_valley();
  std::vector<unsigned char> read_row_;
  bool valley_ = false;
  // The columns of the last row read that lie in a shallower valley (a stroke that goes on to
  // the next row read, within two columns, is a mark), and this row's.
  std::vector<std::size_t> shallow_, shallow_here_;
  // The same sums over the whole page (near: squares, fourth powers, count; then far), and the
  // largest writing's variance of a block, found or not by its own test.
  double lag_page_[6] = {};
  double likeliest_ = 0;
  // The noise, from the paper pass: how often neighbours (columns 4 j and 4 j + 1 of its rows)
  // differ by each amount, and the standard deviation found.
  std::uint64_t differences_[4][256] = {};  // in four tables, added up at the end
  bool pair_open_ = false;
  unsigned char pair_first_ = 0;
  double sigma_ = 0;
  std::vector<PaperRow> paper_rows_;
  std::vector<unsigned char> line_;
  bool blank_ = false;
  int whole_level_ = 0;
  // The darker of each pair of the paper pass, of each value (in four tables, as differences_).
  std::uint64_t sampled_[4][256] = {};
  Formula formula_{};
};

// The decision of `auto` over the columns of `strip`, a row at a time: each row fed is divided by
// the paper's brightness into a ring of window + 1 rows, and a row is decided once the rows its
// window needs have come: its samples under the global ceiling (or within two deviations of the
// noise above it) filtered against the noise (Wiener's filter over 3 x 3, or a square a third of
// the stroke width wide), then Wolf's row decision under the ceiling. Above the ceiling,
// the faint thin strokes are ink (mark_faint()).
//
// The rows x strip.columns decided may be a piece of the page whose top left corner is at
// (`top`, `left`): the paper is then taken there, and the piece's own edges are mirrored. Where
// the piece holds the window's half beyond the rows and columns kept, those are the page's.
class AutoRows {
 public:
  // The filter's square up to radius `from_rows` is summed from its rows for each sample, up to
  // `from_columns` (at most widest_direct_radius) from its columns' running sums, wider from
  // running totals of those along the row: the three give the same result. The square's
  // half-width is the page's (radius 0), or `radius` (tests), within the window's half less one.
  AutoRows(const AutoStatistics& statistics, int rows, const Strip& strip, int top = 0,
           std::int64_t left = 0, int from_rows = 1, int from_columns = widest_direct_radius,
           int radius = 0);
  int delay() const { return statistics_.window() / 2; }
  int filter_radius() const { return radius_; }  // the half-width of the filter's square
  // The next row's fed columns (those of the strip given, which may overlap more than the
  // window needs).
  void feed(const unsigned char* row);
  // Writes the next decided row (255 or 0 for each of the strip's columns), if there is one.
  bool next(unsigned char* out);

 private:
  // Row decided_, filtered, into `out`; paper_ set (its stretches marked paper are not written).
  void filter(unsigned char* out);
  void filter_wide(unsigned char* out);  // the same from its columns' running sums
  // Block `block` of the square's column sums made those of row decided_.
  void square_block(std::size_t block);
  // Whether the square's columns [from, to) are all the page's (none beyond its edges).
  bool square_inside(std::size_t from, std::size_t to) const;
  // The samples of row `row` (of the rows fed) in the square's columns [from, from + n), the
  // page's edges repeated (then n at most filter_stretch); `slot` 0 or 1 for two rows at once.
  const unsigned char* square_samples(int row, std::size_t from, std::size_t n, int slot);
  // noise_ and paper_ceilings_ for row decided_.
  void refresh_noise();
  // The marks of row `row` that may lie on a faint thin stroke, into its row of faint_.
  void mark_faint(int row);
  // Light print's marks (auto_light.cpp) of the columns [from, to) of `row`, added to `marks`.
  void mark_light(int row, std::size_t from, std::size_t to, unsigned char* marks);
  // Makes ink of the marks of row decided_ with enough marked neighbours, in `out`.
  void add_faint(unsigned char* out) const;
  // Whitens the ink of row decided_ in `out` lighter than its own stroke's edge, found from the
  // stroke's bottom (edge_reach_ > 0).
  void to_stroke_edges(unsigned char* out) const;
  const unsigned char* normalised(std::int64_t row) const {
    return ring_.data() + static_cast<std::size_t>(row % slots_) * fed_;
  }
  // The rows [first, first + count), those beyond the page's edges its edges' rows, into `out`:
  // the ring's slots counted on from the first's, not divided out for each (a division a row, for
  // the rows of a window, cost 1% of `auto` on a page of 48 MP drawn large).
  void normalised_rows(int first, std::size_t count, const unsigned char** out) const {
    int last = std::clamp(first, 0, rows_ - 1);
    std::size_t slot = static_cast<std::size_t>(last % slots_);
    for (std::size_t k = 0; k < count; ++k) {
      const int row = std::clamp(first + static_cast<int>(k), 0, rows_ - 1);
      if (row != last) slot = slot + 1 == static_cast<std::size_t>(slots_) ? 0 : slot + 1;
      last = row;
      out[k] = ring_.data() + slot * fed_;
    }
  }

  const AutoStatistics& statistics_;
  Strip strip_;          // the columns the window needs: those decided and its half on each side
  std::size_t skipped_;  // fed columns before them (the strip was cut for the widest window)
  int rows_;
  int half_;
  int slots_;
  std::size_t fed_;
  std::vector<unsigned char> ring_;
  std::vector<unsigned char> filtered_;
  // The filter's half-width (filter()), and its rows' samples, the page's edges repeated, where
  // its square passes them.
  int radius_;
  enum class Square { rows, columns, totals } square_;  // how its square is summed
  std::vector<unsigned char> edge_rows_;
  // From running sums (filter_wide()), over the columns decided and the radius on each side: each
  // column's sums over the square's rows, of its samples and of their squares, kept in blocks of
  // filter_stretch columns, each for the row square_row_ gives, then their running totals along the
  // row.
  std::vector<std::uint32_t> square_sums_;
  std::vector<std::uint32_t> square_squares_;
  std::vector<int> square_row_;
  std::vector<std::uint32_t> square_totals_;
  std::vector<std::uint32_t> square_total_squares_;
  std::vector<unsigned char> gathered_;  // two rows of a block beyond the page's edges
  // For each stretch of the filter in the row decided: whether every sample is above the
  // global ceiling (white, the window not needed).
  std::vector<unsigned char> paper_;
  std::vector<ColumnRun> runs_;      // the others, decided
  std::vector<float> noise_;         // the noise's variance along the row (noise_along)
  int noise_row_ = -1;               // the row of blocks it is of
  std::vector<int> paper_ceilings_;  // for each stretch, the ceiling of its paper (mark_paper)
  PaperRow paper_row_;
  RunningWindow<std::uint32_t> running_;
  LocalDecider<std::uint32_t> decider_;
  int top_;
  std::int64_t left_;
  // Whether the filtered noise of the loudest block reaches the ceiling (no_ink_within_noise).
  bool noise_reaches_ceiling_ = false;
  // How far down a stroke's slope its bottom is looked for (about a stroke width); 0 where the
  // noise hides the slope.
  int edge_reach_ = 0;
  // For each bottom, the lightest sample of its stroke that is ink (to_stroke_edges()).
  unsigned char edge_levels_[256] = {};
  // The faint strokes: the marks of three rows (of the fed columns), the rows marked so far, and
  // a row of the noise's variance.
  std::vector<unsigned char> faint_;
  int marked_ = 0;
  std::vector<unsigned char> faint_lightest_;  // the lightest sample a mark may be, by column
  std::vector<unsigned char> quiet_lightest_;  // the same under the page's noise alone
  int lightest_row_ = -1;                      // the row of blocks faint_lightest_ holds
  std::vector<unsigned char> around_;          // the darkest around each column, a row
  std::vector<unsigned char> column_darkest_;  // each column's darkest in the marks' rows
  // The thin rules' runs (mark_faint()): a row's samples, the page's edges repeated; the sums of
  // runs lying (three rows) and standing (a row); the lying runs' lightest samples; a row spent in
  // finding them, then holding the standing runs' lightest.
  std::vector<unsigned char> run_scratch_;
  std::vector<std::uint16_t> run_sums_;
  std::vector<unsigned char> run_lightest_;
  std::vector<unsigned char> run_row_;
  std::vector<unsigned char> run_candidates_;  // the samples that may be a thin rule's marks
  std::vector<unsigned char> run_blocks_;      // whether each stretch of them holds one
  std::vector<std::uint16_t> run_spans_;       // a row's sums of spans (run_sums())
  DarkestRows darkest_rows_;                   // kept from row to row
  DarkestRows line_rows_;                      // the same over half a window's rows
  std::vector<unsigned char> light_;           // a row's candidates of light print
  // For each stretch of the three rows, whether it has marks (those of the others are not written).
  std::vector<unsigned char> stretches_;
  std::size_t stretches_per_row_ = 0;
  int received_ = 0;
  int decided_ = 0;
};

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_AUTO_THRESHOLD_H
