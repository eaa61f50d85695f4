// The noise's deviation that auto and the page's scale read from how often neighbours differ,
// against the deviation of the noise drawn, rounded to whole levels as a greymap holds it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>

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

}  // namespace
