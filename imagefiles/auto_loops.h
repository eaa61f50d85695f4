// The row loops of the automatic method (auto_threshold.cpp), each vectorised, with a clone for
// each vector width where the compiler makes them. Wiener's filter against the noise (wiener(),
// wiener_columns(), wiener_wide()) is in auto_filter.cpp, the other loops in auto_loops.cpp.

#ifndef IMAGEFILES_AUTO_LOOPS_H
#define IMAGEFILES_AUTO_LOOPS_H

#include <cstddef>
#include <cstdint>

namespace imagefiles::detail {

// The filter against the noise skips stretches of this many samples (mark_paper), and filters
// pieces of at most filter_piece.
constexpr std::size_t filter_stretch = 64;
constexpr std::size_t filter_piece = 1024;
// The widest filter against the noise: 2 x 90 + 1 samples a side (half the widest window); up
// to 7 x 7 its square's columns are added for each sample (wiener(), wiener_columns()), wider
// its sums come from running totals (wiener_wide()), which cost more than 7 x 7 added.
constexpr int widest_filter_radius = 90;
constexpr int widest_direct_radius = 3;

// The lowest top of a valley that climbs back from its bottom `v` at least 0.7 of the way to the
// paper: 10 (top - v) >= 7 (255 - v), that is top >= (1785 + 3 v) / 10 rounded up, at most 255
// (the valleys' tops then compared in bytes, rather than multiplied in 16 bits).
inline unsigned char lowest_top(unsigned char v) {
  return static_cast<unsigned char>(static_cast<std::uint16_t>(1794 + 3 * v) / 10);
}

// Asks the processor to bring the `n` bytes of `row` into its caches: the decision's next row,
// read from memory while the row before is decided, rather than a stall on each of its cache lines
// when it is divided by the paper (the passes' rows, a few in each band, gain nothing from it).
void ask_for(const unsigned char* row, std::size_t n);
// `n` samples divided by the paper's brightness: multiplied by 255 / paper, which lies `weight` of
// the way from `above` to `above` + `step`, into 0 to 255.
void normalise_row(const unsigned char* in, std::size_t n, const float* above, const float* step,
                   float weight, unsigned char* out);
// The same, giving the smallest result.
unsigned char normalise_smallest(const unsigned char* in, std::size_t n, const float* above,
                                 const float* step, float weight, unsigned char* out);
// Adds the `n` samples from page column `column` to the sums and sums of squares of their blocks
// (of `block` columns; the last, `blocks` - 1, takes the columns left over).
void add_to_blocks(const unsigned char* samples, std::size_t n, std::size_t column,
                   std::size_t block, std::size_t blocks, std::uint32_t* sums,
                   std::uint64_t* squares);
// Wiener's filter over a square of (2 `radius` + 1) squared samples (`radius` 1 to
// widest_direct_radius) of the `n` samples (at most filter_piece) of the middle one of `rows`
// (2 `radius` + 1 rows, each of n + 2 `radius` samples from `radius` before the first filtered):
// the mean where the square varies no more than the noise (`noise`, a variance for each sample),
// the sample itself where it varies far more (a stroke's edge). A sample above `ceiling` by more
// than `above_ceiling` deviations of the noise is left as it is.
void wiener(const unsigned char* const* rows, int radius, const float* noise, std::size_t n,
            int ceiling, float above_ceiling, unsigned char* out);
// The same from the sums of the square's columns: `sums` and `squares` for the n + 2 `radius`
// columns from `radius` before the first filtered, `middle` the n samples filtered.
void wiener_columns(const std::uint32_t* sums, const std::uint32_t* squares, int radius,
                    const unsigned char* middle, const float* noise, std::size_t n, int ceiling,
                    float above_ceiling, unsigned char* out);
// The same over a square of `window` x `window` samples (odd, at most 2 widest_filter_radius + 1)
// from its sums: for the `n` samples of `middle`, the square's sums are
// sums[x + window] - sums[x] (and the same for `squares`).
void wiener_wide(const unsigned char* middle, const std::uint32_t* sums,
                 const std::uint32_t* squares, int window, const float* noise, std::size_t n,
                 int ceiling, float above_ceiling, unsigned char* out);
// Whether any of `n` samples of `line` at or below `ceiling` is white (255) in `out`.
bool any_vetoed(const unsigned char* line, std::size_t n, int ceiling, const unsigned char* out);
// Ink where the window holds no more than the noise: with nothing there to compare with, the
// local threshold says nothing, and the global one decides, on the window's level (the inside of
// a printed area wider than the window). For the `n` samples of `line` whose window sums are
// sums[x + window] - sums[x] (and the same for `squares`), a sample at or below `ceiling` whose
// window's mean is too, and whose window's variance is at most `flat` times the noise's (`noise`,
// a variance for each sample), is made 0 in `out`.
void ink_where_flat(const unsigned char* line, const std::uint32_t* sums,
                    const std::uint32_t* squares, int window, const float* noise, std::size_t n,
                    int ceiling, float flat, unsigned char* out);
// Paper where the noise could have made the ink: a sample called ink (0 in `out`) whose filtered
// value lies above 255 less `deviations` of the filtered noise (`noise` its variance, a variance
// for each sample, divided by `side` squared, the filter's square) is made white.
void no_ink_within_noise(const unsigned char* line, const float* noise, std::size_t n,
                         float deviations, float side, unsigned char* out);
// `n` points of a straight line from `from`, `slope` apart.
void along_line(float* out, int n, double from, double slope);
// Levels of the paper made 255 / level (at least 1).
void reciprocals(float* levels, std::size_t n);
// For each stretch of filter_stretch samples of the `n` of `row` (the last may be shorter),
// whether all are above its own ceiling (`ceilings`, one a stretch), into `marks`.
void mark_paper(const unsigned char* row, std::size_t n, const int* ceilings, unsigned char* marks);

// For each stretch of filter_stretch samples of the `n` of `row` (the last may be shorter),
// whether any lies above `low` and at most `high`, into `marks`.
void mark_between(const unsigned char* row, std::size_t n, int low, int high, unsigned char* marks);
// For each of `n` samples of `middle` (rows `above` and `below` the same columns, `reach` rows
// away; the three given from `reach` columns before the first sample to `reach` after the last),
// whether it may lie on a faint thin stroke: above `ceiling`, at most `lightest` (one for each
// sample: darker than the paper, 255, by four deviations of the noise there), and at the bottom of
// a valley that `reach` samples away on both sides, in one of four directions, climbs back at least
// 0.7 of the way to the paper; into `marks` (1 or 0).
void faint_marks(const unsigned char* above, const unsigned char* middle,
                 const unsigned char* below, std::size_t n, std::size_t reach, int ceiling,
                 const unsigned char* lightest, unsigned char* marks);
// faint_marks() for the valley `reach` wide and, in the same pass, for the valley a sample wider
// (its three rows `wider_above`, `wider_middle` and `wider_below`, reach + 1 rows apart and given
// from reach + 1 columns before the first sample), whose samples are at most `deep` too: whether
// either may lie on a faint thin stroke, into `marks`. The middle row is given twice: GCC does not
// vectorise a loop that reads one pointer at both offsets (it cannot count the iterations).
void faint_marks_wider(const unsigned char* above, const unsigned char* middle,
                       const unsigned char* below, const unsigned char* wider_above,
                       const unsigned char* wider_middle, const unsigned char* wider_below,
                       std::size_t n, std::size_t reach, int ceiling, const unsigned char* lightest,
                       unsigned char deep, unsigned char* marks);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_AUTO_LOOPS_H
