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

// The column sums alone moved one row down over n columns (`enter` comes into the window,
// `leave` goes out), where no totals are wanted.
template <typename Sum>
void move_down_plainly(const unsigned char* enter, const unsigned char* leave, Sum* sums,
                       Sum* squares, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    const Sum in = enter[j];
    const Sum out = leave[j];
    sums[j] += in - out;
    squares[j] += (in - out) * (in + out);
  }
}

template <typename Sum>
void move_down(const unsigned char* enter, const unsigned char* leave, Sum* sums, Sum* squares,
               std::size_t n) {
  move_down_plainly(enter, leave, sums, squares, n);
}

#if defined(__SSE2__)
// Four columns a step, sixteen where AVX-512 is (running_window.cpp).
template <>
void advance(const unsigned char* enter, const unsigned char* leave, std::uint32_t* sums,
             std::uint32_t* squares, std::uint32_t* totals, std::uint32_t* total_squares,
             std::size_t n);
template <>
void move_down(const unsigned char* enter, const unsigned char* leave, std::uint32_t* sums,
               std::uint32_t* squares, std::size_t n);
#endif

// A run of decided columns [from, to) of a row.
struct ColumnRun {
  std::size_t from, to;
};

// The columns a running window decides, and those it is fed: the whole row, or a vertical strip
// of it with the window's overlap on each side (where the page has columns there).
struct Strip {
  int columns;    // the page's width
  int first;      // the first column decided
  int width;      // how many are decided
  int fed_first;  // the first column fed
  int fed_width;  // how many are fed
};

inline Strip whole_row(int columns) {
  return {columns, 0, columns, 0, columns};
}

// Columns [first, first + width) of a page `columns` wide, fed with `margin` more on each side.
inline Strip strip_of(int columns, int first, int width, int margin) {
  const int fed_first = std::max(0, first - margin);
  const int fed_last = std::min(columns, first + width + margin);
  return {columns, first, width, fed_first, fed_last - fed_first};
}

// The running window over the rows of a page, one row after the other from the top: next(row,
// original) gives the window sums of `row`'s decided columns, original(r) being the fed samples of
// row r (rows row - window / 2 - 1 to row + window / 2 are asked, mirrored at the page's top and
// bottom). Memory: four sums a column. Given runs of decided columns (in order, apart), the sums
// are those of these columns only: the others' running totals, the serial part of the work, are
// not made (a page's paper, which needs no window).
//
// The column sums are kept over the decided columns and `window / 2` more on each side: those
// beyond the page's edges are the mirrored columns (... 2 1 | 0 1 2 ...), the others are fed. A
// strip is fed all the columns it needs, so its sums are those of the whole row: exact integers.
template <typename Sum>
class RunningWindow {
 public:
  RunningWindow(int rows, int window, const Strip& strip)
      : rows_(rows),
        window_(window),
        half_(window / 2),
        fed_(static_cast<std::size_t>(strip.fed_width)),
        left_(static_cast<std::size_t>(strip.fed_first - (strip.first - window / 2))),
        extended_(static_cast<std::size_t>(strip.width) + 2 * static_cast<std::size_t>(half_)),
        right_(extended_ - left_ - fed_),
        first_(std::min(fed_, left_ + 1)),
        sums_(extended_),
        squares_(extended_),
        totals_(extended_ + 1),
        total_squares_(extended_ + 1),
        mirrored_(left_ + right_) {
    // Where each column beyond the page's edges comes from, among the sums.
    const std::int64_t origin = std::int64_t{strip.first} - half_;
    for (std::size_t j = 0; j < left_; ++j) {
      mirrored_[j] = left_ + static_cast<std::size_t>(
                                 mirror(origin + std::int64_t(j), strip.columns) - strip.fed_first);
    }
    for (std::size_t j = 0; j < right_; ++j) {
      mirrored_[left_ + j] =
          left_ +
          static_cast<std::size_t>(mirror(origin + std::int64_t(left_ + fed_ + j), strip.columns) -
                                   strip.fed_first);
    }
  }

  template <typename Original>
  RowSums<Sum> next(int row, Original&& original, const ColumnRun* runs = nullptr,
                    std::size_t count = 0) {
    Sum* const sums = sums_.data();
    Sum* const squares = squares_.data();
    const unsigned char* enter = nullptr;
    const unsigned char* leave = nullptr;
    // The totals wanted: totals[j + 1] for j in [from, to) of each span, from 0 at its start.
    // Decided column x needs the sums columns x to x + window - 1; spans closer than that merge.
    spans_.clear();
    if (runs == nullptr) {
      spans_.push_back({0, extended_});
    } else {
      for (std::size_t r = 0; r < count; ++r) {
        const std::size_t to = std::min(extended_, runs[r].to + static_cast<std::size_t>(window_));
        if (!spans_.empty() && runs[r].from <= spans_.back().to) {
          spans_.back().to = std::max(spans_.back().to, to);
        } else {
          spans_.emplace_back();  // the ends stored apart, as AutoRows does its runs
          spans_.back().from = runs[r].from;
          spans_.back().to = to;
        }
      }
    }
    span_ = 0;
    if (row == 0) {
      // The first row's window: how many times each row enters it, then each distinct row once.
      std::fill(sums_.begin(), sums_.end(), Sum{0});
      std::fill(squares_.begin(), squares_.end(), Sum{0});
      std::vector<Sum> times(static_cast<std::size_t>(std::min(rows_, half_ + 1)));
      for (std::int64_t dy = -half_; dy <= half_; ++dy) ++times[mirror(dy, rows_)];
      for (std::size_t r = 0; r < times.size(); ++r) {
        const unsigned char* line = original(static_cast<std::int64_t>(r));
        for (std::size_t x = 0; x < fed_; ++x) {
          sums[left_ + x] += times[r] * line[x];
          squares[left_ + x] += times[r] * Sum{line[x]} * line[x];
        }
      }
    } else {
      // The columns that the left margin mirrors move down first; then the margin is filled and
      // totalled, then the rest of the row is moved down and totalled in the same pass, then the
      // right margin.
      enter = original(mirror(std::int64_t{row} + half_, rows_));
      leave = original(mirror(std::int64_t{row} - 1 - half_, rows_));
      move_down(enter, leave, sums + left_, squares + left_, first_);
      enter += first_;
      leave += first_;
    }
    for (std::size_t j = 0; j < left_; ++j) {
      sums[j] = sums[mirrored_[j]];
      squares[j] = squares[mirrored_[j]];
    }
    const std::size_t rest = left_ + first_;
    total(0, rest, nullptr, nullptr);
    total(rest, left_ + fed_, enter, leave);
    const std::size_t end = left_ + fed_;
    for (std::size_t j = 0; j < right_; ++j) {
      sums[end + j] = sums[mirrored_[left_ + j]];
      squares[end + j] = squares[mirrored_[left_ + j]];
    }
    total(end, extended_, nullptr, nullptr);
    return RowSums<Sum>{totals_.data(), total_squares_.data(), window_};
  }

 private:
  int rows_;
  int window_;
  int half_;
  std::size_t fed_;       // columns fed
  std::size_t left_;      // columns beyond the page's left edge, before the fed ones
  std::size_t extended_;  // decided columns and the window's overlap on each side
  std::size_t right_;     // columns beyond the page's right edge
  std::size_t first_;     // fed columns moved down before the left margin is filled
  std::vector<Sum> sums_;
  std::vector<Sum> squares_;
  std::vector<Sum> totals_;
  std::vector<Sum> total_squares_;
  // Sums columns [from, to): moved down where `enter` is given (column from's samples), totalled
  // within the spans wanted.
  void total(std::size_t from, std::size_t to, const unsigned char* enter,
             const unsigned char* leave) {
    for (std::size_t j = from; j < to;) {
      while (span_ < spans_.size() && spans_[span_].to <= j) ++span_;
      const bool wanted = span_ < spans_.size() && spans_[span_].from <= j;
      const std::size_t stop = std::min(to, span_ == spans_.size() ? to
                                            : wanted               ? spans_[span_].to
                                                                   : spans_[span_].from);
      const std::size_t at = j - from;
      if (wanted) {
        if (j == spans_[span_].from) totals_[j] = total_squares_[j] = 0;
        advance(enter ? enter + at : nullptr, enter ? leave + at : nullptr, sums_.data() + j,
                squares_.data() + j, totals_.data() + j, total_squares_.data() + j, stop - j);
      } else if (enter != nullptr) {
        move_down(enter + at, leave + at, sums_.data() + j, squares_.data() + j, stop - j);
      }
      j = stop;
    }
  }

  std::vector<std::size_t> mirrored_;  // where each column beyond the edges comes from
  struct Span {
    std::size_t from, to;
  };
  std::vector<Span> spans_;  // the totals wanted in the row under way
  std::size_t span_ = 0;
};

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
  RunningWindow<Sum> running(rows, window, whole_row(columns));
  for (int row = 0; row < rows; ++row) {
    const RowSums<Sum> sums = running.next(row, original);
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
    decide(row, line, sums, out);
  }
}

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_RUNNING_WINDOW_H
