// auto's filter against the noise at every stroke width: its square summed from its rows, from
// its columns' running sums or from their totals along the row gives the same page, whole or in
// bands, and each loop gives the filter's formula worked out in doubles.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"

namespace {

using imagefiles::detail::AutoRows;
using imagefiles::detail::AutoStatistics;
using imagefiles::detail::widest_direct_radius;

struct Page {
  int rows;
  int columns;
  std::vector<unsigned char> samples;
};

// Lines of letters as rings (8 x 11 strokes, 2 apart, lines 5 apart) of strokes `stroke` pixels
// wide, on paper lit unevenly, with noise of 16 levels.
Page page(int rows, int columns, int stroke, unsigned seed) {
  Page p{rows, columns, {}};
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int light = 110 + (x * 3 + y) % 120;
      const int u = (x / stroke) % 10;  // in strokes, within a letter's cell and its gap
      const int v = (y / stroke) % 16;
      const bool inside = u < 8 && v < 11;
      const bool ink = inside && (u == 0 || u == 7 || v == 0 || v == 10);
      const int value = ink ? light / 3 : light;
      p.samples.push_back(static_cast<unsigned char>(value + (seed >> 28)));
    }
  }
  return p;
}

void learn(const Page& p, AutoStatistics& statistics) {
  const std::size_t width = static_cast<std::size_t>(p.columns);
  for (int pass = 0; pass < AutoStatistics::passes; ++pass) {
    for (int y = 0; y < p.rows; ++y) {
      if (statistics.wanted(pass, y)) {
        statistics.gather(pass, y, 0, p.samples.data() + y * width, width);
      }
    }
    statistics.end(pass);
  }
}

// The page through the bands' functions, fed `band` rows at a time (every pass).
std::vector<unsigned char> banded(const Page& p, int band) {
  const parametres_binarisation automatic{BINARISATION_AUTO, 0, 0, 0};
  statut_image status = IMAGE_PARAMETRE_INVALIDE;
  std::unique_ptr<binariseur, void (*)(binariseur*)> b(
      creer_binariseur(&automatic, p.rows, p.columns, &status), detruire_binariseur);
  EXPECT_EQ(status, IMAGE_OK);
  if (b == nullptr) return {};
  const std::size_t width = static_cast<std::size_t>(p.columns);
  for (int pass = 1; pass < binariseur_passes(b.get()); ++pass) {
    for (int y = 0; y < p.rows; y += band) {
      EXPECT_EQ(binariseur_statistiques(b.get(), p.samples.data() + y * width,
                                        std::min(band, p.rows - y)),
                IMAGE_OK);
    }
  }
  std::vector<unsigned char> out;
  // Room for the rows fed and auto's window's half (at most 90).
  std::vector<unsigned char> rows(static_cast<std::size_t>(band + 91) * width);
  for (int y = 0; y < p.rows; y += band) {
    int n = 0;
    EXPECT_EQ(binariseur_lignes(b.get(), p.samples.data() + y * width, std::min(band, p.rows - y),
                                rows.data(), &n),
              IMAGE_OK);
    out.insert(out.end(), rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n * width));
  }
  return out;
}

// The page decided a row at a time, the filter's square summed from its rows up to radius
// `from_rows`, from its columns' sums up to `from_columns`, from their totals beyond; its radius.
std::vector<unsigned char> decided(const AutoStatistics& statistics, const Page& p, int from_rows,
                                   int from_columns, int* radius) {
  const std::size_t width = static_cast<std::size_t>(p.columns);
  std::vector<unsigned char> out(p.samples.size(), 7);
  AutoRows rows(statistics, p.rows, imagefiles::detail::whole_row(p.columns), 0, 0, from_rows,
                from_columns);
  *radius = rows.filter_radius();
  int done = 0;
  for (int y = 0; y < p.rows; ++y) {
    rows.feed(p.samples.data() + y * width);
    while (rows.next(out.data() + done * width)) ++done;
  }
  EXPECT_EQ(done, p.rows);
  return out;
}

// Pages whose squares are 3 x 3 to 7 x 7 (summed from rows, columns or totals) and wider (from
// totals alone), the page's edges in them: each way against the whole-image function, and in
// bands.
TEST(AutoFilter, RowsColumnsOrTotalsGiveThePage) {
  std::set<int> radii;
  for (const int stroke : {2, 8, 11, 14, 20}) {
    // Three lines of five letters and a part (the page's edges cut through them).
    const Page p = page(48 * stroke + 17, 50 * stroke + 29, stroke, static_cast<unsigned>(stroke));
    SCOPED_TRACE("strokes " + std::to_string(stroke) + " wide");
    AutoStatistics statistics(p.rows, p.columns);
    learn(p, statistics);
    std::vector<unsigned char> whole(p.samples.size(), 7);
    ASSERT_EQ(binariser_auto(whole.data(), p.samples.data(), p.rows, p.columns), IMAGE_OK);
    EXPECT_GT(std::count(whole.begin(), whole.end(), 0), 0);  // ink on it: a filter at work
    // (from rows, from columns): as auto does, all from rows, all from columns, all from totals.
    const int ways[][2] = {
        {1, widest_direct_radius}, {widest_direct_radius, 0}, {0, widest_direct_radius}, {0, 0}};
    for (const auto& way : ways) {
      int radius = 0;
      EXPECT_TRUE(decided(statistics, p, way[0], way[1], &radius) == whole)
          << "radius " << radius << " from rows up to " << way[0] << ", columns up to " << way[1];
      radii.insert(radius);
    }
    for (const int band : {1, 7}) EXPECT_TRUE(banded(p, band) == whole) << "band of " << band;
  }
  // The table reaches every radius summed from rows or columns, and beyond.
  for (int r = 1; r <= widest_direct_radius; ++r) EXPECT_EQ(radii.count(r), 1u) << r;
  EXPECT_GT(*radii.rbegin(), widest_direct_radius);
}

// The filter's formula in doubles, for one sample: its square's mean and variance, the sample
// pulled to the mean as the variance nears the noise's; a sample above the ceiling by more than
// `above` deviations of the noise left as it is.
int reference(const std::vector<std::vector<unsigned char>>& rows, int r, std::size_t x,
              float noise, int ceiling, float above) {
  double sum = 0;
  double squares = 0;
  for (int dy = 0; dy <= 2 * r; ++dy) {
    for (int dx = 0; dx <= 2 * r; ++dx) {
      const double v = rows[static_cast<std::size_t>(dy)][x + static_cast<std::size_t>(dx)];
      sum += v;
      squares += v * v;
    }
  }
  const double count = (2.0 * r + 1) * (2.0 * r + 1);
  const double mean = sum / count;
  const double variance = squares / count - mean * mean;
  const int sample = rows[static_cast<std::size_t>(r)][x + static_cast<std::size_t>(r)];
  const double over = std::max(sample - ceiling, 0);
  if (over > above * std::sqrt(double{noise})) return sample;
  const double kept = variance > noise ? 1 - noise / variance : 0;
  return static_cast<int>(std::clamp(mean + kept * (sample - mean) + 0.5, 0.0, 255.0));
}

// The three loops against the formula on rows of noise around a level, for each radius they take: a
// result off by one at most (a float's rounding against a double's), and seldom.
TEST(AutoFilter, EveryLoopGivesTheFormula) {
  std::mt19937 random(22);
  const std::size_t n = 300;
  for (int r = 1; r <= 8; ++r) {
    SCOPED_TRACE("radius " + std::to_string(r));
    const std::size_t side = 2 * static_cast<std::size_t>(r) + 1;
    std::vector<std::vector<unsigned char>> rows(side, std::vector<unsigned char>(n + side - 1));
    for (auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        // Paper, strokes and the ceiling's neighbourhood, with noise of several widths.
        const int level = i % 97 < 20 ? 60 : i % 97 < 50 ? 150 : 230;
        row[i] = static_cast<unsigned char>(std::clamp(
            level + static_cast<int>(random() % (1 + i % 40)) - int(i % 40) / 2, 0, 255));
      }
    }
    std::vector<float> noise(n);
    for (std::size_t i = 0; i < n; ++i) noise[i] = static_cast<float>(1 + (i * 7) % 120);
    const int ceiling = 140;
    const float above = 2;
    // The square's sums as running totals along the row of its column sums.
    std::vector<std::uint32_t> totals(n + side, 0);
    std::vector<std::uint32_t> total_squares(n + side, 0);
    for (std::size_t j = 0; j + 1 < n + side; ++j) {
      std::uint32_t sum = 0;
      std::uint32_t squares = 0;
      for (const auto& row : rows) {
        sum += row[j];
        squares += std::uint32_t{row[j]} * row[j];
      }
      totals[j + 1] = totals[j] + sum;
      total_squares[j + 1] = total_squares[j] + squares;
    }
    std::vector<unsigned char> running(n);
    imagefiles::detail::wiener_wide(rows[static_cast<std::size_t>(r)].data() + r, totals.data(),
                                    total_squares.data(), static_cast<int>(side), noise.data(), n,
                                    ceiling, above, running.data());
    std::vector<unsigned char> anew(n);
    std::vector<unsigned char> columns(n);
    if (r <= widest_direct_radius) {
      std::vector<const unsigned char*> pointers;
      for (const auto& row : rows) pointers.push_back(row.data());
      imagefiles::detail::wiener(pointers.data(), r, noise.data(), n, ceiling, above, anew.data());
      // The columns' sums as differences of the totals.
      std::vector<std::uint32_t> sums(n + side - 1);
      std::vector<std::uint32_t> squares(n + side - 1);
      for (std::size_t j = 0; j < sums.size(); ++j) {
        sums[j] = totals[j + 1] - totals[j];
        squares[j] = total_squares[j + 1] - total_squares[j];
      }
      imagefiles::detail::wiener_columns(sums.data(), squares.data(), r,
                                         rows[static_cast<std::size_t>(r)].data() + r, noise.data(),
                                         n, ceiling, above, columns.data());
    }
    int off = 0;
    int kept = 0;
    for (std::size_t x = 0; x < n; ++x) {
      const int want = reference(rows, r, x, noise[x], ceiling, above);
      EXPECT_LE(std::abs(running[x] - want), 1) << x;
      off += running[x] != want;
      kept += want == rows[static_cast<std::size_t>(r)][x + static_cast<std::size_t>(r)];
      if (r <= widest_direct_radius) {
        EXPECT_LE(std::abs(anew[x] - want), 1) << x;
        off += anew[x] != want;
        EXPECT_EQ(columns[x], anew[x]) << x;
      }
    }
    EXPECT_LE(off, 3);
    EXPECT_GT(kept, 0);                // some samples above the ceiling by more than the noise
    EXPECT_LT(kept, int(n) * 9 / 10);  // and most filtered
  }
}

// Each stretch marked paper against its own ceiling: all its samples above it, the last stretch
// shorter; ceilings below 0 and from 255 up among them.
TEST(AutoFilter, PaperStretchesAgainstTheirOwnCeilings) {
  using imagefiles::detail::filter_stretch;
  std::mt19937 random(7);
  for (const std::size_t n : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{700}}) {
    const std::size_t stretches = (n + filter_stretch - 1) / filter_stretch;
    std::vector<unsigned char> row(n);
    for (auto& v : row) v = static_cast<unsigned char>(180 + random() % 76);
    std::vector<int> ceilings(stretches);
    for (std::size_t s = 0; s < stretches; ++s) {
      const int choices[] = {-3, 0, 179, 200, 230, 254, 255, 300};
      ceilings[s] = choices[(s + n) % 8];
    }
    std::vector<unsigned char> marks(stretches, 9);
    imagefiles::detail::mark_paper(row.data(), n, ceilings.data(), marks.data());
    for (std::size_t s = 0; s < stretches; ++s) {
      const auto from = row.begin() + static_cast<std::ptrdiff_t>(s * filter_stretch);
      const auto to =
          row.begin() + static_cast<std::ptrdiff_t>(std::min(n, (s + 1) * filter_stretch));
      const bool all_above =
          std::all_of(from, to, [&](unsigned char v) { return v > ceilings[s]; });
      EXPECT_EQ(marks[s], all_above ? 1 : 0) << "stretch " << s << " of " << n;
    }
  }
}

}  // namespace
