// The status-returning functions: strict headers, the caller's capacity, writing, and the texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <imagefiles/imagefiles.h>

#include "support.h"

namespace {

using namespace testing_support;

struct HeaderCase {
  std::string header;  // followed by kRaster, unless the header itself is cut short
  statut_image greymap;
  statut_image colour;  // the same header with P6 in place of P5, where it starts with P5
  int rows = 0;         // where the header itself is right
  int columns = 0;
  int maximum = 0;
  bool samples_above = false;  // the header is right, the raster holds samples above its maximum
};

const std::string kRaster = "abcdefghijklmnopqrstuvwx";  // 24 bytes

TEST(StrictReading, AcceptsOnlyExactEightBitHeaders) {
  constexpr statut_image ok = IMAGE_OK;
  constexpr statut_image short_file = IMAGE_ERREUR_DE_LECTURE;
  const std::vector<HeaderCase> cases = {
      {"P5\n3 2\n255\n", ok, ok, 2, 3, 255},
      {"P5\r3 2\r255\r", ok, ok, 2, 3, 255},  // what the library writes
      {"P5 3 2 255 ", ok, ok, 2, 3, 255},
      {"P53 2\t255\t", ok, ok, 2, 3, 255},  // nothing needed after the magic
      {"P5\n# one\n#two\r3 # three\n2\n# four\n15\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM, 2, 3, 15,
       true},  // 'a' is above 15
      {"P5#x\n003 002 001\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM, 2, 3, 1, true},
      {"P5\n3 2\n255\r\n", ok, ok, 2, 3, 255},  // the line feed is the first raster byte
      {"P5\n1 1\n255\n", ok, ok, 1, 1, 255},    // bytes after the raster are allowed
      {"", short_file, short_file},
      {"P", short_file, short_file},
      {"P5", short_file, short_file},
      {"P5\n3 2\n255", short_file, short_file},
      {"P5\n# no end", short_file, short_file},
      {"P5\n4 6\n255\n", ok, short_file, 6, 4, 255},  // 24 bytes: enough for a greymap only
      {"P2\n3 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P7\n3 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"p5\n3 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n+3 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n-3 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3x2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3 2\n255x", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3 2\n255#c\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},  // no comment after the maximum
      {"P5\v3 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n0 2\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3 0\n255\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3 2\n0\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3 2\n65536\n", IMAGE_PAS_PGM, IMAGE_PAS_PPM},
      {"P5\n3 2\n256\n", IMAGE_16_BITS, IMAGE_16_BITS},
      {"P5\n3 2\n65535\n", IMAGE_16_BITS, IMAGE_16_BITS},
      {"P5\n65536 32768\n255\n", IMAGE_TAILLE_HORS_LIMITES, IMAGE_TAILLE_HORS_LIMITES},
      {"P5\n2147483647 1\n255\n", IMAGE_TAMPON_TROP_PETIT, IMAGE_TAILLE_HORS_LIMITES, 1, 2147483647,
       255},
      {"P5\n99999999999 1\n255\n", IMAGE_TAILLE_HORS_LIMITES, IMAGE_TAILLE_HORS_LIMITES},
  };
  TempDir dir;
  for (const HeaderCase& c : cases) {
    std::string colour = c.header;
    if (colour.compare(0, 2, "P5") == 0) colour[1] = '6';
    for (const bool is_colour : {false, true}) {
      const std::string path = dir / "image";
      const statut_image expected = is_colour ? c.colour : c.greymap;
      const bool cut_in_header = expected == short_file && c.rows == 0;
      write_file(path, (is_colour ? colour : c.header) + (cut_in_header ? "" : kRaster));
      constexpr std::size_t capacity = 72;  // room for every raster of the table but one
      std::vector<unsigned char> buffer(capacity + 1, '*');
      int rows = -1;
      int columns = -1;
      int maximum = -1;
      const statut_image loaded = (is_colour ? charger_image_ppm : charger_image_pgm)(
          path.c_str(), buffer.data(), capacity, &rows, &columns, &maximum);
      EXPECT_EQ(loaded, expected) << c.header << (is_colour ? " as colour" : "");
      EXPECT_EQ(buffer.back(), '*');  // never past the capacity
      // The header alone is judged the same way, but for the raster: the failures where the case
      // gives dimensions.
      const statut_image header = (is_colour ? lire_entete_image_ppm : lire_entete_image_pgm)(
          path.c_str(), nullptr, nullptr, nullptr);
      const bool raster_failure = (expected == short_file && !cut_in_header) ||
                                  expected == IMAGE_TAMPON_TROP_PETIT || c.samples_above;
      EXPECT_EQ(header, raster_failure ? IMAGE_OK : expected) << c.header;
      if (loaded != ok && loaded != IMAGE_TAMPON_TROP_PETIT) {
        EXPECT_EQ(rows, -1) << c.header;  // nothing stored on failure
        continue;
      }
      EXPECT_EQ(rows, c.rows) << c.header;
      EXPECT_EQ(columns, c.columns) << c.header;
      EXPECT_EQ(maximum, c.maximum) << c.header;
      if (loaded != ok) continue;
      const std::size_t bytes = std::size_t(c.rows) * c.columns * (is_colour ? 3 : 1);
      const bool crlf = c.header.substr(c.header.size() - 2) == "\r\n";
      EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + bytes),
                ((crlf ? "\n" : "") + kRaster).substr(0, bytes))
          << c.header;
    }
  }
}

// Samples up to the maximum value are read; one above it makes the file no greymap, as netpbm says.
TEST(StrictReading, RefusesSamplesAboveTheMaximum) {
  TempDir dir;
  const struct {
    std::string file;
    statut_image expected;
  } cases[] = {
      {std::string("P5 3 2 1 ") + '\0' + '\1' + '\1' + '\0' + '\1' + '\0', IMAGE_OK},
      {std::string("P5 3 2 1 ") + '\0' + '\1' + '\1' + '\0' + '\1' + '\2', IMAGE_PAS_PGM},
      {"P5 3 2 1 \x05\xff\x01\x01\x01\x01", IMAGE_PAS_PGM},
      {"P5 3 2 254 \xfe\xfe\xfe\xfe\xfe\xff", IMAGE_PAS_PGM},
      {"P5 3 2 255 \xff\xff\xff\xff\xff\xff", IMAGE_OK},
      {"P6 1 2 100 ddddde", IMAGE_PAS_PPM},  // 'e' is 101
  };
  for (const auto& c : cases) {
    write_file(dir / "image", c.file);
    unsigned char raster[6];
    const bool colour = c.file[1] == '6';
    EXPECT_EQ((colour ? charger_image_ppm : charger_image_pgm)(
                  (dir / "image").c_str(), raster, sizeof raster, nullptr, nullptr, nullptr),
              c.expected)
        << c.file;
  }
}

TEST(StrictReading, ABufferTooSmallIsAFailureThatGivesTheSize) {
  TempDir dir;
  write_file(dir / "image.ppm", "P6\n2 1\n255\nabcdef");
  std::string buffer = "*****!";
  int rows = 0;
  int columns = 0;
  EXPECT_EQ(charger_image_ppm((dir / "image.ppm").c_str(),
                              reinterpret_cast<unsigned char*>(buffer.data()), 5, &rows, &columns,
                              nullptr),
            IMAGE_TAMPON_TROP_PETIT);
  EXPECT_EQ(buffer, "*****!");
  EXPECT_EQ(rows * columns * 3, 6);
  EXPECT_EQ(charger_image_pgm((dir / "missing").c_str(), nullptr, 0, nullptr, nullptr, nullptr),
            IMAGE_PAS_D_ACCES_EN_LECTURE);
}

TEST(StrictWriting, RoundTripsAndRefusesWhatItCouldNotReadBack) {
  TempDir dir;
  const unsigned char raster[] = {1, 2, 3, 4, 5, 6};
  const std::string path = dir / "image";
  EXPECT_EQ(enregistrer_image_ppm(path.c_str(), raster, 1, 2), IMAGE_OK);
  EXPECT_EQ(read_file(path), "P6\r2 1\r255\r\x01\x02\x03\x04\x05\x06");
  EXPECT_EQ(enregistrer_image_pgm(path.c_str(), raster, 2, 3), IMAGE_OK);
  unsigned char back[6] = {};
  int rows = 0;
  int columns = 0;
  ASSERT_EQ(charger_image_pgm(path.c_str(), back, sizeof back, &rows, &columns, nullptr), IMAGE_OK);
  EXPECT_EQ(std::string(back, back + 6), std::string(raster, raster + 6));
  for (const auto& [r, c] : {std::pair{0, 3}, {3, -1}, {65536, 32768}}) {
    EXPECT_EQ(enregistrer_image_pgm(path.c_str(), raster, r, c), IMAGE_TAILLE_HORS_LIMITES);
  }
  EXPECT_EQ(enregistrer_image_pgm((dir / "no/such").c_str(), raster, 1, 1),
            IMAGE_PAS_D_ACCES_EN_ECRITURE);
  EXPECT_EQ(enregistrer_image_pgm("/dev/full", raster, 1, 1), IMAGE_ERREUR_D_ECRITURE);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"image"});
}

TEST(Statuses, TextsAreTheOriginalMessages) {
  const std::string name = "x.pgm";
  const auto message = [&](statut_image s) {
    return "\n" + std::string(decrire_statut_image(s)) + " " + name + " \n";
  };
  EXPECT_EQ(message(IMAGE_PAS_D_ACCES_EN_LECTURE), read_access_message(name));
  EXPECT_EQ(message(IMAGE_ERREUR_DE_LECTURE), read_error_message(name));
  EXPECT_EQ(message(IMAGE_PAS_D_ACCES_EN_ECRITURE), write_access_message(name));
  EXPECT_EQ(message(IMAGE_ERREUR_D_ECRITURE), write_error_message(name));
  // Every status has a text of its own, without accents.
  std::vector<std::string> texts;
  for (int s = IMAGE_OK; s <= IMAGE_DESCRIPTEURS_EPUISES + 1; ++s) {
    const std::string text = decrire_statut_image(static_cast<statut_image>(s));
    for (const char ch : text) EXPECT_TRUE(ch >= ' ' && ch < 127) << text;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
}

}  // namespace
