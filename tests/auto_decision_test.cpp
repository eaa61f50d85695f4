// auto's loops of a row against the formulas they stand for, worked out one sample at a time: its
// decision, the samples divided by the paper and the paper's lines between the blocks' centres;
// and the rows decided against the same loops over the whole page held at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"
#include "imagefiles/binarisation_internal.h"

namespace {

using namespace imagefiles::detail;

// A sample above the ceiling is white whatever its window, at or below it Wolf's threshold in
// doubles decides: rows whose groups of 16 are, in turn, all above the ceiling (written white
// without their window), all at or below it, or mixed; random windows of 25 x 25, never flat.
TEST(AutoDecision, CeilingThenWolfAsTheReference) {
  const int window = 25;
  const double size = double(window) * window;
  std::mt19937 random(7);
  const auto uniform = [&](int low, int high) { return low + int(random() % (high - low + 1)); };
  for (const int ceiling : {0, 1, 100, 180, 254, 255}) {
    for (const std::size_t width : {1, 15, 16, 64, 200, 1000}) {
      Formula formula = make_formula(Formula::wolf, 0.5, 60, 10);
      formula.ceiling = ceiling;
      std::vector<unsigned char> line(width), out(width, 7);
      // Running totals: sums[x + window] - sums[x] is column x's window's.
      std::vector<std::uint32_t> sums(width + window + 1), squares(width + window + 1);
      std::vector<unsigned char> white(width);
      for (std::size_t x = 0; x < width; ++x) {
        const int kind = static_cast<int>((x / 16) % 3);
        const int high = kind == 1 ? ceiling : 255;
        line[x] = static_cast<unsigned char>(
            uniform(std::min(kind == 0 ? std::min(ceiling + 1, 255) : 0, high), high));
        // Half the window at level - spread, half at level + spread, one at level.
        const int level = uniform(1, 254);
        const int spread = uniform(1, std::min(level, 255 - level));
        sums[x + window] = sums[x] + static_cast<std::uint32_t>(size * level);
        squares[x + window] = squares[x] + static_cast<std::uint32_t>(size * level * level +
                                                                      (size - 1) * spread * spread);
        const double deviation = spread * std::sqrt(1 - 1 / size);
        white[x] = line[x] > ceiling || line[x] > formula.threshold(level, deviation) ? 255 : 0;
      }
      LocalDecider<std::uint32_t>(formula, window)
          .decide(line.data(), {sums.data(), squares.data(), window}, width, out.data());
      EXPECT_TRUE(out == white) << "ceiling " << ceiling << ", width " << width;
    }
  }
}

// Rows of every length up to a few vectors and one long one against their samples and points one
// by one: each sample divided by paper from dark (clipped at 255) to bright in floats, with the
// smallest result; a line's points in doubles, each rounded to a float; nothing written beyond.
TEST(AutoDecision, RowsAsTheirSamplesOneByOne) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> factor(0.9f, 4.0f), change(-0.5f, 0.5f);
  for (int n = 0; n <= 41; ++n) {
    const std::size_t size = n == 41 ? 1000 : static_cast<std::size_t>(n);
    std::vector<unsigned char> in(size), row(size + 1, 7), smallest_row(size + 1, 7);
    std::vector<float> above(size), step(size);
    for (std::size_t i = 0; i < size; ++i) {
      in[i] = static_cast<unsigned char>(random());
      above[i] = factor(random);
      step[i] = change(random);
    }
    const float weight = 0.375f;
    normalise_row(in.data(), size, above.data(), step.data(), weight, row.data());
    const unsigned char smallest =
        normalise_smallest(in.data(), size, above.data(), step.data(), weight, smallest_row.data());
    std::vector<unsigned char> want(size + 1, 7);
    for (std::size_t i = 0; i < size; ++i) {
      want[i] = static_cast<unsigned char>(std::min(in[i] * (above[i] + weight * step[i]), 255.0f));
    }
    EXPECT_TRUE(row == want) << "n " << size;
    EXPECT_TRUE(smallest_row == want) << "n " << size;
    EXPECT_EQ(smallest, size ? *std::min_element(want.begin(), want.end() - 1) : 255)
        << "n " << size;
    for (const double slope : {0.0, 0.37, -1.0 / 3, 12.5}) {
      const double from = 200.25 - n;
      std::vector<float> line(size + 1, -7.0f), points(size + 1, -7.0f);
      along_line(line.data(), static_cast<int>(size), from, slope);
      for (std::size_t i = 0; i < size; ++i)
        points[i] = static_cast<float>(from + slope * double(i));
      EXPECT_TRUE(line == points) << "slope " << slope << " n " << size;
    }
  }
}

// The rows AutoRows decides, from its ring of rows, its running window and its filter's square
// kept from row to row, against the same row loops given the whole page divided by the paper at
// once: the filter's square with the page's edges repeated, the window's sums added up afresh for
// each row, mirrored at the edges. Compared where the samples are at or under the ceiling (above
// it, faint strokes are made ink: auto_faint_test.cpp). Pages from shorter than the window to
// several windows tall, strokes 1 to 9 wide (filters 3 x 3 to 7 x 7).
TEST(AutoDecision, RowsAsTheWholePageDecides) {
  for (const auto& [rows, columns, stroke] :
       {std::tuple{12, 200, 2}, std::tuple{14, 250, 2}, std::tuple{40, 300, 2},
        std::tuple{300, 77, 2}, std::tuple{520, 1100, 3}, std::tuple{400, 500, 6},
        std::tuple{450, 300, 9}, std::tuple{600, 400, 12}}) {
    SCOPED_TRACE(std::to_string(rows) + " x " + std::to_string(columns) + ", strokes " +
                 std::to_string(stroke));
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<unsigned char> in;
    std::mt19937 random(static_cast<unsigned>(rows + stroke));
    for (int i = 0; i < rows * columns; ++i) {
      const int x = i % columns, y = i / columns, u = (x / stroke) % 7, v = (y / stroke) % 9;
      const int light = 120 + (x + 2 * y) % 110;
      const bool ink = u < 5 && v < 6 && (u == 0 || u == 4 || v == 0 || v == 5);
      in.push_back(static_cast<unsigned char>((ink ? light / 3 : light) + random() % 24));
    }
    AutoStatistics statistics(rows, columns);
    for (int pass = 0; pass < AutoStatistics::passes; ++pass) {
      for (int y = 0; y < rows; ++y) {
        if (statistics.wanted(pass, y)) statistics.gather(pass, y, 0, in.data() + y * width, width);
      }
      statistics.end(pass);
    }
    std::vector<unsigned char> decided(in.size(), 7);
    AutoRows decider(statistics, rows, whole_row(columns));
    for (int y = 0, done = 0; y < rows; ++y) {
      decider.feed(in.data() + y * width);
      while (decider.next(decided.data() + done * width)) ++done;
    }
    const int r = decider.filter_radius(), window = statistics.window(), half = window / 2;
    ASSERT_LE(r, widest_direct_radius);
    // The page divided by the paper, each row with r columns more on each side, the edge's.
    const std::size_t side = width + 2 * static_cast<std::size_t>(r);
    std::vector<unsigned char> paper(static_cast<std::size_t>(rows) * side);
    PaperRow divider(0, width);
    for (int y = 0; y < rows; ++y) {
      unsigned char* row = paper.data() + y * side;
      divider.normalise(statistics, y, in.data() + y * width, row + r, 0, width);
      std::fill(row, row + r, row[r]);
      std::fill(row + r + columns, row + side, row[r + columns - 1]);
    }
    const int ceiling = statistics.formula().ceiling;
    const LocalDecider<std::uint32_t> decide(statistics.formula(), window);
    std::vector<unsigned char> filtered(width), want(width);
    std::vector<float> noise(width);
    std::vector<std::uint32_t> sums(width + window + 1), squares(width + window + 1);
    int compared = 0, ink = 0;
    for (int y = 0; y < rows; ++y) {
      statistics.noise_along(y, 0, width, noise.data());
      const unsigned char* square[2 * widest_direct_radius + 1];
      for (int dy = -r; dy <= r; ++dy) {
        square[dy + r] = paper.data() + std::clamp(y + dy, 0, rows - 1) * side;
      }
      for (std::size_t x = 0; x < width; x += filter_piece) {
        const unsigned char* piece[2 * widest_direct_radius + 1];
        for (int i = 0; i <= 2 * r; ++i) piece[i] = square[i] + x;
        // filtered_above in auto_decision.cpp: two deviations of the noise
        wiener(piece, r, noise.data() + x, std::min(filter_piece, width - x), ceiling, 2,
               filtered.data() + x);
      }
      for (int x = -half; x < columns + half; ++x) {
        std::uint32_t sum = 0, sum_of_squares = 0;
        for (int dy = -half; dy <= half; ++dy) {
          const std::uint32_t v = paper[mirror(y + dy, rows) * side + r + mirror(x, columns)];
          sum += v;
          sum_of_squares += v * v;
        }
        sums[x + half + 1] = sums[x + half] + sum;
        squares[x + half + 1] = squares[x + half] + sum_of_squares;
      }
      decide.decide(filtered.data(), {sums.data(), squares.data(), window}, width, want.data());
      // flat_window in auto_decision.cpp: a window within twice the noise's deviation
      ink_where_flat(filtered.data(), sums.data(), squares.data(), window, noise.data(), width,
                     ceiling, 4, want.data());
      for (std::size_t x = 0; x < width; ++x) {
        if (paper[y * side + r + x] > ceiling) continue;
        ++compared;
        ink += want[x] == 0;
        EXPECT_EQ(decided[y * width + x], want[x]) << "row " << y << ", column " << x;
      }
    }
    EXPECT_GT(ink, compared / 4);  // strokes decided on the way
    EXPECT_GT(compared - ink, 0);  // and some vetoed
  }
}

}  // namespace
