// The noise's deviation that auto and the page's scale read from how often neighbours differ,
// against the deviation of the noise drawn, rounded to whole levels as a greymap holds it; and
// auto's paper level from its blocks' 90th percentiles under noise and sloping light, against the
// light drawn; and a block's percentile against a sorted copy.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "imagefiles/auto_threshold.h"

#include "imagefiles/internal.h"

namespace {

TEST(NoiseDeviation, ReadsTheNoiseOfRoundedSamples) {
  // Weak noise, where a difference's whole level alone is far off (1.05 for 1.4), to a dark
  // page's amplified noise; with a few stroke edges among the pairs, which must not move it.
  struct Case {
    double sigma;
    double edges;  // the share of pairs that straddle a stroke's edge (paper against ink)
  };
  const Case cases[] = {{0.8, 0}, {1.4, 0}, {2.5, 0}, {5, 0}, {10, 0}, {1.4, 0.02}, {5, 0.02}};
  for (const Case& c : cases) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, c.sigma);
    std::bernoulli_distribution edge(c.edges);
    const auto sample = [&](double level) {
      return static_cast<int>(std::lround(std::fmin(255, std::fmax(0, level + noise(random)))));
    };
    std::uint64_t differences[256] = {};
    double squares = 0;
    const int pairs = 200000;
    for (int i = 0; i < pairs; ++i) {
      const int a = sample(128);
      const int b = sample(128);
      squares += double(a - b) * (a - b);  // the reference: the drawn noise, rounded
      ++differences[std::abs(edge(random) ? a - sample(30) : a - b)];
    }
    const double drawn = std::sqrt(squares / pairs / 2);
    // Within 7%: the reading within a unit is a straight line, off by 6% under a level's noise.
    EXPECT_NEAR(imagefiles::detail::noise_deviation(differences), drawn, 0.07 * drawn)
        << "noise " << c.sigma << ", edges " << c.edges;
  }
}

TEST(NoiseDeviation, NoPairsIsNoNoise) {
  const std::uint64_t none[256] = {};
  EXPECT_EQ(imagefiles::detail::noise_deviation(none), 0);
}

TEST(PaperLevel, BlocksUnderNoiseAndSlopingLightGiveTheLightAtTheirMiddle) {
  // Blocks of 32 x 32 samples under light falling evenly along the rows (by `fall` a block) or
  // changing at one block's edge only (a shadow's edge: no slope), noise of deviation `sigma`.
  struct Case {
    double fall, sigma;
    bool step;
  };
  const Case cases[] = {{0, 2, false},  {0, 6, false},  {12, 2, false},
                        {30, 2, false}, {30, 6, false}, {30, 2, true}};
  constexpr int blocks = 6, side = 32;
  for (const Case& c : cases) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, c.sigma);
    // The light at a column, in blocks from the page's left edge.
    const auto light = [&](double at) {
      if (c.step) return at < 3 ? 200.0 : 200.0 - c.fall;
      return 220 - c.fall * (blocks - at);
    };
    std::vector<float> grid(blocks * blocks);
    for (int by = 0; by < blocks; ++by) {
      for (int bx = 0; bx < blocks; ++bx) {
        std::vector<double> samples;
        for (int i = 0; i < side * side; ++i) {
          samples.push_back(light(bx + (i % side + 0.5) / side) + noise(random));
        }
        std::sort(samples.begin(), samples.end());
        grid[by * blocks + bx] = static_cast<float>(samples[samples.size() * 9 / 10]);
      }
    }
    imagefiles::detail::below_percentile(grid, blocks, blocks, c.sigma);
    // The inner blocks (the outer ones see one neighbour only).
    for (int by = 1; by + 1 < blocks; ++by) {
      for (int bx = 1; bx + 1 < blocks; ++bx) {
        EXPECT_NEAR(grid[by * blocks + bx], light(bx + 0.5), 1.5 + 0.05 * c.fall)
            << "fall " << c.fall << ", noise " << c.sigma << (c.step ? ", step" : "") << ", block "
            << bx;
      }
    }
  }
}

}  // namespace

TEST(PaperLevel, BlockPercentileIsTheRankOfASortedCopy) {
  // Against the sorted samples' element n - 1 - n / 10, for blocks of one sample to past one
  // register's 64 (the rank count's limit) and well past it, samples spread over all levels, over
  // a few (ties at the percentile), all alike, and at both ends of the range.
  struct Spread {
    int low, high;
  };
  const Spread spreads[] = {{0, 255}, {120, 124}, {77, 77}, {0, 1}, {254, 255}};
  std::mt19937 random(11);
  for (const Spread& spread : spreads) {
    std::uniform_int_distribution<int> level(spread.low, spread.high);
    for (std::size_t n = 1; n <= 150; ++n) {
      for (int trial = 0; trial < 20; ++trial) {
        std::vector<unsigned char> samples(n);
        for (unsigned char& s : samples) s = static_cast<unsigned char>(level(random));
        std::vector<unsigned char> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(imagefiles::detail::block_percentile(samples.data(), n), sorted[n - 1 - n / 10])
            << "n " << n << " levels " << spread.low << " to " << spread.high;
      }
    }
  }
}

// The light's surface through a grid of blocks' levels against the quadratic the grid was drawn
// from (block centres at (g * block + min(size, (g + 1) * block) - 1) / 2 / block, the last block
// partial), and whether it is taken as bending: where a 3 x 3 mean moves by more than 1.28
// deviations of the noise, never on flat paper drawn without noise. Grids of two blocks along an
// axis have no curved term along it; of one, or of two both ways, none is fitted.
TEST(PaperLevel, LightCurveIsTheQuadraticTheBlocksLieOn) {
  struct Case {
    int rows, columns, block, page_rows, page_columns;
    double c[6];  // of 1, x, y, x^2, x y, y^2
    double sigma;
    bool curved;
  };
  const Case cases[] = {
      {3, 4, 20, 60, 80, {120, 30, 25, -8, 1, -9}, 1.5, true},          // a vignette
      {5, 7, 32, 150, 210, {200, 4, -3, -0.5, 0.2, -0.4}, 1.0, false},  // bends under the noise
      {5, 7, 32, 150, 210, {200, 4, -3, -2, 0.2, -1}, 1.0, true},
      {6, 9, 24, 130, 200, {180, -2, 1, 0, 0, 0}, 0.0, false},  // a plane without noise
      {4, 2, 30, 100, 50, {150, 3, 10, 0, 0, -6}, 2.0, true},   // two columns: no x^2 term
      {4, 1, 30, 100, 25, {150, 0, 10, 0, 0, -6}, 2.0, false},  // one column: not fitted
      {1, 5, 30, 25, 140, {150, 12, 0, -5, 0, 0}, 2.0, false},  // one row: not fitted
      {2, 2, 40, 80, 80, {150, 1, 1, 0, 0, 0}, 1.0, false},     // too few blocks to bend
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.columns));
    const auto centre = [&](int g, int size) {
      return (double(g) * c.block + std::min(double(size), double(g + 1) * c.block) - 1) / 2 /
             c.block;
    };
    std::vector<float> grid;
    for (int r = 0; r < c.rows; ++r) {
      for (int g = 0; g < c.columns; ++g) {
        const double x = centre(g, c.page_columns), y = centre(r, c.page_rows);
        grid.push_back(static_cast<float>(c.c[0] + c.c[1] * x + c.c[2] * y + c.c[3] * x * x +
                                          c.c[4] * x * y + c.c[5] * y * y));
      }
    }
    const imagefiles::detail::LightCurve light = imagefiles::detail::fitted_light(
        grid, c.rows, c.columns, c.block, c.page_rows, c.page_columns, c.sigma);
    EXPECT_EQ(light.curved, c.curved);
    if (c.rows < 2 || c.columns < 2 || (c.rows < 3 && c.columns < 3)) continue;  // not fitted
    // Where the grid holds the terms (three blocks along an axis for its square, both for x y).
    const bool across = c.columns >= 3, down = c.rows >= 3;
    const bool fitted[6] = {true, c.columns >= 2, c.rows >= 2, across, across && down, down};
    for (int k = 0; k < 6; ++k) {
      if (fitted[k]) {
        EXPECT_NEAR(light.c[k], c.c[k], 1e-3) << k;
      }
    }
  }
}
