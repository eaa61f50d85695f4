// The binarisation methods against their references (OpenCV's Otsu, scikit-image's local
// thresholds), their bad arguments, and seuiller's use of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

struct Picture {
  std::string name;
  int rows;
  int columns;
  std::vector<unsigned char> pixels;
};

// Test pictures: smooth, noisy, two-valued, uniform, and smaller than the windows.
std::vector<Picture> pictures() {
  std::vector<Picture> all;
  const auto add = [&](std::string name, int rows, int columns, auto value) {
    Picture p{std::move(name), rows, columns, {}};
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) p.pixels.push_back(static_cast<unsigned char>(value(y, x)));
    }
    all.push_back(std::move(p));
  };
  std::uint32_t seed = 12345;
  const auto noise = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 24; };
  add("gradient", 48, 64, [](int y, int x) { return (x * 4 + y) % 256; });
  add("noise", 61, 97, [&](int, int) { return noise(); });
  // Dark strokes on a page lit unevenly, with a little noise: what the methods are for.
  add("page", 90, 130, [&](int y, int x) {
    const int light = 120 + x + y / 2;
    const bool ink = (x / 3) % 5 == 0 && (y / 9) % 2 == 0;
    return std::min(255, (ink ? light / 3 : light) + static_cast<int>(noise() % 9));
  });
  add("two-valued", 30, 40, [](int y, int x) { return (x / 5 + y / 5) % 2 ? 200 : 10; });
  add("uniform", 20, 20, [](int, int) { return 77; });
  add("1x1", 1, 1, [](int, int) { return 99; });
  add("1x17", 1, 17, [&](int, int) { return noise(); });
  add("17x1", 17, 1, [&](int, int) { return noise(); });
  add("2x3", 2, 3, [&](int, int) { return noise(); });
  add("6x5", 6, 5, [&](int, int) { return noise(); });
  Picture sample{"sample", 200, 320, std::vector<unsigned char>(200 * 320)};
  int rows = 0;
  int columns = 0;
  EXPECT_EQ(charger_image_pgm(SAMPLE_PATH, sample.pixels.data(), sample.pixels.size(), &rows,
                              &columns, nullptr),
            IMAGE_OK);
  all.push_back(std::move(sample));
  return all;
}

using Local = statut_image (*)(unsigned char*, const unsigned char*, int, int, int, double);

struct Method {
  std::string name;
  Local function;  // null for Otsu
  int window;
  double k;
};

const std::vector<Method> kMethods = {
    {"otsu", nullptr, 0, 0},
    {"sauvola", binariser_sauvola, 15, 0.2},
    {"sauvola", binariser_sauvola, 3, 0.5},
    {"sauvola", binariser_sauvola, 75, 0.34},
    {"sauvola", binariser_sauvola, 301, 0.2},  // 64-bit sums
    {"niblack", binariser_niblack, 15, 0.2},
    {"niblack", binariser_niblack, 5, -0.3},
    {"wolf", binariser_wolf, 15, 0.5},
    {"wolf", binariser_wolf, 9, 0.2},
};

std::vector<unsigned char> ours(const Method& m, const Picture& p) {
  std::vector<unsigned char> out(p.pixels.size(), 7);
  if (m.function == nullptr) {
    binariser(out.data(), p.pixels.data(), p.pixels.size(),
              calculer_seuil_otsu(p.pixels.data(), p.pixels.size()));
  } else {
    EXPECT_EQ(m.function(out.data(), p.pixels.data(), p.rows, p.columns, m.window, m.k), IMAGE_OK);
  }
  return out;
}

std::string pgm(const Picture& p) {
  return "P5\n" + std::to_string(p.columns) + " " + std::to_string(p.rows) + "\n255\n" +
         std::string(p.pixels.begin(), p.pixels.end());
}

// Whether OpenCV and scikit-image are installed; under CI their absence is a failure.
bool references_present() {
  return python_modules_present("cv2, skimage");
}

// The reference script on `jobs` (one a line); its output holds OpenCV's Otsu levels.
Outcome run_references(const TempDir& dir, const std::string& jobs) {
  write_file(dir / "jobs", jobs);
  return run_command(
      {"/bin/sh", "-c", "/usr/bin/python3 \"$0\" < \"$1\"", REFERENCE_SCRIPT, dir / "jobs"});
}

// Every method on every picture, in place and not, against the reference of the same window and
// k (a pixel within 1e-9 of its threshold may go either way); Otsu's level too.
TEST(Thresholds, EqualTheReferences) {
  if (!references_present()) GTEST_SKIP() << "python3-opencv or python3-skimage not installed";
  TempDir dir;
  const std::vector<Picture> all = pictures();
  std::ostringstream jobs;
  for (std::size_t p = 0; p < all.size(); ++p) {
    write_file(dir / (all[p].name + ".pgm"), pgm(all[p]));
    for (std::size_t m = 0; m < kMethods.size(); ++m) {
      jobs << kMethods[m].name << ' ' << kMethods[m].window << ' ' << kMethods[m].k << ' '
           << dir / (all[p].name + ".pgm") << ' ' << dir / (std::to_string(p * 100 + m) + ".pgm")
           << '\n';
    }
  }
  const Outcome reference = run_references(dir, jobs.str());
  ASSERT_EQ(reference.status, 0) << reference.err;
  std::istringstream otsu_levels(reference.out);
  for (std::size_t p = 0; p < all.size(); ++p) {
    for (std::size_t m = 0; m < kMethods.size(); ++m) {
      const Method& method = kMethods[m];
      const Picture& picture = all[p];
      SCOPED_TRACE(method.name + " " + std::to_string(method.window) + " on " + picture.name);
      const std::string file = read_file(dir / (std::to_string(p * 100 + m) + ".pgm"));
      const std::string expected = file.substr(file.size() - picture.pixels.size());
      const std::vector<unsigned char> got = ours(method, picture);
      int differ = 0;
      for (std::size_t i = 0; i < got.size(); ++i) {
        const auto want = static_cast<unsigned char>(expected[i]);
        differ += want != 128 && got[i] != want;
      }
      EXPECT_EQ(differ, 0);
      std::vector<unsigned char> in_place = picture.pixels;
      if (method.function == nullptr) {
        int level = 0;
        otsu_levels >> level;
        EXPECT_EQ(calculer_seuil_otsu(picture.pixels.data(), picture.pixels.size()), level + 1);
        binariser(in_place.data(), in_place.data(), in_place.size(), level + 1);
      } else {
        EXPECT_EQ(method.function(in_place.data(), in_place.data(), picture.rows, picture.columns,
                                  method.window, method.k),
                  IMAGE_OK);
      }
      EXPECT_EQ(in_place, got);
    }
  }
}

// Otsu on two-valued images where one value is one pixel in about 2^23: OpenCV skips a level that
// leaves less than FLT_EPSILON of the pixels on one side, and so must we (the header says when).
TEST(Thresholds, OtsuOfARareValueIsOpenCVs) {
  if (!references_present()) GTEST_SKIP() << "python3-opencv or python3-skimage not installed";
  struct Case {
    const char* name;
    int rows, columns, rare;
    unsigned char common, other;
    bool splits;  // the header's statement: lower value plus one, or 1
  } cases[] = {
      {"one light pixel in 8,392,704", 2049, 4096, 1, 100, 200, false},
      {"one dark pixel in 8,392,704", 2049, 4096, 1, 200, 100, false},
      {"two light pixels in 8,392,704", 2049, 4096, 2, 100, 200, true},
      {"one light pixel in 4,194,304", 2048, 2048, 1, 100, 200, true},
  };
  TempDir dir;
  std::vector<Picture> all;
  std::ostringstream jobs;
  for (const Case& c : cases) {
    Picture p{c.name, c.rows, c.columns,
              std::vector<unsigned char>(std::size_t(c.rows) * c.columns, c.common)};
    for (int i = 0; i < c.rare; ++i) p.pixels[p.pixels.size() / 3 + std::size_t(i) * 977] = c.other;
    const std::string n = std::to_string(all.size());
    write_file(dir / (n + ".pgm"), pgm(p));
    jobs << "otsu 0 0 " << dir / (n + ".pgm") << ' ' << dir / (n + ".out.pgm") << '\n';
    all.push_back(std::move(p));
  }
  const Outcome reference = run_references(dir, jobs.str());
  ASSERT_EQ(reference.status, 0) << reference.err;
  std::istringstream levels(reference.out);
  for (std::size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE(all[i].name);
    int level = -1;
    ASSERT_TRUE(levels >> level);
    const int ours = calculer_seuil_otsu(all[i].pixels.data(), all[i].pixels.size());
    EXPECT_EQ(ours, level + 1);
    const int lower = std::min(cases[i].common, cases[i].other);
    EXPECT_EQ(ours, cases[i].splits ? lower + 1 : 1);
    const std::string file = read_file(dir / (std::to_string(i) + ".out.pgm"));
    std::vector<unsigned char> out(all[i].pixels.size());
    binariser(out.data(), all[i].pixels.data(), out.size(), ours);
    EXPECT_TRUE(
        std::equal(out.begin(), out.end(), file.end() - std::ptrdiff_t(out.size()),
                   [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }));
  }
}

// Rasters beyond the caches take another loop (non-temporal stores): the same rule, at every
// offset of the output against the vector width.
TEST(Thresholds, LargeRastersKeepTheFixedRule) {
  const std::size_t count = (std::size_t{9} << 20) + 77;
  std::vector<unsigned char> image(count + 64);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<unsigned char>(i * 7 + i / 251);
  std::vector<unsigned char> out(count + 64);
  for (const std::size_t offset : {0, 1, 63}) {
    for (const int level : {0, 1, 128, 255}) {
      binariser(out.data() + offset, image.data(), count, level);
      std::vector<unsigned char> in_place(image.begin(), image.begin() + count);
      binariser(in_place.data(), in_place.data(), count, level);
      std::size_t wrong = 0;
      for (std::size_t i = 0; i < count; ++i) {
        const unsigned char want = image[i] >= level ? 255 : 0;
        wrong += (out[offset + i] != want) + (in_place[i] != want);
      }
      EXPECT_EQ(wrong, 0u) << "offset " << offset << ", level " << level;
    }
  }
}

// The automatic method in place writes what it writes beside the image; a uniform page is white.
TEST(Thresholds, AutoInPlaceEqualsOutOfPlace) {
  for (const Picture& p : pictures()) {
    std::vector<unsigned char> out(p.pixels.size(), 7);
    ASSERT_EQ(binariser_auto(out.data(), p.pixels.data(), p.rows, p.columns), IMAGE_OK) << p.name;
    std::vector<unsigned char> in_place = p.pixels;
    ASSERT_EQ(binariser_auto(in_place.data(), in_place.data(), p.rows, p.columns), IMAGE_OK);
    EXPECT_EQ(in_place, out) << p.name;
    for (const unsigned char v : out) ASSERT_TRUE(v == 0 || v == 255) << p.name;
    if (p.name == "uniform") {
      EXPECT_EQ(out, std::vector<unsigned char>(out.size(), 255));
    }
  }
}

// A bad argument is a status, and the output is left untouched.
TEST(Thresholds, RefuseBadArguments) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<unsigned char> image(64, 100);
  std::vector<unsigned char> out(64, 7);
  struct Case {
    unsigned char* out;
    const unsigned char* image;
    int rows, columns, window;
    double k;
    statut_image expected;
  } cases[] = {
      {out.data(), image.data(), 8, 8, 15, 0.2, IMAGE_OK},
      {out.data(), image.data(), 8, 8, 1, 0.2, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), image.data(), 8, 8, 14, 0.2, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), image.data(), 8, 8, -3, 0.2, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), image.data(), 8, 8, 65537, 0.2, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), image.data(), 8, 8, 15, nan, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), image.data(), 8, 8, 15, -inf, IMAGE_PARAMETRE_INVALIDE},
      {nullptr, image.data(), 8, 8, 15, 0.2, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), nullptr, 8, 8, 15, 0.2, IMAGE_PARAMETRE_INVALIDE},
      {out.data(), image.data(), 0, 8, 15, 0.2, IMAGE_TAILLE_HORS_LIMITES},
      {out.data(), image.data(), 8, -1, 15, 0.2, IMAGE_TAILLE_HORS_LIMITES},
      {out.data(), image.data(), 65536, 32768, 15, 0.2, IMAGE_TAILLE_HORS_LIMITES},
  };
  for (const Local function : {binariser_sauvola, binariser_niblack, binariser_wolf}) {
    for (const Case& c : cases) {
      std::fill(out.begin(), out.end(), 7);
      EXPECT_EQ(function(c.out, c.image, c.rows, c.columns, c.window, c.k), c.expected)
          << c.rows << " x " << c.columns << ", window " << c.window << ", k " << c.k;
      if (c.expected != IMAGE_OK) {
        EXPECT_EQ(out, std::vector<unsigned char>(64, 7));
      }
    }
  }
  // The automatic method takes no window nor k: the rest of the table.
  for (const Case& c : cases) {
    if (c.window != 15 || std::isnan(c.k) || std::isinf(c.k)) continue;
    std::fill(out.begin(), out.end(), 7);
    EXPECT_EQ(binariser_auto(c.out, c.image, c.rows, c.columns), c.expected)
        << "auto, " << c.rows << " x " << c.columns;
  }
  EXPECT_EQ(calculer_seuil_otsu(nullptr, 10), 1);
  binariser(nullptr, image.data(), 64, 128);  // nothing to do, and no crash
}

}  // namespace
