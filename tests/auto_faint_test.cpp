// auto's faint strokes' row loops against the same worked out a sample at a time: the darkest over
// the square around each sample, row after row (rows left out, pieces of rows, their edges and the
// page's), the halfway test and the marks made ink, the valleys' marks, the runs' sums and
// lightest; nothing is written beside the piece asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <utility>
#include <vector>

#include "imagefiles/auto_faint.h"
#include "imagefiles/auto_loops.h"

namespace {

using namespace imagefiles::detail;
using Bytes = std::vector<unsigned char>;

Bytes noise(std::size_t n, std::size_t seed, unsigned top = 255) {
  std::mt19937 random(static_cast<unsigned>(seed));
  Bytes v(n);
  for (auto& x : v) x = static_cast<unsigned char>(random() % (top + 1));
  return v;
}

TEST(AutoFaint, DarkestOverTheSquareAround) {
  const int rows = 70;
  const std::size_t columns = 300;
  const Bytes page = noise(rows * columns, 2);
  const auto row_of = [&](int t) { return page.data() + std::clamp(t, 0, rows - 1) * columns; };
  for (const int reach : {0, 1, 3, 11, 31, 32, 40}) {
    std::mt19937 random(static_cast<unsigned>(reach));
    const std::size_t d = static_cast<std::size_t>(reach);
    DarkestRows darkest;
    darkest.reset(columns, reach);
    for (int row = 0; row < rows; ++row) {
      if (random() % 4 == 0) continue;  // a row left out; else a piece or the whole row
      const std::size_t left = random() % 2 ? random() % columns : 0;
      const std::size_t right = left ? left + 1 + random() % (columns - left) : columns;
      const bool inside = random() % 2;  // else the columns decided are all those read
      const std::size_t from = inside ? left + random() % (right - left) : left;
      const std::size_t to = inside ? from + 1 + random() % (right - from) : right;
      Bytes dark(columns, 77), out(columns, 255), expected = out;
      darkest.darkest(row, row_of, left, right, dark.data());
      darkest_around(dark.data(), left, right, from, to, d, out.data());
      for (std::size_t j = from; j < to; ++j)
        for (int t = row - reach; t <= row + reach; ++t)
          for (std::size_t k = std::max(left + d, j) - d; k < std::min(right, j + d + 1); ++k)
            expected[j] = std::min(expected[j], row_of(t)[k]);
      ASSERT_EQ(out, expected) << "reach " << reach << " row " << row;
    }
  }
}

TEST(AutoFaint, DarkestAroundWindowsCutAtBothEnds) {
  // Pieces against the ends of the columns read: windows cut on one side, on both, wider than
  // all of them; the columns outside the piece left as they were.
  struct Case {
    std::size_t left, right, from, to, d;
  };
  for (const Case c : std::initializer_list<Case>{{0, 40, 0, 40, 3},
                                                  {0, 40, 0, 40, 25},
                                                  {0, 40, 5, 9, 60},
                                                  {7, 19, 7, 19, 5},
                                                  {7, 19, 10, 12, 1},
                                                  {3, 200, 3, 200, 31},
                                                  {3, 200, 100, 199, 31},
                                                  {0, 130, 1, 129, 64}}) {
    const Bytes samples = noise(200, c.right * 7 + c.d);
    Bytes dark = samples, out(200, 3), expected = out;
    for (std::size_t j = c.from; j < c.to; ++j) {
      const std::size_t first = std::max(c.left + c.d, j) - c.d;
      expected[j] = *std::min_element(
          samples.begin() + static_cast<std::ptrdiff_t>(first),
          samples.begin() + static_cast<std::ptrdiff_t>(std::min(c.right, j + c.d + 1)));
    }
    darkest_around(dark.data(), c.left, c.right, c.from, c.to, c.d, out.data());
    ASSERT_EQ(out, expected) << c.left << " " << c.right << " " << c.from << " " << c.d;
  }
}

TEST(AutoFaint, MarksKeptHalfwayAndMadeInk) {
  // Every sample against every darkest around it, marked or not.
  Bytes around(256);
  for (int dark = 0; dark < 256; ++dark) around[dark] = static_cast<unsigned char>(dark);
  for (int v = 0; v < 256; ++v) {
    Bytes middle(256, static_cast<unsigned char>(v)), marks = noise(256, v, 1), before = marks;
    keep_halfway(middle.data(), around.data(), 256, marks.data());
    for (int dark = 0; dark < 256; ++dark)
      ASSERT_EQ(marks[dark], before[dark] && 2 * (255 - v) >= 255 - dark) << v << " " << dark;
  }
  for (const std::size_t n : {1, 2, 3, 15, 64, 65, 130}) {
    const Bytes rows[3] = {noise(n + 2, n, 1), noise(n + 2, n + 500, 1), noise(n + 2, n + 900, 1)};
    Bytes expected = noise(n + 1, 3), made = expected;  // the one after the n columns kept
    faint_ink(rows[0].data(), rows[1].data(), rows[2].data(), n, made.data());
    for (std::size_t i = 0; i < n; ++i) {
      int nine = 0;
      for (const auto& row : rows) nine += row[i] + row[i + 1] + row[i + 2];
      if (rows[1][i + 1] && nine >= 4) expected[i] = 0;
    }
    ASSERT_EQ(made, expected) << n << " columns";
  }
}

// The rules' marks against the page read sample by sample: on random pages whose samples lie
// around the ceiling, each sample marked where it is dark enough, in a valley that climbs 0.7 of
// the way to the paper `valley` away across the rule, and is so `along` away on both sides along
// it, for a rule lying along the rows or standing across them; marks already there are kept.
TEST(AutoFaint, RulesMarkedWhereTheyHoldAlongThem) {
  for (const auto& sizes : {std::pair{3, 5}, {5, 11}, {11, 51}}) {
    // Named, not bound: C++17 lambdas do not capture structured bindings.
    const int valley = sizes.first, along = sizes.second;
    const int rows = 2 * along + 1;
    const std::size_t n = 300;
    const std::size_t columns = n + 2 * static_cast<std::size_t>(along);
    // Paper at 255 seven times in eight, else a level from 150 to 255; rules 175 to 235 dark on
    // a fifth of the columns, standing, and over stretches of the middle row, lying.
    Bytes page = noise(static_cast<std::size_t>(rows) * columns, static_cast<std::size_t>(valley));
    for (std::size_t i = 0; i < page.size(); ++i)
      page[i] = page[i] % 8 ? 255 : static_cast<unsigned char>(150 + page[i] % 106);
    std::mt19937 random(static_cast<unsigned>(along));
    for (std::size_t x = 0; x < columns; ++x) {
      if (random() % 5 == 0) {
        for (int y = 0; y < rows; ++y)
          page[y * columns + x] = static_cast<unsigned char>(175 + random() % 61);
      }
      if (x % 60 < 40) page[along * columns + x] = static_cast<unsigned char>(175 + random() % 61);
    }
    const auto at = [&](int y, std::size_t x) {
      return page[static_cast<std::size_t>(y) * columns + x];
    };
    const int row = along;
    const unsigned char* given[5] = {&page[row * columns], &page[(row - valley) * columns],
                                     &page[(row + valley) * columns], &page[0],
                                     &page[(row + along) * columns]};
    const int ceiling = 170;
    Bytes lightest = noise(n, 7, 255);
    for (auto& l : lightest) l = static_cast<unsigned char>(200 + l % 56);
    Bytes marks = noise(n, 11, 7), expected = marks;
    for (auto& m : marks) m = m == 0;  // a mark in eight
    expected = marks;
    line_marks(given, n, static_cast<std::size_t>(valley), static_cast<std::size_t>(along), ceiling,
               lightest.data(), marks.data());
    std::size_t made = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t x = i + static_cast<std::size_t>(along);
      const int v = at(row, x);
      const auto climbs = [v](int top) { return 10 * (top - v) >= 7 * (255 - v); };
      const auto dark = [&](int s) { return s <= lightest[i]; };
      bool lying = true;
      bool standing = true;
      for (const int t : {-along, 0, along}) {
        const std::size_t xt = static_cast<std::size_t>(static_cast<int>(x) + t);
        lying = lying && climbs(std::min(at(row - valley, xt), at(row + valley, xt))) &&
                (t == 0 || dark(at(row, xt)));
        standing = standing &&
                   climbs(std::min(at(row + t, x - static_cast<std::size_t>(valley)),
                                   at(row + t, x + static_cast<std::size_t>(valley)))) &&
                   (t == 0 || dark(at(row + t, x)));
      }
      if (v > ceiling && dark(v) && (lying || standing)) {
        made += !expected[i];
        expected[i] = 1;
      }
    }
    ASSERT_EQ(marks, expected) << "valley " << valley << " along " << along;
    EXPECT_GT(made, 10u) << "valley " << valley;

    // The thin rules' marks from the runs of the 2 along + 1 samples along them, on the same
    // page: the runs' sums and lightest samples, lying and standing, from the page.
    const int run = 2 * along + 1;
    const std::size_t v = static_cast<std::size_t>(valley);
    // A lying rule's valley is also looked at a row farther.
    const int wider = std::min(valley + 1, along);
    std::vector<std::uint16_t> sums[5];
    Bytes lying_lightest(n, 0), standing_lightest(n, 0);
    std::vector<std::uint16_t> standing(n + 2 * v, 0);
    for (int k = 0; k < 5; ++k) {
      const int offsets[5] = {0, -valley, valley, -wider, wider};
      const int y = row + offsets[k];
      sums[k].assign(n, 0);
      for (std::size_t i = 0; i < n; ++i) {
        for (int t = 0; t < run; ++t)
          sums[k][i] = static_cast<std::uint16_t>(sums[k][i] + at(y, i + t));
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      for (int t = 0; t < run; ++t) lying_lightest[i] = std::max(lying_lightest[i], at(row, i + t));
      for (int y = 0; y < rows; ++y) {
        standing_lightest[i] = std::max(standing_lightest[i], at(y, i + along));
      }
    }
    for (std::size_t c = 0; c < n + 2 * v; ++c) {
      for (int y = 0; y < rows; ++y)
        standing[c] = static_cast<std::uint16_t>(standing[c] + at(y, c + along - v));
    }
    const std::uint16_t* lying[5] = {sums[0].data(), sums[1].data(), sums[2].data(), sums[3].data(),
                                     sums[4].data()};
    // The runs may lie a third of the way from the ceiling to the paper under it.
    const int floor = ceiling - (255 - ceiling) / 3;
    // The valleys' climbs 0.7 of the way to 255, then to the paper's mean under it.
    // The paper's mean from the page's noise, which a block's own (lightest) may exceed.
    Bytes quiet(n);
    for (std::size_t i = 0; i < n; ++i)
      quiet[i] = static_cast<unsigned char>(std::max<int>(lightest[i], 255 - (i % 23)));
    for (const bool to_mean : {false, true}) {
      marks = noise(n, 13, 7);
      for (auto& m : marks) m = m == 0;
      expected = marks;
      const int quarter = along / 2;
      const unsigned char* probes[4] = {&page[along], &page[(row + along) * columns + along],
                                        &page[(row - quarter) * columns + along],
                                        &page[(row + quarter) * columns + along]};
      Bytes candidates(n, 7), expected_candidates(n, 0);
      run_candidates(&page[row * columns], probes, n, static_cast<std::size_t>(along), floor,
                     ceiling, lightest.data(), candidates.data());
      run_marks(candidates.data(), lying, lying_lightest.data(), standing.data(),
                standing_lightest.data(), n, v, static_cast<std::size_t>(run), floor, ceiling,
                to_mean, lightest.data(), quiet.data(), marks.data());
      std::size_t ruled = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t x = i + static_cast<std::size_t>(along);
        // As darkness: two deviations (half of lightest's four), a third of the way to the ceiling.
        const int near = std::min((255 + lightest[i]) / 2, 255 - (255 - ceiling) / 3);
        const int palest = 255 - (255 - near) / 2;
        // Sums of a row over the run around column x, of a column over all the rows.
        const auto row_sum = [&](int y) {
          int sum = 0;
          for (int t = -along; t <= along; ++t) sum += at(y, x + t);
          return sum;
        };
        const auto column_sum = [&](std::size_t c) {
          int sum = 0;
          for (int y = 0; y < rows; ++y) sum += at(y, c);
          return sum;
        };
        // The paper's mean: its 90th percentile (255) less 1.28 deviations of the noise, a quarter
        // of 255 - lightest, in whole levels.
        const double paper = to_mean ? 255 - std::round(1.28 * (255 - quiet[i]) / 4) : 255;
        const auto climbs = [&](double mean, double a, double b, double share, double top) {
          return std::min(a, b) - mean >= share * (top - mean) - 1e-9;
        };
        const auto rule = [&](double mean, double a, double b, int pale) {
          return mean > floor && mean <= near && pale <= palest && climbs(mean, a, b, 0.7, paper);
        };
        const double r = run;
        const bool lies = rule(row_sum(row) / r, row_sum(row - wider) / r, row_sum(row + wider) / r,
                               lying_lightest[i]) &&
                          climbs(row_sum(row) / r, row_sum(row - valley) / r,
                                 row_sum(row + valley) / r, 0.4, 255);
        const bool stands = rule(column_sum(x) / r, column_sum(x - v) / r, column_sum(x + v) / r,
                                 standing_lightest[i]);
        // The candidates: the run's ends and the samples halfway to them no lighter than palest.
        bool lying_probes = true;
        bool standing_probes = true;
        for (const int t : {-along, -quarter, quarter, along}) {
          lying_probes = lying_probes && at(row, x + static_cast<std::size_t>(t)) <= palest;
          standing_probes = standing_probes && at(row + t, x) <= palest;
        }
        const int sample = at(row, x);
        const bool candidate =
            sample > floor && sample <= near && (lying_probes || standing_probes);
        expected_candidates[i] = candidate;
        if (candidate && (lies || stands)) {
          ruled += expected[i] == 0;
          expected[i] |= 5;
        }
      }
      ASSERT_EQ(candidates, expected_candidates) << "runs: valley " << valley << " along " << along;
      ASSERT_EQ(marks, expected) << "runs: valley " << valley << " along " << along
                                 << " to the mean " << to_mean;
      EXPECT_GT(ruled, 5u) << "runs: valley " << valley;
    }
  }
}

// The valleys' marks (the narrow and the wider in one pass) against the test written out: 10 (top -
// v) >= 7 (255 - v) in integers, for every bottom and top the rows hold.
TEST(AutoFaint, ValleysMarkedAsTheirClimbSays) {
  const std::size_t n = 333;
  for (const std::size_t reach : {1, 2, 5, 13}) {
    for (const int ceiling : {-1, 0, 120, 200, 254, 255}) {
      // Rows from reach + 1 columns before the first sample to reach + 1 after the last.
      const std::size_t wide = reach + 1;
      std::vector<Bytes> rows;
      for (std::size_t k = 0; k < 5; ++k) rows.push_back(noise(n + 2 * wide, 10 * reach + k, 255));
      const Bytes lightest = noise(n, reach + 99);
      const auto deep = static_cast<unsigned char>(160 + reach);
      const auto mark = [&](const Bytes& above, const Bytes& below, std::size_t r, std::size_t i,
                            unsigned limit) {
        const std::size_t c = i + wide;  // the sample's column in the rows
        const unsigned v = rows[2][c];
        const unsigned top =
            std::max({std::min(rows[2][c - r], rows[2][c + r]), std::min(above[c], below[c]),
                      std::min(above[c - r], below[c + r]), std::min(above[c + r], below[c - r])});
        return static_cast<int>(v) > ceiling && v <= limit && 10 * top >= 1785 + 3 * v;
      };
      Bytes marks(n + 1, 9), narrow(n + 1, 9);
      faint_marks_wider(rows[1].data() + 1, rows[2].data() + 1, rows[3].data() + 1, rows[0].data(),
                        rows[2].data(), rows[4].data(), n, reach, ceiling, lightest.data(), deep,
                        marks.data());
      faint_marks(rows[1].data() + 1, rows[2].data() + 1, rows[3].data() + 1, n, reach, ceiling,
                  lightest.data(), narrow.data());
      Bytes expected(n + 1, 9), expected_narrow(n + 1, 9);
      std::size_t marked = 0;
      for (std::size_t i = 0; i < n; ++i) {
        expected_narrow[i] = mark(rows[1], rows[3], reach, i, lightest[i]);
        expected[i] =
            expected_narrow[i] | mark(rows[0], rows[4], wide, i, std::min(lightest[i], deep));
        marked += expected[i];
      }
      ASSERT_EQ(narrow, expected_narrow) << "reach " << reach << " ceiling " << ceiling;
      ASSERT_EQ(marks, expected) << "reach " << reach << " ceiling " << ceiling;
      if (ceiling < 200) {
        EXPECT_GT(marked, 0u) << "reach " << reach << " ceiling " << ceiling;
      }
    }
  }
}

// The runs' sums and lightest along a row, and the columns' sums and lightest over rows (added to
// what they hold), against the same added a sample at a time; runs and rows of every length the
// windows give, pieces as short as a sample and a little past a vector's width.
TEST(AutoFaint, RunsSummedAndLightestAlongAndAcross) {
  for (const std::size_t run : {1, 2, 3, 19, 20, 95, 179}) {
    for (const std::size_t n : {1, 63, 64, 65, 130, 301}) {
      const Bytes samples = noise(n + run - 1, run * 1000 + n);
      std::vector<std::uint16_t> spans(n + run - 1), sums(n + 1, 7);
      Bytes work(n + run - 1), lightest(n + 1, 7);
      run_sums(samples.data(), n, run, spans.data(), sums.data());
      lightest_of_runs(samples.data(), n, run, work.data(), lightest.data());
      std::vector<std::uint16_t> expected_sums(n + 1, 7);
      Bytes expected_lightest(n + 1, 7);
      for (std::size_t i = 0; i < n; ++i) {
        expected_sums[i] = 0;
        expected_lightest[i] = 0;
        for (std::size_t k = i; k < i + run; ++k) {
          expected_sums[i] = static_cast<std::uint16_t>(expected_sums[i] + samples[k]);
          expected_lightest[i] = std::max(expected_lightest[i], samples[k]);
        }
      }
      ASSERT_EQ(sums, expected_sums) << "run " << run << " n " << n;
      ASSERT_EQ(lightest, expected_lightest) << "run " << run << " n " << n;

      // `run` rows of n samples, over sums and lightest already holding some.
      std::vector<Bytes> rows;
      std::vector<const unsigned char*> pointers;
      for (std::size_t t = 0; t < run; ++t) rows.push_back(noise(n, run + 7 * t + n));
      for (const Bytes& row : rows) pointers.push_back(row.data());
      std::vector<std::uint16_t> columns(n + 1, 0);
      Bytes most = noise(n + 1, n, 100);
      for (std::size_t i = 0; i < n; ++i) columns[i] = static_cast<std::uint16_t>(3 * i);
      std::vector<std::uint16_t> expected_columns = columns;
      Bytes expected_most = most;
      add_samples(pointers.data(), run, n, columns.data(), most.data());
      for (std::size_t i = 0; i < n; ++i) {
        for (const Bytes& row : rows) {
          expected_columns[i] = static_cast<std::uint16_t>(expected_columns[i] + row[i]);
          expected_most[i] = std::max(expected_most[i], row[i]);
        }
      }
      ASSERT_EQ(columns, expected_columns) << "rows " << run << " n " << n;
      ASSERT_EQ(most, expected_most) << "rows " << run << " n " << n;
    }
  }
}

}  // namespace
