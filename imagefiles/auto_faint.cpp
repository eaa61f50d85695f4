// auto's faint thin strokes, above its global threshold: see AutoRows::mark_faint().

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {

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
    if (!marking) {  // marks left as they were: add_faint() reads the stretch's flag first
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
      const auto at_edge = [&](std::size_t j) {
        unsigned char around[3][AutoStatistics::widest_window];
        for (std::size_t i = 0; i <= 2 * dd; ++i) {
          const std::int64_t c = static_cast<std::int64_t>(j + i) - r;
          const std::size_t k = static_cast<std::size_t>(
              std::clamp<std::int64_t>(c, 0, static_cast<std::int64_t>(fed_) - 1));
          around[0][i] = up[k];
          around[1][i] = middle[k];
          around[2][i] = down[k];
        }
        faint_marks(around[0], around[1], around[2], 1, dd, ceiling, lightest + j, into + j);
      };
      for (std::size_t j = from; j < inner_from; ++j) at_edge(j);
      for (std::size_t j = inner_to; j < to; ++j) at_edge(j);
    };
    mark_at(reach, faint_lightest_.data(), marks);
    // A mark within the darkest third from the ceiling to the paper may lie in a valley a sample
    // wider (a grey rule blurred by the lens, beside print far darker): show-through that dark
    // is blurred wider still. Halfway, the blurred pages of small letters lost 0.8 points.
    const int wide = std::min(reach + 1, statistics_.window() / 2 - 1);
    if (wide > reach) {
      const int deep = ceiling + (255 - ceiling) / 3;
      for (std::size_t j = from; j < to; ++j) {
        deep_lightest_[j] = static_cast<unsigned char>(std::min<int>(faint_lightest_[j], deep));
      }
      mark_at(wide, deep_lightest_.data(), deep_marks_.data());
      for (std::size_t j = from; j < to; ++j) marks[j] |= deep_marks_[j];
    }
    // Halfway from the paper to the darkest sample around: looked for at the few marks only. The
    // stretches keep their mark only where a mark is left.
    std::fill(stretches + (from - low) / filter_stretch,
              stretches + (to - low + filter_stretch - 1) / filter_stretch, 0);
    // Each column's darkest over the marks' rows first, once: marks lie side by side on a page
    // of large blurred writing, and their squares overlap.
    const std::size_t left = from >= d ? from - d : 0;
    const std::size_t right = std::min(fed_, to + d);
    if (std::memchr(marks + from, 1, to - from) != nullptr) {
      unsigned char* darkest = column_darkest_.data();
      std::memcpy(darkest + left, row_at(row - reach) + left, right - left);
      for (int r = row - reach + 1; r <= row + reach; ++r) {
        const unsigned char* samples = row_at(r);
        for (std::size_t k = left; k < right; ++k) darkest[k] = std::min(darkest[k], samples[k]);
      }
    }
    for (unsigned char* at = marks + from;
         (at = static_cast<unsigned char*>(
              std::memchr(at, 1, static_cast<std::size_t>(marks + to - at)))) != nullptr;
         ++at) {
      const std::size_t j = static_cast<std::size_t>(at - marks);
      const std::size_t first = j >= d ? j - d : 0;
      const std::size_t count = std::min(fed_, j + d + 1) - first;
      const int darkest =
          *std::min_element(column_darkest_.data() + first, column_darkest_.data() + first + count);
      *at = 2 * (255 - middle[j]) >= 255 - darkest;
      if (*at) stretches[(j - low) / filter_stretch] = 1;
      if (at + 1 == marks + to) break;
    }
    from = to;
  }
}

void AutoRows::add_faint(unsigned char* out) const {
  // Each row's marks count in the stretches marked as having some, and nowhere else.
  const std::size_t offset = static_cast<std::size_t>(strip_.first - strip_.fed_first);
  const std::size_t width = static_cast<std::size_t>(strip_.width);
  const std::size_t low = offset == 0 ? 0 : offset - 1;
  struct Row {
    const unsigned char* marks;
    const unsigned char* stretches;
  };
  const auto row_of = [&](int r) {
    const std::size_t slot = static_cast<std::size_t>(std::clamp(r, 0, rows_ - 1) % 3);
    return Row{faint_.data() + slot * fed_, stretches_.data() + slot * stretches_per_row_};
  };
  const Row rows[3] = {row_of(decided_ - 1), row_of(decided_), row_of(decided_ + 1)};
  const auto mark = [&](const Row& r, std::size_t j) {
    return r.stretches[(j - low) / filter_stretch] != 0 ? r.marks[j] : 0;
  };
  // The stretches with marks, found among the row's flags.
  const std::size_t stretches = (offset + width - low + filter_stretch - 1) / filter_stretch;
  const unsigned char* flags = rows[1].stretches;
  for (const unsigned char* flag = flags;
       (flag = static_cast<const unsigned char*>(
            std::memchr(flag, 1, static_cast<std::size_t>(flags + stretches - flag)))) != nullptr;
       ++flag) {
    const std::size_t stretch = static_cast<std::size_t>(flag - flags);
    const std::size_t from = std::max(offset, low + stretch * filter_stretch);
    const std::size_t to = std::min(offset + width, low + (stretch + 1) * filter_stretch);
    const unsigned char* middle = rows[1].marks;
    for (std::size_t j = from; j < to; ++j) {
      if (!middle[j]) continue;
      const std::size_t left = j == 0 ? 0 : j - 1;
      const std::size_t right = std::min(fed_ - 1, j + 1);
      int around = 0;
      for (const Row& r : rows) around += mark(r, left) + mark(r, j) + mark(r, right);
      if (around >= 4) out[j - offset] = 0;
    }
    if (flag + 1 == flags + stretches) break;
  }
}

}  // namespace imagefiles::detail
