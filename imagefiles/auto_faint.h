// The row loops of auto's faint thin strokes (auto_faint.cpp) whose ends and edges need care,
// each vectorised, with a clone for each vector width where the compiler makes them.

#ifndef IMAGEFILES_AUTO_FAINT_H
#define IMAGEFILES_AUTO_FAINT_H

#include <cstddef>

namespace imagefiles::detail {

// The darkest of `count` (at least 1) rows' samples [from, from + n), into `darkest`.
void darkest_of_rows(const unsigned char* const* rows, int count, std::size_t from, std::size_t n,
                     unsigned char* darkest);
// For each column j in [from, to) (within [left, right)), the darkest of `darkest` over its
// columns [j - d, j + d] within [left, right), into `out` (nothing else of it written);
// `darkest` is spent.
void darkest_around(unsigned char* darkest, std::size_t left, std::size_t right, std::size_t from,
                    std::size_t to, std::size_t d, unsigned char* out);
// The `n` marks (1 or 0) kept where `middle` lies at least halfway from the paper (255) to the
// darkest around (`around`): 2 (255 - v) >= 255 - darkest.
void keep_halfway(const unsigned char* middle, const unsigned char* around, std::size_t n,
                  unsigned char* marks);
// The marks (1 or 0) of the middle row with at least four marks among the nine around them made
// ink (0) in `out`, for `n` columns: the three rows given from the column before the first to
// the one after the last.
void faint_ink(const unsigned char* above, const unsigned char* middle, const unsigned char* below,
               std::size_t n, unsigned char* out);

}  // namespace imagefiles::detail

#endif  // IMAGEFILES_AUTO_FAINT_H
