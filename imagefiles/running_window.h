// The running window of the local methods: for each pixel, the sums of the samples and of their
// squares over the window centred on it, in exact integers, row after row.

#ifndef IMAGEFILES_RUNNING_WINDOW_H
#define IMAGEFILES_RUNNING_WINDOW_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace imagefiles::detail {

// Index `i` of an axis of `size` samples mirrored at both ends without repeating the edge sample
// (... 2 1 | 0 1 2 ... n-1 | n-2 ...), as often as a window wider than the axis needs.
inline std::int64_t mirror(std::int64_t i, std::int64_t size) {
  if (size == 1) return 0;
  const std::int64_t period = 2 * (size - 1);
  i %= period;
  if (i < 0) i += period;
  return i < size ? i : period - i;
}

// The window sums of one row: for each column, the sum of the samples and of their squares over
// the window centred on it, as differences of running totals. `Sum` is unsigned, and the totals
// may wrap: each difference is exact as long as the window sums themselves fit.
template <typename Sum>
struct RowSums {
  const Sum* sums;     // window sum of column x: sums[x + window] - sums[x]
  const Sum* squares;  // the same for the squares
  int window;
};

// One step of the running totals over n columns: where `enter` is given, the column sums first
// move one row down (`enter` comes into the window, `leave` goes out); then
// totals[j + 1] = totals[j] + sums[j], and the same for the squares, totals[0] being given. Each
// total depends on the one before; in vectors, the totals within a vector come from shifts and
// additions, and only the carry from one vector to the next waits on the one before.
template <typename Sum>
void advance_plainly(const unsigned char* enter, const unsigned char* leave, Sum* sums,
                     Sum* squares, Sum* totals, Sum* total_squares, std::size_t n) {
  Sum sum = totals[0];
  Sum square = total_squares[0];
  for (std::size_t j = 0; j < n; ++j) {
    if (enter != nullptr) {
      const Sum in = enter[j];
      const Sum out = leave[j];
      sums[j] += in - out;
      squares[j] += (in - out) * (in + out);  // in^2 - out^2, modulo the width of Sum
    }
    totals[j + 1] = sum += sums[j];
    total_squares[j + 1] = square += squares[j];
  }
}

template <typename Sum>
void advance(const unsigned char* enter, const unsigned char* leave, Sum* sums, Sum* squares,
             Sum* totals, Sum* total_squares, std::size_t n) {
  advance_plainly(enter, leave, sums, squares, totals, total_squares, n);
}

#if defined(__SSE2__)
// Four columns a step, sixteen where AVX-512 is (running_window.cpp).
template <>
void advance(const unsigned char* enter, const unsigned char* leave, std::uint32_t* sums,
             std::uint32_t* squares, std::uint32_t* totals, std::uint32_t* total_squares,
             std::size_t n);
#endif

// Runs over the rows of a rows x columns raster and hands each row's window sums to
// `decide(row, original, sums, output)`, which writes that row of `output` (null when the caller
// only reads). `output` may be `image`: the rows still needed once overwritten are kept in a
// band of window / 2 + 2 rows. Memory: O(window x columns), never the whole picture.
template <typename Sum, typename Decide>
void slide_window(const unsigned char* image, unsigned char* output, int rows, int columns,
                  int window, Decide&& decide) {
  const int half = window / 2;
  const std::size_t width = static_cast<std::size_t>(columns);
  const bool in_place = output == image;
  const int band_rows = in_place ? std::min(rows, half + 2) : 0;
  std::vector<unsigned char> band(static_cast<std::size_t>(band_rows) * width);
  int overwritten = -1;  // rows up to this one hold output, their samples are in the band
  const auto original = [&](std::int64_t row) -> const unsigned char* {
    if (row <= overwritten) return band.data() + static_cast<std::size_t>(row % band_rows) * width;
    return image + static_cast<std::size_t>(row) * width;
  };

  // Column sums over the window's rows, kept with `half` columns of margin on each side for the
  // mirrored borders. The first row's window: how many times each row enters it, then each
  // distinct row once.
  const std::size_t margin = static_cast<std::size_t>(half);
  const std::size_t extended = width + 2 * margin;
  std::vector<Sum> column_sums(extended);
  std::vector<Sum> column_squares(extended);
  {
    std::vector<Sum> times(static_cast<std::size_t>(std::min(rows, half + 1)));
    for (std::int64_t dy = -half; dy <= half; ++dy) ++times[mirror(dy, rows)];
    for (std::size_t row = 0; row < times.size(); ++row) {
      const unsigned char* line = original(static_cast<std::int64_t>(row));
      for (std::size_t x = 0; x < width; ++x) {
        column_sums[margin + x] += times[row] * line[x];
        column_squares[margin + x] += times[row] * Sum{line[x]} * line[x];
      }
    }
  }
  std::vector<std::size_t> mirrored(2 * margin);  // where each margin column comes from
  for (std::size_t j = 0; j < margin; ++j) {
    mirrored[j] = margin + mirror(std::int64_t(j) - half, columns);
    mirrored[margin + j] = margin + mirror(std::int64_t(width + j), columns);
  }
  std::vector<Sum> totals(extended + 1);
  std::vector<Sum> total_squares(extended + 1);
  Sum* const sums = column_sums.data();
  Sum* const squares = column_squares.data();
  const auto fill_margin = [&](std::size_t from, std::size_t to) {
    for (std::size_t j = 0; j < margin; ++j) {
      sums[to + j] = sums[mirrored[from + j]];
      squares[to + j] = squares[mirrored[from + j]];
    }
  };
  // Each row: the columns that the left margin mirrors move down first; then the margin is
  // filled and totalled, then the rest of the row is moved down and totalled in the same pass,
  // then the right margin.
  const std::size_t first = std::min(width, margin + 1);
  std::vector<Sum> scratch(2 * (first + 1));

  for (int row = 0; row < rows; ++row) {
    const unsigned char* enter = nullptr;
    const unsigned char* leave = nullptr;
    if (row > 0) {
      enter = original(mirror(std::int64_t{row} + half, rows));
      leave = original(mirror(std::int64_t{row} - 1 - half, rows));
      advance(enter, leave, sums + margin, squares + margin, scratch.data(),
              scratch.data() + first + 1, first);
      enter += first;
      leave += first;
    }
    fill_margin(0, 0);
    advance<Sum>(nullptr, nullptr, sums, squares, totals.data(), total_squares.data(),
                 margin + first);
    advance(enter, leave, sums + margin + first, squares + margin + first,
            totals.data() + margin + first, total_squares.data() + margin + first, width - first);
    fill_margin(margin, margin + width);
    advance<Sum>(nullptr, nullptr, sums + margin + width, squares + margin + width,
                 totals.data() + margin + width, total_squares.data() + margin + width, margin);

    const unsigned char* line = original(row);
    unsigned char* out = nullptr;
    if (output != nullptr) {
      out = output + static_cast<std::size_t>(row) * width;
      if (in_place) {
        std::memcpy(band.data() + static_cast<std::size_t>(row % band_rows) * width, line, width);
        line = band.data() + static_cast<std::size_t>(row % band_rows) * width;
        overwritten = row;
      }
    }
    decide(row, line, RowSums<Sum>{totals.data(), total_squares.data(), window}, out);
  }
}

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_RUNNING_WINDOW_H
