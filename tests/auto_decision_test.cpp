// auto's loops of a row against the formulas they stand for: its decision against its global
// ceiling (whatever the window says, a sample above the ceiling is white, and at or below it Wolf's
// threshold decides, as the reference computes it in doubles; groups of pixels all above the
// ceiling are written white without their window), the samples divided by the paper and the
// paper's straight lines between the blocks' centres (in vectors, the last samples or points
// apart).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imagefiles/auto_loops.h"
#include "imagefiles/binarisation_internal.h"

namespace {

using imagefiles::detail::Formula;
using imagefiles::detail::LocalDecider;
using imagefiles::detail::RowSums;

// Rows of `width` samples whose groups of 16 are, in turn, all above `ceiling`, all at or below
// it, or mixed; and random window sums for each (those of `window` x `window` samples).
TEST(AutoDecision, CeilingThenWolfAsTheReference) {
  const int window = 25;
  const double size = double(window) * window;
  std::mt19937 random(7);
  for (const int ceiling : {0, 1, 100, 180, 254, 255}) {
    for (const std::size_t width : {std::size_t{1}, std::size_t{15}, std::size_t{16},
                                    std::size_t{64}, std::size_t{200}, std::size_t{1000}}) {
      Formula formula = imagefiles::detail::make_formula(Formula::wolf, 0.5, 60, 10);
      formula.ceiling = ceiling;
      const LocalDecider<std::uint32_t> decider(formula, window);
      std::vector<unsigned char> line(width);
      for (std::size_t x = 0; x < width; ++x) {
        const int kind = static_cast<int>((x / 16) % 3);
        const int low = kind == 0 ? std::min(ceiling + 1, 255) : 0;
        const int high = kind == 1 ? ceiling : 255;
        line[x] = static_cast<unsigned char>(
            std::uniform_int_distribution<int>(std::min(low, high), high)(random));
      }
      // Running totals of the window sums: sums[x + window] - sums[x] is column x's.
      std::vector<std::uint32_t> sums(width + window + 1), squares(width + window + 1);
      std::vector<double> mean(width), deviation(width);
      for (std::size_t x = 0; x < width; ++x) {
        // Never one value (a flat window is decided on the sample's own value).
        const auto level = std::uniform_int_distribution<int>(1, 254)(random);
        const auto spread =
            std::uniform_int_distribution<int>(1, std::min(level, 255 - level))(random);
        // Half the window at level - spread, half at level + spread, one at level.
        const double half = (size - 1) / 2;
        const double s1 = half * (level - spread) + half * (level + spread) + level;
        const double s2 = half * (level - spread) * (level - spread) +
                          half * (level + spread) * (level + spread) + double(level) * level;
        sums[x + window] = sums[x] + static_cast<std::uint32_t>(s1);
        squares[x + window] = squares[x] + static_cast<std::uint32_t>(s2);
        mean[x] = s1 / size;
        deviation[x] = std::sqrt(std::max(s2 / size - mean[x] * mean[x], 0.0));
      }
      std::vector<unsigned char> out(width, 7);
      decider.decide(line.data(), RowSums<std::uint32_t>{sums.data(), squares.data(), window},
                     width, out.data());
      for (std::size_t x = 0; x < width; ++x) {
        const bool white = line[x] > ceiling || line[x] > formula.threshold(mean[x], deviation[x]);
        ASSERT_EQ(out[x], white ? 255 : 0)
            << "ceiling " << ceiling << " width " << width << " column " << x;
      }
    }
  }
}

// Lines of every length up to a few vectors, their points one by one in doubles, each rounded to a
// float; nothing written beyond them.
TEST(AutoDecision, LinesAsTheirPointsOneByOne) {
  for (const double slope : {0.0, 0.37, -1.0 / 3, 12.5}) {
    for (int n = 0; n <= 40; ++n) {
      const double from = 200.25 - n;
      std::vector<float> out(static_cast<std::size_t>(n) + 1, -7.0f);
      imagefiles::detail::along_line(out.data(), n, from, slope);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(out[static_cast<std::size_t>(i)],
                  static_cast<float>(from + slope * static_cast<double>(i)))
            << "slope " << slope << " n " << n << " point " << i;
      }
      EXPECT_EQ(out[static_cast<std::size_t>(n)], -7.0f) << "slope " << slope << " n " << n;
    }
  }
}

// Rows of every length up to a few vectors and one long row, with paper from dark (results
// clipped at 255) to bright, against each sample divided one by one in floats; nothing written
// beyond them, and the smallest result.
TEST(AutoDecision, SamplesDividedAsOneByOne) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> factor(0.9f, 4.0f);
  std::uniform_real_distribution<float> change(-0.5f, 0.5f);
  std::vector<int> lengths(41);
  for (int n = 0; n <= 40; ++n) lengths[static_cast<std::size_t>(n)] = n;
  lengths.push_back(1000);
  for (const int n : lengths) {
    const std::size_t size = static_cast<std::size_t>(n);
    std::vector<unsigned char> in(size + 1);
    std::vector<float> above(size + 1), step(size + 1);
    for (std::size_t i = 0; i < size; ++i) {
      in[i] = static_cast<unsigned char>(random());
      above[i] = factor(random);
      step[i] = change(random);
    }
    const float weight = 0.375f;
    std::vector<unsigned char> row(size + 1, 7), smallest_row(size + 1, 7);
    imagefiles::detail::normalise_row(in.data(), size, above.data(), step.data(), weight,
                                      row.data());
    const unsigned char smallest = imagefiles::detail::normalise_smallest(
        in.data(), size, above.data(), step.data(), weight, smallest_row.data());
    unsigned char least = 255;
    for (std::size_t i = 0; i < size; ++i) {
      const float v = static_cast<float>(in[i]) * (above[i] + weight * step[i]);
      const auto want = static_cast<unsigned char>(std::min(v, 255.0f));
      ASSERT_EQ(row[i], want) << "n " << n << " sample " << i;
      ASSERT_EQ(smallest_row[i], want) << "n " << n << " sample " << i;
      least = std::min(least, want);
    }
    EXPECT_EQ(smallest, least) << "n " << n;
    EXPECT_EQ(row[size], 7) << "n " << n;
    EXPECT_EQ(smallest_row[size], 7) << "n " << n;
  }
}

}  // namespace
