// auto's loops of a row against the formulas they stand for, worked out one sample at a time: its
// decision, the samples divided by the paper and the paper's lines between the blocks' centres.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imagefiles/auto_loops.h"
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

}  // namespace
