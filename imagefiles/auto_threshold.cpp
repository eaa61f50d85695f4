// The automatic method, for pages photographed or scanned under uneven light.
//
// Paper lit unevenly (a shadow, a phone's light falling off, a stain) is first brought to one
// level: each sample is divided by the brightness of the paper around it, estimated as the 90th
// percentile of blocks of 32 x 32 pixels, smoothed over the blocks around and interpolated between
// block centres. On that normalised page, a pixel is ink when both a global threshold (halfway
// between the levels of ink and paper that Otsu's split gives) and a local one (Wolf's, window 15,
// k 0.5, with the largest deviation of the 32 x 32 blocks) call it ink: the global one keeps
// blotches of paper white and the local one the show-through and noise between strokes. The page
// is written over with its normalised self, then binarised in place.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "imagefiles/binarisation_internal.h"
#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace {

using imagefiles::detail::binarise_locally;
using imagefiles::detail::check_local;
using imagefiles::detail::Formula;
using imagefiles::detail::make_formula;
using imagefiles::detail::otsu_level;
using imagefiles::detail::smallest_sample;
using imagefiles::detail::Tally;

constexpr int block = 32;

// The paper's brightness for each block: the 90th percentile of the block's samples.
std::vector<float> paper_of_blocks(const unsigned char* image, int rows, int columns, int grid_rows,
                                   int grid_columns) {
  std::vector<float> grid(static_cast<std::size_t>(grid_rows) * grid_columns);
  std::vector<std::uint16_t> counts(static_cast<std::size_t>(grid_columns) * 256);
  const std::size_t width = static_cast<std::size_t>(columns);
  for (int band = 0; band < grid_rows; ++band) {
    std::fill(counts.begin(), counts.end(), 0);
    const int first = band * block;
    const int last = std::min(rows, first + block);
    // Every other row and every fourth column: a percentile of 128 samples is as good as one of
    // 1,024 for the paper's level.
    for (int y = first; y < last; y += 2) {
      const unsigned char* line = image + static_cast<std::size_t>(y) * width;
      for (std::size_t x = 0; x < width; x += 4) ++counts[(x / block) * 256 + line[x]];
    }
    for (int g = 0; g < grid_columns; ++g) {
      const int in_block =
          ((last - first + 1) / 2) * ((std::min(columns, (g + 1) * block) - g * block + 3) / 4);
      const int above = in_block / 10;  // samples allowed above the percentile
      int seen = 0;
      int v = 255;
      for (; v > 0; --v) {
        seen += counts[static_cast<std::size_t>(g) * 256 + v];
        if (seen > above) break;
      }
      grid[static_cast<std::size_t>(band) * grid_columns + g] = static_cast<float>(v);
    }
  }
  return grid;
}

// The grid smoothed: the median of each 3 x 3 neighbourhood (edges repeated), then its mean (edges
// mirrored): one block of ink or of a stain's edge does not make the paper's level.
std::vector<float> smoothed(const std::vector<float>& grid, int rows, int columns) {
  const auto at = [&](const std::vector<float>& g, int y, int x) {
    return g[static_cast<std::size_t>(y) * columns + x];
  };
  const auto repeat = [](int i, int n) { return std::clamp(i, 0, n - 1); };
  const auto mirror101 = [](int i, int n) {
    if (n == 1) return 0;
    if (i < 0) return -i;
    return i >= n ? 2 * n - 2 - i : i;
  };
  std::vector<float> median(grid.size());
  std::vector<float> mean(grid.size());
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      float around[9];
      int n = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx)
          around[n++] = at(grid, repeat(y + dy, rows), repeat(x + dx, columns));
      }
      std::nth_element(around, around + 4, around + 9);
      median[static_cast<std::size_t>(y) * columns + x] = around[4];
    }
  }
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      float sum = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          sum += at(median, mirror101(y + dy, rows), mirror101(x + dx, columns));
        }
      }
      mean[static_cast<std::size_t>(y) * columns + x] = sum / 9;
    }
  }
  return mean;
}

// Where a pixel falls between block centres, along one axis: the two blocks and the second's
// weight.
struct Between {
  int first;
  int second;
  float weight;
};

Between between(int i, int size, int blocks) {
  const float at =
      (static_cast<float>(i) + 0.5f) * static_cast<float>(blocks) / static_cast<float>(size) - 0.5f;
  const float clamped = std::clamp(at, 0.0f, static_cast<float>(blocks - 1));
  const int first = static_cast<int>(clamped);
  return {first, std::min(first + 1, blocks - 1), clamped - static_cast<float>(first)};
}

// The sum of `n` samples and of their squares (a vectorised reduction).
struct Moments {
  std::uint64_t sum;
  std::uint64_t squares;
};

inline Moments moments(const unsigned char* samples, std::size_t n) {
  std::uint64_t sum = 0;
  std::uint64_t squares = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t v = samples[i];
    sum += v;
    squares += v * v;
  }
  return {sum, squares};
}

// A row of the paper's brightness, between block centres: straight lines from one centre to the
// next, so that each stretch is a ramp (a vectorised loop) rather than a lookup a pixel.
struct Ramp {
  std::size_t begin;
  std::size_t end;
  int first;  // the block centres it goes between
  int second;
};

void interpolate_row(const float* grid_row, const std::vector<Ramp>& ramps, const float* weights,
                     float* out) {
  for (const Ramp& r : ramps) {
    const float from = grid_row[r.first];
    const float step = grid_row[r.second] - from;
    for (std::size_t i = r.begin; i < r.end; ++i) out[i] = from + step * weights[i];
  }
}

// One row of samples divided by the paper's brightness around them, into 0 to 255.
IMAGEFILES_VECTOR_CLONES void normalise_row(const unsigned char* line, const float* paper,
                                            std::size_t width, unsigned char* out) {
  for (std::size_t x = 0; x < width; ++x) {
    const float v = 255.0f * static_cast<float>(line[x]) / std::max(paper[x], 1.0f);
    out[x] = static_cast<unsigned char>(std::min(v, 255.0f));
  }
}

statut_image binarise_automatically(unsigned char* output, const unsigned char* image, int rows,
                                    int columns) {
  const statut_image status = check_local(output, image, rows, columns, 15, 0.5);
  if (status != IMAGE_OK) return status;
  try {
    const int grid_rows = (rows + block - 1) / block;
    const int grid_columns = (columns + block - 1) / block;
    const std::vector<float> paper = smoothed(
        paper_of_blocks(image, rows, columns, grid_rows, grid_columns), grid_rows, grid_columns);
    const std::size_t width = static_cast<std::size_t>(columns);
    std::vector<Between> across(width);
    for (int x = 0; x < columns; ++x)
      across[static_cast<std::size_t>(x)] = between(x, columns, grid_columns);
    std::vector<float> weights(width);
    std::vector<Ramp> ramps;
    for (std::size_t x = 0; x < width; ++x) {
      weights[x] = across[x].weight;
      if (ramps.empty() || ramps.back().first != across[x].first) {
        ramps.push_back({x, x, across[x].first, across[x].second});
      }
      ramps.back().end = x + 1;
    }
    std::vector<float> grid_row(static_cast<std::size_t>(grid_columns));
    std::vector<float> paper_row(width);
    // The normalised page, with its histogram, its smallest sample, and the deviation of each
    // block of about 32 x 32 pixels. Every pixel lies in a block: the rows and columns left over
    // at the ends join the last blocks (32 to 63 pixels wide), and a page narrower than a block
    // is one block across.
    std::uint64_t histogram_of[256] = {};
    Tally tally;
    const int band_blocks = std::max(1, rows / block);
    const int column_blocks = std::max(1, columns / block);
    const std::size_t last_block = static_cast<std::size_t>(column_blocks - 1) * block;
    std::vector<std::uint64_t> block_sums(static_cast<std::size_t>(column_blocks));
    std::vector<std::uint64_t> block_squares(static_cast<std::size_t>(column_blocks));
    double widest = 0;
    int band_top = 0;
    int smallest = 255;
    for (int y = 0; y < rows; ++y) {
      const Between down = between(y, rows, grid_rows);
      for (int g = 0; g < grid_columns; ++g) {
        grid_row[static_cast<std::size_t>(g)] =
            paper[static_cast<std::size_t>(down.first) * grid_columns + g] * (1 - down.weight) +
            paper[static_cast<std::size_t>(down.second) * grid_columns + g] * down.weight;
      }
      interpolate_row(grid_row.data(), ramps, weights.data(), paper_row.data());
      unsigned char* out = output + static_cast<std::size_t>(y) * width;
      normalise_row(image + static_cast<std::size_t>(y) * width, paper_row.data(), width, out);
      smallest = std::min<int>(smallest, smallest_sample(out, width));
      tally.add(out, width);  // while the row is in the cache; a raster's counts fit 32 bits
      for (std::size_t g = 0; g < static_cast<std::size_t>(column_blocks); ++g) {
        const std::size_t begin = g * block;
        const Moments row =
            moments(out + begin,
                    g + 1 < std::size_t(column_blocks) ? std::size_t{block} : width - last_block);
        block_sums[g] += row.sum;
        block_squares[g] += row.squares;
      }
      const bool band_ends =
          y == rows - 1 || (y % block == block - 1 && y / block < band_blocks - 1);
      if (band_ends) {
        for (std::size_t g = 0; g < static_cast<std::size_t>(column_blocks); ++g) {
          const std::size_t block_width =
              g + 1 < std::size_t(column_blocks) ? std::size_t{block} : width - last_block;
          const double n = double(y + 1 - band_top) * double(block_width);
          const double mean = double(block_sums[g]) / n;
          widest = std::max(widest, double(block_squares[g]) / n - mean * mean);
        }
        std::fill(block_sums.begin(), block_sums.end(), 0);
        std::fill(block_squares.begin(), block_squares.end(), 0);
        band_top = y + 1;
      }
    }
    const double range = std::sqrt(std::max(widest, 0.0));
    const std::size_t count = static_cast<std::size_t>(rows) * width;
    tally.add_to(histogram_of);
    if (range == 0) {
      std::memset(output, 255, count);  // a page with nothing on it
      return IMAGE_OK;
    }
    Formula formula = make_formula(Formula::wolf, 0.5, range, smallest);
    formula.ceiling =
        imagefiles::detail::halfway_level(histogram_of, otsu_level(histogram_of, count));
    binarise_locally<std::uint32_t>(output, output, rows, columns, 15, formula);
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}

}  // namespace

statut_image binariser_auto(unsigned char* sortie, const unsigned char* image, int nb_lignes,
                            int nb_colonnes) {
  return binarise_automatically(sortie, image, nb_lignes, nb_colonnes);
}
