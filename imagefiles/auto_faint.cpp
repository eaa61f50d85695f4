// auto's faint thin strokes, above its global threshold: see AutoRows::mark_faint().

#include <algorithm>
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

// `n` samples of `in`, none above `cap`, into `out`.
IMAGEFILES_VECTOR_CLONES void capped(const unsigned char* in, std::size_t n, unsigned char cap,
                                     unsigned char* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = std::min(in[i], cap);
}

// The `n` marks of `more` added to those of `into`.
IMAGEFILES_VECTOR_CLONES void add_marks(const unsigned char* more, std::size_t n,
                                        unsigned char* into) {
  for (std::size_t i = 0; i < n; ++i) into[i] |= more[i];
}

// For each stretch of filter_stretch of the `n` marks (the last may be shorter), whether it holds
// one, into `flags`.
IMAGEFILES_VECTOR_CLONES void flag_stretches(const unsigned char* marks, std::size_t n,
                                             unsigned char* flags) {
  for (std::size_t from = 0; from < n; from += filter_stretch) {
    const std::size_t count = std::min(filter_stretch, n - from);
    unsigned char any = 0;
    for (std::size_t i = 0; i < count; ++i) any |= marks[from + i];
    flags[from / filter_stretch] = any != 0;
  }
}

// The sums of the `n` runs of `run` samples from each of `samples`' first `n`, into `sums`.
void run_sums(const unsigned char* samples, std::size_t n, std::size_t run, std::uint16_t* sums) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < run; ++i) sum = static_cast<std::uint16_t>(sum + samples[i]);
  sums[0] = sum;
  for (std::size_t i = 1; i < n; ++i) {
    sum = static_cast<std::uint16_t>(sum + samples[i + run - 1] - samples[i - 1]);
    sums[i] = sum;
  }
}

// The `n` samples added to `sums`.
IMAGEFILES_VECTOR_CLONES void add_samples(const unsigned char* samples, std::size_t n,
                                          std::uint16_t* sums) {
  for (std::size_t i = 0; i < n; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + samples[i]);
}

// Whether any of the `n` marks is set.
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
// [left, right), into `out`; `darkest` is spent. The few columns whose window the ends cut (at the
// page's edges) are searched one at a time. For the others, each column is made the darkest of
// the `span` from it, `span` doubled at each pass up to the window's width, and the window is two
// such spans, overlapping: a few passes along the row rather than one for each column of the
// window.
IMAGEFILES_VECTOR_CLONES void darkest_around(unsigned char* darkest, std::size_t left,
                                             std::size_t right, std::size_t from, std::size_t to,
                                             std::size_t d, unsigned char* out) {
  const std::size_t inner_from = std::clamp(left + d, from, to);
  const std::size_t inner_to = std::clamp(right > d ? right - d : 0, inner_from, to);
  const auto search = [&](std::size_t j) {
    const std::size_t first = j >= left + d ? j - d : left;
    out[j] = *std::min_element(darkest + first, darkest + std::min(right, j + d + 1));
  };
  for (std::size_t j = from; j < inner_from; ++j) search(j);
  for (std::size_t j = inner_to; j < to; ++j) search(j);
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

// The `n` marks kept where `middle` lies at least halfway from the paper (255) to the darkest
// around (`around`): 2 (255 - v) >= 255 - darkest, in 16 bits.
IMAGEFILES_VECTOR_CLONES void keep_halfway(const unsigned char* middle, const unsigned char* around,
                                           std::size_t n, unsigned char* marks) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto twice = static_cast<std::uint16_t>(2 * middle[i]);
    const auto limit = static_cast<std::uint16_t>(255 + around[i]);
    marks[i] &= static_cast<unsigned char>(0 - (twice <= limit));  // 5 kept as 5
  }
}

// The marks of the middle row with at least four marks among the nine around them made ink (0) in
// `out`, for `n` columns: the three rows from the column before the first to the one after the
// last. A sample summed from bytes loaded beside each other (no buffer between: bytes stored one
// way and loaded another stall).
IMAGEFILES_VECTOR_CLONES void faint_ink(const unsigned char* above, const unsigned char* middle,
                                        const unsigned char* below, std::size_t n,
                                        unsigned char* out) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto around = static_cast<unsigned char>(above[i] + above[i + 1] + above[i + 2] +
                                                   middle[i] + middle[i + 1] + middle[i + 2] +
                                                   below[i] + below[i + 1] + below[i + 2]);
    const auto ink = static_cast<unsigned char>(middle[i + 1] & (around >= 4));
    out[i] &= static_cast<unsigned char>(ink - 1);  // 0 where ink, else as it was
  }
}

IMAGEFILES_VECTOR_CLONES void line_marks(const unsigned char* middle,
                                         const std::uint16_t* const* lying,
                                         const std::uint16_t* standing, std::size_t n,
                                         std::size_t valley, std::size_t run, int ceiling,
                                         const unsigned char* lightest, unsigned char* marks) {
  const std::uint16_t* here = lying[0];
  const std::uint16_t* up = lying[1];
  const std::uint16_t* down = lying[2];
  const auto count = static_cast<std::uint32_t>(run);
  const std::uint32_t paper = 255 * count;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char v = middle[i];
    // Within two deviations of the noise of the paper, of which `lightest` allows four.
    const auto near = static_cast<unsigned char>((255 + lightest[i]) / 2);
    const auto faint = static_cast<std::uint32_t>(255 - lightest[i]) * count;
    // The run's mean between the ceiling and two deviations of the paper (2 (paper - s) >=
    // faint), and its valley: 10 (top - s) >= 7 (paper - s), for the sums of `run` samples.
    const auto rule = [&](std::uint32_t s, std::uint32_t a, std::uint32_t b) {
      const std::uint32_t needed = 7 * paper + 3 * s;
      return (s > count * static_cast<std::uint32_t>(ceiling)) & (2 * (paper - s) >= faint) &
             (10 * std::min(a, b) >= needed);
    };
    const bool lies = rule(here[i], up[i], down[i]);
    const bool stands = rule(standing[i + valley], standing[i], standing[i + 2 * valley]);
    const bool marked = (v > ceiling) & (v <= near) & (lies | stands);
    marks[i] |= static_cast<unsigned char>(5 * marked);
  }
}

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
  mark_between(middle + low, high - low, ceiling, lightest, stretches);
  // The noise is the same along a row of blocks.
  if (statistics_.block_row(top_ + row) != lightest_row_) {
    lightest_row_ = statistics_.block_row(top_ + row);
    statistics_.lightest_along(top_ + row,
                               left_ + strip_.fed_first + static_cast<std::int64_t>(low),
                               high - low, faint_lightest_.data() + low);
  }
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
    // The columns whose valley lies within the fed ones at once; the others, the page's edges
    // repeated, a sample at a time.
    const auto mark_at = [&](int r, const unsigned char* lightest, unsigned char* into) {
      const std::size_t dd = static_cast<std::size_t>(r);
      const unsigned char* up = row_at(row - r);
      const unsigned char* down = row_at(row + r);
      const std::size_t inner_from = std::min(to, std::max(from, dd));
      const std::size_t inner_to = std::max(inner_from, std::min(to, fed_ >= dd ? fed_ - dd : 0));
      if (inner_to > inner_from) {
        faint_marks(up + inner_from - dd, middle + inner_from - dd, down + inner_from - dd,
                    inner_to - inner_from, dd, ceiling, lightest + inner_from, into + inner_from);
      }
      // The columns [j, end) near the page's edges from copies of their rows, the edges
      // repeated, a piece at a time.
      const auto at_edge = [&](std::size_t j, std::size_t end) {
        constexpr std::size_t room = 2 * AutoStatistics::widest_window;
        unsigned char around[3][room];
        while (j < end) {
          const std::size_t n = std::min(end - j, room - 2 * dd);
          for (std::size_t i = 0; i < n + 2 * dd; ++i) {
            const std::int64_t c = static_cast<std::int64_t>(j + i) - r;
            const std::size_t k = static_cast<std::size_t>(
                std::clamp<std::int64_t>(c, 0, static_cast<std::int64_t>(fed_) - 1));
            around[0][i] = up[k];
            around[1][i] = middle[k];
            around[2][i] = down[k];
          }
          faint_marks(around[0], around[1], around[2], n, dd, ceiling, lightest + j, into + j);
          j += n;
        }
      };
      at_edge(from, inner_from);
      at_edge(inner_to, to);
    };
    mark_at(reach, faint_lightest_.data(), marks);
    // A mark within the darkest third from the ceiling to the paper may lie in a valley a sample
    // wider (a grey rule blurred by the lens, beside print far darker): show-through that dark
    // is blurred wider still. Halfway, the blurred pages of small letters lost 0.8 points.
    const int wide = std::min(reach + 1, statistics_.window() / 2 - 1);
    if (wide > reach) {
      const int deep = ceiling + (255 - ceiling) / 3;
      capped(faint_lightest_.data() + from, to - from, static_cast<unsigned char>(deep),
             deep_lightest_.data() + from);
      mark_at(wide, deep_lightest_.data(), deep_marks_.data());
      add_marks(deep_marks_.data() + from, to - from, marks + from);
    }
    // A mark on a straight rule (a form's, a table's, a grid's) may be fainter, and lie in a
    // wider valley: such a rule is often wider than a third of its digits' stroke, blurred, and
    // grey. A rule is told from the noise and from show-through's strokes and the rows of
    // letters by the run of samples along it, almost a window long: the run's mean is faint (above
    // the ceiling: print is not in it), two deviations of the noise darker than the paper, and at
    // the bottom of a valley 2 reach + 1 wide across the rule. Averaged over the run, a rule
    // within a few deviations of the paper stands out, and the noise does not.
    const int along = statistics_.window() / 2 - 1;
    const int valley = std::min(2 * reach + 1, along);
    if (valley > reach) {
      const std::size_t h = static_cast<std::size_t>(along);
      const std::size_t r = static_cast<std::size_t>(valley);
      const std::size_t n = to - from;
      // The samples of a row over the columns [first, first + count) (first may lie before the
      // page's edge, given as first + h), the edges repeated.
      const auto samples = [&](const unsigned char* row_samples, std::size_t shifted,
                               std::size_t count, unsigned char* scratch) {
        if (shifted >= h && shifted - h + count <= fed_) return row_samples + (shifted - h);
        for (std::size_t i = 0; i < count; ++i) {
          const std::int64_t c = static_cast<std::int64_t>(shifted + i) - along;
          scratch[i] = row_samples[std::clamp<std::int64_t>(c, 0, static_cast<std::int64_t>(fed_) - 1)];
        }
        return static_cast<const unsigned char*>(scratch);
      };
      unsigned char* scratch = line_scratch_.data();
      std::uint16_t* sums[3] = {line_sums_.data(), line_sums_.data() + fed_,
                                line_sums_.data() + 2 * fed_};
      const int lying_rows[3] = {row, row - valley, row + valley};
      for (int k = 0; k < 3; ++k) {
        run_sums(samples(row_at(lying_rows[k]), from, n + 2 * h, scratch), n, 2 * h + 1, sums[k]);
      }
      // The columns' sums over the run's rows, from `valley` columns before the first.
      std::uint16_t* columns = line_sums_.data() + 3 * fed_;
      std::fill(columns, columns + n + 2 * r, 0);
      for (int t = row - along; t <= row + along; ++t) {
        add_samples(samples(row_at(t), from + h - r, n + 2 * r, scratch), n + 2 * r, columns);
      }
      const std::uint16_t* lying[3] = {sums[0], sums[1], sums[2]};
      line_marks(middle + from, lying, columns, n, r, 2 * h + 1, ceiling,
                 faint_lightest_.data() + from, marks + from);
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
    // deep_marks_, added to the marks, holds the darkest around each column.
    unsigned char* around = deep_marks_.data();
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
    if (!rows[1][j]) return;
    const std::size_t left = j == 0 ? 0 : j - 1;
    const std::size_t right = std::min(fed_ - 1, j + 1);
    int around = 0;
    for (const unsigned char* r : rows) around += r[left] + r[j] + r[right];
    if (around >= 4) out[j - offset] = 0;
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
