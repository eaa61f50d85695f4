// auto's faint thin strokes, above its global threshold: see AutoRows::mark_faint().

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imagefiles/auto_faint.h"

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {
namespace {

// mark_faint()'s loops over a run of stretches, each vectorised (in place of byte loops); those
// whose ends and edges need care are declared in auto_faint.h.

// For each stretch of filter_stretch of the `n` marks (the last may be shorter), whether it holds
// one, into `flags`.
IMAGEFILES_VECTOR_CLONES void flag_stretches(const unsigned char* marks, std::size_t n,
                                             unsigned char* flags) {
  // The whole stretches in eight words of 64 bits each: a vector's bytes folded into one stall on
  // the folding's latency.
  std::size_t from = 0;
  for (; from + filter_stretch <= n; from += filter_stretch) {
    static_assert(filter_stretch == 64, "eight words a stretch");
    std::uint64_t words[8];
    std::memcpy(words, marks + from, filter_stretch);
    const std::uint64_t any = ((words[0] | words[1]) | (words[2] | words[3])) |
                              ((words[4] | words[5]) | (words[6] | words[7]));
    flags[from / filter_stretch] = any != 0;
  }
  if (from < n) {
    unsigned char any = 0;
    for (std::size_t i = from; i < n; ++i) any |= marks[i];
    flags[from / filter_stretch] = any != 0;
  }
}

// For `n` candidates (1 or 0) of rows[2], the sides (above, below, left, right: bits 8, 16, 32,
// 64, added to `marks`) on which the candidate lies at least halfway from the sample beyond its
// neighbour to that neighbour: were the neighbour a rule's mark, the candidate would be the
// rule's second sample (a blurred rule one sample wide has a lighter sample on both sides, as
// light as each other). rows[0] to rows[4] are the rows two above to two below, each from two
// columns before the first.
IMAGEFILES_VECTOR_CLONES void second_samples(const unsigned char* const* rows, std::size_t n,
                                             const unsigned char* candidates,
                                             unsigned char* marks) {
  const unsigned char* far_up = rows[0] + 2;
  const unsigned char* up = rows[1] + 2;
  const unsigned char* middle = rows[2] + 2;
  const unsigned char* down = rows[3] + 2;
  const unsigned char* far_down = rows[4] + 2;
  for (std::size_t i = 0; i < n; ++i) {
    const auto twice = static_cast<std::uint16_t>(2 * middle[i]);
    const auto nearer = [twice](unsigned char next, unsigned char beyond) -> unsigned {
      return twice <= static_cast<std::uint16_t>(next + beyond);
    };
    const unsigned sides = nearer(up[i], far_up[i]) << 3 | nearer(down[i], far_down[i]) << 4 |
                           nearer(middle[i - 1], middle[i - 2]) << 5 |
                           nearer(middle[i + 1], middle[i + 2]) << 6;
    marks[i] |= static_cast<unsigned char>(sides * candidates[i]);
  }
}

// Whether any of the `n` marks is set (a rule's are 5, the others' 1).
IMAGEFILES_VECTOR_CLONES bool any_mark(const unsigned char* marks, std::size_t n) {
  unsigned char any = 0;
  for (std::size_t i = 0; i < n; ++i) any |= marks[i];
  return any != 0;
}

}  // namespace

IMAGEFILES_VECTOR_CLONES void take_darkest(const unsigned char* samples, std::size_t n,
                                           unsigned char* darkest) {
  for (std::size_t i = 0; i < n; ++i) darkest[i] = std::min(darkest[i], samples[i]);
}

IMAGEFILES_VECTOR_CLONES void darker_of(const unsigned char* a, const unsigned char* b,
                                        std::size_t n, unsigned char* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::min(a[i], b[i]);
}

// For each column j in [from, to), the darkest of `darkest` over its columns [j - d, j + d] within
// [left, right), into `out`; `darkest` is spent. The columns whose window the ends cut (at the
// page's edges) keep a running darkest: those before inner_from all start at `left`, those from
// inner_to all end at `right` (searched one at a time, a window each, they cost 1% of `auto` on
// the page of the speed benchmark drawn four times as large). For the others, each column is made
// the darkest of the `span` from it, `span` doubled at each pass up to the window's width, and the
// window is two such spans, overlapping: a few passes along the row rather than one for each
// column of the window.
IMAGEFILES_VECTOR_CLONES void darkest_around(unsigned char* darkest, std::size_t left,
                                             std::size_t right, std::size_t from, std::size_t to,
                                             std::size_t d, unsigned char* out) {
  const std::size_t inner_from = std::clamp(left + d, from, to);
  const std::size_t inner_to = std::clamp(right > d ? right - d : 0, inner_from, to);
  if (from < inner_from) {
    // Windows [left, j + d + 1), cut at `right`: each one more sample than the last.
    std::size_t end = std::min(right, from + d + 1);
    unsigned char least = *std::min_element(darkest + left, darkest + end);
    for (std::size_t j = from; j < inner_from; ++j) {
      for (; end < std::min(right, j + d + 1); ++end) least = std::min(least, darkest[end]);
      out[j] = least;
    }
  }
  if (inner_to < to) {
    // Windows [j - d, right) (from `left` at most), from the last back: each one more.
    const auto first_of = [&](std::size_t j) { return j >= left + d ? j - d : left; };
    std::size_t first = first_of(to - 1);
    unsigned char least = *std::min_element(darkest + first, darkest + right);
    for (std::size_t j = to; j-- > inner_to;) {
      for (; first > first_of(j); --first) least = std::min(least, darkest[first - 1]);
      out[j] = least;
    }
  }
  std::size_t span = 1;
  for (; 2 * span <= 2 * d + 1; span *= 2) {
    // Forwards, each column reads one not yet rewritten.
    for (std::size_t j = left; j + 2 * span <= right; ++j) {
      darkest[j] = std::min(darkest[j], darkest[j + span]);
    }
  }
  for (std::size_t j = inner_from; j < inner_to; ++j) {
    out[j] = std::min(darkest[j - d], darkest[j + d + 1 - span]);
  }
}

// The `n` marks kept (as they are: 1 or 5) where `middle` lies at least halfway from the paper
// (255) to the darkest around (`around`): 2 (255 - v) >= 255 - darkest, that is v at most
// (255 + darkest) / 2 = 127 + darkest / 2 rounded up, in bytes (the rounding a byte average:
// no widening to 16 bits and back).
IMAGEFILES_VECTOR_CLONES void keep_halfway(const unsigned char* middle, const unsigned char* around,
                                           std::size_t n, unsigned char* marks) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto limit = static_cast<unsigned char>(127 + ((around[i] + 1u) >> 1));
    marks[i] &= static_cast<unsigned char>(0 - static_cast<unsigned>(middle[i] <= limit));
  }
}

// The marks of the middle row with at least four marks among the nine around them (a rule's
// mark, 5, counts for itself) made ink (0) in `out`, for `n` columns: the three rows from the
// column before the first to the one after the last. A sample summed from bytes loaded beside each
// other (no buffer between: bytes stored one way and loaded another stall).
IMAGEFILES_VECTOR_CLONES void faint_ink(const unsigned char* above, const unsigned char* middle,
                                        const unsigned char* below, std::size_t n,
                                        unsigned char* out) {
  for (std::size_t i = 0; i < n; ++i) {
    // The marks without the bits of a rule's second sample (8 and up).
    const auto around =
        static_cast<unsigned char>((above[i] & 7) + (above[i + 1] & 7) + (above[i + 2] & 7) +
                                   (middle[i] & 7) + (middle[i + 1] & 7) + (middle[i + 2] & 7) +
                                   (below[i] & 7) + (below[i + 1] & 7) + (below[i + 2] & 7));
    // A rule's second sample beside its mark, on the side it looks to (masks and comparisons:
    // bytes are not shifted in vectors).
    const unsigned char m = middle[i + 1];
    const auto beside = [m](unsigned char mark, unsigned char side) -> unsigned char {
      return ((m & side) != 0) & ((mark & 7) == 5);
    };
    const auto second =
        static_cast<unsigned char>(beside(above[i + 1], 8) | beside(below[i + 1], 16) |
                                   beside(middle[i], 32) | beside(middle[i + 2], 64));
    const auto ink = static_cast<unsigned char>((((m & 7) != 0) & (around >= 4)) | second);
    out[i] &= static_cast<unsigned char>(ink - 1);  // 0 where ink, else as it was
  }
}

IMAGEFILES_VECTOR_CLONES void line_marks(const unsigned char* const* rows, std::size_t n,
                                         std::size_t valley, std::size_t along, int ceiling,
                                         const unsigned char* __restrict lightest,
                                         unsigned char* __restrict marks) {
  const unsigned char* __restrict middle = rows[0] + along;
  const unsigned char* __restrict up = rows[1] + along;
  const unsigned char* __restrict down = rows[2] + along;
  const unsigned char* __restrict before = rows[3] + along;
  const unsigned char* __restrict after = rows[4] + along;
  const auto least = [](unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
    return std::min(std::min(a, b), std::min(c, d));
  };
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char v = middle[i];
    const unsigned char limit = lightest[i];
    // 10 (top - v) >= 7 (255 - v), in bytes.
    const unsigned char needed = lowest_top(v);
    // 0 or 1, combined with `&`: no branch in the vectorised loop.
    const auto climbs = [needed](unsigned char top) -> unsigned char { return top >= needed; };
    // A rule lying along the row: the valley climbs up and down, here and `along` away.
    const unsigned char lying = climbs(least(up[i], down[i], up[i - along], down[i - along])) &
                                climbs(std::min(up[i + along], down[i + along])) &
                                (std::max(middle[i - along], middle[i + along]) <= limit);
    // A rule standing across the rows: the valley climbs left and right.
    const unsigned char standing = climbs(least(middle[i - valley], middle[i + valley],
                                                before[i - valley], before[i + valley])) &
                                   climbs(std::min(after[i - valley], after[i + valley])) &
                                   (std::max(before[i], after[i]) <= limit);
    marks[i] |= static_cast<unsigned char>((v > ceiling) & (v <= limit) & (lying | standing));
  }
}

namespace {

// The `count` samples of a row of `fed` from column `first` (before the first column or past the
// last, the page's edges repeated), into `out`: copied at once, not a clamped column at a time.
void repeat_edges(const unsigned char* of, std::size_t fed, std::int64_t first, std::size_t count,
                  unsigned char* out) {
  const std::size_t before = first < 0 ? std::min(count, static_cast<std::size_t>(-first)) : 0;
  const auto column = static_cast<std::size_t>(first + static_cast<std::int64_t>(before));
  const std::size_t inside = column < fed ? std::min(count - before, fed - column) : 0;
  std::memset(out, of[0], before);
  if (inside > 0) std::memcpy(out + before, of + column, inside);
  std::memset(out + before + inside, of[fed - 1], count - before - inside);
}

// Calls `mark(rows, n, j)` for the columns [from, to) of `count` rows of `fed` samples, where the
// loop reads `margin` samples on each side of a column: the inner columns on the rows themselves,
// those near the page's edges on copies of them with the edges repeated, a piece at a time.
template <std::size_t count, typename Mark>
void with_margins(const std::array<const unsigned char*, count>& rows, std::size_t fed,
                  std::size_t margin, std::size_t from, std::size_t to, Mark mark) {
  const std::size_t inner_from = std::min(to, std::max(from, margin));
  const std::size_t inner_to = std::max(inner_from, std::min(to, fed >= margin ? fed - margin : 0));
  std::array<const unsigned char*, count> at;
  if (inner_to > inner_from) {
    for (std::size_t k = 0; k < count; ++k) at[k] = rows[k] + inner_from - margin;
    mark(at.data(), inner_to - inner_from, inner_from);
  }
  const auto at_edge = [&](std::size_t j, std::size_t end) {
    constexpr std::size_t room = 2 * AutoStatistics::widest_window;
    unsigned char copies[count][room];
    for (std::size_t k = 0; k < count; ++k) at[k] = copies[k];
    while (j < end) {
      const std::size_t n = std::min(end - j, room - 2 * margin);
      const std::int64_t first = static_cast<std::int64_t>(j) - static_cast<std::int64_t>(margin);
      for (std::size_t r = 0; r < count; ++r)
        repeat_edges(rows[r], fed, first, n + 2 * margin, copies[r]);
      mark(at.data(), n, j);
      j += n;
    }
  };
  at_edge(from, inner_from);
  at_edge(inner_to, to);
}

}  // namespace

// A faint thin stroke (a ruled line, a crossbar, a hairline written lightly) lies above the
// global ceiling, and Wolf's window, filled with paper, vetoes it too; show-through, blurred from
// the back of the sheet, can be as dark. What tells them apart is sharpness at the page's scale: a
// thin stroke's valley climbs back to the paper within a third of a stroke width on both sides,
// a blurred one's does not. A mark is a sample above the ceiling, darker than the paper by four
// deviations of the noise, at the bottom of such a valley (faint_marks), and at least halfway
// from the paper to the darkest sample around it (the stroke's edge, as for the ceiling); a mark
// is ink where at least four of the 3 x 3 around it are marks (the noise's specks stand alone).
void AutoRows::mark_faint(int row) {
  const int reach = statistics_.reach();
  const std::size_t d = static_cast<std::size_t>(reach);
  const auto row_at = [&](int r) { return normalised(std::clamp(r, 0, rows_ - 1)); };
  const unsigned char* middle = row_at(row);
  unsigned char* marks = faint_.data() + static_cast<std::size_t>(row % 3) * fed_;
  // The fed columns whose marks the decided ones need: theirs and one more on each side.
  const std::size_t offset = static_cast<std::size_t>(strip_.first - strip_.fed_first);
  const std::size_t width = static_cast<std::size_t>(strip_.width);
  const std::size_t low = offset == 0 ? 0 : offset - 1;
  const std::size_t high = std::min(fed_, offset + width + 1);
  const int ceiling = statistics_.formula().ceiling;
  // No sample of a stretch darker than the quietest noise allows: no mark, nothing to compute.
  const int lightest = 255 - static_cast<int>(4 * std::sqrt(statistics_.quietest()));
  unsigned char* stretches =
      stretches_.data() + static_cast<std::size_t>(row % 3) * stretches_per_row_;
  // A thin rule's run may lie under the ceiling, down to halfway from it to the ink's level (the
  // ceiling lies halfway from that level to the paper): where the page's dark class is mostly
  // faint rules (grid paper, a puzzle's grid with few digits), the ceiling lies among them, and
  // Wolf's window, full of paper, vetoes the darker ones.
  const int floor = std::max(0, ceiling - (255 - ceiling) / 2);
  mark_between(middle + low, high - low, floor, lightest, stretches);
  // The noise is the same along a row of blocks.
  if (statistics_.block_row(top_ + row) != lightest_row_) {
    lightest_row_ = statistics_.block_row(top_ + row);
    statistics_.lightest_along(
        top_ + row, left_ + strip_.fed_first + static_cast<std::int64_t>(low), high - low,
        faint_lightest_.data() + low, quiet_lightest_.data() + low);
  }
  // Half a window less one: the rows and columns around a mark that the rows kept and the
  // columns fed hold for the rows decided beside it.
  const int along = statistics_.window() / 2 - 1;
  const unsigned char* standing_rows[AutoStatistics::widest_window];
  bool standing_found = false;
  // In runs of stretches with samples to mark, or without.
  const auto wanted = [&](std::size_t j) { return stretches[(j - low) / filter_stretch] != 0; };
  for (std::size_t from = low; from < high;) {
    const bool marking = wanted(from);
    std::size_t to = from;
    while (to < high && wanted(to) == marking) to += filter_stretch;
    to = std::min(to, high);
    if (!marking) {
      // No mark: the stretch's flag says so, and its marks are 0, so that add_faint() counts a
      // row's marks as they are (a few bytes, rather than a flag looked up for each).
      std::fill(marks + from, marks + to, 0);
      std::fill(stretches + (from - low) / filter_stretch,
                stretches + (to - low + filter_stretch - 1) / filter_stretch, 0);
      from = to;
      continue;
    }
    // A mark within the darkest third from the ceiling to the paper may lie in a valley a sample
    // wider (a grey rule blurred by the lens, beside print far darker): show-through that dark
    // is blurred wider still. Halfway, the blurred pages of small letters lost 0.8 points.
    // The columns whose valleys lie within the fed ones at once; the others, the page's edges
    // repeated, a piece at a time.
    const int wide = std::min(reach + 1, statistics_.window() / 2 - 1);
    const unsigned char* up = row_at(row - reach);
    const unsigned char* down = row_at(row + reach);
    if (wide > reach) {
      const auto deep = static_cast<unsigned char>(ceiling + (255 - ceiling) / 3);
      with_margins<5>({up, middle, down, row_at(row - wide), row_at(row + wide)}, fed_, d + 1, from,
                      to, [&](const unsigned char* const* at, std::size_t n, std::size_t j) {
                        faint_marks_wider(at[0] + 1, at[1] + 1, at[2] + 1, at[3], at[1], at[4], n,
                                          d, ceiling, faint_lightest_.data() + j, deep, marks + j);
                      });
    } else {
      with_margins<3>({up, middle, down}, fed_, d, from, to,
                      [&](const unsigned char* const* at, std::size_t n, std::size_t j) {
                        faint_marks(at[0], at[1], at[2], n, d, ceiling, faint_lightest_.data() + j,
                                    marks + j);
                      });
    }
    // Light print beside bold print (auto_light.cpp).
    if (along > reach && ceiling < 255) mark_light(row, from, to, marks);
    // A mark on a straight rule (a form's, a table's, a grid's) may lie in a valley twice as
    // wide: such a rule is often wider than a third of its digits' stroke, and blurred. A rule is
    // told from show-through's strokes and the rows of small blurred letters by its length and its
    // width: half a window away along it, on both sides, it is as dark and still such a valley,
    // and the valley is narrower than a quarter of the window (a row of letters is wider).
    const int valley = std::min(2 * reach + 1, statistics_.window() / 4 - 1);
    if (valley > reach) {
      const std::size_t a = static_cast<std::size_t>(along);
      with_margins<5>({middle, row_at(row - valley), row_at(row + valley), row_at(row - along),
                       row_at(row + along)},
                      fed_, a, from, to,
                      [&](const unsigned char* const* at, std::size_t n, std::size_t j) {
                        line_marks(at, n, static_cast<std::size_t>(valley), a, ceiling,
                                   faint_lightest_.data() + j, marks + j);
                      });
    }
    // A mark on a thin rule too faint for the marks above (within a few deviations of the noise),
    // or alone across it (a rule a sample wide has no four marks around it): the mean of the run
    // of samples along the rule, almost a window long, is above the ceiling (faint: no print in
    // the run), two deviations of the noise darker than the paper, at the bottom of a valley that
    // climbs back 0.7 of the way to the paper run_reach() away on both sides (as sharp as a
    // thin stroke's, which show-through's blurred strokes are not), and none of the run's samples
    // is as light as one deviation (a stroke shorter than the run is not a rule). Averaged over
    // the run, such a rule stands out of the noise, and a speck of noise does not: the mark needs
    // no marks around it.
    const int across = statistics_.run_reach();
    if (along >= across && across > reach) {
      const std::size_t h = static_cast<std::size_t>(along);
      const std::size_t r = static_cast<std::size_t>(across);
      const std::size_t run = 2 * h + 1;
      // Where strokes are wider than three samples (a reach over one), a rule's valley climbs
      // 0.7 of the way back to the paper's mean, not to 255: the runs' sums over noisy paper lie
      // that much under it (the paper is taken at its 90th percentile), and a faint rule two to
      // four deviations of the noise deep, blurred, did not climb back in time. With the strokes
      // of small print, show-through's stems are as narrow as a rule's valley, and only the full
      // climb keeps them out (`all` at 0.6 times the letters lost 0.5). The lying rule's 0.4 of
      // the way `across` away, against the rows of small blurred letters, stays to 255 (to the
      // mean, a smudge along the top of the real `text` came in: 0.3 lost).
      const bool to_mean = reach > 1;
      unsigned char* scratch = run_scratch_.data();
      // The samples of a row over the columns [first - h, first - h + count), the page's edges
      // repeated.
      const auto samples = [&](const unsigned char* of, std::size_t first, std::size_t count) {
        if (first >= h && first - h + count <= fed_) return of + (first - h);
        repeat_edges(of, fed_, static_cast<std::int64_t>(first) - static_cast<std::int64_t>(h),
                     count, scratch);
        return static_cast<const unsigned char*>(scratch);
      };
      // The samples that may be marks, first (a few samples of the rows around each); the runs
      // only around them.
      unsigned char* candidates = run_candidates_.data();
      const unsigned char* probes[4] = {row_at(row - along) + from, row_at(row + along) + from,
                                        row_at(row - along / 2) + from,
                                        row_at(row + along / 2) + from};
      run_candidates(samples(middle, from, to - from + 2 * h), probes, to - from, h, floor, ceiling,
                     faint_lightest_.data() + from, candidates);
      // The runs only over clusters of candidates, each from its first to its last: a gap of a
      // few stretches with none (more than four runs) costs more to cross than to start again
      // after it (a run's samples on each side). On a page of few rules, they lie far apart.
      const std::size_t count = to - from;
      unsigned char* holding = run_blocks_.data();
      flag_stretches(candidates, count, holding);
      const std::size_t blocks = (count + filter_stretch - 1) / filter_stretch;
      const std::size_t apart = 4 * run / filter_stretch + 2;
      // The rows of the runs standing across the row, found once a row.
      if (!standing_found) {
        normalised_rows(row - along, run, standing_rows);
        standing_found = true;
      }
      // A cluster in up to three pieces: those whose runs reach past the page's edges read
      // copies of the rows with the edges repeated (a row at a time), the one between the rows
      // themselves.
      const std::size_t inner_to = fed_ > h ? fed_ - h : 0;
      std::size_t block = 0;
      std::size_t piece_from = 0;  // the columns of the cluster left
      std::size_t piece_to = 0;
      for (;;) {
        if (piece_from == piece_to) {
          while (block < blocks && !holding[block]) ++block;
          if (block == blocks) break;
          std::size_t beyond = block + 1;
          for (std::size_t k = beyond; k < blocks && k < beyond + apart; ++k) {
            if (holding[k]) beyond = k + 1;
          }
          const std::size_t at = block * filter_stretch;
          const auto* first = static_cast<const unsigned char*>(
              std::memchr(candidates + at, 1, std::min(filter_stretch, count - at)));
          std::size_t last = std::min(count, beyond * filter_stretch);
          while (candidates[last - 1] == 0) --last;
          block = beyond;
          piece_from = from + static_cast<std::size_t>(first - candidates);
          piece_to = from + last;
        }
        const std::size_t start = piece_from;
        const std::size_t end = start < h          ? std::min(piece_to, h)
                                : start < inner_to ? std::min(piece_to, inner_to)
                                                   : piece_to;
        piece_from = end;
        const std::size_t n = end - start;
        // A rule two samples wide and more has a second sample beside its marks: where a
        // candidate is nearer the sample on one side than the one beyond that sample is to it.
        with_margins<5>(
            {row_at(row - 2), row_at(row - 1), middle, row_at(row + 1), row_at(row + 2)}, fed_, 2,
            start, end, [&](const unsigned char* const* at, std::size_t count, std::size_t j) {
              second_samples(at, count, candidates + (j - from), marks + j);
            });
        // The columns' sums (below) lie between the third and the fourth.
        std::uint16_t* const past = run_sums_.data() + 4 * fed_ + 2 * AutoStatistics::widest_window;
        std::uint16_t* sums[5] = {run_sums_.data(), run_sums_.data() + fed_,
                                  run_sums_.data() + 2 * fed_, past, past + fed_};
        // A rule lying along the row: its valley climbs back 0.7 of the way a sample farther than
        // a standing one's (a rule as wide as the digits' strokes, blurred), and 0.4 of the way
        // `across` away (a row of small blurred letters, wider, does not). Show-through's strokes
        // as long as the run stand (stems); the lying ones are shorter than a letter's height.
        const int wider = std::min(across + 1, along);
        const int lying_rows[5] = {row, row - across, row + across, row - wider, row + wider};
        const int lying_sums = wider > across ? 5 : 3;
        for (int k = 0; k < lying_sums; ++k) {
          run_sums(samples(row_at(lying_rows[k]), start, n + 2 * h), n, run, run_spans_.data(),
                   sums[k]);
        }
        unsigned char* lying_lightest = run_lightest_.data();
        lightest_of_runs(samples(middle, start, n + 2 * h), n, run, run_row_.data(),
                         lying_lightest);
        // The columns' sums over the run's rows, from `across` columns before the first, and
        // their lightest (of the columns decided).
        std::uint16_t* columns = run_sums_.data() + 3 * fed_;
        std::fill(columns, columns + n + 2 * r, 0);
        std::fill(run_row_.data(), run_row_.data() + n + 2 * r, 0);
        if (start >= r && end + r <= fed_) {
          const unsigned char* run_rows[AutoStatistics::widest_window];
          for (std::size_t k = 0; k < run; ++k) run_rows[k] = standing_rows[k] + (start - r);
          add_samples(run_rows, run, n + 2 * r, columns, run_row_.data());
        } else {
          // Near the page's edges, its samples repeated (in one row of scratch), a row at a time.
          for (std::size_t k = 0; k < run; ++k) {
            const unsigned char* samples_of_row =
                samples(standing_rows[k], start + h - r, n + 2 * r);
            add_samples(&samples_of_row, 1, n + 2 * r, columns, run_row_.data());
          }
        }
        const unsigned char* standing_lightest = run_row_.data() + r;
        // Without the farther rows (a window too small), the valley's rows stand for them.
        const std::uint16_t* lying[5] = {sums[0], sums[1], sums[2], sums[lying_sums - 2],
                                         sums[lying_sums - 1]};
        run_marks(candidates + (start - from), lying, lying_lightest, columns, standing_lightest, n,
                  r, run, floor, ceiling, to_mean, faint_lightest_.data() + start,
                  quiet_lightest_.data() + start, marks + start);
      }
    }
    // Halfway from the paper to the darkest sample around, from each column's darkest over the
    // marks' rows, then each column's darkest over the columns around: marks lie side by side on
    // a page of large blurred writing, and their squares overlap. The stretches keep their mark
    // only where a mark is left.
    unsigned char* flags = stretches + (from - low) / filter_stretch;
    if (!any_mark(marks + from, to - from)) {
      std::fill(flags, stretches + (to - low + filter_stretch - 1) / filter_stretch, 0);
      from = to;
      continue;
    }
    const std::size_t left = from >= d ? from - d : 0;
    const std::size_t right = std::min(fed_, to + d);
    unsigned char* darkest = column_darkest_.data();
    if (!darkest_rows_.ready()) darkest_rows_.reset(fed_, reach);
    darkest_rows_.darkest(row, row_at, left, right, darkest);
    unsigned char* around = around_.data();
    darkest_around(darkest, left, right, from, to, d, around);
    keep_halfway(middle + from, around + from, to - from, marks + from);
    flag_stretches(marks + from, to - from, flags);
    from = to;
  }
}

void AutoRows::add_faint(unsigned char* out) const {
  // The marks of the three rows (0 in the stretches without: mark_faint()) counted in runs of
  // stretches of the middle row with marks, and nowhere else.
  const std::size_t offset = static_cast<std::size_t>(strip_.first - strip_.fed_first);
  const std::size_t width = static_cast<std::size_t>(strip_.width);
  const std::size_t low = offset == 0 ? 0 : offset - 1;
  const auto slot = [&](int r) {
    return static_cast<std::size_t>(std::clamp(r, 0, rows_ - 1) % 3);
  };
  const unsigned char* rows[3] = {faint_.data() + slot(decided_ - 1) * fed_,
                                  faint_.data() + slot(decided_) * fed_,
                                  faint_.data() + slot(decided_ + 1) * fed_};
  const unsigned char* flags = stretches_.data() + slot(decided_) * stretches_per_row_;
  const unsigned char* const flags_end =
      flags + (offset + width - low + filter_stretch - 1) / filter_stretch;
  // A column of the page's edges, one at a time: the column beyond is the edge's own.
  const auto ink_at = [&](std::size_t j) {
    const std::size_t left = j == 0 ? 0 : j - 1;
    const std::size_t right = std::min(fed_ - 1, j + 1);
    unsigned char three[3][3];
    for (std::size_t r = 0; r < 3; ++r) {
      three[r][0] = rows[r][left];
      three[r][1] = rows[r][j];
      three[r][2] = rows[r][right];
    }
    faint_ink(three[0], three[1], three[2], 1, out + (j - offset));
  };
  for (const unsigned char* flag = flags; flag < flags_end;) {
    const auto* first = static_cast<const unsigned char*>(
        std::memchr(flag, 1, static_cast<std::size_t>(flags_end - flag)));
    if (first == nullptr) break;
    const auto* last = static_cast<const unsigned char*>(
        std::memchr(first, 0, static_cast<std::size_t>(flags_end - first)));
    if (last == nullptr) last = flags_end;
    std::size_t from =
        std::max(offset, low + static_cast<std::size_t>(first - flags) * filter_stretch);
    std::size_t to =
        std::min(offset + width, low + static_cast<std::size_t>(last - flags) * filter_stretch);
    if (from == 0) ink_at(from++);
    if (to == fed_ && to > from) ink_at(--to);
    if (to > from) {
      faint_ink(rows[0] + from - 1, rows[1] + from - 1, rows[2] + from - 1, to - from,
                out + (from - offset));
    }
    flag = last;
  }
}

}  // namespace imagefiles::detail
