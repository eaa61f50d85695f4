// The scale of a page's writing, measured on the page: the width of its strokes and the height of
// its letters, and the window a local threshold should use there.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <numeric>
#include <vector>

#include "imagefiles/binarisation_internal.h"
#include "imagefiles/coarse_paper.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"
#include "imagefiles/letter_heights.h"
#include "imagefiles/running_window.h"

namespace imagefiles::detail {

IMAGEFILES_VECTOR_CLONES void divide_by_paper(const unsigned char* samples, std::size_t n,
                                              float from, float step, const float* weight,
                                              unsigned char* out) {
  for (std::size_t g = 0; g < n; ++g) {
    const float paper = from + step * weight[g];
    out[g] = static_cast<unsigned char>(std::min(255.0f, 255.0f * samples[g] / paper));
  }
}
namespace {

// Samples that each measure reads: an eighth of the page's pixels, at most a small share of a
// large page, and at least what keeps the medians stable on a small one.
constexpr std::size_t run_budget = std::size_t{1} << 18;
constexpr std::size_t component_budget = std::size_t{1} << 19;
constexpr std::size_t run_floor = std::size_t{1} << 15;
constexpr std::size_t component_floor = std::size_t{1} << 16;
std::size_t budget(int rows, int columns, std::size_t floor, std::size_t most) {
  return std::clamp(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns) / 8, floor,
                    most);
}

// The median of a histogram of positive values (index 0 unused); 0 when it is empty.
int median_of(const std::vector<std::uint64_t>& counts) {
  const std::uint64_t total = std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
  if (total == 0) return 0;
  std::uint64_t seen = 0;
  for (std::size_t v = 0; v < counts.size(); ++v) {
    seen += counts[v];
    if (2 * seen >= total) return static_cast<int>(v);
  }
  return static_cast<int>(counts.size() - 1);
}

// The noise of sampled rows, for the test of a run's edges: its deviation in the samples as read
// (before the division by the paper, which amplifies it where the paper is dark), and the
// middle rows of the triples as read (`read`, a row of `span` a line) and divided (`divided`,
// three rows of `span` a line), whose ratio is the amplification at each sample.
struct Amplified {
  double deviation;
  const unsigned char* read;
  const unsigned char* divided;
};

// Whether the run of ink [begin, end) of `line` (of `span` samples) has the edges of a stroke:
// within two samples on each side, the line climbs back towards the paper by four deviations of
// the noise there (a difference of two samples of it passes 2.8 of its own in one case in 400).
// A dark region of the paper that the coarse paper does not follow (a steep dark corner) crosses
// the level by its noise alone, in runs of every length that were read as strokes and letters
// on blank pages (windows of 39 to 151). A run at an end of the line counts its other edge
// (and a run over the whole line has none).
// Samples on each side of a run's edge that the test reads.
constexpr std::size_t reach = 3;
// How far the paper lies from the ink at a stroke's edge, in deviations of the noise.
constexpr double edge_deviations = 5;

bool edged(const unsigned char* line, std::size_t span, std::size_t begin, std::size_t end,
           double deviation) {
  if (begin == 0 && end == span) return false;
  const int jump = static_cast<int>(std::ceil(edge_deviations * deviation));
  // The lightest of `reach` samples outside against the darkest of `reach` inside, at one edge.
  const auto climbs = [&](std::size_t out_first, std::size_t out_end, std::size_t in_first,
                          std::size_t in_end) {
    const int light = *std::max_element(line + out_first, line + out_end);
    const int dark = *std::min_element(line + in_first, line + in_end);
    return light - dark >= jump;
  };
  const bool left = begin == 0 || climbs(begin >= reach ? begin - reach : 0, begin, begin,
                                         std::min(end, begin + reach));
  const bool right = end == span || climbs(end, std::min(span, end + reach),
                                           end >= begin + reach ? end - reach : begin, end);
  return left && right;
}

// How many stroke-like runs make writing: fewer are specks of the paper's noise that passed.
constexpr std::uint64_t fewest_strokes = 16;

// The stroke width of sampled rows: the median horizontal run of ink of `count` lines (line i at
// lines + i x stride, `span` samples) that goes on in the rows above and below it (at the run's
// middle, in `rows`, three rows of `span` a line: a stroke does, a speck of noise seldom), ink
// below the level halfway between the ink's and the paper's of the samples `all` (Otsu's split
// alone would take show-through and noise on the paper for ink).
struct Strokes {
  int level;
  int width;
  std::uint64_t runs;  // every run of ink read, continued or not
};
Strokes measure_strokes(const std::vector<unsigned char>& all, const unsigned char* lines,
                        std::size_t stride, const std::vector<unsigned char>& rows,
                        std::size_t count, std::size_t span, const Amplified& noise) {
  std::uint64_t histogram_of[256] = {};
  for (const unsigned char v : all) ++histogram_of[v];
  const int level =
      halfway_level(histogram_of, calculer_seuil_otsu(all.data(), all.size()) - 1) + 1;
  std::vector<std::uint64_t> runs(1025);
  std::uint64_t all_runs = 0;
  std::uint64_t stroke_like = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* line = lines + i * stride;
    const unsigned char* above = rows.data() + 3 * i * span;
    const unsigned char* below = above + 2 * span;
    const unsigned char* divided = noise.divided + i * 3 * span;
    const unsigned char* read = noise.read + i * span;
    for (std::size_t x = 0; x < span;) {
      if (line[x] >= level) {
        ++x;
        continue;
      }
      const std::size_t begin = x;
      while (x < span && line[x] < level) ++x;
      ++all_runs;
      const std::size_t middle = (begin + x - 1) / 2;
      if (above[middle] < level && below[middle] < level) {
        ++runs[std::min<std::size_t>(x - begin, runs.size() - 1)];
        if (edged(line, span, begin, x,
                  noise.deviation * divided[middle] / std::max(1, int{read[middle]}))) {
          ++stroke_like;
        }
      }
    }
  }
  // A few stray runs are no writing.
  return {level, stroke_like < fewest_strokes ? 0 : median_of(runs), all_runs};
}

// Rows smoothed over the 3 x 3 pixels around each of their own: of `count` triples of rows of
// `span` samples, the middle one. Noise on the paper then seldom crosses the level, and a stroke
// of two pixels or more keeps its width there.
std::vector<unsigned char> smoothed_rows(const std::vector<unsigned char>& triples,
                                         std::size_t count, std::size_t span) {
  std::vector<unsigned char> smooth(count * span);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* above = triples.data() + 3 * i * span;
    unsigned char* out = smooth.data() + i * span;
    for (std::size_t x = 0; x < span; ++x) {
      const std::size_t left = x > 0 ? x - 1 : x + (span > 1);
      const std::size_t right = x + 1 < span ? x + 1 : x - (span > 1);
      unsigned sum = 0;
      for (std::size_t k = 0; k < 3; ++k) {
        const unsigned char* row = above + k * span;
        sum += unsigned{row[left]} + row[x] + row[right];
      }
      out[x] = static_cast<unsigned char>((sum + 4) / 9);
    }
  }
  return smooth;
}

// Adds how often neighbours of a row of `n` samples differ by each amount (pairs 0-1, 2-3, ...).
void add_differences(const unsigned char* line, std::size_t n, std::uint64_t differences[256]) {
  for (std::size_t x = 0; x + 1 < n; x += 2)
    ++differences[std::abs(int{line[x]} - int{line[x + 1]})];
}

// The stroke width of the page in pixels, and the level of its ink, from strips of `tall` rows
// (3 b for the coarsest factor b the page allows) around the rows `centres`, `samples` their rows
// one after another, `span` samples each from column `first`. Read at factor 1 (the three middle
// rows of each strip, divided by the paper), then, while that finds only noise, at factors 2
// and 4 (the middle 3 b rows' means of b x b pixels, divided by the paper at their middles).
// `coarse` when a coarser factor gave the width; a width of 0 when no stroke was found.
Strokes strokes_of(const std::vector<unsigned char>& samples, std::size_t span, std::int64_t first,
                   const std::vector<int>& centres, std::size_t tall, CoarsePaper& paper,
                   int page_rows, bool& coarse) {
  coarse = false;
  Strokes best{0, 0, 0};
  const std::size_t count = centres.size();
  for (std::size_t b = 1, shift = 0; 3 * b <= tall; b *= 2, shift += 2) {
    const std::size_t units = span / b;
    const std::size_t skip = tall / 2 - 3 * b / 2;  // rows of a strip above the factor's
    std::vector<unsigned char> triples(3 * count * units);
    std::vector<unsigned char> read(count * units);  // the middle rows, before the division
    std::uint64_t differences[256] = {};
    for (std::size_t i = 0; i < 3 * count; ++i) {
      const std::size_t k = i % 3;
      const unsigned char* top = samples.data() + (i / 3 * tall + skip + k * b) * span;
      unsigned char* line = triples.data() + i * units;
      for (std::size_t x = 0; x < units && b == 1; ++x) line[x] = top[x];
      for (std::size_t x = 0; x < units && b > 1; ++x) {
        unsigned sum = 0;
        for (std::size_t dy = 0; dy < b; ++dy) {
          for (std::size_t dx = 0; dx < b; ++dx) sum += top[dy * span + b * x + dx];
        }
        line[x] = static_cast<unsigned char>((sum + b * b / 2) >> shift);
      }
      const std::int64_t row = std::int64_t{centres[i / 3]} - static_cast<std::int64_t>(tall / 2) +
                               static_cast<std::int64_t>(skip + k * b + b / 2);
      add_differences(line, units, differences);
      if (k == 1) std::copy(line, line + units, read.data() + i / 3 * units);
      paper.normalise(static_cast<int>(mirror(row, page_rows)), line, units,
                      first + static_cast<std::int64_t>(b / 2), static_cast<int>(b), line);
    }
    if (b == 1) {
      const auto [low, high] = std::minmax_element(triples.begin(), triples.end());
      if (*low == *high) return best;  // nothing written
    }
    const std::vector<unsigned char> smooth = smoothed_rows(triples, count, units);
    // The smoothing takes the mean of nine samples: a third of the noise.
    const double deviation = noise_deviation(differences);
    const Strokes smoothed = measure_strokes(smooth, smooth.data(), units, triples, count, units,
                                             {deviation / 3, read.data(), triples.data() + units});
    const Strokes sharp =
        measure_strokes(triples, triples.data() + units, 3 * units, triples, count, units,
                        {deviation, read.data(), triples.data() + units});
    // Runs of noise are as wide as the smoothing (3 samples) and many more on the rows before
    // it: the strokes are then looked for at the next factor.
    const bool noise = smoothed.width <= 3 && sharp.runs * 2 > 5 * smoothed.runs;
    if (b == 1) {
      best = smoothed.width >= 3 ? smoothed : sharp;
    } else if (!noise) {
      best = {smoothed.level, smoothed.width * static_cast<int>(b), smoothed.runs};
      coarse = true;
    }
    if (!noise) break;
  }
  return best;
}

}  // namespace

int halfway_level(const std::uint64_t histogram_of[256], int otsu) {
  std::uint64_t dark = 0;
  std::uint64_t light = 0;
  for (int v = 0; v < 256; ++v) (v <= otsu ? dark : light) += histogram_of[v];
  if (dark == 0 || light == 0) return otsu;
  const auto level_at = [&](int from, std::uint64_t rank) {
    for (int v = from; v < 256; ++v) {
      if (rank < histogram_of[v]) return v;
      rank -= histogram_of[v];
    }
    return 255;
  };
  return (level_at(0, dark / 10) + level_at(otsu + 1, light / 2)) / 2;
}

double noise_deviation(const std::uint64_t differences[256]) {
  std::uint64_t pairs = 0;
  for (int d = 0; d < 256; ++d) pairs += differences[d];
  if (pairs == 0) return 0;
  std::uint64_t seen = 0;
  int median = 0;
  while (median < 255 && 2 * (seen + differences[median]) < pairs) seen += differences[median++];
  const double low = median == 0 ? 0 : median - 0.5;
  const double unit = median == 0 ? 0.5 : 1;
  const double within = differences[median] == 0
                            ? 0
                            : (double(pairs) / 2 - double(seen)) / double(differences[median]);
  return std::max(0.5, low + unit * within) / 0.954;
}

struct ScaleMeasure::State {
  State(int rows, int columns) : rows(rows), columns(columns), paper(rows, columns) {}
  int rows, columns;
  CoarsePaper paper;
  // The first pass's rows for the runs: `span` samples of each, from column `span_first`, in
  // strips of `tall` rows that the factors 1, 2 and 4 read (3 b middle rows each).
  std::int64_t span_first = 0;
  std::size_t span = 0;
  std::vector<int> centres;  // the strips' middle rows
  std::size_t tall = 3;      // rows a strip
  // Every strip's rows (mirrored at the page's edges), `span` samples a row, and the rows of the
  // page they come from, in order.
  std::vector<unsigned char> run_samples;
  struct Copy {
    int row;
    std::size_t slot;
  };
  std::vector<Copy> copies;
  std::size_t next_copy = 0;
  // The second pass's bands of rows, each on the grid of every `step`-th pixel of every
  // `step`-th row.
  int level = 0;
  int step = 1;
  int band_rows = 0;
  std::int64_t grid_first = 0;  // the first column of the grid, of grid_columns
  std::size_t grid_columns = 0;
  // Noisy pages (whose strokes were found at a coarser factor) give each grid sample the mean
  // of its step x step pixels, others the pixel at its corner.
  bool means = false;
  struct Band {
    int first, last;
    std::vector<unsigned char> samples;
    std::vector<std::uint32_t> sums;  // of the grid row being read, when `means`
  };
  std::vector<Band> bands;
  std::size_t next_band = 0;
};

ScaleMeasure::ScaleMeasure(int rows, int columns) {
  if (rows < 1 || columns < 1) return;
  state_ = std::make_unique<State>(rows, columns);
  State& s = *state_;
  // Strips spread over the page, one in each of equal parts of it, their middle rows at most the
  // budget's worth of samples (a row wider than the budget gives its middle). Each part's strip
  // is near its middle, moved by up to an eighth of a part (steps of the golden ratio), so that
  // strips as far apart as evenly spaced lines of text are not all at the same height in a line.
  const std::size_t width = static_cast<std::size_t>(columns);
  const std::size_t runs = budget(rows, columns, run_floor, run_budget);
  s.span = std::min(width, runs);
  s.span_first = static_cast<std::int64_t>((width - s.span) / 2);
  const std::size_t strips =
      std::clamp<std::size_t>(runs / (3 * width), 1, static_cast<std::size_t>(rows));
  // Strips of 3 b rows for the coarsest factor b, 4 or less, that the page's size allows.
  s.tall = 3;
  while (s.tall < 12 && static_cast<int>(2 * s.tall) <= rows && s.span >= 8 * (2 * s.tall / 3))
    s.tall *= 2;
  for (std::size_t i = 0; i < strips; ++i) {
    const std::uint64_t place = 384 + (633 * std::uint64_t{i}) % 256;  // 1024ths of a part
    const int y =
        static_cast<int>((1024 * std::uint64_t{i} + place) * static_cast<std::uint64_t>(rows) /
                         (1024 * std::uint64_t{strips}));
    s.centres.push_back(y);
    const int above = static_cast<int>(s.tall / 2);
    for (int k = 0; k < static_cast<int>(s.tall); ++k) {
      s.copies.push_back({static_cast<int>(mirror(y - above + k, rows)), s.tall * i + k});
    }
  }
  std::stable_sort(s.copies.begin(), s.copies.end(),
                   [](const State::Copy& a, const State::Copy& b) { return a.row < b.row; });
  s.run_samples.resize(s.copies.size() * s.span);
}

ScaleMeasure::~ScaleMeasure() = default;

void ScaleMeasure::gather(int pass, int y, std::int64_t first, const unsigned char* samples,
                          std::size_t n) {
  if (!state_) return;
  State& s = *state_;
  const std::int64_t end = first + static_cast<std::int64_t>(n);
  if (pass == 0) {
    s.paper.gather(y, first, samples, n);
    while (s.next_copy < s.copies.size() && s.copies[s.next_copy].row < y) ++s.next_copy;
    // The part of the runs' span in these columns.
    const std::int64_t from = std::max(first, s.span_first);
    const std::int64_t to = std::min(end, s.span_first + static_cast<std::int64_t>(s.span));
    if (from >= to) return;
    for (std::size_t c = s.next_copy; c < s.copies.size() && s.copies[c].row == y; ++c) {
      std::copy(samples + (from - first), samples + (to - first),
                s.run_samples.data() + s.copies[c].slot * s.span + (from - s.span_first));
    }
    return;
  }
  // The bands that hold row y (in order of their first rows, which may overlap), and the grid's
  // columns among these.
  while (s.next_band < s.bands.size() && s.bands[s.next_band].last <= y) ++s.next_band;
  const std::int64_t step = s.step;
  const std::int64_t grid_columns = static_cast<std::int64_t>(s.grid_columns);
  const std::int64_t g_first =
      std::clamp<std::int64_t>((first - s.grid_first + step - 1) / step, 0, grid_columns);
  const std::int64_t g_end =
      std::clamp<std::int64_t>((end - s.grid_first + step - 1) / step, 0, grid_columns);
  if (s.means) {
    const std::int64_t from = std::max(first, s.grid_first);
    const std::int64_t to = std::min(end, s.grid_first + grid_columns * step);
    for (std::size_t b = s.next_band; b < s.bands.size() && s.bands[b].first <= y; ++b) {
      State::Band& band = s.bands[b];
      if (y >= band.last) continue;
      const int phase = (y - band.first) % s.step;
      if (phase == 0 && first == 0) {
        band.samples.resize(band.samples.size() + s.grid_columns);
        band.sums.assign(s.grid_columns, 0);
      }
      for (std::int64_t c = from; c < to; ++c)
        band.sums[(c - s.grid_first) / step] += samples[c - first];
      if (end < s.columns || (phase + 1 < s.step && y + 1 < band.last && y + 1 < s.rows)) continue;
      // The grid row is whole: its means.
      unsigned char* row = band.samples.data() + band.samples.size() - s.grid_columns;
      for (std::int64_t g = 0; g < grid_columns; ++g) {
        const std::int64_t wide = std::min(step, s.columns - (s.grid_first + g * step));
        const std::int64_t n = wide * (phase + 1);
        row[g] = static_cast<unsigned char>((band.sums[g] + n / 2) / n);
      }
    }
    return;
  }
  // The first sampled column in a local: a member would be read again after each byte stored.
  const std::int64_t offset = s.grid_first - first;
  for (std::size_t b = s.next_band; b < s.bands.size() && s.bands[b].first <= y; ++b) {
    State::Band& band = s.bands[b];
    if (y >= band.last || (y - band.first) % s.step != 0) continue;
    // This row's samples in the band follow the last row's, from its first piece on.
    if (first == 0) band.samples.resize(band.samples.size() + s.grid_columns);
    unsigned char* row = band.samples.data() + band.samples.size() - s.grid_columns;
    for (std::int64_t g = g_first; g < g_end; ++g) row[g] = samples[offset + g * step];
  }
}

void ScaleMeasure::end(int pass) {
  if (!state_) return;
  State& s = *state_;
  if (pass == 0) {
    s.paper.end();
    const Strokes strokes = strokes_of(s.run_samples, s.span, s.span_first, s.centres, s.tall,
                                       s.paper, s.rows, s.means);
    s.run_samples = {};
    const int stroke = strokes.width;
    s.level = strokes.level;
    if (stroke == 0) return void(state_.reset());
    scale_.stroke = stroke;
    // Components on a grid that keeps at least three samples across a stroke, in bands tall
    // enough for a few lines of letters (letters are rarely more than 15 strokes tall), as many
    // as the budget allows, spread over the page.
    s.step = std::max(1, stroke / 3);
    const std::int64_t grid_columns = (s.columns + s.step - 1) / s.step;
    const int band_rows = s.band_rows = std::max(192, 60 * stroke / s.step) * s.step;
    const auto components =
        static_cast<std::int64_t>(budget(s.rows, s.columns, component_floor, component_budget));
    const std::int64_t bands =
        std::max<std::int64_t>(1, components / (grid_columns * (band_rows / s.step)));
    // A band wider than the budget gives the middle of its rows; and never more than 65,536 of
    // its grid's columns (only a strip a few rows high gets there, whose letters, if any, are
    // seen in far less, and whose runs would cost megabytes to label).
    const std::int64_t grid_rows = (std::min(band_rows, s.rows) + s.step - 1) / s.step;
    s.grid_columns = static_cast<std::size_t>(std::clamp<std::int64_t>(
        components / grid_rows, 1, std::min<std::int64_t>(grid_columns, 1 << 16)));
    s.grid_first = (grid_columns - static_cast<std::int64_t>(s.grid_columns)) / 2 * s.step;
    if (bands * band_rows >= s.rows) {
      s.bands.push_back({0, s.rows, {}, {}});
    } else {
      for (std::int64_t b = 0; b < bands; ++b) {
        const auto first = static_cast<int>((2 * b + 1) * (s.rows - band_rows) / (2 * bands));
        s.bands.push_back({first, first + band_rows, {}, {}});
      }
    }
    // Each band's grid at once (growing it a row at a time costs more than the labelling).
    for (State::Band& band : s.bands) {
      band.samples.reserve(
          static_cast<std::size_t>((band.last - band.first + s.step - 1) / s.step) *
          s.grid_columns);
    }
    return;
  }
  const bool whole = s.bands.size() == 1 && s.bands[0].last - s.bands[0].first == s.rows;
  std::vector<std::uint64_t> heights(
      static_cast<std::size_t>(whole ? s.rows + 1 : s.band_rows / 2));
  // On a noisy page (strokes found at a coarser factor) stains and show-through join lines of
  // letters into components taller than letters ever are (15 strokes); elsewhere the stroke may
  // be measured short (thin parts of letters), and nothing is left out for height.
  const std::int64_t tallest = s.means ? 15 * std::int64_t{scale_.stroke} : s.rows;
  LetterHeights letters(s.paper, s.grid_first, s.grid_columns, s.level, s.step, scale_.stroke,
                        tallest);
  for (const State::Band& band : s.bands) {
    letters.band(band.first, band.last, band.samples.data(), heights);
  }
  state_.reset();
  const int letter = middle_mean_of(heights);
  if (letter == 0) return;
  scale_.letter = letter;
  // About one letter height, which holds ink and paper around each stroke: narrower ones leave
  // the inside of thick strokes white, wider ones follow uneven paper less closely.
  const int window = std::max(3 * scale_.stroke, letter);
  scale_.window = std::clamp(window | 1, 3, 255);
}

PageScale measure_page_scale(const unsigned char* image, int rows, int columns) {
  if (image == nullptr || rows < 1 || columns < 1 ||
      !raster_bytes(std::int64_t{rows} * columns, greymap)) {
    return PageScale{};
  }
  try {
    ScaleMeasure measure(rows, columns);
    const std::size_t width = static_cast<std::size_t>(columns);
    for (int pass = 0; pass < ScaleMeasure::passes; ++pass) {
      for (int y = 0; y < rows; ++y)
        measure.gather(pass, y, 0, image + static_cast<std::size_t>(y) * width, width);
      measure.end(pass);
    }
    return measure.scale();
  } catch (const std::bad_alloc&) {
    return PageScale{};
  }
}

}  // namespace imagefiles::detail

int fenetre_conseillee(const unsigned char* image, int nb_lignes, int nb_colonnes) {
  const imagefiles::detail::PageScale scale =
      imagefiles::detail::measure_page_scale(image, nb_lignes, nb_colonnes);
  return scale.window != 0 ? scale.window : 15;
}
