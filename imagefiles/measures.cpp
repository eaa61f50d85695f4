// The measures of the document-binarisation contests: a result against its ground truth, ink (0)
// as the foreground in both.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "imagefiles/imagefiles.h"
#include "imagefiles/internal.h"

namespace {

// The 256 neighbourhoods of a pixel (bit 0 the north-west neighbour, then clockwise: north,
// north-east, east, south-east, south, south-west, west) and what thinning does with the pixel:
// 1 removed in the first half-pass, 2 in the second, 3 in both. This is scikit-image's table for
// its two-dimensional skeleton (BSD licence), so that our skeleton and the benchmark's, which calls
// scikit-image, are the same pixels.
constexpr unsigned char thinning[256] = {
    0, 0, 0, 1, 0, 0, 1, 3, 0, 0, 3, 1, 1, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 3, 0, 3, 3,
    0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 2, 2,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 3, 0, 2, 0,
    0, 0, 3, 1, 0, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
    3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    2, 3, 1, 3, 0, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    2, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 0, 1, 0, 0, 0, 0, 2, 2, 0, 0, 2, 0, 0, 0};

// The skeleton of the truth's ink: thinned in half-passes, each deciding every pixel on the picture
// left by the one before, until one whole pass removes nothing. `ink` has a border of one pixel of
// paper all round, and is thinned in place.
void thin(std::vector<unsigned char>& ink, std::size_t rows, std::size_t columns) {
  const std::size_t width = columns + 2;
  std::vector<unsigned char> next = ink;
  bool removed = true;
  while (removed) {
    removed = false;
    for (const unsigned char half : {1, 2}) {
      for (std::size_t y = 1; y <= rows; ++y) {
        const unsigned char* up = ink.data() + (y - 1) * width;
        const unsigned char* here = up + width;
        const unsigned char* down = here + width;
        for (std::size_t x = 1; x <= columns; ++x) {
          if (here[x] == 0) continue;
          const int around = up[x - 1] | up[x] << 1 | up[x + 1] << 2 | here[x + 1] << 3 |
                             down[x + 1] << 4 | down[x] << 5 | down[x - 1] << 6 | here[x - 1] << 7;
          if ((thinning[around] & half) != 0) {
            next[y * width + x] = 0;
            removed = true;
          }
        }
      }
      ink = next;
    }
  }
}

// The weights of the distortion: the inverse of the distance to the centre over a 5 x 5
// neighbourhood, the centre 0, normalised to a sum of 1.
struct Weights {
  double w[5][5];
  Weights() : w{} {
    double sum = 0;
    for (int i = 0; i < 5; ++i) {
      for (int j = 0; j < 5; ++j) {
        w[i][j] = i == 2 && j == 2 ? 0 : 1 / std::hypot(i - 2.0, j - 2.0);
        sum += w[i][j];
      }
    }
    for (auto& row : w) {
      for (double& v : row) v /= sum;
    }
  }
};

// Index `i` of an axis of `n` samples mirrored at its ends without repeating the edge sample.
std::int64_t mirrored(std::int64_t i, std::int64_t n) {
  if (n == 1) return 0;
  const std::int64_t period = 2 * (n - 1);
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

}  // namespace

statut_image evaluer_binarisation(const unsigned char* verite, const unsigned char* resultat,
                                  int nb_lignes, int nb_colonnes, mesures_binarisation* mesures) {
  if (verite == nullptr || resultat == nullptr || mesures == nullptr) {
    return IMAGE_PARAMETRE_INVALIDE;
  }
  if (nb_lignes < 1 || nb_colonnes < 1 ||
      !imagefiles::detail::raster_bytes(std::int64_t{nb_lignes} * nb_colonnes,
                                        imagefiles::detail::greymap)) {
    return IMAGE_TAILLE_HORS_LIMITES;
  }
  const auto rows = static_cast<std::size_t>(nb_lignes);
  const auto columns = static_cast<std::size_t>(nb_colonnes);
  const std::size_t count = rows * columns;
  try {
    // The truth's ink with a border of paper, for the skeleton.
    std::vector<unsigned char> skeleton((rows + 2) * (columns + 2));
    std::uint64_t tp = 0, fp = 0, fn = 0;
    for (std::size_t y = 0; y < rows; ++y) {
      for (std::size_t x = 0; x < columns; ++x) {
        const bool t = verite[y * columns + x] == 0;
        const bool r = resultat[y * columns + x] == 0;
        tp += t && r;
        fp += r && !t;
        fn += t && !r;
        skeleton[(y + 1) * (columns + 2) + x + 1] = t;
      }
    }
    const std::uint64_t tn = count - tp - fp - fn;
    thin(skeleton, rows, columns);
    std::uint64_t skeleton_ink = 0, skeleton_found = 0;
    for (std::size_t y = 0; y < rows; ++y) {
      for (std::size_t x = 0; x < columns; ++x) {
        const bool s = skeleton[(y + 1) * (columns + 2) + x + 1] != 0;
        skeleton_ink += s;
        skeleton_found += s && resultat[y * columns + x] == 0;
      }
    }

    // The distortion of each pixel that differs: the weighted share of the truth around it that
    // differs from the result's pixel (the truth mirrored at its borders).
    static const Weights weights;
    double distortion = 0;
    for (std::size_t y = 0; y < rows; ++y) {
      for (std::size_t x = 0; x < columns; ++x) {
        const bool r = resultat[y * columns + x] == 0;
        if (r == (verite[y * columns + x] == 0)) continue;
        double around = 0;
        for (int i = 0; i < 5; ++i) {
          const auto yy = static_cast<std::size_t>(mirrored(std::int64_t(y) + i - 2, nb_lignes));
          for (int j = 0; j < 5; ++j) {
            const auto xx =
                static_cast<std::size_t>(mirrored(std::int64_t(x) + j - 2, nb_colonnes));
            if (verite[yy * columns + xx] == 0) around += weights.w[i][j];
          }
        }
        distortion += r ? 1 - around : around;
      }
    }
    // The 8 x 8 blocks of the truth (whole ones) that hold both ink and paper.
    std::uint64_t mixed = 0;
    for (std::size_t by = 0; by + 8 <= rows; by += 8) {
      for (std::size_t bx = 0; bx + 8 <= columns; bx += 8) {
        int ink = 0;
        for (std::size_t y = by; y < by + 8; ++y) {
          for (std::size_t x = bx; x < bx + 8; ++x) ink += verite[y * columns + x] == 0;
        }
        mixed += ink > 0 && ink < 64;
      }
    }

    const auto d = [](std::uint64_t v) { return static_cast<double>(v); };
    const auto ratio = [&](std::uint64_t a, std::uint64_t b) { return b == 0 ? 0 : d(a) / d(b); };
    const auto f = [](double p, double r) { return p + r == 0 ? 0 : 200 * p * r / (p + r); };
    const double precision = ratio(tp, tp + fp);
    const bool no_ink = tp + fp + fn == 0;
    mesures_binarisation m{};
    m.f_mesure = no_ink ? 100 : f(precision, ratio(tp, tp + fn));
    m.pseudo_f_mesure = no_ink ? 100 : f(precision, ratio(skeleton_found, skeleton_ink));
    const double mse = d(fp + fn) / d(count);
    m.psnr = mse == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(1 / mse);
    m.drd = distortion / d(std::max<std::uint64_t>(mixed, 1));
    m.nrm = (ratio(fn, fn + tp) + ratio(fp, fp + tn)) / 2;
    const double spread = d(tp + fp) * d(tp + fn) * d(tn + fp) * d(tn + fn);
    m.mcc =
        spread == 0 ? (fp + fn == 0 ? 1 : 0) : (d(tp) * d(tn) - d(fp) * d(fn)) / std::sqrt(spread);
    *mesures = m;
  } catch (const std::bad_alloc&) {
    return IMAGE_MEMOIRE_INSUFFISANTE;
  }
  return IMAGE_OK;
}
