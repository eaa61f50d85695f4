// auto's filter against the noise: its square summed from its rows, its columns or their totals
// gives the same page, each loop the formula in doubles; the paper's stretches marked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"

namespace {

using namespace imagefiles::detail;

// Pages of letters (rings of strokes `stroke` wide, paper lit unevenly, noise) whose squares are
// 3 x 3 to 7 x 7 and wider, cut by the page's edges: decided with the square summed from its rows,
// its columns or their totals, against the whole-image function (which mixes them by radius), at
// the page's own radius and at a third of its stroke less one (what the noise of these pages
// needs is less: 5 x 5 at most). Some pages have grey dots on their paper, evenly lit, a row of
// them every 2 to 7 rows (by stretch): the square's columns of a stretch left as paper for a few
// rows are moved down, not summed anew.
TEST(AutoFilter, RowsColumnsOrTotalsGiveThePage) {
  std::set<int> radii;
  for (const auto& [stroke, dotted] :
       {std::pair{2, false}, std::pair{8, false}, std::pair{11, false}, std::pair{14, false},
        std::pair{20, false}, std::pair{8, true}, std::pair{11, true}}) {
    SCOPED_TRACE("strokes " + std::to_string(stroke) + " wide" + (dotted ? ", dotted" : ""));
    const int rows = 48 * stroke + 17, columns = 50 * stroke + 29;
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<unsigned char> in;
    unsigned seed = static_cast<unsigned>(stroke);
    for (int i = 0; i < rows * columns; ++i) {
      seed = seed * 1103515245u + 12345u;
      const int x = i % columns, y = i / columns, u = (x / stroke) % 10, v = (y / stroke) % 16;
      const int light = dotted ? 210 : 110 + (x * 3 + y) % 120;  // paper seen as paper
      const bool ink = u < 8 && v < 11 && (u == 0 || u == 7 || v == 0 || v == 10);
      const bool dot = dotted && !ink && x % 64 == 40 && y % (2 + (x / 64) % 6) == 0;
      const int level = ink ? light / 3 : dot ? light * int(40 + (seed >> 22) % 50) / 100 : light;
      in.push_back(static_cast<unsigned char>(level + (seed >> 28)));
    }
    AutoStatistics statistics(rows, columns);
    for (int pass = 0; pass < AutoStatistics::passes; ++pass) {
      for (int y = 0; y < rows; ++y) {
        if (statistics.wanted(pass, y)) statistics.gather(pass, y, 0, in.data() + y * width, width);
      }
      statistics.end(pass);
    }
    std::vector<unsigned char> whole(in.size(), 7);
    ASSERT_EQ(binariser_auto(whole.data(), in.data(), rows, columns), IMAGE_OK);
    EXPECT_GT(std::count(whole.begin(), whole.end(), 0), 0);  // ink on it: a filter at work
    // (from rows, from columns): all from rows, all from columns, all from totals; at the page's
    // radius (0), against the whole page, and at the stroke's, against the first way's page.
    for (const int radius : {0, std::max(1, (stroke + 2) / 3 - 1)}) {
      std::vector<unsigned char> first;
      for (const auto& way : {std::pair{widest_direct_radius, 0},
                              std::pair{0, widest_direct_radius}, std::pair{0, 0}}) {
        std::vector<unsigned char> out(in.size(), 7);
        AutoRows decider(statistics, rows, whole_row(columns), 0, 0, way.first, way.second, radius);
        radii.insert(decider.filter_radius());
        int done = 0;
        for (int y = 0; y < rows; ++y) {
          decider.feed(in.data() + y * width);
          while (decider.next(out.data() + done * width)) ++done;
        }
        if (first.empty()) first = out;
        EXPECT_TRUE(out == (radius == 0 ? whole : first))
            << "radius " << decider.filter_radius() << " from rows up to " << way.first
            << ", columns up to " << way.second;
      }
    }
  }
  // The table reaches every radius summed from rows or columns, and beyond.
  for (int r = 1; r <= widest_direct_radius; ++r) EXPECT_EQ(radii.count(r), 1u) << r;
  EXPECT_GT(*radii.rbegin(), widest_direct_radius);
}

// The filter from its running totals at every radius (the page test above compares it with the
// two other loops), on noise of several widths around paper, strokes and the ceiling, against the
// formula in doubles: off by one at most (a float's rounding), and seldom.
TEST(AutoFilter, RunningTotalsGiveTheFormula) {
  std::mt19937 random(22);
  const std::size_t n = 300;
  const int ceiling = 140;
  const float above = 2;  // deviations of the noise
  std::vector<float> noise(n);
  for (std::size_t i = 0; i < n; ++i) noise[i] = static_cast<float>(1 + (i * 7) % 120);
  for (int r = 1; r <= 8; ++r) {
    SCOPED_TRACE("radius " + std::to_string(r));
    const std::size_t side = 2 * static_cast<std::size_t>(r) + 1;
    std::vector<unsigned char> middle(n + side);
    // The square's running totals along the row: of its columns' sums and sums of squares.
    std::vector<std::uint32_t> totals(n + side, 0), squares(n + side, 0);
    for (std::size_t y = 0; y < side; ++y) {
      for (std::size_t i = 0; i + 1 < n + side; ++i) {
        const int level = i % 97 < 20 ? 60 : i % 97 < 50 ? 150 : 230;
        const std::uint32_t v = static_cast<std::uint32_t>(std::clamp(
            level + static_cast<int>(random() % (1 + i % 40)) - int(i % 40) / 2, 0, 255));
        if (y == side / 2 && i >= side / 2) middle[i - side / 2] = static_cast<unsigned char>(v);
        totals[i + 1] += v;
        squares[i + 1] += v * v;
      }
    }
    std::partial_sum(totals.begin(), totals.end(), totals.begin());
    std::partial_sum(squares.begin(), squares.end(), squares.begin());
    std::vector<unsigned char> out(n + 1, 7);
    wiener_wide(middle.data(), totals.data(), squares.data(), static_cast<int>(side), noise.data(),
                n, ceiling, above, out.data());
    EXPECT_EQ(out[n], 7);
    int off = 0, kept = 0;
    const double count = double(side) * double(side);
    for (std::size_t x = 0; x < n; ++x) {
      const double mean = (totals[x + side] - totals[x]) / count;
      const double variance = (squares[x + side] - squares[x]) / count - mean * mean;
      const double factor = variance > noise[x] ? 1 - noise[x] / variance : 0;
      int want = static_cast<int>(std::clamp(mean + factor * (middle[x] - mean) + 0.5, 0.0, 255.0));
      if (std::max(middle[x] - ceiling, 0) > above * std::sqrt(double{noise[x]})) {
        want = middle[x];
        ++kept;
      }
      EXPECT_LE(std::abs(out[x] - want), 1) << x;
      off += out[x] != want;
    }
    EXPECT_LE(off, 3);
    EXPECT_GT(kept, 0);                // some samples above the ceiling by more than the noise
    EXPECT_LT(kept, int(n) * 9 / 10);  // and most filtered
  }
}

// Each stretch marked paper against its own ceiling (below 0 and from 255 up among them): all its
// samples above it; the last stretch shorter, nothing marked beyond.
TEST(AutoFilter, PaperStretchesAgainstTheirOwnCeilings) {
  std::mt19937 random(7);
  const int choices[] = {-3, 0, 179, 200, 230, 254, 255, 300};
  const auto sample = [](int v) { return static_cast<unsigned char>(std::clamp(v, 0, 255)); };
  for (const std::size_t n : {1, 63, 64, 700}) {
    std::vector<unsigned char> row(n), marks(n / filter_stretch + 1, 9);  // one beyond, unwritten
    std::vector<int> ceilings(marks.size());
    std::vector<bool> paper;
    for (std::size_t from = 0, s = 0; from < n; from += filter_stretch, ++s) {
      const std::size_t to = std::min(n, from + filter_stretch);
      ceilings[s] = choices[(s + n / 3) % 8];
      for (std::size_t i = from; i < to; ++i) row[i] = sample(ceilings[s] + 1 + int(random() % 64));
      // Every other stretch with one sample at its ceiling: its last, or any.
      if (s % 2 == 0)
        row[s % 4 == 0 ? to - 1 : from + random() % (to - from)] = sample(ceilings[s]);
      paper.push_back(*std::min_element(row.begin() + from, row.begin() + to) > ceilings[s]);
    }
    mark_paper(row.data(), n, ceilings.data(), marks.data());
    EXPECT_TRUE(n % filter_stretch != 0 || marks.back() == 9) << n;
    for (std::size_t s = 0; s < paper.size(); ++s)
      EXPECT_EQ(marks[s], paper[s]) << s << " of " << n;
  }
}

}  // namespace
