// What the binarisation files share: Otsu's level and histogram for the automatic method, and the
// local methods' formula and row loop, which the automatic method runs with its own formula.

#ifndef IMAGEFILES_BINARISATION_INTERNAL_H
#define IMAGEFILES_BINARISATION_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "imagefiles/running_window.h"

// The loops that carry most of the time get a copy for each level of the x86-64 vector
// instruction sets, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__)
#define IMAGEFILES_VECTOR_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define IMAGEFILES_VECTOR_CLONES
#endif

namespace imagefiles::detail {

// A histogram in four tables, so that runs of equal samples do not wait on one counter; each
// table counts in 32 bits.
struct Tally {
  std::uint32_t h[4][256] = {};

  void add(const unsigned char* samples, std::size_t count) {
    std::size_t p = 0;
    for (; p + 4 <= count; p += 4) {
      ++h[0][samples[p]];
      ++h[1][samples[p + 1]];
      ++h[2][samples[p + 2]];
      ++h[3][samples[p + 3]];
    }
    for (; p < count; ++p) ++h[0][samples[p]];
  }
  void add_to(std::uint64_t total[256]) const {
    for (int v = 0; v < 256; ++v) total[v] += std::uint64_t{h[0][v]} + h[1][v] + h[2][v] + h[3][v];
  }
};

// The level that maximises the between-class variance, as the usual implementation computes it,
// operation for operation (its bins whose class weight is within FLT_EPSILON of 0 or 1 are
// skipped, and its running class mean is rescaled even on those): the highest sample of the dark
// class, 0 when no level splits the histogram.
int otsu_level(const std::uint64_t h[256], std::size_t count);

// A local method: its threshold T from the window's mean m and deviation s, both as the reference
// computes them, and the same threshold as T = a1 m + a0 + (b1 m + b0) s, for the fast decision.
struct Formula {
  enum Kind { sauvola, niblack, wolf } kind;
  double k;
  double range;    // Sauvola's R; Wolf's largest deviation over the image
  double minimum;  // Wolf's smallest sample
  double a1, a0, b1, b0;
  int ceiling = 255;  // a sample above it is white whatever the window (the automatic method)

  double threshold(double m, double s) const {
    switch (kind) {
      case sauvola:
        return m * (1 + k * ((s / range) - 1));
      case niblack:
        return m - k * s;
      case wolf:
        return m - k * (1 - s / range) * (m - minimum);
    }
    return m;
  }
};

Formula make_formula(Formula::Kind kind, double k, double range, double minimum);

// The constants of the fast decision of a local method's pixels, T = a1 m + a0 + (b1 m + b0) s.
struct FastDecision {
  double a1, a0, b1, b0;
  double tolerance;  // a bound on |fast T - reference T|
  double size;       // pixels in the window
  double inverse_size;
  double inverse_square_size;
  bool exact_spread;  // size x squares - sums^2 is computed exactly: 0 means a single value
};

// Decides the rows of a local method from their window sums: what the whole-image functions and
// the bands both run on each row. `Sum` as binarise_locally's.
template <typename Sum>
class LocalDecider {
 public:
  LocalDecider(const Formula& formula, int window);
  // Writes 255 or 0 for each of the `width` samples of `line`, whose window sums `r` gives.
  void decide(const unsigned char* line, const RowSums<Sum>& r, std::size_t width,
              unsigned char* out) const;

 private:
  Formula formula_;
  FastDecision fast_;
  unsigned char flat_white_[256];
};

// size^2 x the variance of a window: exact 64-bit integers for the 32-bit sums, doubles beyond.
template <typename Sum>
using Spread = std::conditional_t<std::is_same_v<Sum, std::uint32_t>, std::int64_t, double>;

// Wolf's first pass, a row at a time: the window of the largest spread of the page, the first in
// reading order, whatever order the rows and strips come in.
template <typename Sum>
class WidestWindow {
 public:
  WidestWindow() = default;
  // A pass carried from elsewhere, over windows of `window` x `window`.
  WidestWindow(const Widest& state, int window)
      : widest_(static_cast<Spread<Sum>>(state.spread)),
        row_(state.row),
        column_(state.column),
        sum_(state.sum),
        squares_(state.squares),
        size_(static_cast<double>(window) * window) {}
  // Where the pass stands, to be carried elsewhere.
  Widest state() const { return {static_cast<double>(widest_), sum_, squares_, row_, column_}; }
  // Row `y`'s window sums `r`, for the `width` columns from `first`.
  void row(int y, int first, const RowSums<Sum>& r, std::size_t width);
  // The widest of this and another part of the page.
  void merge(const WidestWindow& other);
  // The widest window's deviation, as the reference computes it (0 for no window).
  double deviation() const;

 private:
  bool before(std::int64_t y, std::int64_t x) const {
    return y < row_ || (y == row_ && x < column_);
  }
  Spread<Sum> widest_ = -1;
  std::int64_t row_ = 0;
  std::int64_t column_ = 0;
  double sum_ = 0;
  double squares_ = 0;
  double size_ = 1;
};

// Window sums fit a signed 32-bit integer up to a window of 181 (181^2 x 255^2 < 2^31); wider
// ones take 64 bits.
bool narrow_sums(int window);

// IMAGE_OK when the arguments of a local method are valid, else the status to return.
statut_image check_local(const unsigned char* output, const unsigned char* image, int rows,
                         int columns, int window, double k);

// The smallest sample of a raster. Its definition has copies for the vector instruction sets;
// declared here without them, a caller in another file calls the one chosen at start-up (with
// them, it would name each copy, which a shared build does not export to it).
unsigned char smallest_sample(const unsigned char* image, std::size_t count);

// Binarises a raster with a local formula over a window of `window` x `window`; `output` may be
// `image`. Sum is the running sums' type: std::uint32_t up to a window of 181, std::uint64_t
// beyond; local_thresholds.cpp instantiates the 32-bit one for the other files.
template <typename Sum>
void binarise_locally(unsigned char* output, const unsigned char* image, int rows, int columns,
                      int window, const Formula& formula);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_BINARISATION_INTERNAL_H
