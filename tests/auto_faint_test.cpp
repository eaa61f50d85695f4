// auto's faint strokes' row loops against the same worked out a sample at a time: the darkest
// over rows and around each column (page edges, short runs, windows wider than the row), the
// halfway test and the marks made ink. Nothing outside the columns asked for is written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <vector>

#include "imagefiles/auto_faint.h"

namespace {

using imagefiles::detail::darkest_around;
using imagefiles::detail::darkest_of_rows;
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

TEST(AutoFaint, DarkestOfRows) {
  for (const int count : {1, 2, 4, 5, 8, 9, 23, 181}) {
    std::vector<std::vector<unsigned char>> rows;
    std::vector<const unsigned char*> pointers;
    for (int r = 0; r < count; ++r) rows.push_back(noise(150, 100 + r));
    for (const auto& row : rows) pointers.push_back(row.data());
    std::vector<unsigned char> darkest(140, 77);
    darkest_of_rows(pointers.data(), count, 7, 131, darkest.data());
    for (std::size_t i = 0; i < 131; ++i) {
      unsigned char expected = 255;
      for (const auto& row : rows) expected = std::min(expected, row[7 + i]);
      ASSERT_EQ(darkest[i], expected) << count << " rows, column " << i;
    }
    for (std::size_t i = 131; i < 140; ++i) ASSERT_EQ(darkest[i], 77);
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
