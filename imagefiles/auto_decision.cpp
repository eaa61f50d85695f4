// The decision of the automatic method, a row at a time: each row divided by the paper's
// brightness (PaperRow), filtered against the noise under the global threshold, and decided where
// the global threshold and Wolf's window agree (AutoRows). What it decides with, the statistics
// of the page, is learnt first (auto_threshold.cpp).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {
namespace {

// A window whose variance is at most this many times the noise's holds nothing but noise (its
// deviation within two of the noise's).
constexpr float flat_window = 4;
// Samples above the global ceiling by at most this many deviations of the noise are filtered too:
// faint ink that the noise lifted over the ceiling comes back under it when its neighbours are
// ink (at twice the letters, the faint lines of the page of every degradation came out broken).
constexpr float filtered_above = 2;
// A sample called ink whose filtered value lies within this many deviations of the filtered noise
// below the paper is paper: where the filter's square is held within a thin stroke, it cannot take
// the amplified noise of a dark corner four deviations away from the ceiling (radius_for), and
// the samples the noise took under it were kept as specks; beyond three deviations paper goes
// under in one sample in 740.
constexpr float paper_deviations = 3;
// A block of the wide filter's column sums that holds no row's (never decided_ nor decided_ - 1).
constexpr int no_square_row = -2;

// The filter's half-width: 1 (3 x 3) on small writing, a third of the stroke width less one on
// large writing, within the stroke, where the noise does not grow with the letters (at four times
// them a 3 x 3 square left the noise of a dark corner as specks). Within the window's half less
// one, so that the ring still holds the row leaving its square. And no wider than the noise
// needs: the stroke width is the page's typical one, and a square that wide blurs its thinner
// faces away under the noise; a square of side s takes the noise's deviation to 1 / s of it, and
// s such that the loudest block's paper lies four of those above the ceiling is enough. Never under
// 5 x 5 on large writing, though: 3 x 3 there added black to the dark corner of a blank page,
// whose paper the blocks take too bright.
int radius_for(const AutoStatistics& statistics) {
  const int within_stroke = std::min(statistics.reach(), statistics.window() / 2) - 1;
  const double above_ceiling = std::max(1, 255 - statistics.formula().ceiling);
  const double side = 4 * std::sqrt(static_cast<double>(statistics.loudest())) / above_ceiling;
  const int for_noise = static_cast<int>(std::ceil(std::min((side - 1) / 2, 1e6)));
  return std::clamp(std::min(within_stroke, std::max(for_noise, 2)), 1, widest_filter_radius);
}

// How far a stroke's slope is followed down to its bottom: about a stroke width (the reach is a
// third of it), within the window's half. A blurred stroke that does not reach the ink's depth
// has its edge nearer its own bottom than the global ceiling (halfway between the page's ink and
// paper) lies, and only a slope that falls by more than the noise from one sample to the next can
// be followed: the loudest block's deviation times a stroke width, under the fall from the paper
// to the ceiling. 0 (not followed) on noisy pages, whose samples stop at the noise's dips.
int edge_reach_for(const AutoStatistics& statistics) {
  if (statistics.reach() <= 0 || statistics.blank() || statistics.whole_level() != 0) return 0;
  const int stroke = std::min(3 * statistics.reach() - 1, statistics.window() / 2);
  const double fall = 255 - statistics.formula().ceiling;
  return 8 * std::sqrt(static_cast<double>(statistics.loudest())) * stroke < fall ? stroke : 0;
}

double normal_below(double x) {
  return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// Where the edge of a stroke whose bottom is `bottom` lies, the ink's level being `ink`: under a
// Gaussian blur, a stroke whose bottom reaches a share d of the ink's depth has its edges at
// Phi(2 Phi^-1((1 + d) / 2)) - 1/2 of that depth, whatever the blur: halfway for a stroke that
// reaches the ink, nearer its bottom for a thinner one.
unsigned char edge_of(int bottom, int ink) {
  const double depth = std::max(1, 255 - ink);
  const double d = std::clamp((255 - bottom) / depth, 0.0, 1.0);
  if (d >= 1) return static_cast<unsigned char>(std::lround(255 - depth / 2));
  if (d <= 0) return 255;
  // Phi^-1((1 + d) / 2) by halving (Phi rises).
  double low = 0, high = 40;
  for (int i = 0; i < 60; ++i) {
    const double middle = (low + high) / 2;
    (normal_below(middle) < (1 + d) / 2 ? low : high) = middle;
  }
  const double edge = normal_below(2 * low) - 0.5;
  return static_cast<unsigned char>(std::clamp(std::lround(255 - edge * depth), 0L, 255L));
}

}  // namespace

void PaperRow::normalise(const AutoStatistics& statistics, int y, const unsigned char* samples,
                         unsigned char* out, std::size_t from, std::size_t count) {
  const float weight = refresh(statistics, y);
  normalise_row(samples, count, above_.data() + from, step_.data() + from, weight, out);
}

unsigned char PaperRow::normalise_smallest(const AutoStatistics& statistics, int y,
                                           const unsigned char* samples, unsigned char* out,
                                           std::size_t from, std::size_t count) {
  const float weight = refresh(statistics, y);
  return ::imagefiles::detail::normalise_smallest(samples, count, above_.data() + from,
                                                  step_.data() + from, weight, out);
}

float PaperRow::refresh(const AutoStatistics& statistics, int y) {
  const AutoStatistics::Between at = statistics.between_rows(y);
  const bool beyond = at.weight < 0 || at.weight > 1;
  if (beyond && statistics.curved()) {
    // Where the light bends, the paper of each row beyond the outer centres follows its curve:
    // made row by row (a few rows of a small page).
    statistics.paper_beyond(y, first_, above_.size(), above_.data());
    reciprocals(above_.data(), above_.size());
    std::fill(step_.begin(), step_.end(), 0.0f);
    above_row_ = below_row_ = -1;
    beyond_ = true;
    return at.weight;
  }
  if (at.above != above_row_ || at.below != below_row_ || beyond != beyond_) {
    // 255 / paper, interpolated between the two block rows: a product per sample, not a division.
    // Going down, the row below becomes the one above: only the new one is made.
    const auto reciprocal = [](std::vector<float>& row) { reciprocals(row.data(), row.size()); };
    if (at.above == below_row_ && !beyond && !beyond_) {
      above_.swap(below_);
    } else {
      statistics.paper_along(at.above, first_, above_.size(), above_.data());
      reciprocal(above_);
    }
    if (at.below != at.above) {
      statistics.paper_along(at.below, first_, below_.size(), below_.data());
      reciprocal(below_);
    } else {
      below_ = above_;
    }
    for (std::size_t i = 0; i < step_.size(); ++i) step_[i] = below_[i] - above_[i];
    if (beyond) {
      // Above the first block row's centre or below the last's, light falling off towards the
      // page's edge keeps falling in the line of the two rows, down to half the outer row's
      // paper at the page's edge row; light rising towards it is held (as smoothed() does).
      const bool top = at.weight < 0;
      const float reach = top ? -statistics.between_rows(0).weight
                              : statistics.between_rows(statistics.rows() - 1).weight - 1;
      if (reach > 0) {
        const std::vector<float>& edge = top ? above_ : below_;
        for (std::size_t i = 0; i < step_.size(); ++i) {
          // At the edge row the reciprocal is edge - reach x step at the top, edge + reach x step
          // at the bottom: from edge (held) to 2 edge (half the paper), positive.
          const float most = edge[i] / reach;
          step_[i] = top ? std::clamp(step_[i], -most, 0.0f) : std::clamp(step_[i], 0.0f, most);
        }
      }
    }
    above_row_ = at.above;
    below_row_ = at.below;
    beyond_ = beyond;
  }
  return at.weight;
}

AutoRows::AutoRows(const AutoStatistics& statistics, int rows, const Strip& strip, int top,
                   std::int64_t left, int from_rows, int from_columns, int radius)
    : statistics_(statistics),
      strip_(strip_of(strip.columns, strip.first, strip.width, statistics.window() / 2)),
      skipped_(static_cast<std::size_t>(strip_.fed_first - strip.fed_first)),
      rows_(rows),
      half_(statistics.window() / 2),
      slots_(std::min(rows, statistics.window() + 1)),
      fed_(static_cast<std::size_t>(strip_.fed_width)),
      ring_(static_cast<std::size_t>(slots_) * fed_),
      filtered_(static_cast<std::size_t>(strip_.width)),
      radius_(radius > 0 ? std::clamp(radius, 1, std::max(1, statistics.window() / 2 - 1))
                         : radius_for(statistics)),
      square_(radius_ <= from_rows                                      ? Square::rows
              : radius_ <= std::min(from_columns, widest_direct_radius) ? Square::columns
                                                                        : Square::totals),
      paper_(static_cast<std::size_t>(strip_.width) / filter_stretch + 1),
      noise_(static_cast<std::size_t>(strip_.width)),
      paper_row_(left + strip_.fed_first, fed_),
      running_(rows, statistics.window(), strip_),
      decider_(statistics.formula(), statistics.window()),
      top_(top),
      left_(left),
      edge_reach_(edge_reach_for(statistics)) {
  const float side = static_cast<float>(2 * radius_ + 1);
  const float above_ceiling = static_cast<float>(255 - statistics.formula().ceiling);
  noise_reaches_ceiling_ = paper_deviations * paper_deviations * statistics.loudest() >
                           above_ceiling * above_ceiling * side * side;
  if (edge_reach_ > 0) {
    // The ink's depth is the page's darkest sample's (Wolf's smallest, after the division): the
    // ceiling's ink level, a percentile, lies above the ink a blurred page draws. The table is
    // kept for the next strip of the same page (made anew, it cost 10% of auto at 48 MP).
    const int ink = static_cast<int>(statistics.formula().minimum);
    thread_local int made_for = -1;
    thread_local unsigned char levels[256];
    if (made_for != ink) {
      for (int bottom = 0; bottom < 256; ++bottom) levels[bottom] = edge_of(bottom, ink);
      made_for = ink;
    }
    std::memcpy(edge_levels_, levels, sizeof levels);
  }
  if (square_ != Square::rows) {
    const std::size_t columns = static_cast<std::size_t>(strip_.width + 2 * radius_);
    square_sums_.resize(columns);
    square_squares_.resize(columns);
    square_row_.assign(columns / filter_stretch + 1, no_square_row);
    square_totals_.resize(columns + 1);
    square_total_squares_.resize(columns + 1);
    gathered_.resize(2 * filter_stretch);
  }
  if (statistics.reach() > 0 && !statistics.blank() && statistics.whole_level() == 0) {
    faint_.assign(3 * fed_, 0);
    faint_lightest_.resize(fed_);
    quiet_lightest_.resize(fed_);
    around_.resize(fed_);
    column_darkest_.resize(fed_);
    light_.resize(fed_);
    // A row and the run's reach (or the valley's) on each side.
    run_scratch_.resize(fed_ + 2 * AutoStatistics::widest_window);
    run_sums_.resize(6 * fed_ + 2 * AutoStatistics::widest_window);
    run_lightest_.resize(fed_);
    run_row_.resize(fed_ + 2 * AutoStatistics::widest_window);
    run_candidates_.resize(fed_);
    run_blocks_.resize(fed_ / filter_stretch + 1);
    run_spans_.resize(fed_ + 2 * AutoStatistics::widest_window);
    stretches_per_row_ = fed_ / filter_stretch + 1;
    stretches_.assign(3 * stretches_per_row_, 0);
  }
}

void AutoRows::feed(const unsigned char* row) {
  paper_row_.normalise(statistics_, top_ + received_, row + skipped_,
                       ring_.data() + static_cast<std::size_t>(received_ % slots_) * fed_, 0, fed_);
  ++received_;
}

bool AutoRows::next(unsigned char* out) {
  if (decided_ >= rows_ || received_ < std::min(rows_, decided_ + half_ + 1)) return false;
  const std::size_t width = static_cast<std::size_t>(strip_.width);
  if (statistics_.blank()) {
    std::memset(out, 255, width);  // no window needed, on any row
    ++decided_;
    return true;
  }
  if (const int level = statistics_.whole_level(); level > 0) {
    // The samples as they are (the paper is 255 everywhere): Otsu's split of the page.
    const unsigned char* row = normalised(decided_) + (strip_.first - strip_.fed_first);
    for (std::size_t x = 0; x < width; ++x) out[x] = row[x] < level ? 0 : 255;
    ++decided_;
    return true;
  }
  // A stretch whose samples are all above the ceiling, by more than the filter takes in (two
  // deviations of its blocks' noise), is white whatever their neighbours: marked in paper_,
  // neither filtered nor given window sums, written white.
  const std::size_t offset = static_cast<std::size_t>(strip_.first - strip_.fed_first);
  refresh_noise();
  mark_paper(normalised(decided_) + offset, width, paper_ceilings_.data(), paper_.data());
  runs_.clear();
  for (std::size_t from = 0; from < width;) {
    const bool paper = paper_[from / filter_stretch] != 0;
    std::size_t to = from;
    while (to < width && (paper_[to / filter_stretch] != 0) == paper) to += filter_stretch;
    to = std::min(to, width);
    if (paper) {
      std::memset(out + from, 255, to - from);
    } else {
      // Its two ends stored apart (a pair put together on the stack and copied whole waits for
      // both stores, on every run).
      runs_.emplace_back();
      runs_.back().from = from;
      runs_.back().to = to;
    }
    from = to;
  }
  const RowSums<std::uint32_t> sums = running_.next(
      decided_, [this](std::int64_t row) { return normalised(row); }, runs_.data(), runs_.size());
  filter(filtered_.data());
  const int ceiling = statistics_.formula().ceiling;
  for (const ColumnRun& run : runs_) {
    const std::size_t n = run.to - run.from;
    const RowSums<std::uint32_t> here{sums.sums + run.from, sums.squares + run.from, sums.window};
    decider_.decide(filtered_.data() + run.from, here, n, out + run.from);
    if (noise_reaches_ceiling_) {
      no_ink_within_noise(filtered_.data() + run.from, noise_.data() + run.from, n,
                          paper_deviations, static_cast<float>(2 * radius_ + 1), out + run.from);
    }
    // Where the window vetoed the global threshold's ink, it may hold nothing but noise.
    // (refresh_noise() made the noise's row.)
    if (any_vetoed(filtered_.data() + run.from, n, ceiling, out + run.from)) {
      ink_where_flat(filtered_.data() + run.from, here.sums, here.squares, here.window,
                     noise_.data() + run.from, n, ceiling, flat_window, out + run.from);
    }
  }
  if (edge_reach_ > 0) to_stroke_edges(out);
  if (!faint_.empty()) {
    // The marks of the rows around this one (the row below is new).
    while (marked_ <= std::min(rows_ - 1, decided_ + 1)) mark_faint(marked_++);
    add_faint(out);
  }
  ++decided_;
  return true;
}

void AutoRows::to_stroke_edges(unsigned char* out) const {
  // Each ink sample's stroke bottom: the darkest reached going down its slope (each step darker
  // than the last) to the left, right, up or down, within edge_reach_ and the rows the ring holds.
  // Its own stroke's: a grey rule beside darker print keeps its own depth.
  const std::size_t offset = static_cast<std::size_t>(strip_.first - strip_.fed_first);
  const unsigned char* row = normalised(decided_);
  const std::size_t reach = static_cast<std::size_t>(edge_reach_);
  const int up = std::min(edge_reach_, decided_);
  const int down = std::min(edge_reach_, rows_ - 1 - decided_);
  // A sample no lighter than the edge of the darkest stroke is ink whatever its bottom (the
  // strokes' cores: most of the ink).
  const int surely = edge_levels_[0];
  const unsigned char* samples = row + offset;
  const auto light = static_cast<unsigned char>(surely);
  for (const ColumnRun& run : runs_) {
    for (std::size_t x = run.from; x < run.to; ++x) {
      // 32 samples at a time where none is ink lighter than `surely` (most of them), in bytes.
      if (x % 32 == 0 && x + 32 <= run.to) {
        const unsigned char* o = out + x;
        const unsigned char* v = samples + x;
        unsigned char any = 0;
        for (std::size_t j = 0; j < 32; ++j) {
          const unsigned char lighter = v[j] > light ? 0xff : 0;
          any |= static_cast<unsigned char>(~o[j] & lighter);
        }
        if (any == 0) {
          x += 31;
          continue;
        }
      }
      const std::size_t c = offset + x;
      const int sample = row[c];
      if (out[x] != 0 || sample <= surely) continue;
      // Paper if lighter than its stroke's edge, found from its bottom. Each direction is left
      // once the sample is paper for the darkest bottom so far (a darker one only keeps it so).
      int darkest = sample;
      const auto follow = [&](int steps, auto at) {
        int last = sample;
        for (int k = 1; k <= steps && sample <= edge_levels_[std::min(darkest, last)]; ++k) {
          const int s = at(k);
          if (s >= last) break;
          last = s;
        }
        darkest = std::min(darkest, last);
      };
      const int before = static_cast<int>(std::min(reach, c));
      const int after = static_cast<int>(std::min(reach, fed_ - 1 - c));
      follow(before, [&](int k) { return int{row[c - static_cast<std::size_t>(k)]}; });
      follow(after, [&](int k) { return int{row[c + static_cast<std::size_t>(k)]}; });
      follow(up, [&](int k) { return int{normalised(decided_ - k)[c]}; });
      follow(down, [&](int k) { return int{normalised(decided_ + k)[c]}; });
      if (sample > edge_levels_[darkest]) out[x] = 255;
    }
  }
}

void AutoRows::filter(unsigned char* out) {
  if (square_ != Square::rows) {
    filter_wide(out);
    return;
  }
  const std::size_t offset = static_cast<std::size_t>(strip_.first - strip_.fed_first);
  const int ceiling = statistics_.formula().ceiling;
  const std::size_t r = static_cast<std::size_t>(radius_);
  const std::size_t side = 2 * r + 1;
  // The square's rows (the page's top and bottom rows repeated), its columns on each side (the
  // strip's margin holds them, or they are the page's edges, repeated).
  const unsigned char* rows[2 * widest_direct_radius + 1];
  for (int dy = -radius_; dy <= radius_; ++dy) {
    rows[dy + radius_] = normalised(std::clamp(decided_ + dy, 0, rows_ - 1));
  }
  const unsigned char* edged[2 * widest_direct_radius + 1];
  // Over the runs decided, in pieces (a sample at the page's left or right edge alone).
  for (const ColumnRun& run : runs_) {
    for (std::size_t from = run.from; from < run.to;) {
      const std::size_t start = offset + from;  // among the fed columns
      std::size_t n = std::min(filter_piece, run.to - from);
      if (start >= r && start + r < fed_) {
        n = std::min(n, fed_ - r - start);  // up to the right edge
        for (std::size_t i = 0; i < side; ++i) edged[i] = rows[i] + (start - r);
      } else {
        // One sample, its square's columns beyond the page's edges repeated.
        n = 1;
        edge_rows_.resize(side * side);
        for (std::size_t i = 0; i < side; ++i) {
          unsigned char* copy = edge_rows_.data() + i * side;
          for (std::size_t j = 0; j < side; ++j) {
            copy[j] = rows[i][std::min(fed_ - 1, start + j < r ? 0 : start + j - r)];
          }
          edged[i] = copy;
        }
      }
      wiener(edged, radius_, noise_.data() + from, n, ceiling, filtered_above, out + from);
      from += n;
    }
  }
}

void AutoRows::refresh_noise() {
  const int y = top_ + decided_;
  // The noise changes only from one row of blocks to the next.
  if (statistics_.block_row(y) == noise_row_) return;
  noise_row_ = statistics_.block_row(y);
  statistics_.noise_along(y, left_ + strip_.first, noise_.size(), noise_.data());
  // Each stretch's paper: above the ceiling by two deviations of its loudest block's noise (the
  // noise is even along each block, at least block() columns: one sample a block() columns and
  // the last meets every block).
  const int ceiling = statistics_.formula().ceiling;
  const std::size_t step = static_cast<std::size_t>(std::max(statistics_.block(), 1));
  paper_ceilings_.resize(paper_.size());
  for (std::size_t s = 0; s < paper_ceilings_.size(); ++s) {
    const std::size_t from = std::min(noise_.size(), s * filter_stretch);
    const std::size_t to = std::min(noise_.size(), from + filter_stretch);
    float loudest = from < to ? noise_[to - 1] : 0.0f;
    for (std::size_t j = from; j < to; j += step) loudest = std::max(loudest, noise_[j]);
    paper_ceilings_[s] = ceiling + static_cast<int>(std::ceil(filtered_above * std::sqrt(loudest)));
  }
}

void AutoRows::filter_wide(unsigned char* out) {
  // Over each run, its square's columns brought to this row, block by block (the blocks of no run
  // are left behind: the page's paper costs nothing); those a row behind, most, moved down in one
  // pass, the same as their totals along the row where the square is wide.
  const std::size_t side = 2 * static_cast<std::size_t>(radius_) + 1;
  const unsigned char* middle =
      normalised(decided_) + static_cast<std::size_t>(strip_.first - strip_.fed_first);
  const int ceiling = statistics_.formula().ceiling;
  const int entering = std::min(decided_ + radius_, rows_ - 1);
  const int leaving = std::max(decided_ - radius_ - 1, 0);
  const bool totals = square_ == Square::totals;
  for (const ColumnRun& run : runs_) {
    // Whole blocks (run.from starts one), so that each is moved down whole.
    const std::size_t end = std::min(square_sums_.size(), (run.to + side - 1 + filter_stretch - 1) /
                                                              filter_stretch * filter_stretch);
    for (std::size_t block = run.from / filter_stretch; block * filter_stretch < end; ++block) {
      if (square_row_[block] != decided_ && square_row_[block] != decided_ - 1) {
        square_block(block);
      }
    }
    square_totals_[run.from] = 0;
    square_total_squares_[run.from] = 0;
    for (std::size_t from = run.from; from < end;) {
      // The longest stretch of blocks alike (a row behind or not) inside the page's edges, or one
      // block across them.
      const bool behind = square_row_[from / filter_stretch] != decided_;
      std::size_t to = std::min(end, from + filter_stretch);
      if (square_inside(from, to)) {
        while (to < end && (square_row_[to / filter_stretch] != decided_) == behind &&
               square_inside(to, std::min(end, to + filter_stretch))) {
          to = std::min(end, to + filter_stretch);
        }
      }
      const std::size_t n = to - from;
      const unsigned char* enter = behind ? square_samples(entering, from, n, 0) : nullptr;
      const unsigned char* leave = behind ? square_samples(leaving, from, n, 1) : nullptr;
      if (totals) {
        advance<std::uint32_t>(enter, leave, square_sums_.data() + from,
                               square_squares_.data() + from, square_totals_.data() + from,
                               square_total_squares_.data() + from, n);
      } else if (behind) {
        move_down<std::uint32_t>(enter, leave, square_sums_.data() + from,
                                 square_squares_.data() + from, n);
      }
      for (std::size_t block = from / filter_stretch; block * filter_stretch < to; ++block) {
        square_row_[block] = decided_;
      }
      from = to;
    }
    if (totals) {
      wiener_wide(middle + run.from, square_totals_.data() + run.from,
                  square_total_squares_.data() + run.from, static_cast<int>(side),
                  noise_.data() + run.from, run.to - run.from, ceiling, filtered_above,
                  out + run.from);
    } else {
      wiener_columns(square_sums_.data() + run.from, square_squares_.data() + run.from, radius_,
                     middle + run.from, noise_.data() + run.from, run.to - run.from, ceiling,
                     filtered_above, out + run.from);
    }
  }
}

void AutoRows::square_block(std::size_t block) {
  const std::size_t from = block * filter_stretch;
  const std::size_t n = std::min(filter_stretch, square_sums_.size() - from);
  std::uint32_t* sums = square_sums_.data() + from;
  std::uint32_t* squares = square_squares_.data() + from;
  const auto clamped = [this](int row) { return std::clamp(row, 0, rows_ - 1); };
  const int was = square_row_[block];
  const int steps = decided_ - was;
  // Moved down a row at a time while that costs less than summing its rows anew, and while the
  // ring still holds the rows leaving it.
  if (was != no_square_row && 2 * steps <= 2 * radius_ + 1 &&
      clamped(was - radius_) >= std::max(0, received_ - slots_)) {
    for (int row = was + 1; row <= decided_; ++row) {
      move_down(square_samples(clamped(row + radius_), from, n, 0),
                square_samples(clamped(row - radius_ - 1), from, n, 1), sums, squares, n);
    }
  } else {
    std::fill(sums, sums + n, 0u);
    std::fill(squares, squares + n, 0u);
    for (int dy = -radius_; dy <= radius_; ++dy) {
      const unsigned char* samples = square_samples(clamped(decided_ + dy), from, n, 0);
      for (std::size_t j = 0; j < n; ++j) {
        const std::uint32_t v = samples[j];
        sums[j] += v;
        squares[j] += v * v;
      }
    }
  }
  square_row_[block] = decided_;
}

bool AutoRows::square_inside(std::size_t from, std::size_t to) const {
  // Square column j is page column strip_.first - radius_ + j.
  const std::int64_t first = std::int64_t{strip_.first} - radius_ + std::int64_t(from);
  return first >= 0 && first + std::int64_t(to - from) <= strip_.columns;
}

const unsigned char* AutoRows::square_samples(int row, std::size_t from, std::size_t n, int slot) {
  const std::int64_t first = std::int64_t{strip_.first} - radius_ + std::int64_t(from);
  const unsigned char* samples = normalised(row);
  if (square_inside(from, from + n)) return samples + (first - strip_.fed_first);
  unsigned char* copy = gathered_.data() + static_cast<std::size_t>(slot) * filter_stretch;
  for (std::size_t j = 0; j < n; ++j) {
    const std::int64_t column =
        std::clamp<std::int64_t>(first + std::int64_t(j), 0, strip_.columns - 1);
    copy[j] = samples[column - strip_.fed_first];
  }
  return copy;
}

}  // namespace imagefiles::detail
