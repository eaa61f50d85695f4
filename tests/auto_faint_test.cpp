// auto's faint strokes' row loops against the same worked out a sample at a time: the darkest over
// the square around each sample, row after row (rows left out, pieces of rows, their edges and the
// page's), the halfway test and the marks made ink; nothing is written beside the piece asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "imagefiles/auto_faint.h"

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

}  // namespace
