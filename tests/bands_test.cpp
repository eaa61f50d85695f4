// Binarisation in bands against the whole-image functions, byte for byte: every method, on a table
// of shapes and windows, fed a row, seven rows or the whole page at a time, into bytes and bits;
// the stream functions in one strip and in narrow strips; and the faults of a stream in the middle.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "imagefiles/auto_threshold.h"
#include "imagefiles/bands.h"
#include "support.h"

namespace {

using namespace testing_support;

struct Shape {
  int rows;
  int columns;
};

// 1 x N, N x 1, heights that are no multiple of the bands, widths around the strips' (64
// columns and its multiples, with a strip budget of 4 KiB below; auto's strips, 768 wide).
const Shape kShapes[] = {{1, 1},  {1, 300}, {300, 1},  {2, 3},    {37, 53},  {50, 63},
                         {9, 64}, {12, 65}, {40, 129}, {23, 700}, {11, 1700}};

const parametres_binarisation kMethods[] = {
    {BINARISATION_SEUIL, 128, 0, 0},     {BINARISATION_SEUIL, 0, 0, 0},
    {BINARISATION_SEUIL, 300, 0, 0},     {BINARISATION_OTSU, 0, 0, 0},
    {BINARISATION_SAUVOLA, 0, 3, 0.5},   {BINARISATION_SAUVOLA, 0, 15, 0.2},
    {BINARISATION_SAUVOLA, 0, 75, 0.34}, {BINARISATION_SAUVOLA, 0, 183, 0.2},
    {BINARISATION_NIBLACK, 0, 15, 0.2},  {BINARISATION_NIBLACK, 0, 7, -0.3},
    {BINARISATION_WOLF, 0, 15, 0.5},     {BINARISATION_WOLF, 0, 181, 0.5},
    {BINARISATION_WOLF, 0, 201, 0.3},    {BINARISATION_AUTO, 0, 0, 0},
};

std::string name_of(const parametres_binarisation& m) {
  const char* names[] = {"seuil", "otsu", "sauvola", "niblack", "wolf", "auto"};
  return std::string(names[m.methode]) + " " + std::to_string(m.seuil) + " " +
         std::to_string(m.fenetre) + " " + std::to_string(m.k);
}

// A page of strokes, faint thin slanted lines and a solid dark area (a third of the width, a
// quarter of the height) on paper lit unevenly, with noise: every method has work on it (auto's
// faint strokes, its flat windows and its paper under print too).
std::vector<unsigned char> page(const Shape& s, unsigned seed) {
  std::vector<unsigned char> pixels;
  for (int y = 0; y < s.rows; ++y) {
    for (int x = 0; x < s.columns; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int light = 110 + (x * 3 + y) % 120;
      const bool ink = (x / 4) % 6 == 0 && (y / 5) % 3 != 0;
      const bool faint = (x + 4 * y) % 37 < 6;
      const bool solid =
          4 * y >= s.rows && 2 * y < s.rows && 3 * x >= s.columns && 3 * x < 2 * s.columns;
      const int value = ink || solid ? light / 3 : faint ? light * 7 / 10 : light;
      pixels.push_back(static_cast<unsigned char>(value + (seed >> 28)));
    }
  }
  return pixels;
}

// The whole-image function's result.
std::vector<unsigned char> whole(const parametres_binarisation& m, const Shape& s,
                                 const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out(in.size(), 7);
  switch (m.methode) {
    case BINARISATION_SEUIL:
      binariser(out.data(), in.data(), in.size(), m.seuil);
      break;
    case BINARISATION_OTSU:
      binariser(out.data(), in.data(), in.size(), calculer_seuil_otsu(in.data(), in.size()));
      break;
    case BINARISATION_SAUVOLA:
      EXPECT_EQ(binariser_sauvola(out.data(), in.data(), s.rows, s.columns, m.fenetre, m.k),
                IMAGE_OK);
      break;
    case BINARISATION_NIBLACK:
      EXPECT_EQ(binariser_niblack(out.data(), in.data(), s.rows, s.columns, m.fenetre, m.k),
                IMAGE_OK);
      break;
    case BINARISATION_WOLF:
      EXPECT_EQ(binariser_wolf(out.data(), in.data(), s.rows, s.columns, m.fenetre, m.k), IMAGE_OK);
      break;
    case BINARISATION_AUTO:
      EXPECT_EQ(binariser_auto(out.data(), in.data(), s.rows, s.columns), IMAGE_OK);
      break;
  }
  return out;
}

// A file's bytes as a stream writer writes them (the reference of the files).
std::string file_of(const std::vector<unsigned char>& raster, const Shape& s, bool bits) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  EXPECT_EQ((bits ? enregistrer_flux_pbm : enregistrer_flux_pgm)(stream, raster.data(), s.rows,
                                                                 s.columns),
            IMAGE_OK);
  std::fclose(stream);
  std::string bytes(text, size);
  std::free(text);
  return bytes;
}

std::string greymap(const std::vector<unsigned char>& raster, const Shape& s) {
  return "P5\n" + std::to_string(s.columns) + " " + std::to_string(s.rows) + "\n255\n" +
         std::string(raster.begin(), raster.end());
}

struct Binariseur {
  binariseur* b;
  ~Binariseur() { detruire_binariseur(b); }
};

// Fed `band` rows at a time (both passes), into bytes or bits: the rows as they come out.
std::string banded(const parametres_binarisation& m, const Shape& s,
                   const std::vector<unsigned char>& in, int band, bool bits) {
  statut_image status = IMAGE_PARAMETRE_INVALIDE;
  const Binariseur b{creer_binariseur(&m, s.rows, s.columns, &status)};
  EXPECT_EQ(status, IMAGE_OK);
  if (b.b == nullptr) return "";
  const std::size_t width = static_cast<std::size_t>(s.columns);
  const std::size_t out_width = bits ? (width + 7) / 8 : width;
  for (int pass = 1; pass < binariseur_passes(b.b); ++pass) {
    for (int y = 0; y < s.rows; y += band) {
      EXPECT_EQ(binariseur_statistiques(b.b, in.data() + y * width, std::min(band, s.rows - y)),
                IMAGE_OK);
    }
  }
  std::string out;
  // Room for the rows fed and the window's half (auto's at most 90), as the header says; the rest
  // must stay.
  const int half = m.methode == BINARISATION_AUTO ? 90 : m.fenetre / 2;
  std::vector<unsigned char> rows(static_cast<std::size_t>(band + half + 1) * out_width);
  for (int y = 0; y < s.rows; y += band) {
    std::fill(rows.begin(), rows.end(), 0x5a);
    int n = -1;
    const int fed = std::min(band, s.rows - y);
    EXPECT_EQ((bits ? binariseur_lignes_pbm : binariseur_lignes)(b.b, in.data() + y * width, fed,
                                                                 rows.data(), &n),
              IMAGE_OK);
    EXPECT_LE(n, fed + half);
    EXPECT_EQ(rows[static_cast<std::size_t>(n) * out_width], 0x5a) << "written past its rows";
    out.append(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n * out_width));
  }
  return out;
}

// The table: every method, shape and band, against the whole-image function.
TEST(Bands, EqualTheWholeImageFunctions) {
  for (const Shape& s : kShapes) {
    const std::vector<unsigned char> in = page(s, static_cast<unsigned>(s.rows * 7 + s.columns));
    for (const parametres_binarisation& m : kMethods) {
      SCOPED_TRACE(name_of(m) + " on " + std::to_string(s.rows) + " x " +
                   std::to_string(s.columns));
      const std::vector<unsigned char> expected = whole(m, s, in);
      const std::string bytes(expected.begin(), expected.end());
      const std::string packed = file_of(expected, s, true)
                                     .substr(file_of(expected, s, true).size() -
                                             static_cast<std::size_t>(s.rows) *
                                                 ((static_cast<std::size_t>(s.columns) + 7) / 8));
      for (const int band : {1, 7, s.rows}) {
        EXPECT_TRUE(banded(m, s, in, band, false) == bytes) << "band of " << band;
        EXPECT_TRUE(banded(m, s, in, band, true) == packed) << "band of " << band << ", bits";
      }
    }
  }
}

// The bitmap file that binarise_to_file writes of `in`, read from a file in strips of 64 columns
// (a strip budget of 4 KiB) and auto's rows in pieces of 97.
std::string in_strips(const parametres_binarisation& m, const Shape& s,
                      const std::vector<unsigned char>& in, const TempDir& dir) {
  write_file(dir / "in.pgm", greymap(in, s));
  imagefiles::detail::StreamOptions options;
  options.strip_budget = 4096;
  options.piece = 97;
  std::FILE* input = std::fopen((dir / "in.pgm").c_str(), "rb");
  EXPECT_NE(input, nullptr);
  if (input == nullptr) return "";
  EXPECT_EQ(imagefiles::detail::binarise_to_file(input, &m, true, (dir / "out").c_str(), options),
            IMAGE_OK);
  std::fclose(input);
  return read_file(dir / "out");
}

// auto on blurred pages without noise, where each stroke's edge is found from its own bottom (up
// to a stroke width away, over the rows above and below): streamed as the whole-image function
// decides it, at two sizes of strokes.
TEST(Bands, BlurredPagesStreamAsWhole) {
  const parametres_binarisation m{BINARISATION_AUTO, 0, 0, 0};
  for (const int width : {4, 12}) {
    const Shape s{30 * width, 70 * width + 13};
    std::vector<double> drawn;
    for (int y = 0; y < s.rows; ++y) {
      for (int x = 0; x < s.columns; ++x) {
        const bool ink = (x / width) % 6 == 0 && (y / width) % 5 != 0;
        const bool thin = (x + 3 * y) % (12 * width) < width / 2;
        drawn.push_back(ink ? 30 : thin ? 120 : 220);
      }
    }
    // A box blur of a stroke's width, across then down, the edges repeated.
    std::vector<double> across(drawn.size()), down(drawn.size());
    const auto at = [&s](int y, int x) {
      return static_cast<std::size_t>(std::clamp(y, 0, s.rows - 1)) * s.columns +
             std::clamp(x, 0, s.columns - 1);
    };
    for (int y = 0; y < s.rows; ++y) {
      for (int x = 0; x < s.columns; ++x) {
        for (int k = -width / 2; k <= width / 2; ++k) across[at(y, x)] += drawn[at(y, x + k)];
      }
    }
    for (int y = 0; y < s.rows; ++y) {
      for (int x = 0; x < s.columns; ++x) {
        for (int k = -width / 2; k <= width / 2; ++k) down[at(y, x)] += across[at(y + k, x)];
      }
    }
    const double n = (width / 2 * 2 + 1) * (width / 2 * 2 + 1);
    std::vector<unsigned char> in;
    for (const double v : down) in.push_back(static_cast<unsigned char>(std::lround(v / n)));
    const std::vector<unsigned char> expected = whole(m, s, in);
    ASSERT_GT(std::count(expected.begin(), expected.end(), 0), 0);
    const std::string bytes(expected.begin(), expected.end());
    for (const int band : {1, 7, s.rows}) {
      EXPECT_TRUE(banded(m, s, in, band, false) == bytes) << width << ", band of " << band;
    }
  }
}

// A strip so long that auto's blocks grow with it (its grid keeps a bounded number of blocks a
// row): streamed, in pieces of rows and in strips, as the whole-image function decides it.
TEST(Bands, AutoOnAStripWiderThanItsGrid) {
  const parametres_binarisation automatic{BINARISATION_AUTO, 0, 0, 0};
  TempDir dir;
  for (const Shape s : {Shape{1, 4000001}, Shape{3, 600001}}) {
    SCOPED_TRACE(std::to_string(s.rows) + " x " + std::to_string(s.columns));
    const std::vector<unsigned char> in = page(s, 5);
    const std::vector<unsigned char> expected = whole(automatic, s, in);
    EXPECT_TRUE(banded(automatic, s, in, 1, false) ==
                std::string(expected.begin(), expected.end()));
    EXPECT_TRUE(in_strips(automatic, s, in, dir) == file_of(expected, s, true));
  }
}

// The running window asked for the sums of runs of a row's columns only (auto skips its paper):
// each run's window sums are those of a window counted sample by sample, the page mirrored at its
// edges, on strips and whole rows, windows wider than the page, runs that touch, runs closer than
// a window, runs at the edges and rows with none.
TEST(Bands, WindowSumsOfRunsAreTheirWindowsSums) {
  using imagefiles::detail::ColumnRun;
  using imagefiles::detail::mirror;
  struct Case {
    int rows, columns, window, first, width;
  };
  const Case cases[] = {{40, 300, 15, 0, 300}, {33, 200, 31, 57, 80}, {25, 150, 15, 120, 30},
                        {9, 20, 41, 0, 20},    {30, 97, 3, 0, 97},    {12, 400, 181, 100, 250}};
  std::uint32_t seed = 12345;
  const auto random = [&](std::uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rows << " x " << c.columns << " window " << c.window
                                      << " strip " << c.first << "+" << c.width);
    std::vector<unsigned char> in(static_cast<std::size_t>(c.rows) * c.columns);
    for (unsigned char& v : in) v = static_cast<unsigned char>(random(256));
    const imagefiles::detail::Strip strip =
        imagefiles::detail::strip_of(c.columns, c.first, c.width, c.window / 2);
    imagefiles::detail::RunningWindow<std::uint32_t> running(c.rows, c.window, strip);
    const auto original = [&](std::int64_t row) {
      return in.data() + row * c.columns + strip.fed_first;
    };
    const int half = c.window / 2;
    for (int y = 0; y < c.rows; ++y) {
      std::vector<ColumnRun> runs;
      for (std::size_t x = random(4) == 0 ? c.width : random(3); x < std::size_t(c.width);) {
        const std::size_t to = std::min<std::size_t>(c.width, x + 1 + random(40));
        runs.push_back({x, to});
        x = to + random(3) * random(30);  // touching, close or far apart
      }
      const auto sums = running.next(y, original, runs.data(), runs.size());
      for (const ColumnRun& run : runs) {
        for (std::size_t x = run.from; x < run.to; ++x) {
          std::uint32_t sum = 0;
          std::uint32_t squares = 0;
          for (int dy = -half; dy <= half; ++dy) {
            for (int dx = -half; dx <= half; ++dx) {
              const std::uint32_t v =
                  in[mirror(y + dy, c.rows) * c.columns +
                     mirror(c.first + static_cast<std::int64_t>(x) + dx, c.columns)];
              sum += v;
              squares += v * v;
            }
          }
          ASSERT_EQ(sums.sums[x + c.window] - sums.sums[x], sum) << "row " << y << " column " << x;
          ASSERT_EQ(sums.squares[x + c.window] - sums.squares[x], squares)
              << "row " << y << " column " << x;
        }
      }
    }
  }
}

// What auto learns of a page, in its passes over the rows, into `learnt`.
void learn(imagefiles::detail::AutoStatistics& learnt, const Shape& s,
           const std::vector<unsigned char>& in) {
  const std::size_t width = static_cast<std::size_t>(s.columns);
  for (int pass = 0; pass < imagefiles::detail::AutoStatistics::passes; ++pass) {
    for (int y = 0; y < s.rows; ++y) {
      if (learnt.wanted(pass, y)) learnt.gather(pass, y, 0, in.data() + y * width, width);
    }
    learnt.end(pass);
  }
}

// auto's decision over the whole page from `statistics` (learnt, or restored).
std::vector<unsigned char> decided_by(const imagefiles::detail::AutoStatistics& statistics,
                                      const Shape& s, const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out(in.size());
  const std::size_t width = static_cast<std::size_t>(s.columns);
  imagefiles::detail::AutoRows rows(statistics, s.rows, imagefiles::detail::whole_row(s.columns));
  int done = 0;
  for (int y = 0; y < s.rows; ++y) {
    rows.feed(in.data() + y * width);
    while (rows.next(out.data() + done * width)) ++done;
  }
  return out;
}

// auto's statistics as bytes (a cluster's workers get them so): restored, they decide the page as
// the whole-image function does; cut, spoilt or made for another page, they are refused or, where
// a spoilt number is still one end() could make, decide without reading outside their grids.
TEST(Bands, AutoStatisticsComeBackWholeOrNotAtAll) {
  using imagefiles::detail::AutoStatistics;
  const Shape s{90, 70};
  const std::vector<unsigned char> in = page(s, 3);
  AutoStatistics learnt(s.rows, s.columns);
  learn(learnt, s, in);
  const std::string saved = learnt.saved();
  AutoStatistics copy(s.rows, s.columns);
  ASSERT_TRUE(copy.restore(saved));
  EXPECT_TRUE(decided_by(copy, s, in) == whole({BINARISATION_AUTO, 0, 0, 0}, s, in));
  EXPECT_FALSE(AutoStatistics(s.rows + 1, s.columns).restore(saved));
  EXPECT_FALSE(AutoStatistics(s.rows, s.columns).restore(saved + '\0'));
  for (std::size_t n = 0; n < saved.size(); ++n) {
    EXPECT_FALSE(AutoStatistics(s.rows, s.columns).restore(saved.substr(0, n))) << n;
  }
  // Every byte changed: the numbers, the paper's grid and the noise's.
  for (std::size_t at = 0; at < saved.size(); ++at) {
    std::string spoilt = saved;
    spoilt[at] = static_cast<char>(spoilt[at] ^ 0x41);
    AutoStatistics t(s.rows, s.columns);
    if (t.restore(spoilt)) decided_by(t, s, in);
  }
}

// Small pages under light falling to the corners, where auto's paper follows the light's curve
// beyond its outer blocks: fed in bands, read in strips of 64 columns and decided from saved
// statistics, as the whole-image function decides them (the curve comes from the whole grid,
// never from a band or a strip).
TEST(Bands, VignettedSmallPagesStreamAsWhole) {
  const parametres_binarisation automatic{BINARISATION_AUTO, 0, 0, 0};
  TempDir dir;
  for (const Shape s : {Shape{60, 80}, Shape{112, 84}, Shape{168, 224}, Shape{224, 168}}) {
    SCOPED_TRACE(std::to_string(s.rows) + " x " + std::to_string(s.columns));
    // Paper 220 falling to 0.3 of it at the corners, strokes at half the paper in the middle
    // fifth of the rows and half of the columns, noise of -4 to 3.
    std::vector<unsigned char> in;
    unsigned seed = static_cast<unsigned>(s.rows * 3 + s.columns);
    for (int y = 0; y < s.rows; ++y) {
      for (int x = 0; x < s.columns; ++x) {
        seed = seed * 1103515245u + 12345u;
        const double dy = (y - s.rows / 2.0) / (s.rows / 2.0);
        const double dx = (x - s.columns / 2.0) / (s.columns / 2.0);
        const double light = 1 - 0.7 * (dx * dx + dy * dy) / 2;
        const bool word = 5 * y >= 2 * s.rows && 5 * y < 3 * s.rows && 4 * x >= s.columns &&
                          4 * x < 3 * s.columns && ((x / 2) % 3 == 0 || (y / 2) % 4 == 0);
        const double value = 220 * light * (word ? 0.5 : 1) + static_cast<int>(seed >> 29) - 4;
        in.push_back(static_cast<unsigned char>(std::clamp(std::lround(value), 0L, 255L)));
      }
    }
    imagefiles::detail::AutoStatistics learnt(s.rows, s.columns);
    learn(learnt, s, in);
    ASSERT_TRUE(learnt.curved());  // the page this test is for
    const std::vector<unsigned char> expected = whole(automatic, s, in);
    ASSERT_GT(std::count(expected.begin(), expected.end(), 0), 0);
    const std::string bytes(expected.begin(), expected.end());
    for (const int band : {1, 7, s.rows}) {
      EXPECT_TRUE(banded(automatic, s, in, band, false) == bytes) << "band of " << band;
    }
    EXPECT_TRUE(in_strips(automatic, s, in, dir) == file_of(expected, s, true)) << "in strips";
    imagefiles::detail::AutoStatistics restored(s.rows, s.columns);
    ASSERT_TRUE(restored.restore(learnt.saved()));
    EXPECT_TRUE(decided_by(restored, s, in) == expected) << "from saved statistics";
  }
}

// The stream functions: from a file (in one strip, and in strips of 64 columns and more), and
// from a stream that cannot be read twice, into files and streams, greymaps and bitmaps.
TEST(Bands, StreamsEqualTheWholeImageFunctions) {
  TempDir dir;
  for (const Shape& s : kShapes) {
    const std::vector<unsigned char> in = page(s, static_cast<unsigned>(s.rows + s.columns));
    write_file(dir / "in.pgm", greymap(in, s));
    for (const parametres_binarisation& m : kMethods) {
      SCOPED_TRACE(name_of(m) + " on " + std::to_string(s.rows) + " x " +
                   std::to_string(s.columns));
      const std::vector<unsigned char> expected = whole(m, s, in);
      for (const bool bits : {false, true}) {
        const std::string want = file_of(expected, s, bits);
        for (const std::size_t budget : {std::size_t{4} << 20, std::size_t{4096}}) {
          imagefiles::detail::StreamOptions options;
          options.strip_budget = budget;
          options.piece = budget == 4096 ? 97 : options.piece;  // auto's rows in pieces, too
          std::FILE* input = std::fopen((dir / "in.pgm").c_str(), "rb");
          ASSERT_NE(input, nullptr);
          EXPECT_EQ(
              imagefiles::detail::binarise_to_file(input, &m, bits, (dir / "out").c_str(), options),
              IMAGE_OK);
          std::fclose(input);
          EXPECT_TRUE(read_file(dir / "out") == want) << "budget " << budget << ", bits " << bits;
        }
        // A stream in memory cannot be read twice: the two-pass methods copy it first.
        const std::string file = greymap(in, s);
        std::FILE* input = fmemopen(const_cast<char*>(file.data()), file.size(), "rb");
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* output = open_memstream(&text, &size);
        EXPECT_EQ(binariser_flux_vers_flux(input, &m, bits, output), IMAGE_OK);
        std::fclose(input);
        std::fclose(output);
        EXPECT_TRUE(std::string(text, size) == want) << "from a stream, bits " << bits;
        std::free(text);
      }
    }
  }
}

// Misuse is a status, with nothing written.
TEST(Bands, RefuseMisuse) {
  const parametres_binarisation sauvola{BINARISATION_SAUVOLA, 0, 15, 0.2};
  const parametres_binarisation otsu{BINARISATION_OTSU, 0, 0, 0};
  parametres_binarisation bad[] = {{BINARISATION_SAUVOLA, 0, 14, 0.2},
                                   {BINARISATION_WOLF, 0, 1, 0.5},
                                   {BINARISATION_SAUVOLA, 0, 15, 0.2}};
  // An unknown method, stored as a C caller may store it (C++ may not convert 9 to the enum).
  const int unknown = 9;
  std::memcpy(&bad[2].methode, &unknown, sizeof unknown);
  statut_image status = IMAGE_OK;
  for (const parametres_binarisation& m : bad) {
    EXPECT_EQ(creer_binariseur(&m, 4, 4, &status), nullptr);
    EXPECT_EQ(status, IMAGE_PARAMETRE_INVALIDE);
  }
  EXPECT_EQ(creer_binariseur(nullptr, 4, 4, &status), nullptr);
  EXPECT_EQ(status, IMAGE_PARAMETRE_INVALIDE);
  EXPECT_EQ(creer_binariseur(&sauvola, 0, 4, &status), nullptr);
  EXPECT_EQ(status, IMAGE_TAILLE_HORS_LIMITES);
  // A page of 2^31 bytes is taken now: see the table of pages beyond 2 GB below.

  const std::vector<unsigned char> rows(5 * 4, 100);
  std::vector<unsigned char> out(16, 7);
  int n = -1;
  const Binariseur one{creer_binariseur(&sauvola, 4, 4, &status)};
  EXPECT_EQ(binariseur_passes(one.b), 1);
  EXPECT_EQ(binariseur_statistiques(one.b, rows.data(), 1), IMAGE_PARAMETRE_INVALIDE);
  EXPECT_EQ(binariseur_lignes(one.b, rows.data(), 5, out.data(), &n), IMAGE_PARAMETRE_INVALIDE);
  EXPECT_EQ(n, 0);
  const Binariseur two{creer_binariseur(&otsu, 4, 4, &status)};
  EXPECT_EQ(binariseur_passes(two.b), 2);
  EXPECT_EQ(binariseur_lignes(two.b, rows.data(), 1, out.data(), &n), IMAGE_PARAMETRE_INVALIDE);
  EXPECT_EQ(binariseur_statistiques(two.b, rows.data(), 5), IMAGE_PARAMETRE_INVALIDE);
  EXPECT_EQ(out, std::vector<unsigned char>(16, 7));
  EXPECT_EQ(binariseur_passes(nullptr), 0);
  detruire_binariseur(nullptr);
}

// A fault in the middle of a stream into a file: the old output stays whole, nothing is left
// beside it. Each row: a method, strips or not, and what happens before a block of rows.
TEST(Bands, FaultsLeaveTheOldOutputWhole) {
  const Shape s{60, 200};
  const std::vector<unsigned char> in = page(s, 5);
  const parametres_binarisation otsu{BINARISATION_OTSU, 0, 0, 0};
  const parametres_binarisation wolf{BINARISATION_WOLF, 0, 15, 0.5};
  const parametres_binarisation sauvola{BINARISATION_SAUVOLA, 0, 15, 0.2};
  enum Fault { cut, rewritten, grown, size_limit, interrupted };
  struct Case {
    const char* name;
    parametres_binarisation method;
    std::size_t budget;
    Fault fault;
    int pass;
    statut_image expected;  // for the faults that return
  } cases[] = {
      {"otsu, file cut between the passes", otsu, 4 << 20, cut, 2, IMAGE_ERREUR_DE_LECTURE},
      {"wolf, file cut in the first pass", wolf, 4 << 20, cut, 1, IMAGE_ERREUR_DE_LECTURE},
      {"wolf in strips, file cut", wolf, 4096, cut, 2, IMAGE_ERREUR_DE_LECTURE},
      {"otsu, same size rewritten", otsu, 4 << 20, rewritten, 2, IMAGE_ERREUR_DE_LECTURE},
      {"wolf in strips, rewritten", wolf, 4096, rewritten, 2, IMAGE_ERREUR_DE_LECTURE},
      {"wolf, file grown", wolf, 4 << 20, grown, 2, IMAGE_ERREUR_DE_LECTURE},
      {"sauvola, size limit", sauvola, 4 << 20, size_limit, 2, IMAGE_ERREUR_D_ECRITURE},
      {"sauvola in strips, size limit", sauvola, 4096, size_limit, 2, IMAGE_ERREUR_D_ECRITURE},
      {"otsu, size limit", otsu, 4 << 20, size_limit, 2, IMAGE_ERREUR_D_ECRITURE},
      {"sauvola, interrupted", sauvola, 4 << 20, interrupted, 2, IMAGE_OK},
      {"wolf in strips, interrupted", wolf, 4096, interrupted, 2, IMAGE_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string input = dir / "in.pgm";
    const std::string output = dir / "out.pgm";
    write_file(input, greymap(in, s));
    const std::string old(5000, 'o');
    write_file(output, old);
    const Outcome outcome = run_in_child([&] {
      imagefiles::detail::StreamOptions options;
      options.strip_budget = c.budget;
      bool done = false;
      options.at_row = [&](int pass, int row) {
        // Once, at the pass's first block of rows, or a third of the way down a strip.
        if (done || pass != c.pass || (row != 0 && row != 20)) return;
        done = true;
        switch (c.fault) {
          case cut:
            truncate(input.c_str(), 1000);
            break;
          case rewritten: {
            // The same size, other samples, a moment later: another file's content.
            usleep(20000);
            std::FILE* f = std::fopen(input.c_str(), "r+b");
            std::fseek(f, 100, SEEK_SET);
            std::fputc(3, f);
            std::fclose(f);
            break;
          }
          case grown: {
            std::FILE* f = std::fopen(input.c_str(), "ab");
            std::fputs("more", f);
            std::fclose(f);
            break;
          }
          case size_limit: {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{3000, 3000};
            setrlimit(RLIMIT_FSIZE, &limit);
            break;
          }
          case interrupted:
            raise(SIGINT);
            break;
        }
      };
      std::FILE* stream = std::fopen(input.c_str(), "rb");
      const statut_image status =
          imagefiles::detail::binarise_to_file(stream, &c.method, false, output.c_str(), options);
      std::fclose(stream);
      std::_Exit(status);
    });
    if (c.fault == interrupted) {
      EXPECT_EQ(outcome.status, 128 + SIGINT);
    } else {
      EXPECT_EQ(outcome.status, c.expected);
    }
    EXPECT_EQ(read_file(output), old);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.pgm", "out.pgm"}));
  }
}

}  // namespace

namespace {

using testing_support::TempDir;

std::string contents(std::FILE* stream) {
  std::string bytes;
  std::rewind(stream);
  for (int c; (c = std::getc(stream)) != EOF;) bytes.push_back(static_cast<char>(c));
  return bytes;
}

// Pages beyond 2^31 - 1 bytes: the stream functions and the binariseur hold rows, and take a page
// whose rows fit; the whole-image readers keep the limit of what they hold. No page is allocated:
// the files are sparse, the streams end after 40 rows, the file's run is cut short.
TEST(BandsTest, PagesBeyondTwoGigabytesStreamButAreNotHeld) {
  struct Case {
    std::int64_t rows;
    std::int64_t columns;
    bool streamed;  // by lire_entete_flux_pgm, the binariseur and the stream functions
    bool held;      // by the whole-image readers
  };
  const Case cases[] = {
      {65535, 32768, true, true},             // 2^31 - 32768 bytes
      {1, 2147483647, true, true},            // the widest row
      {32768, 65536, true, false},            // 2^31 bytes
      {32768, 65537, true, false},            // just beyond, not a power of two
      {60000, 60000, true, false},            // 3.6 GB
      {2, 2147483647, true, false},           // two of the widest rows
      {2147483647, 2147483647, true, false},  // 2^62 bytes, exact in 64 bits
      {2147483648, 1, false, false},          // a dimension beyond an int
      {1, 2147483648, false, false},
  };
  const parametres_binarisation fixed{BINARISATION_SEUIL, 128, 0, 0};
  const parametres_binarisation sauvola{BINARISATION_SAUVOLA, 0, 15, 0.2};
  const parametres_binarisation automatic{BINARISATION_AUTO, 0, 0, 0};
  for (const Case& c : cases) {
    std::string header =
        "P5\n" + std::to_string(c.columns) + " " + std::to_string(c.rows) + "\n255\n";
    SCOPED_TRACE(header);
    const statut_image streamed = c.streamed ? IMAGE_OK : IMAGE_TAILLE_HORS_LIMITES;
    TempDir dir;
    const std::string path = dir / "page.pgm";
    write_file(path, header);
    // The page's whole size without a block on the disk, where the file system allows the size.
    (void)truncate(path.c_str(),
                   static_cast<off_t>(std::min<std::uint64_t>(
                       header.size() + std::uint64_t(c.rows) * c.columns, std::uint64_t{1} << 50)));

    // Held whole: refused from the header on.
    unsigned char small[16];
    int rows = -1;
    int columns = -1;
    EXPECT_EQ(lire_entete_image_pgm(path.c_str(), &rows, &columns, nullptr),
              c.held ? IMAGE_OK : IMAGE_TAILLE_HORS_LIMITES);
    EXPECT_EQ(charger_image_pgm(path.c_str(), small, sizeof small, &rows, &columns, nullptr),
              c.held ? IMAGE_TAMPON_TROP_PETIT : IMAGE_TAILLE_HORS_LIMITES);

    // In bands: the stream's header.
    rows = columns = -1;
    std::FILE* h = fmemopen(header.data(), header.size(), "rb");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(lire_entete_flux_pgm(h, &rows, &columns, nullptr), streamed);
    std::fclose(h);
    EXPECT_EQ(rows, c.streamed ? c.rows : -1);
    EXPECT_EQ(columns, c.streamed ? c.columns : -1);
    if (c.rows > INT_MAX || c.columns > INT_MAX) continue;  // not an int for the binariseur
    ASSERT_TRUE(c.streamed);                                // every other page of the table is
    statut_image status = IMAGE_OK;
    detruire_binariseur(creer_binariseur(&fixed, int(c.rows), int(c.columns), &status));
    EXPECT_EQ(status, streamed);
    if (c.columns > 65537) continue;  // below, rows are held: a few of them at most 64 KiB each
    for (const parametres_binarisation& rows_held : {sauvola, automatic}) {
      detruire_binariseur(creer_binariseur(&rows_held, int(c.rows), int(c.columns), &status));
      EXPECT_EQ(status, streamed);
    }

    // A stream of the page that ends after 40 rows: the rows decided by then come out as the
    // whole-image function decides them, then the read error.
    const Shape forty{40, int(c.columns)};
    const std::vector<unsigned char> samples = page(forty, 3);
    std::string cut = header + std::string(samples.begin(), samples.end());
    std::FILE* in = fmemopen(cut.data(), cut.size(), "rb");
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(in != nullptr && out != nullptr);
    EXPECT_EQ(binariser_flux_vers_flux(in, &fixed, 1, out), IMAGE_ERREUR_DE_LECTURE);
    const std::string got = contents(out);
    std::fclose(in);
    std::fclose(out);
    {
      std::FILE* reference = std::tmpfile();
      ASSERT_NE(reference, nullptr);
      const std::vector<unsigned char> decided = whole(fixed, forty, samples);
      ASSERT_EQ(enregistrer_flux_pbm(reference, decided.data(), 40, int(c.columns)), IMAGE_OK);
      const std::string bits = contents(reference);
      std::fclose(reference);
      const std::string page_header =
          "P4\r" + std::to_string(c.columns) + " " + std::to_string(c.rows) + "\r";
      const std::string forty_header = "P4\r" + std::to_string(c.columns) + " 40\r";
      ASSERT_EQ(got.compare(0, page_header.size(), page_header), 0);
      const std::string body = got.substr(page_header.size());
      const std::size_t stride = (std::size_t(c.columns) + 7) / 8;
      EXPECT_GT(body.size(), 0u);
      EXPECT_LT(body.size(), 40 * stride);
      EXPECT_EQ(body.size() % stride, 0u);
      EXPECT_EQ(body, bits.substr(forty_header.size(), body.size()));
    }

    // The sparse file into a file, cut short after its first block of rows: a read error and no
    // output.
    imagefiles::detail::StreamOptions options;
    options.at_row = [&](int, int row) {
      if (row > 0) (void)truncate(path.c_str(), off_t(header.size()) + 5 * off_t(c.columns));
    };
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(imagefiles::detail::binarise_to_file(file, &sauvola, true, (dir / "out.pbm").c_str(),
                                                   options),
              IMAGE_ERREUR_DE_LECTURE);
    std::fclose(file);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"page.pgm"});
  }
}

}  // namespace
