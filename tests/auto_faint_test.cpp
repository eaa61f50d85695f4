// auto's faint strokes' row loops against the same worked out a sample at a time: the darkest
// over the rows around each column, kept from row to row, and over the columns around it (page
// edges, short runs, windows wider than the row), the halfway test and the marks made ink; the
// loops along a piece of a row write nothing beside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "imagefiles/auto_faint.h"

namespace {

using imagefiles::detail::darkest_around;
using imagefiles::detail::faint_ink;
using imagefiles::detail::keep_halfway;

std::vector<unsigned char> noise(std::size_t n, unsigned seed, int top = 255) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(0, top);
  std::vector<unsigned char> v(n);
  for (auto& x : v) x = static_cast<unsigned char>(value(random));
  return v;
}

TEST(AutoFaint, DarkestAroundEachColumn) {
  struct Case {
    std::size_t fed, left, right, from, to, d;
  };
  const Case cases[] = {
      {300, 0, 300, 0, 300, 11},     // the whole row, both page edges
      {300, 89, 211, 100, 200, 11},  // inside: no window cut
      {300, 0, 211, 0, 200, 11},     // the left edge
      {300, 89, 300, 100, 300, 11},  // the right edge
      {300, 0, 300, 0, 300, 0},      // a column alone
      {300, 0, 300, 0, 300, 1},     {300, 10, 77, 13, 74, 3},  {300, 0, 5, 0, 5, 11},
      {300, 0, 20, 0, 20, 90},      {300, 40, 61, 50, 51, 10}, {300, 0, 64, 0, 64, 31},
      {300, 0, 65, 0, 65, 32},      {300, 0, 300, 0, 300, 90}, {300, 200, 300, 205, 300, 5},
  };
  unsigned seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.left << " " << c.right << " " << c.from << " " << c.to << " d " << c.d);
    const std::vector<unsigned char> samples = noise(c.fed, seed++);
    std::vector<unsigned char> spent = samples;
    std::vector<unsigned char> out(c.fed, 77);
    darkest_around(spent.data(), c.left, c.right, c.from, c.to, c.d, out.data());
    for (std::size_t j = 0; j < c.fed; ++j) {
      if (j < c.from || j >= c.to) {
        ASSERT_EQ(out[j], 77) << j;
        continue;
      }
      const std::size_t first = j >= c.left + c.d ? j - c.d : c.left;
      const std::size_t end = std::min(c.right, j + c.d + 1);
      ASSERT_EQ(out[j], *std::min_element(samples.begin() + first, samples.begin() + end)) << j;
    }
  }
}

TEST(AutoFaint, DarkestOverTheRowsAround) {
  // Row after row, pieces of the columns that come and go (whole rows, pieces beside, rows left
  // out), against each column's darkest over the rows around, the page's edges repeated.
  const int rows = 70;
  const std::size_t columns = 300;
  std::vector<std::vector<unsigned char>> page;
  for (int r = 0; r < rows; ++r) page.push_back(noise(columns, 200 + static_cast<unsigned>(r)));
  const auto row_of = [&](int t) {
    return page[static_cast<std::size_t>(std::clamp(t, 0, rows - 1))].data();
  };
  for (const int reach : {0, 1, 3, 11, 40}) {
    std::mt19937 random(static_cast<unsigned>(reach));
    imagefiles::detail::DarkestRows darkest;
    darkest.reset(columns, reach);
    for (int row = 0; row < rows; ++row) {
      const unsigned kind = random() % 4;
      if (kind == 0) continue;
      std::size_t left = 0;
      std::size_t right = columns;
      if (kind == 2) {
        left = random() % columns;
        right = left + 1 + random() % (columns - left);
      }
      std::vector<unsigned char> out(columns, 77);
      darkest.darkest(row, row_of, left, right, out.data());
      for (std::size_t j = left; j < right; ++j) {
        unsigned char expected = 255;
        for (int t = row - reach; t <= row + reach; ++t)
          expected = std::min(expected, row_of(t)[j]);
        ASSERT_EQ(out[j], expected) << "reach " << reach << " row " << row << " column " << j;
      }
    }
  }
}

TEST(AutoFaint, HalfwayFromThePaper) {
  // Every sample against every darkest around it, marked or not.
  std::vector<unsigned char> middle;
  std::vector<unsigned char> around;
  for (int v = 0; v < 256; ++v) {
    for (int dark = 0; dark < 256; ++dark) {
      middle.push_back(static_cast<unsigned char>(v));
      around.push_back(static_cast<unsigned char>(dark));
    }
  }
  std::vector<unsigned char> marks = noise(middle.size(), 5, 1);
  const std::vector<unsigned char> before = marks;
  keep_halfway(middle.data(), around.data(), marks.size(), marks.data());
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const bool halfway = 2 * (255 - middle[i]) >= 255 - around[i];
    ASSERT_EQ(marks[i], before[i] && halfway ? 1 : 0) << int(middle[i]) << " " << int(around[i]);
  }
}

TEST(AutoFaint, MarksWithFourAroundMadeInk) {
  for (const std::size_t n : {1, 2, 3, 15, 64, 65, 130}) {
    std::vector<unsigned char> rows[3];
    for (int r = 0; r < 3; ++r) rows[r] = noise(n + 2, 10 * static_cast<unsigned>(n) + r, 1);
    const std::vector<unsigned char> out = noise(n + 1, 3);
    std::vector<unsigned char> made = out;
    faint_ink(rows[0].data(), rows[1].data(), rows[2].data(), n, made.data());
    for (std::size_t i = 0; i < n; ++i) {
      int around = 0;
      for (const auto& row : rows) around += row[i] + row[i + 1] + row[i + 2];
      const bool ink = rows[1][i + 1] != 0 && around >= 4;
      ASSERT_EQ(made[i], ink ? 0 : out[i]) << n << " columns, column " << i;
    }
    ASSERT_EQ(made[n], out[n]);
  }
}

}  // namespace
