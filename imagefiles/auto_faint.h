// The row loops of auto's faint thin strokes (auto_faint.cpp) whose ends and edges need care,
// each vectorised, with a clone for each vector width where the compiler makes them.

#ifndef IMAGEFILES_AUTO_FAINT_H
#define IMAGEFILES_AUTO_FAINT_H

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imagefiles/auto_loops.h"

namespace imagefiles::detail {

// `n` samples of `darkest` made no lighter than those of `samples`.
void take_darkest(const unsigned char* samples, std::size_t n, unsigned char* darkest);
// The darker of `a` and `b`, `n` samples, into `out`.
void darker_of(const unsigned char* a, const unsigned char* b, std::size_t n, unsigned char* out);

// Each column's darkest over the rows [row - reach, row + reach], asked for row after row (rows
// increasing, a piece of the columns each time), kept from one row to the next rather than read
// anew: the rows in blocks of the window's height, 2 reach + 1, a window is the tail of one block
// and the head of the next (van Herk's and Gil and Werman's way), the tails made once a block
// from its last row back, the head grown by a row each time. Kept for each piece of
// filter_stretch columns, with the block of its tails and the row of its head: a piece left out
// for a while is made anew where it is asked for again.
class DarkestRows {
 public:
  bool ready() const { return !heads_.empty(); }
  // For `columns` columns: 2 reach + 1 rows of them, fewer than the window's rows (reach is at
  // most half the window less one).
  void reset(std::size_t columns, int reach) {
    reach_ = reach;
    height_ = 2 * reach + 1;
    columns_ = columns;
    tails_.assign(static_cast<std::size_t>(height_) * columns, 0);
    heads_.assign(columns, 0);
    tail_block_.assign(columns / filter_stretch + 1, -1);
    head_row_.assign(columns / filter_stretch + 1, no_row);
  }
  // The darkest of columns [left, right) (and the rest of their pieces) over the rows around
  // `row` into `out`; rows(t) gives row t (the caller repeats the page's edges), t from
  // row - reach to row + reach.
  template <typename Rows>
  void darkest(int row, const Rows& rows, std::size_t left, std::size_t right, unsigned char* out) {
    const int first = row - reach_;
    const int last = row + reach_;
    // Blocks counted from row -reach (0 and up).
    const int tail_block = row / height_;
    const int tail_end = tail_block * height_ + height_ - 1 - reach_;
    const int head_start = (last + reach_) / height_ * height_ - reach_;
    for (std::size_t p = left / filter_stretch; p * filter_stretch < right;) {
      std::size_t q = p + 1;
      while (q * filter_stretch < right && tail_block_[q] == tail_block_[p] &&
             head_row_[q] == head_row_[p]) {
        ++q;
      }
      const std::size_t from = p * filter_stretch;
      const std::size_t n = std::min(columns_, q * filter_stretch) - from;
      if (tail_block_[p] != tail_block) {
        // From the block's last row back to the first asked for (no older row is kept).
        std::memcpy(tail(tail_end) + from, rows(tail_end) + from, n);
        for (int t = tail_end - 1; t >= first; --t) {
          darker_of(rows(t) + from, tail(t + 1) + from, n, tail(t) + from);
        }
        std::fill(tail_block_.begin() + static_cast<std::ptrdiff_t>(p),
                  tail_block_.begin() + static_cast<std::ptrdiff_t>(q), tail_block);
      }
      if (head_row_[p] == last - 1 && last != head_start) {
        take_darkest(rows(last) + from, n, heads_.data() + from);
      } else {
        std::memcpy(heads_.data() + from, rows(head_start) + from, n);
        for (int t = head_start + 1; t <= last; ++t) {
          take_darkest(rows(t) + from, n, heads_.data() + from);
        }
      }
      std::fill(head_row_.begin() + static_cast<std::ptrdiff_t>(p),
                head_row_.begin() + static_cast<std::ptrdiff_t>(q), last);
      darker_of(tail(first) + from, heads_.data() + from, n, out + from);
      p = q;
    }
  }

 private:
  static constexpr int no_row = INT_MIN;
  unsigned char* tail(int t) {
    return tails_.data() + static_cast<std::size_t>((t + reach_) % height_) * columns_;
  }

  int reach_ = 0;
  int height_ = 1;
  std::size_t columns_ = 0;
  std::vector<unsigned char> tails_;  // a block's tails, a row of each
  std::vector<unsigned char> heads_;
  std::vector<int> tail_block_;  // for each piece
  std::vector<int> head_row_;
};

// The sums of the `n` runs of `run` samples from each of `samples`' first `n`, into `sums`;
// `spans` (n + run - 1 of them) spent.
void run_sums(const unsigned char* samples, std::size_t n, std::size_t run, std::uint16_t* spans,
              std::uint16_t* sums);
// The `n` samples of each of `count` rows added to `sums` (in 16 bits), and the lightest of them
// and `lightest` kept in `lightest`.
void add_samples(const unsigned char* const* rows, std::size_t count, std::size_t n,
                 std::uint16_t* sums, unsigned char* lightest);
// The lightest of each of the `n` runs of `run` samples of `samples` (n + run - 1 of them), into
// `out`; `spans` (as many) spent.
void lightest_of_runs(const unsigned char* samples, std::size_t n, std::size_t run,
                      unsigned char* spans, unsigned char* out);

// For each column j in [from, to) (within [left, right)), the darkest of `darkest` over its
// columns [j - d, j + d] within [left, right), into `out` (nothing else of it written);
// `darkest` is spent.
void darkest_around(unsigned char* darkest, std::size_t left, std::size_t right, std::size_t from,
                    std::size_t to, std::size_t d, unsigned char* out);
// The `n` marks (1, 5 or 0, with a rule's second sample's bits) kept as they are where `middle`
// lies at least halfway from the paper (255) to the darkest around (`around`):
// 2 (255 - v) >= 255 - darkest.
void keep_halfway(const unsigned char* middle, const unsigned char* around, std::size_t n,
                  unsigned char* marks);
// The marks (1 or 5 for a rule's, else 0, in the three low bits) of the middle row with at least
// four marks among the nine around them (a rule's counting for itself), and a rule's second
// samples (bits 8, 16, 32 and 64: the mark above, below, left or right of them is a rule's), made
// ink (0) in `out`, for `n` columns: the three rows given from the column before the first to the
// one after the last.
void faint_ink(const unsigned char* above, const unsigned char* middle, const unsigned char* below,
               std::size_t n, unsigned char* out);

// The marks of `n` samples on a straight rule, added to `marks`: above `ceiling`, at most
// `lightest` (one for each sample), at the bottom of a valley that `valley` samples away on both
// sides climbs back 0.7 of the way to the paper, across a rule whose samples `along` away on both
// sides, along it, are at most `lightest` too and at the bottom of such a valley. rows[0] is the
// samples' row, rows[1] and rows[2] those `valley` above and below, rows[3] and rows[4] those
// `along` above and below, each from `along` columns before the first sample.
void line_marks(const unsigned char* const* rows, std::size_t n, std::size_t valley,
                std::size_t along, int ceiling, const unsigned char* lightest,
                unsigned char* marks);

// A thin rule's marks, from the runs of samples along it (2 along + 1 of them). A sample's limits:
// `near`, two deviations of the paper's noise, (255 + lightest) / 2 (`lightest`, one for each
// sample, allows four), no lighter than a third of the way from the paper to the ceiling;
// `palest`, half that far from the paper.
//
// Whether each of the `n` samples of `middle` (from `along` columns before the first) may be a
// mark, 1 or 0 into `out`: above `floor` (a little under the ceiling) and at most `near`, where
// the run's two ends and the samples halfway to them are at most `palest`: in `middle` (a rule
// lying along the row) or in rows[0] to rows[3] (standing across it: the rows `along` above and
// below, then along / 2), each from the first sample.
void run_candidates(const unsigned char* middle, const unsigned char* const* rows, std::size_t n,
                    std::size_t along, int floor, int ceiling, const unsigned char* lightest,
                    unsigned char* out);
// The `n` candidates (run_candidates()) that are marks, added to `marks` as 5 (a mark that needs
// no marks around it): where the run lying along the row (the sums of the runs centred on the
// samples, lying[0], on those `valley` rows above and below, lying[1] and lying[2], and on those
// a row farther, lying[3] and lying[4]; the runs' lightest samples, `lying_lightest`) or standing
// across it (`standing`: the columns' sums, from `valley` columns before the first;
// `standing_lightest`: their lightest, from the first) has a mean above `floor` and at most
// `near`, at the bottom of a valley that climbs back 0.7 of the way to the paper `valley` away on
// both sides (standing) or a row farther and 0.4 of the way `valley` away (lying), and a lightest
// sample at most `palest`. With `to_mean`, the 0.7 of the way is to the paper's mean (1.28
// deviations of the page's noise, 0.32 (255 - `quiet`), under 255), the 0.4 still to 255.
void run_marks(const unsigned char* candidates, const std::uint16_t* const* lying,
               const unsigned char* lying_lightest, const std::uint16_t* standing,
               const unsigned char* standing_lightest, std::size_t n, std::size_t valley,
               std::size_t run, int floor, int ceiling, bool to_mean, const unsigned char* lightest,
               const unsigned char* quiet, unsigned char* marks);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_AUTO_FAINT_H
