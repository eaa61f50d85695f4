// auto's light print beside bold print, above its global threshold: see AutoRows::mark_light().

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imagefiles/auto_faint.h"

#include "imagefiles/auto_loops.h"
#include "imagefiles/auto_threshold.h"
#include "imagefiles/binarisation_internal.h"

namespace imagefiles::detail {
namespace {

// The `n` samples of `middle` above the ceiling and no lighter than `light` nor `lightest`
// marked (1, else 0) in `lights`: light_print()'s candidates; whether there is any.
IMAGEFILES_VECTOR_CLONES bool light_marks(const unsigned char* middle, std::size_t n, int ceiling,
                                          const unsigned char* lightest, unsigned char light,
                                          unsigned char* lights) {
  const auto least = static_cast<unsigned char>(std::clamp(ceiling + 1, 0, 255));
  unsigned char any = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char v = middle[i];
    lights[i] = static_cast<unsigned char>((v >= least) & (v <= std::min(lightest[i], light)));
    any |= lights[i];
  }
  return any != 0;
}

// The `n` `lights` cleared where `around` is at most `ink`; whether any is left.
IMAGEFILES_VECTOR_CLONES bool lighter_around(const unsigned char* around, std::size_t n, int ink,
                                             unsigned char* lights) {
  const auto deepest = static_cast<unsigned char>(std::clamp(ink, 0, 255));
  unsigned char any = 0;
  for (std::size_t i = 0; i < n; ++i) {
    lights[i] &= static_cast<unsigned char>(around[i] > deepest);
    any |= lights[i];
  }
  return any != 0;
}

// The `lights` of `n` samples of `middle` added to `marks` where the darkest around (`around`, D)
// lies lighter than `ink` and no lighter than `light`, and the sample within two fifths of the
// way from D to the paper (in 16 bits: 5 (v - D) <= 2 (255 - D)).
IMAGEFILES_VECTOR_CLONES void light_print(const unsigned char* middle, const unsigned char* around,
                                          std::size_t n, int ink, unsigned char light,
                                          const unsigned char* lights, unsigned char* marks) {
  const auto deepest = static_cast<unsigned char>(std::clamp(ink, 0, 255));
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char d = around[i];
    const auto below = static_cast<std::uint16_t>(5 * (middle[i] - d) <= 2 * (255 - d));
    marks[i] |= static_cast<unsigned char>(lights[i] & (d > deepest) & (d <= light) & below);
  }
}

}  // namespace

// Light print: a paragraph set in a thin face, blurred, beside bold print. Its darkest lies
// about the ceiling, halfway to the bold print's ink, and most of its strokes above it, so
// its lines vanished; its valleys are as wide as the blur, not a faint stroke's. A sample
// above the ceiling is its mark where the darkest within half a window (about a line's
// height), D, is lighter than the ink's level (no print of the page's weight there: its
// strokes' blurred edges stay with the ceiling) and within a quarter of the way from the
// ceiling to the paper (show-through, at about 0.81 of the paper, lies beyond; a third let the
// real `text` lose 0.24), and the sample, four deviations of the noise under the paper, within
// that quarter and two fifths of the way from D to the paper (halfway, where a stroke reaching D
// has its edge, thickened the thinnest print at 0.6 times the letters: such strokes do not reach
// their ink, and their edge lies nearer their bottom).
void AutoRows::mark_light(int row, std::size_t from, std::size_t to, unsigned char* marks) {
  const auto row_at = [&](int r) { return normalised(std::clamp(r, 0, rows_ - 1)); };
  const unsigned char* middle = row_at(row);
  const int ceiling = statistics_.formula().ceiling;
  const int along = statistics_.window() / 2 - 1;
  const auto light = static_cast<unsigned char>(ceiling + (255 - ceiling) / 4);
  unsigned char* lights = light_.data();
  const bool any = light_marks(middle + from, to - from, ceiling, faint_lightest_.data() + from,
                               light, lights + from);
  // The ceiling lies halfway from the ink's level to the paper. And a sample above the
  // ceiling lies within two fifths of the way from D to the paper only where
  // 3 D >= 5 (ceiling + 1) - 2 x 255: no window darker than that holds a mark.
  const int ink = std::max({0, 2 * ceiling - 255, (5 * (ceiling + 1) - 510 + 2) / 3 - 1});
  const std::size_t a = static_cast<std::size_t>(along);
  const std::size_t left = from >= a ? from - a : 0;
  const std::size_t right = std::min(fed_, to + a);
  // No sample within half a window of a mark is that dark: first within a quarter of it
  // across, on five of the window's rows (the middle, half and all of half a window away),
  // then over the whole window (on the page of the speed benchmark drawn four times as
  // large, the rows' darkest and the window's, searched wherever a run had candidates, made
  // `auto` 12% slower).
  const auto rows_lighter = [&] {
    const std::size_t q = a / 4;
    const std::size_t near_left = from >= q ? from - q : 0;
    const std::size_t near_right = std::min(fed_, to + q);
    const std::size_t n = near_right - near_left;
    unsigned char* some = column_darkest_.data();
    std::memcpy(some + near_left, middle + near_left, n);
    for (int k = -2; k <= 2; ++k) {
      if (k != 0)
        darker_of(row_at(row + k * along / 2) + near_left, some + near_left, n, some + near_left);
    }
    unsigned char* around = around_.data();
    darkest_around(some, near_left, near_right, from, to, q, around);
    return lighter_around(around + from, to - from, ink, lights + from);
  };
  if (any && rows_lighter()) {
    unsigned char* darkest = column_darkest_.data();
    if (!line_rows_.ready()) line_rows_.reset(fed_, along);
    line_rows_.darkest(row, row_at, left, right, darkest);
    unsigned char* around = around_.data();
    darkest_around(darkest, left, right, from, to, a, around);
    light_print(middle + from, around + from, to - from, ink, light, lights + from, marks + from);
  }
}

}  // namespace imagefiles::detail
