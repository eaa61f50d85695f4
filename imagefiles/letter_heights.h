// The heights of a page's letters: its ink over a grid, labelled into connected components, for
// the measure of the page's scale.

#ifndef IMAGEFILES_LETTER_HEIGHTS_H
#define IMAGEFILES_LETTER_HEIGHTS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imagefiles/coarse_paper.h"

namespace imagefiles::detail {

// The mean of the middle half of a histogram of positive values (index 0 unused), rounded; 0
// when it is empty. Letter heights gather around two values (small letters, and capitals and
// letters with ascenders): a median jumps from one to the other as their shares change a little,
// the mean between the quartiles moves with them.
int middle_mean_of(const std::vector<std::uint64_t>& counts);

// A connected set of ink samples of one band, while the band is labelled.
struct Component {
  int top, bottom, left, right;  // in samples of the band's grid
  std::uint64_t area;
  bool cut;  // it touches a side of the band or of the page
};

// Labels the ink of a grid (every `step`-th pixel of every `step`-th row, rows [first, last) of
// the page) by runs, 8-neighbours joined, and adds the height in pixels of each whole component
// that looks like writing to `heights`.
class LetterHeights {
 public:
  // The grid's `grid_columns` columns from page column `first`.
  LetterHeights(CoarsePaper& paper, std::int64_t first, std::size_t grid_columns, int level,
                int step, int stroke, std::int64_t tallest)
      : paper_(paper),
        first_(first),
        grid_columns_(grid_columns),
        level_(level),
        step_(step),
        stroke_(stroke),
        tallest_(tallest) {}

  // The band of rows [first, last), `samples` its grid's rows one after another.
  void band(int first, int last, const unsigned char* samples, std::vector<std::uint64_t>& heights);

 private:
  struct Run {
    int begin, end;  // grid columns, end excluded
    int label;
  };

  int find(int i);
  void join(int a, int b);

  CoarsePaper& paper_;
  std::int64_t first_;
  std::size_t grid_columns_;
  int level_, step_, stroke_;
  std::int64_t tallest_;
  std::vector<unsigned char> line_;
  std::vector<int> parent_;
  std::vector<Component> components_;
  std::vector<Run> previous_, current_;
};

}  // namespace imagefiles::detail

#endif
